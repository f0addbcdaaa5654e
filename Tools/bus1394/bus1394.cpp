// bus1394: the simulated 1394 bus of the machine (LUMO_MACHINE): its nodes, resets, log, failures and knobs,
// and a read of a node through the bus driver.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Platform1394.h"
#include "SimBus1394.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: bus1394 list\n"
                 "       bus1394 reset\n"
                 "       bus1394 log [--clear]\n"
                 "       bus1394 fail FUNCTION COUNT STATUS\n"
                 "       bus1394 knob pend|delivery|hostread|hostwrite VALUE\n"
                 "       bus1394 read ID HIGH LOW LENGTH [--block N]\n");
    return 2;
}

int Failed(const std::string& error)
{
    std::fprintf(stderr, "bus1394: %s\n", error.c_str());
    return 1;
}

bool Number(const std::string& text, uint32_t* value)
{
    if (text.empty() || text[0] == '-' || text.size() > 12)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || v > 0xFFFFFFFFull)
        return false;
    *value = uint32_t(v);
    return true;
}

void PrintView(const simbus::BusView& view)
{
    std::printf("generation %u\n", unsigned(view.generation));
    for (const simbus::BusNode& n : view.nodes)
        std::printf("node %u %s\n", unsigned(n.node), n.id.c_str());
}

NTSTATUS Done(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// One IRB to the node, waited for.
NTSTATUS Submit(PDEVICE_OBJECT node, IRB* irb)
{
    PIRP irp = IoAllocateIrp(node->StackSize, FALSE);
    if (!irp)
        return STATUS_INSUFFICIENT_RESOURCES;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_1394_CLASS;
    next->Parameters.Others.Argument1 = irb;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, Done, &event, TRUE, TRUE, TRUE);
    if (IoCallDriver(node, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

int Read(const std::string& id, uint32_t high, uint32_t low, uint32_t length, uint32_t block)
{
    std::string error;
    if (!simbus::StartBus1394(&error))
        return Failed(error);
    int rc = 1;
    PDEVICE_OBJECT node = simbus::Bus1394NodeDevice(id);
    if (!node) {
        std::fprintf(stderr, "bus1394: no node %s on the bus\n", id.c_str());
    } else {
        IRB irb{};
        irb.FunctionNumber = REQUEST_GET_GENERATION_COUNT;
        NTSTATUS status = Submit(node, &irb);
        std::vector<uint8_t> buffer(length ? length : 1);
        PMDL mdl = IoAllocateMdl(buffer.data(), length, FALSE, FALSE, nullptr);
        if (NT_SUCCESS(status) && mdl) {
            MmBuildMdlForNonPagedPool(mdl);
            uint32_t generation = irb.u.GetGenerationCount.GenerationCount;
            irb = IRB{};
            irb.FunctionNumber = REQUEST_ASYNC_READ;
            irb.u.AsyncTransfer.DestinationAddress.Off_High = USHORT(high);
            irb.u.AsyncTransfer.DestinationAddress.Off_Low = low;
            irb.u.AsyncTransfer.nNumberOfBytesToRead = length;
            irb.u.AsyncTransfer.nBlockSize = block;
            irb.u.AsyncTransfer.Mdl = mdl;
            irb.u.AsyncTransfer.ulGeneration = generation;
            status = Submit(node, &irb);
        }
        if (mdl)
            IoFreeMdl(mdl);
        if (!NT_SUCCESS(status)) {
            std::fprintf(stderr, "bus1394: the read failed with 0x%08X\n", unsigned(status));
        } else {
            bool printable = length > 0;
            for (uint32_t i = 0; i < length; ++i)
                printable = printable && std::isprint(buffer[i]);
            if (printable) {
                std::printf("%.*s\n", int(length), reinterpret_cast<const char*>(buffer.data()));
            } else {
                for (uint32_t i = 0; i < length; ++i)
                    std::printf("%02X%s", buffer[i], (i + 1) % 16 == 0 || i + 1 == length ? "\n" : " ");
            }
            rc = 0;
        }
    }
    simbus::StopBus1394();
    return rc;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.empty())
        return Usage();
    const std::string& command = a[0];
    std::string error;
    simbus::BusView view;
    if (command == "list" && a.size() == 1) {
        if (!simbus::SyncBus(&view, &error))
            return Failed(error);
        PrintView(view);
        return 0;
    }
    if (command == "reset" && a.size() == 1) {
        if (!simbus::ResetBus(&view, &error))
            return Failed(error);
        PrintView(view);
        return 0;
    }
    if (command == "log" && (a.size() == 1 || (a.size() == 2 && a[1] == "--clear"))) {
        if (a.size() == 2)
            return simbus::ClearBusLog(&error) ? 0 : Failed(error);
        std::string text;
        if (!simbus::ReadBusLog(&text, &error))
            return Failed(error);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    uint32_t v1 = 0, v2 = 0, v3 = 0;
    if (command == "fail" && a.size() == 4) {
        if (!Number(a[1], &v1) || !Number(a[2], &v2) || !Number(a[3], &v3))
            return Usage();
        return simbus::SetBusFailure(v1, v2, v3, &error) ? 0 : Failed(error);
    }
    if (command == "knob" && a.size() == 3) {
        if (!Number(a[2], &v1))
            return Usage();
        return simbus::SetBusKnob(a[1], v1, &error) ? 0 : Failed(error);
    }
    if (command == "read" && (a.size() == 5 || (a.size() == 7 && a[5] == "--block"))) {
        uint32_t length = 0, block = 0;
        if (!Number(a[2], &v1) || v1 > 0xFFFF || !Number(a[3], &v2) || !Number(a[4], &length) ||
            length > (16u << 20) || (a.size() == 7 && !Number(a[6], &block)))
            return Usage();
        return Read(a[1], v1, v2, length, block);
    }
    return Usage();
}
