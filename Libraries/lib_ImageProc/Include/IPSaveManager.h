#pragma once
// Carries out save requests (kind 4) for the manager that owns it: develops the image through the owner in
// strips of at most 100 rows and writes them through a JPEG or TIFF line writer, after the file's properties,
// a thumbnail of at most 160 x 160 and the ICC profile of the output colour space. The whole processed image
// never exists at once.
//
// The file is written under a temporary name in the destination folder and takes its name only once its last
// row is written and flushed; a failed or cancelled save leaves an earlier file at the target as it was and no
// temporary file behind.
//
// Threading: runs on the owner's thread, pumped by the owner's Idle. It asks the owner through a request
// record of its own and never calls the owner's Idle: the owner advances that request itself, right after
// this manager's slice, so a wait for the owner ends the slice instead of sleeping. A strip is encoded on the
// worker pool while the owner makes the next one.
#include <memory>
#include <vector>

#include "KFileIdentity.h"
#include "KIPManager.h"
#include "KIpMgrReq.h"
#include "KTypes.h"

class KImageLineWriter;
class KPoolTask;
class KPropTree;

class IPSaveManager : public KIPManager {
public:
    // The owner answers the properties and processed-image requests that this manager makes.
    explicit IPSaveManager(KIPManager* owner);
    // Cleans up (the unfinished file goes) and ends a running request with state 3.
    ~IPSaveManager() override;
    IPSaveManager(const IPSaveManager&) = delete;
    IPSaveManager& operator=(const IPSaveManager&) = delete;

    void Idle() override;
    // Refuses a second request (error 1), another kind than 4 (error 4), the display output format and any
    // output format but 2 and 3 (error 2), and a save file format other than 1 and 2 (error 4), before any file
    // is opened.
    void Request(KIpMgrReq* request) override;

    enum : KUInt32 {
        kStateIdle = 0,
        kStateOpen = 1,
        kStateRequestProperties = 2,
        kStateWaitProperties = 3,
        kStateCreateThumbnail = 4,
        kStateWriteProperties = 5,
        kStateRequestStrip = 6,
        kStateWriteStrip = 7,
        kStateFinish = 8,
        kStateCleanUp = 9,
    };
    KUInt32 GetState() const { return m_State; }

private:
    void priProcessIdle();
    void priStep(KIpMgrReq& request);
    void priOpen(KIpMgrReq& request);
    void priSaveRequestProperties(KIpMgrReq& request);
    void priWaitProperties(KIpMgrReq& request);
    void priSaveCreateThumbnail(KIpMgrReq& request);
    void priSaveWriteProperties(KIpMgrReq& request);
    void priSaveRequestStrip(KIpMgrReq& request);
    void priWriteStrip(KIpMgrReq& request);
    void priFinish(KIpMgrReq& request);
    void priCleanUp();

    // Whether the owner still works on the inner request; copies the record's cancel flag into it first.
    bool priInnerBusy(const KIpMgrReq& request);
    // Copies the inner request's status into the record when it did not end with state 2; whether it did.
    bool priInnerDone(KIpMgrReq& request);
    // The inner request made ready to ask for processed pixels: the record's inputs, kind 3, a cleared status.
    void priInnerFromRecord(const KIpMgrReq& request);
    // Waits until the strip being encoded is in the file; rethrows what the writer threw.
    void priWaitForWriter();
    // Takes the inner result image away from the inner request (the caller owns the reference).
    class KPMImage2* priTakeResult();

    KIPManager* m_pOwner;
    KUInt32 m_State = kStateIdle;
    KIpMgrReq* m_pCurrent = nullptr;
    KIpMgrReq m_Inner;
    std::unique_ptr<KImageLineWriter> m_pWriter;
    std::unique_ptr<KPoolTask> m_pWriting;  // the strip being encoded, on the pool
    std::vector<KUInt8> m_WritingRows;      // its rows; kept for the next save
    KInt32 m_RowsTotal = 0;
    KInt32 m_RowsWritten = 0;
    std::unique_ptr<KPropTree> m_pProps;
    KInt32 m_TopPadding = 0;
    KInt32 m_BottomPadding = 0;
    KInt32 m_StripRowCount = 0;
    KInt32 m_Cols = 0;
    KInt32 m_Rows = 0;
    KInt32 m_FittedHeight = 0;  // of the image the crop is taken from
    KFileIdentity m_SourceIdentity;  // of the file being saved, when the save began
    int m_PixelType = 0;  // of the rows written
    bool m_WaitingForOwner = false;  // the last step waited for the owner
};
