#pragma once
// The fixed layout of the KZR raw container: four-character tags, version words, header offsets, section
// header sizes, data formats and the generator that deciphers enciphered calibration sections. Shared by the
// reader, the writer and the generator of synthetic files, so that all three agree byte for byte.
// Every multi-byte field of the container is little-endian.
#include <cstddef>
#include <cstring>

#include "KTypes.h"

namespace KQrlb {

// A four-character code as it lies in the file: the first character in the low byte of the word.
constexpr KUInt32 FourCC(char a, char b, char c, char d)
{
    return static_cast<KUInt32>(static_cast<KUInt8>(a)) | (static_cast<KUInt32>(static_cast<KUInt8>(b)) << 8) |
           (static_cast<KUInt32>(static_cast<KUInt8>(c)) << 16) | (static_cast<KUInt32>(static_cast<KUInt8>(d)) << 24);
}

// Tags at the start of structures.
constexpr KUInt32 kTagMagic = FourCC('Q', 'R', 'L', 'b');
constexpr KUInt32 kTagDirectory = FourCC('S', 'E', 'C', 'd');
constexpr KUInt32 kTagProperties = FourCC('S', 'E', 'C', 'p');
constexpr KUInt32 kTagCamFile = FourCC('S', 'E', 'C', 'c');
constexpr KUInt32 kTagImage = FourCC('S', 'E', 'C', 'i');
constexpr KUInt32 kTagEnciphered = FourCC('K', 'C', 'E', 'b');

// Section types of directory entries.
constexpr KUInt32 kTypeProp = FourCC('P', 'R', 'O', 'P');
constexpr KUInt32 kTypeCamf = FourCC('C', 'A', 'M', 'F');
constexpr KUInt32 kTypeImag = FourCC('I', 'M', 'A', 'G');
constexpr KUInt32 kTypeIma2 = FourCC('I', 'M', 'A', '2');
constexpr KUInt32 kTypeDirp = FourCC('D', 'I', 'R', 'P');

// Version words: major number in the high 16 bits. The oldest files hold the bytes "1.0" and NUL.
constexpr KUInt32 kVersion10 = 0x00302E31u;
constexpr KUInt32 kVersion20 = 0x00020000u;
constexpr KUInt32 kVersion21 = 0x00020001u;
constexpr KUInt32 kVersion22 = 0x00020002u;
constexpr KUInt32 kEncipheredVersion = 0x00010000u;

constexpr bool IsAcceptedVersion(KUInt32 version) { return (version >> 16) == 2 || version == kVersion10; }
constexpr bool IsAcceptedEncipheredVersion(KUInt32 version) { return (version >> 16) == 1; }
// Headers after 2.0 carry the white-balance text. The whole word is compared, so "1.0" counts as having it.
constexpr bool HasWhiteBalanceField(KUInt32 headerVersion) { return headerVersion > kVersion20; }

// File header.
constexpr size_t kHeaderSize = 232;
constexpr size_t kOffMagic = 0;
constexpr size_t kOffVersion = 4;
constexpr size_t kOffIdentifier = 8;
constexpr size_t kIdentifierSize = 16;
constexpr size_t kOffMarkBits = 24;
constexpr size_t kOffColumns = 28;
constexpr size_t kOffRows = 32;
constexpr size_t kOffRotation = 36;
constexpr size_t kOffWhiteBalance = 40;
constexpr size_t kWhiteBalanceSize = 32;

// Directory and section headers.
constexpr size_t kDirHeaderSize = 12;     // tag, version, entry count
constexpr size_t kDirEntrySize = 12;      // offset, length, type
constexpr size_t kPropHeaderSize = 24;    // tag, version, count, character type, encryption, characters
constexpr size_t kPropEntrySize10 = 12;   // "1.0" layout: offset, name length, value length
constexpr size_t kPropEntrySize2 = 8;     // 2.x layout: name offset, value offset
constexpr size_t kCamHeaderSize = 16;     // tag, version, calibration type, unused word
constexpr size_t kEncipheredHeaderSize = 12;  // tag, version, seed
constexpr size_t kImageHeaderSize = 28;   // tag, version, image type, data format, columns, rows, row size

// Calibration types.
constexpr KUInt32 kCamTypeCameraFile = 0;
constexpr KUInt32 kCamTypeBlock = 1;
constexpr KUInt32 kCamTypeEnciphered = 2;

// Image types (what the raw loader reports as image kinds).
constexpr KUInt32 kImageDark = 0;
constexpr KUInt32 kImageRaw = 1;
constexpr KUInt32 kImageViewable = 2;
constexpr KUInt32 kImageDarkSubtracted = 3;

// Data formats of image sections.
constexpr KUInt32 kFormat48 = 0;          // 16-bit samples
constexpr KUInt32 kFormat30 = 1;          // 30RGB words
constexpr KUInt32 kFormat30x10 = 2;       // three 10-bit samples in a word: not readable
constexpr KUInt32 kFormat24 = 3;          // 8-bit samples
constexpr KUInt32 kFormatPacked12 = 4;    // eight 12-bit samples in three words
constexpr KUInt32 kFormatDelta10 = 5;     // three 10-bit delta codes in a word, through a table
constexpr KUInt32 kFormatHuffman10 = 6;   // Huffman-coded 10-bit delta codes, through a table
constexpr KUInt32 kFormatHuffman8 = 11;   // Huffman-coded 8-bit deltas

constexpr size_t kDeltaTableEntries = 1024;           // formats 5 and 6
constexpr size_t kPacked12GroupBytes = 36;            // nine words: eight pixels
constexpr size_t kPacked12GroupPixels = 8;
constexpr KUInt32 kHuffmanBits10 = 10;
constexpr KUInt32 kHuffmanBits8 = 8;

// The generator of the keystream of enciphered calibration sections: one step of a linear congruential
// generator (unsigned 32-bit arithmetic), then the key byte (state x 256) / modulus. The modulus is 2^24, so
// the product never wraps and the key byte is the state's top eight bits.
constexpr KUInt32 kCipherMultiplier = 0x00A3B195u;
constexpr KUInt32 kCipherIncrement = 0x00C5D3E7u;
constexpr KUInt32 kCipherModulus = 0x01000000u;

inline KUInt8 NextKeyByte(KUInt32& state)
{
    state = (state * kCipherMultiplier + kCipherIncrement) % kCipherModulus;
    return static_cast<KUInt8>((state * 256u) / kCipherModulus);
}

// XORs the keystream of a seed over the bytes: enciphers and deciphers alike. Every call starts from the seed.
inline void ApplyKeystream(KUInt8* bytes, size_t count, KUInt32 seed)
{
    KUInt32 state = seed;
    for (size_t i = 0; i < count; ++i)
        bytes[i] ^= NextKeyByte(state);
}

inline KUInt32 ReadLE32(const void* p)
{
    const KUInt8* b = static_cast<const KUInt8*>(p);
    return static_cast<KUInt32>(b[0]) | (static_cast<KUInt32>(b[1]) << 8) | (static_cast<KUInt32>(b[2]) << 16) |
           (static_cast<KUInt32>(b[3]) << 24);
}

inline KUInt16 ReadLE16(const void* p)
{
    const KUInt8* b = static_cast<const KUInt8*>(p);
    return static_cast<KUInt16>(b[0] | (b[1] << 8));
}

inline void WriteLE32(void* p, KUInt32 v)
{
    KUInt8* b = static_cast<KUInt8*>(p);
    b[0] = static_cast<KUInt8>(v);
    b[1] = static_cast<KUInt8>(v >> 8);
    b[2] = static_cast<KUInt8>(v >> 16);
    b[3] = static_cast<KUInt8>(v >> 24);
}

inline void WriteLE16(void* p, KUInt16 v)
{
    KUInt8* b = static_cast<KUInt8*>(p);
    b[0] = static_cast<KUInt8>(v);
    b[1] = static_cast<KUInt8>(v >> 8);
}

}  // namespace KQrlb
