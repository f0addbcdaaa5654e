#include "KJPEGCodec.h"

#include <cstring>

#include <jerror.h>

#include "KDebug.h"
#include "KIFile.h"

namespace {

// Messages of our own, after the library's.
enum { kFirstAddonMessage = 1000, kErrTooManyScans = kFirstAddonMessage };
const char* const kAddonMessages[] = {"Too many scans in the JPEG image (more than %d)", nullptr};

void OutputMessage(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    DebugTrace("JPEGLib message: %s\n", text);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    KJPEGErrorManager* error = reinterpret_cast<KJPEGErrorManager*>(cinfo->err);
    (*cinfo->err->output_message)(cinfo);
    (*cinfo->err->format_message)(cinfo, error->message);
    DebugTrace("JPEGIO Error: %s\n", error->message);
    // Back to KJPEGGuardedCall, which throws; the codec object stays for its owner to destroy.
    std::longjmp(error->jump, 1);
}

void InitErrorManager(KJPEGErrorManager& error, j_common_ptr cinfo)
{
    cinfo->err = jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.output_message = OutputMessage;
    error.pub.addon_message_table = kAddonMessages;
    error.pub.first_addon_message = kFirstAddonMessage;
    error.pub.last_addon_message = kErrTooManyScans;
    error.message[0] = 0;
}

// --- source ------------------------------------------------------------------------------------------------

KJPEGDecompressor::Source* SourceOf(j_decompress_ptr cinfo)
{
    return reinterpret_cast<KJPEGDecompressor::Source*>(cinfo->src);
}

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    KJPEGDecompressor::Source* src = SourceOf(cinfo);
    KUInt32 n = 0;
    bool failed = false;
    try {
        n = src->file->Read(src->buffer, kJPEGIOBufferSize);
    } catch (const KException& e) {
        DebugTrace("JPEGIO: read failed: %s (%s)\n", e.GetMessage(), e.GetDescription());
        failed = true;
    } catch (...) {
        failed = true;
    }
    // The codec's error is raised only here, outside the handlers.
    if (failed || n > kJPEGIOBufferSize)
        ERREXIT(cinfo, JERR_FILE_READ);
    if (n == 0) {
        if (!src->started)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A file that ends early: a warning and an end-of-image marker, so that decoding ends cleanly.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->started = true;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    KJPEGDecompressor::Source* src = SourceOf(cinfo);
    size_t left = static_cast<size_t>(count);
    while (left > src->pub.bytes_in_buffer) {
        left -= src->pub.bytes_in_buffer;
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += left;
    src->pub.bytes_in_buffer -= left;
}

void TermSource(j_decompress_ptr) {}

void ProgressMonitor(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kJPEGMaxScans)
        ERREXIT1(cinfo, kErrTooManyScans, kJPEGMaxScans);
}

// --- destination -------------------------------------------------------------------------------------------

KJPEGCompressor::Destination* DestinationOf(j_compress_ptr cinfo)
{
    return reinterpret_cast<KJPEGCompressor::Destination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo)
{
    KJPEGCompressor::Destination* dest = DestinationOf(cinfo);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJPEGIOBufferSize;
}

// Writes n bytes of the buffer; false when the file refused them or threw.
bool WriteBuffer(KJPEGCompressor::Destination* dest, size_t n, bool flush)
{
    try {
        if (n > 0 && !dest->file->Write(dest->buffer, static_cast<KUInt32>(n)))
            return false;
        if (flush)
            dest->file->Flush();
        return true;
    } catch (const KException& e) {
        DebugTrace("JPEGIO: write failed: %s (%s)\n", e.GetMessage(), e.GetDescription());
    } catch (...) {
    }
    return false;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    KJPEGCompressor::Destination* dest = DestinationOf(cinfo);
    if (!WriteBuffer(dest, kJPEGIOBufferSize, false))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJPEGIOBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    KJPEGCompressor::Destination* dest = DestinationOf(cinfo);
    if (!WriteBuffer(dest, kJPEGIOBufferSize - dest->pub.free_in_buffer, true))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJPEGIOBufferSize;
}

}  // namespace

bool KJPEGGuardedCall(KJPEGErrorManager& error, void (*fn)(void*), void* arg)
{
    if (setjmp(error.jump) != 0)
        return false;
    fn(arg);
    return true;
}

KJPEGDecompressor::KJPEGDecompressor(KIFile* file)
{
    std::memset(&m_Info, 0, sizeof m_Info);
    InitErrorManager(m_Error, reinterpret_cast<j_common_ptr>(&m_Info));
    jpeg_decompress_struct* info = &m_Info;
    Call([info] { jpeg_create_decompress(info); });
    m_Source.file = file;
    m_Source.started = false;
    m_Source.pub.init_source = InitSource;
    m_Source.pub.fill_input_buffer = FillInputBuffer;
    m_Source.pub.skip_input_data = SkipInputData;
    m_Source.pub.resync_to_restart = jpeg_resync_to_restart;
    m_Source.pub.term_source = TermSource;
    m_Source.pub.next_input_byte = nullptr;
    m_Source.pub.bytes_in_buffer = 0;
    m_Info.src = &m_Source.pub;
    std::memset(&m_Progress, 0, sizeof m_Progress);
    m_Progress.progress_monitor = ProgressMonitor;
    m_Info.progress = &m_Progress;
}

KJPEGDecompressor::~KJPEGDecompressor()
{
    jpeg_destroy_decompress(&m_Info);
}

KJPEGCompressor::KJPEGCompressor(KIFile* file)
{
    std::memset(&m_Info, 0, sizeof m_Info);
    InitErrorManager(m_Error, reinterpret_cast<j_common_ptr>(&m_Info));
    jpeg_compress_struct* info = &m_Info;
    Call([info] { jpeg_create_compress(info); });
    m_Destination.file = file;
    m_Destination.pub.init_destination = InitDestination;
    m_Destination.pub.empty_output_buffer = EmptyOutputBuffer;
    m_Destination.pub.term_destination = TermDestination;
    m_Destination.pub.next_output_byte = nullptr;
    m_Destination.pub.free_in_buffer = 0;
    m_Info.dest = &m_Destination.pub;
}

KJPEGCompressor::~KJPEGCompressor()
{
    jpeg_destroy_compress(&m_Info);
}
