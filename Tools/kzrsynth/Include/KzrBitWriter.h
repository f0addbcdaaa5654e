#pragma once
// Writes bits most significant first into a byte vector, as the Huffman-coded rows of raw images hold them.
#include <cstdint>
#include <vector>

namespace kzrsynth {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_Out(out) {}

    // Appends the low `count` bits of `bits` (count 0..32), most significant first.
    void Put(uint32_t bits, int count)
    {
        if (count == 0)
            return;
        m_Buffer = (m_Buffer << count) | (bits & ((uint64_t(1) << count) - 1));
        m_Count += count;
        while (m_Count >= 8) {
            m_Count -= 8;
            m_Out.push_back(static_cast<uint8_t>(m_Buffer >> m_Count));
        }
        m_Written += static_cast<uint64_t>(count);
    }

    // Pads with zero bits up to the next multiple of `bytes` bytes counted from `start` in the output.
    void PadTo(size_t start, size_t bytes)
    {
        if (m_Count)
            Put(0, 8 - m_Count);
        while ((m_Out.size() - start) % bytes)
            m_Out.push_back(0);
    }

    // Bits put so far (padding included).
    uint64_t BitCount() const { return m_Written; }

private:
    std::vector<uint8_t>& m_Out;
    uint64_t m_Buffer = 0;
    int m_Count = 0;
    uint64_t m_Written = 0;
};

}  // namespace kzrsynth
