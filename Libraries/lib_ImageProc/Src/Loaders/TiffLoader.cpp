#include "TiffLoader.h"

#include "KPropTree.h"
#include "KSizeTimeUniqueID.h"
#include "KTiffImageReader.h"

namespace {
constexpr const char* kName = "TiffLoader";
constexpr int kThreadPriority = 0;
constexpr KUInt32 kImageCount = 5;
}  // namespace

KITiffLoader* CreateTiffLoader()
{
    return new TiffLoader();
}

TiffLoader::TiffLoader() : m_Thread(kName, kThreadPriority, false, HandleRequest) {}

void TiffLoader::Idle() {}

void TiffLoader::KeepAlive(std::shared_ptr<void> holder) noexcept
{
    m_Thread.KeepAlive(std::move(holder));
}

void TiffLoader::Request(KLoaderRequest& request)
{
    Idle();
    switch (request.m_Kind) {
    case kLoadImage:
        if (request.m_pPixmap)
            m_Thread.Queue(request);
        else
            m_Thread.RunNow(request);
        break;
    case kLoadImageCount:
    case kLoadCameraFile:
    case kLoadProperties:
    case kLoadModify:
    case kLoadUniqueID:
        m_Thread.RunNow(request);
        break;
    default:
        request.Fail(kIpErrBadArgument, KWString("TiffLoader:Request - invalid request."));
        break;
    }
}

KLoaderOutcome TiffLoader::HandleRequest(KLoaderRequest& request)
{
    return KRunLoaderBody<KExceptionTIFF>(request, kName, [&request]() {
        KTiffImageReader reader(request.m_URL);
        switch (request.m_Kind) {
        case kLoadImageCount:
            request.m_Value = kImageCount;
            return KLoaderOutcome::Done();
        case kLoadImage:
            return LoadImage(reader, request);
        case kLoadCameraFile:
            return KLoaderOutcome::Done();  // a TIFF file carries no calibration: nothing is delivered
        case kLoadProperties:
            return priGetProperties(reader, request);
        case kLoadUniqueID:
            return AppendSizeTimeUniqueID(request, kName);
        default:
            return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("TiffLoader:HandleRequest - invalid request."));
        }
    });
}

// The image index is the reduction: image n is the file at 1/2^n of its size (n from 1 to 4, else 0).
KLoaderOutcome TiffLoader::LoadImage(KTiffImageReader& reader, KLoaderRequest& request)
{
    const int scale = request.m_Value >= 1 && request.m_Value <= 4 ? static_cast<int>(request.m_Value) : 0;
    reader.SetScale(scale);
    int32_t width = 0, height = 0;
    int pixelType = 0;
    reader.GetDimensions(&width, &height, &pixelType);
    request.m_Aux1 = static_cast<KUInt32>(width);
    request.m_Aux2 = static_cast<KUInt32>(height);
    request.m_PixelType = pixelType;
    request.m_ImageKind = kImageKindViewable;
    if (request.m_pPixmap)
        reader.ReadImage(*request.m_pPixmap);
    return KLoaderOutcome::Done();
}

KLoaderOutcome TiffLoader::priGetProperties(KTiffImageReader& reader, KLoaderRequest& request)
{
    if (!request.m_pTree)
        return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("TiffLoader: Property list pointer is NULL"));
    reader.GetProperties(*request.m_pTree);  // "ROWS" and "COLS" among them
    request.m_pTree->AddPair("PROCESSABLE", "0");
    return AppendSizeTimeUniqueID(request, kName);
}
