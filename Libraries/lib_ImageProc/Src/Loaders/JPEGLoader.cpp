#include "JPEGLoader.h"

#include "KJPEGImageReader.h"
#include "KPropTree.h"
#include "KSizeTimeUniqueID.h"

namespace {
constexpr const char* kName = "JPEGLoader";
constexpr int kThreadPriority = 2;
constexpr KUInt32 kIdleWaitMs = 100;
constexpr KUInt32 kImageCount = 4;
}  // namespace

KIJPEGLoader* CreateJPEGLoader()
{
    return new JPEGLoader();
}

JPEGLoader::JPEGLoader() : m_Thread(kName, kThreadPriority, true, HandleRequest) {}

void JPEGLoader::Idle()
{
    m_Thread.Idle(kIdleWaitMs);
}

void JPEGLoader::KeepAlive(std::shared_ptr<void> holder) noexcept
{
    m_Thread.KeepAlive(std::move(holder));
}

void JPEGLoader::Request(KLoaderRequest& request)
{
    Idle();
    switch (request.m_Kind) {
    case kLoadImageCount:
        // Every JPEG file offers the same scales: the file is not opened.
        request.m_Value = kImageCount;
        request.Done();
        break;
    case kLoadImage:
        if (request.m_pPixmap)
            m_Thread.Queue(request);
        else
            m_Thread.RunNow(request);
        break;
    case kLoadCameraFile:
        request.Fail(kIpErrBadArgument, KWString("JPEGLoader:Request - jpegs don't have camfiles."));
        break;
    case kLoadProperties:
    case kLoadModify:
    case kLoadUniqueID:
        m_Thread.RunNow(request);
        break;
    default:
        request.Fail(kIpErrBadArgument, KWString("JPEGLoader:Request - invalid request."));
        break;
    }
}

KLoaderOutcome JPEGLoader::HandleRequest(KLoaderRequest& request)
{
    return KRunLoaderBody<KExceptionJPEG>(request, kName, [&request]() {
        KJPEGImageReader reader(request.m_URL);
        switch (request.m_Kind) {
        case kLoadImage:
            return LoadImage(reader, request);
        case kLoadProperties:
            return priGetProperties(reader, request);
        case kLoadUniqueID:
            return AppendSizeTimeUniqueID(request, kName);
        default:
            return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("JPEGLoader:HandleRequest - invalid request."));
        }
    });
}

// The image index is the reduction: image n is the file at 1/2^n of its size (n from 1 to 3, else 0).
KLoaderOutcome JPEGLoader::LoadImage(KJPEGImageReader& reader, KLoaderRequest& request)
{
    const int scale = request.m_Value >= 1 && request.m_Value <= 3 ? static_cast<int>(request.m_Value) : 0;
    reader.SetScale(scale);
    KInt32 width = 0, height = 0;
    int pixelType = 0;
    reader.GetDimensions(width, height, pixelType);
    request.m_Aux1 = static_cast<KUInt32>(width);
    request.m_Aux2 = static_cast<KUInt32>(height);
    request.m_PixelType = pixelType;
    request.m_ImageKind = kImageKindViewable;
    if (request.m_pPixmap)
        reader.ReadImage(*request.m_pPixmap);
    return KLoaderOutcome::Done();
}

KLoaderOutcome JPEGLoader::priGetProperties(KJPEGImageReader& reader, KLoaderRequest& request)
{
    if (!request.m_pTree)
        return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("JPEGLoader: Property list pointer is NULL"));
    KInt32 width = 0, height = 0;
    int pixelType = 0;
    reader.GetDimensions(width, height, pixelType);
    KPropTree& tree = *request.m_pTree;
    reader.GetProperties(tree);
    tree.AddPair("COLS", KNarrowString("%d", width).CStr());
    tree.AddPair("ROWS", KNarrowString("%d", height).CStr());
    tree.AddPair("PROCESSABLE", "0");
    return AppendSizeTimeUniqueID(request, kName);
}
