// Bundles: the archive appended to a program, member look-up and reading, and hostile hosts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "KBundleFolder.h"
#include "KException.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KXMLParser.h"
#include "LumoStorageFixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kMkbundle = LUMO_BINARY_DIR "/Tools/mkbundle/mkbundle";
const std::string kBundleHost = LUMO_BINARY_DIR "/Tools/mkbundle/bundlehost";
const std::string kPlainProgram = LUMO_BINARY_DIR "/Tools/mkbundle/mkbundle";
const fs::path kData = LUMO_SOURCE_DIR "/Tools/mkbundle/Tests/data";

class BundleTest : public lumotest::StorageFixture {
protected:
    KWString URLOf(const fs::path& path)
    {
        KWString url;
        EXPECT_TRUE(PosixPathToURL(path.string(), url));
        return url;
    }
    std::vector<std::string> List(const fs::path& host)
    {
        KBundleFolder* folder = new KBundleFolder(URLOf(host));
        std::vector<KWString> names;
        folder->ListFiles(names);
        folder->Release();
        std::vector<std::string> out;
        for (const KWString& n : names)
            out.push_back(WideToUtf8(n));
        return out;
    }
    std::string Read(const fs::path& host, const char* member)
    {
        KBundleFolder* folder = new KBundleFolder(URLOf(host));
        KIFile* file = folder->OpenFile(Utf8ToWide(member), KFILE_MODE_READ);
        std::string bytes(file->GetSize(), '\0');
        if (!bytes.empty())
            file->ReadExact(bytes.data(), static_cast<KUInt32>(bytes.size()));
        file->Release();
        folder->Release();
        return bytes;
    }
};

// A tar header with the given name and size text; the rest as tar writes it.
std::string TarHeader(const std::string& name, const char* sizeText)
{
    std::string h(512, '\0');
    std::memcpy(h.data(), name.data(), name.size());
    std::memcpy(h.data() + 124, sizeText, std::strlen(sizeText) + 1);
    h[156] = '0';
    return h;
}

}  // namespace

TEST_F(BundleTest, TheWorkedExample)
{
    // Host of 11264 bytes; the trailer says 10240, so the archive starts at 1024.
    std::string host(11264, 'h');
    std::string h1 = TarHeader("ui.xml", "00000000017");
    host.replace(1024, 512, h1);
    host.replace(1536, 15, "<UI><A/></UI>\r\n");
    host.replace(1551, 497, std::string(497, '\0'));
    host.replace(2048, 512, TarHeader("b.txt", "00000000003"));
    host.replace(2560, 3, "bee");
    host.replace(2563, 509, std::string(509, '\0'));
    host.replace(3072, 512, std::string(512, '\0'));
    host.replace(11250, 14, "????0000010240");
    lumotest::WriteText(m_Temp / "host.bin", host);

    KBundleFolder* folder = new KBundleFolder(URLOf(m_Temp / "host.bin"));
    KBundleFile* ui = static_cast<KBundleFile*>(folder->OpenFile(u"ui.xml", KFILE_MODE_READ));
    EXPECT_EQ(ui->GetMemberStart(), 1536u);
    EXPECT_EQ(ui->GetSize(), 15u);
    KBundleFile* b = static_cast<KBundleFile*>(folder->OpenFile(u"b.txt", KFILE_MODE_WRITE));
    EXPECT_EQ(b->GetMemberStart(), 2560u);  // the next header is at 2048
    EXPECT_EQ(b->GetSize(), 3u);
    EXPECT_EQ(b->Write("x", 1), 0);
    KWString line;
    ASSERT_TRUE(ui->ReadLine(line));
    EXPECT_EQ(line, u"<UI><A/></UI>\r\n");
    EXPECT_FALSE(ui->ReadLine(line));  // the member's end, not the padding after it
    EXPECT_EQ(ui->Seek(0), 0u);
    EXPECT_EQ(ui->Tell(), 0u);
    char buf[64];
    EXPECT_EQ(ui->Read(buf, sizeof buf), 15u);
    EXPECT_EQ(ui->Read(buf, sizeof buf), 0u);
    ui->Seek(10);
    EXPECT_THROW(ui->ReadExact(buf, 6), KExceptionEOF);
    KWString url;
    ui->GetURL(url);
    EXPECT_EQ(url, URLOf(m_Temp / "host.bin"));
    KFileInfo info;
    ui->GetInfo(&info);
    EXPECT_EQ(info.flags, KFILEINFO_READONLY);
    ui->Release();
    b->Release();
    folder->Release();
    EXPECT_EQ(List(m_Temp / "host.bin"), (std::vector<std::string>{"ui.xml", "b.txt"}));
}

TEST_F(BundleTest, MkbundleWritesAHostPaddedArchiveAndTrailer)
{
    lumotest::WriteText(m_Temp / "host.bin", std::string(1000, 'p'));
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " " + (m_Temp / "host.bin").string() + " " + kData.string() + " " +
                                   (m_Temp / "out.bin").string()),
              0);
    std::string out = lumotest::ReadText(m_Temp / "out.bin");
    std::string tail = lumotest::CommandOutput("tail -c 14 " + (m_Temp / "out.bin").string());
    ASSERT_EQ(tail.size(), 14u);
    unsigned long long length = std::stoull(tail.substr(4));
    EXPECT_EQ(tail.substr(4), std::string(10 - std::to_string(length).size(), '0') + std::to_string(length));
    EXPECT_EQ(out.size() - length, 1024u);  // the host padded to a multiple of 512
    EXPECT_EQ(out.substr(0, 1000), std::string(1000, 'p'));
    std::string listing = lumotest::CommandOutput("tail -c +1025 " + (m_Temp / "out.bin").string() + " | head -c " +
                                                  std::to_string(length - 14) + " | tar tf -");
    EXPECT_EQ(listing, "images/logo.png\nui.xml\n");
    std::string verbose = lumotest::CommandOutput("tail -c +1025 " + (m_Temp / "out.bin").string() + " | head -c " +
                                                  std::to_string(length - 14) + " | tar tvf - 2>&1");
    EXPECT_EQ(verbose.find("checksum"), std::string::npos) << verbose;
    EXPECT_EQ(List(m_Temp / "out.bin"), (std::vector<std::string>{"images/logo.png", "ui.xml"}));
    EXPECT_EQ(Read(m_Temp / "out.bin", "images/logo.png"), lumotest::ReadText(kData / "images/logo.png"));

    // With no host the bundle stands alone and lists the same.
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " /dev/null " + kData.string() + " " + (m_Temp / "ui.ktb").string()), 0);
    EXPECT_EQ(List(m_Temp / "ui.ktb"), (std::vector<std::string>{"images/logo.png", "ui.xml"}));
    EXPECT_EQ(Read(m_Temp / "ui.ktb", "ui.xml"), lumotest::ReadText(kData / "ui.xml"));
    EXPECT_NE(lumotest::RunCommand(kMkbundle + " /dev/null /nonexistent " + (m_Temp / "x").string() + " 2>/dev/null"),
              0);
}

TEST_F(BundleTest, AProgramReadsItsOwnBundle)
{
    ASSERT_EQ(lumotest::RunCommand(kBundleHost + " > " + (m_Temp / "ui.xml").string()), 0);
    EXPECT_EQ(lumotest::RunCommand("cmp " + (m_Temp / "ui.xml").string() + " " + (kData / "ui.xml").string()), 0);
    EXPECT_EQ(lumotest::CommandOutput(kBundleHost + " ls"), "images/logo.png\nui.xml\n");
    EXPECT_EQ(lumotest::RunCommand(kBundleHost + " absent.xml > /dev/null"), 3);
    // A plain program is a bundle without members.
    EXPECT_TRUE(List(kPlainProgram).empty());
    EXPECT_TRUE(Read(kPlainProgram, "ui.xml").empty());
}

TEST_F(BundleTest, AProgramWhoseNameHoldsAnApostropheReadsItsOwnBundle)
{
    fs::create_directories(m_Temp / "Bob's tools");
    const fs::path copy = m_Temp / "Bob's tools" / "it's #1";
    fs::copy_file(kBundleHost, copy);
    EXPECT_EQ(lumotest::CommandOutput("\"" + copy.string() + "\" ls 2>&1").substr(0, 16), "images/logo.png\n");
}

TEST_F(BundleTest, HostileHostsHoldNoMembers)
{
    std::string good(1024, '\0');
    good.replace(0, 512, TarHeader("a", "00000000001"));
    good[512] = 'A';
    good += "BNDL0000001038";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"short", "0000000010"},
        {"empty", ""},
        {"letters in the length", good.substr(0, good.size() - 14) + "BNDL00000010x8"},
        {"no digits", good.substr(0, good.size() - 14) + std::string("BNDL\0\0\0\0\0\0\0\0\0\0", 14)},
        {"zero length", good.substr(0, good.size() - 14) + "BNDL0000000000"},
        {"longer than the host", good.substr(0, good.size() - 14) + "BNDL9999999999"},
        {"not on a block", "x" + good.substr(0, good.size() - 14) + "BNDL0000001038"},
        {"size not octal", [&] {
             std::string s = good;
             s.replace(0, 512, TarHeader("a", "0000000009"));
             return s;
         }()},
        {"size without terminator", [&] {
             std::string s = good;
             std::memcpy(s.data() + 124, "777777777777", 12);
             return s;
         }()},
        {"member beyond the archive", [&] {
             std::string s = good;
             s.replace(0, 512, TarHeader("a", "00000001001"));
             return s;
         }()},
    };
    for (const Case& c : cases) {
        lumotest::WriteText(m_Temp / "h.bin", c.bytes);
        EXPECT_TRUE(List(m_Temp / "h.bin").empty()) << c.what;
        EXPECT_EQ(Read(m_Temp / "h.bin", "a"), "") << c.what;
    }
    lumotest::WriteText(m_Temp / "h.bin", good);
    EXPECT_EQ(Read(m_Temp / "h.bin", "a"), "A");

    // A host that cannot be opened: a folder all the same, whose files are empty.
    KBundleFolder* folder = new KBundleFolder(URLOf(m_Temp / "missing.bin"));
    KIFile* file = folder->OpenFile(u"a", KFILE_MODE_READ);
    EXPECT_EQ(file->GetSize(), 0u);
    char b;
    EXPECT_EQ(file->Read(&b, 1), 0u);
    EXPECT_THROW(file->ReadExact(&b, 1), KExceptionEOF);
    std::vector<KWString> names;
    folder->ListFiles(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(folder->GetHandle()->GetRefCount(), 1);  // the file took no reference
    file->Release();
    folder->Release();
}

TEST_F(BundleTest, FilesShareTheHandleUntilTheLastGoes)
{
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " /dev/null " + kData.string() + " " + (m_Temp / "b.ktb").string()), 0);
    KBundleFolder* folder = new KBundleFolder(URLOf(m_Temp / "b.ktb"));
    KBundleFileHandle* handle = folder->GetHandle();
    std::vector<KWString> names;
    folder->ListFiles(names);
    EXPECT_EQ(handle->GetRefCount(), 1);
    KIFile* a = folder->OpenFile(u"ui.xml", KFILE_MODE_READ);
    KIFile* b = folder->OpenFile(u"images/logo.png", KFILE_MODE_READ);
    KIFile* absent = folder->OpenFile(u"nothing", KFILE_MODE_READ);
    EXPECT_EQ(absent->GetSize(), 0u);
    EXPECT_EQ(handle->GetRefCount(), 4);
    folder->Release();  // the folder first: the files keep the handle
    EXPECT_EQ(handle->GetRefCount(), 3);
    absent->Release();

    // Members read on two threads at once, each through its own host file.
    std::string first, second;
    std::thread t([&] {
        first.resize(a->GetSize());
        a->ReadExact(first.data(), a->GetSize());
    });
    second.resize(b->GetSize());
    b->ReadExact(second.data(), b->GetSize());
    t.join();
    EXPECT_EQ(first, lumotest::ReadText(kData / "ui.xml"));
    EXPECT_EQ(second, lumotest::ReadText(kData / "images/logo.png"));
    b->Release();
    a->Release();  // the last one releases the handle and the host (ASan reports a leak otherwise)

    KBundleFolder* again = new KBundleFolder(URLOf(m_Temp / "b.ktb"));
    EXPECT_EQ(again->OpenFolder(u"images", false), nullptr);
    KUInt32 flags = KFOLDER_HIDDEN;
    EXPECT_TRUE(again->GetAttributes(&flags));
    EXPECT_EQ(flags, KFOLDER_READONLY);
    EXPECT_TRUE(again->IsReadOnly());
    EXPECT_FALSE(again->DeleteFile(u"ui.xml"));
    KWString url;
    again->GetURL(url);
    EXPECT_EQ(url, URLOf(m_Temp / "b.ktb"));
    again->Release();
}

TEST_F(BundleTest, AMemberCopiesOutStepByStep)
{
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " /dev/null " + kData.string() + " " + (m_Temp / "b.ktb").string()), 0);
    KBundleFolder* folder = new KBundleFolder(URLOf(m_Temp / "b.ktb"));
    KBundleFile* file = static_cast<KBundleFile*>(folder->OpenFile(u"images/logo.png", KFILE_MODE_READ));
    KUInt32 size = 0;
    ASSERT_TRUE(file->BeginCopy(URLOf(m_Temp / "out/logo.png"), &size, 16));
    EXPECT_EQ(size, fs::file_size(kData / "images/logo.png"));
    for (KUInt32 done = 0; done < size; done += 16)
        ASSERT_NE(file->CopyStep(16), 0);
    file->EndCopy();
    EXPECT_EQ(lumotest::RunCommand("cmp " + (m_Temp / "out/logo.png").string() + " " +
                                   (kData / "images/logo.png").string()),
              0);
    file->Release();
    folder->Release();
}

TEST_F(BundleTest, ACopyFromAHostCutShortFails)
{
    // The bundle is replaced by a shorter file while a member is being copied out: the steps past the new end
    // copy nothing, and must not say they did.
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " /dev/null " + kData.string() + " " + (m_Temp / "b.ktb").string()), 0);
    KBundleFolder* folder = new KBundleFolder(URLOf(m_Temp / "b.ktb"));
    KBundleFile* file = static_cast<KBundleFile*>(folder->OpenFile(u"images/logo.png", KFILE_MODE_READ));
    KUInt32 size = 0;
    ASSERT_TRUE(file->BeginCopy(URLOf(m_Temp / "out/logo.png"), &size, 64));
    ASSERT_GT(size, 128u);
    ASSERT_NE(file->CopyStep(64), 0);
    fs::resize_file(m_Temp / "b.ktb", file->GetMemberStart() + 100);
    int failed = 0;
    for (KUInt32 done = 64; done < size; done += 64)
        failed += file->CopyStep(64) == 0;
    EXPECT_GT(failed, 0);
    file->EndCopy();
    EXPECT_LT(fs::file_size(m_Temp / "out/logo.png"), size);
    file->Release();
    folder->Release();
}

TEST_F(BundleTest, AScriptInABundleIncludesItsParts)
{
    fs::create_directories(m_Temp / "scripts");
    lumotest::WriteText(m_Temp / "scripts/ui.xml", "<UI><xi:include href=\"part.xml\"/><END/></UI>");
    lumotest::WriteText(m_Temp / "scripts/part.xml", "<P><WINDOW/><xi:include href=\"ui.xml\"/></P>");
    lumotest::WriteText(m_Temp / "scripts/ok.xml", "<P><WINDOW/></P>");
    lumotest::WriteText(m_Temp / "scripts/main.xml", "<UI><xi:include href=\"ok.xml\"/><END/></UI>");
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " /dev/null " + (m_Temp / "scripts").string() + " " +
                                   (m_Temp / "ui.ktb").string()),
              0);
    KBundleFolder* folder = new KBundleFolder(URLOf(m_Temp / "ui.ktb"));
    {
        KXMLParser parser;
        std::unique_ptr<KPropTree> root(parser.Load(folder, u"main.xml"));
        ASSERT_TRUE(root);
        EXPECT_EQ(WideToUtf8(root->GetFirstChild()->GetName()), "WINDOW");
        EXPECT_EQ(WideToUtf8(root->GetFirstChild()->GetNextSibling()->GetName()), "END");
        EXPECT_EQ(parser.GetReferencedFiles().size(), 1u);  // every member answers the bundle's URL
    }
    {
        KXMLParser parser;  // ui.xml and part.xml include each other
        EXPECT_EQ(parser.Load(folder, u"ui.xml"), nullptr);
    }
    folder->Release();
}
