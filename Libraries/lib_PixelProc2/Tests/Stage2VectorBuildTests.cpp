// The vector builds of the stage-2 row kernels give the bytes of their scalar builds: rows of every width
// around the vector's eight pixels, contents from typical noise to the ends of the 16-bit range, real and
// random tables of several sizes, and thresholds, matrices and offsets up to their extremes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "KChromaBlur.h"
#include "KColorNoise.h"
#include "KGlobalLUTs.h"
#include "RawStageTestSupport.h"

namespace {

using Samples = std::vector<int16_t>;

const int32_t kWidths[] = {1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 25, 63, 100};

struct Content {
    const char* name;
    std::function<int(std::mt19937&, size_t)> sample;
};

const Content kContents[] = {
    {"noise", [](std::mt19937& r, size_t) { return 1500 + int(r() % 3601) - 1800; }},
    {"near zero", [](std::mt19937& r, size_t) { return int(r() % 201) - 100; }},
    {"full range", [](std::mt19937& r, size_t) { return int(int16_t(r())); }},
    {"lowest", [](std::mt19937&, size_t) { return -32768; }},
    {"highest", [](std::mt19937&, size_t) { return 32767; }},
    {"alternating", [](std::mt19937&, size_t i) { return i % 2 ? 32767 : -32768; }},
};

// n samples of the content, placed one sample into their buffer so that no row starts aligned.
struct Row {
    Row(const Content& content, size_t n, uint32_t seed) : m_Data(n + 1)
    {
        std::mt19937 random(seed);
        for (size_t i = 0; i < n; ++i)
            m_Data[i + 1] = int16_t(content.sample(random, i));
    }
    int16_t* Get() { return m_Data.data() + 1; }
    bool operator==(const Row&) const = default;
    Samples m_Data;
};

// The tables: the soft limiter stage 2 makes (size 0 here) or three channels of random entries.
struct Table {
    const char* name;
    KUInt32 size;
};
const Table kTables[] = {{"soft limiter", 0}, {"2", 2}, {"16", 16}, {"4096", 4096}, {"65536", 65536}, {"131072", 131072}};

class RandomLUT {
public:
    explicit RandomLUT(KUInt32 size)
    {
        std::mt19937 random(size);
        m_Lut.m_Size = size;
        m_Lut.m_Mask = size - 1;
        for (int c = 0; c < 3; ++c) {
            m_Channels[c].resize(size);
            for (int16_t& v : m_Channels[c])
                v = int16_t(random());
            m_Lut.m_pData[c] = m_Channels[c].data();
        }
    }
    const KColorLUT& Get() const { return m_Lut; }

private:
    Samples m_Channels[3];
    KColorLUT m_Lut;
};

const KColorLUT& LutFor(const Table& t, std::unique_ptr<RandomLUT>& own)
{
    if (t.size == 0) {
        const double limits[3] = {40, 40, 40}, slopes[3] = {0.8, 0.8, 0.8};
        return *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    }
    own = std::make_unique<RandomLUT>(t.size);
    return own->Get();
}

// Runs kernel on rows of every width and content twice, with the vector and the scalar builds, and expects
// the same rows after; kernel(rows, width) gets rowCount fresh rows of the width's samples.
void ExpectBuildsAgree(int rowCount, const std::string& what,
                       const std::function<void(std::vector<Row>&, int32_t)>& kernel)
{
    uint32_t seed = 1;
    for (int32_t width : kWidths)
        for (const Content& content : kContents) {
            std::vector<Row> rows;
            for (int i = 0; i < rowCount; ++i)
                rows.emplace_back(content, 3 * size_t(width), seed++);
            std::vector<Row> scalar = rows;
            {
                rawstage::BaselineKernels baseline;
                kernel(scalar, width);
            }
            kernel(rows, width);
            ASSERT_TRUE(rows == scalar) << what << ", " << content.name << ", width " << width;
        }
}

const int32_t kSpatials[] = {1, 7, 400, 1 << 20, INT32_MAX};
const double kLimits[3] = {40, 40, 40};

}  // namespace

TEST(Stage2VectorBuilds, ThreeRowChromaBlur)
{
    // Rows: input, output, and the three ring slots.
    for (const Table& t : kTables) {
        std::unique_ptr<RandomLUT> own;
        const KColorLUT& lut = LutFor(t, own);
        ExpectBuildsAgree(5, std::string("table ") + t.name, [&](std::vector<Row>& rows, int32_t width) {
            KChromaBlurRing3 ring;
            for (int i = 0; i < 3; ++i)
                ring.m_pSlot[i] = rows[size_t(2 + i)].Get();
            ChromaBlurRow3(rows[0].Get(), rows[1].Get(), kLimits, 800, ring, width, lut);
        });
    }
}

TEST(Stage2VectorBuilds, FiveRowChromaBlur)
{
    // Rows: input, output, and the five ring slots (any 16-bit values: box values are saturated).
    for (const Table& t : kTables) {
        std::unique_ptr<RandomLUT> own;
        const KColorLUT& lut = LutFor(t, own);
        for (int32_t spatial : kSpatials)
            ExpectBuildsAgree(7, std::string("table ") + t.name + ", spatial " + std::to_string(spatial),
                              [&](std::vector<Row>& rows, int32_t width) {
                                  KChromaBlurRing5 ring;
                                  for (int i = 0; i < 5; ++i)
                                      ring.m_pSlot[i] = rows[size_t(2 + i)].Get();
                                  ChromaBlurRow(rows[0].Get(), rows[1].Get(), kLimits, spatial, ring, width, lut);
                              });
    }
}

TEST(Stage2VectorBuilds, CoarseChromaBlurParts)
{
    // Spreads from a gain of the whole unit (the horizontal row taken as it is) to none (the vertical kept).
    for (double spread : {1e-6, 0.5, 5.0, 1e9, -3.0})
        ExpectBuildsAgree(2, "spread " + std::to_string(spread), [&](std::vector<Row>& rows, int32_t width) {
            ChromaBlurCoarseVertical(spread, rows[0].Get(), rows[1].Get(), width);
        });
    for (const Table& t : kTables) {
        std::unique_ptr<RandomLUT> own;
        const KColorLUT& lut = LutFor(t, own);
        for (int32_t spatial : kSpatials)
            ExpectBuildsAgree(2, std::string("table ") + t.name + ", spatial " + std::to_string(spatial),
                              [&](std::vector<Row>& rows, int32_t width) {
                                  ChromaBlurCoarseApply(rows[0].Get(), 1, rows[1].Get(), kLimits, spatial, width, lut);
                              });
    }
}

TEST(Stage2VectorBuilds, ColorDQ)
{
    const KFixedMatrix3x3 matrices[] = {
        {8192, 0, 0, 0, 8192, 0, 0, 0, 8192},
        {9000, -500, -300, -700, 9100, -200, 100, -900, 8900},
        {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN},
    };
    // Offsets up to the vector build's bound and past it, to the largest allowed.
    const KInt32 offsets[][3] = {{0, 0, 0}, {3, -2, 5}, {65536, -65536, 0}, {65537, 0, 0}, {1 << 30, -(1 << 30), 7}};
    for (const Table& t : kTables) {
        std::unique_ptr<RandomLUT> own;
        const KColorLUT& lut = LutFor(t, own);
        for (const KFixedMatrix3x3& m : matrices)
            for (const auto& o : offsets)
                ExpectBuildsAgree(1,
                                  std::string("table ") + t.name + ", matrix " + std::to_string(m[0]) + ", offset " +
                                      std::to_string(o[0]),
                                  [&](std::vector<Row>& rows, int32_t width) {
                                      ColorDQRow(rows[0].Get(), width, m, lut, o[0], o[1], o[2]);
                                  });
    }
}
