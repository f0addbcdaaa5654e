#pragma once
// Shared by the loader and retriever tests: a scratch machine with the disk class, fixture files written at
// test time, a gate that holds load threads, and polling as the owners poll.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KDataRetriever.h"
#include "KPerfTimer.h"
#include "KILoader.h"
#include "KJPEGLineWriter.h"
#include "KTiffLineWriter.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "Loaders/KLoaderTestHook.h"
#include "LumoStorageFixture.h"

namespace loadertest {

// An image of one pixel type, rows padded as pixmaps pad them.
class Image {
public:
    Image(int type, int32_t width, int32_t height)
    {
        int32_t header = 0, rowBytes = 0;
        GetKPixmapSizes(type, width, height, header, rowBytes);
        m_Data.assign(static_cast<size_t>(rowBytes) * static_cast<size_t>(height), 0);
        m_pPixmap = MapKPixmapHeader(m_Header, type, width, height, rowBytes, m_Data.data());
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    KPixmap& Pixmap() { return *m_pPixmap; }
    const std::vector<uint8_t>& Bytes() const { return m_Data; }

private:
    alignas(std::max_align_t) unsigned char m_Header[64];
    std::vector<uint8_t> m_Data;
    KPixmap* m_pPixmap = nullptr;
};

// Holds every load thread before it handles a request until the gate opens (or its time is up), and counts
// the requests that reached it. One gate at a time.
class Gate {
public:
    // holdMs: how long a thread is held at most (0: until Open).
    explicit Gate(int holdMs = 0)
    {
        s_Open.store(false);
        s_Seen.store(0);
        s_Deadline.store(holdMs ? Now() + holdMs : 0);
        g_LoaderHookForTest.store(Hook);
    }
    ~Gate()
    {
        Open();
        g_LoaderHookForTest.store(nullptr);
    }
    void Open() { s_Open.store(true); }
    // Requests that have reached the gate.
    static int Seen() { return s_Seen.load(); }

private:
    static long long Now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static void Hook(KLoaderRequest&)
    {
        ++s_Seen;
        const long long deadline = s_Deadline.load();
        while (!s_Open.load() && (deadline == 0 || Now() < deadline))
            SleepMilliseconds(2);
    }

    static inline std::atomic<bool> s_Open{false};
    static inline std::atomic<int> s_Seen{0};
    static inline std::atomic<long long> s_Deadline{0};
};

// Counts the requests the load threads handle, without holding them.
struct ThreadCounter {
    ThreadCounter()
    {
        s_Count.store(0);
        g_LoaderHookForTest.store(Hook);
    }
    ~ThreadCounter() { g_LoaderHookForTest.store(nullptr); }
    static int Count() { return s_Count.load(); }
    static void Hook(KLoaderRequest&) { ++s_Count; }
    static inline std::atomic<int> s_Count{0};
};

class Fixture : public lumotest::StorageFixture {
protected:
    // A smooth colour (or grey) JPEG of the size; `model` goes into its EXIF data when given.
    void WriteJpeg(const std::string& name, int32_t width, int32_t height, int type = kPixelType24RGB,
                   const char* model = nullptr)
    {
        Image image(type, width, height);
        KPixmap& p = image.Pixmap();
        const int bpp = KPixelTypeBytes(type);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* px = p.GetRow(y) + x * bpp;
                for (int c = 0; c < bpp; ++c)
                    px[c] = static_cast<uint8_t>((x * (c + 1) * 255 / width + y * 255 / height) / 2);
            }
        KJPEGLineWriter writer(URL(name), 95, false);
        writer.SetDimensions(width, height, type);
        if (model) {
            KPropTree props(nullptr, "ImageProps");
            props.AddPair("CAMMODEL", model);
            writer.WriteProperties(props, 2, KWString("test"), KVersionInfo{1, 0, 0, 0});
        }
        for (int32_t y = 0; y < height; ++y)
            writer.WriteLine(p.GetRow(y), type);
    }

    // A TIFF of the size in the file type (1, 3, 7, 8 or 15), written from a 48-bit ramp; `serial` goes into
    // its private tag when given.
    void WriteTiff(const std::string& name, int32_t width, int32_t height, int type = kPixelType24RGB,
                   const char* serial = nullptr)
    {
        Image image(kPixelType48RGB, width, height);
        KPixmap& p = image.Pixmap();
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const uint16_t v = static_cast<uint16_t>((x * (c + 1) * 65535 / width + y * 65535 / height) / 2);
                    std::memcpy(p.GetRow(y) + (x * 3 + c) * 2, &v, 2);
                }
        KTiffLineWriter writer(URL(name), false);
        writer.SetDimensions(width, height, type);
        if (serial) {
            KPropTree props(nullptr, "ImageProps");
            props.AddPair("CAMSERIAL", serial);
            writer.WriteProperties(props, 2, KWString("test"), KVersionInfo{1, 0, 0, 0});
        }
        for (int32_t y = 0; y < height; ++y)
            writer.WriteLine(p.GetRow(y), kPixelType48RGB);
    }
};

// A fixture with one loader made by Make.
template <auto Make>
class LoaderFixture : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        m_pLoader.reset(Make());
    }
    void TearDown() override
    {
        m_pLoader.reset();
        Fixture::TearDown();
    }
    // Runs a request to its end.
    void Run(KLoaderRequest& request, const std::string& name, KInt32 kind);
    // Hands `first` (a long request) to the loader while the gate holds its thread, checks that `second` is
    // refused with error 1 and the loader's name, runs `meanwhile`, then lets `first` finish (status 2).
    void ExpectSecondRefused(KLoaderRequest& first, KLoaderRequest& second, const char* name,
                             const std::function<void()>& meanwhile = {});

    // A request that must fail: its file and kind, whether it carries a property tree, and the error and message
    // it must end with (the message a prefix when it ends in "("; null: the file's URL).
    struct FailingLoad {
        const char* file;
        KInt32 kind;
        bool tree;
        KUInt32 error;
        const char* message;
    };
    // Runs each case to its end with a fresh tree filled by `fill` and checks status, error and message; then
    // `check` with the tree and the case's description, when given.
    void ExpectFailures(const std::vector<FailingLoad>& cases, const std::function<void(KPropTree&)>& fill = {},
                        const std::function<void(const KPropTree&, const std::string&)>& check = {});

    std::unique_ptr<KILoader> m_pLoader;
};

// Calls step until busy() answers false, as the owners poll; a test failure after a minute.
template <class Busy, class Step>
void PollUntilDone(Busy busy, Step step, const char* who)
{
    KPerfTimer timer;
    timer.Start();
    while (busy() && timer.GetElapsedSeconds() < 60)
        step();
    EXPECT_FALSE(busy()) << who << " never ended the request";
}

inline void WaitDone(KILoader& loader, KLoaderRequest& request)
{
    PollUntilDone([&] { return request.IsBusy(); }, [&] { loader.Idle(); }, "the loader");
}

inline void WaitDone(KDataRetriever& retriever, KDataRetrieverRequest& request)
{
    PollUntilDone([&] { return request.m_Async.IsBusy(); }, [&] { retriever.Idle(); }, "the retriever");
}

template <auto Make>
void LoaderFixture<Make>::Run(KLoaderRequest& request, const std::string& name, KInt32 kind)
{
    request.m_URL = URL(name);
    request.m_Kind = kind;
    m_pLoader->Request(request);
    WaitDone(*m_pLoader, request);
}

template <auto Make>
void LoaderFixture<Make>::ExpectSecondRefused(KLoaderRequest& first, KLoaderRequest& second, const char* name,
                                              const std::function<void()>& meanwhile)
{
    Gate gate;
    m_pLoader->Request(first);
    EXPECT_EQ(first.GetStatus(), kInProgress);
    m_pLoader->Request(second);
    EXPECT_EQ(second.GetStatus(), kFailed);
    EXPECT_EQ(second.GetError(), kIpErrBusy);
    EXPECT_EQ(WideToUtf8(second.m_Message), name);
    if (meanwhile)
        meanwhile();
    gate.Open();
    WaitDone(*m_pLoader, first);
    EXPECT_EQ(first.GetStatus(), kDone) << WideToUtf8(first.m_Message);
}

inline std::string Narrow(const KWString& text)
{
    return WideToUtf8(text);
}

// The value of the first pair of the key, or "<none>".
inline std::string Value(const KPropTree& tree, const char* key)
{
    const KPropPair* pair = tree.FindPair(KWString(key));
    return pair ? Narrow(pair->GetValue()) : "<none>";
}

// Two upper-case hexadecimal numbers joined by "-".
inline bool IsHexPair(const std::string& text)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == text.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != dash && !((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'A' && text[i] <= 'F')))
            return false;
    return true;
}

inline std::vector<std::string> Keys(const KPropTree& tree)
{
    std::vector<std::string> keys;
    for (const KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        keys.push_back(Narrow(p->GetKey()));
    return keys;
}

// A message as expected: equal, or beginning with the expected text when that ends in "(".
inline void ExpectMessage(const KWString& message, const std::string& expected, const std::string& what)
{
    const std::string text = WideToUtf8(message);
    if (!expected.empty() && expected.back() == '(')
        EXPECT_EQ(text.rfind(expected, 0), 0u) << what << ": " << text;
    else
        EXPECT_EQ(text, expected) << what;
}

template <auto Make>
void LoaderFixture<Make>::ExpectFailures(const std::vector<FailingLoad>& cases,
                                         const std::function<void(KPropTree&)>& fill,
                                         const std::function<void(const KPropTree&, const std::string&)>& check)
{
    for (const FailingLoad& c : cases) {
        const std::string what = std::string(c.file) + " " + std::to_string(c.kind);
        KPropTree tree(nullptr, "ImageProps");
        if (fill)
            fill(tree);
        KLoaderRequest request;
        request.m_pTree = c.tree ? &tree : nullptr;
        Run(request, c.file, c.kind);
        EXPECT_EQ(request.GetStatus(), kFailed) << what;
        EXPECT_EQ(request.GetError(), c.error) << what;
        ExpectMessage(request.m_Message, c.message ? c.message : Narrow(URL(c.file)), c.file);
        if (check)
            check(tree, what);
    }
}

inline size_t CountKey(const KPropTree& tree, const char* key)
{
    size_t n = 0;
    for (const KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        n += p->GetKey() == key;
    return n;
}

}  // namespace loadertest
