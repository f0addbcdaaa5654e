#pragma once
// The file tests' scratch machine (see LumoStorageFixture.h) with the in-memory class "mem" beside the disk
// class.
#include <memory>

#include "LumoStorageFixture.h"
#include "MemoryStorage.h"

namespace memstore {

class Fixture : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        lumotest::StorageFixture::SetUp();
        m_Memory = std::make_shared<State>();
        RegisterStorageClass(KWString("mem"), new StorageClass(m_Memory));
    }

    std::shared_ptr<State> m_Memory;
};

}  // namespace memstore
