// The PNG loader on untrusted bytes (the pictures a UI script names can be any file).
#include <cstddef>
#include <cstdint>

#include "../FuzzInput.h"
#include "KPNGLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzinput::SetInput(data, size);
    KIFile* file = fuzzinput::OpenInput(KWString("fuzz://input.png"));
    KPNGPixmap* pixmap = LoadPNGPixmap(file);  // releases the file on failure
    if (pixmap != nullptr) {
        file->Release();
        delete pixmap;
    }
    return 0;
}
