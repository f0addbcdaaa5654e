// The camera's configuration area and the camera-driven transfer: the camera writes a read's data into the
// local node, where the FIFO receive routine collects it.
#include <cstring>

#include "K1394Device.h"

namespace {

constexpr ULONG kAreaHigh = 0xFFFF;
constexpr ULONG kMagicLow = 0xF0010000;
constexpr ULONG kCountLow = 0xF0010004;
constexpr ULONG kTableLow = 0xF0010010;

LARGE_INTEGER RelativeMs(LONGLONG ms)
{
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10000;
    return t;
}

bool ReadRegister(PK1394_DEVICE_EXTENSION device, ULONGLONG address, ULONG* value)
{
    return ReadCameraQuadlet(device, ULONG(address), ULONG(address >> 32), value) != 0;
}

bool WriteRegister(PK1394_DEVICE_EXTENSION device, ULONGLONG address, ULONG value)
{
    return WriteCameraQuadlet(device, ULONG(address), ULONG(address >> 32), value) != 0;
}

// The waiting read, set and cleared under the FIFO spin lock so that the receive routine never writes into a
// request that is no longer waiting.
void SetCurrentRequest(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header, PUCHAR position, ULONG expected)
{
    KIRQL old;
    KeAcquireSpinLock(&device->FifoSpinLock, &old);
    device->CurrentCdtRequest = header;
    device->CdtReceivePosition = position;
    device->CdtExpected = expected;
    device->CdtReceived = 0;
    KeReleaseSpinLock(&device->FifoSpinLock, old);
}

void ClearCurrentRequest(PK1394_DEVICE_EXTENSION device) { SetCurrentRequest(device, nullptr, nullptr, 0); }

}  // namespace

ULONG ReadConfigurationEntry(PK1394_DEVICE_EXTENSION device, ULONG index, K1394_CONFIGURATION_AREA* area)
{
    if (index >= K1394_MAX_CONFIG_ENTRIES)
        return 0;
    K1394_CONFIG_ENTRY& entry = area->Entries[index];
    ULONG* words[4] = {&entry.Type, &entry.Word1, &entry.Word2, &entry.Word3};
    for (ULONG i = 0; i < 4; ++i)
        if (!ReadCameraQuadlet(device, kTableLow + 16 * index + 4 * i, kAreaHigh, words[i]))
            return 0;
    return 1;
}

void ParseTransferEntry(const K1394_CONFIG_ENTRY* entry, K1394_CDT_AREA* transferArea)
{
    const ULONGLONG base = ULONGLONG(entry->Word2) << 32;
    transferArea->RegisterBase = base;
    transferArea->AddressInCameraHi = base + 228;
    transferArea->AddressInCameraLo = base + 232;
    transferArea->AddressInHostHi = base + 240;
    transferArea->AddressInHostLo = base + 244;
    transferArea->TransferSize = base + 236;
    transferArea->PacketSize = base + 248;
    transferArea->Command = base + 252;
    transferArea->Status = base + 256;
    transferArea->NinthRegister = base + 260;
    transferArea->Valid = 1;
    transferArea->Reserved = 0;
}

ULONG ReadQuarelConfigurationAreaK1394(PK1394_DEVICE_EXTENSION device)
{
    DbgPrint("ReadQuarelConfigurationAreaK1394\n");
    K1394_CONFIGURATION_AREA& area = device->ConfigArea;
    std::memset(&area, 0, sizeof area);
    area.ReadAttempted = 1;
    area.AreaBase = K1394_CONFIG_AREA_BASE;
    area.MagicAddress = K1394_CONFIG_AREA_BASE;
    area.CountAddress = K1394_CONFIG_AREA_BASE + 4;
    area.TableAddress = K1394_CONFIG_AREA_BASE + 0x10;
    area.SwapFlag = 1;
    area.MaxReadPacketSize = device->MaxAsyncReadRequest;
    area.MaxWritePacketSize = device->MaxAsyncWriteRequest;
    area.DefaultPacketSize = K1394_DEFAULT_BLOCK_SIZE;
    area.CdtPacketSize = K1394_DEFAULT_BLOCK_SIZE;

    ULONG magic = 0;
    if (!ReadCameraQuadlet(device, kMagicLow, kAreaHigh, &magic))
        return 0;
    area.Present = 1;
    if (magic == K1394_MAGIC_KCVK) {
        area.SwapFlag ^= 1;
        magic = K1394_MAGIC_KVCK;
    }
    area.Magic = magic;
    if (magic != K1394_MAGIC_KVCK)
        return 1;

    ULONG count = 0;
    if (!ReadCameraQuadlet(device, kCountLow, kAreaHigh, &count))
        return 1;
    if (count > K1394_MAX_CONFIG_ENTRIES)
        count = K1394_MAX_CONFIG_ENTRIES;
    area.EntryCount = count;
    for (ULONG i = 0; i < count; ++i) {
        if (!ReadConfigurationEntry(device, i, &area))
            break;
        const K1394_CONFIG_ENTRY& entry = area.Entries[i];
        switch (entry.Type) {
        case K1394_ENTRY_CDT:
            ParseTransferEntry(&entry, &device->CdtArea);
            area.CdtPacketSize = entry.Word3;
            break;
        case K1394_ENTRY_DATA_WINDOW:
            area.DataWindowBase = ULONGLONG(entry.Word2) << 32;
            area.DataWindowBase2 = area.DataWindowBase + 0x8000000;
            break;
        case K1394_ENTRY_MAX_READ:
            area.MaxReadPacketSize = entry.Word3;
            break;
        case K1394_ENTRY_MAX_WRITE:
            area.MaxWritePacketSize = entry.Word3;
            break;
        default:
            break;
        }
    }
    return 1;
}

void K1394_CameraDrivenRead(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header)
{
    // The receive side: made by the first read; a range that could not be had is asked for again next time.
    if (!device->FifoListHead && !AllocateLocalNodeFifo(device, K1394_CDT_FIFO_ELEMENT_SIZE, K1394_CDT_FIFO_ELEMENTS)) {
        DbgPrint("K1394_CreateDevice: Failed AllocateLocalNodeFifo().\n");
        return;
    }
    if (!device->AddressRangeHandle &&
        !NT_SUCCESS(AllocateAddressRangeOnLocalNode(device, K1394_CDT_RANGE_SIZE, K1394FifoReceive))) {
        DbgPrint("K1394_CreateDevice: Failed AllocateAddressRangeOnLocalNode().\n");
        return;
    }
    const K1394_CDT_AREA& regs = device->CdtArea;
    if (!regs.Valid)
        return;

    ULONG remaining = header->OutputSize;
    header->OutputSize = 0;
    const ULONG packet = header->PacketSize ? header->PacketSize : device->ConfigArea.CdtPacketSize;
    ULONGLONG camera = ULONGLONG(header->AddressHigh) << 32 | header->AddressLow;
    ULONG delivered = 0;
    const ADDRESS_RANGE& host = device->AddressRange[0];
    PUCHAR payload = K1394Payload(header);

    auto fail = [&](const char* message) {
        DbgPrint("%s", message);
        ClearCurrentRequest(device);
    };

    while (remaining > 0) {
        const ULONG chunk = ChunkSize(remaining, K1394_CDT_CHUNK_LIMIT, packet);
        ULONG busy = 0;
        ULONG status = 0;
        if (!ReadRegister(device, regs.Status, &status))
            return fail("CDT [1]: Fail -- Can't read Status field.\n");
        if (status != CDT_STATUS_DONE && !WriteRegister(device, regs.Command, CDT_COMMAND_STOP))
            return fail("CDT [2]: Fail -- Can't write Command field.\n");
        if (!WriteRegister(device, regs.AddressInCameraHi, ULONG(camera >> 32)))
            return fail("CDT [3]: Fail -- Can't write AddressInCameraHi field.\n");
        if (!WriteRegister(device, regs.AddressInCameraLo, ULONG(camera)))
            return fail("CDT [4]: Fail -- Can't write AddressInCameraLo field.\n");
        if (!ReadRegister(device, regs.Status, &status))
            return fail("CDT [5]: Fail -- Can't read Status field.\n");
        if (status == CDT_STATUS_BAD_DEV_ADDR)
            return fail("CDT [6]: Fail -- CDT_STATUS_BAD_DEV_ADDR.\n");
        if (!WriteRegister(device, regs.AddressInHostHi, host.AR_Off_High))
            return fail("CDT [7]: Fail -- Can't write AddressInHostHi field.\n");
        if (!WriteRegister(device, regs.AddressInHostLo, host.AR_Off_Low))
            return fail("CDT [8]: Fail -- Can't write AddressInHostLo field.\n");
        if (!WriteRegister(device, regs.TransferSize, chunk))
            return fail("CDT [9]: Fail -- Can't write TransferSize field.\n");
        if (!WriteRegister(device, regs.PacketSize, packet))
            return fail("CDT [10]: Fail -- Can't write PacketSize field.\n");

        KeResetEvent(&device->CdtEvent);
        SetCurrentRequest(device, header, payload + delivered, chunk);
        if (!WriteRegister(device, regs.Command, CDT_COMMAND_START))
            return fail("CDT [11]: Fail -- Can't write CDT_COMMAND_START.\n");

        LARGE_INTEGER timeout = RelativeMs(K1394_CDT_WAIT_MS);
        NTSTATUS wait = KeWaitForSingleObject(&device->CdtEvent, Executive, KernelMode, FALSE, &timeout);
        header->Status = ULONG(wait);
        if (wait == STATUS_TIMEOUT) {
            ClearCurrentRequest(device);
            return;
        }
        ClearCurrentRequest(device);

        if (!ReadRegister(device, regs.Status, &status))
            return fail("CDT [12]: Fail -- Can't write CDT_COMMAND_START.\n");
        while (status == CDT_STATUS_BUSY) {
            DbgPrint("CDT [13]: StatusFromCamera == CDT_STATUS_BUSY.\n");
            LARGE_INTEGER pause = RelativeMs(10);
            KeDelayExecutionThread(KernelMode, FALSE, &pause);
            if (++busy >= MAX_BUSY_RETRY_COUNT)
                return fail("CDT [14]: Fail -- BusyRetryCounter > MAX_BUSY_RETRY_COUNT.\n");
            if (!ReadRegister(device, regs.Status, &status))
                return fail("CDT [12]: Fail -- Can't write CDT_COMMAND_START.\n");
        }
        if (status != CDT_STATUS_DONE)
            return fail("CDT [15]: Fail -- StatusFromCamera != CDT_STATUS_DONE.\n");

        camera += chunk;
        delivered += chunk;
        remaining -= chunk;
    }
    header->OutputSize = delivered;
    header->Status = ULONG(STATUS_SUCCESS);
    header->Success = 1;
}
