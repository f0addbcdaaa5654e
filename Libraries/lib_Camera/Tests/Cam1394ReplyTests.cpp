// The checks a 1394 device's replies pass before the link uses their bytes.
#include <gtest/gtest.h>

#include <vector>

#include "Cam1394Request.h"

using namespace cam1394;

TEST(Cam1394Reply, HeaderRepliesMustCoverTheHeaderAndNoMoreThanAsked)
{
    struct Case {
        uint32_t success;
        uint32_t asked;
        uint32_t returned;
        bool accepted;
        uint32_t payload;
    };
    const Case cases[] = {
        {1, 4, 88, true, 4},       {1, 8108, 8192, true, 8108}, {1, 8108, 84, true, 0},
        {1, 8108, 3868, true, 3784}, {1, 4, 83, false, 0},      {1, 4, 0, false, 0},
        {1, 4, 89, false, 0},      {0, 4, 88, false, 0},        {1, 0xFFFFFFFF, 84, true, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> request(BufferBytes(8108), 0xEE);
        SetField(request.data(), kSuccessAt, c.success);
        SetField(request.data(), kOutputSizeAt, 0x12345678);
        EXPECT_EQ(AcceptHeaderReply(request.data(), c.asked, c.returned), c.accepted) << c.returned;
        if (c.accepted)
            EXPECT_EQ(Field(request.data(), kOutputSizeAt), c.payload) << c.returned;
        else
            EXPECT_EQ(Field(request.data(), kSuccessAt), 0u) << c.returned;
    }
}

TEST(Cam1394Reply, PayloadOnlyReadsDropPrefixAndTrailerAndNeedBoth)
{
    struct Case {
        uint32_t asked;
        uint32_t returned;
        bool accepted;
        uint32_t delivered;
    };
    const Case cases[] = {
        {4, 36, true, 4}, {8, 36, true, 4}, {4, 32, true, 0}, {4, 31, false, 0}, {4, 28, false, 0},
        {4, 0, false, 0}, {4, 40, true, 4},  // more than asked: only what was asked
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> payload(64);
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = uint8_t(i);
        uint32_t delivered = 0xFFFF;
        EXPECT_EQ(AcceptPayloadOnlyReadReply(payload.data(), c.asked, c.returned, &delivered), c.accepted)
            << c.returned;
        if (!c.accepted) {
            EXPECT_EQ(delivered, 0xFFFFu);
            continue;
        }
        EXPECT_EQ(delivered, c.delivered) << c.returned;
        for (uint32_t i = 0; i < delivered; ++i)
            EXPECT_EQ(payload[i], kPrefixSize + i);
    }
}

TEST(Cam1394Reply, TheConfigurationAreaComesWholeWithAtMost50Entries)
{
    for (uint32_t count : {0u, 5u, 50u, 51u, 75u, 0xFFFFFFFFu}) {
        CamConfigArea sent;
        ResetCamConfigArea(&sent);
        sent.magic = 0x4B56434B;
        sent.entryCount = count;
        sent.entries[49] = {0x50000, 1, 2, 3};
        CamConfigArea area;
        ResetCamConfigArea(&area);
        ASSERT_TRUE(AcceptConfigArea(reinterpret_cast<const uint8_t*>(&sent), sizeof sent, &area));
        EXPECT_EQ(area.entryCount, count < 50 ? count : 50u);
        EXPECT_EQ(area.magic, 0x4B56434Bu);
        EXPECT_EQ(area.entries[49].type, 0x50000u);
    }
    // A short area leaves the one in hand alone.
    std::vector<uint8_t> bytes(sizeof(CamConfigArea), 0x77);
    CamConfigArea area;
    ResetCamConfigArea(&area);
    EXPECT_FALSE(AcceptConfigArea(bytes.data(), sizeof(CamConfigArea) - 4, &area));
    EXPECT_EQ(area.baseLow, 0xF0010000u);
    EXPECT_EQ(area.entryCount, 0u);
}
