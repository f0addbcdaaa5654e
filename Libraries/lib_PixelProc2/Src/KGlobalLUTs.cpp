#include "KGlobalLUTs.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "KDebug.h"
#include "KExceptionPixelProc2.h"
#include "KGlobalLUTsTestHook.h"
#include "KMutex.h"
#include "KRounding.h"

namespace {

constexpr KUInt32 kBigTableSize = 65536;

void BuildCubeRootTable(KInt16* t)
{
    for (KUInt32 i = 0; i < kBigTableSize; ++i) {
        const double x = i / 4096.0 + 0.008;
        t[i] = static_cast<KInt16>(KRoundToInt32(4096.0 * std::pow(x, 1.0 / 3.0)));
    }
    // Below 0 a parabola with the value and slope of the curve at 0; it reaches 0 at -192.
    const double a = 0.2 * 4096.0;
    const double k = 1.0 / (3.0 * 0.2 * 0.2);
    for (int v = -4096; v <= -1; ++v) {
        const double l = 4096.0 * (0.2 + k * v / 4096.0);
        const double m = std::max((a + l) / 2.0, 0.0);
        t[v & 0xFFFF] = static_cast<KInt16>(std::max(KRoundToInt32(m * m / a), 0));
    }
}

void BuildCubeTable(KInt16* t)
{
    const KUInt32 knee = static_cast<KUInt32>(KRoundToInt32(0.2 * 4096.0));  // 819
    for (KUInt32 i = 0; i < kBigTableSize; ++i) {
        double v;
        if (i < knee) {
            v = (i / 4096.0 - 0.2) * (3.0 * 0.2 * 0.2) * 4096.0;  // the slope of the cube at 0.2
        } else {
            const double y = i / 4096.0;
            v = (y * y * y - 0.008) * 4096.0;
        }
        t[i] = static_cast<KInt16>(std::min(KRoundToInt32(v), 32767));
    }
    for (KUInt32 i = 61440; i < kBigTableSize; ++i)
        t[i] = 0;
}

// A limit of 0 gives the limit of A tanh(x B / A) as A goes to 0: all zero, without dividing by it.
void BuildTanhChannel(KInt16* t, KUInt32 size, double limit, double slope)
{
    const KUInt32 half = size / 2;
    for (KUInt32 i = 0; i < half; ++i) {
        const double v = limit == 0.0 ? 0.0 : limit * std::tanh(i * slope / limit);
        t[i] = KSaturateToInt16(KRoundToInt32(v));
    }
    for (KUInt32 i = 1; i < half; ++i)
        t[size - i] = static_cast<KInt16>(-t[i]);
    t[half] = t[half + 1];  // -half takes the value of -(half - 1)
}

bool SameDouble(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

}  // namespace

std::atomic<KGlobalTableBuildForTest> g_GlobalTableBuildForTest{nullptr};

namespace {
void TestBuildHook()
{
    if (KGlobalTableBuildForTest hook = g_GlobalTableBuildForTest.load())
        hook();
}
}  // namespace

struct KGlobalLUTsClass::KTanhEntry {
    KColorLUT m_Lut;
    double m_Limits[3];
    double m_Slopes[3];
    std::unique_ptr<KInt16[]> m_pChannels[3];
};

class KGlobalLUTsClass::KLock {
public:
    // Another thread holding the mutex is building a table, which always ends: wait for it however long
    // that takes on a loaded machine. (A wait limited to a tenth of a second, as first designed, failed whole
    // developments when several engines met at the lock on a busy machine.) A second lock by the holder fails
    // at once.
    explicit KLock(KMutex& m) : m_Mutex(m)
    {
        if (!m_Mutex.Lock())
            throw KExceptionPixelProc2("KGlobalLUTsClass: error acquiring MUTEX");
    }
    ~KLock() { m_Mutex.Unlock(); }
    KLock(const KLock&) = delete;
    KLock& operator=(const KLock&) = delete;

private:
    KMutex& m_Mutex;
};

KGlobalLUTsClass::KGlobalLUTsClass() : m_pMutex(std::make_unique<KMutex>()) {}

KGlobalLUTsClass::~KGlobalLUTsClass() = default;

KGlobalLUTsClass& KGlobalLUTsClass::priInstance()
{
    // Never destroyed: see the header.
    static KGlobalLUTsClass* instance = new KGlobalLUTsClass;
    return *instance;
}

const KLUT* KGlobalLUTsClass::priGetTable(std::unique_ptr<KLUT>& lut, std::unique_ptr<KInt16[]>& data,
                                          void (*build)(KInt16*))
{
    KLock lock(*m_pMutex);
    if (!lut) {
        auto entries = std::make_unique<KInt16[]>(kBigTableSize);
        build(entries.get());
        TestBuildHook();
        lut = std::make_unique<KLUT>(entries.get(), kBigTableSize, false);
        data = std::move(entries);
    }
    return lut.get();
}

const KLUT* KGlobalLUTsClass::GetCubeRootLUT()
{
    KGlobalLUTsClass& g = priInstance();
    return g.priGetTable(g.m_pCubeRoot, g.m_pCubeRootData, BuildCubeRootTable);
}

const KLUT* KGlobalLUTsClass::GetCubeLUT()
{
    KGlobalLUTsClass& g = priInstance();
    return g.priGetTable(g.m_pCube, g.m_pCubeData, BuildCubeTable);
}

KUInt32 KGlobalLUTsClass::TanhTableSize(const double limits[3], const double slopes[3])
{
    double r = limits[0] / slopes[0];
    for (int c = 1; c < 3; ++c)
        r = std::max(r, limits[c] / slopes[c]);
    // n = trunc(5 r); comparing the double keeps a huge or undefined ratio away from an integer cast.
    const double n = r * 5.0;
    if (n < 513.0)
        return 512;
    if (n < 1025.0)
        return 1024;
    if (n < 2049.0)
        return 2048;
    return 4096;
}

const KColorLUT* KGlobalLUTsClass::GetTanhLUTs(const double limits[3], const double slopes[3])
{
    const KUInt32 size = TanhTableSize(limits, slopes);
    KGlobalLUTsClass& g = priInstance();
    KLock lock(*g.m_pMutex);
    for (const auto& e : g.m_TanhCache) {
        bool same = true;
        for (int c = 0; c < 3; ++c)
            same = same && SameDouble(e->m_Limits[c], limits[c]) && SameDouble(e->m_Slopes[c], slopes[c]);
        if (same)
            return &e->m_Lut;
    }
    auto entry = std::make_unique<KTanhEntry>();
    for (int c = 0; c < 3; ++c) {
        entry->m_Limits[c] = limits[c];
        entry->m_Slopes[c] = slopes[c];
        entry->m_pChannels[c] = std::make_unique<KInt16[]>(size);
        BuildTanhChannel(entry->m_pChannels[c].get(), size, limits[c], slopes[c]);
        entry->m_Lut.m_pData[c] = entry->m_pChannels[c].get();
    }
    TestBuildHook();
    entry->m_Lut.m_Mask = size - 1;
    entry->m_Lut.m_Size = size;
    entry->m_Lut.m_bOwnsData = false;
    g.m_TanhCache.push_back(std::move(entry));
    return &g.m_TanhCache.back()->m_Lut;
}
