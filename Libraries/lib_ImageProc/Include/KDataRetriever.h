#pragma once
// The single door through which the image-processing manager reads image files. The retriever picks the
// loader for a file's extension (".xxx", ".qrl" and ".kzr" the raw loader, ".tif" the TIFF loader, ".jpg" the
// JPEG loader, compared without regard to case), turns the manager's request into a loader request, and keeps
// loaded frames and calibration data in the cache under labels made of the file name and its unique
// identifier, handing them out as KDataObjects.
//
// It has no thread: a request is answered or started by Request and advanced by Idle, which the owner calls
// until the request's state has left 1. One request at a time. Loaders are made at their first use and live
// as long as the retriever.
//
// Cache: a frame block is made with the size the loader reports for the image, a calibration block with the
// size of the payload; both have the cache's default priority (0), so they are the first to go once nobody
// holds them. A block's own status block says whether it has been filled: a second request for the same data
// is answered at once when it has, follows the first loading when that is still under way (so that two
// loaders never write one block), and loads it again when the first loading failed or was cancelled.
//
// Threading: the owner's thread only. The loaders' threads touch only the load request and the block they
// fill.
#include <memory>
#include <vector>

#include "KFileIdentity.h"
#include "KIpMgrAsync.h"
#include "KTypes.h"
#include "KWString.h"

class KDataObject;
class KIDataObject;
class KICache;
class KICacheObject;
class KILoader;
class KPropTree;
struct KLoaderRequest;

enum KRetrieverKind : KUInt32 {
    kRetrieveInfo = 0,
    kRetrieveData = 1,
    kRetrieveModify = 2,
};

// Sub-kinds of an info request.
enum KRetrieverInfoKind : KUInt32 {
    kInfoImageCount = 0,   // m_Value: the number of images
    kInfoImage = 1,        // of image m_Index: m_Width, m_Height, m_ImageKind, m_PixelType
    kInfoCameraFile = 2,   // m_Value: the size of the camera file
    kInfoCalibration = 3,  // m_Value: the size of the calibration block
    kInfoProperties = 4,   // appended to m_pTree
    kInfoUniqueID = 5,     // "UNIQUEID" appended to m_pTree
};

// Sub-kinds of a data request; the result is m_pData.
enum KRetrieverDataKind : KUInt32 {
    kDataFrame = 0,        // image m_Index
    kDataCameraFile = 1,
    kDataCalibration = 2,
};

struct KDataRetrieverRequest {
    KDataRetrieverRequest() { m_Async.Clear(); }
    KDataRetrieverRequest(const KDataRetrieverRequest&) = delete;
    KDataRetrieverRequest& operator=(const KDataRetrieverRequest&) = delete;

    KWString m_FileName;               // storage URL
    KUInt32 m_Kind = kRetrieveInfo;    // KRetrieverKind
    KIpMgrAsync m_Async;
    KUInt32 m_SubKind = 0;             // KRetrieverInfoKind or KRetrieverDataKind
    KPropTree* m_pTree = nullptr;      // modify: the changes; info 4 and 5: the tree to fill
    KUInt32 m_Index = 0;               // image index of info 1 and data 0
    KFileIdentity m_Identity;          // when known: the file must be this one, unchanged, for every read
    // Data 0 of a raw file: the frame's rows are decoded on demand (ReadImageRows) instead of loaded whole;
    // the answer is m_pRows, not cached. Other files are loaded as usual.
    bool m_bRowsOnDemand = false;

    // Results, valid once the state is 2.
    KUInt32 m_Value = 0;
    KInt32 m_Width = 0;
    KInt32 m_Height = 0;
    KInt32 m_ImageKind = 0;
    KInt32 m_PixelType = 0;
    // Data requests: one reference that the caller owns once the state is 2 (the retriever releases it when
    // the request fails or is cancelled).
    KDataObject* m_pData = nullptr;
    // The same for a frame decoded on demand: one reference that the caller owns once the state is 2.
    KIDataObject* m_pRows = nullptr;
};

class KIDataRetriever {
public:
    virtual ~KIDataRetriever() = default;
    virtual void Idle() = 0;
    virtual void Request(KDataRetrieverRequest& request) = 0;
};

class KDataRetriever : public KIDataRetriever {
public:
    // cache: where loaded data is kept; null for the process's cache.
    explicit KDataRetriever(KICache* cache = nullptr);
    // Never throws. A load still running is cancelled and waited for about a second; if it still runs then,
    // the load request and the block it fills are left to the loader's thread, which frees them when done. A
    // request still current ends with state 3.
    ~KDataRetriever() override;
    KDataRetriever(const KDataRetriever&) = delete;
    KDataRetriever& operator=(const KDataRetriever&) = delete;

    // Refuses a request while one is current (error 1, "KDataRetriever").
    void Request(KDataRetrieverRequest& request) override;
    // Lets every loader idle, then carries the current request's status over from its load request.
    void Idle() override;

private:
    using LoaderMaker = KILoader* (*)();
    struct LoaderEntry {
        KILoader* m_pLoader = nullptr;
        LoaderMaker m_Maker;
        std::vector<const char*> m_Extensions;
    };
    // Where the current request stands.
    enum class Phase {
        Watching,   // its load request went to a loader
        Sizing,     // a calibration block: its size is being asked of the loader
        Filling,    // the loader fills the data object's block
        Following,  // another request is filling the block found in the cache
        Ready,      // the block found in the cache is filled already
    };

    void HandleInfoRequest(KDataRetrieverRequest& request);
    void HandleDataRequest(KDataRetrieverRequest& request);
    void priHandleModifyRequest(KDataRetrieverRequest& request);
    // A raw frame decoded on demand: answered at once.
    void priHandleRowsRequest(KDataRetrieverRequest& request);

    // The loader for the file's extension, made at its first use; null when none handles it.
    KILoader* priFindLoader(const KWString& fileName);
    // The same for the request's file; when there is none the request fails with error 4 and the refusal.
    KILoader* priLoaderFor(KDataRetrieverRequest& request, const char* refusal);
    // "UNIQUEID" of the file as its loader gives it ("NO-UNIQUEID" when it gives none); false, with the
    // loader's status in the request, when the loader failed.
    bool priGetUniqueID(KILoader& loader, KDataRetrieverRequest& request, KWString& id, KFileIdentity& identity);
    // Finds the block under the label or makes it (frames at once, calibration after asking the size),
    // wraps it in the request's data object and starts filling it unless it is filled already.
    void priGetCacheDataImage(KILoader& loader, KDataRetrieverRequest& request, const KWString& label);
    // Wraps a block in the request's data object and fills it as its status says.
    void priUseBlock(KDataRetrieverRequest& request, KICacheObject* block);
    // Hands the load request to its loader to fill the data object's block.
    void priStartFill();
    // The data request's next step once its block's size is known.
    void priSized();
    // Carries a block's status over while another request fills it; false while that goes on.
    bool priFollow();
    // Makes the current request and its load request.
    void priBegin(KDataRetrieverRequest& request, KILoader& loader, KInt32 loaderKind, const KFileIdentity& identity);
    // Forgets the current request and drops its load request.
    void priFinish();
    // Ends the request at once (no load request made).
    static void priFail(KDataRetrieverRequest& request, KUInt32 error, const char* message);
    // Whether the load request is in a loader's hands and still running.
    bool priLoaderBusy() const;
    // Leaves the running load request, and the block it fills, to the loader's thread.
    void priAbandonLoad();
    // Ends the current request after an exception of the retriever's own work.
    void priFailCurrent(KUInt32 error, const KWString& message);

    std::vector<LoaderEntry> m_Loaders;
    KICache* m_pCache;
    KDataRetrieverRequest* m_pCurrent = nullptr;
    std::unique_ptr<KLoaderRequest> m_pLoadRequest;
    KILoader* m_pLoadLoader = nullptr;  // the loader of the current request
    Phase m_Phase = Phase::Watching;
    KWString m_Label;                   // label of the block of a data request
    bool m_bClosing = false;
};
