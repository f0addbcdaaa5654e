#pragma once
// A stand-in for the save manager's owner: it answers property requests at once and processed-image requests
// one idle call later, with pixels that are a known function of their position in the fitted image, and owns
// the save manager as the real manager does (its Idle pumps the save manager first, then its own request).
// Also a scratch machine with the disk class for the writers.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "IPSaveManager.h"
#include "KCache.h"
#include "KIPManager.h"
#include "KIpMgrReq.h"
#include "KRect.h"
#include "LumoTestSupport.h"

namespace savetest {

// Channel c of the pixel at (x, y) of the fitted image, 16-bit and 8-bit.
inline uint16_t Value16(KInt32 x, KInt32 y, int c)
{
    return static_cast<uint16_t>(x * 131 + y * 17 + c * 5000);
}
inline uint8_t Value8(KInt32 x, KInt32 y, int c)
{
    return static_cast<uint8_t>(x * 3 + y * 5 + c * 85);
}

// What the stand-in was asked for a processed image.
struct KAsked {
    KRect m_Crop;
    KInt32 m_OutputWidth = 0;
    KInt32 m_OutputHeight = 0;
    KUInt32 m_OutputFormat = 0;
    KUInt32 m_ColorSpace = 0;
    double m_Exposure = 0.0;
};

class KFakeOwner : public KIPManager {
public:
    KFakeOwner(KInt32 cols, KInt32 rows);
    ~KFakeOwner() override;

    void Idle() override;
    void Request(KIpMgrReq* request) override;

    // Calls Idle until the record leaves state 1 (at most `limit` calls); the progress seen after each call.
    std::vector<double> RunUntilDone(KIpMgrReq& request, int limit = 10000);

    // The processed-image request with this number (from 1, the thumbnail's included) fails with this error
    // and message.
    void FailProcessedRequest(int number, KUInt32 error, const std::u16string& message);
    // The cancel flag of `record` is set when the processed-image request with this number arrives.
    void CancelAtProcessedRequest(int number, KIpMgrReq* record);
    // `action` runs when the processed-image request with this number arrives.
    void RunAtProcessedRequest(int number, std::function<void()> action);

    const std::vector<KAsked>& Asked() const { return m_Asked; }
    IPSaveManager* SaveManager() const { return m_pSaveManager.get(); }

private:
    void priAnswer(KIpMgrReq& request);

    KInt32 m_Cols;
    KInt32 m_Rows;
    KCache m_Cache;
    std::unique_ptr<IPSaveManager> m_pSaveManager;
    KIpMgrReq* m_pPending = nullptr;
    std::vector<KAsked> m_Asked;
    int m_FailAt = 0;
    KUInt32 m_FailError = 0;
    std::u16string m_FailMessage;
    int m_CancelAt = 0;
    KIpMgrReq* m_pCancelRecord = nullptr;
    int m_ActionAt = 0;
    std::function<void()> m_Action;
    int m_Labels = 0;
};

// A scratch machine with the disk storage class, and a folder for the files.
class SaveFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path Path(const std::string& name) const { return m_Temp / "files" / name; }
    KWString URL(const std::string& name) const;
    // The names in the files folder.
    std::vector<std::string> Files() const;
    // A save request of the whole cols x rows image into the named file.
    void MakeSave(KIpMgrReq& request, KInt32 cols, KInt32 rows, const std::string& name, KUInt32 fileFormat,
                  KUInt32 outputFormat) const;

    lumotest::TempDir m_Temp;
};

}  // namespace savetest
