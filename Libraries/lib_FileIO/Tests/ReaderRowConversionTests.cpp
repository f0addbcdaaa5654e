#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "KPixmapExceptions.h"
#include "KReaderRowConversion.h"
#include "PixelTestClasses.h"

namespace {
constexpr int DepthOf(int type)
{
    return type >= kPixelType48RGB ? 16 : (type >= kPixelType30RGBL && type <= kPixelType30RGB) ? 11 : 8;
}

template <class S, class D>
KRowConverter Reference()
{
    return ConvertRowThroughTriple<S, D, DepthOf(D::kPixelType) - DepthOf(S::kPixelType)>;
}

// What the table promises for a colour source: unpack, shift to the destination's depth, pack.
template <class S>
KRowConverter ColourReference(int destinationType)
{
    switch (destinationType) {
    case 6: return Reference<S, KPixelClass24BGR>();
    case 7: return Reference<S, KPixelClass24RGB>();
    case 8: return Reference<S, KPixelClass30RGBL>();
    case 10: return Reference<S, KPixelClass30RGB>();
    case 11: return Reference<S, KPixelClass32ARGB>();
    case 12: return Reference<S, KPixelClass32ABGR>();
    case 13: return Reference<S, KPixelClass32BGRA>();
    case 14: return Reference<S, KPixelClass32RGBA>();
    case 15: return Reference<S, KPixelClass48RGB>();
    case 16: return Reference<S, KPixelClass48SRGB>();
    case 17: return Reference<S, KPixelClass48BGR>();
    default: return nullptr;
    }
}

KRowConverter GreyReference(int destinationType)
{
    switch (destinationType) {
    case 1: return ConvertRowThroughTriple<TestPixel16Mono, TestGrey<KPixelClass8Mono>, -8>;
    case 2: return ConvertRowThroughTriple<TestPixel16Mono, TestGrey<KPixelClass12Mono>, -4>;
    case 3: return ConvertRowThroughTriple<TestPixel16Mono, TestGrey<KPixelClass16Mono>, 0>;
    case 4: return ConvertRowThroughTriple<TestPixel16Mono, TestGrey<KPixelClass16SMono>, 0>;
    case 5: return ConvertRowThroughTriple<TestPixel16Mono, TestGrey<KPixelClass32Mono>, -4>;
    default: return nullptr;
    }
}

KRowConverter ReferenceFor(int source, int destination)
{
    switch (source) {
    case 3: return GreyReference(destination);
    case 7: return ColourReference<KPixelClass24RGB>(destination);
    case 8: return ColourReference<KPixelClass30RGBL>(destination);
    case 15: return ColourReference<KPixelClass48RGB>(destination);
    default: return nullptr;
    }
}
}  // namespace

// The whole table: which pairs it takes, why it refuses the others, and what the accepted ones produce.
TEST(KReaderRowConversion, TableAcceptsExactlyItsPairsAndConvertsByDepth)
{
    std::mt19937 rng(3);
    std::vector<uint8_t> source(9 * 6);
    for (auto& b : source)
        b = static_cast<uint8_t>(rng());

    for (int s = -1; s <= 18; ++s) {
        for (int d = -1; d <= 18; ++d) {
            const bool knownSource = s == 3 || s == 7 || s == 8 || s == 15;
            const bool accepted = (s == 3 && d >= 1 && d <= 5) || (knownSource && s != 3 && d >= 6 && d <= 17);
            KReaderRowRefusal refusal = KReaderRowRefusal::None;
            KRowConverter converter = FindReaderRowConverter(s, d, &refusal);
            ASSERT_EQ(converter != nullptr, accepted) << s << " -> " << d;
            const KReaderRowRefusal expected = accepted       ? KReaderRowRefusal::None
                                               : knownSource ? KReaderRowRefusal::UnknownDestination
                                                             : KReaderRowRefusal::UnknownSource;
            ASSERT_EQ(refusal, expected) << s << " -> " << d;
            if (!accepted)
                continue;
            std::vector<uint8_t> got(9 * 6 + 4, 0xCD);
            if (d == kPixelType30BGRL) {
                converter(0, source.data(), got.data());
                EXPECT_THROW(converter(1, source.data(), got.data()), KExceptionUnknownPixelType);
                continue;
            }
            std::vector<uint8_t> want(got);
            converter(9, source.data(), got.data());
            ReferenceFor(s, d)(9, source.data(), want.data());
            EXPECT_EQ(got, want) << s << " -> " << d;
        }
    }
}

TEST(KReaderRowConversion, RefusalsCarryTheReadersOwnMessages)
{
    struct Case {
        int source, destination;
        const char* message;
    };
    const Case cases[] = {
        {1, 1, "JPEGReader: Unknown source pixel type"},   // 8Mono is never converted
        {1, 7, "JPEGReader: Unknown source pixel type"},
        {0, 7, "JPEGReader: Unknown source pixel type"},
        {7, 1, "Unknown dest pixel type"},                  // colour into grey
        {3, 7, "Unknown dest pixel type"},                  // grey into colour
        {15, 0, "Unknown dest pixel type"},
    };
    for (const Case& c : cases) {
        try {
            GetReaderRowConverter(c.source, c.destination, "JPEGReader: Unknown source pixel type",
                                  "Unknown dest pixel type");
            ADD_FAILURE() << c.source << " -> " << c.destination;
        } catch (const KExceptionUnknownPixelType& e) {
            EXPECT_STREQ(e.GetMessage(), c.message) << c.source << " -> " << c.destination;
        }
    }
    EXPECT_EQ(GetReaderRowConverter(7, 17, "", ""), &ConvertRow24RGBTo48BGR);
    EXPECT_EQ(GetReaderRowConverter(7, 16, "", ""), &ConvertRow24RGBTo48RGB);
    EXPECT_EQ(GetReaderRowConverter(15, 16, "", ""), &ConvertRow48RGBTo48RGB);
    EXPECT_EQ(GetReaderRowConverter(8, 9, "", ""), &ConvertRowTo30BGRL);
}

TEST(KReaderRowConversion, RgbJpegRowIntoFortyEightBitPixmap)
{
    const uint8_t rgb[6] = {0x12, 0x34, 0x56, 0xFF, 0x00, 0x80};
    uint16_t out[6];
    GetReaderRowConverter(7, 15, "", "")(2, rgb, out);
    const uint16_t want[6] = {0x1200, 0x3400, 0x5600, 0xFF00, 0x0000, 0x8000};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], want[i]);
}
