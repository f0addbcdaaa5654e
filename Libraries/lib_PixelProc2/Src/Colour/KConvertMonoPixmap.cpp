#include "KConvertColorPixmap.h"

#include "KConversionFrame.h"
#include "KException.h"

namespace {
using namespace KPixelMemory;

// The grey level of one cell of grey type SourceType at an output depth of 8, 11 or 16 bits.
template <int SourceType, int Depth>
inline int32_t GreyLevel(const uint8_t* cell)
{
    if constexpr (SourceType == kPixelType8Mono) {
        const int32_t v = cell[0];
        return Depth == 8 ? v : Depth == 11 ? v << 3 : v << 8;
    } else if constexpr (SourceType == kPixelType12Mono) {
        const int32_t v = Load16(cell, 0);
        return Depth == 8 ? v >> 4 : Depth == 11 ? v >> 1 : v << 4;
    } else if constexpr (SourceType == kPixelType16Mono) {
        const int32_t v = Load16(cell, 0);
        return Depth == 8 ? v >> 8 : Depth == 11 ? v >> 5 : v;
    } else if constexpr (SourceType == kPixelType16SMono) {
        const int32_t pattern = Load16(cell, 0);
        const int32_t value = static_cast<int16_t>(pattern);
        return Depth == 8 ? pattern >> 8 : Depth == 11 ? value >> 5 : pattern;
    } else {
        static_assert(SourceType == kPixelType32Mono);
        const int32_t low = static_cast<int32_t>(Load32(cell) & 0xFFFF);
        return Depth == 8 ? low >> 4 : Depth == 11 ? low >> 1 : low << 4;
    }
}

// The grey pixel writers: one grey level g in all three channels.
struct KGreyTo24 {
    static constexpr int kBytes = 3, kDepth = 8;
    static void Put(uint8_t* q, int32_t g)
    {
        q[0] = q[1] = q[2] = static_cast<uint8_t>(g);
    }
};
struct KGreyTo30RGBL {
    static constexpr int kBytes = 4, kDepth = 11;
    static void Put(uint8_t* q, int32_t g) { Store32(q, KPixelClass30RGBL::Pack(g, g, g)); }
};
struct KGreyTo30RGB {  // B keeps 10 bits: g >> 1
    static constexpr int kBytes = 4, kDepth = 11;
    static void Put(uint8_t* q, int32_t g) { Store32(q, KPixelClass30RGB::Pack(g, g, g)); }
};
struct KGreyTo32ARGB {
    static constexpr int kBytes = 4, kDepth = 8;
    static void Put(uint8_t* q, int32_t g) { Store32(q, 0xFFu | ((static_cast<uint32_t>(g) & 0xFF) * 0x01010100u)); }
};
struct KGreyTo32BGRA {
    static constexpr int kBytes = 4, kDepth = 8;
    static void Put(uint8_t* q, int32_t g)
    {
        Store32(q, 0xFF000000u | ((static_cast<uint32_t>(g) & 0xFF) * 0x00010101u));
    }
};
struct KGreyTo48 {
    static constexpr int kBytes = 6, kDepth = 16;
    static void Put(uint8_t* q, int32_t g)
    {
        Store16(q, 0, static_cast<uint32_t>(g));
        Store16(q, 1, static_cast<uint32_t>(g));
        Store16(q, 2, static_cast<uint32_t>(g));
    }
};

template <int SourceType, class Writer>
void ConvertGreyRow(int count, const void* source, void* destination)
{
    constexpr int kCellBytes = KPixelTypeBytes(SourceType);
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    for (size_t i = 0; i < n; ++i)
        Writer::Put(d + Writer::kBytes * i, GreyLevel<SourceType, Writer::kDepth>(s + kCellBytes * i));
}

template <class Writer>
KRowConverter GreyRowConverter(int sourceType)
{
    switch (sourceType) {
    case kPixelType8Mono: return ConvertGreyRow<kPixelType8Mono, Writer>;
    case kPixelType12Mono: return ConvertGreyRow<kPixelType12Mono, Writer>;
    case kPixelType16Mono: return ConvertGreyRow<kPixelType16Mono, Writer>;
    case kPixelType16SMono: return ConvertGreyRow<kPixelType16SMono, Writer>;
    case kPixelType32Mono: return ConvertGreyRow<kPixelType32Mono, Writer>;
    default: return nullptr;
    }
}

using KGreyTable = KRowConverter (*)(int sourceType);

KGreyTable WriterOf(int outputType)
{
    switch (outputType) {
    case kPixelType24BGR:
    case kPixelType24RGB: return GreyRowConverter<KGreyTo24>;
    case kPixelType30RGBL: return GreyRowConverter<KGreyTo30RGBL>;
    case kPixelType30RGB: return GreyRowConverter<KGreyTo30RGB>;
    case kPixelType32ARGB: return GreyRowConverter<KGreyTo32ARGB>;
    case kPixelType32BGRA: return GreyRowConverter<KGreyTo32BGRA>;
    case kPixelType48RGB:
    case kPixelType48BGR: return GreyRowConverter<KGreyTo48>;
    default: return nullptr;
    }
}

}  // namespace

void ConvertMonoPixmap(const KPixmap* input, KPixmap* output, const KRect* crop)
{
    using namespace KConversionFrame;
    CheckPixmaps(input, output);
    const KRect region =
        Region(*input, *output, crop, "The crop region is larger than the output pixmap: ConvertMonoPixmap.");
    const KGreyTable writer = WriterOf(output->GetPixelType());
    if (writer == nullptr)
        throw KException(kUnknownDestinationType);
    const KRowConverter convert = writer(input->GetPixelType());
    if (convert == nullptr)
        throw KException(kUnknownSourceType);
    ConvertRows(CheckedRows(*input, *output, region), convert);
}
