#pragma once
// The detail layer of stage 3: the encoded luminance image minus a separable 5 x 5 low-pass of itself, in
// place. The low-pass is the three-tap kernel (a, 1 - 2a, a) applied twice, a = min(resize factor / 4, 0.5),
// so that the detail band keeps its meaning at every output size. Keeps no state; three scratch rows live for
// the call.
#include "KPixmap.h"
#include "KTypes.h"

// The five taps (w2, w1, w0, w1, w2) in 12-bit fixed point (4096 = 1.0) for a resize factor; they sum to 4096.
struct KDetailKernel {
    KInt32 m_W0, m_W1, m_W2;
};
KDetailKernel DetailKernelFor(double resizeFactor);

// Rewrites image (signed 16-bit samples) as its detail layer. Rows and columns beyond the edges repeat the
// edge; any size is accepted (an empty image is left alone).
void CreateDetailLayer(KPixmapTemplate<KPixelClass16SMono>& image, double resizeFactor);
