// The WMI provider frame: a device's GUID table, IRP_MJ_SYSTEM_CONTROL and events.
#include <cstring>

#include "RkDevice.h"

namespace {

constexpr ULONG kEventHeader = sizeof(WNODE_SINGLE_INSTANCE);  // 64: the data follows the record

ULONG Align8(ULONG n)
{
    return (n + 7u) & ~7u;
}

NTSTATUS DefaultQuery(RK_DEVICE_INFORMATION* info, ULONG guidIndex, ULONG instanceIndex, ULONG instanceCount,
                      PUCHAR buffer, ULONG bufferSize)
{
    RK_WMI_INFORMATION* wmi = info->Wmi;
    ULONG size = wmi->Guids[guidIndex].InstanceDataSize;
    uint64_t bytes = static_cast<uint64_t>(size) * instanceCount;
    if (bytes > bufferSize)
        return STATUS_BUFFER_TOO_SMALL;
    PUCHAR data = wmi->DataBuffers ? wmi->DataBuffers[guidIndex] : nullptr;
    if (bytes && !data)
        RtlZeroMemory(buffer, static_cast<SIZE_T>(bytes));
    else if (bytes)
        RtlCopyMemory(buffer, data + static_cast<uint64_t>(size) * instanceIndex, static_cast<SIZE_T>(bytes));
    return STATUS_SUCCESS;
}

NTSTATUS DefaultSet(RK_DEVICE_INFORMATION* info, ULONG guidIndex, ULONG instanceIndex, ULONG size, PUCHAR data)
{
    RK_WMI_INFORMATION* wmi = info->Wmi;
    ULONG instanceSize = wmi->Guids[guidIndex].InstanceDataSize;
    PUCHAR target = wmi->DataBuffers ? wmi->DataBuffers[guidIndex] : nullptr;
    if (!target || size != instanceSize)
        return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(target + static_cast<uint64_t>(instanceSize) * instanceIndex, data, size);
    return STATUS_SUCCESS;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// The registration answer: the GUID rows, then the registry path and MOF name as counted names.
NTSTATUS RegInfo(RK_DEVICE_INFORMATION* info, PIO_STACK_LOCATION stack, ULONG_PTR* written)
{
    RK_WMI_INFORMATION* wmi = info->Wmi;
    PUNICODE_STRING registryPath = nullptr;
    UNICODE_STRING mof;
    RkStrEmpty(&mof);
    PDEVICE_OBJECT pdo = info->PhysicalDevice;
    NTSTATUS status = STATUS_SUCCESS;
    if (wmi->Routines.RegistrationInformation) {
        status = wmi->Routines.RegistrationInformation(info, &registryPath, &mof, &pdo);
        if (!NT_SUCCESS(status)) {
            DbgPrint("RkSystemControlDispatch - RegInfo returned status 0x%08X.\n", static_cast<ULONG>(status));
            return status;
        }
    } else {
        RK_DRIVER_EXTENSION* extension = RkDrvGetDriverExtension(info->DriverObject);
        registryPath = extension ? &extension->RegistryPath : nullptr;
    }
    if (wmi->GuidCount == 0) {
        DbgPrint("RkSystemControlDispatch - RegInfo must register at least 1 GUID.\n");
        return STATUS_UNSUCCESSFUL;
    }
    ULONG pathBytes = registryPath ? registryPath->Length : 0;
    ULONG mofBytes = mof.Length;
    ULONG rows = offsetof(WMIREGINFO, WmiRegGuid) + wmi->GuidCount * sizeof(WMIREGGUID);
    ULONG pathAt = Align8(rows);
    ULONG mofAt = Align8(pathAt + sizeof(USHORT) + pathBytes);
    ULONG needed = Align8(mofAt + sizeof(USHORT) + mofBytes);
    ULONG size = stack->Parameters.WMI.BufferSize;
    auto* buffer = static_cast<PUCHAR>(stack->Parameters.WMI.Buffer);
    if (size < needed) {
        DbgPrint("RkSystemControlDispatch - IRP_MN_REGINFO: Buffer Too Small.\n");
        DbgPrint("\tDid you call GuidInitialization from your RegInfo routine?\n");
        if (size >= sizeof(ULONG)) {
            std::memcpy(buffer, &needed, sizeof needed);
            *written = sizeof(ULONG);
        }
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlZeroMemory(buffer, needed);
    auto* reg = reinterpret_cast<WMIREGINFO*>(buffer);
    reg->BufferSize = needed;
    reg->GuidCount = wmi->GuidCount;
    reg->RegistryPath = pathAt;
    reg->MofResourceName = mofAt;
    for (ULONG i = 0; i < wmi->GuidCount; ++i) {
        WMIREGGUID row{};
        row.Guid = wmi->Guids[i].Guid;
        row.Flags = wmi->Guids[i].Flags | WMIREG_FLAG_INSTANCE_PDO;
        row.InstanceCount = wmi->Guids[i].InstanceCount;
        row.Pdo = reinterpret_cast<ULONG_PTR>(pdo);
        std::memcpy(buffer + offsetof(WMIREGINFO, WmiRegGuid) + i * sizeof(WMIREGGUID), &row, sizeof row);
    }
    USHORT length = static_cast<USHORT>(pathBytes);
    std::memcpy(buffer + pathAt, &length, sizeof length);
    if (pathBytes)
        std::memcpy(buffer + pathAt + sizeof length, registryPath->Buffer, pathBytes);
    length = static_cast<USHORT>(mofBytes);
    std::memcpy(buffer + mofAt, &length, sizeof length);
    if (mofBytes)
        std::memcpy(buffer + mofAt + sizeof length, mof.Buffer, mofBytes);
    *written = needed;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS RkWmiRegister(RK_DEVICE_INFORMATION* info, RK_WMI_INFORMATION* wmi)
{
    if (!wmi)
        return STATUS_INVALID_PARAMETER;
    if (!wmi->Routines.QueryDataBlock)
        wmi->Routines.QueryDataBlock = DefaultQuery;
    if (!wmi->Routines.SetDataBlock)
        wmi->Routines.SetDataBlock = DefaultSet;
    if (!wmi->Routines.FireEvent)
        wmi->Routines.FireEvent = IoWMIWriteEvent;
    info->Wmi = wmi;
    return STATUS_SUCCESS;
}

NTSTATUS RkWmiGetGuidIndex(RK_DEVICE_INFORMATION* info, const GUID* guid, ULONG* index)
{
    RK_WMI_INFORMATION* wmi = info->Wmi;
    for (ULONG i = 0; wmi && guid && i < wmi->GuidCount; ++i)
        if (RkMemEqual(&wmi->Guids[i].Guid, guid, sizeof(GUID))) {
            *index = i;
            return STATUS_SUCCESS;
        }
    DbgPrint("CWmi::GetGuidIndex - GUID not found.\n");
    return STATUS_WMI_GUID_NOT_FOUND;
}

NTSTATUS RkSystemControlDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    RK_DEVICE_INFORMATION* info = RkDevGetInformation(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    RkPnpTakeRequestReference(info);
    if (stack->Parameters.WMI.ProviderId != reinterpret_cast<ULONG_PTR>(device) || !info->Wmi) {
        DbgPrint("RkSystemControlDispatch - ProvidorId does not match this object. Passing Down.\n");
        IoSkipCurrentIrpStackLocation(irp);
        NTSTATUS status = IoCallDriver(info->LowerDevice, irp);
        RkPnpDropRequestReference(info);
        return status;
    }
    RK_WMI_INFORMATION* wmi = info->Wmi;
    auto* buffer = static_cast<PUCHAR>(stack->Parameters.WMI.Buffer);
    ULONG size = stack->Parameters.WMI.BufferSize;
    ULONG_PTR written = 0;
    NTSTATUS status;
    ULONG guidIndex = 0;
    bool byGuid = stack->MinorFunction <= IRP_MN_DISABLE_COLLECTION || stack->MinorFunction == IRP_MN_EXECUTE_METHOD;
    if (byGuid && !NT_SUCCESS(RkWmiGetGuidIndex(info, static_cast<const GUID*>(stack->Parameters.WMI.DataPath),
                                                 &guidIndex))) {
        DbgPrint("RkSystemControlDispatch - Invalid GUID index\n");
        status = STATUS_WMI_GUID_NOT_FOUND;
    } else if (byGuid && stack->MinorFunction != IRP_MN_QUERY_ALL_DATA &&
               stack->MinorFunction != IRP_MN_ENABLE_EVENTS && stack->MinorFunction != IRP_MN_DISABLE_EVENTS &&
               stack->MinorFunction != IRP_MN_ENABLE_COLLECTION && stack->MinorFunction != IRP_MN_DISABLE_COLLECTION &&
               size < sizeof(WNODE_SINGLE_INSTANCE)) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        static const RK_WMI_GUID kNoRow{};
        const RK_WMI_GUID& row = byGuid ? wmi->Guids[guidIndex] : kNoRow;
        switch (stack->MinorFunction) {
        case IRP_MN_QUERY_ALL_DATA: {
            uint64_t needed64 = sizeof(WNODE_ALL_DATA) + static_cast<uint64_t>(row.InstanceDataSize) * row.InstanceCount;
            if (size < sizeof(WNODE_TOO_SMALL)) {
                status = STATUS_BUFFER_TOO_SMALL;  // not even room to say how much is needed
                break;
            }
            if (needed64 > 0xFFFFFFFFu) {
                status = STATUS_INVALID_PARAMETER;
                break;
            }
            ULONG needed = static_cast<ULONG>(needed64);
            if (size < needed) {
                DbgPrint("RkSystemControlDispatch - Buffer Too Small.  Returning WNODE_TOO_SMALL\n");
                DbgPrint("\tBuffer given: %d, Buffer needed: %d.\n", static_cast<int>(size), static_cast<int>(needed));
                auto* small = reinterpret_cast<WNODE_TOO_SMALL*>(buffer);
                small->WnodeHeader.BufferSize = sizeof(WNODE_TOO_SMALL);
                small->WnodeHeader.Flags |= WNODE_FLAG_TOO_SMALL;
                small->SizeNeeded = needed;
                written = sizeof(WNODE_TOO_SMALL);
                status = STATUS_SUCCESS;
                break;
            }
            status = wmi->Routines.QueryDataBlock(info, guidIndex, 0, row.InstanceCount,
                                                  buffer + sizeof(WNODE_ALL_DATA), size - sizeof(WNODE_ALL_DATA));
            if (!NT_SUCCESS(status)) {
                DbgPrint("RkSystemControlDispatch - GetData routine returned status 0x%08X.\n",
                         static_cast<ULONG>(status));
                break;
            }
            auto* all = reinterpret_cast<WNODE_ALL_DATA*>(buffer);
            all->WnodeHeader.BufferSize = needed;
            all->WnodeHeader.Flags |= WNODE_FLAG_ALL_DATA | WNODE_FLAG_FIXED_INSTANCE_SIZE;
            KeQuerySystemTime(&all->WnodeHeader.TimeStamp);
            all->DataBlockOffset = sizeof(WNODE_ALL_DATA);
            all->InstanceCount = row.InstanceCount;
            all->FixedInstanceSize = row.InstanceDataSize;
            written = needed;
            break;
        }
        case IRP_MN_QUERY_SINGLE_INSTANCE: {
            auto* single = reinterpret_cast<WNODE_SINGLE_INSTANCE*>(buffer);
            if (single->InstanceIndex >= row.InstanceCount) {
                DbgPrint("RkSystemControlDispatch - Instance Not Found.\n");
                status = STATUS_WMI_INSTANCE_NOT_FOUND;
                break;
            }
            ULONG needed = sizeof(WNODE_SINGLE_INSTANCE) + row.InstanceDataSize;
            if (size < needed) {
                DbgPrint("RkSystemControlDispatch - Buffer Too Small.  Returning WNODE_TOO_SMALL\n");
                DbgPrint("\tBuffer given: %d, Buffer needed: %d.\n", static_cast<int>(size), static_cast<int>(needed));
                auto* small = reinterpret_cast<WNODE_TOO_SMALL*>(buffer);
                small->WnodeHeader.BufferSize = sizeof(WNODE_TOO_SMALL);
                small->WnodeHeader.Flags |= WNODE_FLAG_TOO_SMALL;
                small->SizeNeeded = needed;
                written = sizeof(WNODE_TOO_SMALL);
                status = STATUS_SUCCESS;
                break;
            }
            status = wmi->Routines.QueryDataBlock(info, guidIndex, single->InstanceIndex, 1,
                                                  buffer + sizeof(WNODE_SINGLE_INSTANCE), row.InstanceDataSize);
            if (!NT_SUCCESS(status)) {
                DbgPrint("RkSystemControlDispatch - GetData routine returned status 0x%08X.\n",
                         static_cast<ULONG>(status));
                break;
            }
            single->WnodeHeader.BufferSize = needed;
            KeQuerySystemTime(&single->WnodeHeader.TimeStamp);
            single->DataBlockOffset = sizeof(WNODE_SINGLE_INSTANCE);
            single->SizeDataBlock = row.InstanceDataSize;
            written = needed;
            break;
        }
        case IRP_MN_CHANGE_SINGLE_INSTANCE: {
            auto* single = reinterpret_cast<WNODE_SINGLE_INSTANCE*>(buffer);
            if (single->InstanceIndex >= row.InstanceCount) {
                DbgPrint("RkSystemControlDispatch - Instance Not Found.\n");
                status = STATUS_WMI_INSTANCE_NOT_FOUND;
                break;
            }
            if (single->DataBlockOffset > size || single->SizeDataBlock > size - single->DataBlockOffset) {
                status = STATUS_INVALID_PARAMETER;
                break;
            }
            status = wmi->Routines.SetDataBlock(info, guidIndex, single->InstanceIndex, single->SizeDataBlock,
                                                buffer + single->DataBlockOffset);
            if (!NT_SUCCESS(status))
                DbgPrint("RkSystemControlDispatch - SetData routine returned status 0x%08X.\n",
                         static_cast<ULONG>(status));
            break;
        }
        case IRP_MN_CHANGE_SINGLE_ITEM: {
            auto* item = reinterpret_cast<WNODE_SINGLE_ITEM*>(buffer);
            if (size < sizeof(WNODE_SINGLE_ITEM) || item->InstanceIndex >= row.InstanceCount) {
                DbgPrint("RkSystemControlDispatch - Instance Not Found.\n");
                status = STATUS_WMI_INSTANCE_NOT_FOUND;
                break;
            }
            if (item->DataBlockOffset > size || item->SizeDataItem > size - item->DataBlockOffset) {
                status = STATUS_INVALID_PARAMETER;
                break;
            }
            status = wmi->Routines.SetDataItem
                         ? wmi->Routines.SetDataItem(info, guidIndex, item->InstanceIndex, item->ItemId,
                                                     item->SizeDataItem, buffer + item->DataBlockOffset)
                         : STATUS_INVALID_DEVICE_REQUEST;
            if (!NT_SUCCESS(status))
                DbgPrint("RkSystemControlDispatch - SetData routine returned status 0x%08X.\n",
                         static_cast<ULONG>(status));
            break;
        }
        case IRP_MN_ENABLE_EVENTS:
        case IRP_MN_DISABLE_EVENTS:
            wmi->Guids[guidIndex].EventsEnabled = stack->MinorFunction == IRP_MN_ENABLE_EVENTS;
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_ENABLE_COLLECTION:
        case IRP_MN_DISABLE_COLLECTION:
            wmi->Guids[guidIndex].CollectionEnabled = stack->MinorFunction == IRP_MN_ENABLE_COLLECTION;
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_EXECUTE_METHOD: {
            auto* method = reinterpret_cast<WNODE_METHOD_ITEM*>(buffer);
            if (size < sizeof(WNODE_METHOD_ITEM) || method->InstanceIndex >= row.InstanceCount) {
                DbgPrint("RkSystemControlDispatch - Instance Not Found.\n");
                status = STATUS_WMI_INSTANCE_NOT_FOUND;
                break;
            }
            if (method->DataBlockOffset > size || method->SizeDataBlock > size - method->DataBlockOffset) {
                status = STATUS_INVALID_PARAMETER;
                break;
            }
            ULONG out = 0;
            status = wmi->Routines.ExecuteMethod
                         ? wmi->Routines.ExecuteMethod(info, guidIndex, method->InstanceIndex, method->MethodId,
                                                       method->SizeDataBlock, size - method->DataBlockOffset,
                                                       buffer + method->DataBlockOffset, &out)
                         : STATUS_INVALID_DEVICE_REQUEST;
            if (!NT_SUCCESS(status)) {
                DbgPrint("RkSystemControlDispatch - ExecuteMethod routine returned status 0x%08X.\n",
                         static_cast<ULONG>(status));
                break;
            }
            method->SizeDataBlock = out;
            written = method->DataBlockOffset + out;
            break;
        }
        case IRP_MN_REGINFO:
            status = RegInfo(info, stack, &written);
            break;
        case IRP_MN_REGINFO_EX:
            DbgPrint("RkSystemControlDispatch - IRP_MN_REGINFO_EX does not support %x\n", stack->MinorFunction);
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
        default:
            DbgPrint("RkSystemControlDispatch - IRP NOT FOUND\n");
            status = STATUS_NOT_IMPLEMENTED;
            break;
        }
    }
    Complete(irp, status, written);
    RkPnpDropRequestReference(info);
    return status;
}

NTSTATUS RkWmiFireEvent(RK_DEVICE_INFORMATION* info, ULONG instanceIndex, ULONG guidIndex)
{
    RK_WMI_INFORMATION* wmi = info->Wmi;
    if (!wmi || guidIndex >= wmi->GuidCount) {
        DbgPrint("RkWmiFireEvent - GuidIndex not found.\n");
        return STATUS_WMI_GUID_NOT_FOUND;
    }
    const RK_WMI_GUID& row = wmi->Guids[guidIndex];
    if (instanceIndex >= row.InstanceCount) {
        DbgPrint("RkWmiFireEvent - InstanceIndex not found.\n");
        return STATUS_WMI_INSTANCE_NOT_FOUND;
    }
    if (!row.EventsEnabled) {
        DbgPrint("RkWmiFireEvent: Events not enabled for GUID %d\n", static_cast<int>(guidIndex));
        return STATUS_WMI_TRY_AGAIN;
    }
    ULONG total = kEventHeader + row.InstanceDataSize;
    auto* record = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, total, RK_POOL_TAG));
    if (!record) {
        DbgPrint("RkWmiFireEvent:  Failed to allocate buffer\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(record, total);
    auto* event = reinterpret_cast<WNODE_SINGLE_INSTANCE*>(record);
    event->WnodeHeader.BufferSize = total;
    event->WnodeHeader.ProviderId = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(info->DeviceObject));
    KeQuerySystemTime(&event->WnodeHeader.TimeStamp);
    event->WnodeHeader.Guid = row.Guid;
    event->WnodeHeader.Flags = WNODE_FLAG_SINGLE_INSTANCE | WNODE_FLAG_EVENT_ITEM | WNODE_FLAG_STATIC_INSTANCE_NAMES |
                               WNODE_FLAG_PDO_INSTANCE_NAMES;
    event->InstanceIndex = instanceIndex;
    event->DataBlockOffset = kEventHeader;
    event->SizeDataBlock = row.InstanceDataSize;
    if (row.InstanceDataSize)
        wmi->Routines.QueryDataBlock(info, guidIndex, instanceIndex, 1, record + kEventHeader, row.InstanceDataSize);
    NTSTATUS status = wmi->Routines.FireEvent(record);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkWmiFireEvent:  FireEvent Failure: 0x%X\n", static_cast<ULONG>(status));
        ExFreePoolWithTag(record, RK_POOL_TAG);
    }
    return status;
}
