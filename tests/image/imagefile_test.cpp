#include "image/imagefile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/bmp.h"
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
                                      "（読めるのは BMP、PNG、PGM、PPM です）");
    const std::string empty = write("empty.png", "");
    EXPECT_EQ(loadError(empty), empty + " を読み込めません: 読める画像ファイルではありません"
                                        "（読めるのは BMP、PNG、PGM、PPM です）");
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

} // namespace
} // namespace talorin
