// The tag block comes from any user's TIFF file: parsing must survive any bytes, plain or scrambled, and what
// it accepts must serialise again and parse to the same items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "KQuarelTag.h"

namespace {
void Parse(const std::vector<uint8_t>& form)
{
    KQuarelTag tag;
    try {
        tag.SetBuffer(form.data(), form.size());
    } catch (const KExceptionQuarelTag&) {
        return;
    }
    std::vector<uint8_t> again;
    tag.GetBuffer(again, true);
    KQuarelTag back;
    back.SetBuffer(again.data(), again.size());  // must not throw: the form is our own
    if (back.GetItems().size() != tag.GetItems().size())
        std::abort();
    KNarrowString text;
    if (tag.GetString(KQuarelKey("exst"), &text)) {
        std::vector<KNarrowString> strings;
        KQuarelTag::SplitStringList(text.CStr(), strings, 1000);
        KQuarelTag::SplitStringListKeepingEmpty(text.CStr(), strings, 1000);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> form(data, data + size);
    // The size word is made to match, so that the fuzzer reaches the directory.
    if (form.size() >= 8) {
        const uint32_t n = static_cast<uint32_t>(form.size());
        for (int i = 0; i < 4; ++i)
            form[4 + i] = static_cast<uint8_t>(n >> (8 * i));
    }
    Parse(form);
    return 0;
}
