// The default calibration as the generator puts it into a camera file: it describes that file's frame, and
// kzrgen writes it in every form.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CamdataTestSupport.h"
#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KPropTree.h"
#include "KzrStandard.h"
#include "LumoTestSupport.h"

namespace {

kzrsynth::StandardOptions Options()
{
    kzrsynth::StandardOptions o;
    o.width = 48;
    o.height = 32;
    o.seed = 5;
    o.defaultCalibration.on = true;
    return o;
}

}  // namespace

TEST(DefaultCalibrationFile, DescribesTheGeneratedFrame)
{
    const kzrsynth::StandardOptions o = Options();
    const kzrsynth::FileLayout layout = kzrsynth::StandardLayout(o);
    ASSERT_EQ(layout.cams.size(), 1u);
    ASSERT_EQ(layout.cams[0].type, 1u);
    const std::vector<uint8_t>& payload = layout.cams[0].payload;
    KCamdata c(payload.data(), payload.size());

    // The raw frame is the keep area; the header's columns and rows are the active area.
    const kzrsynth::Plane& raw = layout.images.at(0).plane;
    const kzrsynth::Plane& dark = layout.images.at(1).plane;
    const KRect keep = GetCamdataRect("KeepImageArea", c);
    const KRect active = GetCamdataRect("ActiveImageArea", c);
    EXPECT_EQ(keep, KRect(0, 0, raw.width, raw.height));
    EXPECT_EQ(active.Width(), static_cast<int>(layout.columns));
    EXPECT_EQ(active.Height(), static_cast<int>(layout.rows));
    EXPECT_EQ(active, KRect(6, 4, 44, 30));

    // Outside the active area the frame saw no light: raw minus dark is read noise only.
    for (int y = 0; y < raw.height; ++y)
        for (int x = 0; x < raw.width; ++x) {
            const bool inside = x >= active.left && x < active.right && y >= active.top && y < active.bottom;
            for (int ch = 0; ch < 3 && !inside; ++ch)
                ASSERT_LE(std::abs(raw.At(x, y, ch) - dark.At(x, y, ch)), 6) << x << "," << y;
        }
    // The shields lie in the masked borders, inside the frame.
    const KRect top = GetCamdataRect("DarkShieldTop", c);
    const KRect bottom = GetCamdataRect("DarkShieldBottom", c);
    EXPECT_EQ(top.bottom, active.top);
    EXPECT_EQ(top.top, 0);
    EXPECT_EQ(bottom.top, active.bottom);
    EXPECT_EQ(bottom.bottom, raw.height);
    const KUInt32 dims[] = {2, 2};
    const KCamdataMatrix* columns = c.FindMatrix("DarkShieldColRange", KCAMDATA_UINT32, 2, dims);
    ASSERT_TRUE(columns);
    const KUInt32* r = columns->Elements<KUInt32>();
    EXPECT_GE(r[0], 1u);
    EXPECT_LT(r[1], static_cast<KUInt32>(active.left));
    EXPECT_GE(r[2], static_cast<KUInt32>(active.right));
    EXPECT_LT(r[3], static_cast<KUInt32>(raw.width));
    const KCamdataMatrix* rows = c.FindMatrix("RawOffsetSourceRows", KCAMDATA_UINT32, 1, nullptr);
    ASSERT_TRUE(rows);
    EXPECT_LT(rows->Elements<KUInt32>()[1], static_cast<KUInt32>(active.top));

    // The sensor's hot pixels are its bad pixels.
    kzrsynth::SceneParams scene;
    scene.width = o.width;
    scene.height = o.height;
    scene.seed = o.seed;
    const std::vector<kzrsynth::HotPixel> hot = kzrsynth::HotPixels(scene);
    KUInt32 n = 0;
    const KUInt32* bad = GetCamdataBadPixels("BadPixels", c, &n);
    ASSERT_EQ(n, hot.size());
    for (KUInt32 i = 0; i < n; ++i) {
        EXPECT_EQ(static_cast<int>(bad[i] >> 20), hot[i].y);
        EXPECT_EQ(static_cast<int>((bad[i] >> 8) & 0xFFF), hot[i].x);
    }
    // Every switch of the processing steps is on; no illuminants unless asked for.
    EXPECT_GT(GetCamdataFloat("ChromaBlur", c), 200.0f);
    EXPECT_GT(GetCamdataFloat("RedSharpen", c), 0.0f);
    EXPECT_GT(GetCamdataFloat("SpatialDQ", c), 0.0f);
    EXPECT_GT(GetCamdataColorInt16("SaturationLevel", c)[1], 0);
    KPropTree tree(nullptr, "t");
    EXPECT_FALSE(c.GetPropertyList("WhiteBalanceIlluminants", &tree));
}

TEST(DefaultCalibrationFile, EveryFormAnswersAlike)
{
    const std::vector<uint8_t> plain = kzrsynth::StandardLayout(Options()).cams.at(0).payload;
    KCamdata reference(plain.data(), plain.size());
    const std::string expected = DescribeCamdata(reference);
    for (bool big : {false, true})
        for (bool blocks : {false, true}) {
            kzrsynth::StandardOptions o = Options();
            o.defaultCalibration.order = big ? KzrByteOrder::Big : KzrByteOrder::Little;
            o.defaultCalibration.bareBlocks = blocks;
            const std::vector<uint8_t> p = kzrsynth::StandardLayout(o).cams.at(0).payload;
            KCamdata c(p.data(), p.size());
            EXPECT_EQ(c.IsSwapped(), big);
            EXPECT_EQ(DescribeCamdata(c), expected) << big << blocks;
        }
    kzrsynth::StandardOptions lights = Options();
    lights.defaultCalibration.illuminants = true;
    lights.defaultCalibration.camType = 2;
    const kzrsynth::FileLayout layout = kzrsynth::StandardLayout(lights);
    EXPECT_EQ(layout.cams.at(0).type, 2u);
    KCamdata c(layout.cams[0].payload.data(), layout.cams[0].payload.size());
    KPropTree tree(nullptr, "t");
    EXPECT_TRUE(c.GetPropertyList("WhiteBalanceIlluminants", &tree));
    EXPECT_EQ(GetCamdataColorMatrix("CamToXYZ_Daylight", c), GetCamdataColorMatrix("CAMToXYZ", c));
}

TEST(DefaultCalibrationFile, Kzrgen)
{
    lumotest::TempDir dir;
    const std::string gen = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";
    const std::string dump = LUMO_BINARY_DIR "/Tools/kzrdump/kzrdump";
    const std::string file = (dir / "cal.kzr").string();
    ASSERT_EQ(lumotest::RunCommand(gen + " --size 40x24 --calibration default --calibration-order big"
                                         " --calibration-form blocks --calibration-illuminants " + file),
              0);
    const std::string text = lumotest::CommandOutput(dump + " " + file);
    EXPECT_NE(text.find("  columns: 30\n  rows: 18\n"), std::string::npos) << text;
    EXPECT_NE(text.find("calibration sections: 1\n  0  type 1  size "), std::string::npos) << text;
    EXPECT_NE(text.find("begins \"MbMC\""), std::string::npos) << text;  // a big-endian matrix block first
    EXPECT_NE(text.find("0  40 x 24  image type 1 (raw)"), std::string::npos) << text;

    // Too small a frame for the shields is refused with a message, and no file is left.
    const std::string small = (dir / "small.kzr").string();
    EXPECT_NE(lumotest::RunCommand(gen + " --size 10x5 --calibration default " + small + " 2>/dev/null"), 0);
    EXPECT_FALSE(std::filesystem::exists(small));
    EXPECT_NE(lumotest::RunCommand(gen + " --calibration-order middle " + small + " 2>/dev/null"), 0);
}
