#include "KCamdataGetters.h"

#include <initializer_list>

#include "KDebug.h"

namespace {

// The matrix of that type and shape (dims may be left empty: any shape), or null after the trace
// "Camdata <what> '<name>' not found.".
const KCamdataMatrix* Find(const KCamdata& c, const char* name, const char* what, KUInt32 type,
                           std::initializer_list<KUInt32> dims, KUInt32 dimCount = 0)
{
    const KCamdataMatrix* m = dims.size() ? c.FindMatrix(name, type, static_cast<KUInt32>(dims.size()), dims.begin())
                                          : c.FindMatrix(name, type, dimCount, nullptr);
    if (!m)
        DebugTrace("Camdata %s '%s' not found.\n", what, name);
    return m;
}

void NotThreeChannels(const char* what, const char* name)
{
    DebugTrace("Camdata %s '%s' doesn't have 3 color channels.\n", what, name);
}

template <class T, class R, size_t N>
std::array<R, N> Values(const KCamdataMatrix* m, std::array<R, N> defaults)
{
    if (m)
        for (size_t i = 0; i < N; ++i)
            defaults[i] = static_cast<R>(m->Elements<T>()[i]);
    return defaults;
}

template <class T>
T Scalar(const KCamdata& c, const char* name, const char* what, KUInt32 type)
{
    const KCamdataMatrix* m = Find(c, name, what, type, {1});
    return m ? m->Elements<T>()[0] : T(0);
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
        NotThreeChannels("color LUT", name);
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
    return Values<float>(Find(camdata, name, "color matrix", KCAMDATA_FLOAT, {3, 3}), KMatrix3x3{});
}

const KUInt32* GetCamdataBadPixels(const char* name, const KCamdata& camdata, KUInt32* count)
{
    const KCamdataMatrix* m = Find(camdata, name, "bad pixels", KCAMDATA_UINT32, {}, 1);
    if (count)
        *count = m ? m->m_Dims[0] : 0;
    return m ? m->Elements<KUInt32>() : nullptr;
}

std::unique_ptr<KSpatialGainGrid> GetCamdataSpatialGain(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, "spatial gain", KCAMDATA_FLOAT, {}, 3);
    if (!m)
        return nullptr;
    if (m->m_Dims[2] != 3) {
        NotThreeChannels("spatial gain", name);
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
    return Values<float>(Find(camdata, name, "post poly", KCAMDATA_FLOAT, {3, 9}), KPostPoly{});
}

float GetCamdataFloat(const char* name, const KCamdata& camdata)
{
    return Scalar<float>(camdata, name, "float", KCAMDATA_FLOAT);
}

KInt32 GetCamdataInt32(const char* name, const KCamdata& camdata)
{
    return Scalar<KInt32>(camdata, name, "int32", KCAMDATA_INT32);
}

KUInt32 GetCamdataUInt32(const char* name, const KCamdata& camdata)
{
    return Scalar<KUInt32>(camdata, name, "uint32", KCAMDATA_UINT32);
}

KColorTriple GetCamdataColorFloatOr(const char* name, const KCamdata& camdata, const KColorTriple& defaults)
{
    return Values<float>(Find(camdata, name, "color float", KCAMDATA_FLOAT, {3}), defaults);
}

KColorTriple GetCamdataColorFloat(const char* name, const KCamdata& camdata)
{
    return GetCamdataColorFloatOr(name, camdata, {0.0, 0.0, 0.0});
}

KIntTriple GetCamdataColorInt16(const char* name, const KCamdata& camdata)
{
    return Values<KInt16>(Find(camdata, name, "color int16", KCAMDATA_INT16, {3}), KIntTriple{});
}

KIntTriple GetCamdataColorInt32(const char* name, const KCamdata& camdata)
{
    return Values<KInt32>(Find(camdata, name, "color int32", KCAMDATA_INT32, {3}), KIntTriple{});
}

KRect GetCamdataRect(const char* name, const KCamdata& camdata)
{
    const KCamdataMatrix* m = Find(camdata, name, "rect", KCAMDATA_INT32, {4});
    if (!m)
        return KRect();
    const KInt32* e = m->Elements<KInt32>();
    // Inclusive to exclusive; the largest value has no successor and stays.
    auto next = [](KInt32 v) { return v == 2147483647 ? v : v + 1; };
    return KRect(e[0], e[1], next(e[2]), next(e[3]));
}

KDarkDrift GetCamdataDarkDrift(const char* name, const KCamdata& camdata)
{
    KDarkDrift r;
    const KCamdataMatrix* m = Find(camdata, name, "dark drift", KCAMDATA_FLOAT, {2, 3, 2});
    if (!m)
        return r;
    const float* e = m->Elements<float>();
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            for (int c = 0; c < 3; ++c)
                r.m_Value[k][j][c] = e[k * 6 + c * 2 + j];
    return r;
}
