#pragma once
// The image handle that the user-interface side holds: a pixmap with properties and a histogram, shared by
// reference counting (AddRef, Release; the last Release deletes it).
class KIHistogram;
class KPixmap;
class KPropTree;

class KIUiIpImage {
public:
    virtual KPixmap* GetPixmap() = 0;
    virtual KPropTree* GetProps() = 0;
    virtual void SetProps(KPropTree* tree) = 0;
    virtual KIHistogram* GetHistogramPointer() = 0;
    virtual void ComputeHistogram() = 0;
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    virtual ~KIUiIpImage() = default;
};
