// The EXIF reader on untrusted bytes: as the data of a JPEG APP1 segment, and as the bare directory block of
// a TIFF file's EXIF field in either byte order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "KExifReader.h"
#include "KPropTree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KPropTree tree(nullptr, "ImageProps");
    ParseExifSegment(data, size, tree);
    if (data && size <= 0xFFFFFFFFu) {
        KPropTree block(nullptr, "ImageProps");
        ParseExifIfd(data, data, static_cast<KUInt32>(size), false, block);
        ParseExifIfd(data, data, static_cast<KUInt32>(size), true, block);
    }
    ParseExifDateTime(std::string(reinterpret_cast<const char*>(data ? data : reinterpret_cast<const uint8_t*>("")), size).c_str());
    return 0;
}
