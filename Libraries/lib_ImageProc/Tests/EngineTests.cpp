#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>

#include "KDataMatrix.h"
#include "KDebug.h"
#include "KEvent.h"
#include "KExceptionPixelProc.h"
#include "KIPEngine2.h"
#include "Engine/KIPEngineTestHook.h"
#include "KImage.h"
#include "KPixmap.h"
#include "KPerfTimer.h"

namespace {
// Puts a stage in place of the drivers for the life of the guard.
struct StageHook {
    explicit StageHook(KEngineStageForTest stage) { g_EngineStageForTest.store(stage); }
    ~StageHook() { g_EngineStageForTest.store(nullptr); }
};

// Polls as an owner does, until the request has left state 1.
void WaitDone(KIPEngine2& engine, KIPEngineRequest& request)
{
    while (request.m_Async.IsBusy())
        engine.Idle();
}

// A stage that reports half way, then waits for the test to open the gate.
KEvent* g_Gate = nullptr;
std::atomic<int> g_Calls{0};
std::atomic<bool> g_SawCancel{false};
KEngineOutcome GatedStage(KIPEngineRequest& request)
{
    ++g_Calls;
    request.m_Async.SetProgress(0.5);
    request.m_Resume[0] = 77;
    g_Gate->Wait(PLAT_INFINITE);
    g_SawCancel.store(request.m_Async.IsCancelRequested());
    return KEngineOutcome::Done();
}

KEngineOutcome CountingStage(KIPEngineRequest& request)
{
    ++g_Calls;
    return KEngineOutcome::Done();
}

std::atomic<int> g_Throw{0};
KEngineOutcome ThrowingStage(KIPEngineRequest&)
{
    switch (g_Throw.load()) {
    case 0:
        throw KExceptionFileRead("x.kzr");
    case 1:
        throw std::bad_alloc();
    case 2:
        throw std::runtime_error("not ours");
    default:
        throw 42;
    }
}

// An image of the type whose pixel (x, y) has all bytes x + 10 y.
KImage* NumberedImage(int width, int height, int type)
{
    auto* image = new KImage(width, height, type, 4);
    KPixmap* p = image->GetPixmap();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int b = 0; b < p->GetBytesPerPixel(); ++b)
                p->GetRow(y)[x * p->GetBytesPerPixel() + b] = static_cast<uint8_t>(x + 10 * y);
    return image;
}

void AddRotate(KIPEngineRequest& request, KImage* in, KImage* out, double degrees)
{
    request.m_Kind = kEngineRotate;
    request.AddPixmap(u"INIMAGE", in->GetPixmap());
    request.AddPixmap(u"OUTIMAGE", out->GetPixmap());
    auto* angle = new KDataMatrixTemplate<FloatClass>(1, 1);
    angle->At(0, 0) = degrees;
    request.AddMatrix(u"ROTATION", angle);
}
}  // namespace

TEST(KIPEngine2, RotateRunsOnTheWorkerAndTurnsAQuarter)
{
    KIPEngine2 engine;
    KImage* in = NumberedImage(3, 2, kPixelType24RGB);
    KImage* out = new KImage(2, 3, kPixelType24RGB, 4);
    KIPEngineRequest request;
    AddRotate(request, in, out, 90.0);
    engine.Request(request);
    WaitDone(engine, request);
    EXPECT_EQ(request.m_Async.GetState(), kDone) << request.m_Async.m_Message.GetAscii();
    EXPECT_EQ(request.m_Async.GetError(), kIpErrNone);
    KPixmap* o = out->GetPixmap();
    EXPECT_EQ(o->GetRow(0)[1 * 3], 0);       // input (0, 0) at output (1, 0)
    EXPECT_EQ(o->GetRow(2)[0 * 3], 2 + 10);  // input (2, 1) at output (0, 2)
    request.FreeParams();
    in->Release();
    out->Release();
}

TEST(KIPEngine2, RotateChecksItsParameters)
{
    KImage* in = NumberedImage(3, 2, kPixelType24RGB);
    KImage* out = new KImage(2, 3, kPixelType24RGB, 4);
    struct Case {
        int variant;
        const char* message;
    };
    const Case cases[] = {
        {0, "KIPEngine2::priProcessRotate missing parameters:INIMAGE OUTIMAGE ROTATION "},
        {1, "KIPEngine2::priProcessRotate missing parameters:ROTATION "},
        {2, "KIPEngine2::priProcessRotate parameter type errors:ROTATION "},
        {3, "KIPEngine2::priProcessRotate parameter type errors:ROTATION "},
    };
    for (const Case& c : cases) {
        KIPEngineRequest request;
        request.m_Kind = kEngineRotate;
        if (c.variant > 0) {
            request.AddPixmap(u"INIMAGE", in->GetPixmap());
            request.AddPixmap(u"OUTIMAGE", out->GetPixmap());
        }
        if (c.variant == 2)
            request.AddMatrix(u"ROTATION", new KDataMatrixTemplate<Int32Class>(1, 1));
        if (c.variant == 3)
            request.AddMatrix(u"ROTATION", new KDataMatrixTemplate<FloatClass>(0, 1));
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << c.variant;
        EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument) << c.variant;
        EXPECT_EQ(request.m_Async.m_Message, c.message) << c.variant;
    }
    in->Release();
    out->Release();
}

TEST(KIPEngine2, RotateFailuresBecomeStatus)
{
    struct Case {
        int inType, outType;
        const char* message;
    };
    const Case cases[] = {
        {kPixelType8Mono, kPixelType8Mono,
         "KIPEngine2: Unknown Pixel Type (Rotate: output image buffer is not display, 24 RGB, or 48 RGB)"},
        {kPixelType32BGRA, kPixelType32ARGB, "KIPEngine2: unknown exception"},
    };
    for (const Case& c : cases) {
        KImage* in = NumberedImage(2, 2, c.inType);
        KImage* out = new KImage(2, 2, c.outType, 4);
        KIPEngineRequest request;
        AddRotate(request, in, out, 180.0);
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
        EXPECT_EQ(request.m_Async.GetError(), kIpErrInternal);
        EXPECT_EQ(request.m_Async.m_Message, c.message);
        request.FreeParams();
        in->Release();
        out->Release();
    }
}

TEST(KIPEngine2, UnsupportedKindsAreRefusedBeforeTheWorker)
{
    StageHook hook(CountingStage);
    g_Calls = 0;
    KIPEngine2 engine;
    for (KInt32 kind : {-1, 5, 7, 100}) {
        KIPEngineRequest request;
        request.m_Kind = kind;
        engine.Request(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << kind;
        EXPECT_EQ(request.m_Async.GetError(), kIpErrUnsupported) << kind;
        EXPECT_EQ(request.m_Async.m_Message, "KIPEngine2: Unsupported request.") << kind;
    }
    EXPECT_EQ(g_Calls.load(), 0);
}

TEST(KIPEngine2, DispatchRefusesAKindWithoutADriver)
{
    KIPEngineRequest request;
    request.m_Kind = 5;
    request.m_Async.SetProgress(0.7);
    request.m_Async.SetError(3);
    KIPEngine2::Dispatch(request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrUnsupported);
    EXPECT_EQ(request.m_Async.GetProgress(), 0.0);
    EXPECT_EQ(request.m_Async.m_Message, "KIPEngine2: Request not supported.");
}

TEST(KIPEngine2, SecondRequestWhileBusyFailsAndTheFirstRunsOn)
{
    KEvent gate;
    g_Gate = &gate;
    StageHook hook(GatedStage);
    g_Calls = 0;
    KIPEngine2 engine;
    KIPEngineRequest first;
    first.m_Kind = kEngineRotate;
    engine.Request(first);
    EXPECT_EQ(first.m_Async.GetState(), kInProgress);
    while (first.m_Async.GetProgress() < 0.5)
        engine.Idle();  // the stage is running and reports through the shared block

    KIPEngineRequest second;
    second.m_Kind = kEngineStage4;
    engine.Request(second);
    EXPECT_EQ(second.m_Async.GetState(), kFailed);
    EXPECT_EQ(second.m_Async.GetError(), kIpErrBusy);
    EXPECT_EQ(second.m_Async.m_Message, "KIPEngine2");
    engine.Request(first);  // the running record itself is left alone
    EXPECT_EQ(first.m_Async.GetState(), kInProgress);

    gate.Set();
    WaitDone(engine, first);
    EXPECT_EQ(first.m_Async.GetState(), kDone);
    EXPECT_EQ(first.m_Resume[0], 77u);
    EXPECT_EQ(g_Calls.load(), 1);
    EXPECT_FALSE(g_SawCancel.load());
    g_Gate = nullptr;
}

TEST(KIPEngine2, ARequestSeenFinishedCanBeFollowedAtOnce)
{
    StageHook hook(CountingStage);
    g_Calls = 0;
    KIPEngine2 engine;
    KIPEngineRequest request;
    request.m_Kind = kEngineStage2;
    for (int i = 0; i < 200; ++i) {
        engine.Request(request);
        ASSERT_NE(request.m_Async.GetState(), kFailed) << i;
        while (request.m_Async.IsBusy()) {
        }
        ASSERT_EQ(request.m_Async.GetState(), kDone) << i;
    }
    EXPECT_EQ(g_Calls.load(), 200);
}

TEST(KIPEngine2, ExceptionsOfAStageBecomeStatus)
{
    StageHook hook(ThrowingStage);
    struct Case {
        int which;
        KUInt32 error;
        const char* message;
    };
    const Case cases[] = {
        {0, kIpErrInternal, "KIPEngine2: File read failed (x.kzr)"},
        {1, kIpErrOutOfMemory, "KIPEngine2"},
        {2, kIpErrInternal, "KIPEngine2: unknown exception"},
        {3, kIpErrInternal, "KIPEngine2: unknown exception"},
    };
    KIPEngine2 engine;
    for (const Case& c : cases) {
        g_Throw = c.which;
        KIPEngineRequest request;
        request.m_Kind = kEngineStage3;
        engine.Request(request);
        WaitDone(engine, request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << c.which;
        EXPECT_EQ(request.m_Async.GetError(), c.error) << c.which;
        EXPECT_EQ(request.m_Async.m_Message, c.message) << c.which;
    }
}

TEST(KIPEngine2, DestroyingAnIdleEngineEndsItsThread)
{
    KTraceCapture trace;
    {
        KIPEngine2 engine;
        KIPEngineRequest request;
        request.m_Kind = kEngineRotate;
        engine.Request(request);  // fails on its parameters, on the worker
        WaitDone(engine, request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
    }
    EXPECT_FALSE(trace.Contains("failed to exit"));
    EXPECT_FALSE(trace.Contains("Forcibly terminating"));
}

// The stage ignores the cancel flag for longer than the engine waits: the engine warns and lets the worker
// finish on its own; the worker still ends the request, which the owner kept alive.
TEST(KIPEngine2, AStuckWorkerIsLeftToFinishAfterTheEngineIsGone)
{
    KEvent gate;
    g_Gate = &gate;
    StageHook hook(GatedStage);
    g_SawCancel = false;
    KIPEngineRequest request;
    KTraceCapture trace;
    {
        KIPEngine2 engine;
        request.m_Kind = kEngineStage1;
        engine.Request(request);
        while (request.m_Async.GetProgress() < 0.5)
            engine.Idle();
    }
    EXPECT_TRUE(trace.Contains("KIPEngine2::~KIPEngine2: processing thread failed to exit!\n"));
    EXPECT_TRUE(request.m_Async.IsCancelRequested());
    EXPECT_TRUE(request.m_Async.IsBusy());
    gate.Set();
    while (request.m_Async.IsBusy())
        SleepMilliseconds(1);
    EXPECT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_TRUE(g_SawCancel.load());
    SleepMilliseconds(50);  // lets the worker leave before the gate goes
    g_Gate = nullptr;
}
