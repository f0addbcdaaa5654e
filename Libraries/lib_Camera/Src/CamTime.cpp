// The time base and the random pause of the camera links.
#include <mutex>

#include "KCamConnection.h"
#include "KCamLinkSupport.h"
#include "PlatformTime.h"

namespace {

int64_t CounterFrequency()
{
    static const int64_t frequency = [] {
        int64_t f = 0;
        if (!PlatQueryPerformanceFrequency(&f) || f <= 0)
            f = 1000000000;
        CamTrace("RoughTimeStampFrequency = %lf\n", static_cast<double>(f));
        return f;
    }();
    return frequency;
}

// Marsaglia's subtract-with-borrow generator over a table filled by a combined generator.
class PauseGenerator {
public:
    explicit PauseGenerator(uint32_t seed)
    {
        uint32_t z = 12345, w = 65435, jsr = 34221, jcong = 12345;
        for (uint32_t& word : m_Table) {
            z = 36969 * (z & 65535) + (z >> 16);
            w = 18000 * (w & 65535) + (w >> 16);
            const uint32_t mwc = (z << 16) + w;
            jcong = 69069 * jcong + 1234567;
            jsr ^= jsr << 17;
            jsr ^= jsr >> 13;
            jsr ^= jsr << 5;
            word = ((mwc ^ jcong) + jsr) ^ seed;
        }
    }

    uint32_t Next()
    {
        ++m_C;
        const uint32_t x = m_Table[static_cast<uint8_t>(m_C + 34)];
        const uint32_t y = m_Table[static_cast<uint8_t>(m_C + 19)] + m_Borrow;
        m_Borrow = x < y ? 1 : 0;
        m_Table[m_C] = x - y;
        return m_Table[m_C];
    }

private:
    uint32_t m_Table[256];
    uint8_t m_C = 0;
    uint32_t m_Borrow = 0;
};

}  // namespace

double TimeNow()
{
    const int64_t frequency = CounterFrequency();
    int64_t count = 0;
    PlatQueryPerformanceCounter(&count);
    return static_cast<double>(count) / static_cast<double>(frequency);
}

uint32_t RandomPauseMilliseconds()
{
    static std::mutex lock;
    static PauseGenerator generator(1201230);
    uint32_t word;
    {
        std::lock_guard<std::mutex> guard(lock);
        word = generator.Next();
    }
    auto value = static_cast<uint32_t>(static_cast<double>(word) * (1.0 / 4294967296.0) * 20.0);
    if (value >= 20)
        value = 19;
    return value + 1;
}

void RandomPause()
{
    CamWaitSleep(RandomPauseMilliseconds());
}
