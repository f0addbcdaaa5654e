#include "KzrHuffmanBuilder.h"

#include <algorithm>
#include <queue>
#include <stdexcept>

namespace kzrsynth {

std::vector<uint32_t> HuffmanCode::TableEntries() const
{
    std::vector<uint32_t> entries(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        entries[s] = lengths[s] ? (static_cast<uint32_t>(lengths[s]) << 27) | codes[s] : 0;
    return entries;
}

std::vector<uint8_t> HuffmanLengths(const std::vector<uint64_t>& counts, int maxLength)
{
    const size_t n = counts.size();
    std::vector<uint8_t> lengths(n, 0);
    std::vector<uint32_t> used;
    for (size_t s = 0; s < n; ++s)
        if (counts[s])
            used.push_back(static_cast<uint32_t>(s));
    if (used.empty())
        return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return lengths;
    }
    while ((size_t(1) << maxLength) < used.size())
        ++maxLength;

    // Plain Huffman tree; ties broken by node number so the result never depends on the queue's whims.
    struct Node {
        uint64_t weight;
        uint32_t id;
        bool operator>(const Node& o) const { return weight != o.weight ? weight > o.weight : id > o.id; }
    };
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
    std::vector<int32_t> parent(2 * used.size(), -1);
    for (uint32_t i = 0; i < used.size(); ++i)
        queue.push({counts[used[i]], i});
    uint32_t nextId = static_cast<uint32_t>(used.size());
    while (queue.size() > 1) {
        Node a = queue.top();
        queue.pop();
        Node b = queue.top();
        queue.pop();
        parent[a.id] = static_cast<int32_t>(nextId);
        parent[b.id] = static_cast<int32_t>(nextId);
        queue.push({a.weight + b.weight, nextId++});
    }
    std::vector<int> depth(nextId, 0);
    for (int32_t id = static_cast<int32_t>(nextId) - 2; id >= 0; --id)
        depth[id] = depth[parent[id]] + 1;

    // Count codes per length and move the too-long ones up (each step keeps the code complete).
    int deepest = 0;
    for (uint32_t i = 0; i < used.size(); ++i)
        deepest = std::max(deepest, depth[i]);
    std::vector<int64_t> perLength(std::max(deepest, maxLength) + 1, 0);
    for (uint32_t i = 0; i < used.size(); ++i)
        ++perLength[depth[i]];
    for (int i = deepest; i > maxLength; --i) {
        while (perLength[i] > 0) {
            int j = i - 2;
            while (perLength[j] == 0)
                --j;
            perLength[i] -= 2;
            perLength[i - 1] += 1;
            perLength[j + 1] += 2;
            perLength[j] -= 1;
        }
    }

    // The most frequent symbols get the shortest codes.
    std::vector<uint32_t> byCount = used;
    std::stable_sort(byCount.begin(), byCount.end(), [&](uint32_t a, uint32_t b) { return counts[a] > counts[b]; });
    size_t next = 0;
    for (int length = 1; length <= maxLength; ++length)
        for (int64_t i = 0; i < perLength[length]; ++i)
            lengths[byCount[next++]] = static_cast<uint8_t>(length);
    return lengths;
}

HuffmanCode CanonicalCode(const std::vector<uint8_t>& lengths)
{
    HuffmanCode code;
    code.lengths = lengths;
    code.codes.assign(lengths.size(), 0);
    for (uint8_t l : lengths)
        code.longest = std::max<int>(code.longest, l);
    if (code.longest > 27)
        throw std::invalid_argument("Huffman code longer than 27 bits");
    uint32_t next = 0;
    for (int length = 1; length <= code.longest; ++length) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == length)
                code.codes[s] = next++;
        next <<= 1;
    }
    return code;
}

}  // namespace kzrsynth
