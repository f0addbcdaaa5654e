#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CamdataTestSupport.h"
#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KColorSpace.h"
#include "KDebug.h"
#include "KException.h"
#include "KPropTree.h"
#include "KTextFunctions.h"

namespace {

std::vector<uint8_t> DefaultFile(KzrByteOrder order)
{
    return KzrDefaultCalibration(TestLayout()).BuildFile(order);
}

std::string ConstructionError(const std::vector<uint8_t>& b, size_t size)
{
    try {
        KCamdata c(b.empty() ? nullptr : b.data(), size);
    } catch (const KException& e) {
        return e.GetMessage();
    }
    return "(none)";
}

std::string ConstructionError(const std::vector<uint8_t>& b)
{
    return ConstructionError(b, b.size());
}

}  // namespace

TEST(KCamdata, ByteOrderAndFormTwinsAnswerAlike)
{
    const KzrCalibrationBuilder builder = KzrDefaultCalibration(TestLayout());
    const std::vector<uint8_t> le = builder.BuildFile(KzrByteOrder::Little);
    std::vector<uint8_t> be = builder.BuildFile(KzrByteOrder::Big);
    const std::vector<uint8_t> beBefore = be;
    const std::vector<uint8_t> leBlocks = builder.BuildBlocks(KzrByteOrder::Little);
    const std::vector<uint8_t> beBlocks = builder.BuildBlocks(KzrByteOrder::Big);
    ASSERT_EQ(le.size(), be.size());
    EXPECT_EQ(std::string(be.begin(), be.begin() + 4), "bMCK");

    KCamdata a(le.data(), le.size());
    KCamdata b(be.data(), be.size());
    KCamdata c(leBlocks.data(), leBlocks.size());
    KCamdata d(beBlocks.data(), beBlocks.size());
    EXPECT_FALSE(a.IsSwapped());
    EXPECT_TRUE(b.IsSwapped());
    EXPECT_FALSE(c.IsSwapped());
    EXPECT_TRUE(d.IsSwapped());
    const std::string expected = DescribeCamdata(a);
    EXPECT_EQ(DescribeCamdata(b), expected);
    EXPECT_EQ(DescribeCamdata(c), expected);
    EXPECT_EQ(DescribeCamdata(d), expected);
    EXPECT_EQ(a.GetBlockCount(), builder.BlockCount());

    // The caller's big-endian buffer is never swapped: a second object over it reads it the same way.
    EXPECT_EQ(be, beBefore);
    KCamdata again(be.data(), be.size());
    EXPECT_TRUE(again.IsSwapped());
    EXPECT_EQ(DescribeCamdata(again), expected);
}

TEST(KCamdata, DefaultCalibrationValues)
{
    const std::vector<uint8_t> file = DefaultFile(KzrByteOrder::Little);
    KCamdata c(file.data(), file.size());

    auto lut = GetCamdataColorLUT("LinLUTs", c);
    ASSERT_TRUE(lut);
    EXPECT_EQ(lut->m_Size, 4096u);
    EXPECT_EQ(lut->m_Mask, 4095u);
    EXPECT_FALSE(lut->m_bOwnsData);
    EXPECT_EQ(lut->m_pData[1], lut->m_pData[0] + 4096);
    EXPECT_EQ(lut->m_pData[2], lut->m_pData[0] + 8192);
    EXPECT_EQ(lut->Lookup(1, 1234), 1234);
    EXPECT_EQ(lut->Lookup(2, 4096 + 7), 7);  // wrapped by the mask

    // The frame is 64 x 48 at (8, 4) on the sensor; shields 6, 4, 4, 2.
    EXPECT_EQ(GetCamdataRect("KeepImageArea", c), KRect(8, 4, 72, 52));
    EXPECT_EQ(GetCamdataRect("ActiveImageArea", c), KRect(14, 8, 68, 50));
    EXPECT_EQ(GetCamdataRect("DarkShieldTop", c), KRect(14, 4, 68, 8));
    EXPECT_EQ(GetCamdataRect("DarkShieldBottom", c), KRect(14, 50, 68, 52));
    KUInt32 n = 0;
    const KUInt32* bad = GetCamdataBadPixels("BadPixels", c, &n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(bad[0], (14u << 20) | (18u << 8) | 0x5Au);
    EXPECT_EQ(GetCamdataColorInt16("SaturationLevel", c), (KIntTriple{3800, 3800, 3800}));
    EXPECT_EQ(GetCamdataFloat("SensorISO", c), 100.0f);
    EXPECT_EQ(GetCamdataColorFloat("RGBNeutral", c), (KColorTriple{0.62f, 1.0f, 0.78f}));
    auto grid = GetCamdataSpatialGain("SpatialGain", c);
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->m_Rows, 3u);
    EXPECT_EQ(grid->m_Columns, 4u);
    const KPostPoly poly = GetCamdataPostPoly("PostPolyMatrix", c);
    EXPECT_FLOAT_EQ(poly[10], 0.01f);
    EXPECT_EQ(poly[1], 0.0f);
    KPropTree tree(nullptr, "ImageProps");
    ASSERT_TRUE(c.GetPropertyList("WhiteBalanceIlluminants", &tree));
    ASSERT_EQ(tree.GetPairCount(), 5u);
    EXPECT_EQ(WideToUtf8(tree.GetFirstPair()->GetKey()), "Auto");
    EXPECT_EQ(WideToUtf8(tree.FindPair(Utf8ToWide("Flash"))->GetValue()), "");
}

// The default camera matrix is the inverse of the working space's taken through the sensor's channel
// response, and the neutral is that response: once the neutral's gains are applied, camera RGB is working RGB
// and the grey the sensor sees is the D65 white.
TEST(KCamdata, DefaultCalibrationCameraIsTheWorkingSpace)
{
    const std::vector<uint8_t> file = DefaultFile(KzrByteOrder::Little);
    KCamdata c(file.data(), file.size());
    KMatrix3x3 working{};
    CreateColorSpaceWhitePoint(working, kWorkingColorSpace, kPcsWhitePointD65);
    const KMatrix3x3 camera = GetCamdataColorMatrix("CAMToXYZ", c);
    const KColorTriple n = GetCamdataColorFloat("RGBNeutral", c);
    const KMatrix3x3 balanced = Multiply3x3(camera, KMatrix3x3{n[0], 0, 0, 0, n[1], 0, 0, 0, n[2]});
    const KMatrix3x3 inverse = Invert3x3(working);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(balanced[i], inverse[i], 1e-6) << i;
    const KMatrix3x3 product = Multiply3x3(working, balanced);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(product[i], i % 4 == 0 ? 1.0 : 0.0, 1e-6) << i;
    // The white of this camera (its inverse applied to the D65 chromaticity) is the neutral.
    const KMatrix3x3 toCamera = Invert3x3(camera);
    double white[3];
    for (int r = 0; r < 3; ++r)
        white[r] = toCamera[r * 3] * kD65WhitePoint[0] + toCamera[r * 3 + 1] * kD65WhitePoint[1] +
                   toCamera[r * 3 + 2] * kD65WhitePoint[2];
    EXPECT_NEAR(white[0] / white[1], n[0] / n[1], 1e-3);
    EXPECT_NEAR(white[2] / white[1], n[2] / n[1], 1e-3);
}

TEST(KCamdata, MissesGiveDefaultsAndTraces)
{
    KzrCalibrationBuilder b;
    b.AddInt16("TwoChannels", {2, 16}, std::vector<int16_t>(32, 0));
    b.AddFloat("GainOf2", {2, 2, 2}, std::vector<float>(8, 1.0f));
    b.AddFloat("Wide", {4}, {1, 2, 3, 4});
    const std::vector<uint8_t> file = b.BuildFile(KzrByteOrder::Little);
    KCamdata c(file.data(), file.size());
    KTraceCapture trace;

    EXPECT_FALSE(GetCamdataColorLUT("Missing", c));
    EXPECT_FALSE(GetCamdataColorLUT("TwoChannels", c));
    EXPECT_EQ(GetCamdataColorMatrix("Missing", c), Zero3x3());
    KUInt32 n = 99;
    EXPECT_EQ(GetCamdataBadPixels("Missing", c, &n), nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(GetCamdataSpatialGain("Missing", c));
    EXPECT_FALSE(GetCamdataSpatialGain("GainOf2", c));
    EXPECT_EQ(GetCamdataPostPoly("Missing", c), KPostPoly{});
    EXPECT_EQ(GetCamdataFloat("Wide", c), 0.0f);
    EXPECT_EQ(GetCamdataInt32("Missing", c), 0);
    EXPECT_EQ(GetCamdataUInt32("Missing", c), 0u);
    EXPECT_EQ(GetCamdataColorFloat("Missing", c), (KColorTriple{0, 0, 0}));
    EXPECT_EQ(GetCamdataColorFloatOr("Missing", c, {0.5, 0.25, 2}), (KColorTriple{0.5, 0.25, 2}));
    EXPECT_EQ(GetCamdataColorInt16("Missing", c), (KIntTriple{0, 0, 0}));
    EXPECT_EQ(GetCamdataColorInt32("Missing", c), (KIntTriple{0, 0, 0}));
    EXPECT_EQ(GetCamdataRect("Missing", c), KRect());
    KDarkDrift drift = GetCamdataDarkDrift("Missing", c);
    EXPECT_EQ(drift.m_Value[1][1][2], 0.0);

    for (const char* text : {
             "Camdata color LUT 'Missing' not found.\n",
             "Camdata color LUT 'TwoChannels' doesn't have 3 color channels.\n",
             "Camdata color matrix 'Missing' not found.\n",
             "Camdata bad pixels 'Missing' not found.\n",
             "Camdata spatial gain 'Missing' not found.\n",
             "Camdata spatial gain 'GainOf2' doesn't have 3 color channels.\n",
             "Camdata post poly 'Missing' not found.\n",
             "Camdata float 'Wide' not found.\n",
             "Camdata int32 'Missing' not found.\n",
             "Camdata uint32 'Missing' not found.\n",
             "Camdata color float 'Missing' not found.\n",
             "Camdata color int16 'Missing' not found.\n",
             "Camdata color int32 'Missing' not found.\n",
             "Camdata rect 'Missing' not found.\n",
             "Camdata dark drift 'Missing' not found.\n",
         })
        EXPECT_TRUE(trace.Contains(text)) << text;
}

TEST(KCamdata, GetterShapesAndConversions)
{
    KzrCalibrationBuilder b;
    b.AddRect("Box", 10, 20, 109, 219);
    b.AddRect("Edge", 0, 0, 2147483647, 5);
    b.AddInt16("Int16s", {3}, {-5, 0, 32767});
    b.AddInt32("Int32s", {3}, {-70000, 1, 2});
    b.AddInt32Scalar("Minus", -3);
    b.AddUInt32Scalar("Big", 0xFFFFFFF0u);
    // [end][channel][kind]
    std::vector<float> drift;
    for (int i = 0; i < 12; ++i)
        drift.push_back(float(i));
    b.AddFloat("DarkDrift", {2, 3, 2}, drift);
    b.AddFloat("Matrix", {3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    const std::vector<uint8_t> file = b.BuildFile(KzrByteOrder::Big);
    KCamdata c(file.data(), file.size());

    EXPECT_EQ(GetCamdataRect("Box", c), KRect(10, 20, 110, 220));
    EXPECT_EQ(GetCamdataRect("Edge", c), KRect(0, 0, 2147483647, 6));
    EXPECT_EQ(GetCamdataColorInt16("Int16s", c), (KIntTriple{-5, 0, 32767}));
    EXPECT_EQ(GetCamdataColorInt32("Int32s", c), (KIntTriple{-70000, 1, 2}));
    EXPECT_EQ(GetCamdataInt32("Minus", c), -3);
    EXPECT_EQ(GetCamdataUInt32("Big", c), 0xFFFFFFF0u);
    const KDarkDrift d = GetCamdataDarkDrift("DarkDrift", c);
    // Element [k][j][c] comes from stored [k][c][j].
    EXPECT_EQ(d.m_Value[0][0][0], 0.0);
    EXPECT_EQ(d.m_Value[0][1][0], 1.0);
    EXPECT_EQ(d.m_Value[0][0][1], 2.0);
    EXPECT_EQ(d.m_Value[0][1][2], 5.0);
    EXPECT_EQ(d.m_Value[1][0][0], 6.0);
    EXPECT_EQ(d.m_Value[1][1][2], 11.0);
    EXPECT_EQ(GetCamdataColorMatrix("Matrix", c), (KMatrix3x3{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(KCamdata, NamesMatchWithoutCaseAndTheFirstBlockWins)
{
    KzrCalibrationBuilder b;
    b.AddInt32Scalar("Gain", 7);
    b.AddFloatScalar("Gain", 2.5f);  // never found: the first "Gain" is an int32
    b.AddPropertyList("Props", {{"k", "v"}});
    b.AddPropertyList("props", {{"other", "x"}});
    const std::vector<uint8_t> blocks = b.BuildBlocks(KzrByteOrder::Little);
    KCamdata c(blocks.data(), blocks.size());
    EXPECT_EQ(GetCamdataInt32("gAIN", c), 7);
    EXPECT_EQ(GetCamdataFloat("Gain", c), 0.0f);
    EXPECT_EQ(c.FindMatrix("GAIN", KCAMDATA_INT32, 0, nullptr)->m_DimCount, 1u);
    const KUInt32 wrong[] = {2};
    EXPECT_EQ(c.FindMatrix("Gain", KCAMDATA_INT32, 1, wrong), nullptr);
    EXPECT_EQ(c.FindMatrix("Gain", KCAMDATA_INT32, 2, nullptr), nullptr);

    // Property lists are found by their exact name.
    KPropTree tree(nullptr, "t");
    EXPECT_TRUE(c.GetPropertyList("props", &tree));
    EXPECT_EQ(WideToUtf8(tree.GetFirstPair()->GetKey()), "other");
    EXPECT_FALSE(c.GetPropertyList("PROPS", &tree));
    EXPECT_FALSE(c.GetPropertyList("Gain", &tree));
    EXPECT_FALSE(c.GetPropertyList(nullptr, &tree));
    EXPECT_FALSE(c.GetPropertyList("Props", nullptr));
    EXPECT_EQ(c.FindMatrix("Props", KCAMDATA_INT32, 0, nullptr), nullptr);
}

TEST(KCamdata, EveryElementTypeInBothOrders)
{
    KzrCalibrationBuilder b;
    b.AddInt16("i16", {2}, {-2, 300});
    b.AddInt32("i32", {2}, {-70000, 5});
    b.AddUInt32("u32", {2}, {0xDEADBEEF, 1});
    b.AddFloat("f", {2}, {1.5f, -0.25f});
    b.AddBytes("u8", {3}, {1, 2, 255});
    b.AddUInt16("u16", {2}, {65535, 258});
    b.AddOpaqueBlock(KFourCC("CMbT"), "table", {1, 2, 3});
    b.AddOpaqueBlock(KFourCC("XXXX"), "unknown", {});
    for (KzrByteOrder order : {KzrByteOrder::Little, KzrByteOrder::Big}) {
        const std::vector<uint8_t> file = b.BuildFile(order);
        KCamdata c(file.data(), file.size());
        EXPECT_EQ(c.GetBlockCount(), 8u);
        EXPECT_EQ(c.FindMatrix("i16", KCAMDATA_INT16, 1, nullptr)->Elements<KInt16>()[1], 300);
        EXPECT_EQ(c.FindMatrix("i32", KCAMDATA_INT32, 1, nullptr)->Elements<KInt32>()[0], -70000);
        EXPECT_EQ(c.FindMatrix("u32", KCAMDATA_UINT32, 1, nullptr)->Elements<KUInt32>()[0], 0xDEADBEEFu);
        EXPECT_EQ(c.FindMatrix("f", KCAMDATA_FLOAT, 1, nullptr)->Elements<float>()[1], -0.25f);
        const KCamdataMatrix* bytes = c.FindMatrix("u8", KCAMDATA_BYTE, 1, nullptr);
        EXPECT_EQ(bytes->m_ElementCount, 3u);
        EXPECT_EQ(bytes->Elements<KUInt8>()[2], 255);
        EXPECT_EQ(c.FindMatrix("u16", KCAMDATA_UINT16, 1, nullptr)->Elements<KUInt16>()[1], 258);
        EXPECT_EQ(c.FindMatrix("table", KCAMDATA_BYTE, 0, nullptr), nullptr);
    }
}

TEST(KCamdata, SixtyFourBitMatrices)
{
    KzrCalibrationBuilder b;
    b.AddFloatScalar("Before", 1.0f);
    b.AddInt64("Wide", {2}, {-1, 1LL << 40});
    const std::vector<uint8_t> le = b.BuildFile(KzrByteOrder::Little);
    KCamdata c(le.data(), le.size());
    EXPECT_EQ(c.FindMatrix("Wide", KCAMDATA_INT64, 1, nullptr)->Elements<KInt64>()[1], 1LL << 40);

    const std::vector<uint8_t> be = b.BuildFile(KzrByteOrder::Big);
    const std::string message = ConstructionError(be);
    const std::string tail = "Don't know how to endian swap 64 bit types.";
    ASSERT_GE(message.size(), tail.size());
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
    EXPECT_EQ(message.rfind("Libraries\\lib_PixelProc2\\Src\\KCamdata Line ", 0), 0u) << message;
}

TEST(KCamdata, ConstructionFailures)
{
    const std::vector<uint8_t> good = DefaultFile(KzrByteOrder::Little);
    auto patched = [&](size_t at, uint32_t w) {
        std::vector<uint8_t> b = good;
        SetWord(b, at, w);
        return b;
    };
    const size_t s = KzrCalibrationBuilder::kFirstSectionOffset;
    struct Case {
        std::vector<uint8_t> bytes;
        std::string message;
    };
    const Case cases[] = {
        {{}, "KCamdata: initialized with NULL pointer or empty buffer."},
        {{'C', 'M', 'b'}, "KCamdata: insufficient data for CAMb data.\n"},
        {{'Q', 'R', 'L', 'b', 0, 0}, "KCamdata: cam data is not CAMb file or CAMb data blocks."},
        {std::vector<uint8_t>(good.begin(), good.begin() + 27), "KCamdata: Insufficient data for header.\n"},
        {patched(4, 0x00030000), "KCamdata: Incompatible version.\n"},
        {patched(8, uint32_t(good.size() + 1)), "KCamdata: Insufficient data for section header.\n"},
        {patched(8, uint32_t(good.size() - 19)), "KCamdata: Insufficient data for section header.\n"},
        {patched(s, KFourCC("CMbX")), "KCamdata: Expected a data section.\n"},
        {patched(s + 4, 0x00020000), "KCamdata: Incompatible data section version.\n"},
        {patched(s + 8, uint32_t(good.size())), "KCamdata: Insufficient data for data section.\n"},
        {patched(s + 8, 0), "KCamdata: Insufficient data for data section.\n"},
        {patched(s + 8, 19), "KCamdata: Insufficient data for data section.\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConstructionError(c.bytes), c.message) << c.message;
    EXPECT_EQ(ConstructionError(good, 0), "KCamdata: initialized with NULL pointer or empty buffer.");
    // A big-endian header is swapped before it is checked.
    std::vector<uint8_t> be = DefaultFile(KzrByteOrder::Big);
    SetWord(be, 4, 0x00010000, true);
    EXPECT_EQ(ConstructionError(be), "KCamdata: Incompatible version.\n");
    // A file that ends exactly after its header holds no sections.
    std::vector<uint8_t> bare(good.begin(), good.begin() + 28);
    EXPECT_EQ(ConstructionError(bare), "(none)");
}

TEST(KCamdata, EmptyFilesAndBlockForm)
{
    KzrCalibrationBuilder empty;
    empty.NewSection();
    const std::vector<uint8_t> file = empty.BuildFile(KzrByteOrder::Big);
    KTraceCapture trace;
    KCamdata c(file.data(), file.size());
    EXPECT_TRUE(trace.Contains("KCamdata: Parsed an empty camfile.\n"));
    EXPECT_EQ(c.GetBlockCount(), 0u);
    EXPECT_FALSE(GetCamdataColorLUT("LinLUTs", c));

    // A buffer that starts with a matrix block is a run of blocks.
    KzrCalibrationBuilder b;
    b.AddFloatScalar("One", 1.0f);
    b.AddPropertyList("P", {});
    const std::vector<uint8_t> blocks = b.BuildBlocks(KzrByteOrder::Little);
    ASSERT_EQ(Word(blocks, 0), KFourCC("CMbM"));
    KCamdata d(blocks.data(), blocks.size());
    EXPECT_EQ(d.GetBlockCount(), 2u);
    EXPECT_EQ(GetCamdataFloat("One", d), 1.0f);
    KPropTree tree(nullptr, "t");
    EXPECT_TRUE(d.GetPropertyList("P", &tree));
    EXPECT_EQ(tree.GetPairCount(), 0u);
}

TEST(KCamdata, ABlockOfSize19EndsTheWalkAndKeepsTheBlocksBeforeIt)
{
    KzrCalibrationBuilder b;
    b.AddFloatScalar("First", 1.0f);
    b.AddFloatScalar("Second", 2.0f);
    b.AddFloatScalar("Third", 3.0f);
    for (KzrByteOrder order : {KzrByteOrder::Little, KzrByteOrder::Big}) {
        const bool big = order == KzrByteOrder::Big;
        std::vector<uint8_t> file = b.BuildFile(order);
        SetWord(file, BlockOffset(file, 1, big) + 8, 19, big);
        KTraceCapture trace;
        KCamdata c(file.data(), file.size());
        EXPECT_TRUE(trace.Contains("KCamdataImpl::CountBlocks found block with invalid size.\n"));
        EXPECT_TRUE(trace.Contains("KCamdataImpl::ParseBlocks found block with invalid size.\n"));
        EXPECT_EQ(c.GetBlockCount(), 1u);
        EXPECT_EQ(GetCamdataFloat("First", c), 1.0f);
        EXPECT_EQ(GetCamdataFloat("Third", c), 0.0f);

        std::vector<uint8_t> blocks = b.BuildBlocks(order);
        SetWord(blocks, Word(blocks, 8, big) + 8, 19, big);
        KCamdata d(blocks.data(), blocks.size());
        EXPECT_EQ(GetCamdataFloat("First", d), 1.0f);
        EXPECT_EQ(d.GetBlockCount(), 1u);
    }
}

// Every damaged block takes the non-throwing path: a trace, the blocks before it stay, and a big-endian
// caller buffer is left as it was.
TEST(KCamdata, DamagedBlocksAreRefusedSafely)
{
    // Block 1 of the first section is the damaged one; block 0 must survive.
    struct Case {
        const char* what;
        int kind;  // 0 matrix, 1 property list
        size_t field;  // offset of the word within the block, or within its data when fromData
        bool fromData;
        uint32_t value;  // 0xFFFFFFFE: the block's last byte, which is then made non-zero
        const char* trace;
    };
    const uint32_t lastByte = 0xFFFFFFFE;
    const char* matrixError = "KCamdataImpl::ParseBlocks: Error parsing matrix.\r\n";
    const char* propError = "CAMB: Error parsing property list.\r\n";
    const char* nameError = "KCamdataImpl::ParseBlocks: Error parsing block name.\r\n";
    const Case cases[] = {
        {"name beyond the block", 0, 12, false, 0x7FFFFFF0, nameError},
        {"name without terminator", 0, 12, false, lastByte, nameError},
        {"matrix version", 0, 4, false, 0x00010000, matrixError},
        {"matrix data beyond the block", 0, 16, false, 0xFFFFFFFF, matrixError},
        {"matrix type 7", 0, 0, true, 7, "Found CAMb matrix of unrecognized type.\n"},
        {"no dimensions", 0, 4, true, 0, matrixError},
        {"dimensions beyond the block", 0, 4, true, 0x40000000, matrixError},
        {"elements beyond the block", 0, 12, true, 0x10000, matrixError},
        {"elements offset beyond the block", 0, 8, true, 0xFFFFFFF8, matrixError},
        {"misaligned elements", 0, 8, true, 26, matrixError},
        {"property version", 1, 4, false, 0x00020000, propError},
        {"property data beyond the block", 1, 16, false, 0xFFFFFFFC, propError},
        {"pair count beyond the block", 1, 0, true, 0x20000000, propError},
        {"string area beyond the block", 1, 4, true, 0x7FFFFFFF, propError},
        {"pair name beyond the block", 1, 8, true, 0xFFFFFF00, propError},
        {"pair value without terminator", 1, 12, true, lastByte, propError},
    };
    for (const Case& k : cases) {
        for (KzrByteOrder order : {KzrByteOrder::Little, KzrByteOrder::Big}) {
            const bool big = order == KzrByteOrder::Big;
            KzrCalibrationBuilder b;
            b.AddFloatScalar("Kept", 4.0f);
            if (k.kind == 0)
                b.AddFloat("Damaged", {2, 2}, {1, 2, 3, 4});
            else
                b.AddPropertyList("Damaged", {{"key", "value"}});
            b.AddFloatScalar("After", 5.0f);
            std::vector<uint8_t> file = b.BuildFile(order);
            const size_t block = BlockOffset(file, 1, big);
            const size_t at = block + (k.fromData ? Word(file, block + 16, big) : 0) + k.field;
            const uint32_t size = Word(file, block + 8, big);
            uint32_t value = k.value;
            if (value == lastByte) {
                file[block + size - 1] = 'x';
                value = k.fromData ? size - 1 - Word(file, block + Word(file, block + 16, big) + 4, big) : size - 1;
            }
            SetWord(file, at, value, big);
            const std::vector<uint8_t> before = file;
            KTraceCapture trace;
            std::string error = ConstructionError(file);
            ASSERT_EQ(error, "(none)") << k.what;
            KCamdata c(file.data(), file.size());
            EXPECT_TRUE(trace.Contains(k.trace)) << k.what << "\n" << trace.Text();
            EXPECT_EQ(GetCamdataFloat("Kept", c), 4.0f) << k.what;
            EXPECT_EQ(GetCamdataFloat("After", c), 0.0f) << k.what;
            EXPECT_EQ(c.FindMatrix("Damaged", KCAMDATA_FLOAT, 0, nullptr), nullptr) << k.what;
            KPropTree tree(nullptr, "t");
            EXPECT_FALSE(c.GetPropertyList("Damaged", &tree)) << k.what;
            EXPECT_EQ(file, before) << k.what;
        }
    }
}

TEST(KCamdata, ANameThatSwappingLeavesUnterminatedIsRefused)
{
    // A big-endian block whose name lies in its own elements: the name "yx" ends inside the block as stored,
    // but reversing the last element moves its terminator in front of it, so that the name would run past the
    // end of the buffer. The block counts as damaged; the look-up that would read past the end finds nothing.
    for (bool file : {false, true}) {
        KzrCalibrationBuilder b;
        b.AddFloatScalar("Kept", 4.0f);
        b.AddUInt32("m", {2}, {1, 0x7A797800u});  // stored big-endian: 'z', 'y', 'x', NUL
        std::vector<uint8_t> bytes = file ? b.BuildFile(KzrByteOrder::Big) : b.BuildBlocks(KzrByteOrder::Big);
        const size_t block = file ? BlockOffset(bytes, 1, true) : Word(bytes, 8, true);
        const uint32_t size = Word(bytes, block + 8, true);
        ASSERT_EQ(block + size, bytes.size());
        ASSERT_EQ(bytes[block + size - 4], 'z');
        SetWord(bytes, block + 12, size - 3, true);
        KTraceCapture trace;
        KCamdata c(bytes.data(), bytes.size());
        EXPECT_TRUE(trace.Contains("KCamdataImpl::ParseBlocks: Error parsing block name.\r\n")) << trace.Text();
        EXPECT_EQ(GetCamdataFloat("Kept", c), 4.0f);
        EXPECT_EQ(c.FindMatrix("xyz", KCAMDATA_UINT32, 0, nullptr), nullptr);
        EXPECT_EQ(c.FindMatrix("yx", KCAMDATA_UINT32, 0, nullptr), nullptr);
    }
}

TEST(KCamdata, HugeDimensionsDoNotOverflow)
{
    KzrCalibrationBuilder b;
    // 2^16 x 2^16 x 2^16 elements of a block of a few dozen bytes.
    b.AddMatrix("Huge", KzrCalibrationBuilder::Float, {65536, 65536, 65536}, nullptr, 0);
    b.AddMatrix("ZeroThenHuge", KzrCalibrationBuilder::Float, {0, 0xFFFFFFFF, 0xFFFFFFFF}, nullptr, 0);
    const std::vector<uint8_t> blocks = b.BuildBlocks(KzrByteOrder::Little);
    KTraceCapture trace;
    KCamdata c(blocks.data(), blocks.size());
    EXPECT_TRUE(trace.Contains("Error parsing matrix"));
    EXPECT_EQ(c.FindMatrix("Huge", KCAMDATA_FLOAT, 0, nullptr), nullptr);

    KzrCalibrationBuilder z;
    z.AddMatrix("ZeroThenHuge", KzrCalibrationBuilder::Float, {0, 0xFFFFFFFF, 0xFFFFFFFF}, nullptr, 0);
    z.AddInt16("EmptyLut", {3, 0}, {});
    const std::vector<uint8_t> zb = z.BuildBlocks(KzrByteOrder::Big);
    KCamdata d(zb.data(), zb.size());
    const KCamdataMatrix* m = d.FindMatrix("ZeroThenHuge", KCAMDATA_FLOAT, 3, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_ElementCount, 0u);
    // A colour table of no entries would be read outside: it counts as missing.
    EXPECT_FALSE(GetCamdataColorLUT("EmptyLut", d));
}

// A failed block ends its section's walk and the next section is recorded from the same table position: the
// entries it takes over keep nothing of the abandoned section.
TEST(KCamdata, ALaterSectionReplacesTheEntriesOfAnAbandonedOne)
{
    KzrCalibrationBuilder b;
    b.AddFloatScalar("Abandoned", 1.0f);
    b.AddFloat("Damaged", {1}, {2.0f});
    b.NewSection();
    b.AddPropertyList("Replacement", {{"a", "b"}});
    std::vector<uint8_t> file = b.BuildFile(KzrByteOrder::Little);
    const size_t damaged = BlockOffset(file, 1);
    SetWord(file, damaged + Word(file, damaged + 16) + 4, 0);  // no dimensions
    KCamdata c(file.data(), file.size());
    EXPECT_EQ(GetCamdataFloat("Abandoned", c), 0.0f);
    EXPECT_EQ(c.FindMatrix("Replacement", KCAMDATA_FLOAT, 0, nullptr), nullptr);
    KPropTree tree(nullptr, "t");
    EXPECT_TRUE(c.GetPropertyList("Replacement", &tree));
}

TEST(KCamdata, MisalignedBufferIsReadThroughACopy)
{
    const std::vector<uint8_t> file = DefaultFile(KzrByteOrder::Little);
    std::vector<uint8_t> shifted(file.size() + 1);
    std::copy(file.begin(), file.end(), shifted.begin() + 1);
    KCamdata aligned(file.data(), file.size());
    KCamdata odd(shifted.data() + 1, file.size());
    EXPECT_EQ(DescribeCamdata(odd), DescribeCamdata(aligned));
}
