#include "image/imagefile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/bmp.h"
#include "base/memorybudget.h"
#include "terrain/truescale.h"
#include "tests/support/tiffbytes.h"
#include "base/error.h"
#include "tests/support/bmp24.h"
#include "tests/support/images.h"
#include "tests/support/pngfile.h"

namespace talorin {
namespace {

using testsupport::PixelsOf;

ImageKind kindOf(const std::string& b) {
    return SniffImageKind(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

TEST(SniffImageKind, TellsTheKindByTheFirstBytes) {
    EXPECT_EQ(kindOf("BM"), ImageKind::Bmp);
    EXPECT_EQ(kindOf("\x89PNG\r\n\x1a\n"), ImageKind::Png);
    EXPECT_EQ(kindOf("\x89PNG"), ImageKind::Png); // cut short: the PNG reader says so
    EXPECT_EQ(kindOf("P5"), ImageKind::Pnm);
    EXPECT_EQ(kindOf("P6\n"), ImageKind::Pnm);
    EXPECT_EQ(kindOf("P1"), ImageKind::Pnm); // read as a kind we do not support
    EXPECT_EQ(kindOf(""), ImageKind::Unknown);
    EXPECT_EQ(kindOf("B"), ImageKind::Unknown);
    EXPECT_EQ(kindOf("P8"), ImageKind::Unknown);
    EXPECT_EQ(kindOf("GIF89a"), ImageKind::Unknown);
    EXPECT_EQ(kindOf("\xff\xd8\xff"), ImageKind::Unknown);
}

class ImageFile : public testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("talorin_imagefile_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = (m_dir / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        EXPECT_TRUE(out.good());
        return path;
    }

    std::filesystem::path m_dir;
};

std::string loadError(const std::string& path) {
    return testsupport::ErrorTextOf([&] { LoadImageFile(path); });
}

ErrorKind loadErrorKind(const std::string& path) {
    try {
        LoadImageFile(path);
    } catch (const Error& e) {
        return e.kind();
    }
    ADD_FAILURE() << path << " loaded";
    return ErrorKind::BadInput;
}

std::string bmpLoadError(const std::string& path) {
    return testsupport::ErrorTextOf([&] { LoadBmpFile(path); });
}

Rgb pixelAt(int x, int y) {
    return {std::uint8_t(x * 60), std::uint8_t(y * 90), std::uint8_t(x + y)};
}

TEST_F(ImageFile, TheContentDecidesNotTheName) {
    const std::string bmp = testsupport::Bmp24Bytes(3, 2, pixelAt);
    testsupport::PngWriter png;
    png.width = 3;
    png.height = 2;
    png.colourType = testsupport::kPngRgb;
    std::string ppm = "P6 3 2 255\n";
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const Rgb c = pixelAt(x, y);
            png.samples.insert(png.samples.end(), {c.r, c.g, c.b});
            ppm += {char(c.r), char(c.g), char(c.b)};
        }
    }
    const std::vector<Rgb> expected = PixelsOf(LoadBmpFile(write("real.bmp", bmp)));
    EXPECT_EQ(PixelsOf(LoadImageFile(write("png.bmp", png.build()))), expected);
    EXPECT_EQ(PixelsOf(LoadImageFile(write("bmp.png", bmp))), expected);
    EXPECT_EQ(PixelsOf(LoadImageFile(write("ppm.png", ppm))), expected);
    EXPECT_EQ(PixelsOf(LoadImageFile(write("no extension", png.build()))), expected);
}

TEST_F(ImageFile, ErrorsNameTheFileAndTheReason) {
    const std::string missing = (m_dir / "ない.png").string();
    EXPECT_EQ(loadError(missing), missing + " を読み込めません: ファイルを開けません");
    EXPECT_EQ(loadError(m_dir.string()),
              m_dir.string() + " を読み込めません: ファイルを開けません");
    const std::string text = write("readme.bmp", "hello");
    EXPECT_EQ(loadError(text), text + " を読み込めません: 読める画像ファイルではありません"
                                      "（読めるのは BMP、PNG、PGM、PPM、TIFF です）");
    const std::string empty = write("empty.png", "");
    EXPECT_EQ(loadError(empty), empty + " を読み込めません: 読める画像ファイルではありません"
                                        "（読めるのは BMP、PNG、PGM、PPM、TIFF です）");
    const std::string png = write("cut.png", "\x89PNG\r\n");
    EXPECT_EQ(loadError(png), png + " を読み込めません: ファイルが途中で切れています");
    EXPECT_EQ(loadErrorKind(missing), ErrorKind::Io);
    EXPECT_EQ(loadErrorKind(text), ErrorKind::BadInput);
    EXPECT_EQ(loadErrorKind(png), ErrorKind::BadInput);
    const std::string pgm = write("flat.pgm", "P5 2 2 0\n");
    EXPECT_EQ(loadError(pgm),
              pgm + " を読み込めません: PGM/PPM の最大値が正しくありません（1 から 65535 まで）");
}

TEST_F(ImageFile, BrokenBmpFilesGiveTheBmpReadersTexts) {
    const std::string bmp = testsupport::Bmp24Bytes(3, 2, pixelAt);
    for (const std::size_t cut : {std::size_t(2), std::size_t(20), bmp.size() - 4}) {
        const std::string path = write("cut" + std::to_string(cut) + ".bmp", bmp.substr(0, cut));
        EXPECT_EQ(loadError(path), bmpLoadError(path));
        EXPECT_NE(loadError(path).find(" を読み込めません: "), std::string::npos);
    }
}

// The 16-bit sample is the 8-bit sample's terrain with finer steps: every level
// rounds to the BMP's grey, and the slopes hold levels between the BMP's steps.
TEST(SampleImages, SixteenBitMountainRefinesTheEightBitOne) {
    const std::string folder = TALORIN_SAMPLES_DIR "/";
    const Bitmap bmp = LoadImageFile(folder + "mountain.bmp");
    const Bitmap png = LoadImageFile(folder + "mountain16.png");
    ASSERT_EQ(png.width(), bmp.width());
    ASSERT_EQ(png.height(), bmp.height());
    ASSERT_EQ(png.levelMax(), 196605u);
    int between = 0;
    for (int y = 0; y < png.height(); ++y) {
        for (int x = 0; x < png.width(); ++x) {
            const std::uint32_t grey16 = png.level(x, y) / 3;
            const std::uint8_t grey8 = bmp.pixel(x, y).r;
            ASSERT_EQ(png.level(x, y), 3 * grey16);
            ASSERT_LE(std::abs(int(grey16) - int(grey8) * 257), 257 / 2 + 1) << x << ", " << y;
            between += grey16 % 257 != 0;
        }
    }
    EXPECT_GT(between, png.width() * png.height() / 2);
}


// --- TIFF -------------------------------------------------------------------

using testsupport::TiffBytes;
using testsupport::TiffField;
using testsupport::TiffRasterFields;

// Samples as the file stores them, little-endian, of bits and format.
std::string TiffSamples(const std::vector<double>& values, int bits, int format) {
    std::string out;
    for (double v : values) {
        char b[8];
        if (format == 3 && bits == 32) {
            const float f = float(v);
            std::memcpy(b, &f, 4);
        } else if (format == 3) {
            std::memcpy(b, &v, 8);
        } else {
            const auto i = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
            std::memcpy(b, &i, 8);
        }
        out.append(b, std::size_t(bits / 8));
    }
    return out;
}

// A projected GeoTIFF of metres: keys for a projected model in metres, square pixels.
void AddGeoFields(std::vector<TiffField>& fields, double pixel) {
    fields.push_back({33550, 12, {pixel, pixel, 0}});
    fields.push_back({33922, 12, {0, 0, 0, 500000, 4000000, 0}});
    fields.push_back({34735, 3, {1, 1, 0, 2, 1024, 0, 1, 1, 3076, 0, 1, 9001}});
}

Bitmap DecodeBytes(const std::string& b) {
    return DecodeImage(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

TEST(Tiff, EachSampleTypeMapsItsRangeWithNoDataAndNaNAtTheMinimum) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        int bits, format;
        bool geo; // an unsigned 16-bit raster is elevation only when georeferenced
        std::vector<double> values;
        double lo, hi;
    };
    const Case cases[] = {
        {8, 2, false, {-7, 3, -128, 100, 55, -1}, -7, 100},
        {16, 1, true, {312, 2180, 0, 1000, 999, 313}, 312, 2180},
        {16, 2, false, {-400, 1234, -32768, 17, 0, 1}, -400, 1234},
        {32, 1, false, {70000, 5, 4000000000, 6, 3e9, 7}, 5, 3e9},
        {32, 2, false, {-2e9, 2e9, 0, 1, -1, 12345}, -2e9, 2e9},
        {32, 3, false, {0.1, 2180.5, -9999, 312.25, nan, 77.7}, 0.1, 2180.5},
        {64, 3, false, {-0.3, 1e-9, -9999, 8848.86, nan, 1}, -0.3, 8848.86},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << "-bit format " << c.format);
        const std::string data = TiffSamples(c.values, c.bits, c.format);
        auto fields = TiffRasterFields(3, 2, c.bits, c.format, data.size());
        if (c.geo)
            AddGeoFields(fields, 30);
        // The third sample is the NoData value, written as GDAL writes it.
        char noData[32];
        std::snprintf(noData, sizeof noData, "%.17g", c.values[2]);
        fields.push_back({42113, 2, {}, noData});
        const Bitmap b = DecodeBytes(TiffBytes(fields, data));
        ASSERT_NE(b.heights(), nullptr);
        EXPECT_EQ(b.levels(), nullptr);
        // Float32 samples are their values at float precision.
        auto stored = [&](double v) { return c.bits == 32 && c.format == 3 ? double(float(v)) : v; };
        const double lo = stored(c.lo), hi = stored(c.hi);
        EXPECT_EQ(b.elevation()->minimum, lo);
        EXPECT_EQ(b.elevation()->maximum, hi);
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            const double v = stored(c.values[i]);
            const bool hole = i == 2 || std::isnan(v);
            const double want = hole ? 0 : (v - lo) / (hi - lo);
            EXPECT_NEAR(b.heights()[i], want, 1e-12) << i;
            EXPECT_EQ(b.data()[i].r, std::uint8_t(want * 255 + 0.5)) << i;
        }
    }
}

// 8 and 16-bit grey without georeferencing are pictures, as BMP and 16-bit PNG read.
TEST(Tiff, PlainGreyReadsAsThePicturesOfTheOtherReaders) {
    const std::string grey8 = TiffSamples({0, 17, 255, 128}, 8, 1);
    const Bitmap b8 = DecodeBytes(TiffBytes(TiffRasterFields(2, 2, 8, 1, 4), grey8));
    EXPECT_EQ(b8.levels(), nullptr);
    EXPECT_EQ(b8.heights(), nullptr);
    EXPECT_EQ(b8.pixel(1, 0), (Rgb{17, 17, 17}));
    const std::string grey16 = TiffSamples({0, 65535, 1, 40000}, 16, 1);
    const Bitmap b16 = DecodeBytes(TiffBytes(TiffRasterFields(2, 2, 16, 1, 8), grey16));
    ASSERT_NE(b16.levels(), nullptr);
    EXPECT_EQ(b16.levelMax(), 3u * 65535);
    EXPECT_EQ(b16.level(1, 1), 3u * 40000);
}

TEST(Tiff, HostileFilesAreRefusedWithTheirReason) {
    const std::string data = TiffSamples(std::vector<double>(64 * 64, 1), 8, 1);
    auto sized = [&](std::uint16_t tag, double value) {
        auto f = TiffRasterFields(64, 64, 8, 1, data.size());
        for (TiffField& field : f)
            if (field.tag == tag)
                field.values = {value};
        return TiffBytes(f, data);
    };
    auto stripMismatch = TiffRasterFields(64, 64, 8, 1, 64 * 16);
    stripMismatch[7].values = {16}; // four strips of 16 rows, one offset and count
    auto bomb = TiffRasterFields(4096, 4096, 8, 1, 64);
    bomb[3].values = {8};
    const std::vector<double> samples(64 * 64, 1.5);
    const std::string floats = TiffSamples(samples, 32, 3);
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"2^31 wide", sized(256, 2147483648.0), "幅または高さ"},
        {"strip past the end", sized(273, 1e6), "途中で切れて"},
        {"strip count", TiffBytes(stripMismatch, data), "数が画像の大きさと合いません"},
        {"unknown compression", sized(259, 60000), "圧縮方式"},
        {"bomb", TiffBytes(bomb, data.substr(0, 64)), "少なすぎます"},
        {"flat", TiffBytes(TiffRasterFields(64, 64, 32, 3, floats.size()), floats), "同じ"},
        {"bad directory", std::string("II*\0\xff\xff\xff\xff", 8), "壊れて"},
    };
    for (const Case& c : cases) {
        try {
            DecodeBytes(c.bytes);
            ADD_FAILURE() << c.name << " was read";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
    // Past the memory budget: refused as out of memory before the pixels exist.
    vesk::SetMemoryBudget(4096);
    try {
        DecodeBytes(TiffBytes(TiffRasterFields(64, 64, 8, 1, data.size()), data));
        ADD_FAILURE() << "read past the budget";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::OutOfMemory);
    }
    vesk::SetMemoryBudget(0);
}

TEST(TrueScale, SpansTheLongerSideInMetresAndScalesTheRelief) {
    std::vector<double> values(1000 * 600, 100);
    values[5] = 350.5; // a relief of 250.5 m
    const std::string data = TiffSamples(values, 32, 3);
    auto fields = TiffRasterFields(1000, 600, 32, 3, data.size());
    AddGeoFields(fields, 30);
    const Bitmap raster = DecodeBytes(TiffBytes(fields, data));
    const TrueScale once = ComputeTrueScale(raster, 1);
    EXPECT_EQ(once.size, 29970); // 999 steps of 30 m
    EXPECT_EQ(once.height, 250.5);
    EXPECT_EQ(ComputeTrueScale(raster, 2).height, 501);
    EXPECT_EQ(ElevationRangeText(*raster.elevation()), "標高 100.0 – 350.5 m");
    // Without georeferencing there is no true scale, and the reason says why.
    EXPECT_THROW(ComputeTrueScale(Bitmap(2, 2), 1), Error);
    EXPECT_NEAR(MetresPerDegreeLongitude(0), 111319.5, 0.1);
}

} // namespace
} // namespace talorin
