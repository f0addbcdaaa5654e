// The pipeline's stage steps: each finds or makes its output block, takes the block's mutex, and hands the
// engine a request unless the block is complete already; the wait step finishes the block.
#include <algorithm>
#include <cstring>

#include "IPManager2.h"
#include "KCamdata.h"
#include "KDataMatrix.h"
#include "KDataObject.h"
#include "KDataRetriever.h"
#include "KDebug.h"
#include "KException.h"
#include "KICache.h"
#include "KIIPEngine2.h"
#include "KMutex.h"
#include "KPixelTypes.h"
#include "KRowBands.h"
#include "KPropTree.h"
#include "Manager/KIpmGeometry.h"
#include "Manager/KStageBlocks.h"
#include "Manager/KStageLabels.h"

namespace {

template <class ElementClass>
KDataMatrixTemplate<ElementClass>* NewMatrix(KInt32 rows, KInt32 columns,
                                             std::initializer_list<typename ElementClass::Element> values)
{
    auto* matrix = new KDataMatrixTemplate<ElementClass>(rows, columns);
    KInt64 i = 0;
    for (auto v : values)
        matrix->Elements()[i++] = v;
    return matrix;
}

// A held block of another geometry than the one asked for is given up.
void DropIfNotOf(KICacheObject*& block, int pixelType, KInt32 width, KInt32 height)
{
    if (!block)
        return;
    const KPixmap* pixmap = block->GetData() ? PixmapRecord(block).m_pPixmap : nullptr;
    if (!pixmap || pixmap->GetPixelType() != pixelType || pixmap->GetWidth() != width ||
        pixmap->GetHeight() != height) {
        ForgetBlock(block);
        block = nullptr;
    }
}

// The rows of a 48-bit signed RGB frame into a pixmap of its size, in bands over the processors.
void CopyFrameRows(const KIDataObject& frame, KPixmap& into, KInt32 rows)
{
    constexpr KInt32 kChunkRows = 16;
    const KRowBands bands(0, rows, 4 * kChunkRows);
    bands.Run([&](int, KInt32 begin, KInt32 end) {
        for (KInt32 row = begin; row < end; row += kChunkRows) {
            const KInt32 count = std::min(kChunkRows, end - row);
            KPixmapTemplate<KPixelClass48SRGB> part(into.GetRow(row), into.GetWidth(), count, into.GetRowBytes());
            frame.ReadImageRows(row, count, part);
        }
    });
}

void StoreWords(KCachedPixmapRecord& record, const KRect& crop, KInt32 fittedWidth, KInt32 fittedHeight)
{
    const int32_t words[6] = {crop.left, crop.top, crop.right, crop.bottom, fittedWidth, fittedHeight};
    std::memcpy(record.m_Words, words, sizeof(words));
}

}  // namespace

// Step 1 of every stage step: a cancelled request ends here, and the engine must be free.
bool IPManager2::priMayStartStage(KIpMgrReq& request, const char* busyText)
{
    if (request.m_Async.IsCancelRequested()) {
        request.m_Async.End(kCancelled, kIpErrNone, KWString());
        return false;
    }
    if (m_EngineRequest.m_Async.IsBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(busyText));
        return false;
    }
    return true;
}

void IPManager2::priSendStage(KInt32 kind, const uint32_t* resume, KUInt32 waitState)
{
    m_EngineRequest.m_Kind = kind;
    std::memcpy(m_EngineRequest.m_Resume, resume, sizeof(m_EngineRequest.m_Resume));
    m_Running.m_From = waitState;
    m_State = waitState;
    m_pEngine->Request(m_EngineRequest);
}

void IPManager2::priStage1Process(KIpMgrReq& request)
{
    if (!priMayStartStage(request, "KIPManager::priStage1Process: IP engine is busy!"))
        return;
    KInt32 width = 0, height = 0;
    int frameType = 0;
    if (!m_pRawData || !m_pRawData->GetImageProperties(width, height, frameType))
        throw KException("IPManager2::priStage1Process: no frame loaded.");
    DropIfNotOf(m_pStage1Block, kPixelType48SRGB, width, height);
    if (!m_pStage1Block)
        m_pStage1Block = FindOrMakePixmapBlock(*m_pCache, m_Labels[kResultStage1], kPixelType48SRGB, width, height);
    if (!m_pStage1Block) {
        request.m_Async.Fail(kIpErrOutOfMemory, KWString(u"IPManager2::priStage1Process:Cache allocation failed."));
        return;
    }
    KCachedPixmapRecord& record = PixmapRecord(m_pStage1Block);
    if (!priLockBlockMutex(record.m_pMutex))
        return;
    if (record.m_Complete) {
        priUnlockBlockMutex();
        m_State = kStateStage2;
        return;
    }
    if (!m_pDarkData) {
        // A dark-subtracted frame is the stage-1 result as it stands.
        if (frameType != kPixelType48SRGB) {
            priUnlockBlockMutex();
            throw KException("IPManager2::priStage1Process: the dark-subtracted frame is not 48-bit signed RGB.");
        }
        try {
            CopyFrameRows(*m_pRawData, *record.m_pPixmap, height);
        } catch (...) {
            priUnlockBlockMutex();
            throw;
        }
        m_pRawData->Release();
        m_pRawData = nullptr;
        record.m_Complete = 1;
        priUnlockBlockMutex();
        m_State = kStateStage2;
        return;
    }
    m_pStage1Block->SetPriority(5);
    m_EngineRequest.FreeParams();
    // Frames loaded whole go as pixmaps; frames decoded on demand as row sources that stage 1 reads by bands.
    if (KPixmap* raw = m_pRawData->GetImagePixmapPtr())
        m_EngineRequest.AddPixmap(KWString(u"RAWIMAGE"), raw);
    else
        m_EngineRequest.AddRows(KWString(u"RAWROWS"), m_pRawData);
    if (KPixmap* dark = m_pDarkData->GetImagePixmapPtr())
        m_EngineRequest.AddPixmap(KWString(u"DARKIMAGE"), dark);
    else
        m_EngineRequest.AddRows(KWString(u"DARKROWS"), m_pDarkData);
    m_EngineRequest.AddCamdata(KWString(u"CAMBDATA"), m_pCamdata.get());
    m_EngineRequest.AddPixmap(KWString(u"OUTIMAGE"), record.m_pPixmap);
    m_Running = {};
    m_Running.m_Follower = kStateStage2;
    m_Running.m_pComplete[0] = &record.m_Complete;
    m_Running.m_pResume = record.m_Resume;
    priSendStage(kEngineStage1, record.m_Resume, kStateWaitStage1);
}

void IPManager2::priStage2Process(KIpMgrReq& request)
{
    if (!priMayStartStage(request, "KIPManager::priStage2Process: IP engine is busy!"))
        return;
    if (!m_pStage2Block) {
        // Stage 2 works in place: the stage-1 result becomes the stage-2 block.
        if (!m_pStage1Block)
            throw KException("IPManager2::priStage2Process: no stage 1 result.");
        KCachedPixmapRecord& stage1 = PixmapRecord(m_pStage1Block);
        if (!priLockBlockMutex(stage1.m_pMutex))
            return;
        if (m_Labels[kResultStage1] != m_pStage1Block->GetLabel() || !stage1.m_Complete) {
            // Another manager took this stage-1 result for a stage 2 of its own: start again.
            priUnlockBlockMutex();
            m_pStage1Block->Unlock();
            m_pStage1Block = nullptr;
            m_State = kStateSetUp;
            return;
        }
        m_pStage1Block->SetLabel(m_Labels[kResultStage2].c_str());
        m_pStage2Block = m_pStage1Block;
        m_pStage1Block = nullptr;
        stage1.m_Complete = 0;
        std::memset(stage1.m_Resume, 0, sizeof(stage1.m_Resume));
    } else if (!priLockBlockMutex(PixmapRecord(m_pStage2Block).m_pMutex)) {
        return;
    }
    KCachedPixmapRecord& record = PixmapRecord(m_pStage2Block);
    if (record.m_Complete) {
        priUnlockBlockMutex();
        m_State = priStage2Follower();
        return;
    }
    m_pStage2Block->SetPriority(30);

    KPixmap* image = record.m_pPixmap;
    const KInt64 width = image->GetWidth(), height = image->GetHeight();
    const KInt64 cells = ((height + 3) / 4) * ((width + 3) / 4);
    KInt64 scratchRows = (width > 0 ? (cells + width - 1) / width : 0) + 2;
    scratchRows = scratchRows < 5 ? 5 : scratchRows;
    KPixmap* scratch = GetBlockTemporary(record, image->GetWidth(), static_cast<KInt32>(scratchRows));

    double iso = 100.0, exposure = 100.0;
    auto captureNumber = [this](const char16_t* key, double& value, const char* warning) {
        const KPropPair* pair = m_pCaptureProps->FindPair(KWString(key));
        if (!pair || pair->GetValue().IsEmpty())
            DebugTraceText(warning);
        else
            value = m_pCaptureProps->GetInt(KWString(key), 100);
    };
    captureNumber(u"ISO", iso, "IPManager2: warning ISO property is missing or empty!  Defaulting to 100.\n");
    captureNumber(u"EXPTIME", exposure,
                  "IPManager2: warning ExpTime property is missing or empty!  Defaulting to 100.\n");

    m_EngineRequest.FreeParams();
    m_EngineRequest.AddPixmap(KWString(u"STAGE1IMAGE"), image);
    m_EngineRequest.AddCamdata(KWString(u"CAMBDATA"), m_pCamdata.get());
    m_EngineRequest.AddText(KWString(u"WB_DESC"), m_WhiteBalance.c_str());
    m_EngineRequest.AddPixmap(KWString(u"TEMPDATA"), scratch);
    m_EngineRequest.AddMatrix(KWString(u"ISO"), NewMatrix<FloatClass>(1, 1, {iso}));
    m_EngineRequest.AddMatrix(KWString(u"EXPTIME"), NewMatrix<FloatClass>(1, 1, {exposure}));
    // One row of eight columns over the block's statistics.
    m_EngineRequest.AddMatrix(KWString(u"AUTOADJUSTOUT"), new KDataMatrixTemplate<FloatClass>(1, 8, record.m_Statistics));
    const double* neutral = request.m_OverrideRGBNeutral;
    m_EngineRequest.AddMatrix(KWString(u"OVERRIDERGBNEUTRAL"),
                              NewMatrix<FloatClass>(3, 1, {neutral[0], neutral[1], neutral[2]}));
    m_Running = {};
    m_Running.m_Follower = priStage2Follower();
    m_Running.m_pComplete[0] = &record.m_Complete;
    m_Running.m_pResume = record.m_Resume;
    priSendStage(kEngineStage2, record.m_Resume, kStateWaitStage2);
}

void IPManager2::priStage3Process(KIpMgrReq& request)
{
    if (!priMayStartStage(request, "KIPManager::priStage3Process: IP engine is busy!"))
        return;
    if (!m_pStage2Block)
        throw KException("IPManager2::priStage3Process: no stage 2 result.");
    const KInt32 columns = priCaptureInt(u"COLS", 0);
    const KInt32 rows = priCaptureInt(u"ROWS", 0);
    KInt32 fittedWidth = 0, fittedHeight = 0;
    FitSize(columns, rows, request.m_OutputWidth, request.m_OutputHeight, fittedWidth, fittedHeight);
    KRect crop = request.m_CropRect;
    if (!CutCrop(crop, fittedWidth, fittedHeight, 1)) {
        request.m_Async.Fail(kIpErrBadArgument, KWString(u"IPManager2::priStage3Process: Cropping rectangle out of bounds."));
        return;
    }
    DropIfNotOf(m_pStage3Block, kPixelType48SRGB, crop.Width(), crop.Height());
    DropIfNotOf(m_pStage3LBlock, kPixelType16SMono, crop.Width(), crop.Height());
    if (!m_pStage3Block)
        m_pStage3Block = FindOrMakePixmapBlock(*m_pCache, m_Labels[kResultStage3], kPixelType48SRGB, crop.Width(),
                                               crop.Height());
    if (m_pStage3Block && !m_pStage3LBlock)
        m_pStage3LBlock = FindOrMakePixmapBlock(*m_pCache, m_Labels[kResultStage3L], kPixelType16SMono,
                                                crop.Width(), crop.Height());
    if (!m_pStage3Block || !m_pStage3LBlock) {
        request.m_Async.Fail(kIpErrOutOfMemory, KWString(u"IPManager2::priStage3Process:Cache allocation failed."));
        return;
    }
    KCachedPixmapRecord& record = PixmapRecord(m_pStage3Block);
    KCachedPixmapRecord& luminance = PixmapRecord(m_pStage3LBlock);
    if (!priLockBlockMutex(record.m_pMutex))
        return;
    request.m_CropRect = crop;
    request.m_OutputWidth = fittedWidth;
    request.m_OutputHeight = fittedHeight;
    if (record.m_Complete && luminance.m_Complete) {
        priUnlockBlockMutex();
        m_State = kStateToneLUT;
        return;
    }
    m_pStage3Block->SetPriority(10);
    m_pStage3LBlock->SetPriority(10);
    StoreWords(record, crop, fittedWidth, fittedHeight);
    StoreWords(luminance, crop, fittedWidth, fittedHeight);

    KCachedPixmapRecord& stage2 = PixmapRecord(m_pStage2Block);
    KPixmap* scratch = stage2.m_pTemporary;
    if (!scratch)
        scratch = GetBlockTemporary(stage2, stage2.m_pPixmap->GetWidth(), 5);
    const bool swap = SwapsSides(QuarterTurn(m_Rotation));
    m_EngineRequest.FreeParams();
    m_EngineRequest.AddPixmap(KWString(u"STAGE2IMAGE"), stage2.m_pPixmap);
    m_EngineRequest.AddMatrix(KWString(u"OUTSIZE"), NewMatrix<Int32Class>(2, 1, {fittedWidth, fittedHeight}));
    m_EngineRequest.AddMatrix(KWString(u"EXPECTEDIMAGESIZE"),
                              NewMatrix<Int32Class>(2, 1, {swap ? rows : columns, swap ? columns : rows}));
    m_EngineRequest.AddMatrix(KWString(u"CROPRECT"),
                              NewMatrix<Int32Class>(2, 2, {crop.left, crop.top, crop.right, crop.bottom}));
    m_EngineRequest.AddCamdata(KWString(u"CAMBDATA"), m_pCamdata.get());
    m_EngineRequest.AddPixmap(KWString(u"TEMPDATA"), scratch);
    m_EngineRequest.AddMatrix(KWString(u"ROTATION"), NewMatrix<Int32Class>(1, 1, {m_Rotation}));
    m_EngineRequest.AddPixmap(KWString(u"OUTIMAGE"), record.m_pPixmap);
    m_EngineRequest.AddPixmap(KWString(u"OUTIMAGEL"), luminance.m_pPixmap);
    m_Running = {};
    m_Running.m_Follower = kStateToneLUT;
    m_Running.m_pComplete[0] = &record.m_Complete;
    m_Running.m_pComplete[1] = &luminance.m_Complete;
    m_Running.m_pResume = record.m_Resume;
    priSendStage(kEngineStage3, record.m_Resume, kStateWaitStage3);
}

void IPManager2::priMakeToneLUT(KIpMgrReq& request)
{
    if (!priMayStartStage(request, "KIPManager::priMakeToneLUT: IP engine is busy!"))
        return;
    if (!m_pToneBlock)
        m_pToneBlock = FindOrMakeLUTBlock(*m_pCache, m_Labels[kResultToneLUT]);
    if (!m_pToneBlock) {
        request.m_Async.Fail(kIpErrOutOfMemory, KWString(u"IPManager2::priMakeToneLUT:Cache allocation failed."));
        return;
    }
    KCachedLUTRecord& record = LUTRecord(m_pToneBlock);
    if (!priLockBlockMutex(record.m_pMutex))
        return;
    if (record.m_Complete) {
        priUnlockBlockMutex();
        m_State = kStateStage4;
        return;
    }
    m_pToneBlock->SetPriority(10);
    const double* a = request.m_Adjustments;
    const double* c = request.m_ColorAdjust;
    m_EngineRequest.FreeParams();
    m_EngineRequest.AddMatrix(KWString(u"OUTLUT"), new KDataMatrixTemplate<Int16Class>(kToneLUTSize, 3, record.m_pData));
    m_EngineRequest.AddMatrix(KWString(u"ADJUSTMENTS"), NewMatrix<FloatClass>(4, 1, {a[0], a[1], a[2], a[3]}));
    m_EngineRequest.AddMatrix(KWString(u"COLORADJUST"), NewMatrix<FloatClass>(3, 1, {c[0], c[1], c[2]}));
    m_Running = {};
    m_Running.m_Follower = kStateStage4;
    m_Running.m_pComplete[0] = &record.m_Complete;
    m_Running.m_pResume = record.m_Resume;
    priSendStage(kEngineToneLUT, record.m_Resume, kStateWaitToneLUT);
}

void IPManager2::priStage4Process(KIpMgrReq& request)
{
    if (!priMayStartStage(request, "KIPManager::priColorProcess: IP engine is busy!"))
        return;
    if (!m_pStage3Block || !m_pStage3LBlock || !m_pToneBlock)
        throw KException("IPManager2::priStage4Process: no stage 3 result or tone LUT.");
    const KCachedPixmapRecord& stage3 = PixmapRecord(m_pStage3Block);
    const KRect crop(stage3.m_Words[0], stage3.m_Words[1], stage3.m_Words[2], stage3.m_Words[3]);
    request.m_CropRect = crop;
    request.m_OutputWidth = stage3.m_Words[4];
    request.m_OutputHeight = stage3.m_Words[5];
    const int pixelType = OutputPixelType(request.m_OutputFormat);
    DropIfNotOf(m_pStage4Block, pixelType, crop.Width(), crop.Height());
    if (!m_pStage4Block)
        m_pStage4Block = FindOrMakePixmapBlock(*m_pCache, m_Labels[kResultStage4], pixelType, crop.Width(),
                                               crop.Height());
    if (!m_pStage4Block) {
        request.m_Async.Fail(kIpErrOutOfMemory, KWString(u"IPManager2::priStage4Process:Cache allocation failed."));
        return;
    }
    KCachedPixmapRecord& record = PixmapRecord(m_pStage4Block);
    if (!priLockBlockMutex(record.m_pMutex))
        return;
    if (record.m_Complete) {
        priUnlockBlockMutex();
        m_State = kStateResult;
        return;
    }
    m_pStage4Block->SetPriority(20);
    StoreWords(record, crop, stage3.m_Words[4], stage3.m_Words[5]);
    const double* a = request.m_Adjustments;
    m_EngineRequest.FreeParams();
    m_EngineRequest.AddPixmap(KWString(u"STAGE3IMAGE"), stage3.m_pPixmap);
    m_EngineRequest.AddPixmap(KWString(u"STAGE3IMAGEL"), PixmapRecord(m_pStage3LBlock).m_pPixmap);
    m_EngineRequest.AddPixmap(KWString(u"OUTIMAGE"), record.m_pPixmap);
    m_EngineRequest.AddMatrix(KWString(u"TONELUT"),
                              new KDataMatrixTemplate<Int16Class>(kToneLUTSize, 3, LUTRecord(m_pToneBlock).m_pData));
    m_EngineRequest.AddMatrix(KWString(u"ADJUSTMENTS"), NewMatrix<FloatClass>(2, 1, {a[5], a[4]}));
    m_EngineRequest.AddMatrix(KWString(u"OUTCOLORSPACE"),
                              NewMatrix<Int32Class>(1, 1, {static_cast<KInt32>(request.m_OutputColorSpace)}));
    m_Running = {};
    m_Running.m_Follower = kStateResult;
    m_Running.m_pComplete[0] = &record.m_Complete;
    m_Running.m_pResume = record.m_Resume;
    priSendStage(kEngineStage4, record.m_Resume, kStateWaitStage4);
}

// The wait step of every stage: when the engine is done, the inputs no longer needed go, and the block is
// complete, or keeps the engine's resume block for a later attempt.
void IPManager2::priWaitStage(KIpMgrReq& request)
{
    m_EngineRequest.m_Async.SetCancelByte(request.m_Async.GetCancel());
    priSetProgress(m_State, m_Running.m_Follower, m_EngineRequest.m_Async.GetProgress());
    if (m_EngineRequest.m_Async.IsBusy())
        return;
    m_EngineRequest.FreeParams();
    const bool done = m_EngineRequest.m_Async.GetState() == kDone;
    for (uint8_t* complete : m_Running.m_pComplete) {
        if (complete)
            *complete = done ? 1 : 0;
    }
    if (!done && m_Running.m_pResume)
        std::memcpy(m_Running.m_pResume, m_EngineRequest.m_Resume, sizeof(m_EngineRequest.m_Resume));
    const KUInt32 follower = m_Running.m_Follower;
    m_Running = {};
    priUnlockBlockMutex();
    switch (m_State) {
    case kStateWaitStage1:
        if (m_pRawData) {
            m_pRawData->Release();
            m_pRawData = nullptr;
        }
        if (m_pDarkData) {
            m_pDarkData->Release();
            m_pDarkData = nullptr;
        }
        break;
    case kStateWaitStage2:
        // The scratch rows of stage 2's filters are not needed once it is done; stage 3 asks for a few rows.
        if (done && m_pStage2Block)
            FreeBlockTemporary(PixmapRecord(m_pStage2Block));
        break;
    case kStateWaitStage3:
        if (m_pStage2Block) {
            m_pStage2Block->Unlock();
            m_pStage2Block = nullptr;
        }
        break;
    case kStateWaitStage4:
        for (KICacheObject** block : {&m_pStage3Block, &m_pStage3LBlock, &m_pToneBlock}) {
            if (*block) {
                (*block)->Unlock();
                *block = nullptr;
            }
        }
        break;
    default:
        break;
    }
    if (done)
        m_State = follower;
    else
        request.m_Async.CopyFrom(m_EngineRequest.m_Async);
}
