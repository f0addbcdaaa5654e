#pragma once
// The kernel stand-in as drivers see it: our own declarations of the kernel services that the drivers of this
// system call, under the names and call shapes they use. One kernel exists per process (libPlatformKernel.so);
// it runs in the process that uses it.
//
// IRQL is kept per thread. Misuse that would stop a real machine (a blocking wait at DISPATCH_LEVEL, a request
// completed twice, no stack location left, freeing pool that is not a live block, ...) prints
// "bug check: <what>" to stderr and aborts the process.
#include <cstddef>
#include <cstdint>

// ---- Basic types ----------------------------------------------------------------------------------------
using UCHAR = uint8_t;
using CHAR = char;
using CCHAR = char;
using USHORT = uint16_t;
using SHORT = int16_t;
using CSHORT = int16_t;
using ULONG = uint32_t;
using LONG = int32_t;
using ULONGLONG = uint64_t;
using LONGLONG = int64_t;
using ULONG_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using SIZE_T = size_t;
using BOOLEAN = uint8_t;
using PVOID = void*;
using WCHAR = char16_t;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using PCSTR = const char*;
using NTSTATUS = int32_t;
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;
using KPRIORITY = LONG;
using PULONG = ULONG*;
using PUCHAR = UCHAR*;
using PLONG = LONG*;

constexpr BOOLEAN TRUE = 1;
constexpr BOOLEAN FALSE = 0;

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

struct GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;

// ---- Status values ---------------------------------------------------------------------------------------
constexpr NTSTATUS MakeStatus(uint32_t value) { return static_cast<NTSTATUS>(value); }
constexpr bool NT_SUCCESS(NTSTATUS status) { return status >= 0; }
constexpr bool NT_ERROR(NTSTATUS status) { return (static_cast<uint32_t>(status) >> 30) == 3; }

constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_WAIT_0 = 0;
constexpr NTSTATUS STATUS_TIMEOUT = 0x102;
constexpr NTSTATUS STATUS_PENDING = 0x103;
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = MakeStatus(0x80000005u);
constexpr NTSTATUS STATUS_DEVICE_BUSY = MakeStatus(0x80000011u);
constexpr NTSTATUS STATUS_UNSUCCESSFUL = MakeStatus(0xC0000001u);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = MakeStatus(0xC0000002u);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = MakeStatus(0xC000000Du);
constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = MakeStatus(0xC000000Eu);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = MakeStatus(0xC0000010u);
constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = MakeStatus(0xC0000016u);
constexpr NTSTATUS STATUS_NO_MEMORY = MakeStatus(0xC0000017u);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = MakeStatus(0xC0000023u);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = MakeStatus(0xC0000033u);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = MakeStatus(0xC0000034u);
constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = MakeStatus(0xC0000035u);
constexpr NTSTATUS STATUS_SHARING_VIOLATION = MakeStatus(0xC0000043u);
constexpr NTSTATUS STATUS_DELETE_PENDING = MakeStatus(0xC0000056u);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = MakeStatus(0xC000009Au);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = MakeStatus(0xC00000BBu);
constexpr NTSTATUS STATUS_CANCELLED = MakeStatus(0xC0000120u);
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = MakeStatus(0xC0000184u);
constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = MakeStatus(0xC000009Du);
constexpr NTSTATUS STATUS_DRIVER_UNABLE_TO_LOAD = MakeStatus(0xC000026Cu);
constexpr NTSTATUS STATUS_OBJECT_NAME_EXISTS = MakeStatus(0x40000000u);
constexpr NTSTATUS STATUS_WMI_GUID_NOT_FOUND = MakeStatus(0xC0000295u);
constexpr NTSTATUS STATUS_WMI_INSTANCE_NOT_FOUND = MakeStatus(0xC0000296u);
constexpr NTSTATUS STATUS_WMI_ITEMID_NOT_FOUND = MakeStatus(0xC0000297u);
constexpr NTSTATUS STATUS_WMI_TRY_AGAIN = MakeStatus(0xC0000298u);

// ---- IRQL ------------------------------------------------------------------------------------------------
constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL LOW_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;
constexpr KIRQL HIGH_LEVEL = 31;

// ---- Lists -------------------------------------------------------------------------------------------------
struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

struct SINGLE_LIST_ENTRY {
    SINGLE_LIST_ENTRY* Next;
};
using PSINGLE_LIST_ENTRY = SINGLE_LIST_ENTRY*;

#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

inline void InitializeListHead(PLIST_ENTRY head) { head->Flink = head->Blink = head; }
inline bool IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head; }
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry)
{
    PLIST_ENTRY next = entry->Flink;
    PLIST_ENTRY prev = entry->Blink;
    prev->Flink = next;
    next->Blink = prev;
    return next == prev;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head)
{
    PLIST_ENTRY entry = head->Flink;
    RemoveEntryList(entry);
    return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head)
{
    PLIST_ENTRY entry = head->Blink;
    RemoveEntryList(entry);
    return entry;
}
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry)
{
    PLIST_ENTRY last = head->Blink;
    entry->Flink = head;
    entry->Blink = last;
    last->Flink = entry;
    head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry)
{
    PLIST_ENTRY first = head->Flink;
    entry->Flink = first;
    entry->Blink = head;
    first->Blink = entry;
    head->Flink = entry;
}
inline void PushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry)
{
    entry->Next = head->Next;
    head->Next = entry;
}
inline PSINGLE_LIST_ENTRY PopEntryList(PSINGLE_LIST_ENTRY head)
{
    PSINGLE_LIST_ENTRY first = head->Next;
    if (first)
        head->Next = first->Next;
    return first;
}

// ---- Interlocked operations --------------------------------------------------------------------------------
inline LONG InterlockedIncrement(LONG volatile* v) { return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* v) { return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* v, LONG value)
{
    return __atomic_exchange_n(v, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* v, LONG value)
{
    return __atomic_fetch_add(v, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* v, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline PVOID InterlockedExchangePointer(PVOID volatile* v, PVOID value)
{
    return __atomic_exchange_n(v, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* v, PVOID exchange, PVOID comparand)
{
    __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;
struct IRP;
struct FILE_OBJECT;
struct MDL;
struct KDPC;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PIRP = IRP*;
using PFILE_OBJECT = FILE_OBJECT*;
using PMDL = MDL*;
using PKDPC = KDPC*;

// ---- Strings -----------------------------------------------------------------------------------------------
// A counted UTF-16 string: lengths in bytes; the buffer need not be zero-terminated.
struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

// ---- Dispatcher objects ------------------------------------------------------------------------------------
enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum KWAIT_REASON { Executive = 0, UserRequest = 6, Suspended = 5 };
enum KPROCESSOR_MODE_VALUES { KernelMode = 0, UserMode = 1 };
using KPROCESSOR_MODE = CCHAR;

struct DISPATCHER_HEADER {
    UCHAR Type;  // EVENT_TYPE of an event
    UCHAR Inserted;
    USHORT Reserved;
    volatile LONG SignalState;
    PVOID Reserved2;
};
struct KEVENT {
    DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;

// ---- Memory and pool -----------------------------------------------------------------------------------------
enum POOL_TYPE { NonPagedPool = 0, PagedPool = 1, NonPagedPoolMustSucceed = 2, NonPagedPoolCacheAligned = 4 };
constexpr ULONG PAGE_SIZE = 4096;
constexpr ULONG PAGE_SHIFT = 12;

// A pool tag from its four characters as they read in memory ("DRKC").
constexpr ULONG KernTag(const char (&text)[5])
{
    return static_cast<ULONG>(static_cast<UCHAR>(text[0])) | static_cast<ULONG>(static_cast<UCHAR>(text[1])) << 8 |
           static_cast<ULONG>(static_cast<UCHAR>(text[2])) << 16 | static_cast<ULONG>(static_cast<UCHAR>(text[3])) << 24;
}

using PALLOCATE_FUNCTION = PVOID (*)(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
using PFREE_FUNCTION = void (*)(PVOID buffer);

// A lookaside list: entries of one size and tag kept for reuse, at most MaximumDepth of them.
struct NPAGED_LOOKASIDE_LIST {
    SINGLE_LIST_ENTRY ListHead;
    USHORT Depth;         // entries kept now
    USHORT MaximumDepth;  // most entries kept
    ULONG TotalAllocates;
    ULONG AllocateMisses;
    ULONG TotalFrees;
    ULONG FreeMisses;
    POOL_TYPE Type;
    ULONG Tag;
    ULONG Size;
    PALLOCATE_FUNCTION Allocate;
    PFREE_FUNCTION Free;
    KSPIN_LOCK Lock;
};
using PNPAGED_LOOKASIDE_LIST = NPAGED_LOOKASIDE_LIST*;

// A memory list: describes a buffer (here always resident and mapped once locked or built).
enum : CSHORT {
    MDL_MAPPED_TO_SYSTEM_VA = 0x0001,
    MDL_PAGES_LOCKED = 0x0002,
    MDL_SOURCE_IS_NONPAGED_POOL = 0x0004,
    MDL_ALLOCATED_FIXED_SIZE = 0x0008,
    MDL_PARTIAL = 0x0010,
    MDL_MAPPING_CAN_FAIL = 0x2000,
};
struct MDL {
    MDL* Next;
    CSHORT Size;
    CSHORT MdlFlags;
    PVOID MappedSystemVa;
    PVOID StartVa;  // page of the first byte
    ULONG ByteCount;
    ULONG ByteOffset;
};
enum LOCK_OPERATION { IoReadAccess = 0, IoWriteAccess = 1, IoModifyAccess = 2 };
enum MM_PAGE_PRIORITY { LowPagePriority = 0, NormalPagePriority = 16, HighPagePriority = 32 };

inline PVOID MmGetMdlVirtualAddress(const MDL* mdl)
{
    return static_cast<char*>(mdl->StartVa) + mdl->ByteOffset;
}
inline ULONG MmGetMdlByteCount(const MDL* mdl) { return mdl->ByteCount; }
inline ULONG MmGetMdlByteOffset(const MDL* mdl) { return mdl->ByteOffset; }
inline ULONG ADDRESS_AND_SIZE_TO_SPAN_PAGES(const void* va, SIZE_T size)
{
    ULONG_PTR offset = reinterpret_cast<ULONG_PTR>(va) & (PAGE_SIZE - 1);
    return static_cast<ULONG>((offset + size + PAGE_SIZE - 1) >> PAGE_SHIFT);
}

// ---- Devices, drivers and requests ---------------------------------------------------------------------------
enum : UCHAR {
    IRP_MJ_CREATE = 0x00,
    IRP_MJ_CREATE_NAMED_PIPE = 0x01,
    IRP_MJ_CLOSE = 0x02,
    IRP_MJ_READ = 0x03,
    IRP_MJ_WRITE = 0x04,
    IRP_MJ_QUERY_INFORMATION = 0x05,
    IRP_MJ_SET_INFORMATION = 0x06,
    IRP_MJ_QUERY_EA = 0x07,
    IRP_MJ_SET_EA = 0x08,
    IRP_MJ_FLUSH_BUFFERS = 0x09,
    IRP_MJ_QUERY_VOLUME_INFORMATION = 0x0A,
    IRP_MJ_SET_VOLUME_INFORMATION = 0x0B,
    IRP_MJ_DIRECTORY_CONTROL = 0x0C,
    IRP_MJ_FILE_SYSTEM_CONTROL = 0x0D,
    IRP_MJ_DEVICE_CONTROL = 0x0E,
    IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F,
    IRP_MJ_SHUTDOWN = 0x10,
    IRP_MJ_LOCK_CONTROL = 0x11,
    IRP_MJ_CLEANUP = 0x12,
    IRP_MJ_CREATE_MAILSLOT = 0x13,
    IRP_MJ_QUERY_SECURITY = 0x14,
    IRP_MJ_SET_SECURITY = 0x15,
    IRP_MJ_POWER = 0x16,
    IRP_MJ_SYSTEM_CONTROL = 0x17,
    IRP_MJ_DEVICE_CHANGE = 0x18,
    IRP_MJ_QUERY_QUOTA = 0x19,
    IRP_MJ_SET_QUOTA = 0x1A,
    IRP_MJ_PNP = 0x1B,
    IRP_MJ_MAXIMUM_FUNCTION = 0x1B,
};

enum : UCHAR {
    IRP_MN_START_DEVICE = 0x00,
    IRP_MN_QUERY_REMOVE_DEVICE = 0x01,
    IRP_MN_REMOVE_DEVICE = 0x02,
    IRP_MN_CANCEL_REMOVE_DEVICE = 0x03,
    IRP_MN_STOP_DEVICE = 0x04,
    IRP_MN_QUERY_STOP_DEVICE = 0x05,
    IRP_MN_CANCEL_STOP_DEVICE = 0x06,
    IRP_MN_QUERY_DEVICE_RELATIONS = 0x07,
    IRP_MN_QUERY_INTERFACE = 0x08,
    IRP_MN_QUERY_CAPABILITIES = 0x09,
    IRP_MN_QUERY_RESOURCES = 0x0A,
    IRP_MN_QUERY_RESOURCE_REQUIREMENTS = 0x0B,
    IRP_MN_QUERY_DEVICE_TEXT = 0x0C,
    IRP_MN_FILTER_RESOURCE_REQUIREMENTS = 0x0D,
    IRP_MN_READ_CONFIG = 0x0F,
    IRP_MN_WRITE_CONFIG = 0x10,
    IRP_MN_EJECT = 0x11,
    IRP_MN_SET_LOCK = 0x12,
    IRP_MN_QUERY_ID = 0x13,
    IRP_MN_QUERY_PNP_DEVICE_STATE = 0x14,
    IRP_MN_QUERY_BUS_INFORMATION = 0x15,
    IRP_MN_DEVICE_USAGE_NOTIFICATION = 0x16,
    IRP_MN_SURPRISE_REMOVAL = 0x17,
};
enum : UCHAR { IRP_MN_WAIT_WAKE = 0x00, IRP_MN_POWER_SEQUENCE = 0x01, IRP_MN_SET_POWER = 0x02, IRP_MN_QUERY_POWER = 0x03 };
enum : UCHAR {
    IRP_MN_QUERY_ALL_DATA = 0x00,
    IRP_MN_QUERY_SINGLE_INSTANCE = 0x01,
    IRP_MN_CHANGE_SINGLE_INSTANCE = 0x02,
    IRP_MN_CHANGE_SINGLE_ITEM = 0x03,
    IRP_MN_ENABLE_EVENTS = 0x04,
    IRP_MN_DISABLE_EVENTS = 0x05,
    IRP_MN_ENABLE_COLLECTION = 0x06,
    IRP_MN_DISABLE_COLLECTION = 0x07,
    IRP_MN_REGINFO = 0x08,
    IRP_MN_EXECUTE_METHOD = 0x09,
    IRP_MN_REGINFO_EX = 0x0B,
};

// Device-control codes.
enum : ULONG { METHOD_BUFFERED = 0, METHOD_IN_DIRECT = 1, METHOD_OUT_DIRECT = 2, METHOD_NEITHER = 3 };
enum : ULONG { FILE_ANY_ACCESS = 0, FILE_READ_ACCESS = 1, FILE_WRITE_ACCESS = 2 };
constexpr ULONG CTL_CODE(ULONG deviceType, ULONG function, ULONG method, ULONG access)
{
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr ULONG FILE_DEVICE_UNKNOWN = 0x22;
constexpr ULONG FILE_DEVICE_BUS_EXTENDER = 0x2A;

// Device object flags.
enum : ULONG {
    DO_BUFFERED_IO = 0x00000004,
    DO_EXCLUSIVE = 0x00000008,
    DO_DIRECT_IO = 0x00000010,
    DO_DEVICE_INITIALIZING = 0x00000080,
    DO_POWER_PAGABLE = 0x00002000,
    DO_POWER_INRUSH = 0x00004000,
};

constexpr CCHAR IO_NO_INCREMENT = 0;
constexpr CSHORT IO_TYPE_DRIVER = 4;
constexpr CSHORT IO_TYPE_DEVICE = 3;
constexpr CSHORT IO_TYPE_IRP = 6;
constexpr CSHORT IO_TYPE_FILE = 5;

struct KDEVICE_QUEUE_ENTRY {
    LIST_ENTRY DeviceListEntry;
    ULONG SortKey;
    BOOLEAN Inserted;
};
using PKDEVICE_QUEUE_ENTRY = KDEVICE_QUEUE_ENTRY*;
struct KDEVICE_QUEUE {
    CSHORT Type;
    CSHORT Size;
    LIST_ENTRY DeviceListHead;
    KSPIN_LOCK Lock;
    BOOLEAN Busy;
};
using PKDEVICE_QUEUE = KDEVICE_QUEUE*;

using PKDEFERRED_ROUTINE = void (*)(PKDPC dpc, PVOID deferredContext, PVOID systemArgument1, PVOID systemArgument2);
struct KDPC {
    UCHAR Type;
    UCHAR Importance;
    USHORT Number;
    LIST_ENTRY DpcListEntry;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    volatile LONG Queued;
};

using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_STARTIO = void (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT driverObject);
using PDRIVER_ADD_DEVICE = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject);
using PDRIVER_INITIALIZE = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
using PDRIVER_CANCEL = void (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);

struct DRIVER_EXTENSION {
    PDRIVER_OBJECT DriverObject;
    PDRIVER_ADD_DEVICE AddDevice;
    ULONG Count;
    UNICODE_STRING ServiceKeyName;
};
using PDRIVER_EXTENSION = DRIVER_EXTENSION*;

struct DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;  // the driver's devices, newest first
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;  // the kernel's own record of the driver
    PDRIVER_EXTENSION DriverExtension;
    UNICODE_STRING DriverName;
    PUNICODE_STRING HardwareDatabase;
    PVOID FastIoDispatch;
    PDRIVER_INITIALIZE DriverInit;
    PDRIVER_STARTIO DriverStartIo;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    volatile LONG ReferenceCount;
    PDRIVER_OBJECT DriverObject;
    PDEVICE_OBJECT NextDevice;      // next device of the same driver
    PDEVICE_OBJECT AttachedDevice;  // the device attached above this one
    PIRP CurrentIrp;
    ULONG Flags;
    ULONG Characteristics;
    PVOID DeviceExtension;
    ULONG DeviceType;
    CCHAR StackSize;
    ULONG AlignmentRequirement;
    KDEVICE_QUEUE DeviceQueue;
    KDPC Dpc;
    PVOID KernelPrivate;  // the kernel's own record of the device
};

struct FILE_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;
    PVOID FsContext;
    PVOID FsContext2;
    ULONG Flags;
    UNICODE_STRING FileName;
};

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

enum SYSTEM_POWER_STATE {
    PowerSystemUnspecified = 0,
    PowerSystemWorking = 1,
    PowerSystemSleeping1 = 2,
    PowerSystemSleeping2 = 3,
    PowerSystemSleeping3 = 4,
    PowerSystemHibernate = 5,
    PowerSystemShutdown = 6,
    PowerSystemMaximum = 7,
};
enum DEVICE_POWER_STATE {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0 = 1,
    PowerDeviceD1 = 2,
    PowerDeviceD2 = 3,
    PowerDeviceD3 = 4,
    PowerDeviceMaximum = 5,
};
union POWER_STATE {
    SYSTEM_POWER_STATE SystemState;
    DEVICE_POWER_STATE DeviceState;
};
enum POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState = 1 };
enum POWER_ACTION { PowerActionNone = 0, PowerActionSleep = 2, PowerActionHibernate = 3, PowerActionShutdown = 4 };

struct DEVICE_CAPABILITIES {
    USHORT Size;
    USHORT Version;
    ULONG DeviceD1 : 1;
    ULONG DeviceD2 : 1;
    ULONG LockSupported : 1;
    ULONG EjectSupported : 1;
    ULONG Removable : 1;
    ULONG DockDevice : 1;
    ULONG UniqueID : 1;
    ULONG SilentInstall : 1;
    ULONG RawDeviceOK : 1;
    ULONG SurpriseRemovalOK : 1;
    ULONG Reserved : 22;
    ULONG Address;
    ULONG UINumber;
    DEVICE_POWER_STATE DeviceState[PowerSystemMaximum];
    SYSTEM_POWER_STATE SystemWake;
    DEVICE_POWER_STATE DeviceWake;
};
using PDEVICE_CAPABILITIES = DEVICE_CAPABILITIES*;

// Control bits of a stack location.
enum : UCHAR {
    SL_PENDING_RETURNED = 0x01,
    SL_INVOKE_ON_CANCEL = 0x20,
    SL_INVOKE_ON_SUCCESS = 0x40,
    SL_INVOKE_ON_ERROR = 0x80,
};

struct IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            PVOID SecurityContext;
            ULONG Options;
            USHORT FileAttributes;
            USHORT ShareAccess;
            ULONG EaLength;
        } Create;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Read;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Write;
        struct {
            PDEVICE_CAPABILITIES Capabilities;
        } DeviceCapabilities;
        struct {
            ULONG SystemContext;
            POWER_STATE_TYPE Type;
            POWER_STATE State;
            POWER_ACTION ShutdownType;
        } Power;
        struct {
            POWER_STATE_TYPE PowerState;
        } WaitWake;
        struct {
            ULONG_PTR ProviderId;
            PVOID DataPath;
            ULONG BufferSize;
            PVOID Buffer;
        } WMI;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

// A request packet. A guard location follows it in memory, then its stack locations: location 1 is the lowest,
// StackCount the top; a driver that writes the location below location 1 meets the guard (a bug check).
// CurrentLocation is StackCount + 1 before the first IoCallDriver and StackCount + 2 once completed.
struct IRP {
    CSHORT Type;
    USHORT Size;
    PMDL MdlAddress;
    ULONG Flags;
    union {
        PIRP MasterIrp;
        PVOID SystemBuffer;
    } AssociatedIrp;
    LIST_ENTRY ThreadListEntry;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CCHAR StackCount;
    CCHAR CurrentLocation;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    PDRIVER_CANCEL volatile CancelRoutine;
    PVOID UserBuffer;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    struct {
        struct {
            union {
                KDEVICE_QUEUE_ENTRY DeviceQueueEntry;
                PVOID DriverContext[4];
            };
            PVOID Thread;
            LIST_ENTRY ListEntry;
            PIO_STACK_LOCATION CurrentStackLocation;
            PFILE_OBJECT OriginalFileObject;
        } Overlay;
    } Tail;
    ULONG KernelFlags;         // the kernel's own marks
    ULONG KernelOutputLength;  // the kernel's own: length of the caller's output buffer
};

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) { return irp->Tail.Overlay.CurrentStackLocation; }
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) { return irp->Tail.Overlay.CurrentStackLocation - 1; }
inline void IoSkipCurrentIrpStackLocation(PIRP irp)
{
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoSetNextIrpStackLocation(PIRP irp)
{
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
}
inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp)
{
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    *next = *current;
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
    next->Control = 0;
}
inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN onSuccess,
                                   BOOLEAN onError, BOOLEAN onCancel)
{
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (onSuccess)
        next->Control |= SL_INVOKE_ON_SUCCESS;
    if (onError)
        next->Control |= SL_INVOKE_ON_ERROR;
    if (onCancel)
        next->Control |= SL_INVOKE_ON_CANCEL;
}
inline void IoMarkIrpPending(PIRP irp) { IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED; }
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine)
{
    return reinterpret_cast<PDRIVER_CANCEL>(InterlockedExchangePointer(
        reinterpret_cast<PVOID volatile*>(const_cast<PDRIVER_CANCEL*>(&irp->CancelRoutine)),
        reinterpret_cast<PVOID>(routine)));
}

using PIO_WORKITEM = struct IO_WORKITEM*;
using PIO_WORKITEM_ROUTINE = void (*)(PDEVICE_OBJECT deviceObject, PVOID context);
enum WORK_QUEUE_TYPE { CriticalWorkQueue = 0, DelayedWorkQueue = 1, HyperCriticalWorkQueue = 2 };
using PWORKER_THREAD_ROUTINE = void (*)(PVOID parameter);
struct WORK_QUEUE_ITEM {
    LIST_ENTRY List;
    PWORKER_THREAD_ROUTINE WorkerRoutine;
    PVOID Parameter;
};
using PWORK_QUEUE_ITEM = WORK_QUEUE_ITEM*;
inline void ExInitializeWorkItem(PWORK_QUEUE_ITEM item, PWORKER_THREAD_ROUTINE routine, PVOID parameter)
{
    item->WorkerRoutine = routine;
    item->Parameter = parameter;
    item->List.Flink = nullptr;
}

// ---- Power, plug and play, interfaces and WMI -------------------------------------------------------------------
using PREQUEST_POWER_COMPLETE = void (*)(PDEVICE_OBJECT deviceObject, UCHAR minorFunction, POWER_STATE powerState,
                                         PVOID context, PIO_STATUS_BLOCK ioStatus);

// WMI registration actions.
enum : ULONG { WMIREG_ACTION_REGISTER = 1, WMIREG_ACTION_DEREGISTER = 2, WMIREG_ACTION_REREGISTER = 3,
               WMIREG_ACTION_UPDATE_GUIDS = 4 };

// An interrupt object (connections are refused here: no device of this system has one).
struct KINTERRUPT;
using PKINTERRUPT = KINTERRUPT*;
using PKSERVICE_ROUTINE = BOOLEAN (*)(PKINTERRUPT interrupt, PVOID context);
enum KINTERRUPT_MODE { LevelSensitive = 0, Latched = 1 };

// ---- The services --------------------------------------------------------------------------------------------
extern "C" {

// Diagnostics. DbgPrint output is bounded to 512 bytes a call; it goes to the trace sink (discarded unless
// LUMO_TRACE=1 sends it to stderr) and to whoever captures it. DbgBreakPoint counts and traces a break and
// returns.
ULONG DbgPrint(PCSTR format, ...) __attribute__((format(printf, 1, 2)));
void DbgBreakPoint();
[[noreturn]] void KeBugCheckEx(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4);

// IRQL and spin locks.
KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
void KeLowerIrql(KIRQL newIrql);
KIRQL KeRaiseIrqlToDpcLevel();
void KeInitializeSpinLock(PKSPIN_LOCK lock);
void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql);
void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock);
void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock);

// Interlocked lists under a spin lock.
PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock);
PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry, PKSPIN_LOCK lock);
PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY head, PKSPIN_LOCK lock);

// Events and waits. Time-outs are in 100-ns units: negative = relative, positive = absolute system time,
// zero = test without waiting, null = no limit. A wait answers STATUS_SUCCESS or STATUS_TIMEOUT.
void KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG KeSetEvent(PKEVENT event, KPRIORITY increment, BOOLEAN wait);
LONG KeResetEvent(PKEVENT event);
void KeClearEvent(PKEVENT event);
LONG KeReadStateEvent(PKEVENT event);
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode, BOOLEAN alertable,
                               PLARGE_INTEGER timeout);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE mode, BOOLEAN alertable, PLARGE_INTEGER interval);
void KeStallExecutionProcessor(ULONG microseconds);

// Time: system time in 100-ns units since 1601, the interrupt time (100-ns units since start), the
// performance counter and the processor's time-stamp counter.
void KeQuerySystemTime(PLARGE_INTEGER currentTime);
ULONGLONG KeQueryInterruptTime();
LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER frequency);
ULONGLONG KeReadTimeStampCounter();

// DPCs (run on the DPC thread at DISPATCH_LEVEL) and work items (on the worker thread at PASSIVE_LEVEL).
void KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context);
BOOLEAN KeInsertQueueDpc(PKDPC dpc, PVOID systemArgument1, PVOID systemArgument2);
BOOLEAN KeRemoveQueueDpc(PKDPC dpc);
PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject);
void IoFreeWorkItem(PIO_WORKITEM item);
void IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE queueType, PVOID context);
void ExQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE queueType);

// Device queues.
void KeInitializeDeviceQueue(PKDEVICE_QUEUE queue);
BOOLEAN KeInsertDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry);
BOOLEAN KeInsertByKeyDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry, ULONG sortKey);
PKDEVICE_QUEUE_ENTRY KeRemoveDeviceQueue(PKDEVICE_QUEUE queue);
BOOLEAN KeRemoveEntryDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry);

// Pool. Every block is tracked by tag; freeing anything but a live block is a bug check.
PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T numberOfBytes, ULONG tag);
PVOID ExAllocatePool(POOL_TYPE type, SIZE_T numberOfBytes);
void ExFreePoolWithTag(PVOID block, ULONG tag);
void ExFreePool(PVOID block);

// Lookaside lists. Depth 0 chooses the kernel's own (4); null routines use the pool.
void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PALLOCATE_FUNCTION allocate, PFREE_FUNCTION free,
                                     ULONG flags, SIZE_T size, ULONG tag, USHORT depth);
void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list);
PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list);
void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PVOID entry);

// Memory lists.
PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN chargeQuota, PIRP irp);
void IoFreeMdl(PMDL mdl);
void MmBuildMdlForNonPagedPool(PMDL mdl);
void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE mode, LOCK_OPERATION operation);
void MmUnlockPages(PMDL mdl);
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, MM_PAGE_PRIORITY priority);
PVOID MmMapLockedPagesSpecifyCache(PMDL mdl, KPROCESSOR_MODE mode, ULONG cacheType, PVOID baseAddress,
                                   ULONG bugCheckOnFailure, MM_PAGE_PRIORITY priority);
void MmUnmapLockedPages(PVOID baseAddress, PMDL mdl);

// Counted strings and memory.
void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string);
NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value);
LONG RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2, BOOLEAN caseInsensitive);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2, BOOLEAN caseInsensitive);
void RtlFreeUnicodeString(PUNICODE_STRING string);
SIZE_T RtlCompareMemory(const void* source1, const void* source2, SIZE_T length);
void RtlCopyMemory(void* destination, const void* source, SIZE_T length);
void RtlMoveMemory(void* destination, const void* source, SIZE_T length);
void RtlZeroMemory(void* destination, SIZE_T length);
void RtlFillMemory(void* destination, SIZE_T length, UCHAR fill);

// Objects (device objects): references keep a deleted device's memory until the last one goes; so does a device
// still attached above it, until it detaches.
void ObReferenceObject(PVOID object);
void ObDereferenceObject(PVOID object);

// Devices and requests.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                        ULONG deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject);
void IoDeleteDevice(PDEVICE_OBJECT deviceObject);
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice, PDEVICE_OBJECT targetDevice);
void IoDetachDevice(PDEVICE_OBJECT targetDevice);
PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject);
PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject);

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoFreeIrp(PIRP irp);
USHORT IoSizeOfIrp(CCHAR stackSize);
void IoInitializeIrp(PIRP irp, USHORT packetSize, CCHAR stackSize);
void IoReuseIrp(PIRP irp, NTSTATUS status);
// A device-control request for `deviceObject` (its next stack location filled). The kernel owns it: its
// completion sets *ioStatusBlock, copies a buffered reply into outputBuffer, signals `event` and frees it.
PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                   ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock);
NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
void IoCompleteRequest(PIRP irp, CCHAR priorityBoost);
BOOLEAN IoCancelIrp(PIRP irp);
void IoAcquireCancelSpinLock(PKIRQL irql);
void IoReleaseCancelSpinLock(KIRQL irql);

// The operating system the machine believes it runs.
BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion);
BOOLEAN PsGetVersion(PULONG majorVersion, PULONG minorVersion, PULONG buildNumber, PUNICODE_STRING csdVersion);

// Power manager. PoRequestPowerIrp sends a device power request (minor IRP_MN_SET_POWER or IRP_MN_QUERY_POWER)
// to the top of `deviceObject`'s stack (on the calling thread at PASSIVE_LEVEL, on the worker thread when called
// above it), then calls `completionFunction`. PoSetPowerState records the state and answers the previous one.
NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT deviceObject, UCHAR minorFunction, POWER_STATE powerState,
                           PREQUEST_POWER_COMPLETE completionFunction, PVOID context, PIRP* irp);
NTSTATUS PoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
void PoStartNextPowerIrp(PIRP irp);
POWER_STATE PoSetPowerState(PDEVICE_OBJECT deviceObject, POWER_STATE_TYPE type, POWER_STATE state);

// Device interfaces: the link name "\\?\<bus>#<device>#<instance>#{guid}" of the physical device's ids (the
// reference string, when given, follows a backslash). The name's buffer is the caller's to free with
// RtlFreeUnicodeString.
NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject, const GUID* interfaceClassGuid,
                                   PUNICODE_STRING referenceString, PUNICODE_STRING symbolicLinkName);
NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable);

// Symbolic links: "\DosDevices\X" to "\Device\Y" (PASSIVE_LEVEL).
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING symbolicLinkName, PUNICODE_STRING deviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING symbolicLinkName);

// Driver object extensions: zeroed memory of the kernel's, one per client id, freed with the driver object.
NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT driverObject, PVOID clientIdentificationAddress,
                                         ULONG driverObjectExtensionSize, PVOID* driverObjectExtension);
PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT driverObject, PVOID clientIdentificationAddress);

// WMI: registrations and written events are recorded. IoWMIWriteEvent takes the event record (a WNODE whose
// first word is its size) and frees it on success.
NTSTATUS IoWMIRegistrationControl(PDEVICE_OBJECT deviceObject, ULONG action);
NTSTATUS IoWMIWriteEvent(PVOID wnodeEventItem);

// Interrupts: refused (STATUS_NOT_SUPPORTED).
NTSTATUS IoConnectInterrupt(PKINTERRUPT* interruptObject, PKSERVICE_ROUTINE serviceRoutine, PVOID serviceContext,
                            PKSPIN_LOCK spinLock, ULONG vector, KIRQL irql, KIRQL synchronizeIrql,
                            KINTERRUPT_MODE interruptMode, BOOLEAN shareVector, ULONG processorEnableMask,
                            BOOLEAN floatingSave);
void IoDisconnectInterrupt(PKINTERRUPT interruptObject);

}  // extern "C"
