#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "ColourTestPixmaps.h"
#include "KColorRowConverters.h"
#include "KConvertColorPixmap.h"
#include "KException.h"
#include "KRowConverters.h"

namespace {

// Channels of one source pixel at the source depth, read from the layouts as documented (independently of the
// pixel classes).
struct Channels {
    int32_t r, g, b;
    int depth;
};

Channels ReadColour(int type, const uint8_t* p)
{
    uint32_t w = 0;
    if (type >= 8 && type <= 10)
        std::memcpy(&w, p, 4);
    auto word = [p](int i) { return static_cast<int32_t>(static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8))); };
    switch (type) {
    case 6: return {p[2], p[1], p[0], 8};
    case 7: return {p[0], p[1], p[2], 8};
    case 11: return {p[1], p[2], p[3], 8};
    case 12: return {p[3], p[2], p[1], 8};
    case 13: return {p[2], p[1], p[0], 8};
    case 14: return {p[0], p[1], p[2], 8};
    case 8:
        return {static_cast<int32_t>(((w & 0xFF) << 3) | (w >> 29)),
                static_cast<int32_t>((((w >> 8) & 0xFF) << 3) | ((w >> 26) & 7)),
                static_cast<int32_t>((((w >> 16) & 0xFF) << 3) | (((w >> 24) & 3) << 1)), 11};
    case 9:
        return {static_cast<int32_t>((((w >> 16) & 0xFF) << 3) | (w >> 29)),
                static_cast<int32_t>((((w >> 8) & 0xFF) << 3) | ((w >> 26) & 7)),
                static_cast<int32_t>(((w & 0xFF) << 3) | (((w >> 24) & 3) << 1)), 11};
    case 10:
        return {static_cast<int32_t>(w & 0x7FF), static_cast<int32_t>((w >> 11) & 0x7FF),
                static_cast<int32_t>((w >> 22) << 1), 11};
    case 15:
    case 16: return {word(0), word(1), word(2), 16};
    case 17: return {word(2), word(1), word(0), 16};
    }
    ADD_FAILURE() << "no colour type " << type;
    return {0, 0, 0, 8};
}

int OutputDepth(int type)
{
    return type == 8 || type == 10 ? 11 : type == 15 || type == 17 ? 16 : 8;
}

// Writes (r, g, b), already at the output depth, in the output layout; keeps the low bits of each field.
void WriteColour(int type, int32_t r, int32_t g, int32_t b, uint8_t* q)
{
    const uint32_t ur = static_cast<uint32_t>(r), ug = static_cast<uint32_t>(g), ub = static_cast<uint32_t>(b);
    auto put32 = [q](uint32_t w) { std::memcpy(q, &w, 4); };
    auto put16 = [q](int i, uint32_t v) {
        q[2 * i] = static_cast<uint8_t>(v);
        q[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    };
    switch (type) {
    case 6: q[0] = uint8_t(ub), q[1] = uint8_t(ug), q[2] = uint8_t(ur); return;
    case 7: q[0] = uint8_t(ur), q[1] = uint8_t(ug), q[2] = uint8_t(ub); return;
    case 11: q[0] = 255, q[1] = uint8_t(ur), q[2] = uint8_t(ug), q[3] = uint8_t(ub); return;
    case 13: q[0] = uint8_t(ub), q[1] = uint8_t(ug), q[2] = uint8_t(ur), q[3] = 255; return;
    case 8:
        put32(((ur >> 3) & 0xFF) | (((ug >> 3) & 0xFF) << 8) | (((ub >> 3) & 0xFF) << 16) | (((ub >> 1) & 3) << 24) |
              ((ug & 7) << 26) | ((ur & 7) << 29));
        return;
    case 10: put32((ur & 0x7FF) | ((ug & 0x7FF) << 11) | (((ub >> 1) & 0x3FF) << 22)); return;
    case 15: put16(0, ur), put16(1, ug), put16(2, ub); return;
    case 17: put16(0, ub), put16(1, ug), put16(2, ur); return;
    }
    ADD_FAILURE() << "no output type " << type;
}

int32_t Shift(int32_t v, int by) { return by >= 0 ? static_cast<int32_t>(static_cast<uint32_t>(v) << by) : v >> -by; }

const int kColourSources[] = {6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
const int kOutputs[] = {6, 7, 8, 10, 11, 13, 15, 17};
const int kRefusedOutputs[] = {1, 2, 3, 4, 5, 9, 12, 14, 16};

std::string ThrownMessage(const std::function<void()>& f)
{
    try {
        f();
    } catch (const KException& e) {
        return e.GetMessage();
    }
    return "(nothing thrown)";
}

}  // namespace

TEST(ConvertColorPixmap, EveryColourPairShiftsBetweenDepthsAndPacks)
{
    for (int source : kColourSources) {
        TestPixmap in(source, 7, 3);
        in.FillRandom(static_cast<uint32_t>(source));
        for (int output : kOutputs) {
            TestPixmap out(output, 7, 3);
            ConvertColorPixmap(&in.Pixmap(), &out.Pixmap());
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 7; ++x) {
                    const Channels c = ReadColour(source, in.At(x, y));
                    const int by = OutputDepth(output) - c.depth;
                    uint8_t expected[6] = {};
                    WriteColour(output, Shift(c.r, by), Shift(c.g, by), Shift(c.b, by), expected);
                    ASSERT_EQ(0, std::memcmp(out.At(x, y), expected, static_cast<size_t>(out.Bytes())))
                        << "source " << source << " output " << output << " pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST(ConvertColorPixmap, From48RGBToDisplayTakesTheHighBytesAndOpaqueAlpha)
{
    TestPixmap in(kPixelType48RGB, 2, 1);
    const uint16_t words[6] = {0x1234, 0x5678, 0x9ABC, 0xFFFF, 0x00FF, 0x8000};
    std::memcpy(in.At(0, 0), words, sizeof words);
    TestPixmap out(kPixelType32BGRA, 2, 1);
    ConvertColorPixmap(&in.Pixmap(), &out.Pixmap());
    const uint8_t expected[8] = {0x9A, 0x56, 0x12, 255, 0x80, 0x00, 0xFF, 255};
    EXPECT_EQ(0, std::memcmp(out.At(0, 0), expected, 8));
}

TEST(ConvertMonoPixmap, EveryGreySourceGivesOneLevelInAllChannels)
{
    struct Case {
        int source;
        uint32_t value;
        int32_t level8, level11, level16;
    };
    const Case cases[] = {
        {1, 0xC5, 0xC5, 0xC5 << 3, 0xC500},
        {2, 0x0ABC, 0xAB, 0x55E, 0xABC0},
        {2, 0xFFFF, 0xFFF, 0x7FFF, 0xFFFF0},        // cells with more than 12 bits keep their low bits
        {3, 0xABCD, 0xAB, 0xABCD >> 5, 0xABCD},
        {4, 0xFFE0, 0xFF, -1, 0xFFE0},               // -32: high byte 255, 11-bit value -1
        {4, 0x7FFF, 0x7F, 0x3FF, 0x7FFF},
        {5, 0x12345678, 0x567, 0x2B3C, 0x56780},     // low 16 bits only
    };
    for (const Case& k : cases) {
        TestPixmap in(k.source, 3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                std::memcpy(in.At(x, y), &k.value, static_cast<size_t>(in.Bytes()));
        for (int output : kOutputs) {
            TestPixmap out(output, 3, 2);
            ConvertColorPixmap(&in.Pixmap(), &out.Pixmap());
            const int depth = OutputDepth(output);
            const int32_t g = depth == 8 ? k.level8 : depth == 11 ? k.level11 : k.level16;
            uint8_t expected[6] = {};
            WriteColour(output, g, g, g, expected);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    ASSERT_EQ(0, std::memcmp(out.At(x, y), expected, static_cast<size_t>(out.Bytes())))
                        << "source " << k.source << " value " << k.value << " output " << output;
        }
    }
}

TEST(ConvertMonoPixmap, NegativeSMonoIsAllOnesIn30RGB)
{
    TestPixmap in(kPixelType16SMono, 1, 1);
    const int16_t v = -32;
    std::memcpy(in.At(0, 0), &v, 2);
    TestPixmap rgb(kPixelType24RGB, 1, 1), packed(kPixelType30RGB, 1, 1);
    ConvertColorPixmap(&in.Pixmap(), &rgb.Pixmap());
    ConvertColorPixmap(&in.Pixmap(), &packed.Pixmap());
    EXPECT_EQ(rgb.At(0, 0)[0], 255);
    EXPECT_EQ(packed.Word(0, 0), 0xFFFFFFFFu);
}

TEST(ConvertColorPixmap, CropTakesTheRegionAndRowsAsLongAsTheOutput)
{
    TestPixmap in(kPixelType24RGB, 130, 80);
    in.FillRandom(7);
    struct Case {
        KRect crop;
        int32_t outWidth, outHeight;
    };
    for (const Case& k : {Case{KRect(10, 20, 110, 70), 100, 50}, Case{KRect(10, 20, 90, 70), 100, 50},
                          Case{KRect(10, 20, 110, 60), 100, 50}}) {
        TestPixmap out(kPixelType32BGRA, k.outWidth, k.outHeight);
        out.Fill(0xEE);
        ConvertColorPixmap(&in.Pixmap(), &out.Pixmap(), &k.crop);
        for (int32_t r = 0; r < k.outHeight; ++r) {
            for (int32_t x = 0; x < k.outWidth; ++x) {
                const uint8_t* o = out.At(x, r);
                if (r >= k.crop.Height()) {  // rows below the region are left alone
                    ASSERT_EQ(o[0], 0xEE);
                    continue;
                }
                const uint8_t* s = in.At(k.crop.left + x, k.crop.top + r);
                ASSERT_TRUE(o[0] == s[2] && o[1] == s[1] && o[2] == s[0] && o[3] == 255) << x << "," << r;
            }
        }
    }
}

TEST(ConvertColorPixmap, CropLargerThanTheOutputIsRefusedNamingThePath)
{
    TestPixmap colour(kPixelType24RGB, 130, 80), grey(kPixelType8Mono, 130, 80);
    const KRect crop(10, 20, 110, 70);
    for (auto size : {std::pair{100, 40}, std::pair{80, 50}}) {
        TestPixmap out(kPixelType32BGRA, size.first, size.second);
        out.Fill(0xEE);
        EXPECT_EQ(ThrownMessage([&] { ConvertColorPixmap(&colour.Pixmap(), &out.Pixmap(), &crop); }),
                  "The crop region is larger than the output pixmap: ConvertColorPixmap.");
        EXPECT_EQ(ThrownMessage([&] { ConvertColorPixmap(&grey.Pixmap(), &out.Pixmap(), &crop); }),
                  "The crop region is larger than the output pixmap: ConvertMonoPixmap.");
        EXPECT_EQ(out.Data(), std::vector<uint8_t>(out.Data().size(), 0xEE));
    }
}

TEST(ConvertColorPixmap, RefusedOutputTypesForEverySource)
{
    for (int source = 1; source <= 17; ++source) {
        TestPixmap in(source, 4, 4);
        for (int output : kRefusedOutputs) {
            TestPixmap out(output, 4, 4);
            out.Fill(0xEE);
            EXPECT_EQ(ThrownMessage([&] { ConvertColorPixmap(&in.Pixmap(), &out.Pixmap()); }),
                      "Unknown destination pixel type in ConvertColorPixmap")
                << "source " << source << " output " << output;
            EXPECT_EQ(out.Data(), std::vector<uint8_t>(out.Data().size(), 0xEE));
        }
    }
}

TEST(ConvertColorPixmap, ArgumentErrors)
{
    TestPixmap in(kPixelType24RGB, 8, 6), out(kPixelType32BGRA, 8, 6), wide(kPixelType32BGRA, 9, 6),
        tall(kPixelType32BGRA, 8, 7), grey(kPixelType16Mono, 8, 6);
    std::vector<uint8_t> bytes(8 * 6 * 4);
    OddTypePixmap none(0, bytes.data(), 8, 6), beyond(18, bytes.data(), 8, 6);
    struct Case {
        std::function<void()> call;
        const char* message;
    };
    const Case cases[] = {
        {[&] { ConvertColorPixmap(&in.Pixmap(), nullptr); },
         "The output pixmap has not been initialized: ConvertColorPixmap"},
        {[&] { ConvertColorPixmap(nullptr, &out.Pixmap()); },
         "The input pixmap has not been initialized: ConvertColorPixmap"},
        {[&] { ConvertColorPixmap(&in.Pixmap(), &wide.Pixmap()); },
         "The output pixmap is larger than the input pixmap: ConvertColorPixmap."},
        {[&] { ConvertColorPixmap(&in.Pixmap(), &tall.Pixmap()); },
         "The output pixmap is larger than the input pixmap: ConvertColorPixmap."},
        {[&] { ConvertColorPixmap(&none, &out.Pixmap()); }, "Unknown source pixel type in ConvertColorPixmap"},
        {[&] { ConvertColorPixmap(&beyond, &out.Pixmap()); }, "Unknown source pixel type in ConvertColorPixmap"},
        {[&] { ConvertMonoPixmap(&in.Pixmap(), &out.Pixmap()); }, "Unknown source pixel type in ConvertColorPixmap"},
        {[&] { ConvertMonoPixmap(&grey.Pixmap(), nullptr); },
         "The output pixmap has not been initialized: ConvertColorPixmap"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(ThrownMessage(k.call), k.message) << "case " << (&k - cases);
}

TEST(ConvertColorPixmap, RegionsOutsideEitherPixmapAreRefusedBeforeAnyPixel)
{
    // The region's rows, as long as the output, must lie inside the input, and each needs an output row.
    TestPixmap in(kPixelType48RGB, 20, 10), grey(kPixelType12Mono, 20, 10);
    struct Case {
        bool crop;
        KRect region;
        int32_t outWidth, outHeight;
        const char* message;
    };
    const char* outside = "The region does not lie inside the input pixmap: ConvertColorPixmap.";
    const char* rows = "The output pixmap has fewer rows than the region: ConvertColorPixmap.";
    const Case cases[] = {
        {true, KRect(-1, 0, 9, 5), 10, 5, outside},
        {true, KRect(0, -1, 10, 4), 10, 5, outside},
        {true, KRect(11, 0, 21, 5), 10, 5, outside},    // left + output width beyond the row
        {true, KRect(15, 0, 19, 5), 10, 5, outside},    // a narrow crop still reads output-wide rows
        {true, KRect(0, 6, 10, 11), 10, 5, outside},
        {false, KRect(), 20, 9, rows},                   // no crop: every input row needs an output row
    };
    for (const Case& k : cases) {
        for (TestPixmap* source : {&in, &grey}) {
            TestPixmap out(kPixelType32BGRA, k.outWidth, k.outHeight);
            out.Fill(0xEE);
            EXPECT_EQ(ThrownMessage([&] {
                          ConvertColorPixmap(&source->Pixmap(), &out.Pixmap(), k.crop ? &k.region : nullptr);
                      }),
                      k.message)
                << "case " << (&k - cases);
            EXPECT_EQ(out.Data(), std::vector<uint8_t>(out.Data().size(), 0xEE));
        }
    }
    // An empty crop converts nothing and is no error.
    TestPixmap out(kPixelType32BGRA, 10, 5);
    const KRect empty(3, 4, 3, 4);
    EXPECT_NO_THROW(ConvertColorPixmap(&in.Pixmap(), &out.Pixmap(), &empty));
}

TEST(ColorRowConverters, CountZeroWritesNothing)
{
    const KRowConverter converters[] = {ConvertRow48SRGBTo32ARGB, ConvertRow24RGBTo32BGRA, ConvertRow30RGBTo32BGRA,
                                        ConvertRow32BGRATo32BGRA, ConvertRow30BGRLTo48BGR, ConvertRow48BGRTo48BGR};
    for (KRowConverter convert : converters) {
        uint8_t source[8] = {1, 2, 3, 4, 5, 6, 7, 8}, destination[8] = {};
        convert(0, source, destination);
        convert(-3, source, destination);
        EXPECT_EQ(std::vector<uint8_t>(destination, destination + 8), std::vector<uint8_t>(8, 0));
    }
}
