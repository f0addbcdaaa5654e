#include "QRLbLoader.h"

#include <algorithm>
#include <memory>

#include "KPropTree.h"
#include "KQrlbImageReader.h"

namespace {
constexpr const char* kName = "QRLbLoader";
constexpr const char* kInvalid = "QRLbLoader:Request - invalid request.";
using R = KLoaderRoute;
const KLoaderSetup kSetup = {
    kName, 0, false, 0, QRLbLoader::HandleRequest,
    {{R::Now, R::ThreadForPixels, R::Thread, R::Thread, R::Now, R::Now, R::Now},
     {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
     kInvalid}};

// Image kind for the image type word of an image section; 0 for an unknown type.
KInt32 ImageKindOfType(KUInt32 imageType)
{
    switch (imageType) {
    case 0:
        return kImageKindDark;
    case 1:
        return kImageKindRaw;
    case 2:
        return kImageKindViewable;
    case 3:
        return kImageKindDarkSubtracted;
    default:
        return 0;
    }
}

KWString Decimal(long long value)
{
    return KWString(KNarrowString("%lld", value).CStr());
}
}  // namespace

KIQRLbLoader* CreateQRLbLoader()
{
    return new QRLbLoader();
}

QRLbLoader::QRLbLoader() : KLoaderFrame(kSetup) {}

KLoaderOutcome QRLbLoader::HandleRequest(KLoaderRequest& request)
{
    return KRunLoaderBody<KExceptionQrlbReader>(request, kName, [&request]() {
        auto reader = std::make_unique<KQrlbImageReader>(request.m_URL);
        switch (request.m_Kind) {
        case kLoadImageCount:
            request.m_Value = static_cast<KUInt32>(reader->GetNumImages());
            return KLoaderOutcome::Done();
        case kLoadImage:
            return LoadImage(*reader, request);
        case kLoadCameraFile:
            return LoadCamfile(*reader, request, 0);
        case kLoadCalibration:
            return LoadCamfile(*reader, request, 1);
        case kLoadProperties:
            return priGetProperties(*reader, request);
        case kLoadModify:
            reader.reset();  // the file is written next: close it first
            return priModifyProperties(request);
        case kLoadUniqueID:
            return priGetUniqueID(*reader, request);
        default:
            return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("QRLbLoader:HandleRequest - invalid request."));
        }
    });
}

KLoaderOutcome QRLbLoader::LoadImage(KQrlbImageReader& reader, KLoaderRequest& request)
{
    const int index = static_cast<int>(request.m_Value);
    try {
        KQrlbSize size;
        int pixmapType = 0;
        KUInt32 imageType = 0;
        reader.GetImageInfo(index, size, pixmapType, imageType);
        request.m_Aux1 = static_cast<KUInt32>(size.columns);
        request.m_Aux2 = static_cast<KUInt32>(size.rows);
        request.m_PixelType = pixmapType;
        request.m_ImageKind = ImageKindOfType(imageType);
        if (!request.m_ImageKind)
            return KLoaderOutcome::Fail(kIpErrRead, KWString("QRLbLoader:LoadImage - unknown image type"));
        if (request.m_pPixmap &&
            !reader.GetImage(index, request.m_pPixmap, &request.m_Progress, &request.m_Cancel)) {
            if (request.IsCancelled())
                return KLoaderOutcome::Cancelled();
            return KLoaderOutcome::Fail(kIpErrRead, KWString("QRLbLoader:LoadImage - error while reading image data"));
        }
        return KLoaderOutcome::Done();
    } catch (const KExceptionIndexOutOfRange&) {
        return KLoaderOutcome::Fail(kIpErrBadArgument, KNarrowString("QRLbLoader:LoadImage index %d", index));
    }
}

KLoaderOutcome QRLbLoader::LoadCamfile(KQrlbImageReader& reader, KLoaderRequest& request, KUInt32 calibrationType)
{
    const int count = reader.GetNumCamFiles();
    if (count <= 0)
        return KLoaderOutcome::Fail(kIpErrNotFound, KWString("QRLbLoader:LoadCamfile - no camfiles found in this file."));
    int found = -1;
    KUInt32 size = 0;
    for (int i = 0; i < count && found < 0; ++i) {
        KUInt32 type = 0;
        reader.GetCamFileInfo(i, size, type);
        request.m_Value = size;
        if (type == calibrationType)
            found = i;
    }
    if (found < 0)
        return KLoaderOutcome::Fail(kIpErrNotFound,
                                    KWString("QRLbLoader:LoadCamfile - no camfile of the requested type found."));
    request.m_Aux1 = calibrationType == 0 ? 1 : 2;
    if (request.m_pBuffer) {
        // Never more than the buffer holds: a payload that grew since its size was asked reads short.
        const KUInt32 wanted = std::min(size, request.m_BufferSize);
        const KUInt32 got =
            reader.GetCamFile(found, request.m_pBuffer, wanted, &request.m_Progress, &request.m_Cancel);
        if (got < size) {
            if (request.IsCancelled())
                return KLoaderOutcome::Cancelled();
            return KLoaderOutcome::Fail(kIpErrRead, KWString("QRLbLoader:LoadCamfile - error reading camfile."));
        }
    }
    return KLoaderOutcome::Done();
}

KLoaderOutcome QRLbLoader::priGetProperties(KQrlbImageReader& reader, KLoaderRequest& request)
{
    if (!request.m_pTree)
        return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("QRLbLoader: Property list pointer is NULL"));
    KPropTree& tree = *request.m_pTree;
    reader.GetProperties(&tree);
    tree.AddPair(KWString("MARKBITS"), Decimal(static_cast<KInt32>(reader.GetMarkBits())));
    const KInt32 rotation = reader.GetRotation();
    tree.AddPair(KWString("ROTATION"), Decimal(rotation));
    tree.AddPair("PROCESSABLE", "1");
    // The camera's white balance stays as the original; the user's choice in the header, when there is one,
    // becomes the current one.
    if (KPropPair* camera = tree.FindPair(KWString("WB_DESC"))) {
        camera->SetKey(KWString("WB_DESC_ORIG"));
        const char* header = reader.GetWhiteBalance();
        tree.AddPair(KWString("WB_DESC"), header && *header ? KWString(header) : camera->GetValue());
    }
    KInt32 columns = 0, rows = 0;
    reader.GetDimensions(columns, rows);
    if (rotation == 90 || rotation == 270) {
        tree.AddPair(KWString("ROWS"), Decimal(columns));
        tree.AddPair(KWString("COLS"), Decimal(rows));
    } else {
        tree.AddPair(KWString("COLS"), Decimal(columns));
        tree.AddPair(KWString("ROWS"), Decimal(rows));
    }
    return priGetUniqueID(reader, request);
}

KLoaderOutcome QRLbLoader::priGetUniqueID(KQrlbImageReader& reader, KLoaderRequest& request)
{
    if (!request.m_pTree)
        return KLoaderOutcome::Fail(kIpErrBadArgument, KWString("QRLbLoader: Property list pointer is NULL"));
    const KUInt8* id = reader.GetUniqueIdentifier();
    KNarrowString text;
    for (int i = 0; i < 16; ++i)
        text += KNarrowString("%02X", id[i]).CStr();
    request.m_pTree->AddPair("UNIQUEID", text.CStr());
    return KLoaderOutcome::Done();
}
