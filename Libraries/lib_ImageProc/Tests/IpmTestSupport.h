#pragma once
// Shared by the manager's tests: files held in memory behind a retriever that answers as the real one does
// (information at once, loads a few idle calls later), stand-in stages for the engine that compute simple,
// checkable results, and a manager driven until its request ends.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IPManager2.h"
#include "KEvent.h"
#include "KImage.h"
#include "KIpMgrReq.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KWString.h"
#include "Engine/KIPEngineTestHook.h"
#include "KDataObject.h"
#include "KDataRetriever.h"

namespace ipmtest {

// Image kinds of a raw file.
enum : KUInt32 { kRaw = 1, kDark = 2, kSubtracted = 3, kViewable = 4 };

struct FakeImage {
    KUInt32 m_Kind = kViewable;
    std::shared_ptr<KImage> m_pImage;
};

struct FakeFile {
    KWString m_UniqueID = KWString(u"00112233445566778899AABBCCDDEEFF");
    std::vector<std::pair<std::string, std::string>> m_Props;
    std::vector<FakeImage> m_Images;
    std::vector<uint8_t> m_Calibration;  // empty: none
};

// The image of a kind with every pixel set by fill(x, y, rgb).
std::shared_ptr<KImage> MakeImage(int pixelType, int width, int height,
                                  const std::function<void(int x, int y, int rgb[3])>& fill);
// Uniform colour.
std::shared_ptr<KImage> MakeFlatImage(int pixelType, int width, int height, int r, int g, int b);

// A raw file: raw and dark frames (48-bit RGB), a preview (24-bit RGB, a quarter of each side, red in its
// top-left 2 x 2 pixels), camera
// properties with white balance "Auto", COLS and ROWS (turned by rotation), and a calibration whose keep and
// active areas are the whole frame.
FakeFile MakeRawFile(int width, int height, int rotation = 0);
// The calibration of MakeRawFile, with the illuminant list (Auto, Custom, Daylight) and the neutrals when asked.
std::vector<uint8_t> MakeCalibration(int width, int height, bool illuminants, bool autoNeutral = true,
                                     bool customNeutral = true);

class FakeRetriever : public KIDataRetriever {
public:
    struct Counts {
        int m_Info[6] = {};
        int m_Data[3] = {};
        int m_Modify = 0;
    };

    FakeRetriever(std::shared_ptr<std::map<std::u16string, FakeFile>> files, std::shared_ptr<Counts> counts)
        : m_Files(std::move(files)), m_Counts(std::move(counts))
    {
    }
    ~FakeRetriever() override;

    void Idle() override;
    void Request(KDataRetrieverRequest& request) override;

    // Idle calls a load takes before it ends.
    int m_LoadIdles = 3;
    // Data requests throw this file exception from Request.
    bool m_ThrowOnData = false;

private:
    FakeFile* priFile(KDataRetrieverRequest& request);
    void priInfo(KDataRetrieverRequest& request, FakeFile& file);

    std::shared_ptr<std::map<std::u16string, FakeFile>> m_Files;
    std::shared_ptr<Counts> m_Counts;
    KDataRetrieverRequest* m_pCurrent = nullptr;
    KDataObject* m_pPending = nullptr;
    int m_IdlesLeft = 0;
};

// Whether no block of the cache is locked (empties the cache to find out): no data object, image handle or
// manager holds one.
bool NothingLocked();

// Stand-in stages: stage 1 subtracts the dark frame, stage 2 writes the statistics 0.1 ... 0.8, stage 3 takes
// the crop of the fitted image by nearest neighbour, the tone LUT is the identity, stage 4 converts to the
// output type, rotate turns. Calls are counted per kind. A gate holds the stage of one kind until opened;
// a gated stage that sees its cancel flag ends cancelled with resume word 1 set to 42.
struct StageCounts {
    std::atomic<int> m_Calls[7] = {};
    std::atomic<KUInt32> m_LastResume1[7] = {};  // word 1 of the resume block each kind was sent
};
StageCounts& Stages();
void SetGate(int kind, KEvent* gate);
KEngineOutcome FakeStage(KIPEngineRequest& request);

// Installs the stand-in stages and the fake files; makes managers over them.
class ManagerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A file name unique to the test (the cache is shared by the process).
    KWString Name(const std::string& leaf) const;
    FakeFile& AddFile(const KWString& name, FakeFile file);
    std::unique_ptr<IPManager2> NewManager(int loadIdles = 3);
    FakeRetriever* LastRetriever() const { return m_pLastRetriever; }

    // Calls Idle until the record leaves state 1 (fails the test after about 10 s).
    static void Drive(IPManager2& manager, KIpMgrReq& request);
    // Request, then Drive.
    static void Run(IPManager2& manager, KIpMgrReq& request);
    // Labels in the cache that start with the text.
    static std::vector<std::u16string> CacheLabels(const KWString& prefix);

    std::shared_ptr<std::map<std::u16string, FakeFile>> m_Files;
    std::shared_ptr<FakeRetriever::Counts> m_Counts;
    FakeRetriever* m_pLastRetriever = nullptr;
};

// A record for a preview of the file.
void Preview(KIpMgrReq& request, const KWString& file, int width, int height, KRect crop);
// A record for a processed image of the file.
void Processed(KIpMgrReq& request, const KWString& file, int width, int height, KUInt32 format = kOutput24RGB);

}  // namespace ipmtest
