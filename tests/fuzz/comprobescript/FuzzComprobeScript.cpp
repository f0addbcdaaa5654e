// comprobe's script reader over any bytes: a script is read whole or refused with an error naming a line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ComprobeScript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<comprobe::Line> lines;
    std::string error;
    if (comprobe::ParseScript(text, &lines, &error)) {
        if (!error.empty() || lines.size() > comprobe::kMaxLines)
            std::abort();
        for (const comprobe::Line& l : lines)
            if (l.name.empty() || l.name.size() > comprobe::kMaxName || l.member.empty() ||
                l.args.size() > comprobe::kMaxArgs || l.number < 1)
                std::abort();
    } else if (error.compare(0, 5, "line ") != 0 && error.find("1 MiB") == std::string::npos) {
        std::abort();
    }
    return 0;
}
