#include "KPNGLoader.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

#include "KDebug.h"
#include "KException.h"
#include "KIFile.h"

// libpng reports errors by a long jump to the point set in its read structure. The functions that set that
// point (priReadHeader, priReadRows) hold no object with a destructor, and the read callback leaves its catch
// block before it jumps, so the jump never skips a destructor. Objects that need one live in LoadPNGPixmap.

namespace {

// The largest chunk libpng may allocate for.
constexpr png_alloc_size_t kPNGMaxChunkBytes = 8u << 20;

struct ReadContext {
    KIFile* file = nullptr;
    char error[256] = {};  // the first error of the decode, for the trace
};

void PNGAPI OnError(png_structp png, png_const_charp message)
{
    auto* context = static_cast<ReadContext*>(png_get_error_ptr(png));
    if (context->error[0] == '\0')
        std::snprintf(context->error, sizeof context->error, "%s", message);
    png_longjmp(png, 1);
}

void PNGAPI OnWarning(png_structp, png_const_charp message)
{
    DebugTrace("LoadPNGPixmap: warning: %s\n", message);
}

void PNGAPI ReadBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* context = static_cast<ReadContext*>(png_get_io_ptr(png));
    bool failed = false;
    try {
        while (length > 0) {
            const KUInt32 ask = static_cast<KUInt32>(length > 0x40000000 ? 0x40000000 : length);
            context->file->ReadExact(data, ask);
            data += ask;
            length -= ask;
        }
    } catch (const KException& e) {
        std::snprintf(context->error, sizeof context->error, "%s: %s", e.GetDescription(), e.GetMessage());
        failed = true;
    }
    if (failed)
        png_error(png, "read failed");
}

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    size_t rowBytes = 0;
};

// Reads the header and asks for the transformations to 8-bit B, G, R, A. False on a libpng error.
bool priReadHeader(png_structp png, png_infop info, Header* header)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_sig_bytes(png, 4);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if (bitDepth == 16)
        png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
        if (bitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (transparency)
        png_set_tRNS_to_alpha(png);
    png_set_bgr(png);
    if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !transparency)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool priReadRows(png_structp png, png_infop info, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

struct PNGStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PNGStructs() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

KPNGPixmap* Decode(KIFile* file, const char** reason, ReadContext& context)
{
    unsigned char signature[4];
    file->Seek(0);
    if (file->Read(signature, 4) < 4) {
        file->Seek(0);
        *reason = "fewer than 4 bytes";
        return nullptr;
    }
    if (png_sig_cmp(signature, 0, 4) != 0) {
        *reason = "not a PNG file";
        return nullptr;
    }

    context.file = file;
    PNGStructs structs;
    structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
    if (structs.png == nullptr) {
        *reason = "no read structure";
        return nullptr;
    }
    structs.info = png_create_info_struct(structs.png);
    if (structs.info == nullptr) {
        *reason = "no info structure";
        return nullptr;
    }
    png_set_read_fn(structs.png, &context, ReadBytes);
    // Of the ancillary chunks only the transparency matters; the others (texts, profiles, ...) are skipped
    // unread, whatever length they claim.
    static const png_byte kTransparency[] = {'t', 'R', 'N', 'S', '\0'};
    png_set_keep_unknown_chunks(structs.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(structs.png, PNG_HANDLE_CHUNK_AS_DEFAULT, kTransparency, 1);
    png_set_chunk_malloc_max(structs.png, kPNGMaxChunkBytes);

    Header header;
    if (!priReadHeader(structs.png, structs.info, &header)) {
        *reason = context.error;
        return nullptr;
    }
    const uint64_t bytes = static_cast<uint64_t>(header.width) * header.height * 4;
    if (header.width == 0 || header.height == 0 || bytes > kPNGMaxPixmapBytes) {
        *reason = "image too large";
        return nullptr;
    }
    if (header.rowBytes != static_cast<size_t>(header.width) * 4) {
        *reason = "unexpected row layout";
        return nullptr;
    }

    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[bytes]);
    std::vector<png_bytep> rows;
    if (data == nullptr) {
        *reason = "out of memory";
        return nullptr;
    }
    rows.resize(header.height);
    for (png_uint_32 r = 0; r < header.height; ++r)
        rows[r] = data.get() + static_cast<size_t>(r) * header.width * 4;
    if (!priReadRows(structs.png, structs.info, rows.data())) {
        *reason = context.error;
        return nullptr;
    }
    return new KPNGPixmap(std::move(data), static_cast<int32_t>(header.width), static_cast<int32_t>(header.height));
}

}  // namespace

KPNGPixmap* LoadPNGPixmap(KIFile* file)
{
    if (file == nullptr)
        return nullptr;
    const char* reason = "";
    KPNGPixmap* pixmap = nullptr;
    ReadContext context;
    try {
        pixmap = Decode(file, &reason, context);
    } catch (const KException& e) {
        DebugTrace("LoadPNGPixmap: %s: %s\n", e.GetDescription(), e.GetMessage());
        reason = "";
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    }
    if (pixmap == nullptr) {
        KWString url;
        try {
            file->GetURL(url);
        } catch (const KException&) {
        }
        DebugTrace("LoadPNGPixmap: '%s' not loaded: %s\n", url.GetAscii(), reason);
        file->Release();
    }
    return pixmap;
}
