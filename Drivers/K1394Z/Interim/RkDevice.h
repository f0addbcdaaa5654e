#pragma once
// Interim: the few toolkit device services the bus-request layer needs, until the toolkit's own arrive.
#include "PlatformKernel.h"

enum RK_PNP_STATE : ULONG {
    RkPnpNotStarted = 0,
    RkPnpStarted = 1,
    RkPnpStopPending = 2,
    RkPnpStopped = 3,
    RkPnpRemovePending = 4,
    RkPnpRemoved = 5,
    RkPnpSurpriseRemoved = 6,
    RkPnpStartFailed = 7,
};

struct RK_DEVICE_INFORMATION {
    PDEVICE_OBJECT PhysicalDevice;
    PDEVICE_OBJECT LowerDevice;
    PVOID Self;
    volatile LONG PnpState;
    volatile LONG RequestCount;
    volatile LONG PoweredDown;
    PDEVICE_OBJECT DeviceObject;
    PDRIVER_OBJECT DriverObject;
};

NTSTATUS RkDevInitialize(PVOID driverExtension, RK_DEVICE_INFORMATION* information, PDEVICE_OBJECT deviceObject,
                         PDEVICE_OBJECT physicalDevice, PUNICODE_STRING fullDeviceName);
void RkDevUninitialize(RK_DEVICE_INFORMATION* information);
void RkPnpTakeRequestReference(RK_DEVICE_INFORMATION* information);
void RkPnpDropRequestReference(RK_DEVICE_INFORMATION* information);
