#pragma once
// The 1394 camera driver's device extension, its request header and the routines of its bus-request layer,
// configuration area and camera-driven transfer.
#include <atomic>

#include "Platform1394.h"
#include "PlatformKernel.h"
#include "RkDevice.h"

// ---- The request header that user mode sends (84 bytes, then the payload) --------------------------------------
struct K1394_REQUEST_HEADER {
    ULONG Magic;  // 0x01020304
    ULONG Sequence;
    ULONG Reserved1;
    ULONG FunctionCode;
    ULONG AddressLow;
    ULONG AddressHigh;
    ULONG InputSize;
    ULONG OutputSize;
    ULONG PayloadCapacity;
    ULONG BlockSize;
    ULONG Reserved2;
    ULONG PacketSize;
    ULONG Reserved3;
    ULONG Generation;
    ULONG DeviceReference;
    ULONG RequestReference;
    ULONG ElapsedTicksLow;  // the 64-bit tick count at offset 64, as two words (the header has no padding)
    ULONG ElapsedTicksHigh;
    ULONG Status;
    ULONG Success;
    ULONG ResultWord;
};
static_assert(sizeof(K1394_REQUEST_HEADER) == 84);
constexpr ULONG K1394_HEADER_MAGIC = 0x01020304;
inline PUCHAR K1394Payload(K1394_REQUEST_HEADER* header) { return reinterpret_cast<PUCHAR>(header) + 84; }

// ---- The camera's configuration area as kept per device and returned to user mode ------------------------------
constexpr ULONG K1394_MAX_CONFIG_ENTRIES = 50;
struct K1394_CONFIG_ENTRY {
    ULONG Type;
    ULONG Word1;
    ULONG Word2;
    ULONG Word3;
};
struct K1394_CONFIGURATION_AREA {
    ULONGLONG AreaBase;
    ULONGLONG MagicAddress;
    ULONGLONG CountAddress;
    ULONGLONG TableAddress;
    ULONG Magic;
    ULONG EntryCount;
    K1394_CONFIG_ENTRY Entries[K1394_MAX_CONFIG_ENTRIES];
    ULONG SwapFlag;
    ULONG Reserved1;
    ULONGLONG DataWindowBase;
    ULONGLONG DataWindowBase2;
    ULONG MaxReadPacketSize;
    ULONG MaxWritePacketSize;
    ULONG DefaultPacketSize;
    ULONG CdtPacketSize;
    ULONG Reserved2[2];
    ULONG ReadAttempted;
    ULONG Present;
};
struct K1394_CDT_AREA {
    ULONGLONG RegisterBase;
    ULONGLONG AddressInCameraHi;
    ULONGLONG AddressInCameraLo;
    ULONGLONG AddressInHostHi;
    ULONGLONG AddressInHostLo;
    ULONGLONG TransferSize;
    ULONGLONG PacketSize;
    ULONGLONG Command;
    ULONGLONG Status;
    ULONGLONG NinthRegister;
    ULONG Valid;
    ULONG Reserved;
};
static_assert(sizeof(K1394_CONFIGURATION_AREA) == 896);
static_assert(offsetof(K1394_CONFIGURATION_AREA, SwapFlag) == 840);
static_assert(offsetof(K1394_CONFIGURATION_AREA, DataWindowBase) == 848);
static_assert(offsetof(K1394_CONFIGURATION_AREA, MaxReadPacketSize) == 864);
static_assert(offsetof(K1394_CONFIGURATION_AREA, ReadAttempted) == 888);
static_assert(sizeof(K1394_CDT_AREA) == 88);

constexpr ULONGLONG K1394_CONFIG_AREA_BASE = 0xFFFFF0010000ull;
constexpr ULONG K1394_MAGIC_KVCK = 0x4B56434B;  // "KVCK" on the bus, most significant byte first
constexpr ULONG K1394_MAGIC_KCVK = 0x4B43564B;  // the same bytes reversed
constexpr ULONG K1394_ENTRY_DATA_WINDOW = 0x20000;
constexpr ULONG K1394_ENTRY_CDT = 0x50000;
constexpr ULONG K1394_ENTRY_MAX_READ = 0x60000;
constexpr ULONG K1394_ENTRY_MAX_WRITE = 0x70000;
constexpr ULONG CDT_COMMAND_START = 0xDEFE1111;
constexpr ULONG CDT_COMMAND_STOP = 0xDEFE0000;
constexpr ULONG CDT_STATUS_DONE = 0;
constexpr ULONG CDT_STATUS_BUSY = 1;
constexpr ULONG CDT_STATUS_BAD_DEV_ADDR = 4;
constexpr ULONG MAX_BUSY_RETRY_COUNT = 20;
constexpr ULONG K1394_CDT_FIFO_ELEMENT_SIZE = 8192;
constexpr ULONG K1394_CDT_FIFO_ELEMENTS = 4;
constexpr ULONG K1394_CDT_RANGE_SIZE = 32768;
constexpr ULONG K1394_CDT_CHUNK_LIMIT = 8192;
constexpr ULONG K1394_CDT_WAIT_MS = 2000;
constexpr ULONG K1394_DEFAULT_BLOCK_SIZE = 128;

constexpr ULONG IRB_CONTEXT_SIGNATURE = 0x17761776;

// ---- The device extension --------------------------------------------------------------------------------------------
struct K1394_DEVICE_EXTENSION;
using PK1394_DEVICE_EXTENSION = K1394_DEVICE_EXTENSION*;

struct IRB_CONTEXT {
    ULONG Signature;
    PK1394_DEVICE_EXTENSION Owner;
    IRB Irb;
    PMDL Mdl;        // freed at completion
    ULONG SizeQuery;  // a configuration-information request that only asks for sizes
};
using PIRB_CONTEXT = IRB_CONTEXT*;

struct K1394_DEVICE_EXTENSION {
    RK_DEVICE_INFORMATION Information;  // the toolkit's block comes first

    ULONG GenerationCount;
    // The bus's configuration information.
    PVOID ConfigRom;
    PVOID UnitDirectory;
    PVOID UnitDependentDirectory;
    PVOID VendorLeaf;
    PVOID ModelLeaf;
    ULONG UnitDirectorySize;
    ULONG UnitDependentDirectorySize;
    ULONG VendorLeafSize;
    ULONG ModelLeafSize;

    NPAGED_LOOKASIDE_LIST IrbPool;
    ULONG IrbPoolReady;

    ULONG HostCapabilities;
    ULONG MaxAsyncReadRequest;
    ULONG MaxAsyncWriteRequest;

    KEVENT DeviceLock;
    volatile LONG Busy;
    volatile LONG IrbPoolFault;

    KEVENT SubmitLock;
    KEVENT IrbDone;
    volatile NTSTATUS IrbStatus;

    // The local node's receive FIFO.
    PSINGLE_LIST_ENTRY FifoListHead;
    KSPIN_LOCK FifoSpinLock;
    ULONG FifoElementCount;
    ULONG FifoElementSize;
    PUCHAR FifoBuffer;

    // The address range on the local node.
    IO_ADDRESS RequiredOffset;
    PADDRESS_RANGE AddressRange;
    ULONG AddressesReturned;
    PVOID AddressRangeHandle;

    // The camera-driven read under way (guarded by the FIFO spin lock).
    K1394_REQUEST_HEADER* CurrentCdtRequest;
    PUCHAR CdtReceivePosition;
    KEVENT CdtEvent;
    ULONG CdtExpected;
    ULONG CdtReceived;

    RK_WMI_INFORMATION Wmi;  // registered with no data blocks
    ULONG DeviceNumber;
    volatile LONG ConfigReread;
    volatile LONG BusResetFlag;
    K1394_CONFIGURATION_AREA ConfigArea;
    K1394_CDT_AREA CdtArea;
    volatile LONG RemoveHoldsLock;  // the remove hook holds the device lock until the toolkit's removal runs
};

// The driver-wide block sizes: last used by an asynchronous read and write (every transfer takes its own).
extern std::atomic<ULONG> g_K1394ReadBlockSize;
extern std::atomic<ULONG> g_K1394WriteBlockSize;

// ---- Device usability ------------------------------------------------------------------------------------------------
bool K1394IsDeviceUsable(PK1394_DEVICE_EXTENSION device);

// ---- Bus-request layer ------------------------------------------------------------------------------------------------
NTSTATUS Rk1394Initialize(RK_DRIVER_EXTENSION* driverExtension, PDEVICE_OBJECT deviceObject, PUNICODE_STRING deviceName,
                          PDEVICE_OBJECT physicalDevice);
void Rk1394Uninitialize(PK1394_DEVICE_EXTENSION device);
PIRB_CONTEXT Rk1394AllocateIrbContext(PK1394_DEVICE_EXTENSION device);
void Rk1394FreeIrbContext(PK1394_DEVICE_EXTENSION device, PIRB_CONTEXT context);
NTSTATUS Rk1394SubmitIrb(PK1394_DEVICE_EXTENSION device, PIRB_CONTEXT context);
NTSTATUS Rk1394SubmitIrbCR(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
NTSTATUS Rk1394GetConfiguration(PK1394_DEVICE_EXTENSION device);
NTSTATUS Rk1394GetGenerationNumberFromBus(PK1394_DEVICE_EXTENSION device);
NTSTATUS GetLocalNodeCapabilities(PK1394_DEVICE_EXTENSION device);
NTSTATUS Rk1394GetConfigurationInfo(PK1394_DEVICE_EXTENSION device);
void Rk1394ReleaseConfiguration(PK1394_DEVICE_EXTENSION device);
NTSTATUS BusResetCallbackHandler(PK1394_DEVICE_EXTENSION device, BOOLEAN registerIt);
void K1394BusResetNotification(PVOID context);
// direction 0 read, 1 write.
NTSTATUS Rk1394AsyncTransfer(PK1394_DEVICE_EXTENSION device, PVOID buffer, ULONG direction, ULONG length,
                             USHORT offsetHigh, ULONG offsetLow, ULONG blockSize);
ULONG ChunkSize(ULONG remaining, ULONG limit, ULONG packet);
ULONG AsyncReadChunked(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header, ULONG offsetLow,
                       ULONG offsetHigh, PVOID buffer, ULONG length);
ULONG AsyncWriteChunked(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header, ULONG offsetLow,
                        ULONG offsetHigh, PVOID buffer, ULONG length);
void K1394_AsyncRead(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
void K1394_AsyncWrite(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
void K1394_ReadInteger(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
void K1394_WriteInteger(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
ULONG ReadCameraQuadlet(PK1394_DEVICE_EXTENSION device, ULONG offsetLow, ULONG offsetHigh, PULONG value);
ULONG WriteCameraQuadlet(PK1394_DEVICE_EXTENSION device, ULONG offsetLow, ULONG offsetHigh, ULONG value);
ULONG AllocateLocalNodeFifo(PK1394_DEVICE_EXTENSION device, ULONG elementSize, ULONG count);
void FreeLocalNodeFifo(PK1394_DEVICE_EXTENSION device);
NTSTATUS AllocateAddressRangeOnLocalNode(PK1394_DEVICE_EXTENSION device, ULONG size, PNOTIFICATION_ROUTINE routine);
NTSTATUS AllocateAddressRange1394(PK1394_DEVICE_EXTENSION device, ULONG size, PNOTIFICATION_ROUTINE routine);
NTSTATUS FreeAddressRange1394(PK1394_DEVICE_EXTENSION device);
void K1394FifoReceive(PNOTIFICATION_INFO info);

// ---- Configuration area and camera-driven transfer ---------------------------------------------------------------------
ULONG ReadQuarelConfigurationAreaK1394(PK1394_DEVICE_EXTENSION device);
ULONG ReadConfigurationEntry(PK1394_DEVICE_EXTENSION device, ULONG index, K1394_CONFIGURATION_AREA* area);
void ParseTransferEntry(const K1394_CONFIG_ENTRY* entry, K1394_CDT_AREA* transferArea);
void K1394_CameraDrivenRead(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);

// A new device's extension: zeroed, both refresh flags set, the locks signalled, the events made, the swap flag
// set and the host maxima at their defaults.
void K1394InitializeDeviceExtension(PK1394_DEVICE_EXTENSION device);
