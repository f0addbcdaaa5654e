#pragma once
// The process-wide lookup tables that several stages share: the cube-root encoding of linear values
// (65536 entries, 4096 = 1.0), its inverse, the cube table, and the odd soft-limiter ("tanh") tables of the
// noise filters, one per distinct set of limits and slopes.
//
// Threading: every getter may be called from any thread. The class mutex serialises building and the search
// of the tanh cache; once handed out a table never changes and is read without the lock. Tables are built on
// first demand and live until the process ends (the holder is never destroyed, so that a worker thread still
// running at exit never reads freed tables). Records handed out do not own their data: never free them.
#include <memory>
#include <vector>

#include "KLUT.h"

class KMutex;

class KGlobalLUTsClass {
public:
    // Table of 65536 entries: 4096 x cube root of (x + 0.008), continued below 0 by a parabola.
    static const KLUT* GetCubeRootLUT();
    // Table of 65536 entries: the inverse of the cube-root encoding.
    static const KLUT* GetCubeLUT();
    // Three soft-limiter tables: channel c holds round(A_c x tanh(i x B_c / A_c)), odd in i. Two calls with
    // exactly equal limits A and slopes B return the same record.
    static const KColorLUT* GetTanhLUTs(const double limits[3], const double slopes[3]);

    // The number of entries GetTanhLUTs chooses for these parameters (512, 1024, 2048 or 4096).
    static KUInt32 TanhTableSize(const double limits[3], const double slopes[3]);

    ~KGlobalLUTsClass();
    KGlobalLUTsClass(const KGlobalLUTsClass&) = delete;
    KGlobalLUTsClass& operator=(const KGlobalLUTsClass&) = delete;

private:
    struct KTanhEntry;
    class KLock;

    KGlobalLUTsClass();
    static KGlobalLUTsClass& priInstance();
    // The table, built by build on first demand, under the class mutex.
    const KLUT* priGetTable(std::unique_ptr<KLUT>& lut, std::unique_ptr<KInt16[]>& data, void (*build)(KInt16*));

    std::unique_ptr<KInt16[]> m_pCubeRootData;
    std::unique_ptr<KLUT> m_pCubeRoot;
    std::unique_ptr<KInt16[]> m_pCubeData;
    std::unique_ptr<KLUT> m_pCube;
    std::vector<std::unique_ptr<KTanhEntry>> m_TanhCache;
    std::unique_ptr<KMutex> m_pMutex;
};
