#pragma once
// Shared by the raw container tests: a scratch machine with the disk class and the in-memory class "mem",
// pixmaps that own their rows, and a check of an exception's class and message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "KPixmap.h"
#include "KQrlbImageReader.h"
#include "KSCDiskWin.h"
#include "KStorageURL.h"
#include "KzrFileBuilder.h"
#include "KzrPixmap.h"
#include "KMemoryStorage.h"
#include "LumoTestSupport.h"
#include "MemoryFixture.h"

class RawTest : public memstore::Fixture {
protected:
    // Puts bytes into the memory store; returns the file's URL.
    KWString Mem(const std::vector<uint8_t>& bytes, const std::u16string& name = u"f.kzr")
    {
        m_Memory->files[name] = std::make_shared<std::vector<uint8_t>>(bytes);
        return KWString(u"mem://") + KWString(std::u16string_view(name));
    }
    const std::vector<uint8_t>& MemBytes(const std::u16string& name = u"f.kzr") { return *m_Memory->files[name]; }
    // Writes bytes to a disk file of the scratch folder; returns its URL.
    KWString Disk(const std::vector<uint8_t>& bytes, const std::string& name = "f.kzr")
    {
        lumotest::WriteBytes(Path(name), bytes);
        return URL(name);
    }
};

// A file in memory that tells a watcher about every read before it happens.
class WatchedFile : public KMemoryFile {
public:
    using Watcher = std::function<void(uint64_t position, uint32_t count)>;
    WatchedFile(const std::vector<uint8_t>& bytes, Watcher watcher)
        : KMemoryFile(std::make_shared<std::vector<uint8_t>>(bytes), KWString("mem://watched"), false),
          m_Watcher(std::move(watcher))
    {
    }
    KUInt32 Read(void* buffer, KUInt32 count) override
    {
        if (m_Watcher)
            m_Watcher(Tell(), count);
        return KMemoryFile::Read(buffer, count);
    }

private:
    Watcher m_Watcher;
};

// A reader over bytes in memory, optionally watched.
inline std::unique_ptr<KQrlbImageReader> MemoryReader(const std::vector<uint8_t>& bytes,
                                                      WatchedFile::Watcher watcher = nullptr)
{
    return std::make_unique<KQrlbImageReader>(new WatchedFile(bytes, std::move(watcher)), KWString("mem://watched"));
}

using kzrsynth::OwnedPixmap;

// Runs f and checks that it throws E (or a class derived from it) whose message passes the check.
template <class E>
void ExpectThrowMessage(const std::function<void()>& f, const std::function<bool(const std::string&)>& check,
                        const std::string& wanted)
{
    try {
        f();
        ADD_FAILURE() << "nothing thrown; expected: " << wanted;
    } catch (const KException& e) {
        bool right = true;
        if constexpr (!std::is_same_v<E, KException>)
            right = dynamic_cast<const E*>(&e) != nullptr;
        if (!right)
            ADD_FAILURE() << "wrong exception class: " << e.GetDescription() << ": " << e.GetMessage();
        else
            EXPECT_TRUE(check(e.GetMessage())) << "message: " << e.GetMessage() << "\nwanted: " << wanted;
    }
}

template <class E>
void ExpectThrowText(const std::function<void()>& f, const std::string& message)
{
    ExpectThrowMessage<E>(f, [&](const std::string& m) { return m == message; }, message);
}

template <class E>
void ExpectThrowContaining(const std::function<void()>& f, const std::string& piece)
{
    ExpectThrowMessage<E>(f, [&](const std::string& m) { return m.find(piece) != std::string::npos; }, piece);
}

// Reads the image at a reader index into a fresh pixmap of its own size and type.
inline std::vector<uint8_t> DecodeImage(KQrlbImageReader& reader, int index, uint8_t fill = 0)
{
    KQrlbSize size;
    int type = 0;
    KUInt32 imageType = 0;
    reader.GetImageInfo(index, size, type, imageType);
    OwnedPixmap p(type, size.columns, size.rows, fill);
    EXPECT_TRUE(reader.GetImage(index, p.pixmap, nullptr, nullptr));
    return p.Tight();
}
