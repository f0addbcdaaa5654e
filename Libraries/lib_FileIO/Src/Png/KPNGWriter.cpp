#include "KPNGWriter.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "KException.h"
#include "KFileReplacer.h"
#include "KIFile.h"
#include "KNarrowString.h"
#include "KPixmapExceptions.h"

// libpng reports errors by a long jump. priWrite, which sets the jump point, holds no object with a
// destructor, and the write callback leaves its catch block before it jumps.

namespace {

struct WriteContext {
    KIFile* file = nullptr;
    char error[256] = {};
};

void PNGAPI OnError(png_structp png, png_const_charp message)
{
    auto* context = static_cast<WriteContext*>(png_get_error_ptr(png));
    if (context->error[0] == '\0')
        std::snprintf(context->error, sizeof context->error, "%s", message);
    png_longjmp(png, 1);
}

void PNGAPI OnWarning(png_structp, png_const_charp) {}

void PNGAPI WriteBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* context = static_cast<WriteContext*>(png_get_io_ptr(png));
    bool failed = false;
    try {
        while (length > 0 && !failed) {
            const KUInt32 chunk = static_cast<KUInt32>(length > 0x40000000 ? 0x40000000 : length);
            failed = context->file->Write(data, chunk) == 0;
            data += chunk;
            length -= chunk;
        }
    } catch (const KException& e) {
        std::snprintf(context->error, sizeof context->error, "%s: %s", e.GetDescription(), e.GetMessage());
        failed = true;
    }
    if (failed) {
        if (context->error[0] == '\0')
            std::snprintf(context->error, sizeof context->error, "the write failed");
        png_error(png, "write failed");
    }
}

void PNGAPI FlushBytes(png_structp) {}

struct PNGStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PNGStructs() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }
};

bool priWrite(png_structp png, png_infop info, const KPixmap& pixmap)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(pixmap.GetWidth()), static_cast<png_uint_32>(pixmap.GetHeight()),
                 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int32_t y = 0; y < pixmap.GetHeight(); ++y)
        png_write_row(png, pixmap.GetRow(y));
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

void SavePNGPixmap(const KPixmap& pixmap, const KWString& url)
{
    if (pixmap.GetPixelType() != kPixelType32BGRA)
        throw KExceptionUnknownPixelType("SavePNGPixmap takes 32BGRA pixels");
    if (pixmap.GetWidth() < 1 || pixmap.GetHeight() < 1 || pixmap.GetData() == nullptr ||
        int64_t(pixmap.GetRowBytes()) < int64_t(pixmap.GetWidth()) * 4) {
        KNarrowString message("SavePNGPixmap: '%s': the pixmap has no pixels", url.GetAscii());
        throw KExceptionFileWrite(message.CStr());
    }

    KFileReplacer output;
    if (!output.Open(url))
        throw KExceptionFileOpen(url.GetAscii());

    WriteContext context;
    context.file = output.File();
    bool written = false;
    {
        PNGStructs structs;
        structs.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
        if (structs.png != nullptr)
            structs.info = png_create_info_struct(structs.png);
        if (structs.info != nullptr) {
            png_set_write_fn(structs.png, &context, WriteBytes, FlushBytes);
            written = priWrite(structs.png, structs.info, pixmap);
        } else {
            std::snprintf(context.error, sizeof context.error, "no memory for the encoder");
        }
    }
    if (!written) {
        output.Abandon();
        KNarrowString message("SavePNGPixmap: '%s': %s", url.GetAscii(), context.error);
        throw KExceptionFileWrite(message.CStr());
    }
    output.Commit();
}
