// The name table: exact look-up of byte keys within a range of lengths.
#include <new>
#include <string>
#include <unordered_map>

#include "KCamLinkSupport.h"

struct CamNameTable {
    uint32_t minLength;
    uint32_t maxLength;
    std::unordered_map<std::string, void*> entries;
};

namespace {

bool Fits(const CamNameTable* table, const void* key, uint32_t length)
{
    return table && key && length >= table->minLength && length <= table->maxLength;
}

std::string KeyOf(const void* key, uint32_t length)
{
    return std::string(static_cast<const char*>(key), length);
}

}  // namespace

CamNameTable* NameTableCreate(uint32_t minLength, uint32_t maxLength, bool)
{
    if (minLength == 0 || minLength > maxLength)
        return nullptr;
    return new (std::nothrow) CamNameTable{minLength, maxLength, {}};
}

void NameTableDestroy(CamNameTable* table)
{
    delete table;
}

void* NameTableFind(CamNameTable* table, const void* key, uint32_t length)
{
    if (!Fits(table, key, length))
        return nullptr;
    try {
        auto it = table->entries.find(KeyOf(key, length));
        return it == table->entries.end() ? nullptr : it->second;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool NameTableInsert(CamNameTable* table, const void* key, uint32_t length, void* value)
{
    if (!Fits(table, key, length))
        return false;
    try {
        table->entries[KeyOf(key, length)] = value;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool NameTableRemove(CamNameTable* table, const void* key, uint32_t length)
{
    if (!Fits(table, key, length))
        return false;
    try {
        return table->entries.erase(KeyOf(key, length)) != 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
