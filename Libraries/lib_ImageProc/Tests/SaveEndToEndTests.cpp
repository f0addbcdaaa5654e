// Saves through the image-processing manager with its retriever, loaders and engine, from generator files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "IPManager2.h"
#include "KCache.h"
#include "KIpMgrReq.h"
#include "KPMImage2.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "KTiffImageReader.h"
#include "EngineStageSupport.h"
#include "IpmTestSupport.h"
#include "KCamdata.h"
#include "KIPEngine2.h"
#include "KQrlbImageReader.h"
#include "KRowBands.h"
#include "Retriever/KFrameRows.h"
#include "KzrNegative.h"
#include "KzrStandard.h"
#include "SaveTestSupport.h"

using namespace savetest;

namespace {

class SaveEndToEnd : public SaveFixture {
protected:
    void SetUp() override
    {
        SaveFixture::SetUp();
        EmptyCache();
        m_pManager.reset(CreateIPManager2());
    }
    void TearDown() override
    {
        m_pManager.reset();
        EmptyCache();
        SaveFixture::TearDown();
    }
    static void EmptyCache()
    {
        KCache* cache = GetGlobalCache();
        const KUInt32 budget = cache->GetMaxSize();
        cache->SetMaxSize(0);
        cache->SetMaxSize(budget);
    }

    // A generator file of the size with the default calibration, in the files folder.
    KWString Generate(const std::string& name, int width, int height, int rotation = 0, int rawFormat = -1,
                      int darkFormat = 4)
    {
        kzrsynth::StandardOptions o;
        o.width = width;
        o.height = height;
        o.rawFormat = rawFormat;
        o.darkFormat = darkFormat;
        o.defaultCalibration.on = true;
        kzrsynth::FileLayout layout = kzrsynth::StandardLayout(o);
        layout.rotation = static_cast<uint32_t>(rotation);
        kzrsynth::WriteFileAtomically(Path(name).string(), kzrsynth::BuildNegative(layout, {}).bytes);
        return URL(name);
    }

    void Run(KIpMgrReq& request)
    {
        m_pManager->Request(&request);
        for (int i = 0; i < 100000 && request.m_Async.IsBusy(); ++i)
            m_pManager->Idle();
        ASSERT_FALSE(request.m_Async.IsBusy());
    }

    // COLS and ROWS of a file.
    void Size(const KWString& raw, KInt32& cols, KInt32& rows)
    {
        KIpMgrReq properties;
        properties.m_Kind = kIpReqProperties;
        properties.m_FileName = raw;
        Run(properties);
        cols = properties.m_pImageProps->GetInt(KWString(u"COLS"), 0);
        rows = properties.m_pImageProps->GetInt(KWString(u"ROWS"), 0);
    }

    // The whole picture developed at once, as 16-bit rows.
    std::vector<uint16_t> Whole(const KWString& raw, KInt32 cols, KInt32 rows)
    {
        KIpMgrReq request;
        ipmtest::Processed(request, raw, cols, rows, kOutput48RGB);
        request.m_ColorAdjust[0] = request.m_ColorAdjust[1] = request.m_ColorAdjust[2] = 1.0;
        Run(request);
        EXPECT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
        std::vector<uint16_t> pixels;
        if (!request.m_pResultImage)
            return pixels;
        const KPixmap* pixmap = request.m_pResultImage->GetPixmap();
        for (KInt32 y = 0; y < pixmap->GetHeight(); ++y) {
            const auto* row = reinterpret_cast<const uint16_t*>(pixmap->GetRow(y));
            pixels.insert(pixels.end(), row, row + size_t(pixmap->GetWidth()) * 3);
        }
        return pixels;
    }

    // The rows of a 16-bit TIFF file.
    std::vector<uint16_t> TiffRows(const KWString& url, KInt32& width, KInt32& height)
    {
        KTiffImageReader reader(url);
        int type = 0;
        reader.GetDimensions(&width, &height, &type);
        EXPECT_EQ(type, kPixelType48RGB);
        std::vector<uint16_t> pixels(size_t(width) * height * 3);
        for (KInt32 y = 0; y < height; ++y)
            reader.ReadScanline(y, pixels.data() + size_t(y) * width * 3, kPixelType48RGB);
        return pixels;
    }

    std::unique_ptr<KIPManager> m_pManager;
};

// Counts the samples of `strips` (width x height from (left, top) of the whole picture) that differ, leaving
// `margin` columns on the left and right out.
int Differences(const std::vector<uint16_t>& whole, KInt32 wholeWidth, const std::vector<uint16_t>& strips,
                KInt32 width, KInt32 height, KInt32 left, KInt32 top, KInt32 margin = 0)
{
    int differ = 0;
    for (KInt32 y = 0; y < height; ++y)
        for (KInt32 x = margin * 3; x < (width - margin) * 3; ++x)
            differ += strips[size_t(y) * width * 3 + x] != whole[(size_t(top + y) * wholeWidth + left) * 3 + x];
    return differ;
}

}  // namespace

TEST_F(SaveEndToEnd, StripsGiveTheRowsOfTheWholePicture)
{
    const KWString raw = Generate("scene.kzr", 240, 330);
    KInt32 cols = 0, rows = 0;
    Size(raw, cols, rows);
    ASSERT_EQ(cols, 230);
    ASSERT_EQ(rows, 324);
    const std::vector<uint16_t> whole = Whole(raw, cols, rows);
    ASSERT_EQ(whole.size(), size_t(cols) * rows * 3);

    KIpMgrReq save;
    MakeSave(save, cols, rows, "whole.tif", kSaveTIFF, kOutput48RGB);
    save.m_FileName = raw;
    Run(save);
    ASSERT_EQ(save.m_Async.GetState(), kDone) << WideToUtf8(save.m_Async.m_Message);
    KInt32 width = 0, height = 0;
    const std::vector<uint16_t> saved = TiffRows(save.m_SaveFileName, width, height);
    ASSERT_EQ(width, cols);
    ASSERT_EQ(height, rows);
    EXPECT_EQ(Differences(whole, cols, saved, width, height, 0, 0), 0);

    // A crop that starts lower down writes the rows it covers; the picture is developed for the crop alone, so
    // the filters find no columns beside it (its two outer columns on each side may differ).
    MakeSave(save, cols, rows, "crop.tif", kSaveTIFF, kOutput48RGB);
    save.m_FileName = raw;
    save.m_CropRect = KRect(17, 101, 199, 290);
    Run(save);
    ASSERT_EQ(save.m_Async.GetState(), kDone) << WideToUtf8(save.m_Async.m_Message);
    const std::vector<uint16_t> cropped = TiffRows(save.m_SaveFileName, width, height);
    ASSERT_EQ(width, 182);
    ASSERT_EQ(height, 189);
    EXPECT_EQ(Differences(whole, cols, cropped, width, height, 17, 101, 2), 0);
}

TEST_F(SaveEndToEnd, CancelledSaveLeavesTheEarlierFile)
{
    const KWString raw = Generate("scene.kzr", 200, 330);
    KInt32 cols = 0, rows = 0;
    Size(raw, cols, rows);
    const std::vector<uint8_t> earlier = {'o', 'l', 'd'};
    lumotest::WriteBytes(Path("keep.jpg"), earlier);
    KIpMgrReq save;
    MakeSave(save, cols, rows, "keep.jpg", kSaveJPEG, kOutput24RGB);
    save.m_FileName = raw;
    // Asked to stop from the start: the new file is begun (under its temporary name) and given up.
    save.m_Async.SetCancel(true);
    Run(save);
    EXPECT_EQ(save.m_Async.GetState(), kCancelled);
    EXPECT_EQ(lumotest::ReadBytes(Path("keep.jpg")), earlier);
    EXPECT_EQ(Files(), (std::vector<std::string>{"keep.jpg", "scene.kzr"}));

    // The manager takes the next save, and the new file replaces the old one.
    MakeSave(save, cols, rows, "keep.jpg", kSaveJPEG, kOutput24RGB);
    save.m_FileName = raw;
    Run(save);
    EXPECT_EQ(save.m_Async.GetState(), kDone) << WideToUtf8(save.m_Async.m_Message);
    EXPECT_NE(lumotest::ReadBytes(Path("keep.jpg")), earlier);
    EXPECT_EQ(Files(), (std::vector<std::string>{"keep.jpg", "scene.kzr"}));
}

TEST_F(SaveEndToEnd, FailuresOfTheFileReachTheRecord)
{
    KIpMgrReq save;
    MakeSave(save, 100, 60, "missing.jpg", kSaveJPEG, kOutput24RGB);
    save.m_FileName = URL("missing.kzr");
    Run(save);
    EXPECT_EQ(save.m_Async.GetState(), kFailed);
    EXPECT_NE(save.m_Async.GetError(), kIpErrNone);
    EXPECT_FALSE(save.m_Async.m_Message.IsEmpty());
    EXPECT_TRUE(Files().empty());
}

TEST_F(SaveEndToEnd, FramesDecodedByBandsDevelopAsFramesLoadedWhole)
{
    // Stage 1 reads the raw and dark frames by bands of rows from the file: the same result as from the frames
    // decoded whole, for both stored layouts and any number of threads.
    for (const auto& [rawFormat, darkFormat] : {std::pair{4, 4}, std::pair{0, 4}, std::pair{4, 0}}) {
        const KWString url = Generate("bands.kzr", 203, 151, 0, rawFormat, darkFormat);
        KQrlbImageReader reader(url);
        int raw = -1, dark = -1;
        for (int i = 0; i < reader.GetNumImages(); ++i) {
            KQrlbSize size;
            int type = 0;
            KUInt32 imageType = 0;
            reader.GetImageInfo(i, size, type, imageType);
            (imageType == 1 ? raw : imageType == 0 ? dark : type) = i;
        }
        ASSERT_GE(raw, 0);
        ASSERT_GE(dark, 0);
        KUInt32 size = 0, calibrationType = 0;
        reader.GetCamFileInfo(0, size, calibrationType);
        std::vector<uint8_t> bytes(size);
        ASSERT_EQ(reader.GetCamFile(0, bytes.data(), size, nullptr, nullptr), size);
        KCamdata camdata(bytes.data(), bytes.size());
        enginetest::Frame rawWhole(203, 151), darkWhole(203, 151);
        ASSERT_TRUE(reader.GetImage(raw, rawWhole.Get(), nullptr, nullptr));
        ASSERT_TRUE(reader.GetImage(dark, darkWhole.Get(), nullptr, nullptr));

        auto develop = [&](bool bands, int threads) {
            KRowBands::SetThreadCount(threads);
            enginetest::Image out(203, 151);
            KIPEngineRequest request;
            request.m_Kind = kEngineStage1;
            KFrameRows* rawRows = bands ? new KFrameRows(url, raw) : nullptr;
            KFrameRows* darkRows = bands ? new KFrameRows(url, dark) : nullptr;
            if (bands) {
                request.AddRows(KWString(u"RAWROWS"), rawRows);
                request.AddRows(KWString(u"DARKROWS"), darkRows);
            } else {
                request.AddPixmap(KWString(u"RAWIMAGE"), rawWhole.Get());
                request.AddPixmap(KWString(u"DARKIMAGE"), darkWhole.Get());
            }
            request.AddCamdata(KWString(u"CAMBDATA"), &camdata);
            request.AddPixmap(KWString(u"OUTIMAGE"), out.Get());
            KIPEngine2::Dispatch(request);
            EXPECT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
            if (bands) {
                rawRows->Release();
                darkRows->Release();
            }
            KRowBands::SetThreadCount(0);
            return out;
        };
        const enginetest::Image whole = develop(false, 1);
        for (int threads : {1, 2, 4, 8})
            EXPECT_TRUE(develop(true, threads) == whole) << rawFormat << " " << darkFormat << " " << threads;
    }
}

TEST_F(SaveEndToEnd, ASaveKeepsNoFrameWholeAndNoWrittenStrip)
{
    // What a save leaves in the cache: the stage-2 result and the stage-3 strips that a save with another
    // exposure uses again, but neither the frames (read by bands) nor the output strips already written.
    const KWString raw = Generate("kept.kzr", 240, 330);
    KInt32 cols = 0, rows = 0;
    Size(raw, cols, rows);
    KIpMgrReq save;
    MakeSave(save, cols, rows, "kept.jpg", kSaveJPEG, kOutput24RGB);
    save.m_FileName = raw;
    Run(save);
    ASSERT_EQ(save.m_Async.GetState(), kDone) << WideToUtf8(save.m_Async.m_Message);
    int stage2 = 0, stage3 = 0, stage4 = 0, frames = 0;
    for (const KWString& label : GetGlobalCache()->List()) {
        const std::string text = WideToUtf8(label);
        stage2 += text.find("-Stage2Out-") != std::string::npos;
        stage3 += text.find("-Stage3-") != std::string::npos;
        stage4 += text.find("-Stage4-") != std::string::npos && text.find(",160x160,") == std::string::npos;
        frames += text.find("-FileImage-") != std::string::npos;
    }
    EXPECT_EQ(stage2, 1);
    EXPECT_EQ(stage3, 5);  // four strips of 100 rows or fewer and the thumbnail
    EXPECT_EQ(stage4, 0);
    EXPECT_EQ(frames, 0);
}
