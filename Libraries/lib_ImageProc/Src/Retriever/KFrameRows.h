#pragma once
// A raw frame that is decoded where it is used: a data object (kind 0) without a pixmap whose rows
// ReadImageRows decodes from the file, by any number of threads at once. It keeps the file open while it lives.
#include <atomic>
#include <memory>

#include "KDataObject.h"
#include "KWString.h"

class KQrlbImageReader;
class KQrlbImageRows;

class KFrameRows final : public KIDataObject {
public:
    // Opens image `index` of the raw file; throws as the reader does (missing file, damaged container, an
    // image it cannot read). One reference.
    KFrameRows(const KWString& url, KInt32 index);
    KFrameRows(const KFrameRows&) = delete;
    KFrameRows& operator=(const KFrameRows&) = delete;

    void AddRef() override;
    void Release() override;
    KUInt32 GetKind() const override { return kDataImage; }
    bool GetImageProperties(KInt32& width, KInt32& height, int& pixelType) const override;
    KPixmap* GetImagePixmapPtr() const override { return nullptr; }
    KUInt32 GetCamfileSize() const override { return 0; }
    void* GetCamfileData() const override { return nullptr; }
    KUInt32 GetCamfileExtra() const override { return 0; }
    void ReadImageRows(KInt32 first, KInt32 count, KPixmap& into) const override;

private:
    ~KFrameRows() override;

    std::unique_ptr<KQrlbImageReader> m_pReader;
    std::unique_ptr<KQrlbImageRows> m_pRows;
    std::atomic<KInt32> m_RefCount{1};
};
