// The registry, the URL grammar and its escaping, the root folder and the step-wise copy.
#include <gtest/gtest.h>

#include "KCopyableFile.h"
#include "KException.h"
#include "KSCEnumFolder.h"
#include "StorageFixture.h"

namespace {

// A class that holds nothing, to stand beside "disk" in the registry.
class FakeClass : public KIStorageClass {
public:
    explicit FakeClass(int* deleted = nullptr) : m_Deleted(deleted) {}
    ~FakeClass() override
    {
        if (m_Deleted)
            ++*m_Deleted;
    }
    KIFile* OpenFile(const KWString&, int) override { return nullptr; }
    KIFolder* OpenFolder(const KWString&, KWString&, bool) override { return nullptr; }
    bool GetSpecialFolder(int kind, KWString& url) override
    {
        if (kind != KSPECIAL_NONE)
            return false;
        url = u"camera://";
        return true;
    }
    bool GetNativePath(const KWString&, KWString&) override { return false; }
    bool FromNativePath(const KWString&, KWString& path) override
    {
        path = u"attempt";
        return false;
    }
    const KWChar* GetName() override { return u"camera"; }
    const KWChar* GetDescription() override { return u"fake"; }
    void Launch(const KWString&, const KWChar*) override {}
    bool Exists(const KWString&, bool*) override { return false; }
    void MoveToTrash(const KWString&) override {}

private:
    int* m_Deleted;
};

}  // namespace

TEST(StorageURL, SplitAndCompose)
{
    struct Case {
        const char16_t* url;
        bool ok;
        std::vector<std::u16string> parts;
    } cases[] = {
        {u"disk://C//Photos/", true, {u"disk", u"C", u"Photos"}},
        {u"disk://", true, {u"disk"}},
        {u"disk", false, {}},
        {u"camera://DCIM/100/a.kzr", true, {u"camera", u"DCIM", u"100", u"a.kzr"}},
        {u"://x", true, {u"x"}},
    };
    for (const Case& c : cases) {
        std::vector<KWString> parts{KWString(u"stale")};
        EXPECT_EQ(SplitURL(c.url, parts), c.ok) << Ascii(c.url);
        ASSERT_EQ(parts.size(), c.parts.size()) << Ascii(c.url);
        for (size_t i = 0; i < parts.size(); ++i)
            EXPECT_EQ(parts[i].Str(), c.parts[i]);
    }

    std::vector<KWString> parts;
    SplitURL(u"disk://C//Photos/", parts);
    KWString url;
    ASSERT_TRUE(ComposeURL(parts, url, true));
    EXPECT_EQ(url, u"disk://C/Photos/");
    ASSERT_TRUE(ComposeURL(parts, url, false));
    EXPECT_EQ(url, u"disk://C/Photos");
    ASSERT_TRUE(ComposeURL({KWString(u"disk")}, url, true));
    EXPECT_EQ(url, u"disk:///");
    ASSERT_TRUE(ComposeURL({KWString(u"disk")}, url, false));
    EXPECT_EQ(url, u"disk://");
    url = u"junk";
    EXPECT_FALSE(ComposeURL({}, url, true));
    EXPECT_TRUE(url.IsEmpty());
}

TEST(StorageURL, EscapeAndUnescape)
{
    KWString out;
    EscapeURLComponent(u"it's#1", out);
    EXPECT_EQ(out, u"it%0027s%00231");
    KWString back;
    UnescapeURLComponent(out, back);
    EXPECT_EQ(back, u"it's#1");

    EscapeURLComponent(u"%/:\\'\"?*#a\u00e9", out);
    EXPECT_EQ(out, u"%0025%002F%003A%005C%0027%0022%003F%002A%0023a\u00e9");
    UnescapeURLComponent(out, back);
    EXPECT_EQ(back, u"%/:\\'\"?*#a\u00e9");

    // Malformed escapes: kept as written, nothing read past the end.
    struct Case {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"%", u"%"},
        {u"a%", u"a%"},
        {u"%12", u"%12"},
        {u"%123", u"%123"},
        {u"%zzzz", u"%zzzz"},
        {u"%0041", u"A"},
        {u"%00411", u"A1"},
        {u"%41zz", u"A"},     // "%x" reads the leading digits; the four units are consumed
        {u"%-001", u"?"},     // a negative value has no unit
        {u"%e9%00E9", u"\u00e90E9"},  // "e9%0" are the four units
    };
    for (const Case& c : cases) {
        UnescapeURLComponent(c.in, out);
        EXPECT_EQ(out.Str(), std::u16string(c.out)) << Ascii(c.in);
    }
}

TEST(StorageURL, SplitAndJoinStrings)
{
    std::vector<KWString> parts{KWString(u"stale")};
    SplitString(u"a//b/", parts, u"/");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], u"a");
    EXPECT_TRUE(parts[1].IsEmpty());
    EXPECT_EQ(parts[2], u"b");
    SplitString(u"", parts, u"/");
    EXPECT_TRUE(parts.empty());
    SplitString(u"/", parts, u"/");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_TRUE(parts[0].IsEmpty());

    KWString joined;
    JoinStrings({KWString(u"a"), KWString(u""), KWString(u"b")}, joined, u"\\");
    EXPECT_EQ(joined, u"a\\\\b");
    JoinStrings({}, joined, u"/");
    EXPECT_TRUE(joined.IsEmpty());
}

TEST_F(StorageTest, RegistryResolvesExactNames)
{
    KWString path = u"untouched";
    KIStorageClass* disk = ResolveURL(u"disk", path);
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(KWString(disk->GetName()), u"disk");
    EXPECT_TRUE(path.IsEmpty());
    EXPECT_EQ(ResolveURL(u"disk://C/Photos", path), disk);
    EXPECT_EQ(path, u"C/Photos");

    path = u"untouched";
    EXPECT_EQ(ResolveURL(u"Disk://C/", path), nullptr);
    EXPECT_EQ(path, u"untouched");
    EXPECT_EQ(OpenFileByURL(u"", KFILE_MODE_READ), nullptr);
    EXPECT_EQ(OpenFileByURL(u"nothing://a", KFILE_MODE_READ), nullptr);
    KWString leaf, native = u"x";
    EXPECT_EQ(OpenFolderByURL(u"nothing://a", leaf, false), nullptr);
    EXPECT_FALSE(URLToNativePath(u"", native));
    EXPECT_TRUE(native.IsEmpty());
    EXPECT_FALSE(ExistsByURL(u"nothing://a", nullptr));
    EXPECT_EQ(GetFileSizeByURL(u"nothing://a"), 0u);

    try {
        LaunchByURL(u"nothing://a\u00e9", nullptr);
        FAIL();
    } catch (const KExceptionStorageClassDoesNotExist& e) {
        EXPECT_STREQ(e.GetMessage(), "nothing://a?");
        EXPECT_STREQ(e.GetDescription(), "There is no storage class of that name");
    }
    EXPECT_THROW(MoveToTrashByURL(u"nothing://a"), KExceptionStorageClassDoesNotExist);
    // Without "://" there is no last component.
    EXPECT_THROW(DeleteFileByURL(u"disk"), KArrayException);
}

TEST_F(StorageTest, RootFolderListsClassesInOrder)
{
    int deleted = 0;
    RegisterStorageClass(u"camera", new FakeClass(&deleted));
    RegisterStorageClass(u"camera", new FakeClass(&deleted));  // the first stays
    EXPECT_EQ(deleted, 1);

    KWString leaf;
    KFolderHolder root(OpenFolderByURL(u"", leaf, false));
    ASSERT_TRUE(root);
    std::vector<KWString> names{KWString(u"kept")};
    root->ListFolders(names);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1], u"disk");
    EXPECT_EQ(names[2], u"camera");
    root->ListFiles(names);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(root->OpenFile(u"x", KFILE_MODE_WRITE), nullptr);
    EXPECT_FALSE(root->DeleteFile(u"disk"));
    EXPECT_TRUE(root->IsReadOnly());
    EXPECT_EQ(root->GetFreeSpace(), -1);
    EXPECT_EQ(root->GetDriveType(), 0);
    KUInt32 flags = KFOLDER_HIDDEN | 0x100;
    EXPECT_TRUE(root->GetAttributes(&flags));
    EXPECT_EQ(flags, KFOLDER_READONLY | 0x100u);
    KWString url = u"x";
    root->GetURL(url);
    EXPECT_TRUE(url.IsEmpty());
    try {
        root->Rename(u"disk", u"d");
        FAIL();
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetMessage(), "Cannot rename storage classes");
    }
    try {
        root->DeleteFolder(u"disk://", 1);
        FAIL();
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetMessage(), "Cannot delete storage classes");
    }
    // A listed class name opens that class's top level: the drives.
    KFolderHolder top(root->OpenFolder(u"disk", false));
    ASSERT_TRUE(top);
    top->GetURL(url);
    EXPECT_EQ(url, u"disk");

    // Special folders: the first class that answers; kind 7 only the fake one has.
    EXPECT_EQ(GetSpecialFolderURL(KSPECIAL_NONE), u"camera://");
    ShutdownStorageClasses();
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(ResolveURL(u"disk://C", leaf), nullptr);
    names.clear();
    KFolderHolder(OpenFolderByURL(u"", leaf, false))->ListFolders(names);
    EXPECT_TRUE(names.empty());
}

TEST_F(StorageTest, SpecialFolderNoneIsEmptyWithDiskAlone)
{
    EXPECT_TRUE(GetSpecialFolderURL(KSPECIAL_NONE).IsEmpty());
    EXPECT_TRUE(GetSpecialFolderURL(42).IsEmpty());
}

TEST_F(StorageTest, NativePathToURLAsksEveryClass)
{
    ShutdownStorageClasses();
    RegisterStorageClass(u"camera", new FakeClass);
    KWString url;
    EXPECT_FALSE(NativePathToURL(u"C:\\x", url));
    EXPECT_EQ(url, u"camera://attempt");
    RegisterDiskStorageClass();
    EXPECT_TRUE(NativePathToURL(u"C:\\x", url));
    EXPECT_EQ(url, u"disk://C/x");
}

TEST_F(StorageTest, CopyableFileCopiesStepByStep)
{
    std::string payload(10000, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    lumotest::WriteText(Root() / "src.bin", payload);

    // The disk file is no copyable file; a small one over a disk file shows the base class's behaviour.
    class Copyable : public KCopyableFile {
    public:
        explicit Copyable(KIFile* inner) : m_Inner(inner) {}
        ~Copyable() override { m_Inner->Release(); }
        void Release() override { delete this; }
        KUInt32 Seek(KUInt32 p) override { return m_Inner->Seek(p); }
        KUInt32 Tell() override { return m_Inner->Tell(); }
        bool ReadLine(KWString& l) override { return m_Inner->ReadLine(l); }
        void ReadExact(void* b, KUInt32 n) override { m_Inner->ReadExact(b, n); }
        KUInt32 Read(void* b, KUInt32 n) override { return m_Inner->Read(b, n); }
        int Write(const void*, KUInt32) override { return 0; }
        void Flush() override {}
        void SetEndOfFile(KUInt32) override {}
        KUInt32 GetSize() override { return m_Inner->GetSize(); }
        void GetURL(KWString& u) override { m_Inner->GetURL(u); }
        void GetInfo(KFileInfo* i) override { m_Inner->GetInfo(i); }
        void SetReadOnly(const KFileInfo*) override {}
        KInt32 ChunkSize() const { return m_ChunkSize; }

    private:
        KIFile* m_Inner;
    };

    Copyable* file = new Copyable(OpenFileByURL(URL("src.bin"), KFILE_MODE_READ));
    try {
        file->CopyStep(10);
        FAIL();
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetMessage(), "Destination file not opened!");
    }
    EXPECT_THROW(file->EndCopy(), KException);

    KUInt32 size = 1;
    ASSERT_TRUE(file->BeginCopy(URL("new/deeper/copy.bin"), &size, 0));
    EXPECT_EQ(size, 10000u);
    EXPECT_EQ(file->ChunkSize(), 4096);
    try {
        file->BeginCopy(URL("other.bin"), &size, 100);
        FAIL();
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetMessage(), "Copy in Progress!");
    }
    EXPECT_EQ(size, 0u);  // cleared before the refusal
    KUInt32 copied = 0;
    while (copied < 10000) {
        KUInt32 step = std::min<KUInt32>(4096, 10000 - copied);
        ASSERT_NE(file->CopyStep(step), 0);
        copied += step;
    }
    file->EndCopy();
    EXPECT_EQ(lumotest::ReadText(Root() / "new/deeper/copy.bin"), payload);

    // A destination that cannot be made: a file stands where its folder should be.
    lumotest::WriteText(Root() / "blocker", "x");
    file->Seek(0);
    EXPECT_FALSE(file->BeginCopy(URL("blocker/sub/copy.bin"), nullptr, 16));
    EXPECT_THROW(file->BeginCopy(u"", nullptr, 16), KArrayException);
    file->Release();
}
