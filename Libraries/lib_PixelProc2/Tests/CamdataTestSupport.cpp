#include "CamdataTestSupport.h"

#include <sstream>

#include "KCamdataGetters.h"
#include "KPropTree.h"
#include "KTextFunctions.h"

namespace {

template <class T>
void Put(std::ostream& o, const char* what, const T& values)
{
    o << what << ":";
    for (auto v : values)
        o << " " << v;
    o << "\n";
}

}  // namespace

std::string DescribeCamdata(const KCamdata& c)
{
    std::ostringstream o;
    o.precision(17);
    o << "blocks " << c.GetBlockCount() << "\n";
    if (auto lut = GetCamdataColorLUT("LinLUTs", c)) {
        o << "LinLUTs size " << lut->m_Size << " mask " << lut->m_Mask;
        for (int ch = 0; ch < 3; ++ch)
            for (KUInt32 i = 0; i < lut->m_Size; i += 97)
                o << " " << lut->m_pData[ch][i];
        o << "\n";
    }
    for (const char* m : {"CAMToXYZ", "CamToXYZ_Tungsten", "TungstenCorrection"})
        Put(o, m, GetCamdataColorMatrix(m, c));
    KUInt32 n = 0;
    const KUInt32* bad = GetCamdataBadPixels("BadPixels", c, &n);
    o << "BadPixels:";
    for (KUInt32 i = 0; i < n; ++i)
        o << " " << bad[i];
    o << "\n";
    if (auto g = GetCamdataSpatialGain("SpatialGain", c)) {
        o << "SpatialGain " << g->m_Rows << "x" << g->m_Columns << ":";
        for (KUInt32 i = 0; i < g->m_Rows * g->m_Columns * 3; ++i)
            o << " " << g->m_pElements[i];
        o << "\n";
    }
    Put(o, "PostPolyMatrix", GetCamdataPostPoly("PostPolyMatrix", c));
    for (const char* f : {"SensorISO", "RedSharpen", "ChromaBlur", "SpatialDQ"})
        o << f << ": " << GetCamdataFloat(f, c) << "\n";
    o << "RawOffsetFilterShift: " << GetCamdataUInt32("RawOffsetFilterShift", c) << "\n";
    for (const char* f : {"RGBNeutral", "FlareFactor", "ChromaDQ", "ColumnFilterRGB", "AutoRGBNeutral"})
        Put(o, f, GetCamdataColorFloat(f, c));
    Put(o, "SaturationLevel", GetCamdataColorInt16("SaturationLevel", c));
    for (const char* r : {"KeepImageArea", "ActiveImageArea", "DarkShieldTop", "DarkShieldBottom"}) {
        KRect rc = GetCamdataRect(r, c);
        o << r << ": " << rc.left << " " << rc.top << " " << rc.right << " " << rc.bottom << "\n";
    }
    const KUInt32 dims[] = {2, 2};
    if (const KCamdataMatrix* m = c.FindMatrix("DarkShieldColRange", KCAMDATA_UINT32, 2, dims))
        Put(o, "DarkShieldColRange", std::vector<KUInt32>(m->Elements<KUInt32>(), m->Elements<KUInt32>() + 4));
    if (const KCamdataMatrix* m = c.FindMatrix("RawOffsetSourceRows", KCAMDATA_UINT32, 1, nullptr))
        Put(o, "RawOffsetSourceRows", std::vector<KUInt32>(m->Elements<KUInt32>(), m->Elements<KUInt32>() + 3));
    for (const char* p : {"WhiteBalanceIlluminants", "WhiteBalanceCorrections"}) {
        KPropTree tree(nullptr, "t");
        o << p << " " << c.GetPropertyList(p, &tree) << ":";
        for (KPropPair* pair = tree.GetFirstPair(); pair; pair = pair->GetNext())
            o << " " << WideToUtf8(pair->GetKey()) << "=" << WideToUtf8(pair->GetValue());
        o << "\n";
    }
    return o.str();
}
