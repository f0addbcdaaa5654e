#include "KPixmap.h"

#include <cstdint>
#include <new>

#include "KDebug.h"
#include "KException.h"
#include "NewKPixmap.h"
#include "PixelClassDispatch.h"

namespace {
// Every pixmap type has the same header: the table pointer and the four fields.
constexpr int32_t kPixmapHeaderSize = static_cast<int32_t>(sizeof(KPixmapTemplate<KPixelClass8Mono>));
static_assert(sizeof(KPixmapTemplate<KPixelClass48BGR>) == sizeof(KPixmapTemplate<KPixelClass8Mono>));
static_assert(alignof(KPixmapTemplate<KPixelClass48BGR>) == alignof(KPixmap));
}  // namespace

void GetKPixmapSizes(int pixelType, int32_t width, int32_t height, int32_t& headerSize, int32_t& rowBytes)
{
    const int bytes = KPixelTypeBytes(pixelType);
    if (bytes == 0)
        throw KException("GetKPixmapSizes: unknown pixmap type.");
    const int64_t row = (static_cast<int64_t>(width) * bytes + 3) & ~int64_t{3};
    if (width < 0 || row > INT32_MAX)
        throw KException(KNarrowString("GetKPixmapSizes: width %d out of range.", width).CStr());
    headerSize = kPixmapHeaderSize;
    rowBytes = static_cast<int32_t>(row);
}

KPixmap* MapKPixmapHeader(void* memory, int pixelType, int32_t width, int32_t height, int32_t rowBytes, void* data)
{
    const int bytes = KPixelTypeBytes(pixelType);
    if (bytes == 0)
        throw KException("MapKPixmapHeader: unknown pixmap type.");
    KASSERT(memory != nullptr && reinterpret_cast<uintptr_t>(memory) % alignof(KPixmap) == 0);
    if (rowBytes == 0)
        rowBytes = static_cast<int32_t>(static_cast<int64_t>(width) * bytes);
    KPixmap* pixmap = nullptr;
    DispatchPixelClass(pixelType, [&](auto pixelClass) {
        pixmap = new (memory) KPixmapTemplate<decltype(pixelClass)>(data, width, height, rowBytes);
    });
    return pixmap;
}

KPixmap* NewKPixmap(int pixelType, void* data, int32_t width, int32_t height, int32_t rowBytes)
{
    KPixmap* pixmap = nullptr;
    DispatchPixelClass(pixelType, [&](auto pixelClass) {
        pixmap = new KPixmapTemplate<decltype(pixelClass)>(data, width, height, rowBytes);
    });
    return pixmap;
}
