#include "KICCProfiles.h"

const KICCProfile* GetBuiltInICCProfile(int colorSpace)
{
    for (int i = 0; i < kBuiltInICCProfileCount; ++i)
        if (kBuiltInICCProfiles[i].colorSpace == colorSpace)
            return &kBuiltInICCProfiles[i];
    return nullptr;
}
