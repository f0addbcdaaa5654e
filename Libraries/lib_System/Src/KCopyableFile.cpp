#include "KCopyableFile.h"

#include "KException.h"
#include "KStorageURL.h"

KCopyableFile::~KCopyableFile()
{
    if (m_pDestFolder)
        m_pDestFolder->Release();
    if (m_pDestFile)
        m_pDestFile->Release();
}

bool KCopyableFile::BeginCopy(const KWString& destinationURL, KUInt32* size, KInt32 chunkSize)
{
    if (size)
        *size = 0;
    if (m_pDestFile)
        throw KException("Copy in Progress!");
    KWString folderURL, name, leaf;
    SplitLastPart(destinationURL, folderURL, name);
    KIFolder* folder = OpenFolderByURL(folderURL, leaf, true);
    if (!folder)
        return false;
    if (m_pDestFolder)
        m_pDestFolder->Release();
    m_pDestFolder = folder;
    m_pDestFile = m_pDestFolder->OpenFile(name, KFILE_MODE_WRITE);
    if (!m_pDestFile)
        return false;
    if (size)
        *size = GetSize();
    m_ChunkSize = chunkSize < 1 ? 4096 : chunkSize;
    m_pChunk.reset(new uint8_t[static_cast<size_t>(m_ChunkSize)]);
    return true;
}

int KCopyableFile::CopyStep(KUInt32 count)
{
    if (!m_pDestFile)
        throw KException("Destination file not opened!");
    // The caller keeps count within the chunk size; never read past the buffer if it does not.
    if (count > static_cast<KUInt32>(m_ChunkSize))
        count = static_cast<KUInt32>(m_ChunkSize);
    KUInt32 got = Read(m_pChunk.get(), count);
    // Nothing read (the file ended early or could not be read) is a failed step, never a copied one.
    if (got == 0 && count > 0)
        return 0;
    return m_pDestFile->Write(m_pChunk.get(), got);
}

void KCopyableFile::EndCopy()
{
    if (!m_pDestFile)
        throw KException("Destination file not opened!");
    if (m_pDestFolder)
        m_pDestFolder->Release();
    m_pDestFolder = nullptr;
    m_pDestFile->Release();
    m_pDestFile = nullptr;
    m_pChunk.reset();
}
