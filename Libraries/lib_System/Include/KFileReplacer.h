#pragma once
// Writes a file so that it is never left half-written: the bytes go to a temporary file beside the target,
// which takes the target's place only when every write and the final flush succeeded. Until then, and when
// anything fails, the old file stays as it was and the temporary file is removed.
//
//     KFileReplacer out;
//     if (!out.Open(folder, name)) ...;          // cannot create
//     ok = out.File()->Write(...) && ...;        // check every write
//     if (ok) out.Commit(); else out.Abandon();  // Commit throws KExceptionFileWrite on failure
#include <string>

#include "KIFolder.h"

class KFileReplacer {
public:
    KFileReplacer() = default;
    ~KFileReplacer();
    KFileReplacer(const KFileReplacer&) = delete;
    KFileReplacer& operator=(const KFileReplacer&) = delete;

    // Creates the temporary file (mode 3) beside name in folder; false when it cannot be created (the system's
    // reason is then GetFailure's).
    bool Open(KIFolder* folder, const KWString& name);
    // The same for a file URL; the folder is opened (not created) for the purpose.
    bool Open(const KWString& targetURL);
    KIFile* File() const { return m_pFile; }
    // Flushes and closes the temporary file and puts it in place of the target. Throws KExceptionFileWrite
    // (the target untouched, the temporary file removed) when that fails.
    void Commit();
    // Closes and removes the temporary file.
    void Abandon();
    // Why the last Open failed, in the system's words ("Permission denied", "No such file or directory", ...).
    const std::string& GetFailure() const { return m_Failure; }

private:
    bool priOpen(KIFolder* folder, const KWString& name, bool ownFolder);

    KIFolder* m_pFolder = nullptr;  // borrowed or owned (m_OwnFolder)
    bool m_OwnFolder = false;
    KIFile* m_pFile = nullptr;
    KWString m_Name;
    KWString m_TempName;
    std::string m_Failure;
};
