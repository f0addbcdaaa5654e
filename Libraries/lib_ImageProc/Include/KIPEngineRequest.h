#pragma once
// A request to the processing engine: its kind, status block, resume block and a list of named parameters
// (inputs and outputs). The submitter builds the list, hands the request to the engine and must not touch the
// parameters, or the pixmaps and matrices they name, until the state has left 1. The list owns its nodes and
// the data matrices in it; pixmaps, calibration data and texts stay the submitter's.
#include "KIpMgrAsync.h"
#include "KTypes.h"
#include "KWString.h"

class KCamdata;
class KIDataObject;
class KIDataMatrix;
class KPixmap;

// Request kinds (5 is refused).
enum KIPEngineKind : KInt32 {
    kEngineStage1 = 0,
    kEngineStage2 = 1,
    kEngineStage3 = 2,
    kEngineToneLUT = 3,
    kEngineStage4 = 4,
    kEngineRotate = 6,
};

// Value types of a named parameter.
enum KIPEngineParamType : KUInt32 {
    kParamPixmap = 0,   // KPixmap
    kParamCamdata = 2,  // KCamdata
    kParamMatrix = 3,   // KIDataMatrix, owned by the list
    kParamText = 4,     // the wide characters of a string, not owned
    kParamRows = 5,     // KIDataObject whose image rows are read with ReadImageRows, not owned
};

// First words of the resume block that mark how far a stage got.
constexpr KUInt32 kStage1Mark = 0x53544731;  // the characters "STG1" as one 32-bit value
constexpr KUInt32 kStage2Mark = 0x53544732;  // "STG2"
constexpr int kResumeWords = 10;

struct KIPEngineParam {
    KWString m_Name;
    KUInt32 m_Type;
    void* m_pValue;
    KIPEngineParam* m_pNext = nullptr;
};

struct KIPEngineRequest {
    KIPEngineRequest() { m_Async.Clear(); }
    ~KIPEngineRequest() { FreeParams(); }
    KIPEngineRequest(const KIPEngineRequest&) = delete;
    KIPEngineRequest& operator=(const KIPEngineRequest&) = delete;

    // Append a parameter; the first of a name is the one found. AddMatrix takes the matrix over (it is deleted
    // also when the node cannot be made).
    void AddPixmap(const KWString& name, KPixmap* pixmap);
    void AddCamdata(const KWString& name, KCamdata* camdata);
    void AddMatrix(const KWString& name, KIDataMatrix* matrix);
    void AddText(const KWString& name, const KWChar* text);
    void AddRows(const KWString& name, KIDataObject* rows);
    // Deletes the nodes and the matrices they hold.
    void FreeParams();

    // The first parameter of the name, or null.
    const KIPEngineParam* FindParam(const KWString& name) const;
    // Typed look-ups: the value of the first parameter of the name when it has that value type, else null.
    KPixmap* GetPixmapParam(const KWString& name) const;
    KCamdata* GetCamdataParam(const KWString& name) const;
    KIDataMatrix* GetMatrixParam(const KWString& name) const;
    const KWChar* GetTextParam(const KWString& name) const;
    KIDataObject* GetRowsParam(const KWString& name) const;

    KInt32 m_Kind = kEngineStage1;
    KIpMgrAsync m_Async;
    KUInt32 m_Resume[kResumeWords] = {};  // kept with the stage's cached result between attempts
    KIPEngineParam* m_pParams = nullptr;

private:
    void priAppend(const KWString& name, KUInt32 type, void* value);
    void* priTyped(const KWString& name, KUInt32 type) const;
};
