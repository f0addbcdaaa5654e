#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "IPSaveManager.h"
#include "KICCProfiles.h"
#include "KJPEGImageReader.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "KTiffImageReader.h"
#include "KSaveGeometry.h"
#include "SaveTestSupport.h"

using namespace savetest;

namespace {

// Tag number -> (type, count, value or offset) of the first directory of a little-endian TIFF file.
struct KTiffEntry {
    uint16_t m_Type;
    uint32_t m_Count;
    uint32_t m_Value;
};
std::map<uint16_t, KTiffEntry> TiffTags(const std::vector<uint8_t>& file)
{
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(file.at(at) | file.at(at + 1) << 8); };
    auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16); };
    std::map<uint16_t, KTiffEntry> tags;
    EXPECT_EQ(u16(0), 0x4949);
    const uint32_t directory = u32(4);
    const uint16_t count = u16(directory);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + i * 12u;
        tags[u16(entry)] = {u16(entry + 2), u32(entry + 4), u32(entry + 8)};
    }
    return tags;
}

// The JPEG segments before the image data: marker -> payloads.
std::multimap<int, std::vector<uint8_t>> JpegSegments(const std::vector<uint8_t>& file)
{
    std::multimap<int, std::vector<uint8_t>> segments;
    EXPECT_TRUE(file.size() > 4 && file[0] == 0xFF && file[1] == 0xD8);
    size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const int marker = file[at + 1];
        const size_t length = static_cast<size_t>(file[at + 2]) << 8 | file[at + 3];
        if (at + 2 + length > file.size())
            break;
        segments.emplace(marker, std::vector<uint8_t>(file.begin() + at + 4, file.begin() + at + 2 + length));
        if (marker == 0xDA)
            break;
        at += 2 + length;
    }
    return segments;
}

bool Contains(const std::vector<uint8_t>& bytes, const char* text)
{
    const size_t n = std::strlen(text);
    for (size_t i = 0; i + n <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, text, n) == 0)
            return true;
    return false;
}

// Reads a 16-bit RGB TIFF and checks every pixel against the pattern of the fitted image from (left, top).
void ExpectTiffPattern(const KWString& url, KInt32 width, KInt32 height, KInt32 left, KInt32 top)
{
    KTiffImageReader reader(url);
    int32_t w = 0, h = 0;
    int type = 0;
    reader.GetDimensions(&w, &h, &type);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    ASSERT_EQ(type, kPixelType48RGB);
    std::vector<uint16_t> row(static_cast<size_t>(width) * 3);
    int wrong = 0;
    for (KInt32 y = 0; y < height; ++y) {
        reader.ReadScanline(y, row.data(), kPixelType48RGB);
        for (KInt32 x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                wrong += row[x * 3 + c] != Value16(left + x, top + y, c);
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace

TEST(SaveGeometry, StripsOfAHundredRowsWithTwoRowsOfPadding)
{
    struct Case {
        KInt32 total, written, above, below, rows, top, bottom;
    } cases[] = {
        {250, 0, 0, 0, 100, 0, 2},  {250, 100, 0, 0, 100, 2, 2}, {250, 200, 0, 0, 50, 2, 0},
        {1, 0, 0, 0, 1, 0, 0},      {101, 0, 0, 0, 100, 0, 0},   {102, 0, 0, 0, 100, 0, 2},
        {102, 100, 0, 0, 2, 2, 0},  {101, 100, 0, 0, 1, 2, 0},   {100, 0, 0, 0, 100, 0, 0},
        {3, 1, 0, 0, 2, 0, 0},
        // A crop inside the image: the image's rows pad it too.
        {50, 0, 2, 2, 50, 2, 2},    {50, 0, 1, 1, 50, 0, 0},     {101, 100, 0, 2, 1, 2, 2},
        {101, 0, 7, 0, 100, 2, 0},
    };
    for (const Case& c : cases) {
        const KSaveStrip strip = PlanSaveStrip(c.total, c.written, c.above, c.below);
        EXPECT_EQ(strip.m_Rows, c.rows) << c.total << "/" << c.written;
        EXPECT_EQ(strip.m_TopPadding, c.top) << c.total << "/" << c.written;
        EXPECT_EQ(strip.m_BottomPadding, c.bottom) << c.total << "/" << c.written;
    }
}

TEST(SaveGeometry, TiffThumbnailsKeepWithinTheResource)
{
    struct Case {
        KInt32 cols, rows, width, height;
    } cases[] = {
        {2304, 1536, 160, 160},  // 160 x 106: 50880 bytes
        {1536, 2304, 160, 160},  // 106 x 160: 51200 bytes
        {1000, 1000, 160, 136},  // 160 x 160 would need 76800 bytes
        {1000, 860, 160, 136},   // 160 x 137 would need 65760 bytes
        {1000, 850, 160, 160},   // 160 x 136: 65280 bytes
    };
    for (const Case& c : cases) {
        KInt32 w = 0, h = 0;
        TiffThumbnailBox(c.cols, c.rows, w, h);
        EXPECT_EQ(w, c.width) << c.cols << "x" << c.rows;
        EXPECT_EQ(h, c.height) << c.cols << "x" << c.rows;
    }
}

TEST_F(SaveFixture, ImageOf250RowsIsWrittenInStripsOf100_100And50)
{
    KFakeOwner owner(300, 250);
    KIpMgrReq request;
    MakeSave(request, 300, 250, "out.tif", kSaveTIFF, kOutput48RGB);
    request.m_Adjustments[0] = 0.5;
    owner.Request(&request);
    owner.RunUntilDone(request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    EXPECT_EQ(request.m_Async.GetProgress(), 1.0);

    const std::vector<KAsked>& asked = owner.Asked();
    ASSERT_EQ(asked.size(), 4u);
    // The thumbnail: 24-bit sRGB fitted into 160 x 160, whatever the save asks.
    EXPECT_EQ(asked[0].m_Crop, KRect(0, 0, 160, 160));
    EXPECT_EQ(asked[0].m_OutputWidth, 160);
    EXPECT_EQ(asked[0].m_OutputFormat, kOutput24RGB);
    EXPECT_EQ(asked[0].m_ColorSpace, 2u);
    // The strips, with two rows above and below where there are any.
    EXPECT_EQ(asked[1].m_Crop, KRect(0, 0, 300, 102));
    EXPECT_EQ(asked[2].m_Crop, KRect(0, 98, 300, 202));
    EXPECT_EQ(asked[3].m_Crop, KRect(0, 198, 300, 250));
    for (size_t i = 1; i < asked.size(); ++i) {
        EXPECT_EQ(asked[i].m_OutputWidth, 300);
        EXPECT_EQ(asked[i].m_OutputHeight, 250);
        EXPECT_EQ(asked[i].m_OutputFormat, kOutput48RGB);
        EXPECT_EQ(asked[i].m_Exposure, 0.5);
    }
    ExpectTiffPattern(request.m_SaveFileName, 300, 250, 0, 0);
    EXPECT_EQ(Files(), std::vector<std::string>{"out.tif"});
}

TEST_F(SaveFixture, CropNotAtTheTopWritesItsOwnRows)
{
    KFakeOwner owner(240, 160);
    KIpMgrReq request;
    MakeSave(request, 240, 160, "crop.tif", kSaveTIFF, kOutput48RGB);
    request.m_CropRect = KRect(10, 37, 90, 160);
    owner.Request(&request);
    owner.RunUntilDone(request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    const std::vector<KAsked>& asked = owner.Asked();
    ASSERT_EQ(asked.size(), 3u);
    // Padded with the rows of the image above the crop as well.
    EXPECT_EQ(asked[1].m_Crop, KRect(10, 35, 90, 139));
    EXPECT_EQ(asked[2].m_Crop, KRect(10, 135, 90, 160));
    ExpectTiffPattern(request.m_SaveFileName, 80, 123, 10, 37);
}

TEST_F(SaveFixture, TiffCarriesProfileExifTagBlockAndThumbnail)
{
    KFakeOwner owner(240, 160);
    KIpMgrReq request;
    MakeSave(request, 240, 160, "tags.tif", kSaveTIFF, kOutput48RGB);
    owner.Request(&request);
    owner.RunUntilDone(request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    const std::vector<uint8_t> file = lumotest::ReadBytes(Path("tags.tif"));
    const std::map<uint16_t, KTiffEntry> tags = TiffTags(file);
    ASSERT_TRUE(tags.count(258) && tags.count(277) && tags.count(34675) && tags.count(34665) && tags.count(37717) &&
                tags.count(34377));
    EXPECT_EQ(tags.at(277).m_Value, 3u);
    const KICCProfile* srgb = GetBuiltInICCProfile(2);
    ASSERT_NE(srgb, nullptr);
    const KTiffEntry& icc = tags.at(34675);
    ASSERT_EQ(icc.m_Count, srgb->size);
    ASSERT_LE(icc.m_Value + icc.m_Count, file.size());
    EXPECT_EQ(std::memcmp(file.data() + icc.m_Value, srgb->data, srgb->size), 0);
    // The thumbnail resource: 160 x 106 pixels of 24 bits.
    const KTiffEntry& thumb = tags.at(34377);
    EXPECT_EQ(thumb.m_Count, 106u * 480u + 40u);

    // The capture properties come back from the tag block.
    KTiffImageReader reader(request.m_SaveFileName);
    KPropTree props(nullptr, "p");
    reader.GetProperties(props);
    EXPECT_EQ(props.GetString(KWString(u"SH_DESC"), KWString()), "1/250");
    EXPECT_EQ(props.GetString(KWString(u"ISO"), KWString()), "200");
}

TEST_F(SaveFixture, JpegCarriesExifWithThumbnailAndTheProfileOfItsColourSpace)
{
    struct Case {
        KUInt32 colorSpace;
        const char* profile;  // null: none
    } cases[] = {{2, nullptr}, {3, "Adobe RGB (1998)"}, {11, "ProPhoto RGB"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colorSpace);
        KFakeOwner owner(240, 160);
        KIpMgrReq request;
        MakeSave(request, 240, 160, "space.jpg", kSaveJPEG, kOutput24RGB);
        request.m_OutputColorSpace = c.colorSpace;
        request.m_SaveValue = 95;
        owner.Request(&request);
        owner.RunUntilDone(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
        EXPECT_EQ(owner.Asked().at(0).m_ColorSpace, 2u);  // thumbnails are sRGB
        EXPECT_EQ(owner.Asked().at(1).m_ColorSpace, c.colorSpace);

        const std::vector<uint8_t> file = lumotest::ReadBytes(Path("space.jpg"));
        const auto segments = JpegSegments(file);
        const auto exif = segments.find(0xE1);
        ASSERT_NE(exif, segments.end());
        EXPECT_TRUE(Contains(exif->second, "PELTA DV7"));
        // The thumbnail is a JPEG file inside the EXIF segment.
        bool thumbnail = false;
        for (size_t i = 6; i + 1 < exif->second.size(); ++i)
            thumbnail |= exif->second[i] == 0xFF && exif->second[i + 1] == 0xD8;
        EXPECT_TRUE(thumbnail);
        const auto icc = segments.find(0xE2);
        if (c.profile) {
            ASSERT_NE(icc, segments.end());
            EXPECT_TRUE(Contains(icc->second, "ICC_PROFILE"));
            EXPECT_TRUE(Contains(icc->second, c.profile));
        } else {
            EXPECT_EQ(icc, segments.end());
        }
        KJPEGImageReader reader(request.m_SaveFileName);
        KInt32 w = 0, h = 0;
        int type = 0;
        reader.GetDimensions(w, h, type);
        EXPECT_EQ(w, 240);
        EXPECT_EQ(h, 160);
        EXPECT_EQ(type, kPixelType24RGB);
    }
}

TEST_F(SaveFixture, MissingProfileFailsWithError10AndLeavesNoFile)
{
    KFakeOwner owner(240, 160);
    KIpMgrReq request;
    MakeSave(request, 240, 160, "missing.tif", kSaveTIFF, kOutput48RGB);
    request.m_OutputColorSpace = 5;
    request.m_AllowMissingProfile = 0;
    owner.Request(&request);
    owner.RunUntilDone(request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrProfileMissing);
    EXPECT_EQ(request.m_Async.m_Message, "IPSaveManager::priSaveWriteProperties: Color profile missing.");
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(owner.Asked().size(), 1u);  // the thumbnail only

    // Allowed: the file is written without a profile.
    MakeSave(request, 240, 160, "missing.tif", kSaveTIFF, kOutput48RGB);
    request.m_OutputColorSpace = 5;
    owner.Request(&request);
    owner.RunUntilDone(request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    EXPECT_EQ(TiffTags(lumotest::ReadBytes(Path("missing.tif"))).count(34675), 0u);
}

TEST_F(SaveFixture, RefusedRequestsOpenNoFile)
{
    struct Case {
        KUInt32 kind, outputFormat, fileFormat, error;
        const char* message;
    } cases[] = {
        {kIpReqProcessed, kOutput24RGB, kSaveJPEG, kIpErrUnsupported, "IPSaveManager can only handle save requests."},
        {kIpReqSave, kDisplay, kSaveJPEG, kIpErrBadArgument,
         "IPSaveManager: Cannot save with an output format of kDisplay"},
        {kIpReqSave, 0, kSaveTIFF, kIpErrBadArgument, "IPSaveManager: Cannot save with an output format of 0"},
        {kIpReqSave, kOutput24RGB, 0, kIpErrUnsupported,
         "IPSaveManager: Cannot save in file format 0 (1 TIFF, 2 JPEG)."},
        {kIpReqSave, kOutput48RGB, kSaveJPEG, kIpErrBadArgument,
         "IPSaveManager: JPEG files are saved from 24-bit RGB (output format 2)."},
    };
    for (const Case& c : cases) {
        KFakeOwner owner(240, 160);
        KIpMgrReq request;
        MakeSave(request, 240, 160, "refused", c.fileFormat, c.outputFormat);
        request.m_Kind = c.kind;
        owner.SaveManager()->Request(&request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << c.message;
        EXPECT_EQ(request.m_Async.GetError(), c.error) << c.message;
        EXPECT_EQ(request.m_Async.m_Message, c.message);
        EXPECT_TRUE(owner.Asked().empty());
    }
    EXPECT_TRUE(Files().empty());
}

TEST_F(SaveFixture, SecondRequestWhileSavingIsBusy)
{
    KFakeOwner owner(240, 160);
    KIpMgrReq first, second;
    MakeSave(first, 240, 160, "first.jpg", kSaveJPEG, kOutput24RGB);
    MakeSave(second, 240, 160, "second.jpg", kSaveJPEG, kOutput24RGB);
    owner.Request(&first);
    ASSERT_TRUE(first.m_Async.IsBusy());
    owner.SaveManager()->Request(&second);
    EXPECT_EQ(second.m_Async.GetState(), kFailed);
    EXPECT_EQ(second.m_Async.GetError(), kIpErrBusy);
    EXPECT_EQ(second.m_Async.m_Message, "IPSaveManager is busy.");
    owner.RunUntilDone(first);
    EXPECT_EQ(first.m_Async.GetState(), kDone);
    EXPECT_EQ(Files(), std::vector<std::string>{"first.jpg"});
}

TEST_F(SaveFixture, CancelledOrFailedSaveKeepsTheEarlierFile)
{
    const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    struct Case {
        int at;  // processed request at which it happens (1 is the thumbnail)
        bool cancel;
    } cases[] = {{1, true}, {3, true}, {4, true}, {2, false}, {4, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        lumotest::WriteBytes(Path("keep.jpg"), earlier);
        KFakeOwner owner(240, 330);
        KIpMgrReq request;
        MakeSave(request, 240, 330, "keep.jpg", kSaveJPEG, kOutput24RGB);
        if (c.cancel)
            owner.CancelAtProcessedRequest(c.at, &request);
        else
            owner.FailProcessedRequest(c.at, kIpErrFileIO, u"KIPManager: the raw file is damaged.");
        owner.Request(&request);
        owner.RunUntilDone(request);
        if (c.cancel) {
            EXPECT_EQ(request.m_Async.GetState(), kCancelled);
        } else {
            EXPECT_EQ(request.m_Async.GetState(), kFailed);
            EXPECT_EQ(request.m_Async.GetError(), kIpErrFileIO);
            EXPECT_EQ(request.m_Async.m_Message, "KIPManager: the raw file is damaged.");
        }
        EXPECT_EQ(lumotest::ReadBytes(Path("keep.jpg")), earlier);
        EXPECT_EQ(Files(), std::vector<std::string>{"keep.jpg"});
        // The manager takes the next save.
        MakeSave(request, 240, 330, "next.jpg", kSaveJPEG, kOutput24RGB);
        owner.Request(&request);
        owner.RunUntilDone(request);
        EXPECT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
        std::filesystem::remove(Path("next.jpg"));
    }
}

TEST_F(SaveFixture, ProgressHalfAfterTheThumbnailAndNearlyDoneBeforeTheEnd)
{
    KFakeOwner owner(240, 250);
    KIpMgrReq request;
    MakeSave(request, 240, 250, "progress.jpg", kSaveJPEG, kOutput24RGB);
    owner.Request(&request);
    const std::vector<double> seen = owner.RunUntilDone(request);
    ASSERT_EQ(request.m_Async.GetState(), kDone);
    std::vector<double> distinct;
    for (double p : seen)
        if (distinct.empty() || distinct.back() != p)
            distinct.push_back(p);
    // 0 while the thumbnail is made; the last strip's 0.98 is followed by 1.0 within the same slice.
    const std::vector<double> expected = {0.0, 0.5, 0.5 + 0.48 * 100 / 250, 0.5 + 0.48 * 200 / 250, 1.0};
    ASSERT_EQ(distinct.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_DOUBLE_EQ(distinct[i], expected[i]);
}

TEST_F(SaveFixture, BadDestinationOrCropFailsClearly)
{
    KFakeOwner owner(240, 160);
    KIpMgrReq request;
    MakeSave(request, 240, 160, "no-such-folder/out.jpg", kSaveJPEG, kOutput24RGB);
    owner.Request(&request);
    owner.RunUntilDone(request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrFileIO);
    EXPECT_NE(WideToUtf8(request.m_Async.m_Message).find("no-such-folder"), std::string::npos)
        << WideToUtf8(request.m_Async.m_Message);

    // The crop reaches below the image fitted into the output size (240 x 160 into 300 x 300 is 300 x 200).
    MakeSave(request, 240, 160, "beyond.jpg", kSaveJPEG, kOutput24RGB);
    request.m_OutputWidth = request.m_OutputHeight = 300;
    request.m_CropRect = KRect(0, 0, 300, 201);
    owner.Request(&request);
    owner.RunUntilDone(request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_EQ(WideToUtf8(request.m_Async.m_Message),
              "IPSaveManager: the crop rectangle (0, 0, 300, 201) reaches beyond the 300 x 200 image fitted into "
              "300 x 300.");

    // Empty, inverted, and at the ends of the 32-bit range: refused before a file is opened.
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    for (KRect crop : {KRect(0, 20, 240, 20), KRect(lo, lo, hi, hi), KRect(0, lo, 240, hi), KRect(lo, 0, hi, 160),
                       KRect(hi, hi, lo, lo)}) {
        MakeSave(request, 240, 160, "empty.jpg", kSaveJPEG, kOutput24RGB);
        request.m_CropRect = crop;
        owner.Request(&request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << crop.left << "," << crop.top;
        EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument) << WideToUtf8(request.m_Async.m_Message);
    }
    EXPECT_TRUE(Files().empty());
}

TEST_F(SaveFixture, SquareImageGetsATiffThumbnailThatFits)
{
    KFakeOwner owner(200, 200);
    KIpMgrReq request;
    MakeSave(request, 200, 200, "square.tif", kSaveTIFF, kOutput24RGB);
    owner.Request(&request);
    owner.RunUntilDone(request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    EXPECT_EQ(owner.Asked().at(0).m_OutputHeight, 136);
    EXPECT_EQ(TiffTags(lumotest::ReadBytes(Path("square.tif"))).at(34377).m_Count, 136u * 408u + 40u);
}

TEST_F(SaveFixture, DestroyedWhileSavingEndsTheRequestAndLeavesNoFile)
{
    KIpMgrReq request;
    {
        KFakeOwner owner(240, 330);
        MakeSave(request, 240, 330, "gone.tif", kSaveTIFF, kOutput24RGB);
        owner.Request(&request);
        for (int i = 0; i < 3; ++i)
            owner.Idle();
        ASSERT_TRUE(request.m_Async.IsBusy());
    }
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    EXPECT_TRUE(Files().empty());
}

TEST_F(SaveFixture, AFileThatCannotBeFinishedFailsTheSave)
{
    // The folder goes while the strips are written: the last strip's rows are encoded, but the file cannot take
    // its name. Both formats, as the strips are encoded while the next one is made.
    for (const KUInt32 format : {kSaveJPEG, kSaveTIFF}) {
        SCOPED_TRACE(format);
        std::filesystem::create_directories(Path(""));
        KFakeOwner owner(240, 250);
        KIpMgrReq request;
        MakeSave(request, 240, 250, "lost", format, kOutput24RGB);
        owner.RunAtProcessedRequest(4, [&] { std::filesystem::remove_all(Path("")); });
        owner.Request(&request);
        owner.RunUntilDone(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
        EXPECT_NE(request.m_Async.GetError(), kIpErrNone);
        EXPECT_FALSE(request.m_Async.m_Message.IsEmpty());
        ASSERT_EQ(owner.Asked().size(), 4u);
        EXPECT_FALSE(std::filesystem::exists(Path("")));
    }
}
