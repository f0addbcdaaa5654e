#pragma once
// The handle on a finished image that the image-processing manager gives the user interface: a view of a
// pixmap held in a cache block (KCachedPixmap.h), which stays locked, and so in the cache, while the handle
// lives; properties and a histogram made on first request. Made with one reference for the requester; each
// holder calls AddRef and Release, and the last Release deletes the handle.
#include <atomic>
#include <cstdint>

#include "KIPMImage.h"

class KICacheObject;
class KIHistogram;

class KPMImage2 : public KIPMImage {
public:
    // Locks the cache object for the handle.
    explicit KPMImage2(KICacheObject* cacheObject);
    KPMImage2(const KPMImage2&) = delete;
    KPMImage2& operator=(const KPMImage2&) = delete;

    KPixmap* GetPixmap() override;
    KPropTree* GetProps() override { return m_pProps; }
    // Deletes the tree held before and takes the new one (null allowed).
    void SetProps(KPropTree* tree) override;
    KIHistogram* GetHistogramPointer() override { return m_pHistogram; }
    // Makes the histogram on the first call; (re)counts it from the pixmap on every call.
    void ComputeHistogram() override;
    void AddRef() override;
    void Release() override;

    int32_t GetRefCount() const { return m_RefCount.load(); }
    // The cache block that holds the pixels (locked while the handle lives).
    KICacheObject* GetCacheObject() const { return m_pCacheObject; }

    // Unlocks the cache object; deletes the properties and the histogram.
    ~KPMImage2() override;

private:
    KICacheObject* m_pCacheObject;
    KPropTree* m_pProps = nullptr;
    KIHistogram* m_pHistogram = nullptr;
    std::atomic<int32_t> m_RefCount{1};
};
