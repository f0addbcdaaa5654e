#pragma once
// The thirteen steps of stage 2 over the stage-1 image, in place: row corrections, bad pixels, red sharpen,
// highlights, despeckle, hot pixels, four chroma-noise passes with the colour conversion between them, and the
// auto-adjust statistics. Each step reads its constants from the calibration data just before it runs and
// takes its ring rows and the reduced chroma image from the scratch pixmap; nothing is allocated per row.
//
// Threading: runs on the engine's worker thread; the request's status block is the only thing it shares. The
// row corrections, the red sharpening, the colour conversion and the chroma passes spread their rows over
// several threads in bands (KRowBands) with the same results as one thread: their rows do not depend on each
// other's results, a ring pass reads the rows beside its band from copies taken before the pass, and the coarse
// chroma pass brings its running state to each band's first row. The bands' threads end within the step;
// progress and the test observer come from the first band.
#include "KCamdata.h"
#include "KIPEngineRequest.h"
#include "KPixmap.h"
#include "KStage2Settings.h"

class KStage2Steps {
public:
    static constexpr KUInt32 kStepCount = 13;  // step 12 only ends the stage
    static constexpr KUInt32 kLastStep = 12;

    // scratch: at least as wide as image and ScratchRows(image) rows. autoAdjust: eight doubles.
    KStage2Steps(KIPEngineRequest& request, const KPixmapTemplate<KPixelClass48SRGB>& image,
                 const KPixmapTemplate<KPixelClass48SRGB>& scratch, const KCamdata& camdata,
                 const KStage2Settings& settings, double* autoAdjust);

    // Scratch rows stage 2 needs for an image: the rings' five, and the reduced chroma image behind two work rows.
    static KInt64 ScratchRows(KInt32 columns, KInt32 rows);

    // The progress at the end of step (cumulative step weights); step -1 gives 0.
    static double StepEnd(KInt32 step);

    // Whether the step does anything with these settings (the others are passed over).
    bool Runs(KUInt32 step) const;
    // Runs the step from row (0 for a fresh step). False when it cannot run: step 1 without "BadPixels".
    bool Run(KUInt32 step, KUInt32 row);

private:
    KInt16* priRow(KInt32 row) const;
    // Row of the picture (the active area) at its left edge; the ring passes work on the picture alone.
    KInt16* priPictureRow(KInt32 row) const;
    KInt16* priScratchRow(KInt32 row) const;
    void priProgress(KUInt32 step, KInt64 row, KInt64 rows);
    void priObserve(KUInt32 step, KInt64 row);
    KInt32 priChromaBlur() const;

    void priRowCorrections(KInt32 start);
    bool priBadPixels();
    void priRedSharpen(KInt32 start);
    void priHighlights(KInt32 start);
    void priDespeckle(KInt32 start);
    void priHotPixels(KInt32 start);
    void priChromaBlur3(KInt32 start);
    void priChromaBlur5(KUInt32 step, KInt32 start, const double limits[3], KInt32 spatial, const double slopes[3]);
    // A ring pass of N rows (filter: RedSharpenRow, ChromaBlurRow3 or ChromaBlurRow with their constants bound)
    // over the image in bands, the first band with the given ring (slots of slotValues values), the others with
    // rings of their own; resumed at row start (the loop row of the pass) as one thread would resume it. Progress
    // counts rows + progressExtra calls.
    template <int N, class Ring, class Filter>
    void priRingPass(KUInt32 step, KInt32 start, const Ring& firstRing, size_t slotValues, KInt64 progressExtra,
                     const Filter& filter);
    void priColorNoise(KInt32 start);
    void priCoarseChromaBlur();
    void priAutoAdjust();

    KIPEngineRequest& m_Request;
    const KPixmapTemplate<KPixelClass48SRGB>& m_Image;
    const KPixmapTemplate<KPixelClass48SRGB>& m_Scratch;
    const KCamdata& m_Camdata;
    const KStage2Settings& m_Settings;
    double* m_pAutoAdjust;
    KInt32 m_Rows;
    KInt32 m_Columns;
    // The picture inside the image: the active area, or the whole image when that area is unusable.
    KRect m_Picture;
};
