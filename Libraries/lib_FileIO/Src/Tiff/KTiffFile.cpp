#include "KTiffFile.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <mutex>

#include "KDebug.h"
#include "KException.h"
#include "KStorage.h"
#include "KTextFunctions.h"

// The client procedures never let an exception of a storage class reach the library: they catch it, trace it
// and report a failure through their result.

namespace {

// The limit of one allocation of the library while it reads a file: a few bytes of a hostile file must not
// make it reserve gigabytes.
constexpr tmsize_t kMaxSingleAllocation = 256 * 1024 * 1024;

struct KTiffClient {
    KIFile* file = nullptr;
    bool owned = false;      // the TIFF releases the file when it closes
    bool writable = false;   // seeks past the end grow the file
    bool handedOver = false; // the open succeeded: the TIFF owns this record
};

KTiffClient* Client(thandle_t handle) { return static_cast<KTiffClient*>(handle); }

void TraceException(const char* procedure, const KException& e)
{
    DebugTrace("%s: %s: %s\n", procedure, e.GetDescription(), e.GetMessage());
}

tmsize_t TiffReadProc(thandle_t handle, void* buffer, tmsize_t count)
{
    KIFile* file = Client(handle)->file;
    tmsize_t done = 0;
    try {
        while (done < count) {
            const KUInt32 ask = static_cast<KUInt32>(std::min<tmsize_t>(count - done, 0x40000000));
            const KUInt32 got = file->Read(static_cast<uint8_t*>(buffer) + done, ask);
            done += got;
            if (got < ask)
                break;
        }
    } catch (const KException& e) {
        TraceException("TiffReadProc", e);
    }
    return done;
}

tmsize_t TiffWriteProc(thandle_t handle, void* buffer, tmsize_t count)
{
    KIFile* file = Client(handle)->file;
    try {
        tmsize_t done = 0;
        while (done < count) {
            const KUInt32 ask = static_cast<KUInt32>(std::min<tmsize_t>(count - done, 0x40000000));
            if (!file->Write(static_cast<const uint8_t*>(buffer) + done, ask))
                return 0;
            done += ask;
        }
        return count;
    } catch (const KException& e) {
        TraceException("TiffWriteProc", e);
        return 0;
    }
}

// Offsets are those of a 32-bit file: a target outside 0 .. 4 GiB - 2 moves nothing, and the result (the
// position) then differs from what the library asked for, which it takes as a failed seek.
toff_t TiffSeekProc(thandle_t handle, toff_t offset, int whence)
{
    KTiffClient* client = Client(handle);
    KIFile* file = client->file;
    try {
        const int64_t size = file->GetSize();
        const int64_t position = file->Tell();
        const int64_t signedOffset = static_cast<int64_t>(offset);
        int64_t target;
        bool grow;
        switch (whence) {
        case SEEK_SET:
            if (offset > 0xFFFFFFFEu)
                return file->Tell();
            target = static_cast<int64_t>(offset);
            grow = target > size;
            break;
        case SEEK_CUR:
            target = position + signedOffset;
            grow = target > size;
            break;
        case SEEK_END:
            target = size + signedOffset;
            grow = signedOffset > 0;
            break;
        default: return file->Tell();
        }
        if (target < 0 || target > 0xFFFFFFFEll)
            return file->Tell();
        if (grow && client->writable)
            file->SetEndOfFile(static_cast<KUInt32>(target));
        file->Seek(static_cast<KUInt32>(target));
        return file->Tell();
    } catch (const KException& e) {
        TraceException("TiffSeekProc", e);
        return static_cast<toff_t>(-1);
    }
}

int TiffCloseProc(thandle_t handle)
{
    KTiffClient* client = Client(handle);
    if (client->owned && client->file != nullptr) {
        try {
            client->file->Release();
        } catch (const KException& e) {
            TraceException("TiffCloseProc", e);
        }
    }
    client->file = nullptr;
    if (client->handedOver)
        delete client;
    return 0;
}

toff_t TiffSizeProc(thandle_t handle)
{
    try {
        return Client(handle)->file->GetSize();
    } catch (const KException& e) {
        TraceException("TiffSizeProc", e);
        return 0;
    }
}

int TiffMapProc(thandle_t, void** base, toff_t* size)
{
    (void)base;
    (void)size;
    return 0;
}

void TiffUnmapProc(thandle_t, void*, toff_t) {}

void TraceLibraryMessage(const char* module, const char* format, va_list args, bool warning)
{
    char message[2048];
    std::vsnprintf(message, sizeof message, format, args);
    const char* kind = warning ? "Warning, " : "";
    if (module != nullptr)
        DebugTrace("%s: %s%s.\n", module, kind, message);
    else
        DebugTrace("%s%s.\n", kind, message);
}

// Makes the private tag known to every TIFF the library opens, after the extender that was there before.
TIFFExtendProc g_PreviousExtender = nullptr;

void TagExtender(TIFF* tiff)
{
    static const TIFFFieldInfo kFields[] = {
        {kTiffTagQuarel, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_LONG, FIELD_CUSTOM, 1, 1, const_cast<char*>("Quarel")},
    };
    TIFFMergeFieldInfo(tiff, kFields, sizeof kFields / sizeof kFields[0]);
    if (g_PreviousExtender != nullptr)
        g_PreviousExtender(tiff);
}

void InstallLibraryHooks()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(TiffWarningHandler);
        TIFFSetErrorHandler(TiffErrorHandler);
        g_PreviousExtender = TIFFSetTagExtender(TagExtender);
    });
}

void ReportError(const char* module, const char* format, ...) K_PRINTF_FORMAT(2, 3);
void ReportError(const char* module, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    TiffErrorHandler(module, format, args);
    va_end(args);
}

}  // namespace

void TiffWarningHandler(const char* module, const char* format, va_list args)
{
    TraceLibraryMessage(module, format, args, true);
}

void TiffErrorHandler(const char* module, const char* format, va_list args)
{
    TraceLibraryMessage(module, format, args, false);
}

TIFF* TIFFFileOpen(KIFile* file, const KWString& url, const char* mode, bool takeFile)
{
    InstallLibraryHooks();
    auto* client = new KTiffClient;
    client->file = file;
    client->owned = takeFile;
    client->writable = mode[0] != 'r' || mode[1] == '+';

    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFF* tiff = nullptr;
    if (options != nullptr) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
        const std::string name = WideToUtf8(url);
        tiff = TIFFClientOpenExt(name.c_str(), mode, client, TiffReadProc, TiffWriteProc, TiffSeekProc,
                                 TiffCloseProc, TiffSizeProc, TiffMapProc, TiffUnmapProc, options);
        TIFFOpenOptionsFree(options);
    }
    if (tiff == nullptr) {
        // The library may or may not have called the close procedure on its way out; the file goes once.
        if (client->owned && client->file != nullptr)
            client->file->Release();
        delete client;
        return nullptr;
    }
    client->handedOver = true;
    return tiff;
}

TIFF* TIFFOpen(const KWString& url, const char* mode)
{
    InstallLibraryHooks();
    int storageMode;
    bool keepExisting = false;
    switch (mode != nullptr ? mode[0] : '\0') {
    case 'r':
        if (mode[1] == '+') {
            storageMode = KFILE_MODE_APPEND;
            keepExisting = true;
        } else {
            storageMode = KFILE_MODE_READ;
        }
        break;
    case 'w': storageMode = KFILE_MODE_READWRITE; break;
    case 'a': storageMode = KFILE_MODE_APPEND | KFILE_MODE_READ; break;
    default: ReportError("TIFFOpen", "\"%s\": Bad mode", mode != nullptr ? mode : ""); return nullptr;
    }

    KIFile* file = nullptr;
    try {
        // "r+" reads and writes a file that exists; the storage mode that keeps contents would create one.
        bool isFolder = false;
        if (!keepExisting || (ExistsByURL(url, &isFolder) && !isFolder))
            file = OpenFileByURL(url, storageMode);
        if (file != nullptr && keepExisting)
            file->Seek(0);
    } catch (const KException& e) {
        TraceException("TIFFOpen", e);
        if (file != nullptr)
            file->Release();
        file = nullptr;
    }
    if (file == nullptr) {
        ReportError("TIFFOpen", "Cannot open file");
        return nullptr;
    }
    return TIFFFileOpen(file, url, mode);
}

KIFile* TIFFGetKIFile(TIFF* tiff) { return Client(TIFFClientdata(tiff))->file; }
