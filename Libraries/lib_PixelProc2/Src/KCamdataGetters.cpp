#include "KCamdataGetters.h"

#include <initializer_list>

#include "KDebug.h"

namespace {

const KCamdataMatrix* Find(const KCamdata& c, const char* name, KUInt32 type, std::initializer_list<KUInt32> dims)
{
    return c.FindMatrix(name, type, static_cast<KUInt32>(dims.size()), dims.begin());
}

}  // namespace

std::unique_ptr<KColorLUT> GetCamdataColorLUT(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = camdata.FindMatrix(name, KCAMDATA_INT16, 2, nullptr);
    // A table of no entries would make every look-up read outside it: it counts as missing.
    if (!m || m->m_Dims[1] == 0) {
        DebugTrace("Camdata color LUT '%s' not found.\n", name);
        return nullptr;
    }
    if (m->m_Dims[0] != 3) {
        DebugTrace("Camdata color LUT '%s' doesn't have 3 color channels.\n", name);
        return nullptr;
    }
    const KUInt32 n = m->m_Dims[1];
    auto lut = std::make_unique<KColorLUT>();
    // The record is shared with the tables the stages fill; these channels are only ever read.
    KInt16* data = const_cast<KInt16*>(m->Elements<KInt16>());
    for (int c = 0; c < 3; ++c)
        lut->m_pData[c] = data + static_cast<size_t>(c) * n;
    lut->m_Mask = n - 1;
    lut->m_Size = n;
    lut->m_bOwnsData = false;
    return lut;
}

KMatrix3x3 GetCamdataColorMatrix(const char* name, const KCamdata& camdata)
{
    KMatrix3x3 r{};
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_FLOAT, {3, 3});
    if (!m) {
        DebugTrace("Camdata color matrix '%s' not found.\n", name);
        return r;
    }
    for (int i = 0; i < 9; ++i)
        r[i] = m->Elements<float>()[i];
    return r;
}

const KUInt32* GetCamdataBadPixels(const char* name, const KCamdata& camdata, KUInt32* count)
{
    const KCamdataMatrix* m = camdata.FindMatrix(name, KCAMDATA_UINT32, 1, nullptr);
    if (!m) {
        DebugTrace("Camdata bad pixels '%s' not found.\n", name);
        if (count)
            *count = 0;
        return nullptr;
    }
    if (count)
        *count = m->m_Dims[0];
    return m->Elements<KUInt32>();
}

std::unique_ptr<KSpatialGainGrid> GetCamdataSpatialGain(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = camdata.FindMatrix(name, KCAMDATA_FLOAT, 3, nullptr);
    if (!m) {
        DebugTrace("Camdata spatial gain '%s' not found.\n", name);
        return nullptr;
    }
    if (m->m_Dims[2] != 3) {
        DebugTrace("Camdata spatial gain '%s' doesn't have 3 color channels.\n", name);
        return nullptr;
    }
    auto grid = std::make_unique<KSpatialGainGrid>();
    grid->m_pElements = m->Elements<float>();
    grid->m_Columns = m->m_Dims[1];
    grid->m_Rows = m->m_Dims[0];
    return grid;
}

KPostPoly GetCamdataPostPoly(const char* name, const KCamdata& camdata)
{
    KPostPoly r{};
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_FLOAT, {3, 9});
    if (!m) {
        DebugTrace("Camdata post poly '%s' not found.\n", name);
        return r;
    }
    for (int i = 0; i < 27; ++i)
        r[i] = m->Elements<float>()[i];
    return r;
}

float GetCamdataFloat(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_FLOAT, {1});
    if (!m) {
        DebugTrace("Camdata float '%s' not found.\n", name);
        return 0.0f;
    }
    return m->Elements<float>()[0];
}

KInt32 GetCamdataInt32(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_INT32, {1});
    if (!m) {
        DebugTrace("Camdata int32 '%s' not found.\n", name);
        return 0;
    }
    return m->Elements<KInt32>()[0];
}

KUInt32 GetCamdataUInt32(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_UINT32, {1});
    if (!m) {
        DebugTrace("Camdata uint32 '%s' not found.\n", name);
        return 0;
    }
    return m->Elements<KUInt32>()[0];
}

KColorTriple GetCamdataColorFloatOr(const char* name, const KCamdata& camdata, const KColorTriple& defaults)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_FLOAT, {3});
    if (!m) {
        DebugTrace("Camdata color float '%s' not found.\n", name);
        return defaults;
    }
    const float* e = m->Elements<float>();
    return {e[0], e[1], e[2]};
}

KColorTriple GetCamdataColorFloat(const char* name, const KCamdata& camdata)
{
    return GetCamdataColorFloatOr(name, camdata, {0.0, 0.0, 0.0});
}

KIntTriple GetCamdataColorInt16(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_INT16, {3});
    if (!m) {
        DebugTrace("Camdata color int16 '%s' not found.\n", name);
        return {0, 0, 0};
    }
    const KInt16* e = m->Elements<KInt16>();
    return {e[0], e[1], e[2]};
}

KIntTriple GetCamdataColorInt32(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_INT32, {3});
    if (!m) {
        DebugTrace("Camdata color int32 '%s' not found.\n", name);
        return {0, 0, 0};
    }
    const KInt32* e = m->Elements<KInt32>();
    return {e[0], e[1], e[2]};
}

KRect GetCamdataRect(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_INT32, {4});
    if (!m) {
        DebugTrace("Camdata rect '%s' not found.\n", name);
        return KRect();
    }
    const KInt32* e = m->Elements<KInt32>();
    // Inclusive to exclusive; the largest value has no successor and stays.
    auto next = [](KInt32 v) { return v == 2147483647 ? v : v + 1; };
    return KRect(e[0], e[1], next(e[2]), next(e[3]));
}

KDarkDrift GetCamdataDarkDrift(const char* name, const KCamdata& camdata)
{
    KDarkDrift r;
    const KCamdataMatrix* m = Find(camdata, name, KCAMDATA_FLOAT, {2, 3, 2});
    if (!m) {
        DebugTrace("Camdata dark drift '%s' not found.\n", name);
        return r;
    }
    const float* e = m->Elements<float>();
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            for (int c = 0; c < 3; ++c)
                r.m_Value[k][j][c] = e[k * 6 + c * 2 + j];
    return r;
}
