#pragma once
// One question to a file loader: what to do with which file, the status block the loader answers in, and the
// arguments and results of each kind. The data retriever makes and owns it; a loader only reads and writes
// its fields.
//
// Threading: a request handed to a loader's thread is shared by two threads. The requester writes the
// arguments before handing it over and then only polls the status and progress and writes the cancel byte;
// the load thread writes progress while it runs, then the results, the message and the error, and the status
// last (release), so whoever sees a final status sees everything before it. Progress and the cancel byte are
// accessed atomically (the raw reader is handed their addresses).
#include <atomic>

#include "KFileIdentity.h"
#include "KIpMgrAsync.h"
#include "KTypes.h"
#include "KWString.h"

class KPixmap;
class KPropTree;

// What a loader is asked.
enum KLoaderKind : KInt32 {
    kLoadImageCount = 0,    // m_Value out: number of images
    kLoadImage = 1,         // m_Value in: image (or scale) index; m_pPixmap in (null: information only);
                            // m_Aux1, m_Aux2, m_ImageKind, m_PixelType out: width, height, kind, pixel type
    kLoadCameraFile = 2,    // m_pBuffer, m_BufferSize in (null: size only); m_Value out: payload size;
                            // m_Aux1 out: 1 camera file, 2 calibration block
    kLoadCalibration = 3,   // as kind 2
    kLoadProperties = 4,    // m_pTree in: the tree the file's properties are appended to
    kLoadModify = 5,        // m_pTree in: the changes to write into the file
    kLoadUniqueID = 6,      // m_pTree in: "UNIQUEID" is appended to it
};

// Error codes a loader reports besides the shared ones of KIpMgrError. Code 6 here means that the file is
// missing (in the image-processing request record it means a missing external calibration file).
enum : KUInt32 {
    kLoaderErrFileNotFound = 6,
};

// Image kinds a loader reports for an image.
enum : KInt32 {
    kImageKindRaw = 1,
    kImageKindDark = 2,
    kImageKindDarkSubtracted = 3,
    kImageKindViewable = 4,
};

struct KLoaderRequest {
    KLoaderRequest() = default;
    KLoaderRequest(const KLoaderRequest&) = delete;
    KLoaderRequest& operator=(const KLoaderRequest&) = delete;

    // Status 1, error 0, progress 0 (the start of a request).
    void Begin();
    // Ends a request: message and error first, then the status (release).
    void End(KUInt32 status, KUInt32 error, const KWString& message);
    void Done() { End(kDone, kIpErrNone, KWString()); }
    void Fail(KUInt32 error, const KWString& message) { End(kFailed, error, message); }

    KUInt32 GetStatus() const { return m_Status.load(std::memory_order_acquire); }
    bool IsBusy() const { return GetStatus() == kInProgress; }
    KUInt32 GetError() const { return m_Error.load(std::memory_order_relaxed); }
    double GetProgress() const { return std::atomic_ref<const double>(m_Progress).load(std::memory_order_relaxed); }
    void SetProgress(double progress) { std::atomic_ref<double>(m_Progress).store(progress, std::memory_order_relaxed); }
    bool IsCancelled() const { return std::atomic_ref<const KUInt8>(m_Cancel).load(std::memory_order_relaxed) != 0; }
    void SetCancel(bool cancel) { std::atomic_ref<KUInt8>(m_Cancel).store(cancel ? 1 : 0, std::memory_order_relaxed); }

    // Copies progress, status and error into a status block, and the message once the status has left 1;
    // the block's cancel flag is left alone. Returns the status copied (read once: decide on it, not on a
    // second read, which may already see the end).
    KUInt32 CopyStatusTo(KIpMgrAsync& to) const;
    // Takes progress, status, error and (when the status is not 1) the message of a status block.
    void CopyStatusFrom(const KIpMgrAsync& from);

    KWString m_URL;                     // storage URL of the file
    KFileIdentity m_Identity;           // when known: the file must be this one before and after the read
    KInt32 m_Kind = kLoadImageCount;    // KLoaderKind
    double m_Progress = 0.0;            // 0..1 during long reads (atomic access)
    std::atomic<KUInt32> m_Status{kInitialized};  // 1 busy, 2 done, 3 cancelled, 4 failed
    std::atomic<KUInt32> m_Error{kIpErrNone};
    KWString m_Message;                 // text of the failure
    KUInt8 m_Cancel = 0;                // set by the requester to stop a long read (atomic access)

    KUInt32 m_Value = 0;                // count, index or payload size (see KLoaderKind)
    KPropTree* m_pTree = nullptr;       // kinds 4, 5 and 6
    KUInt32 m_Aux1 = 0;                 // kind 1: width; kinds 2 and 3: which calibration was found
    KUInt32 m_Aux2 = 0;                 // kind 1: height
    void* m_pBuffer = nullptr;          // kinds 2 and 3: destination of the payload, or null
    KUInt32 m_BufferSize = 0;           // its size in bytes
    KInt32 m_ImageKind = 0;             // kind 1 out
    KInt32 m_PixelType = 0;             // kind 1 out
    KPixmap* m_pPixmap = nullptr;       // kind 1 in: destination, or null
};
