// mkskins OUTDIR: draws every image the generic controls need as flat colours, one colour per state or part,
// and lists them in OUTDIR/skins.txt ("FILE WIDTH HEIGHT SAMPLE X Y #RRGGBBAA", one sample a line). Corners
// that alpha hit tests look at are transparent. The output depends on nothing but this code.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KException.h"
#include "KPNGWriter.h"
#include "KPixmapDisplay.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KStorageURL.h"

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

constexpr Rgba kClear{0, 0, 0, 0};

// A picture in memory, bytes B, G, R, A.
class Canvas {
public:
    Canvas(int32_t width, int32_t height) : m_Width(width), m_Height(height), m_Pixels(size_t(width) * height * 4, 0) {}

    int32_t Width() const { return m_Width; }
    int32_t Height() const { return m_Height; }
    // [x0, x1) x [y0, y1), cut to the picture.
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Rgba c)
    {
        for (int32_t y = std::max(0, y0); y < std::min(y1, m_Height); ++y)
            for (int32_t x = std::max(0, x0); x < std::min(x1, m_Width); ++x)
                Set(x, y, c);
    }
    void Fill(Rgba c) { Fill(0, 0, m_Width, m_Height, c); }
    void Set(int32_t x, int32_t y, Rgba c)
    {
        uint8_t* p = &m_Pixels[(size_t(y) * m_Width + x) * 4];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        p[3] = c.a;
    }
    Rgba Get(int32_t x, int32_t y) const
    {
        const uint8_t* p = &m_Pixels[(size_t(y) * m_Width + x) * 4];
        return {p[2], p[1], p[0], p[3]};
    }
    // The four corners made transparent, n x n each.
    void ClearCorners(int32_t n)
    {
        Fill(0, 0, n, n, kClear);
        Fill(m_Width - n, 0, m_Width, n, kClear);
        Fill(0, m_Height - n, n, m_Height, kClear);
        Fill(m_Width - n, m_Height - n, m_Width, m_Height, kClear);
    }
    uint8_t* Data() { return m_Pixels.data(); }

private:
    int32_t m_Width;
    int32_t m_Height;
    std::vector<uint8_t> m_Pixels;
};

struct Sample {
    const char* name;
    int32_t x, y;
};

class Writer {
public:
    explicit Writer(std::string folder) : m_Folder(std::move(folder)) {}

    // Writes the picture and lists its samples; false (reported) when the file cannot be written.
    bool Put(const char* file, Canvas& canvas, std::initializer_list<Sample> samples)
    {
        const std::string path = m_Folder + "/" + file;
        KWString url;
        if (!PosixFileToURL(path, url)) {
            std::fprintf(stderr, "mkskins: cannot name %s\n", path.c_str());
            return false;
        }
        KPixmap_Display view(canvas.Data(), canvas.Width(), canvas.Height(), canvas.Width() * 4);
        try {
            SavePNGPixmap(view, url);
        } catch (const KException& e) {
            std::fprintf(stderr, "mkskins: %s: %s (%s)\n", path.c_str(), e.GetMessage(), e.GetDescription());
            return false;
        }
        for (const Sample& s : samples) {
            const Rgba c = canvas.Get(s.x, s.y);
            char line[200];
            std::snprintf(line, sizeof line, "%s %d %d %s %d %d #%02X%02X%02X%02X\n", file, canvas.Width(),
                          canvas.Height(), s.name, s.x, s.y, c.r, c.g, c.b, c.a);
            m_List += line;
        }
        return true;
    }
    // Writes skins.txt under a temporary name, then renames it.
    bool Finish()
    {
        const std::string path = m_Folder + "/skins.txt", temp = path + ".tmp";
        FILE* f = std::fopen(temp.c_str(), "wb");
        if (!f) {
            std::fprintf(stderr, "mkskins: cannot create %s: %s\n", temp.c_str(), std::strerror(errno));
            return false;
        }
        const bool written = std::fwrite(m_List.data(), 1, m_List.size(), f) == m_List.size();
        const bool closed = std::fclose(f) == 0;
        if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
            std::fprintf(stderr, "mkskins: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            std::remove(temp.c_str());
            return false;
        }
        return true;
    }

private:
    std::string m_Folder;
    std::string m_List;
};

// A face of one flat colour with a darker one-pixel border and transparent 2 x 2 corners.
Canvas Face(int32_t w, int32_t h, Rgba c, Rgba border)
{
    Canvas k(w, h);
    k.Fill(border);
    k.Fill(1, 1, w - 1, h - 1, c);
    k.ClearCorners(2);
    return k;
}

// An arrow button: flat face with a triangle of the mark colour pointing left, right, up or down.
Canvas Arrow(int32_t size, Rgba c, Rgba mark, char direction)
{
    Canvas k(size, size);
    k.Fill(c);
    const int32_t m = size / 2;
    for (int32_t i = 0; i < m - 2; ++i) {
        // Row i of the triangle, from its tip, is 2i + 1 wide.
        const int32_t tip = 3 + i;
        for (int32_t j = -i; j <= i; ++j) {
            switch (direction) {
            case 'L': k.Set(tip, m + j, mark); break;
            case 'R': k.Set(size - 1 - tip, m + j, mark); break;
            case 'U': k.Set(m + j, tip, mark); break;
            default: k.Set(m + j, size - 1 - tip, mark); break;
            }
        }
    }
    return k;
}

// A 16 x 16 cursor: transparent, with a shape of the colour and a one-pixel hot-spot mark at (8, 8).
Canvas Cursor(Rgba c, char shape)
{
    Canvas k(16, 16);
    if (shape == 'D') {  // divider: a double bar
        k.Fill(6, 1, 8, 15, c);
        k.Fill(9, 1, 11, 15, c);
    } else if (shape == 'N') {  // no drop: a square ring
        k.Fill(2, 2, 14, 14, c);
        k.Fill(5, 5, 11, 11, kClear);
    } else {  // drop: a plus
        k.Fill(7, 2, 9, 14, c);
        k.Fill(2, 7, 14, 9, c);
    }
    k.Set(8, 8, Rgba{255, 255, 255, 255});
    return k;
}

bool MakeAll(Writer& out)
{
    bool ok = true;
    const Rgba dark{32, 32, 32, 255};

    // Buttons: one face per state.
    struct State {
        const char* file;
        Rgba c;
    };
    for (const State& s : {State{"button_normal.png", {64, 96, 192, 255}}, State{"button_pressed.png", {32, 48, 128, 255}},
                           State{"button_over.png", {96, 144, 240, 255}}, State{"button_disabled.png", {160, 160, 160, 255}}}) {
        Canvas k = Face(48, 20, s.c, dark);
        ok = out.Put(s.file, k, {{"centre", 24, 10}, {"corner", 0, 0}}) && ok;
    }

    // Scroll bars: four arrows of one size per set, the thumb with its stretchable centre, the knurls.
    const int32_t arrow = 13;
    struct ArrowFile {
        const char* file;
        Rgba c;
        char direction;
    };
    for (const ArrowFile& a : {ArrowFile{"hscroll_a_normal.png", {200, 200, 210, 255}, 'L'},
                               ArrowFile{"hscroll_a_pressed.png", {150, 150, 170, 255}, 'L'},
                               ArrowFile{"hscroll_b_normal.png", {200, 210, 200, 255}, 'R'},
                               ArrowFile{"hscroll_b_pressed.png", {150, 170, 150, 255}, 'R'},
                               ArrowFile{"vscroll_a_normal.png", {210, 200, 200, 255}, 'U'},
                               ArrowFile{"vscroll_a_pressed.png", {170, 150, 150, 255}, 'U'},
                               ArrowFile{"vscroll_b_normal.png", {210, 210, 190, 255}, 'D'},
                               ArrowFile{"vscroll_b_pressed.png", {170, 170, 140, 255}, 'D'}}) {
        Canvas k = Arrow(arrow, a.c, dark, a.direction);
        ok = out.Put(a.file, k, {{"face", 1, 1}, {"mark", arrow / 2, arrow / 2}}) && ok;
    }
    {
        // Thumb: 4-pixel ends of one colour around a centre of another (resize rect 4, 4, 15, 8 inclusive).
        Canvas h(20, arrow);
        h.Fill(Rgba{90, 90, 110, 255});
        h.Fill(4, 4, 16, 9, Rgba{120, 120, 150, 255});
        ok = out.Put("hscroll_thumb.png", h, {{"end", 1, 1}, {"centre", 10, 6}}) && ok;
        Canvas v(arrow, 20);
        v.Fill(Rgba{110, 90, 90, 255});
        v.Fill(4, 4, 9, 16, Rgba{150, 120, 120, 255});
        ok = out.Put("vscroll_thumb.png", v, {{"end", 1, 1}, {"centre", 6, 10}}) && ok;
        Canvas hk(7, 9);
        for (int32_t x = 0; x < 7; x += 2)
            hk.Fill(x, 0, x + 1, 9, Rgba{40, 40, 60, 255});
        ok = out.Put("hscroll_knurls.png", hk, {{"line", 0, 4}, {"gap", 1, 4}}) && ok;
        Canvas vk(9, 7);
        for (int32_t y = 0; y < 7; y += 2)
            vk.Fill(0, y, 9, y + 1, Rgba{60, 40, 40, 255});
        ok = out.Put("vscroll_knurls.png", vk, {{"line", 4, 0}, {"gap", 4, 1}}) && ok;
    }

    // Pull-down list: four button states of one size and a nine-part frame (centre 4, 4, 11, 11 inclusive).
    for (const State& s : {State{"pulldown_normal.png", {220, 220, 220, 255}}, State{"pulldown_over.png", {235, 235, 200, 255}},
                           State{"pulldown_pressed.png", {180, 180, 180, 255}},
                           State{"pulldown_disabled.png", {200, 190, 190, 255}}}) {
        Canvas k = Arrow(16, s.c, dark, 'D');
        ok = out.Put(s.file, k, {{"face", 1, 1}, {"mark", 8, 8}}) && ok;
    }
    {
        Canvas k(16, 16);
        k.Fill(Rgba{60, 60, 60, 255});
        k.Fill(4, 4, 12, 12, Rgba{250, 250, 250, 255});
        ok = out.Put("pulldown_frame.png", k, {{"border", 0, 8}, {"centre", 8, 8}}) && ok;
    }

    // Slider: track, knob and pressed knob of one size, knob corners transparent.
    {
        Canvas bg(120, 10);
        bg.Fill(Rgba{140, 160, 140, 255});
        bg.Fill(0, 4, 120, 6, Rgba{70, 90, 70, 255});
        ok = out.Put("slider_bg.png", bg, {{"track", 60, 1}, {"groove", 60, 4}}) && ok;
        Canvas vbg(10, 120);
        vbg.Fill(Rgba{140, 160, 140, 255});
        vbg.Fill(4, 0, 6, 120, Rgba{70, 90, 70, 255});
        ok = out.Put("slider_vbg.png", vbg, {{"track", 1, 60}, {"groove", 4, 60}}) && ok;
        Canvas knob = Face(10, 16, Rgba{230, 120, 40, 255}, dark);
        ok = out.Put("slider_knob.png", knob, {{"centre", 5, 8}, {"corner", 0, 0}}) && ok;
        Canvas down = Face(10, 16, Rgba{170, 80, 20, 255}, dark);
        ok = out.Put("slider_knob_down.png", down, {{"centre", 5, 8}, {"corner", 0, 0}}) && ok;
    }

    // Check box: on, off and disabled of one size.
    for (const State& s : {State{"check_on.png", {40, 160, 40, 255}}, State{"check_off.png", {240, 240, 240, 255}},
                           State{"check_disabled.png", {190, 190, 190, 255}}}) {
        Canvas k = Face(13, 13, s.c, dark);
        ok = out.Put(s.file, k, {{"centre", 6, 6}, {"corner", 0, 0}}) && ok;
    }

    // Tree: the seven icons.
    for (const State& s : {State{"tree_disk.png", {120, 120, 140, 255}}, State{"tree_removable.png", {140, 120, 120, 255}},
                           State{"tree_cdrom.png", {200, 200, 230, 255}}, State{"tree_folder.png", {230, 200, 80, 255}},
                           State{"tree_folder_open.png", {250, 220, 120, 255}}, State{"tree_closed.png", {80, 80, 80, 255}},
                           State{"tree_open.png", {20, 20, 20, 255}}}) {
        Canvas k(16, 16);
        k.Fill(2, 2, 14, 14, s.c);
        ok = out.Put(s.file, k, {{"centre", 8, 8}, {"corner", 0, 0}}) && ok;
    }

    // Film strip: ten 16 x 16 frames stacked top to bottom, each its own colour with a transparent 4 x 4
    // top-left corner.
    {
        Canvas k(16, 160);
        for (int32_t i = 0; i < 10; ++i) {
            k.Fill(0, i * 16, 16, i * 16 + 16,
                   Rgba{uint8_t(20 + 23 * i), uint8_t(230 - 21 * i), uint8_t(i % 2 ? 200 : 60), 255});
            k.Fill(0, i * 16, 4, i * 16 + 4, kClear);
        }
        ok = out.Put("filmstrip.png", k,
                     {{"frame0", 8, 8}, {"frame1", 8, 24}, {"frame9", 8, 152}, {"clear", 1, 1}}) && ok;
    }

    // Progress bar: background and a striped foreground of the same size.
    {
        Canvas bg(100, 12);
        bg.Fill(Rgba{210, 210, 220, 255});
        ok = out.Put("progress_bg.png", bg, {{"centre", 50, 6}}) && ok;
        Canvas fg(100, 12);
        for (int32_t x = 0; x < 100; ++x)
            fg.Fill(x, 0, x + 1, 12, (x / 4) % 2 ? Rgba{40, 120, 220, 255} : Rgba{80, 170, 250, 255});
        ok = out.Put("progress_fg.png", fg, {{"stripe0", 1, 6}, {"stripe1", 5, 6}}) && ok;
    }

    // Nine-part frame: corners, edges and centre in three colours (inside rect 8, 8, 15, 15 inclusive).
    {
        Canvas k(24, 24);
        k.Fill(Rgba{40, 40, 90, 255});
        k.Fill(8, 0, 16, 24, Rgba{90, 90, 160, 255});
        k.Fill(0, 8, 24, 16, Rgba{90, 90, 160, 255});
        k.Fill(8, 8, 16, 16, Rgba{230, 230, 250, 255});
        ok = out.Put("frame9.png", k, {{"corner", 2, 2}, {"edge", 12, 2}, {"centre", 12, 12}}) && ok;
    }

    // Cursors, 16 x 16.
    {
        Canvas d = Cursor(Rgba{0, 0, 0, 255}, 'D');
        ok = out.Put("cursor_divider.png", d, {{"bar", 6, 4}, {"clear", 0, 0}}) && ok;
        Canvas n = Cursor(Rgba{200, 0, 0, 255}, 'N');
        ok = out.Put("cursor_nodrop.png", n, {{"ring", 3, 3}, {"clear", 0, 0}}) && ok;
        Canvas y = Cursor(Rgba{0, 150, 0, 255}, 'Y');
        ok = out.Put("cursor_drop.png", y, {{"plus", 7, 3}, {"clear", 0, 0}}) && ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: mkskins OUTDIR\n");
        return 1;
    }
    const std::string folder = argv[1];
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "mkskins: cannot create %s: %s\n", folder.c_str(), std::strerror(errno));
        return 1;
    }
    RegisterDiskStorageClass();
    Writer out(folder);
    const bool ok = MakeAll(out) && out.Finish();
    ShutdownStorageClasses();
    return ok ? 0 : 1;
}
