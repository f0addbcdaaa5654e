// Row decoders of raw container images: fixed rows (plain, packed 12-bit, 10-bit delta codes) and variable
// rows (Huffman-coded DPCM). One row buffer sized by the longest row, no allocation per row.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "KHuffmanDecoder.h"
#include "KNarrowString.h"
#include "KRowBands.h"
#include "QrlbReaderImpl.h"

using namespace KQrlb;

namespace {

constexpr KUInt32 kMaxImageSide = 65536;
constexpr KInt32 kMinDecodeBandRows = 64;  // fewest rows a band of a decode gets
constexpr KUInt32 kDecodeChunkRows = 16;   // rows read from the file at once

// Eight 12-bit samples in three little-endian words, the first sample in the top bits of the first word;
// a group of nine words gives the 24 samples of eight pixels. A row holds columns / 8 whole groups: the
// last columns mod 8 pixels have no samples and are set to 0, so they never keep what the buffer held before.
void UnpackTwelveRow(const KUInt8* in, KUInt32 columns, KUInt16* out)
{
    const KUInt32 groups = columns / kPacked12GroupPixels;
    for (KUInt32 g = 0; g < groups; ++g, in += kPacked12GroupBytes, out += 24) {
        for (int part = 0; part < 3; ++part) {
            const KUInt32 w0 = ReadLE32(in + part * 12), w1 = ReadLE32(in + part * 12 + 4);
            const KUInt32 w2 = ReadLE32(in + part * 12 + 8);
            const KUInt64 a = (KUInt64(w0) << 32) | w1;
            KUInt16* o = out + part * 8;
            o[0] = static_cast<KUInt16>(a >> 52);
            o[1] = static_cast<KUInt16>((a >> 40) & 0xFFF);
            o[2] = static_cast<KUInt16>((a >> 28) & 0xFFF);
            o[3] = static_cast<KUInt16>((a >> 16) & 0xFFF);
            o[4] = static_cast<KUInt16>((a >> 4) & 0xFFF);
            o[5] = static_cast<KUInt16>(((a & 0xF) << 8) | (w2 >> 24));
            o[6] = static_cast<KUInt16>((w2 >> 12) & 0xFFF);
            o[7] = static_cast<KUInt16>(w2 & 0xFFF);
        }
    }
    if (const KUInt32 rest = columns % kPacked12GroupPixels)  // a frame of no columns has no row buffer
        std::memset(out, 0, size_t(rest) * 3 * sizeof(KUInt16));
}

// Formats 5 and 6 add table deltas to a 32-bit running sum per channel (0 at the start of every row) and
// store its low 16 bits; format 11 adds the symbols themselves and stores the low 8 bits.
void DeltaCodeRow(const KUInt8* in, KUInt32 columns, const KInt16* table, KInt16* out)
{
    KInt32 s0 = 0, s1 = 0, s2 = 0;
    for (KUInt32 x = 0; x < columns; ++x, in += 4, out += 3) {
        const KUInt32 w = ReadLE32(in);
        s0 += table[(w >> 20) & 0x3FF];
        s1 += table[(w >> 10) & 0x3FF];
        s2 += table[w & 0x3FF];
        out[0] = static_cast<KInt16>(s0);
        out[1] = static_cast<KInt16>(s1);
        out[2] = static_cast<KInt16>(s2);
    }
}

void DeltaSymbolRow(const KUInt16* symbols, KUInt32 columns, const KInt16* table, KInt16* out)
{
    KInt32 s0 = 0, s1 = 0, s2 = 0;
    for (KUInt32 x = 0; x < columns; ++x, symbols += 3, out += 3) {
        s0 += table[symbols[0]];
        s1 += table[symbols[1]];
        s2 += table[symbols[2]];
        out[0] = static_cast<KInt16>(s0);
        out[1] = static_cast<KInt16>(s1);
        out[2] = static_cast<KInt16>(s2);
    }
}

void SumSymbolRow(const KUInt16* symbols, KUInt32 columns, KUInt8* out)
{
    KUInt32 s0 = 0, s1 = 0, s2 = 0;
    for (KUInt32 x = 0; x < columns; ++x, symbols += 3, out += 3) {
        s0 += symbols[0];
        s1 += symbols[1];
        s2 += symbols[2];
        out[0] = static_cast<KUInt8>(s0);
        out[1] = static_cast<KUInt8>(s1);
        out[2] = static_cast<KUInt8>(s2);
    }
}

// Bytes that a fixed row must hold for its columns: what the unpacking reads, or one pixel of the
// pixmap type per column for the formats copied as stored.
KUInt64 MinimumRowSize(KUInt32 format, KUInt32 columns)
{
    switch (format) {
    case kFormatPacked12:
        return KUInt64(columns / kPacked12GroupPixels) * kPacked12GroupBytes;
    case kFormatDelta10:
    case kFormat30x10:
        return KUInt64(columns) * 4;
    default:
        return KUInt64(columns) * KPixelTypeBytes(MapQrlbPixelFormatToKPixmapType(format));
    }
}

KUInt64 HuffmanTableBytes(KUInt32 format)
{
    return format == kFormatHuffman10 ? (KUInt64(4) + 2) << kHuffmanBits10 : KUInt64(4) << kHuffmanBits8;
}

void CheckPixmapRows(const KPixmap* pixmap, const KQrlbImageSection& h, KUInt64 rowBytes)
{
    if (pixmap->GetRowBytes() < 0 || KUInt64(pixmap->GetRowBytes()) < rowBytes)
        throw KExceptionQrlbReader("ReadImageFixedLineLength() : pixmap's rows are too small for qrlb rows");
}

}  // namespace

void CheckImageSection(const KQrlbFile& file, const KQrlbImageSection& h, KUInt64 dataSize)
{
    if (h.columns > kMaxImageSide || h.rows > kMaxImageSide)
        file.Fail(KNarrowString("image of %u x %u pixels is larger than %u pixels a side", h.columns, h.rows,
                                kMaxImageSide)
                      .CStr());
    if (h.rowSize != 0) {
        const KUInt64 minimum = MinimumRowSize(h.dataFormat, h.columns);
        if (h.rowSize < minimum)
            file.Fail(KNarrowString("row size %u is too small for %u columns of data format %u (%llu bytes needed)",
                                    h.rowSize, h.columns, h.dataFormat, static_cast<unsigned long long>(minimum))
                          .CStr());
        const KUInt64 needed =
            KUInt64(h.rows) * h.rowSize + (h.dataFormat == kFormatDelta10 ? kDeltaTableEntries * 2 : 0);
        if (needed > dataSize)
            file.Fail(KNarrowString("image data of %llu bytes is too small for %u rows of %u bytes",
                                    static_cast<unsigned long long>(dataSize), h.rows, h.rowSize)
                          .CStr());
        return;
    }
    if (h.dataFormat != kFormatHuffman10 && h.dataFormat != kFormatHuffman8)
        return;  // refused by the variable-row decoder
    const KUInt64 tables = HuffmanTableBytes(h.dataFormat) + KUInt64(h.rows) * 4;
    if (tables > dataSize)
        file.Fail(KNarrowString("image data of %llu bytes is too small for its code tables and %u row offsets",
                                static_cast<unsigned long long>(dataSize), h.rows)
                      .CStr());
    // Every symbol takes at least one bit, and rows are padded to whole words.
    const KUInt64 leastRow = (KUInt64(h.columns) * 3 + 31) / 32 * 4;
    if (KUInt64(h.rows) * leastRow > dataSize - tables)
        file.Fail(KNarrowString("image data of %llu bytes cannot hold %u coded rows of %u columns",
                                static_cast<unsigned long long>(dataSize), h.rows, h.columns)
                      .CStr());
}

bool ReadImageFixedLineLength(KQrlbFile& file, KPixmap* pixmap, const KQrlbImageSection& h, KUInt64,
                              double* progress, KUInt8* cancel)
{
    QRLB_ASSERT(h.rowSize != 0, "h.m_iRowSize != 0");
    const KUInt32 rowSize = h.rowSize;
    const KUInt32 format = h.dataFormat;
    const bool buffered = format == kFormat30x10 || format == kFormatPacked12 || format == kFormatDelta10;
    CheckPixmapRows(pixmap, h, buffered ? KUInt64(h.columns) * 6 : rowSize);
    if (format == kFormat30x10 && h.rows > 0) {
        std::vector<KUInt8> line(rowSize);
        file.Read(line.data(), rowSize);
        throw KExceptionQrlbReader("ReadImageFixedLineLength() : resampling RGB32_10_2bpp pixels not supported yet.");
    }

    KInt16 table[kDeltaTableEntries];
    if (format == kFormatDelta10) {
        KUInt8 raw[kDeltaTableEntries * 2];
        file.Read(raw, sizeof raw);
        for (size_t i = 0; i < kDeltaTableEntries; ++i)
            table[i] = static_cast<KInt16>(ReadLE16(raw + 2 * i));
    }
    const KRowBands bands(0, static_cast<KInt32>(h.rows), kMinDecodeBandRows);
    auto decodeRow = [&](const KUInt8* in, KUInt8* dest) {
        if (format == kFormatPacked12)
            UnpackTwelveRow(in, h.columns, reinterpret_cast<KUInt16*>(dest));
        else if (format == kFormatDelta10)
            DeltaCodeRow(in, h.columns, table, reinterpret_cast<KInt16*>(dest));
    };
    if (bands.Count() == 1) {
        // With rows, the data holds rows x row size bytes, so the line buffer is no bigger than the section.
        std::vector<KUInt8> line(buffered && h.rows ? rowSize : 0);
        for (KUInt32 r = 0; r < h.rows; ++r) {
            KUInt8* dest = pixmap->GetRow(static_cast<KInt32>(r));
            file.Read(buffered ? line.data() : dest, rowSize);
            decodeRow(line.data(), dest);
            QrlbStoreProgress(progress, double(r) / double(h.rows));
            if (QrlbCancelled(cancel))
                break;
        }
        return !QrlbCancelled(cancel);
    }
    // Bands of rows decoded at once: the file is read by one band at a time, a few rows per read, and the rows
    // are unpacked outside the lock.
    const KUInt64 first = file.Position();
    std::mutex fileLock;
    std::atomic<KUInt32> decoded{0};
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        // With rows, the data holds rows x row size bytes, so the buffer is no bigger than the section.
        const KUInt32 chunkRows = std::min<KUInt32>(kDecodeChunkRows, static_cast<KUInt32>(end - begin));
        std::vector<KUInt8> chunk(buffered ? size_t(chunkRows) * rowSize : 0);
        for (KInt32 r = begin; r < end && !QrlbCancelled(cancel); r += static_cast<KInt32>(chunkRows)) {
            const KUInt32 count = std::min<KUInt32>(chunkRows, static_cast<KUInt32>(end - r));
            {
                std::lock_guard<std::mutex> lock(fileLock);
                file.Seek(first + KUInt64(r) * rowSize);
                if (buffered)
                    file.Read(chunk.data(), KUInt64(count) * rowSize);
                else
                    for (KUInt32 i = 0; i < count; ++i)
                        file.Read(pixmap->GetRow(r + static_cast<KInt32>(i)), rowSize);
            }
            for (KUInt32 i = 0; buffered && i < count; ++i)
                decodeRow(chunk.data() + size_t(i) * rowSize, pixmap->GetRow(r + static_cast<KInt32>(i)));
            const KUInt32 done = decoded.fetch_add(count, std::memory_order_relaxed) + count;
            if (band == 0)
                QrlbStoreProgress(progress, double(done) / double(h.rows));
        }
    });
    if (QrlbCancelled(cancel))
        return false;
    file.Seek(first + KUInt64(h.rows) * rowSize);
    return true;
}

bool ReadImageVariableLineLength(KQrlbFile& file, KPixmap* pixmap, const KQrlbImageSection& h, KUInt64 dataSize,
                                 double* progress, KUInt8* cancel)
{
    QRLB_ASSERT(h.rowSize == 0, "h.m_iRowSize == 0");
    const KUInt32 format = h.dataFormat;
    if (format != kFormatHuffman10 && format != kFormatHuffman8)
        throw KExceptionQrlbReader("ReadImageVariableLineLength: variable line length image type is not HUFFMAN!");
    const bool ten = format == kFormatHuffman10;
    const int bits = ten ? kHuffmanBits10 : kHuffmanBits8;
    const KUInt32 symbols = KUInt32(1) << bits;
    CheckPixmapRows(pixmap, h, KUInt64(h.columns) * (ten ? 6 : 3));

    const KUInt64 start = file.Position();
    const KUInt64 tables = HuffmanTableBytes(format) + KUInt64(h.rows) * 4;
    if (tables > dataSize)
        file.Fail("image data too small for its tables");
    const KUInt64 coded = dataSize - tables;
    QRLB_ASSERT((coded & 3) == 0, "(uiSizeHuffData&3) == 0");

    // Row offsets at the end of the data; the size of the coded rows ends the last row.
    std::vector<KUInt32> offsets(size_t(h.rows) + 1);
    {
        std::vector<KUInt8> raw(size_t(h.rows) * 4);
        file.ReadAt(start + dataSize - raw.size(), raw.data(), raw.size());
        for (KUInt32 r = 0; r < h.rows; ++r)
            offsets[r] = ReadLE32(raw.data() + size_t(r) * 4);
        offsets[h.rows] = static_cast<KUInt32>(coded);
    }
    KUInt32 longest = 0;
    for (KUInt32 r = 0; r < h.rows; ++r) {
        if (offsets[r] > coded)
            file.Fail(KNarrowString("row offset %u of row %u lies beyond the %llu coded bytes", offsets[r], r,
                                    static_cast<unsigned long long>(coded))
                          .CStr());
        if (offsets[r + 1] < offsets[r] || (offsets[r + 1] == offsets[r] && h.columns > 0))
            file.Fail(KNarrowString("row offsets do not increase: row %u starts at %u, row %u at %u", r, offsets[r],
                                    r + 1, offsets[r + 1])
                          .CStr());
        longest = std::max(longest, offsets[r + 1] - offsets[r]);
    }

    file.Seek(start);
    std::vector<KInt16> deltas(ten ? kDeltaTableEntries : 0);
    std::vector<KUInt8> raw(KUInt64(symbols) * 4);
    if (ten) {
        file.Read(raw.data(), kDeltaTableEntries * 2);
        for (size_t i = 0; i < kDeltaTableEntries; ++i)
            deltas[i] = static_cast<KInt16>(ReadLE16(raw.data() + 2 * i));
    }
    file.Read(raw.data(), raw.size());
    std::vector<KUInt32> codeTable(symbols);
    for (KUInt32 s = 0; s < symbols; ++s)
        codeTable[s] = ReadLE32(raw.data() + size_t(s) * 4);
    const KUInt64 codedStart = file.Position();
    const KUInt32 wanted = h.columns * 3;
    // Every row is coded on its own: a decoder per band of rows.
    struct RowDecoder {
        KHuffmanDecoder decoder;
        std::vector<KUInt16> out;
        RowDecoder(int bits, const std::vector<KUInt32>& table, KUInt32 wanted) : decoder(bits), out(wanted)
        {
            decoder.BeginDecode();
            decoder.SetTable(table.data(), static_cast<KUInt32>(table.size()));
        }
    };
    auto decodeRow = [&](RowDecoder& d, const KUInt8* in, KUInt32 length, KUInt32 r) {
        QRLB_ASSERT((length & 3) == 0, "(uiReadSize&3) == 0");
        if (wanted > 0) {
            KUInt32 position = 0, produced = 0, more = 0;
            d.decoder.Decode(in, length, position, d.out.data(), wanted, produced);
            if (produced < wanted) {
                d.decoder.Decode(nullptr, 0, position, d.out.data() + produced, wanted - produced, more);
                produced += more;
            }
            QRLB_ASSERT(produced == wanted, "oused==uiSizeDPCM");
            d.decoder.DecodeFlush();
        }
        KUInt8* dest = pixmap->GetRow(static_cast<KInt32>(r));
        if (ten)
            DeltaSymbolRow(d.out.data(), h.columns, deltas.data(), reinterpret_cast<KInt16*>(dest));
        else
            SumSymbolRow(d.out.data(), h.columns, dest);
    };

    const KRowBands bands(0, static_cast<KInt32>(h.rows), kMinDecodeBandRows);
    if (bands.Count() == 1) {
        RowDecoder d(bits, codeTable, wanted);
        std::vector<KUInt8> row(longest);
        for (KUInt32 r = 0; r < h.rows; ++r) {
            QRLB_ASSERT(file.Position() - codedStart == offsets[r],
                        "(uiFilePosNow-uiFilePosHuffDat) == pRowPtrTable[row]");
            const KUInt32 length = offsets[r + 1] - offsets[r];
            file.Read(row.data(), length);
            decodeRow(d, row.data(), length, r);
            QrlbStoreProgress(progress, double(r) / double(h.rows));
            if (QrlbCancelled(cancel))
                break;
        }
        return !QrlbCancelled(cancel);
    }
    // Bands of rows decoded at once, as the fixed rows are: a few rows' bytes read at a time under a lock.
    std::mutex fileLock;
    std::atomic<KUInt32> decoded{0};
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        RowDecoder d(bits, codeTable, wanted);
        std::vector<KUInt8> chunk;
        for (KInt32 r = begin; r < end && !QrlbCancelled(cancel); r += static_cast<KInt32>(kDecodeChunkRows)) {
            const KUInt32 count = std::min<KUInt32>(kDecodeChunkRows, static_cast<KUInt32>(end - r));
            const KUInt32 from = offsets[static_cast<size_t>(r)], to = offsets[static_cast<size_t>(r) + count];
            chunk.resize(to - from);
            {
                std::lock_guard<std::mutex> lock(fileLock);
                file.Seek(codedStart + from);
                file.Read(chunk.data(), to - from);
            }
            for (KUInt32 i = 0; i < count; ++i) {
                const KUInt32 row = static_cast<KUInt32>(r) + i;
                decodeRow(d, chunk.data() + (offsets[row] - from), offsets[row + 1] - offsets[row], row);
            }
            const KUInt32 done = decoded.fetch_add(count, std::memory_order_relaxed) + count;
            if (band == 0)
                QrlbStoreProgress(progress, double(done) / double(h.rows));
        }
    });
    if (QrlbCancelled(cancel))
        return false;
    file.Seek(codedStart + offsets[h.rows]);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Rows on demand

namespace {

class KQrlbRowsImpl final : public KQrlbImageRows {
public:
    KQrlbRowsImpl(KQrlbFile& file, const KQrlbImageSection& h, KUInt64 start, KUInt64 dataSize)
        : m_File(file), m_Section(h), m_PixelType(MapQrlbPixelFormatToKPixmapType(h.dataFormat))
    {
        if (h.rowSize != 0)
            priOpenFixed(start);
        else
            priOpenVariable(start, dataSize);
    }

    KInt32 GetWidth() const override { return static_cast<KInt32>(m_Section.columns); }
    KInt32 GetHeight() const override { return static_cast<KInt32>(m_Section.rows); }
    int GetPixelType() const override { return m_PixelType; }

    void ReadRows(KInt32 first, KInt32 count, KPixmap* pixmap) override
    {
        if (first < 0 || count < 0 || KUInt64(first) + KUInt64(count) > m_Section.rows)
            throw KExceptionQrlbReader("ReadRows() : rows outside the image");
        if (!pixmap || pixmap->GetPixelType() != m_PixelType || pixmap->GetWidth() < GetWidth() ||
            pixmap->GetHeight() < count)
            throw KExceptionQrlbReader("ReadRows() : pixmap does not fit the rows");
        if (count == 0)
            return;
        if (m_Section.rowSize != 0)
            priReadFixed(static_cast<KUInt32>(first), static_cast<KUInt32>(count), pixmap);
        else
            priReadVariable(static_cast<KUInt32>(first), static_cast<KUInt32>(count), pixmap);
    }

private:
    void priOpenFixed(KUInt64 start)
    {
        const KUInt32 format = m_Section.dataFormat;
        m_Buffered = format == kFormat30x10 || format == kFormatPacked12 || format == kFormatDelta10;
        m_MinRowBytes = m_Buffered ? KUInt64(m_Section.columns) * 6 : m_Section.rowSize;
        if (format == kFormat30x10 && m_Section.rows > 0)
            throw KExceptionQrlbReader("ReadImageFixedLineLength() : resampling RGB32_10_2bpp pixels not supported yet.");
        m_DataStart = start;
        if (format == kFormatDelta10) {
            KUInt8 raw[kDeltaTableEntries * 2];
            std::lock_guard<std::mutex> lock(m_Lock);
            m_File.ReadAt(start, raw, sizeof raw);
            m_Deltas.resize(kDeltaTableEntries);
            for (size_t i = 0; i < kDeltaTableEntries; ++i)
                m_Deltas[i] = static_cast<KInt16>(ReadLE16(raw + 2 * i));
            m_DataStart += sizeof raw;
        }
    }

    void priOpenVariable(KUInt64 start, KUInt64 dataSize)
    {
        const KUInt32 format = m_Section.dataFormat;
        if (format != kFormatHuffman10 && format != kFormatHuffman8)
            throw KExceptionQrlbReader("ReadImageVariableLineLength: variable line length image type is not HUFFMAN!");
        const bool ten = format == kFormatHuffman10;
        m_Bits = ten ? kHuffmanBits10 : kHuffmanBits8;
        m_MinRowBytes = KUInt64(m_Section.columns) * (ten ? 6 : 3);
        const KUInt32 symbols = KUInt32(1) << m_Bits;
        const KUInt64 tables = HuffmanTableBytes(format) + KUInt64(m_Section.rows) * 4;
        if (tables > dataSize)
            m_File.Fail("image data too small for its tables");
        const KUInt64 coded = dataSize - tables;
        QRLB_ASSERT((coded & 3) == 0, "(uiSizeHuffData&3) == 0");
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Offsets.resize(size_t(m_Section.rows) + 1);
        {
            std::vector<KUInt8> raw(size_t(m_Section.rows) * 4);
            m_File.ReadAt(start + dataSize - raw.size(), raw.data(), raw.size());
            for (KUInt32 r = 0; r < m_Section.rows; ++r)
                m_Offsets[r] = ReadLE32(raw.data() + size_t(r) * 4);
            m_Offsets[m_Section.rows] = static_cast<KUInt32>(coded);
        }
        for (KUInt32 r = 0; r < m_Section.rows; ++r) {
            if (m_Offsets[r] > coded)
                m_File.Fail(KNarrowString("row offset %u of row %u lies beyond the %llu coded bytes", m_Offsets[r],
                                          r, static_cast<unsigned long long>(coded))
                                .CStr());
            if (m_Offsets[r + 1] < m_Offsets[r] || (m_Offsets[r + 1] == m_Offsets[r] && m_Section.columns > 0))
                m_File.Fail(KNarrowString("row offsets do not increase: row %u starts at %u, row %u at %u", r,
                                          m_Offsets[r], r + 1, m_Offsets[r + 1])
                                .CStr());
        }
        std::vector<KUInt8> raw(KUInt64(symbols) * 4);
        KUInt64 at = start;
        if (ten) {
            m_File.ReadAt(at, raw.data(), kDeltaTableEntries * 2);
            m_Deltas.resize(kDeltaTableEntries);
            for (size_t i = 0; i < kDeltaTableEntries; ++i)
                m_Deltas[i] = static_cast<KInt16>(ReadLE16(raw.data() + 2 * i));
            at += kDeltaTableEntries * 2;
        }
        m_File.ReadAt(at, raw.data(), raw.size());
        m_CodeTable.resize(symbols);
        for (KUInt32 s = 0; s < symbols; ++s)
            m_CodeTable[s] = ReadLE32(raw.data() + size_t(s) * 4);
        m_DataStart = at + raw.size();
    }

    void priCheckRows(const KPixmap* pixmap) const
    {
        if (pixmap->GetRowBytes() < 0 || KUInt64(pixmap->GetRowBytes()) < m_MinRowBytes)
            throw KExceptionQrlbReader("ReadRows() : pixmap's rows are too small for the image's rows");
    }

    void priReadFixed(KUInt32 first, KUInt32 count, KPixmap* pixmap)
    {
        priCheckRows(pixmap);
        const KUInt32 rowSize = m_Section.rowSize;
        const KUInt64 at = m_DataStart + KUInt64(first) * rowSize;
        if (!m_Buffered) {
            std::lock_guard<std::mutex> lock(m_Lock);
            for (KUInt32 i = 0; i < count; ++i)
                m_File.ReadAt(at + KUInt64(i) * rowSize, pixmap->GetRow(static_cast<KInt32>(i)), rowSize);
            return;
        }
        thread_local std::vector<KUInt8> chunk;
        chunk.resize(size_t(count) * rowSize);
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            m_File.ReadAt(at, chunk.data(), chunk.size());
        }
        for (KUInt32 i = 0; i < count; ++i) {
            const KUInt8* in = chunk.data() + size_t(i) * rowSize;
            KUInt8* dest = pixmap->GetRow(static_cast<KInt32>(i));
            if (m_Section.dataFormat == kFormatPacked12)
                UnpackTwelveRow(in, m_Section.columns, reinterpret_cast<KUInt16*>(dest));
            else
                DeltaCodeRow(in, m_Section.columns, m_Deltas.data(), reinterpret_cast<KInt16*>(dest));
        }
    }

    void priReadVariable(KUInt32 first, KUInt32 count, KPixmap* pixmap)
    {
        priCheckRows(pixmap);
        const KUInt32 from = m_Offsets[first], to = m_Offsets[size_t(first) + count];
        thread_local std::vector<KUInt8> chunk;
        chunk.resize(to - from);
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            m_File.ReadAt(m_DataStart + from, chunk.data(), chunk.size());
        }
        const KUInt32 wanted = m_Section.columns * 3;
        KHuffmanDecoder decoder(static_cast<int>(m_Bits));
        decoder.BeginDecode();
        decoder.SetTable(m_CodeTable.data(), static_cast<KUInt32>(m_CodeTable.size()));
        thread_local std::vector<KUInt16> symbols;
        symbols.resize(wanted);
        for (KUInt32 i = 0; i < count; ++i) {
            const KUInt32 row = first + i;
            const KUInt32 length = m_Offsets[row + 1] - m_Offsets[row];
            QRLB_ASSERT((length & 3) == 0, "(uiReadSize&3) == 0");
            if (wanted > 0) {
                KUInt32 position = 0, produced = 0, more = 0;
                decoder.Decode(chunk.data() + (m_Offsets[row] - from), length, position, symbols.data(), wanted,
                               produced);
                if (produced < wanted) {
                    decoder.Decode(nullptr, 0, position, symbols.data() + produced, wanted - produced, more);
                    produced += more;
                }
                QRLB_ASSERT(produced == wanted, "oused==uiSizeDPCM");
                decoder.DecodeFlush();
            }
            KUInt8* dest = pixmap->GetRow(static_cast<KInt32>(i));
            if (m_Bits == kHuffmanBits10)
                DeltaSymbolRow(symbols.data(), m_Section.columns, m_Deltas.data(), reinterpret_cast<KInt16*>(dest));
            else
                SumSymbolRow(symbols.data(), m_Section.columns, dest);
        }
    }

    KQrlbFile& m_File;
    const KQrlbImageSection m_Section;
    const int m_PixelType;
    std::mutex m_Lock;  // the file's position belongs to one read at a time
    bool m_Buffered = false;
    KUInt64 m_MinRowBytes = 0;
    KUInt64 m_DataStart = 0;  // first row (fixed) or first coded byte (variable)
    KUInt32 m_Bits = 0;
    std::vector<KInt16> m_Deltas;
    std::vector<KUInt32> m_Offsets;
    std::vector<KUInt32> m_CodeTable;
};

}  // namespace

std::unique_ptr<KQrlbImageRows> OpenQrlbImageRows(KQrlbFile& file, const KQrlbImageSection& h, KUInt64 start,
                                                  KUInt64 dataSize)
{
    CheckImageSection(file, h, dataSize);
    return std::make_unique<KQrlbRowsImpl>(file, h, start, dataSize);
}
