#pragma once
// Writes a whole pixmap (8Mono, 24RGB or 24BGR) as a JPEG file, with an optional ICC profile. The file is
// complete when Write returns.
#include <memory>

#include "KJPEGLineWriter.h"

class KJPEGImageWriter : public KImageWriter {
public:
    KJPEGImageWriter(const KWString& url, int quality, bool flag);
    ~KJPEGImageWriter() override;

    void SetProfile(KUInt32 size, const void* data) override;
    // KExceptionUnknownPixelType (empty message) for a pixmap of another type.
    void Write(const KPixmap& pixmap, const KHasProperties& tags) override;

private:
    std::unique_ptr<KJPEGLineWriter> m_pWriter;
    KUInt32 m_ProfileSize = 0;
    const void* m_pProfile = nullptr;
};
