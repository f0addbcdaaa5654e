#pragma once
// What tells one file from another under a name: its device and inode, its size and its last-write time. Two
// looks at a name that give equal identities saw one file, unchanged: a rewrite moves the time (and mostly the
// size), a replacement the inode.
#include <cstdint>
#include <string>

#include "KWString.h"

struct KFileIdentity {
    bool known = false;  // false: the name is not a file of the disk (or is missing)
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    uint64_t writtenTicks = 0;  // 100-ns units since 1601

    bool operator==(const KFileIdentity& other) const
    {
        return known == other.known && device == other.device && inode == other.inode && size == other.size &&
               writtenTicks == other.writtenTicks;
    }
    bool operator!=(const KFileIdentity& other) const { return !(*this == other); }
};

// The identity of the file that a storage URL names now.
KFileIdentity GetFileIdentityByURL(const KWString& url);

// The identity as text ("" when unknown), short enough for a cache label.
std::string FileIdentityText(const KFileIdentity& identity);
