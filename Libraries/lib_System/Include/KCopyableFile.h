#pragma once
// A file that can copy its bytes, from its current position, to a new file step by step (so that a caller can
// show progress). Derived classes provide the KIFile operations. Idle -> copying (BeginCopy) -> idle (EndCopy).
#include <cstdint>
#include <memory>

#include "KIFolder.h"

class KCopyableFile : public KIFile {
public:
    KCopyableFile() = default;
    ~KCopyableFile() override;
    KCopyableFile(const KCopyableFile&) = delete;
    KCopyableFile& operator=(const KCopyableFile&) = delete;

    // Opens destinationURL for writing (mode 2), creating its folder; false when the folder or file cannot be
    // opened. *size (may be null) receives this file's size. chunkSize < 1 means 4096.
    // Throws KException "Copy in Progress!" while a copy is open.
    virtual bool BeginCopy(const KWString& destinationURL, KUInt32* size, KInt32 chunkSize);
    // Copies up to count bytes (at most the chunk size); the destination's write result (non-zero when the
    // bytes read were written; 0 as well when nothing could be read; the caller counts against the size
    // BeginCopy gave). Throws KException "Destination file not opened!" when no copy is open.
    virtual int CopyStep(KUInt32 count);
    // Closes the destination. Throws KException "Destination file not opened!" when no copy is open.
    virtual void EndCopy();

protected:
    KIFolder* m_pDestFolder = nullptr;
    KIFile* m_pDestFile = nullptr;
    KInt32 m_ChunkSize = 0;
    std::unique_ptr<uint8_t[]> m_pChunk;
};
