#pragma once
// Medium-sized blocks packed side by side into large regions that ask the kernel for huge pages: a block of
// a megabyte or two mapped on its own gets none (a huge page needs 2 MiB of one mapping, aligned), and its
// first touch then costs a page fault every 4 KiB. Blocks given back stay mapped and serve later blocks, so
// their pages are in place already. First fit, neighbouring free spaces joined. Thread-safe.
#include <cstddef>
#include <map>
#include <mutex>

class KBlockArena {
public:
    static constexpr size_t kGrain = 4096;  // block sizes and starts are multiples of this

    // regionBytes: the size of each region, rounded up to whole huge pages; the largest block.
    explicit KBlockArena(size_t regionBytes);
    ~KBlockArena();
    KBlockArena(const KBlockArena&) = delete;
    KBlockArena& operator=(const KBlockArena&) = delete;

    // `size` bytes (1 to the region size) at a kGrain boundary, or null when the size is out of range or no
    // region could be mapped.
    void* Allocate(size_t size);
    // A block from Allocate (null is fine): its room serves later blocks.
    void Free(void* block);
    // The pages of all free room go back to the system and regions without blocks are unmapped; true when a
    // block was given back since the last time.
    bool Release();

    size_t RegionBytes() const { return m_RegionBytes; }
    size_t RegionCount();
    // Bytes of the regions not taken by blocks.
    size_t FreeBytes();

private:
    struct Region {
        std::map<size_t, size_t> free;  // offset -> length, never touching each other
    };

    char* priMapRegion();

    const size_t m_RegionBytes;
    std::mutex m_Lock;
    std::map<char*, Region> m_Regions;      // by start
    std::map<char*, size_t> m_Taken;        // block start -> length
    bool m_Returned = false;                // a block was given back since the last Release
};
