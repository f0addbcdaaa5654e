// Calibration data comes from raw files and separate calibration files: parsing any bytes, in either form
// and byte order, and every look-up afterwards must end in data or an exception, never a crash or a hang.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KException.h"
#include "KPropTree.h"

namespace {

// Every short printable run ended by a NUL or by the end of the buffer (a name that runs off the end).
void AddRuns(const uint8_t* data, size_t size, std::vector<std::string>& names)
{
    const size_t limit = names.size() + 200;
    std::string run;
    for (size_t i = 0; i <= size && names.size() < limit; ++i) {
        const char c = i < size ? static_cast<char>(data[i]) : 0;
        if (c == 0) {
            if (!run.empty() && run.size() < 64)
                names.push_back(run);
            run.clear();
        } else if (std::isprint(static_cast<unsigned char>(c))) {
            run += c;
        } else {
            run.clear();
        }
    }
}

// The names to look up: those the pipeline asks for, and the runs of the input as it stands and as a
// big-endian buffer reads once its words or 16-bit units are swapped (so that whatever blocks were parsed are
// found, also by a name the swap changed).
std::vector<std::string> Names(const uint8_t* data, size_t size)
{
    std::vector<std::string> names = {"LinLUTs", "linluts", "CAMToXYZ", "BadPixels", "SpatialGain", "PostPolyMatrix",
                                      "SensorISO", "RawOffsetFilterShift", "BulbAccumOffset", "SaturationLevel",
                                      "KeepImageArea", "DarkDrift", "WhiteBalanceIlluminants"};
    AddRuns(data, size, names);
    for (size_t unit : {size_t{4}, size_t{2}}) {
        std::vector<uint8_t> swapped(data, data + size);
        for (size_t i = 0; i + unit <= size; i += unit)
            std::reverse(swapped.begin() + static_cast<std::ptrdiff_t>(i),
                         swapped.begin() + static_cast<std::ptrdiff_t>(i + unit));
        AddRuns(swapped.data(), size, names);
    }
    return names;
}

volatile uint32_t g_Sink;

void Touch(const void* p, size_t bytes)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    uint32_t s = 0;
    for (size_t i = 0; i < bytes; ++i)
        s += b[i];
    g_Sink = s;
}

void LookUpEverything(const KCamdata& c, const std::string& name)
{
    const char* n = name.c_str();
    for (KUInt32 type = 0; type < KCAMDATA_TYPE_COUNT; ++type)
        if (const KCamdataMatrix* m = c.FindMatrix(n, type, 0, nullptr))
            Touch(m->m_pElements, static_cast<size_t>(m->m_ElementCount * KCamdataElementSize(type)));
    if (auto lut = GetCamdataColorLUT(n, c))
        for (int ch = 0; ch < 3; ++ch)
            Touch(lut->m_pData[ch], lut->m_Size * sizeof(KInt16));
    (void)GetCamdataColorMatrix(n, c);
    KUInt32 count = 0;
    if (const KUInt32* bad = GetCamdataBadPixels(n, c, &count))
        Touch(bad, count * sizeof(KUInt32));
    if (auto grid = GetCamdataSpatialGain(n, c))
        Touch(grid->m_pElements, size_t(grid->m_Rows) * grid->m_Columns * 3 * sizeof(float));
    (void)GetCamdataPostPoly(n, c);
    (void)GetCamdataFloat(n, c);
    (void)GetCamdataInt32(n, c);
    (void)GetCamdataUInt32(n, c);
    (void)GetCamdataColorFloat(n, c);
    (void)GetCamdataColorInt16(n, c);
    (void)GetCamdataColorInt32(n, c);
    (void)GetCamdataRect(n, c);
    (void)GetCamdataDarkDrift(n, c);
    KPropTree tree(nullptr, "t");
    (void)c.GetPropertyList(n, &tree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> before(data, data + size);
    try {
        KCamdata c(data, size);
        for (const std::string& name : Names(data, size))
            LookUpEverything(c, name);
    } catch (const KException&) {
    }
    // The caller's buffer is never written.
    if (std::vector<uint8_t>(data, data + size) != before)
        __builtin_trap();
    return 0;
}
