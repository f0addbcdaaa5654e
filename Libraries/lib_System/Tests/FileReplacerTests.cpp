// Writing a file beside its target and putting it in place.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "KException.h"
#include "KFileReplacer.h"
#include "StorageFixture.h"

namespace fs = std::filesystem;

namespace {

// Writes "new" through a replacer opened by open, and commits.
template <class Open>
void WriteNew(Open open)
{
    KFileReplacer out;
    ASSERT_TRUE(open(out));
    ASSERT_NE(out.File()->Write("new", 3), 0);
    out.Commit();
}

size_t EntriesIn(const fs::path& folder)
{
    size_t entries = 0;
    for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
        ++entries;
    return entries;
}

}  // namespace

TEST_F(StorageTest, AFileReplacerWritesNamesAsLongAsTheSystemAllows)
{
    // Names of 255 bytes, the longest a folder entry may have: the temporary name beside them must fit too.
    std::string ascii(255, 'n');
    std::string accented;
    for (int i = 0; i < 127; ++i)
        accented += "\xC3\xA9";  // two bytes each
    accented += "x";
    std::string split(251, 'n');
    split += "\xF0\x9F\x93\xB7";  // a character outside the basic plane, two units, near the end
    for (const std::string& name : {ascii, accented, split}) {
        SCOPED_TRACE(name.size());
        WriteNew([&](KFileReplacer& out) { return out.Open(URL(name)); });
        EXPECT_EQ(lumotest::ReadText(Path(name)), "new");
        EXPECT_EQ(EntriesIn(Root()), 1u);  // no temporary file left beside it
        fs::remove(Path(name));
    }
}

TEST_F(StorageTest, AFileReplacerPutsTheFileUnderItsNameAsItStands)
{
    // A folder opens a file by its name as it stands: the replacement must land under that same name, also
    // when the name looks like an escaped URL component.
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(RootURL(), leaf, false));
    ASSERT_TRUE(folder);
    for (const char* name : {"it's #1.txt", "100%0041.txt", "50%25 off.txt"}) {
        SCOPED_TRACE(name);
        lumotest::WriteText(Path(name), "old");
        WriteNew([&](KFileReplacer& out) { return out.Open(folder.get(), Utf8ToWide(name)); });
        EXPECT_EQ(lumotest::ReadText(Path(name)), "new");
    }
    EXPECT_EQ(EntriesIn(Root()), 3u);
}

TEST_F(StorageTest, AFileReplacerRemovesTheTemporaryFilesOfEndedProcessesOnly)
{
    // A writer killed hard leaves its temporary file; the next write to that target clears it away, but never
    // one that a running process is still writing, nor one of another target.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    auto temp = [](const std::string& name, long pid, unsigned n) {
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%lx-%x.part", pid, n);
        return name + suffix;
    };
    const std::string longName(250, 'n');
    const std::string stale[] = {temp("a.jpg", child, 0), temp("a.jpg", child, 17),
                                 temp(longName.substr(0, 255 - temp("", child, 3).size()), child, 3)};
    const std::string kept[] = {temp("a.jpg", getpid(), 99), temp("a.jpg", getppid(), 1), temp("b.jpg", child, 0),
                                "a.jpg.part", "a.jpg.x-1.part"};
    for (const std::string& name : stale)
        lumotest::WriteText(Path(name), "stale");
    for (const std::string& name : kept)
        lumotest::WriteText(Path(name), "kept");
    WriteNew([&](KFileReplacer& out) { return out.Open(URL("a.jpg")); });
    WriteNew([&](KFileReplacer& out) { return out.Open(URL(longName)); });
    for (const std::string& name : stale)
        EXPECT_FALSE(fs::exists(Path(name))) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(Path(name))) << name;
    EXPECT_EQ(lumotest::ReadText(Path("a.jpg")), "new");
}
