#pragma once
// How the TIFF line writer turns a row of any pixel type into its file's type (8Mono, 16Mono, 24RGB, 30RGBL,
// 48RGB).
#include "KRowConverters.h"

// The converter from sourceType rows to fileType rows (the two differ). Throws KExceptionUnknownPixelType
// "TiffLineWriter: Cannot convert source to dest pixel type." for a source the file's type does not take, and
// "TiffLineWriter: Unknown source pixel type" for any source into an 8Mono file.
KRowConverter GetTiffWriterRowConverter(int fileType, int sourceType);
