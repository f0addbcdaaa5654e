#include "KImage.h"

#include "KMemoryAllocator.h"
#include "KNarrowString.h"
#include "KPixmapExceptions.h"
#include "Pixmap/NewKPixmap.h"

int KImage::GetBytesPerPixel(int pixelType)
{
    const int bytes = KPixelTypeBytes(pixelType);
    if (bytes == 0)
        throw KExceptionUnknownPixelType("KImage::GetBytesPerPixel()");
    return bytes;
}

KImage::KImage(int32_t width, int32_t height, int pixelType, int32_t rowAlignment) : m_PixelType(pixelType)
{
    const int bytes = GetBytesPerPixel(pixelType);
    int64_t rowBytes = static_cast<int64_t>(width) * bytes;
    if (rowAlignment > 1)
        rowBytes = (rowBytes + rowAlignment - 1) / rowAlignment * rowAlignment;
    const int64_t size = rowBytes * height;
    if (width < 0 || height < 0 || rowBytes > INT32_MAX || size > (int64_t{1} << 40))
        throw KException(KNarrowString("KImage: bad size %d x %d.", width, height).CStr());

    m_pAllocator = GetMemoryAllocator();
    m_pBlock = m_pAllocator->Allocate(static_cast<size_t>(size));
    if (m_pBlock == nullptr && size != 0) {
        ReleaseMemoryAllocator(m_pAllocator);
        throw KException(KNarrowString("KImage: cannot allocate %d x %d pixels.", width, height).CStr());
    }
    void* pixels = m_pBlock != nullptr ? m_pAllocator->Lock(m_pBlock) : nullptr;
    try {
        m_pPixmap = NewKPixmap(pixelType, pixels, width, height, static_cast<int32_t>(rowBytes));
    } catch (...) {
        m_pAllocator->Free(m_pBlock);
        ReleaseMemoryAllocator(m_pAllocator);
        throw;
    }
}

KImage::~KImage()
{
    if (m_pBlock != nullptr)
        m_pAllocator->Free(m_pBlock);
    ReleaseMemoryAllocator(m_pAllocator);
    delete m_pPixmap;
}

bool KImage::SameGeometry(const KImage& other) const
{
    return m_pPixmap->GetWidth() == other.m_pPixmap->GetWidth() &&
           m_pPixmap->GetHeight() == other.m_pPixmap->GetHeight() && m_PixelType == other.m_PixelType;
}
