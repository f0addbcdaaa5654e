#include "KFileReplacer.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KException.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformFile.h"
#include "PlatformError.h"
#include "PlatformOS.h"

namespace {

// Longest name, in bytes, a folder entry may have.
constexpr size_t kMaxNameBytes = 255;

KWString TempNameFor(const KWString& name)
{
    static std::atomic<unsigned> counter{0};
    char suffix[40];
    int suffixBytes =
        std::snprintf(suffix, sizeof suffix, ".%x-%x.part", static_cast<unsigned>(PlatGetCurrentProcessId()), counter++);
    // The temporary name must be valid wherever the target's is: a long name gives up its end (never half a
    // character) to make room for the suffix.
    const size_t budget = kMaxNameBytes - static_cast<size_t>(suffixBytes);
    std::u16string_view units = name.View();
    size_t keep = 0, bytes = 0;
    while (keep < units.size()) {
        size_t step = 1;
        if (units[keep] >= 0xD800 && units[keep] <= 0xDBFF && keep + 1 < units.size() && units[keep + 1] >= 0xDC00 &&
            units[keep + 1] <= 0xDFFF)
            step = 2;
        size_t more = WideToUtf8(units.substr(keep, step)).size();
        if (bytes + more > budget)
            break;
        bytes += more;
        keep += step;
    }
    KWString temp(units.substr(0, keep));
    temp += suffix;
    return temp;
}

// The process whose temporary file for name this is (TempNameFor's form: name, or its start when it was too
// long, then ".<pid>-<n>.part" in hexadecimal); false for any other name.
bool TempFileOwner(const KWString& name, const KWString& candidate, uint32_t& processId)
{
    const std::string text = WideToUtf8(candidate);
    const std::string target = WideToUtf8(name);
    static const std::string kPart = ".part";
    if (text.size() <= kPart.size() || text.compare(text.size() - kPart.size(), kPart.size(), kPart) != 0)
        return false;
    size_t end = text.size() - kPart.size();
    size_t dash = text.rfind('-', end);
    if (dash == std::string::npos || dash + 1 == end)
        return false;
    size_t dot = text.rfind('.', dash);
    if (dot == std::string::npos || dot + 1 == dash)
        return false;
    for (size_t i = dot + 1; i < end; ++i)
        if (i != dash && !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    if (dash - dot - 1 > 8)
        return false;
    // The name before the suffix: the target's, or its start when the whole name left no room.
    const std::string stem = text.substr(0, dot);
    if (stem != target && !(target.compare(0, stem.size(), stem) == 0 && text.size() + 4 > kMaxNameBytes))
        return false;
    processId = static_cast<uint32_t>(std::strtoul(text.substr(dot + 1, dash - dot - 1).c_str(), nullptr, 16));
    return true;
}

// Removes the temporary files that writers of name left behind in folder when their process ended without
// finishing (killed, or the machine stopped). Those of a running process, this one's too, are its own.
void RemoveStaleTempFiles(KIFolder* folder, const KWString& name)
{
    std::vector<KWString> files;
    try {
        folder->ListFiles(files);
    } catch (const KException&) {
        return;
    }
    for (const KWString& file : files) {
        uint32_t owner = 0;
        if (TempFileOwner(name, file, owner) && !PlatProcessExists(owner))
            folder->DeleteFile(file);
    }
}

// Puts temp in place of name: one rename where the folder has native paths, else delete and rename.
bool ReplaceInFolder(KIFolder* folder, const KWString& temp, const KWString& name)
{
    KWString folderURL, folderNative;
    folder->GetURL(folderURL);
    if (URLToNativePath(folderURL, folderNative)) {
        // The names as they stand, as the folder opened them (a URL's components would be unescaped).
        folderNative += u"\\";
        return PlatReplaceFile(WideToUtf8(folderNative + temp).c_str(), WideToUtf8(folderNative + name).c_str());
    }
    if (!folder->DeleteFile(name))
        return false;
    folder->Rename(temp, name);
    return true;
}

}  // namespace

KFileReplacer::~KFileReplacer()
{
    Abandon();
}

bool KFileReplacer::Open(KIFolder* folder, const KWString& name)
{
    Abandon();
    return priOpen(folder, name, false);
}

bool KFileReplacer::priOpen(KIFolder* folder, const KWString& name, bool ownFolder)
{
    m_OwnFolder = ownFolder;
    m_Failure = "No such file or directory";
    if (!folder || name.IsEmpty()) {
        if (folder && ownFolder)
            folder->Release();
        m_OwnFolder = false;
        return false;
    }
    RemoveStaleTempFiles(folder, name);
    m_TempName = TempNameFor(name);
    try {
        m_pFile = folder->OpenFile(m_TempName, KFILE_MODE_READWRITE);
    } catch (const KException&) {
        m_pFile = nullptr;
        m_Failure = PlatGetLastErrorReason();
    }
    if (!m_pFile) {
        if (m_OwnFolder)
            folder->Release();
        m_OwnFolder = false;
        return false;
    }
    m_pFolder = folder;
    m_Name = name;
    m_Failure.clear();
    return true;
}

bool KFileReplacer::Open(const KWString& targetURL)
{
    Abandon();
    m_Failure = "No such file or directory";
    std::vector<KWString> components;
    if (!SplitURL(targetURL, components) || components.size() < 2)
        return false;
    KWString name = components.back();
    components.pop_back();
    KWString folderURL, leaf;
    ComposeURL(components, folderURL, true);
    KIFolder* folder = OpenFolderByURL(folderURL, leaf, false);
    if (!folder)
        return false;
    return priOpen(folder, name, true);
}

void KFileReplacer::Commit()
{
    if (!m_pFile)
        throw KExceptionFileWrite("No file is being written");
    bool flushed = true;
    std::string reason;
    try {
        m_pFile->Flush();
    } catch (const KException&) {
        flushed = false;
        reason = PlatGetLastErrorReason();
    }
    m_pFile->Release();
    m_pFile = nullptr;
    if (flushed && !ReplaceInFolder(m_pFolder, m_TempName, m_Name))
        reason = PlatGetLastErrorReason();
    if (!reason.empty() || !flushed) {
        KNarrowString message("Cannot write '%s': %s; the old file is kept", WideToUtf8(m_Name).c_str(),
                              reason.c_str());
        Abandon();
        throw KExceptionFileWrite(message.CStr());
    }
    m_TempName.Clear();
    Abandon();
}

void KFileReplacer::Abandon()
{
    if (m_pFile) {
        m_pFile->Release();
        m_pFile = nullptr;
    }
    if (m_pFolder && !m_TempName.IsEmpty())
        m_pFolder->DeleteFile(m_TempName);
    if (m_pFolder && m_OwnFolder)
        m_pFolder->Release();
    m_pFolder = nullptr;
    m_OwnFolder = false;
    m_TempName.Clear();
    m_Name.Clear();
}
