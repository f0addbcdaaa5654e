#include "TiffLoader.h"

#include "KPropTree.h"
#include "KSizeTimeUniqueID.h"
#include "KTiffImageReader.h"

namespace {
constexpr const char* kName = "TiffLoader";
constexpr KUInt32 kImageCount = 5;
constexpr const char* kInvalid = "TiffLoader:Request - invalid request.";
using R = KLoaderRoute;
const KLoaderSetup kSetup = {
    kName, 0, false, 0, TiffLoader::HandleRequest,
    {{R::Now, R::ThreadForPixels, R::Now, R::Refuse, R::Now, R::Now, R::Now},
     {nullptr, nullptr, nullptr, kInvalid, nullptr, nullptr, nullptr},
     kInvalid}};
}  // namespace

KITiffLoader* CreateTiffLoader()
{
    return new TiffLoader();
}

TiffLoader::TiffLoader() : KLoaderFrame(kSetup) {}

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
    reader.SetScale(ScaleOfImageIndex(request, 4));
    int32_t width = 0, height = 0;
    int pixelType = 0;
    reader.GetDimensions(&width, &height, &pixelType);
    StoreViewableImage(request, width, height, pixelType);
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
