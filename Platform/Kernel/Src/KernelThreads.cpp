// The worker thread (work items, PASSIVE_LEVEL) and the DPC thread (DISPATCH_LEVEL).
#include <deque>
#include <thread>

#include "KernelPrivate.h"

struct IO_WORKITEM {
    PDEVICE_OBJECT device;
    PIO_WORKITEM_ROUTINE routine;
    PVOID context;
    bool queued;
};

namespace {

// One queue served by one thread, started on first use and kept for the life of the process.
template <class Item>
class ServiceThread {
public:
    explicit ServiceThread(KIRQL irql) : m_Irql(irql) {}

    void Post(Item item)
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Queue.push_back(std::move(item));
            if (!m_Started) {
                m_Started = true;
                std::thread([this] { priRun(); }).detach();
            }
        }
        m_Wake.notify_all();
    }

    template <class Match>
    bool Remove(Match match)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        for (auto it = m_Queue.begin(); it != m_Queue.end(); ++it)
            if (match(*it)) {
                m_Queue.erase(it);
                return true;
            }
        return false;
    }

    void Drain()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Idle.wait(lock, [this] { return m_Queue.empty() && !m_Running; });
    }

    // Runs one item at the thread's IRQL; answers the routine that ran for the checks after it.
    std::function<void(Item&)> run;

private:
    void priRun()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            m_Wake.wait(lock, [this] { return !m_Queue.empty(); });
            Item item = std::move(m_Queue.front());
            m_Queue.pop_front();
            m_Running = true;
            lock.unlock();
            KernSetIrql(m_Irql);
            run(item);
            if (KeGetCurrentIrql() != m_Irql)
                KernBugCheck(m_Irql == PASSIVE_LEVEL ? "work item returned at raised IRQL"
                                                     : "DPC routine returned at another IRQL");
            lock.lock();
            m_Running = false;
            if (m_Queue.empty())
                m_Idle.notify_all();
        }
    }

    KIRQL m_Irql;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::condition_variable m_Idle;
    std::deque<Item> m_Queue;
    bool m_Started = false;
    bool m_Running = false;
};

ServiceThread<std::function<void()>>& Worker()
{
    static auto* worker = [] {
        auto* w = new ServiceThread<std::function<void()>>(PASSIVE_LEVEL);
        w->run = [](std::function<void()>& work) { work(); };
        return w;
    }();
    return *worker;
}

ServiceThread<PKDPC>& DpcThread()
{
    static auto* dpcs = [] {
        auto* d = new ServiceThread<PKDPC>(DISPATCH_LEVEL);
        d->run = [](PKDPC& dpc) {
            PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
            PVOID context = dpc->DeferredContext;
            PVOID a1 = dpc->SystemArgument1;
            PVOID a2 = dpc->SystemArgument2;
            __atomic_store_n(&dpc->Queued, 0, __ATOMIC_SEQ_CST);
            routine(dpc, context, a1, a2);
        };
        return d;
    }();
    return *dpcs;
}

}  // namespace

void KernPostWork(std::function<void()> work)
{
    Worker().Post(std::move(work));
}

void KernDrainThreads()
{
    // A DPC may queue a work item and a work item a DPC: drain until both are quiet twice in a row.
    for (int round = 0; round < 2; ++round) {
        DpcThread().Drain();
        Worker().Drain();
    }
}

extern "C" void KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context)
{
    *dpc = KDPC{};
    dpc->DeferredRoutine = routine;
    dpc->DeferredContext = context;
}

extern "C" BOOLEAN KeInsertQueueDpc(PKDPC dpc, PVOID systemArgument1, PVOID systemArgument2)
{
    if (!dpc->DeferredRoutine)
        KernBugCheck("queueing a DPC without a routine");
    if (__atomic_exchange_n(&dpc->Queued, 1, __ATOMIC_SEQ_CST) != 0)
        return FALSE;
    dpc->SystemArgument1 = systemArgument1;
    dpc->SystemArgument2 = systemArgument2;
    DpcThread().Post(dpc);
    return TRUE;
}

extern "C" BOOLEAN KeRemoveQueueDpc(PKDPC dpc)
{
    if (!DpcThread().Remove([dpc](PKDPC queued) { return queued == dpc; }))
        return FALSE;
    __atomic_store_n(&dpc->Queued, 0, __ATOMIC_SEQ_CST);
    return TRUE;
}

extern "C" PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject)
{
    if (!deviceObject)
        KernBugCheck("work item for no device");
    return new (std::nothrow) IO_WORKITEM{deviceObject, nullptr, nullptr, false};
}

extern "C" void IoFreeWorkItem(PIO_WORKITEM item)
{
    if (!item)
        KernBugCheck("freeing no work item");
    if (__atomic_load_n(&item->queued, __ATOMIC_SEQ_CST))
        KernBugCheck("freeing a queued work item");
    delete item;
}

extern "C" void IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE, PVOID context)
{
    if (!item || !routine)
        KernBugCheck("queueing a work item without a routine");
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        KernBugCheck("work item queued above DISPATCH_LEVEL");
    if (__atomic_exchange_n(&item->queued, true, __ATOMIC_SEQ_CST))
        KernBugCheck("work item queued twice");
    item->routine = routine;
    item->context = context;
    ObReferenceObject(item->device);
    KernPostWork([item] {
        // The routine may queue the item again or free it: read it before the call, never after.
        PDEVICE_OBJECT device = item->device;
        PIO_WORKITEM_ROUTINE run = item->routine;
        PVOID ctx = item->context;
        __atomic_store_n(&item->queued, false, __ATOMIC_SEQ_CST);
        run(device, ctx);
        ObDereferenceObject(device);
    });
}

extern "C" void ExQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE)
{
    if (!item || !item->WorkerRoutine)
        KernBugCheck("queueing a work item without a routine");
    KernPostWork([item] { item->WorkerRoutine(item->Parameter); });
}

// ---- Device queues ------------------------------------------------------------------------------------------------

extern "C" void KeInitializeDeviceQueue(PKDEVICE_QUEUE queue)
{
    queue->Type = 0x14;
    queue->Size = sizeof(KDEVICE_QUEUE);
    InitializeListHead(&queue->DeviceListHead);
    queue->Lock = 0;
    queue->Busy = FALSE;
}

extern "C" BOOLEAN KeInsertDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry)
{
    KernSpinAcquire(&queue->Lock);
    BOOLEAN inserted = queue->Busy;
    if (inserted)
        InsertTailList(&queue->DeviceListHead, &entry->DeviceListEntry);
    else
        queue->Busy = TRUE;
    entry->Inserted = inserted;
    KernSpinRelease(&queue->Lock);
    return inserted;
}

extern "C" BOOLEAN KeInsertByKeyDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry, ULONG sortKey)
{
    KernSpinAcquire(&queue->Lock);
    entry->SortKey = sortKey;
    BOOLEAN inserted = queue->Busy;
    if (inserted) {
        PLIST_ENTRY at = queue->DeviceListHead.Flink;
        while (at != &queue->DeviceListHead &&
               CONTAINING_RECORD(at, KDEVICE_QUEUE_ENTRY, DeviceListEntry)->SortKey <= sortKey)
            at = at->Flink;
        InsertTailList(at, &entry->DeviceListEntry);  // before `at`
    } else {
        queue->Busy = TRUE;
    }
    entry->Inserted = inserted;
    KernSpinRelease(&queue->Lock);
    return inserted;
}

extern "C" PKDEVICE_QUEUE_ENTRY KeRemoveDeviceQueue(PKDEVICE_QUEUE queue)
{
    KernSpinAcquire(&queue->Lock);
    PKDEVICE_QUEUE_ENTRY entry = nullptr;
    if (IsListEmpty(&queue->DeviceListHead)) {
        queue->Busy = FALSE;
    } else {
        entry = CONTAINING_RECORD(RemoveHeadList(&queue->DeviceListHead), KDEVICE_QUEUE_ENTRY, DeviceListEntry);
        entry->Inserted = FALSE;
    }
    KernSpinRelease(&queue->Lock);
    return entry;
}

extern "C" BOOLEAN KeRemoveEntryDeviceQueue(PKDEVICE_QUEUE queue, PKDEVICE_QUEUE_ENTRY entry)
{
    KernSpinAcquire(&queue->Lock);
    BOOLEAN was = entry->Inserted;
    if (was) {
        RemoveEntryList(&entry->DeviceListEntry);
        entry->Inserted = FALSE;
    }
    KernSpinRelease(&queue->Lock);
    return was;
}
