// The bit-indexed trie: each node holds one key and tests one bit; a key's path follows the key's bits from the
// root of its length until a link points back up (to an ancestor or to the node itself), where the key found
// is compared whole. Bits past the end of a key read as 0, so a node may test the bit just past the key's end.
#include <cstring>
#include <initializer_list>

#include "RkInternal.h"

namespace {

struct TrieNode {
    TrieNode* Parent;
    TrieNode* Left;
    TrieNode* Right;
    UCHAR* Key;
    PVOID Value;
    ULONG BitIndex;
    UCHAR BitMask;
};

}  // namespace

struct RK_TRIE {
    ULONG Shortest;
    ULONG Longest;
    BOOLEAN KeepSpareKeys;
    ULONG Count;
    RK_SPIN_LOCK Lock;
    RK_SEGMENT_POOL Nodes;
    RK_SEGMENT_POOL* Keys;  // per length, when spare keys are kept
    TrieNode** Roots;       // per length
};

namespace {

bool Bit(const UCHAR* key, ULONG length, ULONG index)
{
    ULONG byte = index >> 3;
    if (byte >= length)
        return false;
    return (key[byte] & (0x80 >> (index & 7))) != 0;
}

TrieNode*& Child(TrieNode* node, bool right)
{
    return right ? node->Right : node->Left;
}

bool Downward(const TrieNode* from, const TrieNode* to)
{
    return to && to->BitIndex > from->BitIndex;
}

// The node whose upward link leads to the key's terminal: answers the terminal (or null) and, when asked, the
// node holding the link and its side.
TrieNode* Terminal(TrieNode* root, const UCHAR* key, ULONG length, TrieNode** holder, bool* side)
{
    TrieNode* node = root;
    if (!node)
        return nullptr;
    for (;;) {
        bool b = Bit(key, length, node->BitIndex);
        TrieNode* next = Child(node, b);
        if (!next || next->BitIndex <= node->BitIndex) {
            if (holder)
                *holder = node;
            if (side)
                *side = b;
            return next;
        }
        node = next;
    }
}

// The slot that points down to `node` (its parent's child or the root).
TrieNode** SlotOf(RK_TRIE* trie, ULONG length, TrieNode* node)
{
    if (!node->Parent)
        return &trie->Roots[length - trie->Shortest];
    return node->Parent->Left == node ? &node->Parent->Left : &node->Parent->Right;
}

UCHAR* NewKey(RK_TRIE* trie, const void* key, ULONG length)
{
    UCHAR* copy = trie->KeepSpareKeys ? static_cast<UCHAR*>(RkSegPoolTake(&trie->Keys[length - trie->Shortest]))
                                      : static_cast<UCHAR*>(AllocateMemoryOS(length));
    if (copy)
        std::memcpy(copy, key, length);
    return copy;
}

void FreeKey(RK_TRIE* trie, UCHAR* key, ULONG length)
{
    if (trie->KeepSpareKeys)
        RkSegPoolReturn(&trie->Keys[length - trie->Shortest], key);
    else
        FreeMemoryOS(key);
}

bool ValidLength(const RK_TRIE* trie, ULONG length)
{
    return trie && length >= trie->Shortest && length <= trie->Longest;
}

}  // namespace

RK_TRIE* RkTrieCreate(ULONG shortestKey, ULONG longestKey, BOOLEAN keepSpareKeys)
{
    if (shortestKey == 0 || longestKey < shortestKey || longestKey > 4096)
        return nullptr;
    auto* trie = static_cast<RK_TRIE*>(AllocateZeroedMemoryOS(sizeof(RK_TRIE)));
    if (!trie)
        return nullptr;
    ULONG lengths = longestKey - shortestKey + 1;
    trie->Shortest = shortestKey;
    trie->Longest = longestKey;
    trie->KeepSpareKeys = keepSpareKeys;
    trie->Roots = static_cast<TrieNode**>(AllocateZeroedMemoryOS(lengths * sizeof(TrieNode*)));
    if (keepSpareKeys)
        trie->Keys = static_cast<RK_SEGMENT_POOL*>(AllocateZeroedMemoryOS(lengths * sizeof(RK_SEGMENT_POOL)));
    bool ok = trie->Roots && (!keepSpareKeys || trie->Keys) &&
              NT_SUCCESS(RkSegPoolCreate(&trie->Nodes, sizeof(TrieNode), 10, RK_NO_LIMIT));
    for (ULONG i = 0; ok && keepSpareKeys && i < lengths; ++i)
        ok = NT_SUCCESS(RkSegPoolCreate(&trie->Keys[i], shortestKey + i, 10, RK_NO_LIMIT));
    if (!ok) {
        RkTrieDestroy(trie);
        return nullptr;
    }
    return trie;
}

PVOID RkTrieFind(RK_TRIE* trie, const void* key, ULONG length, BOOLEAN* found)
{
    if (found)
        *found = FALSE;
    if (!ValidLength(trie, length) || !key)
        return nullptr;
    RkSpinAcquire(&trie->Lock);
    const auto* k = static_cast<const UCHAR*>(key);
    TrieNode* t = Terminal(trie->Roots[length - trie->Shortest], k, length, nullptr, nullptr);
    PVOID value = nullptr;
    if (t && std::memcmp(t->Key, k, length) == 0) {
        value = t->Value;
        if (found)
            *found = TRUE;
    }
    RkSpinRelease(&trie->Lock);
    return value;
}

NTSTATUS RkTrieInsert(RK_TRIE* trie, const void* key, ULONG length, PVOID value)
{
    if (!ValidLength(trie, length) || !key)
        return STATUS_INVALID_PARAMETER;
    const auto* k = static_cast<const UCHAR*>(key);
    RkSpinAcquire(&trie->Lock);
    TrieNode*& root = trie->Roots[length - trie->Shortest];
    TrieNode* holder = nullptr;
    bool side = false;
    TrieNode* t = Terminal(root, k, length, &holder, &side);
    if (t && std::memcmp(t->Key, k, length) == 0) {
        RkSpinRelease(&trie->Lock);
        return STATUS_OBJECT_NAME_COLLISION;
    }
    auto* x = static_cast<TrieNode*>(RkSegPoolTake(&trie->Nodes));
    UCHAR* copy = x ? NewKey(trie, k, length) : nullptr;
    if (!copy) {
        if (x)
            RkSegPoolReturn(&trie->Nodes, x);
        RkSpinRelease(&trie->Lock);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    x->Key = copy;
    x->Value = value;
    // Every key below a node shares the bits before the node's bit, so the new key's place follows from its
    // first bit differing from a key on its path: the key found, or the key of the node with the empty side.
    ULONG d = length * 8;
    if (root) {
        const UCHAR* other = t ? t->Key : holder->Key;
        for (ULONG i = 0; i < length; ++i) {
            UCHAR diff = static_cast<UCHAR>(other[i] ^ k[i]);
            if (diff) {
                d = i * 8 + static_cast<ULONG>(__builtin_clz(static_cast<unsigned>(diff)) - 24);
                break;
            }
        }
    }
    if (!root || (!t && d == holder->BitIndex)) {
        // An empty trie, or the empty side of a node: the key gets a node of its own testing the bit past its end.
        x->BitIndex = length * 8;
        x->BitMask = 0;
        x->Left = x;
        x->Right = nullptr;
        x->Parent = root ? holder : nullptr;
        if (root)
            Child(holder, side) = x;
        else
            root = x;
    } else {
        TrieNode* p = nullptr;
        TrieNode* below = root;
        while (below && (!p || below->BitIndex > p->BitIndex) && below->BitIndex < d) {
            p = below;
            below = Child(below, Bit(k, length, below->BitIndex));
        }
        bool b = Bit(k, length, d);
        x->BitIndex = d;
        x->BitMask = static_cast<UCHAR>(0x80 >> (d & 7));
        Child(x, b) = x;
        Child(x, !b) = below;
        if (below && (!p || below->BitIndex > p->BitIndex))
            below->Parent = x;
        x->Parent = p;
        if (p)
            Child(p, Bit(k, length, p->BitIndex)) = x;
        else
            root = x;
    }
    trie->Count++;
    RkSpinRelease(&trie->Lock);
    return STATUS_SUCCESS;
}

BOOLEAN RkTrieRemove(RK_TRIE* trie, const void* key, ULONG length)
{
    if (!ValidLength(trie, length) || !key)
        return FALSE;
    const auto* k = static_cast<const UCHAR*>(key);
    RkSpinAcquire(&trie->Lock);
    TrieNode*& root = trie->Roots[length - trie->Shortest];
    TrieNode* y = nullptr;
    bool s = false;
    TrieNode* x = Terminal(root, k, length, &y, &s);
    if (!x || std::memcmp(x->Key, k, length) != 0) {
        RkSpinRelease(&trie->Lock);
        return FALSE;
    }
    if (y == x) {
        // The node links to itself: its other side takes its place.
        TrieNode* other = Child(x, !s);
        *SlotOf(trie, length, x) = other;
        if (Downward(x, other))
            other->Parent = x->Parent;
    } else {
        // y holds the link up to x: y leaves its place to its other side, then takes x's place.
        TrieNode* other = Child(y, !s);
        TrieNode* yParent = y->Parent;
        (yParent->Left == y ? yParent->Left : yParent->Right) = other;
        if (Downward(y, other))
            other->Parent = yParent;
        TrieNode** xSlot = SlotOf(trie, length, x);
        y->BitIndex = x->BitIndex;
        y->BitMask = x->BitMask;
        y->Left = x->Left;
        y->Right = x->Right;
        y->Parent = x->Parent;
        if (Downward(y, y->Left))
            y->Left->Parent = y;
        if (Downward(y, y->Right))
            y->Right->Parent = y;
        *xSlot = y;
    }
    FreeKey(trie, x->Key, length);
    RkSegPoolReturn(&trie->Nodes, x);
    trie->Count--;
    RkSpinRelease(&trie->Lock);
    return TRUE;
}

ULONG RkTrieCount(RK_TRIE* trie)
{
    return trie ? trie->Count : 0;
}

void RkTrieDestroy(RK_TRIE* trie)
{
    if (!trie)
        return;
    ULONG lengths = trie->Longest - trie->Shortest + 1;
    if (!trie->KeepSpareKeys && trie->Roots) {
        // Key buffers of their own: walk every tree down its downward links.
        TrieNode* stack[1000];
        for (ULONG i = 0; i < lengths; ++i) {
            int top = 0;
            if (trie->Roots[i])
                stack[top++] = trie->Roots[i];
            while (top > 0) {
                TrieNode* node = stack[--top];
                for (TrieNode* c : {node->Left, node->Right})
                    if (Downward(node, c)) {
                        if (top == 1000) {
                            DbgBreakPoint();
                            break;
                        }
                        stack[top++] = c;
                    }
                FreeMemoryOS(node->Key);
            }
        }
    }
    if (trie->Keys) {
        for (ULONG i = 0; i < lengths; ++i)
            RkSegPoolDestroy(&trie->Keys[i]);
        FreeMemoryOS(trie->Keys);
    }
    RkSegPoolDestroy(&trie->Nodes);
    FreeMemoryOS(trie->Roots);
    FreeMemoryOS(trie);
}
