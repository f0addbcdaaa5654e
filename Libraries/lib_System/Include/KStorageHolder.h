#pragma once
// Owners for the objects that storage classes hand out: they call Release when they go out of scope.
#include <memory>

#include "KIFile.h"
#include "KIFolder.h"

struct KStorageReleaser {
    void operator()(KIFile* file) const
    {
        if (file)
            file->Release();
    }
    void operator()(KIFolder* folder) const
    {
        if (folder)
            folder->Release();
    }
};

using KFileHolder = std::unique_ptr<KIFile, KStorageReleaser>;
using KFolderHolder = std::unique_ptr<KIFolder, KStorageReleaser>;
