#pragma once
// Helpers for tests: a temporary folder removed at the end, and whole-file reads and writes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumotest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_Path; }
    std::filesystem::path operator/(const std::string& name) const { return m_Path / name; }

private:
    std::filesystem::path m_Path;
};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
std::string ReadText(const std::filesystem::path& path);

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// Runs a shell command and returns its standard output.
std::string CommandOutput(const std::string& command);

}  // namespace lumotest
