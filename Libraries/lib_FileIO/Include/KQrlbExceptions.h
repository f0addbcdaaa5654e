#pragma once
// Exceptions of the raw container reader and writer and of the Huffman decoder.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionQrlbReader, KExceptionIO, "General Qrlb Reader I/O exception");
K_DECLARE_EXCEPTION(KExceptionQrlbIncompatible, KExceptionQrlbReader, "Incompatible qrlb version");
K_DECLARE_EXCEPTION(KExceptionNotAQrlb, KExceptionQrlbReader, "This file is not a qrlb");
K_DECLARE_EXCEPTION(KExceptionIndexOutOfRange, KExceptionQrlbReader, "Index out of range");
K_DECLARE_EXCEPTION(KExceptionQrlbWriter, KExceptionIO, "General Qrlb Writer I/O exception");
K_DECLARE_EXCEPTION(KExceptionHuffman, KException, "Huffman coding exception");
