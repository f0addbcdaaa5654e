#pragma once
// The output stage's encoding tables: the transfer curve of an output colour space sampled into 65536
// entries indexed by the 16-bit pattern of a working value (4096 = 1.0; the upper half holds the negative
// values), with codes 0 .. 2^bits - 1 stored as unsigned 16-bit patterns.
#include <memory>

#include "KLUT.h"

// The table for colour-space code 0-11 (KExceptionPixelProc2 "Unknown Color Space" otherwise) and an output
// depth of 1 to 16 bits (8 and 16 in use). The record owns its data.
std::unique_ptr<KLUT> CreateOutputGammaLUT(int colorSpace, int outputBits);
