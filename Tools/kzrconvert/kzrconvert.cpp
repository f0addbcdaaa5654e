// kzrconvert: develops raw files and saves them as JPEG or TIFF files through the image-processing manager,
// as the user interface does: the disk storage class registered, the cache budget set, a save request filled
// and the manager's Idle called until the request has ended.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "IPManager2.h"
#include "KCache.h"
#include "KFileReplacer.h"
#include "KFileIdentity.h"
#include "KIpMgrReq.h"
#include "KPropTree.h"
#include "KSCDiskWin.h"
#include "KSaveGeometry.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KzrConvertOptions.h"

namespace fs = std::filesystem;
using namespace kzrconvert;

namespace {

struct Job {
    fs::path raw;
    fs::path result;
    std::string shownRaw;     // the raw file and the result as the user named them, for messages
    std::string shownResult;
};

std::string Quoted(const fs::path& path)
{
    return path.string();
}

// The raw files named by the arguments, each with its result; false (reported) for arguments that name none.
bool CollectJobs(const Options& o, std::vector<Job>& jobs)
{
    bool ok = true;
    std::error_code ignored;
    const fs::path outDir = o.outDir.empty() ? fs::path() : fs::absolute(o.outDir, ignored).lexically_normal();
    auto add = [&](const fs::path& raw, const fs::path& shown) {
        const fs::path folder = outDir.empty() ? raw.parent_path() : outDir;
        fs::path result = folder / raw.filename();
        result.replace_extension(ResultExtension(o.format));
        fs::path shownResult = (o.outDir.empty() ? shown.parent_path() : fs::path(o.outDir)) / raw.filename();
        shownResult.replace_extension(ResultExtension(o.format));
        jobs.push_back({raw, result, shown.string(), shownResult.string()});
    };
    for (const std::string& input : o.inputs) {
        std::error_code error;
        const fs::path path = fs::absolute(input, error);
        const fs::file_status status = fs::status(path, error);
        if (fs::is_directory(status)) {
            std::vector<fs::path> raws;
            for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
                if (entry.is_regular_file(error) && IsRawFileName(entry.path().filename().string()))
                    raws.push_back(entry.path());
            if (error) {
                std::fprintf(stderr, "kzrconvert: %s: cannot list the folder (%s)\n", input.c_str(),
                             error.message().c_str());
                ok = false;
                continue;
            }
            std::sort(raws.begin(), raws.end());
            if (raws.empty())
                std::fprintf(stderr, "kzrconvert: %s: no raw files (.kzr, .qrl, .xxx) in the folder\n", input.c_str());
            for (const fs::path& raw : raws)
                add(raw, fs::path(input) / raw.filename());
        } else if (!fs::exists(status)) {
            std::fprintf(stderr, "kzrconvert: %s: no such file or folder\n", input.c_str());
            ok = false;
        } else if (!IsRawFileName(path.filename().string())) {
            std::fprintf(stderr, "kzrconvert: %s: not a raw file (.kzr, .qrl, .xxx)\n", input.c_str());
            ok = false;
        } else {
            add(path.lexically_normal(), fs::path(input));
        }
    }
    return ok;
}

// Calls the manager's Idle until the request has left state 1; shows the progress on a terminal.
void RunRequest(KIPManager& manager, KIpMgrReq& request, const std::string& label, bool showProgress)
{
    int shown = -1;
    while (request.m_Async.IsBusy()) {
        manager.Idle();
        const int percent = static_cast<int>(std::clamp(request.m_Async.GetProgress(), 0.0, 1.0) * 100.0);
        if (showProgress && percent != shown) {
            std::printf("\r%s %3d%%", label.c_str(), percent);
            std::fflush(stdout);
            shown = percent;
        }
    }
    if (showProgress && shown >= 0)
        std::printf("\r\033[K");
}

std::string Failure(const KIpMgrReq& request)
{
    return WideToUtf8(request.m_Async.m_Message) + " (error " + std::to_string(request.m_Async.GetError()) + ")";
}

// Develops and saves one raw file; the error text when it fails.
bool Convert(KIPManager& manager, const Options& o, const Job& job, bool showProgress, std::string& error,
             KInt32& width, KInt32& height)
{
    KWString rawURL, resultURL;
    if (!PosixFileToURL(job.raw.string(), rawURL) || !PosixFileToURL(job.result.string(), resultURL)) {
        error = "cannot name the file as a storage URL";
        return false;
    }
    // One file from start to end: each request checks its own reads, and this the whole conversion.
    const KFileIdentity identity = GetFileIdentityByURL(rawURL);
    const char* const kChanged = "the raw file was replaced or rewritten during the conversion";
    // The size as displayed, to fit the output into.
    KIpMgrReq properties;
    properties.m_Kind = kIpReqProperties;
    properties.m_FileName = rawURL;
    manager.Request(&properties);
    RunRequest(manager, properties, job.raw.filename().string(), false);
    if (properties.m_Async.GetState() != kDone) {
        error = Failure(properties);
        return false;
    }
    const KInt32 cols = properties.m_pImageProps->GetInt(KWString(u"COLS"), 0);
    const KInt32 rows = properties.m_pImageProps->GetInt(KWString(u"ROWS"), 0);
    const KInt32 outputWidth = o.width > 0 ? o.width : cols;
    const KInt32 outputHeight = o.height > 0 ? o.height : rows;
    if (cols < 1 || rows < 1) {
        error = "the file gives no image size (COLS " + std::to_string(cols) + ", ROWS " + std::to_string(rows) + ")";
        return false;
    }
    FitSaveSize(cols, rows, outputWidth, outputHeight, width, height);
    if (GetFileIdentityByURL(rawURL) != identity) {
        error = kChanged;
        return false;
    }
    if (width < 1 || height < 1) {
        error = "the " + std::to_string(cols) + " x " + std::to_string(rows) + " image fitted into " +
                std::to_string(outputWidth) + " x " + std::to_string(outputHeight) + " has no pixels";
        return false;
    }

    KIpMgrReq save;
    save.m_Kind = kIpReqSave;
    save.m_FileName = rawURL;
    save.m_SoftwareName = KWString(u"LumoDesk");
    save.m_Version = {LUMO_VERSION_MAJOR, LUMO_VERSION_MINOR, LUMO_VERSION_PATCH, 0};
    save.m_OutputWidth = outputWidth;
    save.m_OutputHeight = outputHeight;
    save.m_CropRect = KRect(0, 0, width, height);
    save.m_OutputFormat = o.format == Format::Tiff16 ? kOutput48RGB : kOutput24RGB;
    save.m_Adjustments[0] = o.exposure;
    save.m_ColorAdjust[0] = save.m_ColorAdjust[1] = save.m_ColorAdjust[2] = 1.0;
    save.m_OutputColorSpace = static_cast<KUInt32>(o.colorSpace);
    save.m_SaveFileName = resultURL;
    save.m_SaveFileFormat = o.format == Format::Jpeg ? kSaveJPEG : kSaveTIFF;
    save.m_SaveValue = static_cast<KUInt32>(o.quality);
    save.m_AllowMissingProfile = o.requireProfile ? 0 : 1;
    manager.Request(&save);
    RunRequest(manager, save, job.raw.filename().string(), showProgress);
    if (save.m_Async.GetState() != kDone) {
        error = Failure(save);
        // What a user can act on: the result that could not be made, and the system's reason.
        if (save.m_Async.GetError() == kIpErrFileIO) {
            KFileReplacer probe;
            if (!probe.Open(resultURL))
                error = "cannot write " + job.shownResult + ": " + probe.GetFailure() + "\n  (" + error + ")";
        }
        return false;
    }
    if (GetFileIdentityByURL(rawURL) != identity) {
        error = std::string(kChanged) + " (" + job.shownResult + " holds the picture of the new file)";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = ParseArguments(argc, argv);
    std::vector<Job> jobs;
    bool ok = CollectJobs(o, jobs);
    if (!o.outDir.empty() && !jobs.empty()) {
        std::error_code error;
        fs::create_directories(o.outDir, error);
        if (error) {
            std::fprintf(stderr, "kzrconvert: %s: cannot make the folder (%s)\n", o.outDir.c_str(),
                         error.message().c_str());
            return 1;
        }
    }

    RegisterDiskStorageClass();
    GetGlobalCache()->SetMaxSize(o.cacheMiB << 20);
    const bool showProgress = isatty(STDOUT_FILENO) != 0;
    {
        std::unique_ptr<KIPManager> manager(CreateIPManager2());
        std::map<fs::path, fs::path> written;  // result -> its raw file
        for (const Job& job : jobs) {
            const auto earlier = written.find(job.result);
            if (earlier != written.end()) {
                std::fprintf(stderr, "kzrconvert: %s: its result %s was written from %s already\n",
                             Quoted(job.raw).c_str(), Quoted(job.result).c_str(), Quoted(earlier->second).c_str());
                ok = false;
                continue;
            }
            const auto start = std::chrono::steady_clock::now();
            std::string error;
            KInt32 width = 0, height = 0;
            if (Convert(*manager, o, job, showProgress, error, width, height)) {
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::printf("%s -> %s (%d x %d, %.2f s)\n", Quoted(job.raw).c_str(), Quoted(job.result).c_str(), width,
                            height, seconds);
                written[job.result] = job.raw;
            } else {
                std::fprintf(stderr, "kzrconvert: %s: %s\n", job.shownRaw.c_str(), error.c_str());
                ok = false;
            }
            std::fflush(stdout);
            // Each file is developed once: what the cache holds of it goes before the next, so that a folder
            // of files needs no more memory than its largest file.
            KCache* cache = GetGlobalCache();
            const KUInt32 budget = cache->GetMaxSize();
            cache->SetMaxSize(0);
            cache->SetMaxSize(budget);
        }
    }
    ShutdownStorageClasses();
    return ok ? 0 : 1;
}
