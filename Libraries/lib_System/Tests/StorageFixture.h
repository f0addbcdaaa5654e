#pragma once
// The storage tests' scratch machine (see LumoStorageFixture.h) and a narrow view of wide text.
#include <string>

#include "KTextFunctions.h"
#include "LumoStorageFixture.h"

using StorageTest = lumotest::StorageFixture;

inline std::string Ascii(const KWString& s)
{
    return WideToUtf8(s);
}
