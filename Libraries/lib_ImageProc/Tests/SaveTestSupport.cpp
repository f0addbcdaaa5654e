#include "SaveTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "KCachedPixmap.h"
#include "KNarrowString.h"
#include "KPMImage2.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KSaveGeometry.h"

namespace savetest {

KFakeOwner::KFakeOwner(KInt32 cols, KInt32 rows) : m_Cols(cols), m_Rows(rows)
{
    m_Cache.SetMaxSize(64 << 20);
    m_pSaveManager = std::make_unique<IPSaveManager>(this);
}

KFakeOwner::~KFakeOwner()
{
    // The save manager's request to this owner ends first, as the real manager ends it.
    if (m_pPending) {
        m_pPending->m_Async.End(kCancelled, kIpErrNone, KWString());
        m_pPending = nullptr;
    }
    m_pSaveManager.reset();
}

void KFakeOwner::Idle()
{
    m_pSaveManager->Idle();
    if (KIpMgrReq* pending = m_pPending) {
        m_pPending = nullptr;
        priAnswer(*pending);
    }
}

void KFakeOwner::Request(KIpMgrReq* request)
{
    if (!request)
        return;
    if (m_pPending) {
        request->m_Async.Fail(kIpErrBusy, KWString(u"IPManager2 is busy."));
        return;
    }
    request->m_Async.SetError(kIpErrNone);
    switch (request->m_Kind) {
    case kIpReqSave:
        m_pSaveManager->Request(request);
        break;
    case kIpReqProperties: {
        KPropTree& props = *request->m_pImageProps;
        props.SetInt(KWString(u"COLS"), m_Cols);
        props.SetInt(KWString(u"ROWS"), m_Rows);
        props.SetString(KWString(u"CAMMANUF"), KWString(u"PELTA"));
        props.SetString(KWString(u"CAMMODEL"), KWString(u"PELTA DV7"));
        props.SetString(KWString(u"ISO"), KWString(u"200"));
        props.SetString(KWString(u"SH_DESC"), KWString(u"1/250"));
        request->m_Async.SetState(kDone);
        break;
    }
    case kIpReqProcessed: {
        KAsked asked;
        asked.m_Crop = request->m_CropRect;
        asked.m_OutputWidth = request->m_OutputWidth;
        asked.m_OutputHeight = request->m_OutputHeight;
        asked.m_OutputFormat = request->m_OutputFormat;
        asked.m_ColorSpace = request->m_OutputColorSpace;
        asked.m_Exposure = request->m_Adjustments[0];
        m_Asked.push_back(asked);
        if (static_cast<int>(m_Asked.size()) == m_CancelAt && m_pCancelRecord)
            m_pCancelRecord->m_Async.SetCancel(true);
        if (static_cast<int>(m_Asked.size()) == m_ActionAt && m_Action)
            m_Action();
        request->m_Async.SetProgress(0.0);
        request->m_Async.SetState(kInProgress);
        m_pPending = request;
        break;
    }
    default:
        request->m_Async.Fail(kIpErrUnsupported, KWString());
        break;
    }
}

void KFakeOwner::priAnswer(KIpMgrReq& request)
{
    if (request.m_Async.IsCancelRequested()) {
        request.m_Async.End(kCancelled, kIpErrNone, KWString());
        return;
    }
    if (static_cast<int>(m_Asked.size()) == m_FailAt) {
        request.m_Async.Fail(m_FailError, KWString(m_FailMessage.c_str()));
        return;
    }
    // As the manager does: the crop is cut to the image fitted into the output size.
    KInt32 fittedWidth = 0, fittedHeight = 0;
    FitSaveSize(m_Cols, m_Rows, request.m_OutputWidth, request.m_OutputHeight, fittedWidth, fittedHeight);
    KRect crop = request.m_CropRect;
    crop.right = std::min(crop.right, fittedWidth);
    crop.bottom = std::min(crop.bottom, fittedHeight);
    if (crop.left < 0 || crop.top < 0 || crop.left >= crop.right || crop.top >= crop.bottom) {
        request.m_Async.Fail(kIpErrBadArgument, KWString(u"IPManager2::priStage3Process: Cropping rectangle out of "
                                                         u"bounds."));
        return;
    }
    request.m_CropRect = crop;
    const int type = request.m_OutputFormat == kOutput48RGB ? kPixelType48RGB : kPixelType24RGB;
    const KWString label = Utf8ToWide(KNarrowString("strip-%d", ++m_Labels).Str());
    KICacheObject* block =
        m_Cache.Allocate(label.c_str(), GetKCachedPixmapBlockSize(type, crop.Width(), crop.Height()));
    ASSERT_NE(block, nullptr);
    KPixmap* pixmap = MapKCachedPixmap(block->GetData(), type, crop.Width(), crop.Height());
    for (KInt32 y = 0; y < crop.Height(); ++y) {
        uint8_t* row = pixmap->GetRow(y);
        for (KInt32 x = 0; x < crop.Width(); ++x) {
            for (int c = 0; c < 3; ++c) {
                if (type == kPixelType48RGB)
                    reinterpret_cast<uint16_t*>(row)[x * 3 + c] = Value16(crop.left + x, crop.top + y, c);
                else
                    row[x * 3 + c] = Value8(crop.left + x, crop.top + y, c);
            }
        }
    }
    if (request.m_pResultImage)
        request.m_pResultImage->Release();
    request.m_pResultImage = new KPMImage2(block);
    block->Unlock();
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}

std::vector<double> KFakeOwner::RunUntilDone(KIpMgrReq& request, int limit)
{
    std::vector<double> progress;
    for (int i = 0; i < limit && request.m_Async.IsBusy(); ++i) {
        Idle();
        progress.push_back(request.m_Async.GetProgress());
    }
    EXPECT_FALSE(request.m_Async.IsBusy()) << "the save did not end";
    return progress;
}

void KFakeOwner::FailProcessedRequest(int number, KUInt32 error, const std::u16string& message)
{
    m_FailAt = number;
    m_FailError = error;
    m_FailMessage = message;
}

void KFakeOwner::RunAtProcessedRequest(int number, std::function<void()> action)
{
    m_ActionAt = number;
    m_Action = std::move(action);
}

void KFakeOwner::CancelAtProcessedRequest(int number, KIpMgrReq* record)
{
    m_CancelAt = number;
    m_pCancelRecord = record;
}

void SaveFixture::SetUp()
{
    std::filesystem::create_directories(m_Temp / "machine");
    std::filesystem::create_directories(m_Temp / "files");
    setenv("LUMO_MACHINE", (m_Temp / "machine").c_str(), 1);
    RegisterDiskStorageClass();
}

void SaveFixture::TearDown()
{
    ShutdownStorageClasses();
    unsetenv("LUMO_MACHINE");
}

KWString SaveFixture::URL(const std::string& name) const
{
    KWString url;
    EXPECT_TRUE(PosixPathToURL(Path(name).string(), url));
    return url;
}

std::vector<std::string> SaveFixture::Files() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_Temp / "files"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void SaveFixture::MakeSave(KIpMgrReq& request, KInt32 cols, KInt32 rows, const std::string& name,
                           KUInt32 fileFormat, KUInt32 outputFormat) const
{
    request.Reset();
    request.m_Kind = kIpReqSave;
    request.m_FileName = KWString(u"disk://C/raw/scene.kzr");
    request.m_SoftwareName = KWString(u"LumoDesk");
    request.m_OutputWidth = cols;
    request.m_OutputHeight = rows;
    request.m_CropRect = KRect(0, 0, cols, rows);
    request.m_OutputFormat = outputFormat;
    request.m_SaveFileFormat = fileFormat;
    request.m_SaveFileName = URL(name);
    request.m_ColorAdjust[0] = request.m_ColorAdjust[1] = request.m_ColorAdjust[2] = 1.0;
}

}  // namespace savetest
