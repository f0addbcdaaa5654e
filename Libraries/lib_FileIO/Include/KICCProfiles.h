#pragma once
// The RGB display profiles that saved images embed, one for each output colour space that has one:
// 2 "sRGB IEC61966-2.1", 3 "Adobe RGB (1998)", 4 "Apple RGB", 8 "ColorMatch RGB", 11 "ProPhoto RGB".
// ICC version 2.1 profiles built at build time (Tools/iccgen); constant data, safe from any thread.
#include <cstdint>

struct KICCProfile {
    int colorSpace;           // output colour-space code
    const char* description;  // the profile's description tag
    const uint8_t* data;
    uint32_t size;
};

extern const KICCProfile kBuiltInICCProfiles[];
extern const int kBuiltInICCProfileCount;

// The profile of a colour-space code, or null when the code has none.
const KICCProfile* GetBuiltInICCProfile(int colorSpace);
