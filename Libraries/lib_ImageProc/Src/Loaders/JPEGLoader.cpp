#include "JPEGLoader.h"

#include "KJPEGImageReader.h"
#include "KPropTree.h"
#include "KSizeTimeUniqueID.h"

namespace {
constexpr const char* kName = "JPEGLoader";
constexpr KUInt32 kImageCount = 4;
constexpr const char* kInvalid = "JPEGLoader:Request - invalid request.";
using R = KLoaderRoute;
const KLoaderSetup kSetup = {
    kName, 2, true, 100, JPEGLoader::HandleRequest,
    {{R::Now, R::ThreadForPixels, R::Refuse, R::Refuse, R::Now, R::Now, R::Now},
     {nullptr, nullptr, "JPEGLoader:Request - jpegs don't have camfiles.", kInvalid, nullptr, nullptr, nullptr},
     kInvalid}};
}  // namespace

KIJPEGLoader* CreateJPEGLoader()
{
    return new JPEGLoader();
}

JPEGLoader::JPEGLoader() : KLoaderFrame(kSetup) {}

KLoaderOutcome JPEGLoader::HandleRequest(KLoaderRequest& request)
{
    if (request.m_Kind == kLoadImageCount) {
        // Every JPEG file offers the same scales: the file is not opened.
        request.m_Value = kImageCount;
        return KLoaderOutcome::Done();
    }
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
    reader.SetScale(ScaleOfImageIndex(request, 3));
    KInt32 width = 0, height = 0;
    int pixelType = 0;
    reader.GetDimensions(width, height, pixelType);
    StoreViewableImage(request, width, height, pixelType);
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
