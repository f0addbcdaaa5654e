// The raw container writer: header fields changed in place and nothing else.
#include "KQrlbImageWriter.h"
#include "KzrNegative.h"
#include "KzrStandard.h"
#include "QrlbTestSupport.h"

using namespace KQrlb;

namespace {

std::vector<uint8_t> SmallFile(uint32_t version = kVersion22, const std::string& whiteBalance = "")
{
    kzrsynth::StandardOptions o;
    o.width = 16;
    o.height = 8;
    o.version = version;
    kzrsynth::FileLayout layout = kzrsynth::StandardLayout(o);
    layout.whiteBalance = whiteBalance;
    return kzrsynth::BuildFile(layout).bytes;
}

// Offsets of the bytes that differ.
std::vector<size_t> Changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    std::vector<size_t> out;
    EXPECT_EQ(a.size(), b.size());
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            out.push_back(i);
    return out;
}

TEST_F(RawTest, RotationChangesOnlyItsFourBytes)
{
    const std::vector<uint8_t> before = SmallFile();
    const KWString url = Disk(before);
    KQrlbImageWriter writer;
    writer.Open(url);
    EXPECT_EQ(writer.GetRotation(), 0);
    writer.SetRotation(270);
    writer.SetRotation(90);  // the second write goes to the same bytes
    // What the reader would refuse is never written.
    for (KInt32 degrees : {45, -90, 360, 0x01020304})
        ExpectThrowContaining<KExceptionQrlbWriter>([&] { writer.SetRotation(degrees); }, "cannot be stored");
    EXPECT_EQ(writer.GetRotation(), 90);
    writer.Close();
    const std::vector<uint8_t> after = lumotest::ReadBytes(Path("f.kzr"));
    EXPECT_EQ(Changed(before, after), (std::vector<size_t>{36}));
    KQrlbImageReader reader(url);
    EXPECT_EQ(reader.GetRotation(), 90);
}

TEST_F(RawTest, MarkBitsAreWrittenAsAWholeWord)
{
    const std::vector<uint8_t> before = SmallFile();
    const KWString url = Disk(before);
    KQrlbImageWriter writer;
    writer.Open(url);
    writer.SetMarkBits(0xA5000001u);
    writer.Close();
    const std::vector<uint8_t> after = lumotest::ReadBytes(Path("f.kzr"));
    EXPECT_EQ(Changed(before, after), (std::vector<size_t>{24, 27}));
    EXPECT_EQ(KQrlbImageReader(url).GetMarkBits(), 0xA5000001u);
}

TEST_F(RawTest, WhiteBalanceNeedsAFieldAndRoomForTheTerminator)
{
    const std::string longest(31, 'L');
    const struct {
        uint32_t version;
        std::string text;
        bool accepted;
    } cases[] = {
        {kVersion22, longest, true},         {kVersion22, longest + "x", false}, {kVersion21, "Flash", true},
        {kVersion10, "Flash", true},         {kVersion20, "Flash", false},       {kVersion22, "", true},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> before = SmallFile(c.version, "Incandescent-Fluorescent-Mix");
        const KWString url = Mem(before);
        KQrlbImageWriter writer;
        writer.Open(url);
        EXPECT_EQ(writer.SetWhiteBalance(c.text.c_str()), c.accepted) << c.text;
        writer.Close();
        const std::vector<uint8_t>& after = MemBytes();
        if (!c.accepted) {
            EXPECT_EQ(after, before);
            continue;
        }
        // The text and its terminator; the bytes of the old text behind it stay.
        const std::string old = "Incandescent-Fluorescent-Mix";
        for (size_t i = 0; i < kWhiteBalanceSize; ++i) {
            const uint8_t want = i < c.text.size() ? uint8_t(c.text[i])
                                 : i == c.text.size() ? 0
                                 : i < old.size()     ? uint8_t(old[i])
                                                      : 0;
            EXPECT_EQ(after[kOffWhiteBalance + i], want) << i;
        }
        EXPECT_EQ(Changed(before, after).size() <= c.text.size() + 1, true);
    }
}

TEST_F(RawTest, WriterOpenFailures)
{
    // A missing file is neither opened nor created.
    const KWString missing = KWString(Disk(SmallFile())) + u"-missing";
    ExpectThrowText<KExceptionQrlbWriter>([&] { KQrlbImageWriter().Open(missing); },
                                          "Error openning file for write.");
    EXPECT_FALSE(std::filesystem::exists(Path("f.kzr-missing")));

    kzrsynth::NegativeCase bad;
    bad.kind = kzrsynth::Negative::BadMagic;
    kzrsynth::StandardOptions o;
    o.width = 8;
    o.height = 8;
    const KWString notQrlb = Mem(kzrsynth::BuildNegative(kzrsynth::StandardLayout(o), bad).bytes, u"bad");
    ExpectThrowText<KExceptionNotAQrlb>([&] { KQrlbImageWriter().Open(notQrlb); }, "mem://bad");
    std::vector<uint8_t> bytes = SmallFile();
    WriteLE32(bytes.data() + kOffVersion, 0x00010000u);
    const KWString old = Mem(bytes, u"old");
    ExpectThrowText<KExceptionQrlbIncompatible>([&] { KQrlbImageWriter().Open(old); }, "mem://old");
    bytes.resize(200);
    const KWString cut = Mem(bytes, u"cut");
    EXPECT_THROW(KQrlbImageWriter().Open(cut), KExceptionEOF);
}

TEST_F(RawTest, AFailedWriteThrowsAndKeepsTheHeaderCopy)
{
    const std::vector<uint8_t> before = SmallFile();
    const KWString url = Mem(before);
    KQrlbImageWriter writer;
    writer.Open(url);
    writer.SetRotation(180);
    m_Memory->writeBudget = 0;  // the disk is full
    ExpectThrowContaining<KExceptionQrlbWriter>([&] { writer.SetRotation(90); }, "Error writing the rotation");
    EXPECT_EQ(writer.GetRotation(), 180);
    EXPECT_THROW(writer.SetMarkBits(1), KExceptionQrlbWriter);
    EXPECT_THROW(writer.SetWhiteBalance("Auto"), KExceptionQrlbWriter);
    writer.Close();
    EXPECT_EQ(Changed(before, MemBytes()), (std::vector<size_t>{36}));
}

TEST_F(RawTest, AFailedFlushReachesTheCaller)
{
    KQrlbImageWriter writer;
    writer.Open(Mem(SmallFile()));
    writer.SetMarkBits(2);
    m_Memory->failFlush = true;
    EXPECT_THROW(writer.Close(), KExceptionFileWrite);
    writer.Close();  // the file is released already: nothing more happens
}

}  // namespace
