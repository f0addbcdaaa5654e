// The device extension's start state.
#include <cstring>

#include "K1394Device.h"

void K1394InitializeDeviceExtension(PK1394_DEVICE_EXTENSION device)
{
    std::memset(device, 0, sizeof *device);
    device->ConfigReread = 1;
    device->BusResetFlag = 1;
    KeInitializeEvent(&device->SubmitLock, SynchronizationEvent, TRUE);
    KeInitializeEvent(&device->DeviceLock, SynchronizationEvent, TRUE);
    KeInitializeEvent(&device->IrbDone, NotificationEvent, FALSE);
    KeInitializeEvent(&device->CdtEvent, NotificationEvent, FALSE);
    KeInitializeSpinLock(&device->FifoSpinLock);
    device->Busy = 0;
    device->MaxAsyncReadRequest = K1394_DEFAULT_BLOCK_SIZE;
    device->MaxAsyncWriteRequest = K1394_DEFAULT_BLOCK_SIZE;
    device->ConfigArea.SwapFlag = 1;
}
