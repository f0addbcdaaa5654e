#pragma once
// The binding of the JPEG library to the program: codec objects that read and write through KIFile, and fatal
// codec errors turned into KExceptionJPEG in a C++ frame.
//
// Every call into the library goes through Call(): the library's error exit longjmps back to the setjmp in
// KJPEGGuardedCall, which returns false, and Call() then throws. Nothing with a destructor lives in the frames
// that the longjmp skips (the trampoline, the caller's lambda, the library, and our source and destination
// callbacks, which catch what the file throws and only then raise the codec's error).
//
// A codec object belongs to one reader or writer and is used by one thread at a time.
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include "KJPEGExceptions.h"
#include "KTypes.h"

class KIFile;

constexpr size_t kJPEGIOBufferSize = 4096;

// A progressive file of more scans than this is refused: real images have a dozen or two, and a hostile file
// of thousands of tiny scans would keep a decoder busy for minutes.
constexpr int kJPEGMaxScans = 1000;

struct KJPEGErrorManager {
    jpeg_error_mgr pub;  // first: the library sees a jpeg_error_mgr*
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Runs fn(arg) under a setjmp; false when the library's error exit came back here (message set).
bool KJPEGGuardedCall(KJPEGErrorManager& error, void (*fn)(void*), void* arg);

// Calls fn (a lambda that calls the library and holds nothing with a destructor); false after a fatal codec
// error (its text in error.message).
template <class F>
bool KJPEGTryCall(KJPEGErrorManager& error, F& fn)
{
    auto trampoline = [](void* p) { (*static_cast<F*>(p))(); };
    return KJPEGGuardedCall(error, trampoline, &fn);
}

// The same, with a fatal codec error thrown as KExceptionJPEG with the codec's text.
template <class F>
void KJPEGCall(KJPEGErrorManager& error, F& fn)
{
    if (!KJPEGTryCall(error, fn))
        throw KExceptionJPEG(error.message);
}

// A decompressor reading from a file (borrowed, must outlive it) through a 4096-byte buffer.
class KJPEGDecompressor {
public:
    explicit KJPEGDecompressor(KIFile* file);
    ~KJPEGDecompressor();
    KJPEGDecompressor(const KJPEGDecompressor&) = delete;
    KJPEGDecompressor& operator=(const KJPEGDecompressor&) = delete;

    jpeg_decompress_struct& Info() { return m_Info; }
    template <class F>
    void Call(F&& fn)
    {
        KJPEGCall(m_Error, fn);
    }
    // Like Call, but a codec error is traced and reported as false (for destructors).
    template <class F>
    bool CallQuietly(F&& fn)
    {
        return KJPEGTryCall(m_Error, fn);
    }

    struct Source {
        jpeg_source_mgr pub;
        KIFile* file;
        bool started;  // some bytes have been read
        JOCTET buffer[kJPEGIOBufferSize];
    };

private:
    KJPEGErrorManager m_Error;
    jpeg_decompress_struct m_Info;
    jpeg_progress_mgr m_Progress;
    Source m_Source;
};

// A compressor writing to a file (borrowed, must outlive it) through a 4096-byte buffer; every write is
// checked, and a failed write or flush is the codec's write error.
class KJPEGCompressor {
public:
    explicit KJPEGCompressor(KIFile* file);
    ~KJPEGCompressor();
    KJPEGCompressor(const KJPEGCompressor&) = delete;
    KJPEGCompressor& operator=(const KJPEGCompressor&) = delete;

    jpeg_compress_struct& Info() { return m_Info; }
    template <class F>
    void Call(F&& fn)
    {
        KJPEGCall(m_Error, fn);
    }

    struct Destination {
        jpeg_destination_mgr pub;
        KIFile* file;
        JOCTET buffer[kJPEGIOBufferSize];
    };

private:
    KJPEGErrorManager m_Error;
    jpeg_compress_struct m_Info;
    Destination m_Destination;
};
