#include "KSizeTimeUniqueID.h"

#include "KPropTree.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "PlatformFile.h"

namespace {
constexpr KInt64 kTicksPerSecond = 10000000;

// The last-write time of the file in 100-ns units since 1970: from the platform where the URL names a native
// file (full resolution), else the whole seconds of the storage layer's information record.
KUInt64 ModifiedTicks(const KWString& url, const KFileInfo& info)
{
    KWString native;
    if (URLToNativePath(url, native)) {
        if (PlatFile* file = PlatCreateFile(WideToUtf8(native).c_str(), PLAT_GENERIC_READ,
                                            PLAT_SHARE_READ | PLAT_SHARE_WRITE, PLAT_OPEN_EXISTING)) {
            uint64_t created = 0, accessed = 0, written = 0;
            const bool known = PlatGetFileTime(file, &created, &accessed, &written);
            PlatCloseFile(file);
            if (known && written >= PLAT_TICKS_1601_TO_1970)
                return written - PLAT_TICKS_1601_TO_1970;
        }
    }
    return static_cast<KUInt64>(static_cast<KInt64>(info.modifiedTime) * kTicksPerSecond);
}
}  // namespace

KLoaderOutcome AppendSizeTimeUniqueID(KLoaderRequest& request, const char* loaderName)
{
    if (!request.m_pTree)
        return KLoaderOutcome::Fail(kIpErrBadArgument, KNarrowString("%s: Property list pointer is NULL", loaderName));
    KFileHolder file(OpenFileByURL(request.m_URL, KFILE_MODE_READ));
    if (!file)
        return KLoaderOutcome::Fail(kIpErrBadArgument,
                                    KNarrowString("%s::priGetUniqueID: unable to open file", loaderName));
    KFileInfo info;
    file->GetInfo(&info);
    const KUInt32 size = file->GetSize();
    file.reset();
    const KUInt64 ticks = ModifiedTicks(request.m_URL, info);
    request.m_pTree->AddPair("UNIQUEID",
                             KNarrowString("%X-%llX", size, static_cast<unsigned long long>(ticks)).CStr());
    return KLoaderOutcome::Done();
}
