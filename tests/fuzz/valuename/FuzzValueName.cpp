// The names of the device-notification key's values: any bytes a process may have stored as a value name (read
// back at most 50 characters, zero-terminated).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OstraNames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string name(reinterpret_cast<const char*>(data), size);
    name = name.substr(0, ostra::kNotificationNameLength);
    PlatGuid guid{};
    if (ostra::ParseNotificationName(name.c_str(), &guid)) {
        // A name taken begins with a brace and has its closing brace within the name.
        if (name[0] != '{' || name.find('}') == std::string::npos)
            std::abort();
    }
    return 0;
}
