#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "KICCProfiles.h"

namespace {

uint32_t Big32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint16_t Big16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
double S15Fixed16(const uint8_t* p) { return static_cast<int32_t>(Big32(p)) / 65536.0; }
std::string Sig(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

// The data of a tag (offset and size checked against the profile), or null.
const uint8_t* FindTag(const KICCProfile& profile, const char* signature, uint32_t* size)
{
    const uint32_t count = Big32(profile.data + 128);
    EXPECT_LE(132 + 12 * count, profile.size);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = profile.data + 132 + 12 * i;
        if (Sig(entry) == signature) {
            const uint32_t offset = Big32(entry + 4);
            *size = Big32(entry + 8);
            EXPECT_LE(uint64_t(offset) + *size, profile.size) << signature;
            return profile.data + offset;
        }
    }
    return nullptr;
}

struct Expected {
    int colorSpace;
    const char* description;
    double white[3];
    uint32_t curveEntries;   // 1: a gamma
    uint16_t gammaFixed8;    // gamma x 256
};

const Expected kExpected[] = {
    {2, "sRGB IEC61966-2.1", {0.95045, 1.0, 1.08905}, 1024, 0},
    {3, "Adobe RGB (1998)", {0.95045, 1.0, 1.08905}, 1, 563},   // 2.19921875
    {4, "Apple RGB", {0.95045, 1.0, 1.08905}, 1, 461},          // 1.80078125
    {8, "ColorMatch RGB", {0.96429, 1.0, 0.8251}, 1, 461},
    {11, "ProPhoto RGB", {0.9642, 1.0, 0.82489}, 1, 461},
};

}  // namespace

TEST(KICCProfiles, OneProfileForEachColourSpaceWithOne)
{
    EXPECT_EQ(kBuiltInICCProfileCount, 5);
    for (int code = -1; code <= 12; ++code) {
        const bool has = code == 2 || code == 3 || code == 4 || code == 8 || code == 11;
        const KICCProfile* profile = GetBuiltInICCProfile(code);
        EXPECT_EQ(profile != nullptr, has) << code;
        if (profile != nullptr) {
            EXPECT_EQ(profile->colorSpace, code);
        }
    }
}

TEST(KICCProfiles, HeadersAreVersionTwoDisplayProfiles)
{
    for (const Expected& e : kExpected) {
        const KICCProfile* profile = GetBuiltInICCProfile(e.colorSpace);
        ASSERT_NE(profile, nullptr);
        const uint8_t* h = profile->data;
        SCOPED_TRACE(e.description);
        EXPECT_STREQ(profile->description, e.description);
        EXPECT_EQ(Big32(h), profile->size);
        EXPECT_EQ(h[8], 2);      // version 2.1
        EXPECT_EQ(h[9], 0x10);
        EXPECT_EQ(Sig(h + 12), "mntr");
        EXPECT_EQ(Sig(h + 16), "RGB ");
        EXPECT_EQ(Sig(h + 20), "XYZ ");
        EXPECT_EQ(Sig(h + 36), "acsp");
        EXPECT_EQ(Big16(h + 24), 2003);  // a fixed date: the build is reproducible
        EXPECT_NEAR(S15Fixed16(h + 68), 0.9642, 1e-4);  // connection space illuminant D50
    }
}

TEST(KICCProfiles, TagsCarryDescriptionWhitePointCurvesAndColorants)
{
    for (const Expected& e : kExpected) {
        const KICCProfile& profile = *GetBuiltInICCProfile(e.colorSpace);
        SCOPED_TRACE(e.description);
        uint32_t size = 0;
        const uint8_t* desc = FindTag(profile, "desc", &size);
        ASSERT_NE(desc, nullptr);
        ASSERT_EQ(Sig(desc), "desc");  // the version 2 text description type
        const uint32_t length = Big32(desc + 8);
        ASSERT_LE(12 + length, size);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(desc + 12)), e.description);
        EXPECT_EQ(length, std::strlen(e.description) + 1);

        const uint8_t* white = FindTag(profile, "wtpt", &size);
        ASSERT_NE(white, nullptr);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(S15Fixed16(white + 8 + 4 * i), e.white[i], 1e-4);
        EXPECT_EQ(FindTag(profile, "chad", &size), nullptr);
        EXPECT_NE(FindTag(profile, "cprt", &size), nullptr);

        for (const char* curveTag : {"rTRC", "gTRC", "bTRC"}) {
            const uint8_t* curve = FindTag(profile, curveTag, &size);
            ASSERT_NE(curve, nullptr);
            ASSERT_EQ(Sig(curve), "curv");
            EXPECT_EQ(Big32(curve + 8), e.curveEntries);
            if (e.curveEntries == 1) {
                EXPECT_EQ(Big16(curve + 12), e.gammaFixed8);
            }
        }

        // The colorants, adapted to the connection space, add up to its white D50.
        double sum[3] = {0, 0, 0};
        for (const char* colorant : {"rXYZ", "gXYZ", "bXYZ"}) {
            const uint8_t* xyz = FindTag(profile, colorant, &size);
            ASSERT_NE(xyz, nullptr);
            for (int i = 0; i < 3; ++i)
                sum[i] += S15Fixed16(xyz + 8 + 4 * i);
        }
        EXPECT_NEAR(sum[0], 0.9642, 2e-3);
        EXPECT_NEAR(sum[1], 1.0, 2e-3);
        EXPECT_NEAR(sum[2], 0.8249, 2e-3);
    }
}

TEST(KICCProfiles, SRGBCurveHasTheLinearToeAndThePowerSegment)
{
    const KICCProfile& profile = *GetBuiltInICCProfile(2);
    uint32_t size = 0;
    const uint8_t* curve = FindTag(profile, "rTRC", &size);
    ASSERT_NE(curve, nullptr);
    auto entry = [&](int i) { return Big16(curve + 12 + 2 * i) / 65535.0; };
    EXPECT_EQ(entry(0), 0.0);
    EXPECT_EQ(entry(1023), 1.0);
    EXPECT_NEAR(entry(10), (10.0 / 1023) / 12.92, 2e-5);                                  // the toe
    EXPECT_NEAR(entry(512), std::pow((512.0 / 1023 + 0.055) / 1.055, 2.4), 2e-4);         // the power segment
    for (int i = 1; i < 1024; ++i)
        ASSERT_GT(entry(i), entry(i - 1)) << i;
}
