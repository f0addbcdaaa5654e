#include "KFileIdentity.h"

#include <cstdio>

#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformFile.h"

KFileIdentity GetFileIdentityByURL(const KWString& url)
{
    KFileIdentity identity;
    KWString native;
    PlatFileIdentity found;
    if (URLToNativePath(url, native) && PlatGetFileIdentity(WideToUtf8(native).c_str(), &found)) {
        identity.known = true;
        identity.device = found.device;
        identity.inode = found.inode;
        identity.size = found.size;
        identity.writtenTicks = found.writtenTicks;
    }
    return identity;
}

std::string FileIdentityText(const KFileIdentity& identity)
{
    if (!identity.known)
        return std::string();
    char text[96];
    std::snprintf(text, sizeof text, "%llX.%llX.%llX.%llX", static_cast<unsigned long long>(identity.device),
                  static_cast<unsigned long long>(identity.inode), static_cast<unsigned long long>(identity.size),
                  static_cast<unsigned long long>(identity.writtenTicks));
    return text;
}
