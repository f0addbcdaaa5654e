#pragma once
// The support layer under the camera links: time base, random pause, lock object, OS version code, page
// allocator, arenas, fixed-size pools, lists, a name table, the CRC-16 of the mailbox protocol, string routines
// and the trace output. Plain records and functions; operations answer true/1 (or a pointer) on success and
// false/0 (or null) on failure, and throw nothing.
#include <cstddef>
#include <cstdint>

#include "PlatformSync.h"

// ---- Time ----------------------------------------------------------------------------------------------------

// Seconds of the monotonic time base (the platform's performance counter). The first call traces the
// counter's frequency.
double TimeNow();
// Sleeps a pseudo-random 1 to 20 ms (through CamWaitSleep, the camera waits' time source).
void RandomPause();
// The next pause of the generator behind RandomPause, in milliseconds (1 to 20), without sleeping.
uint32_t RandomPauseMilliseconds();

// ---- Lock object -------------------------------------------------------------------------------------------

// A lock: an unnamed mutex when it has one, and a spin byte. A record that is only zeroed has no mutex and
// uses the spin byte alone. Not recursive.
struct CamLock {
    uint32_t allocated;  // 1 when CreateLock allocated the record
    uint8_t spin;
    PlatHandle mutex;    // may be null
    uint32_t lastWait;   // result of the last wait on the mutex
    uint32_t timeout;    // wait time-out in ms (PLAT_INFINITE)
};

// Prepares `object`, or a new record when it is null; null only when a new record cannot be allocated.
CamLock* CreateLock(CamLock* object);
bool Lock(CamLock* object);
void Unlock(CamLock* object);
// Closes the mutex; frees the record when CreateLock allocated it.
void DestroyLock(CamLock* object);

// ---- OS version ----------------------------------------------------------------------------------------------

// Platform code 7 and the code of the OS version (0x70009 for NT 5.1); false for an unknown OS.
bool GetOsVersionCode(uint32_t* platform, uint32_t* code);
// The code for one version record (as GetOsVersionCode maps it); 0 for an unknown one.
uint32_t OsVersionCodeOf(uint32_t platformId, uint32_t major, uint32_t minor);

// ---- Page allocator ------------------------------------------------------------------------------------------

// Blocks of their own pages, each behind a 16-byte header {"@BLK", 8 zero bytes, size}. Refused when n + 204,816
// reaches the available page file (MemAvailable + SwapFree), or when the bytes in use would pass 32 bits.
void* PageAlloc(size_t n);
void* PageAllocZeroed(size_t n);
// Gives back a block of PageAlloc; null and any other pointer are ignored.
void PageFree(void* p);

struct CamPageStats {
    uint32_t blocks;
    uint64_t bytesInUse;     // headers included
    uint64_t peakBytesInUse;
    uintptr_t lowestBlock;   // the highest address until a block is given out
};
CamPageStats PageAllocStats();
// Bytes of the page file available now (MemAvailable + SwapFree).
uint64_t AvailablePageFileBytes();

// ---- Arenas and pools ----------------------------------------------------------------------------------------

struct CamChunk;
struct CamArena {
    CamChunk* current;
    CamChunk* first;
    CamChunk* last;
    size_t freeBytes;
    size_t reservedBytes;
    size_t limit;   // 0: no limit
    size_t growth;
};

// An arena with its first chunk; null when that cannot be had.
CamArena* ArenaCreate(size_t limit, size_t firstChunk, size_t growth);
// n bytes (8-byte aligned) that live until the arena is reset or destroyed; null past the limit.
void* ArenaAlloc(CamArena* arena, size_t n);
// Frees every chunk but the first, and empties it.
void ArenaReset(CamArena* arena);
void ArenaDestroy(CamArena* arena);

struct CamPool {
    CamArena* arena;
    size_t elementSize;
    void* freeHead;
    uint32_t freeCount;
    CamLock lock;
};

// Elements of one size from an arena, with a free list. A chunk serves elements while its free bytes exceed
// one element, so chunks of 10 x size serve 9 each: the connection pool's 54 elements (chunks of 14,960 bytes
// under a limit of 100,000 for 1,496-byte records) stay 54 for a record of size s with chunks of 10 x s and a
// limit of 6.5 x 10 x s.
CamPool* PoolCreate(size_t elementSize, size_t firstChunk, size_t growth, size_t limit);
void* PoolAlloc(CamPool* pool);
void* PoolAllocZeroed(CamPool* pool);
void PoolFree(CamPool* pool, void* element);
void PoolDestroy(CamPool* pool);

// ---- Lists -------------------------------------------------------------------------------------------------

struct CamListNode {
    CamListNode* next;
    CamListNode* previous;
    void* value;
    void* value2;
};
struct CamList {
    CamListNode* head;
    CamListNode* tail;
    uint32_t count;
    CamLock lock;  // for the list's owner: the operations below do not take it
};

CamList* ListCreate();
void ListDestroy(CamList* list);
bool ListPushFront(CamList* list, void* value);
bool ListPushBack(CamList* list, void* value);
// Removes the first node that holds the value; false when there is none.
bool ListRemoveValue(CamList* list, void* value);
// The value of the n-th node (0 first); null past the end.
void* ListNth(CamList* list, uint32_t n);
uint32_t ListCount(CamList* list);
CamListNode* ListFirst(CamList* list);
CamListNode* ListNext(CamListNode* node);

// ---- Name table --------------------------------------------------------------------------------------------

// Exact look-up of byte keys of minLength..maxLength bytes.
struct CamNameTable;
CamNameTable* NameTableCreate(uint32_t minLength, uint32_t maxLength, bool keepFreeLists);
void NameTableDestroy(CamNameTable* table);
void* NameTableFind(CamNameTable* table, const void* key, uint32_t length);
// Adds the key, or replaces the value of a key that is there; false for a length out of range.
bool NameTableInsert(CamNameTable* table, const void* key, uint32_t length, void* value);
bool NameTableRemove(CamNameTable* table, const void* key, uint32_t length);

// ---- CRC ---------------------------------------------------------------------------------------------------

// CRC-16, polynomial 0x1021, initial 0, no final XOR, most significant bit first.
uint16_t Crc16(const void* bytes, size_t n);

// ---- Strings -----------------------------------------------------------------------------------------------

size_t CamStrLength(const char* s);
// Copies (appends) as much as fits in `capacity` bytes, always terminated; answers dst.
char* CamStrCopy(char* dst, size_t capacity, const char* src);
char* CamStrAppend(char* dst, size_t capacity, const char* src);
// Negative, 0 or positive, as the bytes compare (unsigned).
int CamStrCompare(const char* a, const char* b);
// The same with ASCII letters compared without their case.
int CamStrCompareNoCase(const char* a, const char* b);
// The decimal digits of value into dst (as much as fits, terminated); answers dst.
char* CamFormatUnsigned(char* dst, size_t capacity, uint32_t value);
// Reverses the string in place; answers it.
char* CamStrReverse(char* s);
// The index of the first entry of the table equal to s, or -1.
int CamStrFindInTable(const char* const* table, uint32_t count, const char* s);

// ---- Trace -------------------------------------------------------------------------------------------------

// The two switches of the camera code's trace: error lines on, verbose lines off.
constexpr bool kCamErrorTrace = true;
constexpr bool kCamVerboseTrace = false;
// Error and verbose trace lines (printf formats) to the trace sink.
void CamTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CamTraceVerbose(const char* format, ...) __attribute__((format(printf, 1, 2)));
