#include "IpmTestSupport.h"

#include <cstring>
#include <vector>

#include "KCache.h"
#include "KConvertColorPixmap.h"
#include "KDataMatrix.h"
#include "KDataObject.h"
#include "KException.h"
#include "KNarrowString.h"
#include "KPerfTimer.h"
#include "KPixelTypes.h"
#include "KRotate.h"
#include "KTextFunctions.h"
#include "KzrCalibrationBuilder.h"
#include "Retriever/KDataBlocks.h"

namespace ipmtest {

namespace {

std::atomic<int> g_DataBlocks{0};

// Data objects as the retriever makes them: over a filled frame or calibration block of the cache.
KDataObject* NewFrameData(const KImage& image)
{
    const KPixmap& source = *image.GetPixmap();
    const KWString label = Utf8ToWide("ipmtest-frame-" + std::to_string(++g_DataBlocks));
    KICacheObject* block = AllocateFrameBlock(*GetGlobalCache(), label, source.GetPixelType(), source.GetWidth(),
                                              source.GetHeight());
    if (!block)
        throw KException("FakeRetriever: no room in the cache");
    KPixmap& pixmap = *static_cast<KFrameBlockHeader*>(block->GetData())->m_pPixmap;
    for (int32_t y = 0; y < source.GetHeight(); ++y)
        std::memcpy(pixmap.GetRow(y), source.GetRow(y), static_cast<size_t>(source.GetWidth()) * source.GetBytesPerPixel());
    GetDataBlockStatus(block)->SetState(kDone);
    return new KDataObject(block, kDataImage);
}

KDataObject* NewCalibrationData(const std::vector<uint8_t>& bytes)
{
    const KWString label = Utf8ToWide("ipmtest-calibration-" + std::to_string(++g_DataBlocks));
    KICacheObject* block =
        AllocateCamfileBlock(*GetGlobalCache(), label, static_cast<KUInt32>(bytes.size()), 2);
    if (!block)
        throw KException("FakeRetriever: no room in the cache");
    std::memcpy(static_cast<KCamfileBlockHeader*>(block->GetData())->m_pBytes, bytes.data(), bytes.size());
    GetDataBlockStatus(block)->SetState(kDone);
    return new KDataObject(block, kDataCamfile);
}

void SetPixel(KPixmap& pixmap, int x, int y, const int rgb[3])
{
    uint8_t* p = pixmap.GetRow(y) + static_cast<size_t>(x) * pixmap.GetBytesPerPixel();
    switch (pixmap.GetPixelType()) {
    case kPixelType24RGB:
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<uint8_t>(rgb[c]);
        break;
    case kPixelType32BGRA:
        for (int c = 0; c < 3; ++c)
            p[2 - c] = static_cast<uint8_t>(rgb[c]);
        p[3] = 255;
        break;
    case kPixelType48RGB:
    case kPixelType48SRGB:
        for (int c = 0; c < 3; ++c) {
            const uint16_t v = static_cast<uint16_t>(rgb[c]);
            std::memcpy(p + 2 * c, &v, 2);
        }
        break;
    default:
        throw KException("SetPixel: pixel type not used by the tests");
    }
}

KEvent* g_Gate = nullptr;
std::atomic<int> g_GateKind{-1};

template <class ElementClass>
typename ElementClass::Element MatrixValue(KIPEngineRequest& request, const char16_t* name, int index)
{
    auto* m = dynamic_cast<KDataMatrixTemplate<ElementClass>*>(request.GetMatrixParam(KWString(name)));
    if (!m || m->GetElementCount() <= index)
        throw KException("FakeStage: a matrix parameter is missing");
    return m->Elements()[index];
}

KPixmap& PixmapParam(KIPEngineRequest& request, const char16_t* name)
{
    KPixmap* pixmap = request.GetPixmapParam(KWString(name));
    if (!pixmap)
        throw KException(KNarrowString("FakeStage: no pixmap %s", WideToUtf8(KWString(name)).c_str()).CStr());
    return *pixmap;
}

}  // namespace

bool NothingLocked()
{
    KCache* cache = GetGlobalCache();
    const KUInt32 limit = cache->GetMaxSize();
    const bool empty = cache->SetMaxSize(0);
    cache->SetMaxSize(limit);
    return empty;
}

std::shared_ptr<KImage> MakeImage(int pixelType, int width, int height,
                                  const std::function<void(int x, int y, int rgb[3])>& fill)
{
    std::shared_ptr<KImage> image(new KImage(width, height, pixelType, 4), [](KImage* i) { i->Release(); });
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int rgb[3] = {0, 0, 0};
            fill(x, y, rgb);
            SetPixel(*image->GetPixmap(), x, y, rgb);
        }
    return image;
}

std::shared_ptr<KImage> MakeFlatImage(int pixelType, int width, int height, int r, int g, int b)
{
    return MakeImage(pixelType, width, height, [=](int, int, int rgb[3]) {
        rgb[0] = r;
        rgb[1] = g;
        rgb[2] = b;
    });
}

std::vector<uint8_t> MakeCalibration(int width, int height, bool illuminants, bool autoNeutral, bool customNeutral)
{
    KzrCalibrationBuilder b;
    b.AddRect("KeepImageArea", 0, 0, width - 1, height - 1);
    b.AddRect("ActiveImageArea", 0, 0, width - 1, height - 1);
    if (illuminants)
        b.AddPropertyList("WhiteBalanceIlluminants",
                          {{"Auto", "CamToXYZ_Daylight"}, {"Custom", "CamToXYZ_Daylight"}, {"Daylight", "CamToXYZ_Daylight"}});
    if (autoNeutral)
        b.AddFloat("AutoRGBNeutral", {3}, {1.0f, 1.0f, 1.0f});
    if (customNeutral)
        b.AddFloat("CustomRGBNeutral", {3}, {1.0f, 1.0f, 1.0f});
    return b.BuildFile(KzrByteOrder::Little);
}

FakeFile MakeRawFile(int width, int height, int rotation)
{
    FakeFile file;
    const bool swap = rotation == 90 || rotation == 270;
    file.m_Props = {{"MODEL", "Test camera"},
                    {"ISO", "200"},
                    {"EXPTIME", "125"},
                    {"WB_DESC_ORIG", "Auto"},
                    {"MARKBITS", "0"},
                    {"ROTATION", std::to_string(rotation)},
                    {"PROCESSABLE", "1"},
                    {"WB_DESC", "Auto"},
                    {"COLS", std::to_string(swap ? height : width)},
                    {"ROWS", std::to_string(swap ? width : height)}};
    // A grey ramp from left to right over the dark level, and a preview that shows where its corner is.
    file.m_Images.push_back({kRaw, MakeImage(kPixelType48RGB, width, height, [=](int x, int, int rgb[3]) {
                                 rgb[0] = rgb[1] = rgb[2] = 100 + 3000 * x / width;
                             })});
    file.m_Images.push_back({kDark, MakeFlatImage(kPixelType48RGB, width, height, 100, 100, 100)});
    file.m_Images.push_back({kViewable, MakeImage(kPixelType24RGB, width / 4, height / 4, [](int x, int y, int rgb[3]) {
                                 rgb[0] = x < 2 && y < 2 ? 255 : 10;
                                 rgb[1] = 20;
                                 rgb[2] = 30;
                             })});
    file.m_Calibration = MakeCalibration(width, height, true);
    return file;
}

// --- FakeRetriever ------------------------------------------------------------------------------------------

FakeRetriever::~FakeRetriever()
{
    if (m_pPending)
        m_pPending->Release();
}

FakeFile* FakeRetriever::priFile(KDataRetrieverRequest& request)
{
    auto found = m_Files->find(request.m_FileName.Str());
    if (found == m_Files->end()) {
        request.m_Async.Fail(6, request.m_FileName);
        return nullptr;
    }
    return &found->second;
}

void FakeRetriever::priInfo(KDataRetrieverRequest& request, FakeFile& file)
{
    switch (request.m_SubKind) {
    case kInfoImageCount:
        request.m_Value = static_cast<KUInt32>(file.m_Images.size());
        break;
    case kInfoImage:
        if (request.m_Index >= file.m_Images.size()) {
            request.m_Async.Fail(2, Utf8ToWide(KNarrowString("QRLbLoader:LoadImage index %u", request.m_Index).Str()));
            return;
        }
        request.m_Width = file.m_Images[request.m_Index].m_pImage->GetPixmap()->GetWidth();
        request.m_Height = file.m_Images[request.m_Index].m_pImage->GetPixmap()->GetHeight();
        request.m_ImageKind = file.m_Images[request.m_Index].m_Kind;
        break;
    case kInfoProperties:
    case kInfoUniqueID:
        if (!request.m_pTree) {
            request.m_Async.Fail(2, KWString(u"QRLbLoader: Property list pointer is NULL"));
            return;
        }
        if (request.m_SubKind == kInfoProperties)
            for (auto& [key, value] : file.m_Props)
                request.m_pTree->AddPair(key.c_str(), value.c_str());
        request.m_pTree->AddPair(KWString(u"UNIQUEID"), file.m_UniqueID);
        break;
    default:
        request.m_Async.Fail(4, KWString(u"KDataRetriever:HandleInfoRequest unknown info request"));
        return;
    }
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}

void FakeRetriever::Request(KDataRetrieverRequest& request)
{
    if (m_pCurrent) {
        request.m_Async.Fail(1, KWString(u"KDataRetriever"));
        return;
    }
    if (m_ThrowOnData && request.m_Kind == kRetrieveData)
        throw KExceptionFileRead("disk on fire");
    request.m_Async.SetState(kInProgress);
    if (request.m_Kind == kRetrieveInfo) {
        if (request.m_SubKind < 6)
            ++m_Counts->m_Info[request.m_SubKind];
        if (FakeFile* file = priFile(request))
            priInfo(request, *file);
        return;
    }
    if (request.m_Kind == kRetrieveModify) {
        ++m_Counts->m_Modify;
        FakeFile* file = priFile(request);
        if (!file)
            return;
        for (KPropPair* p = request.m_pTree->GetFirstPair(); p; p = p->GetNext()) {
            const std::string key = WideToUtf8(p->GetKey());
            for (auto& pair : file->m_Props)
                if (pair.first == key)
                    pair.second = WideToUtf8(p->GetValue());
        }
        request.m_Async.SetState(kDone);
        return;
    }
    if (request.m_Kind != kRetrieveData) {
        request.m_Async.Fail(2, KWString(u"KDataRetriever:Request unknown request"));
        return;
    }
    if (request.m_SubKind < 3)
        ++m_Counts->m_Data[request.m_SubKind];
    FakeFile* file = priFile(request);
    if (!file)
        return;
    KDataObject* data = nullptr;
    try {
        if (request.m_SubKind == kDataFrame) {
            if (request.m_Index >= file->m_Images.size()) {
                request.m_Async.Fail(2, KWString(u"QRLbLoader:LoadImage index"));
                return;
            }
            data = NewFrameData(*file->m_Images[request.m_Index].m_pImage);
        } else if (request.m_SubKind == kDataCalibration) {
            if (file->m_Calibration.empty()) {
                request.m_Async.Fail(3, KWString(u"QRLbLoader:LoadCamfile - no camfiles found in this file."));
                return;
            }
            data = NewCalibrationData(file->m_Calibration);
        } else {
            request.m_Async.Fail(2, KWString(u"KDataRetriever:HandleDataRequest unknown data request"));
            return;
        }
    } catch (const KException&) {
        request.m_Async.Fail(11, KWString(u"KDataRetriever: out of memory"));
        return;
    }
    if (m_LoadIdles <= 0) {
        request.m_pData = data;
        request.m_Async.SetProgress(1.0);
        request.m_Async.SetState(kDone);
        return;
    }
    m_pCurrent = &request;
    m_pPending = data;
    m_IdlesLeft = m_LoadIdles;
}

void FakeRetriever::Idle()
{
    if (!m_pCurrent)
        return;
    KDataRetrieverRequest& request = *m_pCurrent;
    if (request.m_Async.IsCancelRequested()) {
        m_pPending->Release();
        m_pPending = nullptr;
        m_pCurrent = nullptr;
        request.m_Async.End(kCancelled, 0, KWString());
        return;
    }
    if (--m_IdlesLeft > 0) {
        request.m_Async.SetProgress(1.0 - double(m_IdlesLeft) / m_LoadIdles);
        return;
    }
    request.m_pData = m_pPending;
    m_pPending = nullptr;
    m_pCurrent = nullptr;
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}

// --- Stages --------------------------------------------------------------------------------------------------

StageCounts& Stages()
{
    static StageCounts counts;
    return counts;
}

void SetGate(int kind, KEvent* gate)
{
    g_Gate = gate;
    g_GateKind.store(kind);
}

KEngineOutcome FakeStage(KIPEngineRequest& request)
{
    const int kind = request.m_Kind;
    if (kind < 0 || kind > 6)
        return KEngineOutcome::Failed(4, KWString(u"FakeStage: kind"));
    ++Stages().m_Calls[kind];
    Stages().m_LastResume1[kind].store(request.m_Resume[1]);
    if (g_GateKind.load() == kind && g_Gate) {
        g_Gate->Wait(PLAT_INFINITE);
        if (request.m_Async.IsCancelRequested()) {
            request.m_Resume[1] = 42;
            return KEngineOutcome::Cancelled();
        }
    }
    switch (kind) {
    case kEngineStage1: {
        KPixmap& out = PixmapParam(request, u"OUTIMAGE");
        if (!request.GetCamdataParam(KWString(u"CAMBDATA")))
            throw KException("FakeStage: no calibration");
        // Frames come whole, or as sources of rows (read here a row at a time).
        const size_t values = size_t(out.GetWidth()) * 3;
        std::vector<uint16_t> rawRow(values), darkRow(values);
        auto row = [&](const char16_t* pixmapName, const char16_t* rowsName, int y, std::vector<uint16_t>& buffer) {
            if (KIDataObject* rows = request.GetRowsParam(KWString(rowsName))) {
                KPixmapTemplate<KPixelClass48RGB> into(buffer.data(), out.GetWidth(), 1,
                                                       static_cast<int32_t>(values * 2));
                rows->ReadImageRows(y, 1, into);
                return static_cast<const uint16_t*>(buffer.data());
            }
            return reinterpret_cast<const uint16_t*>(PixmapParam(request, pixmapName).GetRow(y));
        };
        for (int y = 0; y < out.GetHeight(); ++y) {
            auto* r = row(u"RAWIMAGE", u"RAWROWS", y, rawRow);
            auto* d = row(u"DARKIMAGE", u"DARKROWS", y, darkRow);
            auto* o = reinterpret_cast<int16_t*>(out.GetRow(y));
            for (int i = 0; i < 3 * out.GetWidth(); ++i)
                o[i] = static_cast<int16_t>(r[i] - d[i]);
        }
        request.m_Async.SetProgress(1.0);
        return KEngineOutcome::Done();
    }
    case kEngineStage2: {
        PixmapParam(request, u"STAGE1IMAGE");
        if (PixmapParam(request, u"TEMPDATA").GetHeight() < 5 || !request.GetTextParam(KWString(u"WB_DESC")))
            throw KException("FakeStage: stage 2 parameters");
        auto* statistics = dynamic_cast<KDataMatrixTemplate<FloatClass>*>(request.GetMatrixParam(KWString(u"AUTOADJUSTOUT")));
        if (!statistics || statistics->GetColumns() < 8)
            throw KException("FakeStage: AUTOADJUSTOUT");
        for (int i = 0; i < 8; ++i)
            statistics->Elements()[i] = 0.1 * (i + 1);
        MatrixValue<FloatClass>(request, u"ISO", 0);
        MatrixValue<FloatClass>(request, u"OVERRIDERGBNEUTRAL", 2);
        return KEngineOutcome::Done();
    }
    case kEngineStage3: {
        KPixmap& in = PixmapParam(request, u"STAGE2IMAGE");
        KPixmap& out = PixmapParam(request, u"OUTIMAGE");
        KPixmap& lum = PixmapParam(request, u"OUTIMAGEL");
        PixmapParam(request, u"TEMPDATA");
        const int fw = MatrixValue<Int32Class>(request, u"OUTSIZE", 0);
        const int fh = MatrixValue<Int32Class>(request, u"OUTSIZE", 1);
        const int left = MatrixValue<Int32Class>(request, u"CROPRECT", 0);
        const int top = MatrixValue<Int32Class>(request, u"CROPRECT", 1);
        for (int y = 0; y < out.GetHeight(); ++y)
            for (int x = 0; x < out.GetWidth(); ++x) {
                const int sx = (left + x) * in.GetWidth() / fw, sy = (top + y) * in.GetHeight() / fh;
                auto* s = reinterpret_cast<const int16_t*>(in.GetRow(sy)) + 3 * sx;
                auto* o = reinterpret_cast<int16_t*>(out.GetRow(y)) + 3 * x;
                std::memcpy(o, s, 6);
                reinterpret_cast<int16_t*>(lum.GetRow(y))[x] = s[1];
            }
        return KEngineOutcome::Done();
    }
    case kEngineToneLUT: {
        auto* lut = dynamic_cast<KDataMatrixTemplate<Int16Class>*>(request.GetMatrixParam(KWString(u"OUTLUT")));
        if (!lut || lut->GetRows() < 65536 || lut->GetColumns() < 3)
            throw KException("FakeStage: OUTLUT");
        MatrixValue<FloatClass>(request, u"ADJUSTMENTS", 3);
        MatrixValue<FloatClass>(request, u"COLORADJUST", 2);
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 65536; ++v)
                lut->At(v, c) = static_cast<int16_t>(v);
        return KEngineOutcome::Done();
    }
    case kEngineStage4: {
        KPixmap& in = PixmapParam(request, u"STAGE3IMAGE");
        PixmapParam(request, u"STAGE3IMAGEL");
        MatrixValue<Int16Class>(request, u"TONELUT", 65536 * 3 - 1);
        MatrixValue<FloatClass>(request, u"ADJUSTMENTS", 1);
        MatrixValue<Int32Class>(request, u"OUTCOLORSPACE", 0);
        ConvertColorPixmap(&in, &PixmapParam(request, u"OUTIMAGE"));
        return KEngineOutcome::Done();
    }
    case kEngineRotate:
        Rotate(PixmapParam(request, u"INIMAGE"), PixmapParam(request, u"OUTIMAGE"),
               MatrixValue<FloatClass>(request, u"ROTATION", 0));
        return KEngineOutcome::Done();
    default:
        return KEngineOutcome::Failed(4, KWString(u"FakeStage: kind"));
    }
}

// --- ManagerFixture ------------------------------------------------------------------------------------------

void ManagerFixture::SetUp()
{
    // Each test starts with an empty cache (results of earlier tests, the shared tone LUTs above all, would
    // answer its requests).
    KCache* cache = GetGlobalCache();
    const KUInt32 limit = cache->GetMaxSize();
    cache->SetMaxSize(0);
    cache->SetMaxSize(limit);
    m_Files = std::make_shared<std::map<std::u16string, FakeFile>>();
    m_Counts = std::make_shared<FakeRetriever::Counts>();
    for (int k = 0; k < 7; ++k) {
        Stages().m_Calls[k] = 0;
        Stages().m_LastResume1[k] = 0;
    }
    SetGate(-1, nullptr);
    g_EngineStageForTest.store(FakeStage);
}

void ManagerFixture::TearDown()
{
    g_EngineStageForTest.store(nullptr);
    SetGate(-1, nullptr);
    EXPECT_TRUE(NothingLocked()) << "a cache block is still locked";
}

KWString ManagerFixture::Name(const std::string& leaf) const
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return Utf8ToWide(std::string("mem://") + info->test_suite_name() + "." + info->name() + "/" + leaf);
}

FakeFile& ManagerFixture::AddFile(const KWString& name, FakeFile file)
{
    return (*m_Files)[name.Str()] = std::move(file);
}

std::unique_ptr<IPManager2> ManagerFixture::NewManager(int loadIdles)
{
    auto retriever = std::make_unique<FakeRetriever>(m_Files, m_Counts);
    retriever->m_LoadIdles = loadIdles;
    m_pLastRetriever = retriever.get();
    return std::make_unique<IPManager2>(std::move(retriever));
}

void ManagerFixture::Drive(IPManager2& manager, KIpMgrReq& request)
{
    KPerfTimer stopwatch;
    stopwatch.Start();
    while (request.m_Async.IsBusy()) {
        ASSERT_LT(stopwatch.GetElapsedSeconds(), 10.0) << "request did not end; state " << manager.GetPipelineState();
        manager.Idle();
    }
}

void ManagerFixture::Run(IPManager2& manager, KIpMgrReq& request)
{
    manager.Request(&request);
    Drive(manager, request);
}

std::vector<std::u16string> ManagerFixture::CacheLabels(const KWString& prefix)
{
    std::vector<std::u16string> labels;
    for (const KWString& label : GetGlobalCache()->List())
        if (label.Str().rfind(prefix.Str(), 0) == 0)
            labels.push_back(label.Str());
    return labels;
}

void Preview(KIpMgrReq& request, const KWString& file, int width, int height, KRect crop)
{
    request.Reset();
    request.m_FileName = file;
    request.m_Kind = kIpReqPreview;
    request.m_OutputFormat = kDisplay;
    request.m_OutputWidth = width;
    request.m_OutputHeight = height;
    request.m_CropRect = crop;
}

void Processed(KIpMgrReq& request, const KWString& file, int width, int height, KUInt32 format)
{
    request.Reset();
    request.m_FileName = file;
    request.m_Kind = kIpReqProcessed;
    request.m_OutputWidth = width;
    request.m_OutputHeight = height;
    request.m_CropRect = KRect(0, 0, width, height);
    request.m_OutputFormat = format;
}

}  // namespace ipmtest
