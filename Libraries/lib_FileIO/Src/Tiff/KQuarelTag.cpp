#include "KQuarelTag.h"

#include <algorithm>
#include <cstring>

namespace {

struct NamedKey {
    uint32_t key;
    int type;
};

// The named keys with their types, in table order.
const NamedKey kNamedKeys[] = {
    {KQuarelKey("lens"), 3}, {KQuarelKey("lnuq"), 3}, {KQuarelKey("focl"), 2}, {KQuarelKey("ffsp"), 2},
    {KQuarelKey("sfsp"), 3}, {KQuarelKey("issd"), 1}, {KQuarelKey("fssd"), 2}, {KQuarelKey("sssd"), 3},
    {KQuarelKey("ctmp"), 2}, {KQuarelKey("drks"), 3}, {KQuarelKey("drkl"), 3}, {KQuarelKey("camf"), 3},
    {KQuarelKey("imgn"), 1}, {KQuarelKey("roln"), 1}, {KQuarelKey("came"), 3}, {KQuarelKey("excp"), 2},
    {KQuarelKey("blkn"), 2}, {KQuarelKey("cont"), 2}, {KQuarelKey("hilt"), 2}, {KQuarelKey("cadr"), 2},
    {KQuarelKey("cadg"), 2}, {KQuarelKey("cadb"), 2}, {KQuarelKey("clsp"), 1}, {KQuarelKey("rawh"), 4},
    {KQuarelKey("nred"), 2}, {KQuarelKey("ngrn"), 2}, {KQuarelKey("nblu"), 2}, {KQuarelKey("ndat"), 3},
    {KQuarelKey("nfnm"), 3}, {KQuarelKey("nptx"), 1}, {KQuarelKey("npty"), 1}, {KQuarelKey("exst"), 3},
    {KQuarelKey("exsu"), 1},
};
static_assert(sizeof(kNamedKeys) / sizeof(kNamedKeys[0]) == 33);

// The run of 160 keys from 'dish': key 'dish' + i has the type of digit i.
constexpr uint32_t kRunFirstKey = 0x64697368;
const char kRunTypes[] =
    "4131253311111111" "1222222222225553" "1431431431411111" "1114444444222222" "1235555555355555"
    "5535555555355555" "5535555555355555" "5535555555355555" "5535555555355555" "5511111555555555";
constexpr uint32_t kRunLength = sizeof(kRunTypes) - 1;
static_assert(kRunLength == 160);

// The keystream of the scrambling.
constexpr uint32_t kScrambleMultiplier = 0x9E3779B1u;
constexpr uint32_t kScrambleStart = 0x7F4A7C15u;
constexpr uint32_t kScrambleIncrement = 0x6D2B79F5u;

constexpr size_t kCountOffset = KQuarelTag::kHeaderSize;
constexpr size_t kDirectoryOffset = kCountOffset + 4;

uint32_t Load32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void Store32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint64_t Load64(const uint8_t* p) { return Load32(p) | (static_cast<uint64_t>(Load32(p + 4)) << 32); }

void Store64(uint8_t* p, uint64_t v)
{
    Store32(p, static_cast<uint32_t>(v));
    Store32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint32_t StringStoredSize(size_t length) { return static_cast<uint32_t>((length + 1 + 3) & ~size_t(3)); }

}  // namespace

int KQuarelTag::GetKeyType(uint32_t key)
{
    for (const NamedKey& named : kNamedKeys)
        if (named.key == key)
            return named.type;
    if (key >= kRunFirstKey && key - kRunFirstKey < kRunLength)
        return kRunTypes[key - kRunFirstKey] - '0';
    return 0;
}

bool KQuarelTag::ValidTag(const Item& item)
{
    switch (GetKeyType(item.key)) {
    case 0: return false;
    case kTypeInt: return item.size == 4;
    case kTypeDouble: return item.size == 8;
    case kTypeString:
    case kTypeIntArray:
    case kTypeDoubleArray: return true;
    default: throw KExceptionQTUnknownTag("KQuarelTag ValidTag()");
    }
}

KQuarelTag::Item* KQuarelTag::priFind(uint32_t key)
{
    for (Item& item : m_Items)
        if (item.key == key)
            return &item;
    return nullptr;
}

const KQuarelTag::Item* KQuarelTag::priFind(uint32_t key) const
{
    for (const Item& item : m_Items)
        if (item.key == key)
            return &item;
    return nullptr;
}

KQuarelTag::Item& KQuarelTag::priItemFor(uint32_t key)
{
    if (Item* item = priFind(key))
        return *item;
    m_Items.push_back(Item());
    m_Items.back().key = key;
    return m_Items.back();
}

bool KQuarelTag::SetInt(uint32_t key, int32_t value)
{
    if (GetKeyType(key) == 0)
        return false;
    Item& item = priItemFor(key);
    item.size = 4;
    item.intValue = value;
    item.bytes.clear();
    return true;
}

bool KQuarelTag::SetDouble(uint32_t key, double value)
{
    if (GetKeyType(key) == 0)
        return false;
    Item& item = priItemFor(key);
    item.size = 8;
    item.doubleValue = value;
    item.bytes.clear();
    return true;
}

bool KQuarelTag::SetString(uint32_t key, const char* text)
{
    if (GetKeyType(key) == 0)
        return false;
    if (text == nullptr)
        text = "";
    const size_t length = std::strlen(text);
    Item& item = priItemFor(key);
    item.size = StringStoredSize(length);
    item.bytes.assign(text, text + length + 1);
    return true;
}

bool KQuarelTag::GetInt(uint32_t key, int32_t* value) const
{
    const Item* item = priFind(key);
    if (item == nullptr)
        return false;
    *value = item->intValue;
    return true;
}

bool KQuarelTag::GetDouble(uint32_t key, double* value) const
{
    const Item* item = priFind(key);
    if (item == nullptr)
        return false;
    *value = item->doubleValue;
    return true;
}

bool KQuarelTag::GetString(uint32_t key, KNarrowString* text) const
{
    const Item* item = priFind(key);
    if (item == nullptr)
        return false;
    if (item->bytes.empty())
        *text = "";
    else
        *text = reinterpret_cast<const char*>(item->bytes.data());
    return true;
}

bool KQuarelTag::GetBuffer(std::vector<uint8_t>& buffer, bool scramble)
{
    uint64_t total = kDirectoryOffset + kDirectoryEntrySize * m_Items.size();
    for (const Item& item : m_Items)
        total += item.size;
    if (total > 0xFFFFFFFFu)
        throw KExceptionQuarelTag("QuarelTag GetBuffer() form beyond 4 GiB");

    buffer.assign(static_cast<size_t>(total), 0);
    uint8_t* form = buffer.data();
    Store32(form, kVersion1);
    Store32(form + 4, static_cast<uint32_t>(total));
    Store32(form + 8, scramble ? 1 : 0);
    Store32(form + kCountOffset, static_cast<uint32_t>(m_Items.size()));

    uint32_t offset = static_cast<uint32_t>(kDirectoryOffset + kDirectoryEntrySize * m_Items.size());
    uint8_t* entry = form + kDirectoryOffset;
    for (Item& item : m_Items) {
        item.offset = offset;
        Store32(entry, item.key);
        Store32(entry + 4, item.offset);
        Store32(entry + 8, item.size);
        entry += kDirectoryEntrySize;

        uint8_t* data = form + item.offset;
        switch (GetKeyType(item.key)) {
        case kTypeInt: Store32(data, static_cast<uint32_t>(item.intValue)); break;
        case kTypeDouble: {
            uint64_t bits;
            std::memcpy(&bits, &item.doubleValue, sizeof bits);
            Store64(data, bits);
            break;
        }
        default:
            if (!item.bytes.empty())
                std::memcpy(data, item.bytes.data(), std::min<size_t>(item.bytes.size(), item.size));
            break;
        }
        offset += item.size;
    }
    std::memcpy(m_Header, form, kHeaderSize);
    if (scramble)
        Scramble(form, buffer.size());
    return true;
}

bool KQuarelTag::SetBuffer(const void* buffer, size_t size)
{
    if (buffer == nullptr)
        return false;
    if (size < kDirectoryOffset) {
        KNarrowString message("QuarelTag SetBuffer() form of %zu bytes is shorter than its header", size);
        throw KExceptionQuarelTag(message.CStr());
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    std::memcpy(m_Header, bytes, kHeaderSize);
    if (Load32(m_Header + 4) != size)
        throw KExceptionQuarelTag("QuarelTag SetBuffer() header size mismatch");
    if (Load32(m_Header) != kVersion1)
        throw KExceptionQuarelTag("QuarelTag SetBuffer() Unknown version");
    priSetBufferVersion1(bytes, size);
    return true;
}

void KQuarelTag::priSetBufferVersion1(const uint8_t* bytes, size_t size)
{
    std::vector<uint8_t> plain(bytes, bytes + size);
    if (Load32(plain.data() + 8) != 0)
        Scramble(plain.data(), size);
    const uint8_t* form = plain.data();

    const uint32_t count = Load32(form + kCountOffset);
    if (count > (size - kDirectoryOffset) / kDirectoryEntrySize) {
        KNarrowString message("QuarelTag SetBuffer() directory of %u items beyond the form of %zu bytes", count, size);
        throw KExceptionQuarelTag(message.CStr());
    }

    std::vector<Item> items;
    // A bad item is skipped and the others kept: one whose bytes leave the form, a text without its
    // terminator, and one that would make the items together hold more bytes than the form (items that all
    // point at the same bytes would otherwise copy them count times).
    uint64_t held = 0;
    const uint8_t* entry = form + kDirectoryOffset;
    for (uint32_t i = 0; i < count; ++i, entry += kDirectoryEntrySize) {
        Item item;
        item.key = Load32(entry);
        item.offset = Load32(entry + 4);
        item.size = Load32(entry + 8);
        if (!ValidTag(item))
            continue;
        if (static_cast<uint64_t>(item.offset) + item.size > size || held + item.size > size)
            continue;
        const uint8_t* data = form + item.offset;
        switch (GetKeyType(item.key)) {
        case kTypeInt: item.intValue = static_cast<int32_t>(Load32(data)); break;
        case kTypeDouble: {
            const uint64_t bits = Load64(data);
            std::memcpy(&item.doubleValue, &bits, sizeof bits);
            break;
        }
        case kTypeString: {
            const void* end = std::memchr(data, 0, item.size);
            if (end == nullptr)
                continue;
            item.bytes.assign(data, static_cast<const uint8_t*>(end) + 1);
            break;
        }
        case kTypeIntArray:
        case kTypeDoubleArray: item.bytes.assign(data, data + item.size); break;
        default:
            m_Items.clear();
            throw KExceptionQTUnknownTag("KQuarelTag SetBufferVersion1()");
        }
        held += item.size;
        items.push_back(std::move(item));
    }
    for (Item& item : items)
        m_Items.push_back(std::move(item));
}

void KQuarelTag::Scramble(uint8_t* form, size_t totalSize)
{
    if (totalSize <= kHeaderSize)
        return;
    uint32_t stream = static_cast<uint32_t>(totalSize) * kScrambleMultiplier + kScrambleStart;
    for (size_t at = kHeaderSize; at + 4 <= totalSize; at += 4) {
        Store32(form + at, Load32(form + at) ^ stream);
        stream += kScrambleIncrement;
    }
}

KNarrowString KQuarelTag::JoinStringList(const char* const* strings, int count)
{
    std::string joined;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            joined += kStringListSeparator;
        joined += strings[i] != nullptr ? strings[i] : "";
    }
    return KNarrowString::FromText(joined.c_str());
}

namespace {
int SplitList(const char* text, std::vector<KNarrowString>& strings, int maximum, bool keepEmpty)
{
    strings.clear();
    if (text == nullptr)
        return 0;
    const char* start = text;
    for (const char* p = text;; ++p) {
        if (*p == KQuarelTag::kStringListSeparator || *p == '\0') {
            if (static_cast<int>(strings.size()) >= maximum)
                break;
            if (keepEmpty || p > start)
                strings.push_back(KNarrowString::FromText(std::string(start, p).c_str()));
            if (*p == '\0')
                break;
            start = p + 1;
        }
    }
    return static_cast<int>(strings.size());
}
}  // namespace

int KQuarelTag::SplitStringList(const char* text, std::vector<KNarrowString>& strings, int maximum)
{
    return SplitList(text, strings, maximum, false);
}

int KQuarelTag::SplitStringListKeepingEmpty(const char* text, std::vector<KNarrowString>& strings, int maximum)
{
    return SplitList(text, strings, maximum, true);
}
