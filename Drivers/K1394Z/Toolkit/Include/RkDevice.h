#pragma once
// The toolkit's driver and device services: the device information block at the start of every device
// extension, plug-and-play and power handling, driver and device initialisation, names and symbolic links,
// counted strings, the WMI provider frame and the start-I/O queue.
#include "RkMemory.h"

// ---- Assertions: traced and broken into the debugger in the checked build, nothing in the release build -------
#ifdef RK_CHECKED
#define RK_ASSERT(expression)                                                                          \
    do {                                                                                               \
        if (!(expression)) {                                                                           \
            DbgPrint("ROKIT ASSERT:  " #expression " on line %d in %s\n", __LINE__, __FILE__);        \
            DbgBreakPoint();                                                                           \
        }                                                                                              \
    } while (0)
#else
#define RK_ASSERT(expression) \
    do {                      \
    } while (0)
#endif

struct RK_DEVICE_INFORMATION;
struct RK_WMI_INFORMATION;

// ---- The driver's hooks ---------------------------------------------------------------------------------------
// Null hooks take the toolkit's defaults (noted per hook).
struct RK_DRIVER_HOOKS {
    // After the lower drivers started the device (default: success).
    NTSTATUS (*SetupDeviceResources)(RK_DEVICE_INFORMATION* information);
    // Stop, remove and surprise removal; `deviceGone` when the hardware has left (default: success).
    NTSTATUS (*FreeDeviceResources)(RK_DEVICE_INFORMATION* information, BOOLEAN deviceGone);
    // Told at the start of remove and of surprise removal handling (default: nothing).
    void (*OnRemoveDevice)(RK_DEVICE_INFORMATION* information);
    void (*OnSurpriseRemoval)(RK_DEVICE_INFORMATION* information);
    // The device's end after removal (default: RkDevUninitialize, then IoDeleteDevice).
    void (*DeleteDevice)(RK_DEVICE_INFORMATION* information);
    // The device power state for a system power state (default: D3 for S1 and deeper; for the working state
    // D0 when the device is not power managed, else its current state).
    DEVICE_POWER_STATE (*DeviceStateForSystemState)(RK_DEVICE_INFORMATION* information, SYSTEM_POWER_STATE state);
    // Register save and restore around power changes (default: success).
    NTSTATUS (*SavePowerRegisters)(RK_DEVICE_INFORMATION* information);
    NTSTATUS (*RestorePowerRegisters)(RK_DEVICE_INFORMATION* information);
    // The driver's own usability checks beyond the toolkit's (default: usable).
    BOOLEAN (*IsDeviceUsable)(RK_DEVICE_INFORMATION* information);
};

// ---- Driver object extension ----------------------------------------------------------------------------------
constexpr ULONG_PTR RK_DRIVER_EXTENSION_ID = 0xFAFA;
struct RK_DRIVER_EXTENSION {
    UNICODE_STRING RegistryPath;  // a copy, pool tag "DRKC", zero-terminated
    RK_DRIVER_HOOKS Hooks;
};

// Installs the toolkit's PnP, power, system-control, create and close routines and copies the registry path
// into the driver object extension.
NTSTATUS RkDrvInitializePnpDriver(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
void RkDrvUninitializePnpDriver(PDRIVER_OBJECT driver);  // frees the registry path copy
RK_DRIVER_EXTENSION* RkDrvGetDriverExtension(PDRIVER_OBJECT driver);
// The hooks every device of the driver takes at RkDevInitialize.
void RkDrvSetHooks(PDRIVER_OBJECT driver, const RK_DRIVER_HOOKS* hooks);

// ---- The start-I/O queue ----------------------------------------------------------------------------------------
struct RK_QUEUE {
    KDEVICE_QUEUE DeviceQueue;
    PDEVICE_OBJECT Device;
    PDRIVER_STARTIO StartIo;
    BOOLEAN UseDeviceQueue;  // else a plain list under the queue's spin lock
    LIST_ENTRY List;
    KSPIN_LOCK Lock;
    PIRP volatile Current;
    volatile LONG Count;  // requests waiting
    KDPC Dpc;
};
void RkQueueInitialize(RK_QUEUE* queue, PDEVICE_OBJECT device, PDRIVER_STARTIO startIo, BOOLEAN useDeviceQueue);
// Queues a request (marked pending) and starts it when the queue is idle; answers STATUS_PENDING. A request
// cancelled while it waits is completed with STATUS_CANCELLED.
NTSTATUS RkQueueStartPacket(RK_QUEUE* queue, PIRP irp);
// Makes the next waiting request current and calls the start routine with it at DISPATCH_LEVEL; an empty queue
// clears the current request.
void RkQueueStartNext(RK_QUEUE* queue);
// Completes the current request from the queue's DPC: the next one is started first. The request's status and
// information must be set and its cancel routine cleared.
void RkQueueCompleteCurrent(RK_QUEUE* queue, CCHAR boost);

// ---- The device information block --------------------------------------------------------------------------------
enum RK_PNP_STATE : LONG {
    RkPnpNotStarted = 0,
    RkPnpStarted = 1,
    RkPnpStopPending = 2,
    RkPnpStopped = 3,
    RkPnpRemovePending = 4,
    RkPnpRemoved = 5,
    RkPnpSurpriseRemoved = 6,
    RkPnpStartFailed = 7,
};

using RK_POWER_HOOK = NTSTATUS (*)(RK_DEVICE_INFORMATION* information, DEVICE_POWER_STATE state);

struct RK_POWER_CONTEXT {
    KEVENT Event;
    NTSTATUS Status;
};

struct RK_DEVICE_INFORMATION {
    PDEVICE_OBJECT PhysicalDevice;
    PDEVICE_OBJECT LowerDevice;  // null = not attached
    RK_DEVICE_INFORMATION* Self;
    volatile LONG PnpState;  // RK_PNP_STATE
    KEVENT NoRequestsEvent;  // signalled while only the base reference is left
    volatile LONG RequestCount;  // outstanding requests + 1
    volatile LONG StopHolds;
    volatile LONG RemoveHolds;
    volatile LONG Stopped;
    ULONG DevicePowerState;  // 1 = D0 ... 4 = D3
    ULONG SystemPowerState;
    ULONG PreviousDevicePowerState;
    ULONG PreviousSystemPowerState;
    ULONG RestoreRegistersBelow;  // D-state (2..4) below which saved registers are restored
    ULONG SaveRegistersFrom;      // D-state (2..4) at or beyond which registers are saved
    volatile LONG PowerDownAllowed;
    volatile LONG PoweredDown;  // makes the device unusable
    volatile LONG RegistersSaved;
    ULONG PowerManaged;
    UCHAR Attached;
    UCHAR MayPowerDown;
    UCHAR InterfaceRegistered;
    UCHAR SurpriseRemovalAllowed;
    ULONG UnexpectedRemoval;  // the remove came without a query-remove
    volatile LONG ResourcesReleased;  // the driver's resource release ran since the last start
    UNICODE_STRING InterfaceLink;
    PIO_WORKITEM RemoveWorkItem;
    KEVENT PowerEvent;
    volatile LONG PowerContextInUse;
    RK_POWER_CONTEXT PowerContext;
    PIRP PendingSystemIrp;
    LIST_ENTRY HoldList;
    KSPIN_LOCK HoldLock;
    RK_POWER_HOOK PowerDownHook;
    RK_POWER_HOOK PowerUpHook;
    NPAGED_LOOKASIDE_LIST SmallEntries;  // 20-byte entries, "DRKC"
    UCHAR LookasideReady;
    volatile LONG HandleCount;
    volatile LONG Exclusive;
    PDEVICE_OBJECT DeviceObject;
    PDRIVER_OBJECT DriverObject;
    UNICODE_STRING DeviceName;    // the part of the full name after its last backslash
    UNICODE_STRING SymbolicLink;  // "\DosDevices\..." once created
    UNICODE_STRING Name2;
    UNICODE_STRING Name3;
    UNICODE_STRING Name4;
    KSPIN_LOCK InterruptSpinLock;
    PKINTERRUPT Interrupt;
    ULONG InterruptVector;
    KIRQL InterruptIrql;
    KINTERRUPT_MODE InterruptMode;
    ULONG InterruptAffinity;
    PKSERVICE_ROUTINE InterruptService;
    RK_QUEUE Queue;
    RK_WMI_INFORMATION* Wmi;
    RK_DRIVER_HOOKS Hooks;
};

inline RK_DEVICE_INFORMATION* RkDevGetInformation(PDEVICE_OBJECT device)
{
    return static_cast<RK_DEVICE_INFORMATION*>(device->DeviceExtension);
}

// ---- Device initialisation, names, symbolic link, interrupt, handles ----------------------------------------------
// Records the driver and device objects, takes the device name after the last backslash of `fullDeviceName`,
// sets direct I/O, initialises plug and play over `physicalDevice` and the queue with the driver's StartIo.
NTSTATUS RkDevInitialize(RK_DRIVER_EXTENSION* driverExtension, RK_DEVICE_INFORMATION* information,
                         PDEVICE_OBJECT deviceObject, PDEVICE_OBJECT physicalDevice, PUNICODE_STRING fullDeviceName);
// Frees the names, deletes the symbolic link and the lookaside list, detaches, frees the interface link and
// disconnects the interrupt. A second call does nothing.
void RkDevUninitialize(RK_DEVICE_INFORMATION* information);
// "\DosDevices\" + linkName to "\Device\" + the device name (PASSIVE_LEVEL).
NTSTATUS RkDevCreateSymbolicLink(RK_DEVICE_INFORMATION* information, PCWSTR linkName);
NTSTATUS RkDevDeleteSymbolicLink(RK_DEVICE_INFORMATION* information);
// The interrupt from the recorded parameters (the stand-in refuses: no device of this system has one).
NTSTATUS RkDevConnectInterrupt(RK_DEVICE_INFORMATION* information);
void RkDevDisconnectInterrupt(RK_DEVICE_INFORMATION* information);
// Reconnects after a power-up; success when no interrupt is wanted.
NTSTATUS RkDevReconnectInterruptPnp(RK_DEVICE_INFORMATION* information);
LONG RkDevIncrementHandleCount(RK_DEVICE_INFORMATION* information);
LONG RkDevDecrementHandleCount(RK_DEVICE_INFORMATION* information);  // never below zero
LONG RkDevGetHandleCount(RK_DEVICE_INFORMATION* information);
// The toolkit's usability test: attached, not stopping, stopped or removed, not powered down, and the driver's own.
BOOLEAN RkDevIsUsable(RK_DEVICE_INFORMATION* information);

// ---- Plug and play -----------------------------------------------------------------------------------------------------
NTSTATUS RkPnpInitializePnpInformation(RK_DEVICE_INFORMATION* information, PDEVICE_OBJECT physicalDevice);
NTSTATUS RkPnpAttachToStack(RK_DEVICE_INFORMATION* information);
void RkPnpDetachFromStack(RK_DEVICE_INFORMATION* information);
NTSTATUS RkPnpRegisterDeviceInterface(RK_DEVICE_INFORMATION* information, const GUID* interfaceClass,
                                      PUNICODE_STRING reference);
NTSTATUS RkPnpEnableDeviceInterface(RK_DEVICE_INFORMATION* information);
NTSTATUS RkPnpDisableDeviceInterface(RK_DEVICE_INFORMATION* information);

void RkPnpTakeRequestReference(RK_DEVICE_INFORMATION* information);
void RkPnpDropRequestReference(RK_DEVICE_INFORMATION* information);
// Takes a reference and answers whether the request may go on. A refused request is completed at once with
// *status (STATUS_CANCELLED when cancelled, else STATUS_DELETE_PENDING) and its reference dropped.
BOOLEAN RkPnpAdmitRequest(RK_DEVICE_INFORMATION* information, PIRP irp, NTSTATUS* status);
// Stores the status, completes the request and drops its reference.
NTSTATUS RkPnpCompleteRequest(RK_DEVICE_INFORMATION* information, PIRP irp, NTSTATUS status, CCHAR boost);
// Passes a request to `lower` (the lower device when null); waiting answers the request's final status.
NTSTATUS RkPnpPassIrpDown(RK_DEVICE_INFORMATION* information, PIRP irp, BOOLEAN wait, PDEVICE_OBJECT lower);

NTSTATUS RkPnpPowerDownDevice(RK_DEVICE_INFORMATION* information, DEVICE_POWER_STATE state);
NTSTATUS RkPnpPowerUpDevice(RK_DEVICE_INFORMATION* information, DEVICE_POWER_STATE state);

// The minor-function handlers (each drops the reference admission took).
NTSTATUS RkPnpOnPnpStartDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpQueryRemoveDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpRemoveDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpCancelRemoveDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpStopDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpQueryStopDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpCancelStopDevice(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpQueryCapabilities(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPnpOnPnpSurpriseRemoval(RK_DEVICE_INFORMATION* information, PIRP irp);
// The trace-and-pass-down minor functions (0x07, 0x08, 0x0A to 0x0D, 0x0F to 0x15).
NTSTATUS RkPnpOnPnpPassDown(RK_DEVICE_INFORMATION* information, PIRP irp);

// The toolkit's IRP_MJ_PNP, IRP_MJ_CREATE and IRP_MJ_CLOSE routines.
NTSTATUS PnpDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS RkDrvDefaultCreate(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS RkDrvDefaultClose(PDEVICE_OBJECT device, PIRP irp);

// Names of major functions and of the minor functions of PnP, power and WMI.
const char* RkPnpMajorFunctionName(UCHAR major);
const char* RkPnpMinorFunctionName(UCHAR minor);
const char* RkPowMinorFunctionName(UCHAR minor);
const char* RkWmiMinorFunctionName(UCHAR minor);

// ---- Power -------------------------------------------------------------------------------------------------------------
NTSTATUS RkPowDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS RkPowOnPowerSetPower(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPowOnPowerQueryPower(RK_DEVICE_INFORMATION* information, PIRP irp);
NTSTATUS RkPowPassPowerIrpDownStack(RK_DEVICE_INFORMATION* information, PIRP irp, PIO_COMPLETION_ROUTINE completion,
                                    PVOID context);
NTSTATUS RkPowSendSynchPowerIrpToDevice(RK_DEVICE_INFORMATION* information, UCHAR minor, DEVICE_POWER_STATE state,
                                        NTSTATUS* status);
NTSTATUS RkPowSendSynchQueryAndSetPowerIrpToDevice(RK_DEVICE_INFORMATION* information, DEVICE_POWER_STATE state,
                                                   NTSTATUS* queryStatus, NTSTATUS* setStatus);
NTSTATUS RkPowSendAsynchSetPowerIrpToDevice(RK_DEVICE_INFORMATION* information, DEVICE_POWER_STATE state,
                                            PREQUEST_POWER_COMPLETE completion, PVOID context);
// The register thresholds: D-states 2 to 4, else 0xC000000D.
NTSTATUS RkPowSetRestoreRegistersBelow(RK_DEVICE_INFORMATION* information, ULONG state);
NTSTATUS RkPowSetSaveRegistersFrom(RK_DEVICE_INFORMATION* information, ULONG state);
// Held requests go again to the driver's dispatch routine of their major function.
void RkPowRedispatchHeldRequests(RK_DEVICE_INFORMATION* information);
NTSTATUS RkPowSystemCompletionRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context);
NTSTATUS RkPowPowerUpCompletionRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context);

// ---- Counted strings (buffers from the pool, tag "DRKC", always zero-terminated) ---------------------------------------
NTSTATUS RkStrConvertUnicode(PUNICODE_STRING string, PCWSTR text);
// Base 0 (= 10), 2, 8, 10 or 16; other bases are 0xC000000D.
NTSTATUS RkStrConvertInteger(PUNICODE_STRING string, ULONG value, ULONG base);
void RkStrEmpty(PUNICODE_STRING string);  // no buffer, length 0
void RkStrFree(PUNICODE_STRING string);
// Appends in place, growing the buffer.
NTSTATUS RkStrAppend(PUNICODE_STRING string, PCUNICODE_STRING tail);
// A new string: first + second.
NTSTATUS RkStrAppendNew(PUNICODE_STRING result, PCUNICODE_STRING first, PCUNICODE_STRING second);
NTSTATUS RkStrAppendNumber(PUNICODE_STRING string, ULONG value, ULONG base);
// The index of `what` in `string`, searching from `start` forwards, or for a negative start from the end
// backwards; with `distanceFromEnd` the number of characters from the match to the end. -1 when not found.
LONG RkStrFind(PCUNICODE_STRING string, PCUNICODE_STRING what, LONG start, BOOLEAN distanceFromEnd);
// `count` characters of `string` from `start` into a new string; out of range is 0xC000000D.
NTSTATUS RkStrMid(PUNICODE_STRING result, PCUNICODE_STRING string, ULONG start, ULONG count);

// ---- WMI ---------------------------------------------------------------------------------------------------------------------
// The platform's WMI records.
struct WNODE_HEADER {
    ULONG BufferSize;
    ULONG ProviderId;
    ULONG Version;
    ULONG Linkage;
    LARGE_INTEGER TimeStamp;
    GUID Guid;
    ULONG ClientContext;
    ULONG Flags;
};
enum : ULONG {
    WNODE_FLAG_ALL_DATA = 0x00000001,
    WNODE_FLAG_SINGLE_INSTANCE = 0x00000002,
    WNODE_FLAG_SINGLE_ITEM = 0x00000004,
    WNODE_FLAG_EVENT_ITEM = 0x00000008,
    WNODE_FLAG_FIXED_INSTANCE_SIZE = 0x00000010,
    WNODE_FLAG_TOO_SMALL = 0x00000020,
    WNODE_FLAG_STATIC_INSTANCE_NAMES = 0x00000080,
    WNODE_FLAG_PDO_INSTANCE_NAMES = 0x00010000,
};
struct WNODE_ALL_DATA {
    WNODE_HEADER WnodeHeader;
    ULONG DataBlockOffset;
    ULONG InstanceCount;
    ULONG OffsetInstanceNameOffsets;
    ULONG FixedInstanceSize;
};
struct WNODE_SINGLE_INSTANCE {
    WNODE_HEADER WnodeHeader;
    ULONG OffsetInstanceName;
    ULONG InstanceIndex;
    ULONG DataBlockOffset;
    ULONG SizeDataBlock;
};
struct WNODE_SINGLE_ITEM {
    WNODE_HEADER WnodeHeader;
    ULONG OffsetInstanceName;
    ULONG InstanceIndex;
    ULONG ItemId;
    ULONG DataBlockOffset;
    ULONG SizeDataItem;
};
struct WNODE_METHOD_ITEM {
    WNODE_HEADER WnodeHeader;
    ULONG OffsetInstanceName;
    ULONG InstanceIndex;
    ULONG MethodId;
    ULONG DataBlockOffset;
    ULONG SizeDataBlock;
};
struct WNODE_TOO_SMALL {
    WNODE_HEADER WnodeHeader;
    ULONG SizeNeeded;
};
enum : ULONG { WMIREG_FLAG_INSTANCE_PDO = 0x00000020 };
struct WMIREGGUID {
    GUID Guid;
    ULONG Flags;
    ULONG InstanceCount;
    ULONG_PTR Pdo;
};
struct WMIREGINFO {
    ULONG BufferSize;
    ULONG NextWmiRegInfo;
    ULONG RegistryPath;     // offset of a counted name
    ULONG MofResourceName;  // offset of a counted name
    ULONG GuidCount;
    ULONG Reserved;
    WMIREGGUID WmiRegGuid[1];
};

// A row of a device's GUID table.
struct RK_WMI_GUID {
    GUID Guid;
    ULONG InstanceCount;
    ULONG Flags;
    ULONG InstanceDataSize;
    UCHAR EventsEnabled;
    UCHAR CollectionEnabled;
};

struct RK_WMI_ROUTINES {
    // Registration: the registry path and MOF name to announce (default: the driver's registry path, no MOF).
    NTSTATUS (*RegistrationInformation)(RK_DEVICE_INFORMATION* information, PUNICODE_STRING* registryPath,
                                        PUNICODE_STRING mofResourceName, PDEVICE_OBJECT* pdo);
    // Copies `instanceCount` instances from `instanceIndex` into `buffer` (default: from the GUID's data buffer).
    NTSTATUS (*QueryDataBlock)(RK_DEVICE_INFORMATION* information, ULONG guidIndex, ULONG instanceIndex,
                               ULONG instanceCount, PUCHAR buffer, ULONG bufferSize);
    // Default: into the GUID's data buffer (the size must be the instance size).
    NTSTATUS (*SetDataBlock)(RK_DEVICE_INFORMATION* information, ULONG guidIndex, ULONG instanceIndex,
                             ULONG size, PUCHAR data);
    // Default: none (refused).
    NTSTATUS (*SetDataItem)(RK_DEVICE_INFORMATION* information, ULONG guidIndex, ULONG instanceIndex, ULONG itemId,
                            ULONG size, PUCHAR data);
    // Takes the event record; frees it on success (default: IoWMIWriteEvent).
    NTSTATUS (*FireEvent)(PVOID eventRecord);
    // Default: none (refused).
    NTSTATUS (*ExecuteMethod)(RK_DEVICE_INFORMATION* information, ULONG guidIndex, ULONG instanceIndex,
                              ULONG methodId, ULONG inSize, ULONG outSize, PUCHAR buffer, PULONG written);
};

struct RK_WMI_INFORMATION {
    RK_WMI_GUID* Guids;
    ULONG GuidCount;
    PUCHAR* DataBuffers;  // per GUID: InstanceCount x InstanceDataSize bytes
    ULONG* ItemSizes;
    RK_WMI_ROUTINES Routines;
};

// Registers the device's block (no GUIDs is allowed); missing routines take the toolkit's.
NTSTATUS RkWmiRegister(RK_DEVICE_INFORMATION* information, RK_WMI_INFORMATION* wmi);
// The row of `guid`, or STATUS_WMI_GUID_NOT_FOUND.
NTSTATUS RkWmiGetGuidIndex(RK_DEVICE_INFORMATION* information, const GUID* guid, ULONG* index);
NTSTATUS RkSystemControlDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS RkWmiFireEvent(RK_DEVICE_INFORMATION* information, ULONG instanceIndex, ULONG guidIndex);
