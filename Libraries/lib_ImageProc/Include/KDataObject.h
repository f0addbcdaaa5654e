#pragma once
// Loaded data handed out by the data retriever: a reference-counted view of one cache block that holds
// either a decoded image (kind 0) or calibration bytes (kind 1). The block stays locked in the cache while the
// object lives. Getters of the other kind answer null (or 0).
//
// Threading: references may be added and released on any thread; the getters are for the holder's thread.
#include <atomic>

#include "KTypes.h"

class KICacheObject;
class KIpMgrAsync;
class KPixmap;
struct KCamfileBlockHeader;
struct KFrameBlockHeader;

enum KDataObjectKind : KUInt32 {
    kDataImage = 0,
    kDataCamfile = 1,
};

class KIDataObject {
public:
    virtual void AddRef() = 0;
    // Deletes the object when the last reference goes.
    virtual void Release() = 0;
    virtual KUInt32 GetKind() const = 0;
    // Kind 0: the image's width, height and pixel type; false for kind 1.
    virtual bool GetImageProperties(KInt32& width, KInt32& height, int& pixelType) const = 0;
    // Kind 0: the image's pixmap (valid while the object lives), else null.
    virtual KPixmap* GetImagePixmapPtr() const = 0;
    // Kind 1: the number of calibration bytes, else 0.
    virtual KUInt32 GetCamfileSize() const = 0;
    // Kind 1: the calibration bytes (8-byte aligned), else null.
    virtual void* GetCamfileData() const = 0;
    // Kind 1: which calibration the bytes are (1 camera file, 2 calibration block), else 0.
    virtual KUInt32 GetCamfileExtra() const = 0;
    // Kind 0: rows first .. first + count - 1 of the image into rows 0 .. count - 1 of `into` (of the image's
    // pixel type, at least its width). May be called by several threads at once. This one copies them from the
    // pixmap; an image decoded on demand has no pixmap and decodes them. Throws KException for rows outside
    // the image or a pixmap that does not fit.
    virtual void ReadImageRows(KInt32 first, KInt32 count, KPixmap& into) const;

protected:
    virtual ~KIDataObject() = default;
};

class KDataObject : public KIDataObject {
public:
    // Takes over one lock of a data block (a frame or calibration block, KDataBlocks); one reference.
    KDataObject(KICacheObject* block, KUInt32 kind);
    KDataObject(const KDataObject&) = delete;
    KDataObject& operator=(const KDataObject&) = delete;

    void AddRef() override;
    void Release() override;
    KUInt32 GetKind() const override { return m_Kind; }
    bool GetImageProperties(KInt32& width, KInt32& height, int& pixelType) const override;
    KPixmap* GetImagePixmapPtr() const override;
    KUInt32 GetCamfileSize() const override;
    void* GetCamfileData() const override;
    KUInt32 GetCamfileExtra() const override;

    // The block's own status block: whether its filling has finished.
    KIpMgrAsync* GetBlockStatus() const;
    KICacheObject* GetCacheObject() const { return m_pBlock; }

private:
    // Unlocks the block.
    ~KDataObject() override;
    // The block's header when it holds data of this object's kind, else null.
    const KFrameBlockHeader* priFrame() const;
    const KCamfileBlockHeader* priCamfile() const;

    KICacheObject* m_pBlock;
    std::atomic<KInt32> m_RefCount{1};
    KUInt32 m_Kind;
};
