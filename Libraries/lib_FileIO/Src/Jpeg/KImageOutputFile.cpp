#include <atomic>
#include <random>

#include "KDebug.h"
#include "KException.h"
#include "KImageLineWriter.h"
#include "KNarrowString.h"
#include "KStorage.h"
#include "KUniqueName.h"

namespace {

std::atomic<unsigned> g_TempCounter{0};

// A token of this process, so that two programs writing beside one target pick different names.
unsigned ProcessToken()
{
    static const unsigned token = std::random_device{}();
    return token;
}

// A name of this process beside `name`, ending in `what` ("tmp") so that image lists pass it by.
KWString SideName(const KWString& name, const char* what)
{
    KWString out(name);
    out += KUniqueSuffix(what).CStr();
    return out;
}

}  // namespace

KNarrowString KUniqueSuffix(const char* what)
{
    return KNarrowString(".~%08x-%u.%s", ProcessToken(), ++g_TempCounter, what);
}

KImageOutputFile::KImageOutputFile(const KWString& url) : m_URL(url)
{
    const std::u16string& text = url.Str();
    size_t slash = text.rfind(u'/');
    if (slash == std::u16string::npos || slash + 1 == text.size())
        throw KExceptionFileOpen(url.GetAscii());
    m_FolderURL = KWString(std::u16string_view(text).substr(0, slash + 1));
    m_Name = KWString(std::u16string_view(text).substr(slash + 1));
    m_TempName = SideName(m_Name, "tmp");
    try {
        KWString leaf;
        m_pFolder.reset(OpenFolderByURL(m_FolderURL, leaf, false));
        if (m_pFolder)
            m_pFile.reset(m_pFolder->OpenFile(m_TempName, KFILE_MODE_WRITE));
    } catch (const KException& e) {
        DebugTrace("KImageOutputFile: cannot create '%s': %s (%s)\n", m_TempName.GetAscii(), e.GetMessage(),
                   e.GetDescription());
    }
    if (!m_pFile)
        throw KExceptionFileOpen(url.GetAscii());
}

KImageOutputFile::~KImageOutputFile()
{
    if (m_Committed)
        return;
    m_pFile.reset();
    if (!m_pFolder)
        return;
    try {
        m_pFolder->DeleteFile(m_TempName);
    } catch (const KException& e) {
        DebugTrace("KImageOutputFile: cannot remove '%s': %s\n", m_TempName.GetAscii(), e.GetMessage());
    }
}

bool KImageOutputFile::priExists(const KWString& name) const
{
    return ExistsByURL(m_FolderURL + name, nullptr);
}

void KImageOutputFile::Commit()
{
    if (m_Committed)
        return;
    m_pFile.reset();
    // An older file is moved aside first and removed only once the new one has its name, so that a failed
    // rename loses neither.
    KWString old;
    bool failed = false;
    try {
        if (priExists(m_Name)) {
            old = SideName(m_Name, "old");
            m_pFolder->Rename(m_Name, old);
            failed = priExists(m_Name) || !priExists(old);
        }
        if (!failed) {
            m_pFolder->Rename(m_TempName, m_Name);
            failed = !priExists(m_Name) || priExists(m_TempName);
        }
    } catch (const KException& e) {
        DebugTrace("KImageOutputFile: rename failed: %s (%s)\n", e.GetMessage(), e.GetDescription());
        failed = true;
    }
    if (failed) {
        try {
            if (!old.IsEmpty() && !priExists(m_Name) && priExists(old))
                m_pFolder->Rename(old, m_Name);
        } catch (const KException&) {
        }
        throw KExceptionFileWrite(
            KNarrowString("Cannot rename '%s' to '%s'", m_TempName.GetAscii(), m_URL.GetAscii()).CStr());
    }
    m_Committed = true;
    if (!old.IsEmpty() && !m_pFolder->DeleteFile(old))
        DebugTrace("KImageOutputFile: cannot remove '%s'\n", old.GetAscii());
}
