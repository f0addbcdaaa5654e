// ostratrace: reads OstraUsb's shared trace buffer. Takes the read owner key (--force takes it from another
// reader), optionally clears the buffer and enables tracing, then prints the text held and, with --follow,
// new text as it comes, until none has come for --timeout milliseconds (without a time-out: for ever).
// Exit status: 0, 1 when the key is refused or reading fails, 2 when the key is lost to another reader.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "OstraUsb.h"

namespace {

int Usage()
{
    std::fputs("usage: ostratrace --key K [--force] [--enable] [--clear] [--follow] [--timeout MS]\n", stderr);
    return 1;
}

bool ParseNumber(const char* text, uint32_t* out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (!*text || *end || errno || v > 0xFFFFFFFFull || text[0] == '-')
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    uint32_t key = 0, timeout = PLAT_INFINITE;
    bool haveKey = false, force = false, enable = false, clear = false, follow = false, haveTimeout = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--key") && i + 1 < argc && ParseNumber(argv[i + 1], &key)) {
            haveKey = true;
            ++i;
        } else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc && ParseNumber(argv[i + 1], &timeout)) {
            haveTimeout = true;
            ++i;
        } else if (!std::strcmp(argv[i], "--force")) {
            force = true;
        } else if (!std::strcmp(argv[i], "--enable")) {
            enable = true;
        } else if (!std::strcmp(argv[i], "--clear")) {
            clear = true;
        } else if (!std::strcmp(argv[i], "--follow")) {
            follow = true;
        } else {
            return Usage();
        }
    }
    if (!haveKey)
        return Usage();
    if (!follow)
        timeout = haveTimeout ? timeout : 0;
    if (!OstraSetReadTraceOwnerKey(key, force ? 1 : 0)) {
        std::fprintf(stderr, "ostratrace: another reader holds the trace buffer\n");
        return 1;
    }
    if (clear)
        OstraClearTraceBuffer();
    if (enable && !OstraUsbEnableTracing(key, 1)) {
        std::fprintf(stderr, "ostratrace: the key was lost before tracing could be enabled\n");
        return 2;
    }
    static uint8_t slot[OSTRA_TRACE_SLOT_BYTES];
    int32_t at = -1;
    uint32_t offset = 0;
    bool lastLook = false;
    for (;;) {
        int32_t next = -2;
        uint32_t length = 0;
        // After a time-out one more look without waiting: a wake-up may have been missed (another reader
        // reset the slot's event), and it tells a lost key.
        const uint32_t r = WaitForTrace(at, 0, lastLook ? 0 : timeout, slot, &next, &length, key);
        if (r == OSTRA_ERROR_BADKEY) {
            std::fflush(stdout);
            std::fprintf(stderr, "ostratrace: another reader took the trace buffer\n");
            return 2;
        }
        if (r == OSTRA_WAIT_TIMEOUT && next == 0 && length == 0) {
            // The buffer was cleared: start again at its first slot.
            at = 0;
            offset = 0;
            continue;
        }
        if (r == OSTRA_WAIT_TIMEOUT) {
            if (lastLook || timeout == 0)
                break;
            lastLook = true;
            continue;
        }
        lastLook = false;
        if (r != 0) {
            std::fprintf(stderr, "ostratrace: reading the trace buffer failed (0x%08X)\n", r);
            return 1;
        }
        uint32_t used = 0;
        std::memcpy(&used, slot, 4);
        if (used > OSTRA_TRACE_SLOT_TEXT)
            used = OSTRA_TRACE_SLOT_TEXT;
        if (offset < used)
            std::fwrite(slot + 4 + offset, 1, used - offset, stdout);
        std::fflush(stdout);
        at = next;
        offset = length;  // 0 when the slot is done and the next one starts
    }
    OstraReleaseReadTraceOwnerKey(key);
    return 0;
}
