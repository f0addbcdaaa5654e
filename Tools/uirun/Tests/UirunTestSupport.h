#pragma once
// Shared by the uirun tests: the tool, the outcome of a run, and the PNG dumps read back through the storage
// classes.
#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "KPNGLoader.h"
#include "KStorage.h"

namespace uiruntest {

inline const std::string kUirun = LUMO_BINARY_DIR "/Tools/uirun/uirun";

using Rgb = std::array<int, 3>;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The PNG file's pixmap, or null.
inline std::unique_ptr<KPNGPixmap> Png(const std::filesystem::path& path)
{
    KWString url;
    if (!PosixFileToURL(path.string(), url))
        return nullptr;
    KIFile* file = OpenFileByURL(url, KFILE_MODE_READ);
    if (!file)
        return nullptr;
    std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(file));
    file->Release();
    return png;
}

// (r, g, b) of a pixel of a dump (B, G, R, A).
inline Rgb At(const KPNGPixmap& p, int x, int y)
{
    const uint8_t* q = p.GetRow(y) + x * 4;
    return {q[2], q[1], q[0]};
}

}  // namespace uiruntest
