// The library's exports with their ordinals.
#include "OstraExports.h"

namespace ostra {

const ExportOrdinal kExportOrdinals[kExportCount] = {
    {"DllCanUnloadNow", 1},
    {"DllGetClassObject", 2},
    {"DllRegisterServer", 3},
    {"DllUnregisterServer", 4},
    {"OstraCloseHandle", 6},
    {"OstraBulkTransfer", 7},
    {"OstraControlTransfer", 8},
    {"OstraInterruptTransfer", 9},
    {"OstraIsochronousTransfer", 10},
    {"OstraAsynchBulkTransfer", 11},
    {"OstraAsynchControlTransfer", 12},
    {"OstraAsynchInterruptTransfer", 13},
    {"OstraAsynchIsochronousTransfer", 14},
    {"OstraGetDeviceDescriptor", 15},
    {"OstraGetConfigDescriptor", 16},
    {"OstraGetInterfaceDescriptor", 17},
    {"OstraGetEndpointDescriptor", 18},
    {"OstraGetDriverVersion", 19},
    {"OstraClearStall", 20},
    {"OstraCheckAsynchCompletion", 25},
    {"OstraGetLanguageIds", 26},
    {"OstraOpenHandle", 27},
    {"OstraGetNumberOfLanguageIds", 28},
    {"OstraGetStringDescriptor", 29},
    {"OstraGetStringDescriptorLength", 30},
    {"OstraSelectInterface", 31},
    {"OstraUsbTrace", 32},
    {"WaitForTrace", 33},
    {"OstraSetReadTraceOwnerKey", 34},
    {"OstraReleaseReadTraceOwnerKey", 35},
    {"OstraClearTraceBuffer", 36},
    {"OstraUsbEnableTracing", 37},
    {"OstraGetGuid", 38},
    {"OstraRegisterDeviceNotification", 39},
    {"OstraUnregisterDeviceNotification", 40},
    {"OstraGetLinkname", 41},
    {"OstraUsbPrintf", 42},
    {"OstraOpenGuidHandle", 43},
};

}  // namespace ostra
