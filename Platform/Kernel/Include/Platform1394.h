#pragma once
// The 1394 bus interface as the camera driver sees it: our own declarations of the bus request block (IRB),
// its function numbers and the records the bus driver and its children exchange. Only the functions and
// fields this system uses are declared; pointer-sized fields hold pointers.
#include "PlatformKernel.h"

// The internal device-control code of a bus request: Parameters.Others.Argument1 of the next stack location
// holds the IRB.
constexpr ULONG IOCTL_1394_CLASS = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x87, METHOD_IN_DIRECT, FILE_ANY_ACCESS);
static_assert(IOCTL_1394_CLASS == 0x0022021D);

// The PnP minor function a bus sends its children after a bus reset; Parameters.Others.Argument4 carries the new
// generation count.
constexpr UCHAR IRP_MN_BUS_RESET = 0x87;

// Function numbers.
enum : ULONG {
    REQUEST_ASYNC_READ = 0,
    REQUEST_ASYNC_WRITE = 1,
    REQUEST_ALLOCATE_ADDRESS_RANGE = 17,
    REQUEST_FREE_ADDRESS_RANGE = 18,
    REQUEST_GET_LOCAL_HOST_INFO = 19,
    REQUEST_GET_CONFIGURATION_INFO = 24,
    REQUEST_GET_GENERATION_COUNT = 26,
    REQUEST_BUS_RESET_NOTIFICATION = 29,
};

// Statuses the bus answers with.
constexpr NTSTATUS STATUS_INVALID_GENERATION = MakeStatus(0xC0120090u);
constexpr NTSTATUS STATUS_INVALID_ADDRESS = MakeStatus(0xC0000141u);
// Older spellings of a stale generation that drivers also test for.
constexpr NTSTATUS STATUS_INVALID_GENERATION_OLD1 = MakeStatus(0xC8088090u);
constexpr NTSTATUS STATUS_INVALID_GENERATION_OLD2 = MakeStatus(0xC0128090u);

// A 48-bit node offset.
struct IO_ADDRESS {
    USHORT Off_High;
    USHORT Reserved;  // the node; the bus fills it
    ULONG Off_Low;
};

// One piece of an allocated address range.
struct ADDRESS_RANGE {
    USHORT AR_Off_High;
    USHORT AR_Length;
    ULONG AR_Off_Low;
};
static_assert(sizeof(ADDRESS_RANGE) == 8);
using PADDRESS_RANGE = ADDRESS_RANGE*;

// An element of the receive FIFO of an address range: the bus pops one per packet written into the range and
// hands it to the notification routine, which puts it back.
struct ADDRESS_FIFO {
    SINGLE_LIST_ENTRY FifoList;
    PMDL FifoMdl;
};
using PADDRESS_FIFO = ADDRESS_FIFO*;

// Access and notification options of an address range.
enum : ULONG {
    ACCESS_FLAGS_TYPE_READ = 1,
    ACCESS_FLAGS_TYPE_WRITE = 2,
    ACCESS_FLAGS_TYPE_LOCK = 4,
    NOTIFY_FLAGS_AFTER_READ = 1,
    NOTIFY_FLAGS_AFTER_WRITE = 2,
    NOTIFY_FLAGS_AFTER_LOCK = 4,
};

// What the notification routine of an address range gets for each access to the range.
struct NOTIFICATION_INFO {
    PMDL Mdl;                    // the FIFO element's memory list
    ULONG ulOffset;              // where the packet lies in the element (destination - range start)
    ULONG nLength;               // bytes of the packet
    ULONG fulNotificationOptions;  // NOTIFY_FLAGS_AFTER_WRITE for a write
    PVOID Context;               // the range's notification context
    PADDRESS_FIFO Fifo;          // the element that holds the packet
    PVOID RequestPacket;         // not used by this bus
    PMDL ResponseMdl;
    PVOID* ResponsePacket;
    PULONG ResponseLength;
    PKEVENT* ResponseEvent;
};
using PNOTIFICATION_INFO = NOTIFICATION_INFO*;
using PNOTIFICATION_ROUTINE = void (*)(PNOTIFICATION_INFO info);
using PBUS_BUS_RESET_NOTIFICATION = void (*)(PVOID context);

// Local host information, level 2.
constexpr ULONG GET_HOST_CAPABILITIES = 2;
struct GET_LOCAL_HOST_INFO2 {
    ULONG HostCapabilities;
    ULONG MaxAsyncReadRequest;
    ULONG MaxAsyncWriteRequest;
};

// Bus reset notification flags.
enum : ULONG { REGISTER_NOTIFICATION_ROUTINE = 1, DEREGISTER_NOTIFICATION_ROUTINE = 2 };

// The bus request block.
struct IRB {
    ULONG FunctionNumber;
    ULONG Flags;
    ULONG_PTR BusReserved[4];
    ULONG_PTR PortReserved[4];
    union {
        // REQUEST_ASYNC_READ and REQUEST_ASYNC_WRITE.
        struct {
            IO_ADDRESS DestinationAddress;
            ULONG nNumberOfBytesToRead;  // also the write's byte count
            ULONG nBlockSize;
            ULONG fulFlags;
            PMDL Mdl;
            ULONG ulGeneration;
            UCHAR chPriority;
            UCHAR nSpeed;
            UCHAR tCode;
            UCHAR Reserved;
            ULONG ElapsedTime;
        } AsyncTransfer;
        // REQUEST_ALLOCATE_ADDRESS_RANGE.
        struct {
            PMDL Mdl;
            ULONG fulFlags;
            ULONG nLength;
            ULONG MaxSegmentSize;
            ULONG fulAccessType;
            ULONG fulNotificationOptions;
            PNOTIFICATION_ROUTINE Callback;
            PVOID Context;
            IO_ADDRESS Required1394Offset;
            PSINGLE_LIST_ENTRY FifoSListHead;
            PKSPIN_LOCK FifoSpinLock;
            ULONG AddressesReturned;    // out
            PADDRESS_RANGE p1394AddressRange;  // out: at least one entry
            PVOID hAddressRange;        // out
            PVOID DeviceExtension;
        } AllocateAddressRange;
        // REQUEST_FREE_ADDRESS_RANGE.
        struct {
            ULONG nAddressesToFree;
            PADDRESS_RANGE p1394AddressRange;
            PVOID* pAddressRange;  // the handles to free
            PVOID DeviceExtension;
        } FreeAddressRange;
        // REQUEST_GET_LOCAL_HOST_INFO.
        struct {
            ULONG nLevel;
            PVOID Information;
        } GetLocalHostInformation;
        // REQUEST_GET_CONFIGURATION_INFO: with no buffers the bus answers the sizes.
        struct {
            PVOID ConfigRom;  // 24 bytes: the ROM's bus information block and root words
            ULONG UnitDirectoryBufferSize;
            PVOID UnitDirectory;
            IO_ADDRESS UnitDirectoryLocation;
            ULONG UnitDependentDirectoryBufferSize;
            PVOID UnitDependentDirectory;
            IO_ADDRESS UnitDependentDirectoryLocation;
            ULONG VendorLeafBufferSize;
            PVOID VendorLeaf;
            ULONG ModelLeafBufferSize;
            PVOID ModelLeaf;
        } GetConfigurationInformation;
        // REQUEST_GET_GENERATION_COUNT.
        struct {
            ULONG GenerationCount;  // out
        } GetGenerationCount;
        // REQUEST_BUS_RESET_NOTIFICATION.
        struct {
            ULONG fulFlags;
            PBUS_BUS_RESET_NOTIFICATION ResetRoutine;
            PVOID ResetContext;
        } BusResetNotification;
    } u;
};
using PIRB = IRB*;

// Size of the configuration ROM the bus hands out.
constexpr ULONG CONFIG_ROM_SIZE = 24;
