#pragma once
// Something that can hand a picture to an IMAGE ("SetImage"): the picture as 32-bit B, G, R, A pixels.
#include "KPixmapDisplay.h"

class KIUiImageSource {
public:
    virtual ~KIUiImageSource() = default;
    // The picture, or null when there is none; read during the call only.
    virtual const KPixmap_Display* GetDisplayPixmap() = 0;
};
