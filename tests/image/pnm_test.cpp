#include "image/pnm.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "base/error.h"
#include "tests/support/bmp24.h"
#include "tests/support/images.h"

namespace talorin {
namespace {

Bitmap decode(const std::string& b) {
    return DecodePnm(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

std::string errorOf(const std::string& b) {
    return testsupport::ErrorTextOf([&] { decode(b); });
}

using testsupport::PixelsOf;

std::vector<std::uint32_t> levelsOf(const Bitmap& b) {
    std::vector<std::uint32_t> out;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            out.push_back(b.level(x, y));
    return out;
}

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += char(v);
    return out;
}

constexpr int kW = 5, kH = 3;

Rgb colourAt(int x, int y) {
    return {std::uint8_t(x * 50 + y), std::uint8_t(255 - x * 3 - y * 70), std::uint8_t(x * y * 17)};
}

Bitmap bmpOf(const std::function<Rgb(int, int)>& pixel) {
    const std::string b = testsupport::Bmp24Bytes(kW, kH, pixel);
    return DecodeBmp(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

TEST(Pnm, EightBitFilesReadTheSamePixelsAsTheBmp) {
    std::string ppm = "P6\n5 3\n255\n";
    std::string pgm = "P5 5 3 255 ";
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const Rgb c = colourAt(x, y);
            ppm += {char(c.r), char(c.g), char(c.b)};
            pgm += char(c.g);
        }
    }
    const Bitmap colour = decode(ppm);
    EXPECT_EQ(PixelsOf(colour), PixelsOf(bmpOf(colourAt)));
    EXPECT_EQ(colour.levels(), nullptr);
    EXPECT_EQ(colour.levelMax(), 765u);

    const Bitmap grey = decode(pgm);
    EXPECT_EQ(PixelsOf(grey), PixelsOf(bmpOf([](int x, int y) {
                  const std::uint8_t g = colourAt(x, y).g;
                  return Rgb{g, g, g};
              })));
    EXPECT_EQ(grey.levels(), nullptr);
}

TEST(Pnm, HeaderTakesCommentsAndAnyBlanks) {
    const std::string pixels = bytes({10, 20, 30, 40});
    const std::vector<Rgb> expected = {{10, 10, 10}, {20, 20, 20}, {30, 30, 30}, {40, 40, 40}};
    for (const std::string header :
         {"P5 2 2 255\n", "P5\r\n2\t2\r\n255\r", "P5# made by hand\n2 # width\n#\n 2\n255\n",
          "P5\n# a comment ending in CR\r2 2\f255\v"}) {
        SCOPED_TRACE(header);
        const Bitmap b = decode(header + pixels);
        EXPECT_EQ(b.width(), 2);
        EXPECT_EQ(PixelsOf(b), expected);
    }
    // A blank right after maxval belongs to the header; the pixel data may begin
    // with a byte that looks like one.
    EXPECT_EQ(PixelsOf(decode("P5 2 1 255\n" + bytes({'\n', ' '}))),
              (std::vector<Rgb>{{10, 10, 10}, {32, 32, 32}}));
}

TEST(Pnm, SixteenBitSamplesKeepTheirPrecision) {
    // Most significant byte first: 0, 1, 256, 32768, 65535, 65534.
    const Bitmap grey =
        decode("P5 3 2 65535\n" + bytes({0, 0, 0, 1, 1, 0, 0x80, 0, 0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(grey.levelMax(), 196605u);
    EXPECT_EQ(levelsOf(grey), (std::vector<std::uint32_t>{0, 3, 768, 98304, 196605, 196602}));
    EXPECT_EQ(grey.pixel(0, 1), (Rgb{128, 128, 128}));
    EXPECT_EQ(grey.pixel(1, 1), (Rgb{255, 255, 255}));

    const Bitmap colour = decode("P6 1 1 65535\n" + bytes({0, 1, 0x10, 0, 0xFF, 0xFF}));
    EXPECT_EQ(levelsOf(colour), (std::vector<std::uint32_t>{1 + 4096 + 65535}));
    EXPECT_EQ(colour.pixel(0, 0), (Rgb{0, 16, 255}));
}

TEST(Pnm, OtherMaxvalsAreTheirOwnScale) {
    // maxval 1000, two bytes a sample: 500 is half way.
    const Bitmap thousand = decode("P5 2 1 1000\n" + bytes({0x01, 0xF4, 0x03, 0xE8}));
    EXPECT_EQ(thousand.levelMax(), 3000u);
    EXPECT_EQ(double(thousand.level(0, 0)) / thousand.levelMax(), 0.5);
    EXPECT_EQ(thousand.pixel(0, 0), (Rgb{128, 128, 128}));
    EXPECT_EQ(thousand.pixel(1, 0), (Rgb{255, 255, 255}));

    // maxval 7, one byte a sample.
    const Bitmap seven = decode("P6 2 1 7\n" + bytes({0, 7, 3, 1, 2, 4}));
    EXPECT_EQ(seven.levelMax(), 21u);
    EXPECT_EQ(levelsOf(seven), (std::vector<std::uint32_t>{10, 7}));
    EXPECT_EQ(seven.pixel(0, 0), (Rgb{0, 255, 109})); // 3 * 255 / 7 = 109.3

    // maxval 1: black and white.
    const Bitmap one = decode("P5 2 1 1\n" + bytes({1, 0}));
    EXPECT_EQ(one.level(0, 0), one.levelMax());
    EXPECT_EQ(one.level(1, 0), 0u);
}

TEST(Pnm, OnlyTheFirstPictureIsRead) {
    const Bitmap b = decode("P5 1 1 255\n" + bytes({77}) + "P5 2 2 255\nabcd");
    EXPECT_EQ(b.width(), 1);
    EXPECT_EQ(b.pixel(0, 0), (Rgb{77, 77, 77}));
}

// --- Hostile files -------------------------------------------------------------

TEST(Pnm, OtherKindsAreNamed) {
    EXPECT_EQ(errorOf("BM..."), "PGM/PPM ファイルではありません");
    EXPECT_EQ(errorOf("P2 1 1 255\n7\n"),
              "対応していない PGM/PPM 形式です（P2、読めるのはバイナリの P5 と P6 です）");
    EXPECT_EQ(errorOf("P4 8 1\n\xFF"),
              "対応していない PGM/PPM 形式です（P4、読めるのはバイナリの P5 と P6 です）");
}

TEST(Pnm, BadHeadersAreRefused) {
    const std::string badHeader = "PGM/PPM のヘッダーが正しくありません";
    EXPECT_EQ(errorOf("P5 x 1 255\n\x01"), badHeader);
    EXPECT_EQ(errorOf("P5 -1 1 255\n\x01"), badHeader);
    EXPECT_EQ(errorOf("P5 1 1 255#\n\x01"), badHeader); // no blank after maxval
    EXPECT_EQ(errorOf("P51 1 255\n\x01"), badHeader);   // no blank after the magic
    EXPECT_EQ(errorOf("P5 1 1 255"), "ファイルが途中で切れています");
    EXPECT_EQ(errorOf("P5 1 1"), "ファイルが途中で切れています");
}

TEST(Pnm, ZeroOrHugeSizesAreRefused) {
    EXPECT_EQ(errorOf("P5 0 1 255\n"), "画像の幅または高さが正しくありません");
    EXPECT_EQ(errorOf("P6 3 0 255\n"), "画像の幅または高さが正しくありません");
    EXPECT_EQ(errorOf("P5 20000 20000 255\n"), "画像が大きすぎます");
    EXPECT_EQ(errorOf("P5 268435457 1 255\n"), "画像が大きすぎます");
    EXPECT_EQ(errorOf("P5 99999999999999999999999999 99999999999999999999 255\n"),
              "画像が大きすぎます");
    // Within the cap but with no pixel data: refused before anything is allocated.
    EXPECT_EQ(errorOf("P6 16384 16384 65535\n"), "ファイルが途中で切れています");
}

TEST(Pnm, MaxvalMustBeOneTo65535) {
    const std::string bad = "PGM/PPM の最大値が正しくありません（1 から 65535 まで）";
    EXPECT_EQ(errorOf("P5 1 1 0\n\x00"), bad);
    EXPECT_EQ(errorOf("P5 1 1 65536\n\x00\x00"), bad);
    EXPECT_EQ(errorOf("P5 1 1 4294967297\n\x00\x00"), bad);
    EXPECT_NO_THROW(decode("P5 1 1 65535\n" + bytes({0, 0})));
}

TEST(Pnm, SampleAboveMaxvalIsRefused) {
    const std::string bad = "PGM/PPM の画素の値が最大値を超えています";
    EXPECT_EQ(errorOf("P5 2 1 100\n" + bytes({100, 101})), bad);
    EXPECT_EQ(errorOf("P6 1 1 1000\n" + bytes({0, 0, 0x03, 0xE9, 0, 0})), bad);
}

TEST(Pnm, LessPixelDataThanTheHeaderPromisesIsRefused) {
    const std::string whole = "P6 2 2 300\n" + std::string(2 * 2 * 3 * 2, '\x01');
    EXPECT_NO_THROW(decode(whole));
    for (std::size_t n = 0; n < whole.size(); ++n)
        EXPECT_THROW(decode(whole.substr(0, n)), Error) << n;
    EXPECT_EQ(errorOf(whole.substr(0, whole.size() - 1)), "ファイルが途中で切れています");
}

} // namespace
} // namespace talorin
