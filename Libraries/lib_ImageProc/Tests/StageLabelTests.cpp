// Cache labels of the pipeline's results, and the geometry of previews and crops.
#include <gtest/gtest.h>

#include "KImage.h"
#include "KPixelTypes.h"
#include "KRotate.h"
#include "Manager/KIpmGeometry.h"
#include "Manager/KStageLabels.h"

namespace {

KStageLabelInputs Inputs()
{
    KStageLabelInputs in;
    in.m_FileName = KWString(u"disk://C/a.kzr");
    in.m_UniqueID = KWString(u"ID");
    in.m_WhiteBalance = KWString(u"Auto");
    in.m_Crop = KRect(1, 2, 30, 40);
    in.m_OutputWidth = 224;
    in.m_OutputHeight = 176;
    in.m_Rotation = 90;
    const double a[6] = {0.5, 1, 2, 3, 4, 5};
    for (int i = 0; i < 6; ++i)
        in.m_Adjustments[i] = a[i];
    in.m_ColorAdjust[0] = 1.25;
    in.m_ColorAdjust[1] = 1;
    in.m_ColorAdjust[2] = 0.75;
    in.m_OutputColorSpace = 2;
    in.m_OutputFormat = 3;
    return in;
}

std::u16string Label(const KStageLabelInputs& in, KStageResult result)
{
    KWString labels[kResultCount];
    BuildStageLabels(in, labels);
    return labels[result].Str();
}

}  // namespace

TEST(StageLabels, DefaultLabelsNameFileSettingsAndNothingElse)
{
    const KStageLabelInputs in = Inputs();
    EXPECT_EQ(Label(in, kResultStage1), u"disk://C/a.kzr-ID-Stage1Out");
    EXPECT_EQ(Label(in, kResultStage2), u"disk://C/a.kzr-ID-Stage2Out-Auto");
    EXPECT_EQ(Label(in, kResultStage3), u"disk://C/a.kzr-ID-Stage3-Auto,1x2,30x40,224x176,90");
    EXPECT_EQ(Label(in, kResultStage3L), u"disk://C/a.kzr-ID-Stage3L-Auto,1x2,30x40,224x176,90");
    EXPECT_EQ(Label(in, kResultToneLUT), u"ToneLUT-,1,2,0.5,3,1.25,1,0.75");
    EXPECT_EQ(Label(in, kResultStage4),
              u"disk://C/a.kzr-ID-Stage4-Auto,1x2,30x40,224x176,90,1,2,0.5,3,1.25,1,0.75,2,3,5,4");
}

TEST(StageLabels, CalibrationFileAndNeutralChangeOnlyTheStagesTheyReach)
{
    const KStageLabelInputs plain = Inputs();
    KStageLabelInputs camfile = plain;
    camfile.m_ExternalCamfile = KWString(u"disk://C/cal.kcm");
    KStageLabelInputs neutral = plain;
    neutral.m_OverrideNeutral[1] = 0.8;

    for (KStageResult r : {kResultStage1, kResultStage2, kResultStage3, kResultStage3L, kResultStage4})
        EXPECT_NE(Label(camfile, r), Label(plain, r)) << r;
    EXPECT_EQ(Label(camfile, kResultToneLUT), Label(plain, kResultToneLUT));
    EXPECT_EQ(Label(camfile, kResultStage1), u"disk://C/a.kzr-ID,Camfile=disk://C/cal.kcm-Stage1Out");

    EXPECT_EQ(Label(neutral, kResultStage1), Label(plain, kResultStage1));
    EXPECT_EQ(Label(neutral, kResultToneLUT), Label(plain, kResultToneLUT));
    for (KStageResult r : {kResultStage2, kResultStage3, kResultStage3L, kResultStage4})
        EXPECT_NE(Label(neutral, r), Label(plain, r)) << r;
    EXPECT_EQ(Label(neutral, kResultStage2), u"disk://C/a.kzr-ID-Stage2Out-Auto,Neutral=-1,0.8,-1");
}

TEST(IpmGeometry, FitKeepsTheAspectAndTruncates)
{
    struct Case {
        int iw, ih, ow, oh, fw, fh;
    } cases[] = {
        {1000, 667, 224, 176, 224, 149},  // wider image: width kept
        {667, 1000, 224, 176, 117, 176},  // taller image: height kept
        {100, 100, 50, 50, 50, 50},
        {100, 50, 50, 25, 50, 25},        // equal ratios: height kept, width exact
        {0, 50, 50, 25, 0, 0},
        {100, 50, 0, 25, 0, 0},
        {100, 50, 50, -3, 0, 0},
    };
    for (const Case& c : cases) {
        KInt32 fw = -1, fh = -1;
        FitSize(c.iw, c.ih, c.ow, c.oh, fw, fh);
        EXPECT_EQ(fw, c.fw) << c.iw << "x" << c.ih << " into " << c.ow << "x" << c.oh;
        EXPECT_EQ(fh, c.fh) << c.iw << "x" << c.ih << " into " << c.ow << "x" << c.oh;
    }
}

TEST(IpmGeometry, TurnBackFindsThePixelsThatRotateShows)
{
    // Rotate an image whose pixel values are their own positions, then check that every rectangle of the
    // turned image maps back onto the pixels it shows.
    const int w = 7, h = 4;
    for (KInt32 quarter : {0, 90, 180, 270}) {
        KImage in(w, h, kPixelType32BGRA, 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = in.GetPixmap()->GetRow(y) + 4 * x;
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
            }
        const bool swap = SwapsSides(quarter);
        KImage out(swap ? h : w, swap ? w : h, kPixelType32BGRA, 4);
        Rotate(*in.GetPixmap(), *out.GetPixmap(), quarter);
        const KInt32 dw = out.GetPixmap()->GetWidth(), dh = out.GetPixmap()->GetHeight();
        const KRect shown(1, 0, 3, 2);
        const KRect back = TurnBack(shown, dw, dh, quarter);
        for (int y = shown.top; y < shown.bottom; ++y)
            for (int x = shown.left; x < shown.right; ++x) {
                const uint8_t* p = out.GetPixmap()->GetRow(y) + 4 * x;
                EXPECT_GE(p[0], back.left) << quarter;
                EXPECT_LT(p[0], back.right) << quarter;
                EXPECT_GE(p[1], back.top) << quarter;
                EXPECT_LT(p[1], back.bottom) << quarter;
            }
        EXPECT_EQ(back.Width() * back.Height(), shown.Width() * shown.Height()) << quarter;
    }
    EXPECT_EQ(QuarterTurn(-90), 270);
    EXPECT_EQ(QuarterTurn(450), 90);
    EXPECT_EQ(QuarterTurn(100), 90);
}

TEST(IpmGeometry, CropsAreCutToTheFittedSizeOrRefused)
{
    struct Case {
        KRect in;
        KInt32 minEnd;
        bool ok;
        KRect out;
    } cases[] = {
        {{0, 0, 300, 100}, 2, true, {0, 0, 224, 100}},   // right beyond the fitted width: cut
        {{-5, -1, 50, 60}, 2, true, {0, 0, 50, 60}},     // left and top raised to 0
        {{224, 0, 300, 10}, 2, false, {}},               // starts at the fitted width
        {{0, 149, 10, 160}, 2, false, {}},               // starts at the fitted height
        {{0, 0, 1, 10}, 2, false, {}},                   // preview: right must be at least 2
        {{0, 0, 1, 10}, 1, true, {0, 0, 1, 10}},         // stage 3: 1 is enough
        {{20, 0, 10, 10}, 1, false, {}},                 // left beyond right
        {{0, 30, 10, 30}, 1, false, {}},                 // empty height
    };
    for (const Case& c : cases) {
        KRect r = c.in;
        EXPECT_EQ(CutCrop(r, 224, 149, c.minEnd), c.ok) << c.in.left << "," << c.in.top << "," << c.in.right;
        EXPECT_TRUE(r == (c.ok ? c.out : c.in));
    }
}

TEST(IpmGeometry, PreviewImageChoice)
{
    // Asked from the last index down.
    const std::vector<KPreviewCandidate> images = {{5, 160, 120}, {3, 640, 480}, {2, 640, 400}, {0, 1600, 1200}};
    EXPECT_EQ(ChoosePreviewImage(images, 200, 150), 3);   // narrowest big enough; equal widths: first asked
    EXPECT_EQ(ChoosePreviewImage(images, 100, 100), 5);
    EXPECT_EQ(ChoosePreviewImage(images, 700, 130), 3);   // not too small: only one side below
    EXPECT_EQ(ChoosePreviewImage(images, 2000, 1500), 0); // all too small: the widest
    EXPECT_EQ(ChoosePreviewImage({}, 10, 10), -1);
}
