// Interim: the few toolkit device services the bus-request layer needs, until the toolkit's own arrive.
#include "RkDevice.h"

NTSTATUS RkDevInitialize(PVOID, RK_DEVICE_INFORMATION* information, PDEVICE_OBJECT deviceObject,
                         PDEVICE_OBJECT physicalDevice, PUNICODE_STRING)
{
    information->Self = information;
    information->DeviceObject = deviceObject;
    information->DriverObject = deviceObject->DriverObject;
    information->PhysicalDevice = physicalDevice;
    information->RequestCount = 1;
    information->LowerDevice = IoAttachDeviceToDeviceStack(deviceObject, physicalDevice);
    return information->LowerDevice ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

void RkDevUninitialize(RK_DEVICE_INFORMATION* information)
{
    if (information->LowerDevice)
        IoDetachDevice(information->LowerDevice);
    information->LowerDevice = nullptr;
}

void RkPnpTakeRequestReference(RK_DEVICE_INFORMATION* information) { InterlockedIncrement(&information->RequestCount); }
void RkPnpDropRequestReference(RK_DEVICE_INFORMATION* information) { InterlockedDecrement(&information->RequestCount); }
