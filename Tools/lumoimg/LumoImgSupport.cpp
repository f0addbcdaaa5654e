#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KXMLParser.h"
#include "LumoImg.h"

LumoImgArgs::LumoImgArgs(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
                         const std::vector<std::string>& flags)
{
    auto listed = [](const std::vector<std::string>& list, const std::string& name) {
        for (const std::string& s : list)
            if (s == name)
                return true;
        return false;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            std::string name = a.substr(2);
            if (listed(valueOptions, name)) {
                if (i + 1 >= args.size())
                    throw LumoImgUsageError{"option --" + name + " needs a value"};
                m_Options[name] = args[++i];
            } else if (listed(flags, name)) {
                m_Options[name] = "";
            } else {
                throw LumoImgUsageError{"unknown option " + a};
            }
        } else {
            m_Positional.push_back(a);
        }
    }
}

std::string LumoImgArgs::Get(const std::string& option, const std::string& fallback) const
{
    auto it = m_Options.find(option);
    return it == m_Options.end() ? fallback : it->second;
}

int LumoImgArgs::GetInt(const std::string& option, int fallback, int low, int high) const
{
    auto it = m_Options.find(option);
    if (it == m_Options.end())
        return fallback;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 10);
    if (it->second.empty() || *end != 0 || v < low || v > high)
        throw LumoImgUsageError{"--" + option + " takes a number from " + std::to_string(low) + " to " +
                                std::to_string(high)};
    return static_cast<int>(v);
}

void LumoImgStartStorage()
{
    RegisterDiskStorageClass();
}

KWString LumoImgURL(const std::string& path)
{
    KWString url;
    if (!PosixFileToURL(path, url))
        throw std::runtime_error("cannot name '" + path + "' as a storage URL");
    return url;
}

LumoImgImage::LumoImgImage(int pixelType, int32_t width, int32_t height)
{
    const size_t rowBytes = static_cast<size_t>(KPixelTypeBytes(pixelType)) * static_cast<size_t>(width);
    m_Pixels.resize(rowBytes * static_cast<size_t>(height));
    const int32_t stride = static_cast<int32_t>(rowBytes);
    if (pixelType == kPixelType8Mono)
        m_pPixmap = std::make_unique<KPixmapTemplate<KPixelClass8Mono>>(m_Pixels.data(), width, height, stride);
    else if (pixelType == kPixelType24RGB)
        m_pPixmap = std::make_unique<KPixmapTemplate<KPixelClass24RGB>>(m_Pixels.data(), width, height, stride);
    else if (pixelType == kPixelType48RGB)
        m_pPixmap = std::make_unique<KPixmapTemplate<KPixelClass48RGB>>(m_Pixels.data(), width, height, stride);
    else
        throw std::runtime_error("unsupported pixel type " + std::to_string(pixelType));
}

std::vector<uint8_t> LumoImgReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read '" + path + "'");
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {

// The next header number of a PNM file, after white space and comments.
long PnmNumber(const std::vector<uint8_t>& bytes, size_t& pos, const std::string& path)
{
    for (;;) {
        while (pos < bytes.size() && std::isspace(bytes[pos]))
            ++pos;
        if (pos < bytes.size() && bytes[pos] == '#') {
            while (pos < bytes.size() && bytes[pos] != '\n')
                ++pos;
            continue;
        }
        break;
    }
    long v = 0;
    size_t start = pos;
    while (pos < bytes.size() && std::isdigit(bytes[pos]) && v < 1000000)
        v = v * 10 + (bytes[pos++] - '0');
    if (pos == start)
        throw std::runtime_error("'" + path + "': bad PNM header at byte " + std::to_string(start));
    return v;
}

}  // namespace

std::unique_ptr<LumoImgImage> LumoImgReadPnm(const std::string& path)
{
    std::vector<uint8_t> bytes = LumoImgReadFile(path);
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        throw std::runtime_error("'" + path + "' is not a binary PGM or PPM file");
    const int type = bytes[1] == '5' ? kPixelType8Mono : kPixelType24RGB;
    size_t pos = 2;
    long width = PnmNumber(bytes, pos, path);
    long height = PnmNumber(bytes, pos, path);
    long maxValue = PnmNumber(bytes, pos, path);
    if (width < 1 || height < 1 || width > 65500 || height > 65500)
        throw std::runtime_error("'" + path + "': size " + std::to_string(width) + " x " + std::to_string(height) +
                                 " out of range");
    if (maxValue < 1 || maxValue > 255)
        throw std::runtime_error("'" + path + "': only 8-bit samples are read (maximum " + std::to_string(maxValue) + ")");
    ++pos;  // the one white-space byte before the samples
    const size_t need = static_cast<size_t>(width) * height * KPixelTypeBytes(type);
    if (pos > bytes.size() || bytes.size() - pos < need)
        throw std::runtime_error("'" + path + "': " + std::to_string(need) + " bytes of samples expected, " +
                                 std::to_string(bytes.size() - std::min(pos, bytes.size())) + " found");
    auto image = std::make_unique<LumoImgImage>(type, static_cast<int32_t>(width), static_cast<int32_t>(height));
    std::copy(bytes.begin() + pos, bytes.begin() + pos + need, image->Pixmap().GetRow(0));
    return image;
}

void LumoImgWritePnm(const std::string& path, const KPixmap& pixmap)
{
    const int type = pixmap.GetPixelType();
    if (type != kPixelType8Mono && type != kPixelType24RGB)
        throw std::runtime_error("only grey and 24-bit RGB images are written as PNM");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot create '" + path + "'");
    bool ok = std::fprintf(f, "P%c\n%d %d\n255\n", type == kPixelType8Mono ? '5' : '6', pixmap.GetWidth(),
                           pixmap.GetHeight()) > 0;
    const size_t rowBytes = static_cast<size_t>(pixmap.GetWidth()) * KPixelTypeBytes(type);
    for (int32_t y = 0; ok && y < pixmap.GetHeight(); ++y)
        ok = std::fwrite(pixmap.GetRow(y), 1, rowBytes, f) == rowBytes;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        throw std::runtime_error("cannot write '" + path + "'");
}

std::unique_ptr<KPropTree> LumoImgReadProperties(const std::string& path)
{
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(LumoImgURL(path), leaf, false));
    if (!folder || leaf.IsEmpty())
        throw std::runtime_error("cannot open the property file '" + path + "'");
    KXMLParser parser;
    std::unique_ptr<KPropTree> root(parser.Load(folder.get(), leaf));
    if (!root)
        throw std::runtime_error("the property file '" + path + "' is empty");
    // The first "ImageProps" element, depth first; else the root.
    std::vector<KPropTree*> work{root.get()};
    while (!work.empty()) {
        KPropTree* node = work.back();
        work.pop_back();
        if (node->GetName() == "ImageProps") {
            auto props = std::make_unique<KPropTree>(nullptr, "ImageProps");
            props->CopyPairsFrom(node);
            return props;
        }
        std::vector<KPropTree*> children;
        for (KPropTree* c = node->GetFirstChild(); c; c = c->GetNextSibling())
            children.push_back(c);
        work.insert(work.end(), children.rbegin(), children.rend());
    }
    return root;
}

void LumoImgPrintProperties(const KPropTree& tree)
{
    for (KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        std::printf("%s=%s\n", WideToUtf8(p->GetKey()).c_str(), WideToUtf8(p->GetValue()).c_str());
}

std::unique_ptr<LumoImgImage> LumoImgThumbnail(const KPixmap& image, int32_t size)
{
    const int32_t w = image.GetWidth(), h = image.GetHeight();
    int32_t tw = w, th = h;
    if (w > size || h > size) {
        if (w >= h) {
            tw = size;
            th = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(h) * size / w));
        } else {
            th = size;
            tw = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(w) * size / h));
        }
    }
    const int channels = KPixelTypeBytes(image.GetPixelType());
    auto thumb = std::make_unique<LumoImgImage>(image.GetPixelType(), tw, th);
    for (int32_t ty = 0; ty < th; ++ty) {
        const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(ty) * h / th);
        const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(static_cast<int64_t>(ty + 1) * h / th));
        for (int32_t tx = 0; tx < tw; ++tx) {
            const int32_t x0 = static_cast<int32_t>(static_cast<int64_t>(tx) * w / tw);
            const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(static_cast<int64_t>(tx + 1) * w / tw));
            for (int c = 0; c < channels; ++c) {
                uint64_t sum = 0;
                for (int32_t y = y0; y < y1; ++y)
                    for (int32_t x = x0; x < x1; ++x)
                        sum += image.GetRow(y)[x * channels + c];
                const uint64_t n = static_cast<uint64_t>(y1 - y0) * static_cast<uint64_t>(x1 - x0);
                thumb->Pixmap().GetRow(ty)[tx * channels + c] = static_cast<uint8_t>((sum + n / 2) / n);
            }
        }
    }
    return thumb;
}
