#pragma once
// The image handle as the image-processing manager makes it.
#include "KIUiIpImage.h"

class KIPMImage : public KIUiIpImage {
public:
    ~KIPMImage() override = default;
};
