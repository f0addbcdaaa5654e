// The entry point both builds of the driver export.
#include "K1394Driver.h"

extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver,
                                                                       PUNICODE_STRING registryPath)
{
    return K1394_DriverEntry(driver, registryPath);
}
