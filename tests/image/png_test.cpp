#include "image/png.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "base/error.h"
#include "tests/support/bmp24.h"
#include "tests/support/images.h"
#include "tests/support/pngfile.h"

namespace talorin {
namespace {

using testsupport::PngWriter;

Bitmap decode(const std::string& b) {
    return DecodePng(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

std::string errorOf(const std::string& b) {
    return testsupport::ErrorTextOf([&] { decode(b); });
}

using testsupport::PixelsOf;

// A 9 x 6 picture: wider than one Adam7 block and not a multiple of it, so every
// pass is partly filled.
constexpr int kW = 9, kH = 6;

Rgb colourAt(int x, int y) {
    return {std::uint8_t(x * 29 + y * 3), std::uint8_t(250 - x * 7 - y * 31),
            std::uint8_t(x * y * 5 + 1)};
}

Rgb greyAt(int x, int y) {
    const auto v = std::uint8_t(x * 28 + y * 5);
    return {v, v, v};
}

// The PNG of one of the pictures above in an 8-bit colour type; alpha varies
// across the picture so that reading it would show.
PngWriter eightBitPng(std::uint8_t colourType, bool interlaced) {
    PngWriter w;
    w.width = kW;
    w.height = kH;
    w.colourType = colourType;
    w.interlaced = interlaced;
    const bool grey =
        colourType == testsupport::kPngGrey || colourType == testsupport::kPngGreyAlpha;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const Rgb c = grey ? greyAt(x, y) : colourAt(x, y);
            const std::uint16_t alpha = std::uint16_t((x * 40 + y) % 256);
            switch (colourType) {
            case testsupport::kPngGrey:
                w.samples.push_back(c.r);
                break;
            case testsupport::kPngGreyAlpha:
                w.samples.insert(w.samples.end(), {c.r, alpha});
                break;
            case testsupport::kPngRgb:
                w.samples.insert(w.samples.end(), {c.r, c.g, c.b});
                break;
            case testsupport::kPngRgba:
                w.samples.insert(w.samples.end(), {c.r, c.g, c.b, alpha});
                break;
            case testsupport::kPngPalette: // one entry per pixel, in reverse order
                w.palette.insert(w.palette.begin(), c);
                w.samples.push_back(std::uint16_t(kW * kH - 1 - (y * kW + x)));
                break;
            }
        }
    }
    return w;
}

Bitmap bmpOf(Rgb (*pixel)(int, int)) {
    const std::string b =
        testsupport::Bmp24Bytes(kW, kH, [&](int x, int y) { return pixel(x, y); });
    return DecodeBmp(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

TEST(Png, EightBitColourTypesReadTheSamePixelsAsTheBmp) {
    using namespace testsupport;
    for (const std::uint8_t type : {kPngGrey, kPngGreyAlpha, kPngRgb, kPngRgba, kPngPalette}) {
        for (const bool interlaced : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "colour type " << int(type) << (interlaced ? ", interlaced" : ""));
            const bool grey = type == kPngGrey || type == kPngGreyAlpha;
            const Bitmap png = decode(eightBitPng(type, interlaced).build());
            ASSERT_EQ(png.width(), kW);
            ASSERT_EQ(png.height(), kH);
            EXPECT_EQ(PixelsOf(png), PixelsOf(bmpOf(grey ? greyAt : colourAt)));
            EXPECT_EQ(png.levels(), nullptr);
            EXPECT_EQ(png.levelMax(), 765u);
        }
    }
}

TEST(Png, ImageDataSplitOverSeveralChunksReadsTheSame) {
    PngWriter w = eightBitPng(testsupport::kPngRgb, false);
    const std::vector<Rgb> whole = PixelsOf(decode(w.build()));
    w.imageDataChunks = 4;
    EXPECT_EQ(PixelsOf(decode(w.build())), whole);
}

// Grey of 1, 2 and 4 bits, every value in turn along rows of 13 (not a whole
// number of bytes): the 8-bit pixels are the exact scaling, and the brightness
// level / levelMax is value / (2^bits - 1).
TEST(Png, LowBitGreyScalesExactly) {
    struct Case {
        std::uint8_t bits;
        std::vector<std::uint8_t> eightBit; // of the values 0, 1, ... 2^bits - 1
    };
    const Case cases[] = {
        {1, {0, 255}},
        {2, {0, 85, 170, 255}},
        {4, {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}},
    };
    for (const Case& c : cases) {
        for (const bool interlaced : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << int(c.bits) << " bits" << (interlaced ? ", interlaced" : ""));
            const unsigned values = 1u << c.bits;
            PngWriter w;
            w.width = 13;
            w.height = 3;
            w.bitDepth = c.bits;
            w.interlaced = interlaced;
            for (unsigned i = 0; i < w.width * w.height; ++i)
                w.samples.push_back(std::uint16_t(i % values));
            const Bitmap b = decode(w.build());
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 13; ++x) {
                    const unsigned v = unsigned(y * 13 + x) % values;
                    const std::uint8_t g = c.eightBit[v];
                    ASSERT_EQ(b.pixel(x, y), (Rgb{g, g, g})) << x << ", " << y;
                    EXPECT_EQ(double(b.level(x, y)) / b.levelMax(), v / double(values - 1));
                }
            }
        }
    }
}

TEST(Png, LowBitPaletteIndexesItsEntries) {
    const std::vector<Rgb> entries = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200},
                                      {1, 2, 3},     {90, 80, 70},  {255, 255, 0}};
    for (const std::uint8_t bits : {1, 2, 4}) {
        SCOPED_TRACE(testing::Message() << int(bits) << " bits");
        const unsigned used = std::min<unsigned>(1u << bits, unsigned(entries.size()));
        PngWriter w;
        w.width = 11;
        w.height = 2;
        w.colourType = testsupport::kPngPalette;
        w.bitDepth = bits;
        w.palette.assign(entries.begin(), entries.begin() + used);
        for (unsigned i = 0; i < 22; ++i)
            w.samples.push_back(std::uint16_t((i * 5) % used));
        const Bitmap b = decode(w.build());
        for (unsigned i = 0; i < 22; ++i)
            EXPECT_EQ(b.pixel(int(i % 11), int(i / 11)), entries[(i * 5) % used]) << i;
    }
}

TEST(Png, PaletteIndexWithNoEntryReadsBlack) {
    PngWriter w;
    w.width = 3;
    w.colourType = testsupport::kPngPalette;
    w.palette = {{10, 20, 30}, {40, 50, 60}};
    w.samples = {1, 7, 0};
    const Bitmap b = decode(w.build());
    EXPECT_EQ(PixelsOf(b), (std::vector<Rgb>{{40, 50, 60}, {0, 0, 0}, {10, 20, 30}}));
}

TEST(Png, SixteenBitGreyKeepsEveryLevel) {
    PngWriter w;
    w.width = 4;
    w.height = 2;
    w.bitDepth = 16;
    w.samples = {0, 1, 2, 255, 256, 32768, 65534, 65535};
    for (const bool interlaced : {false, true}) {
        w.interlaced = interlaced;
        const Bitmap b = decode(w.build());
        ASSERT_NE(b.levels(), nullptr);
        EXPECT_EQ(b.levelMax(), 196605u);
        const std::vector<std::uint32_t> levels(b.levels(), b.levels() + 8);
        EXPECT_EQ(levels, (std::vector<std::uint32_t>{0, 3, 6, 765, 768, 98304, 196602, 196605}));
        EXPECT_EQ(b.level(1, 0), 3u);
        EXPECT_EQ(b.level(3, 1), 196605u);
        // The pixels are the nearest 8-bit grey, for display only.
        std::vector<std::uint8_t> shown;
        for (const Rgb& c : PixelsOf(b)) {
            EXPECT_TRUE(c.r == c.g && c.g == c.b);
            shown.push_back(c.r);
        }
        EXPECT_EQ(shown, (std::vector<std::uint8_t>{0, 0, 0, 1, 1, 128, 255, 255}));
    }
}

TEST(Png, SixteenBitColourSumsItsChannelsAndIgnoresAlpha) {
    using namespace testsupport;
    struct Case {
        std::uint8_t type;
        std::vector<std::uint16_t> samples; // two pixels
        std::uint32_t levels[2];
    };
    const Case cases[] = {
        {kPngRgb, {1, 2, 3, 65535, 0, 40000}, {6, 105535}},
        {kPngRgba, {1, 2, 3, 0, 65535, 0, 40000, 65535}, {6, 105535}},
        {kPngGreyAlpha, {1000, 65535, 50001, 7}, {3000, 150003}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "colour type " << int(c.type));
        PngWriter w;
        w.width = 2;
        w.bitDepth = 16;
        w.colourType = c.type;
        w.samples = c.samples;
        const Bitmap b = decode(w.build());
        EXPECT_EQ(b.levelMax(), 196605u);
        EXPECT_EQ(b.level(0, 0), c.levels[0]);
        EXPECT_EQ(b.level(1, 0), c.levels[1]);
    }
}

TEST(Png, InterlacedSixteenBitColourReadsLikeTheProgressiveFile) {
    PngWriter w;
    w.width = kW;
    w.height = kH;
    w.bitDepth = 16;
    w.colourType = testsupport::kPngRgba;
    for (int i = 0; i < kW * kH * 4; ++i)
        w.samples.push_back(std::uint16_t(i * 1237 + 11));
    const Bitmap plain = decode(w.build());
    w.interlaced = true;
    const Bitmap interlaced = decode(w.build());
    EXPECT_EQ(PixelsOf(interlaced), PixelsOf(plain));
    EXPECT_EQ(std::vector<std::uint32_t>(interlaced.levels(), interlaced.levels() + kW * kH),
              std::vector<std::uint32_t>(plain.levels(), plain.levels() + kW * kH));
    EXPECT_EQ(plain.level(2, 0), 9907u + 11144u + 12381u); // samples 8, 9 and 10
}

TEST(Png, TransparencyGammaAndColourChunksChangeNothing) {
    PngWriter w = eightBitPng(testsupport::kPngRgb, false);
    const std::vector<Rgb> plain = PixelsOf(decode(w.build()));
    const Rgb first = colourAt(0, 0);
    std::string trns = {0, char(first.r), 0, char(first.g), 0, char(first.b)};
    w.beforeImageData = {{"gAMA", std::string("\x00\x00\xb1\x8f", 4)}, // 1 / 2.2
                         {"cHRM", std::string(32, '\x01')},
                         {"sBIT", "\x02\x02\x02"},
                         {"tRNS", trns}};
    EXPECT_EQ(PixelsOf(decode(w.build())), plain);

    PngWriter g;
    g.width = 2;
    g.bitDepth = 16;
    g.samples = {1000, 60000};
    const Bitmap before = decode(g.build());
    g.beforeImageData = {{"gAMA", std::string("\x00\x00\xb1\x8f", 4)}, {"sRGB", "\x00"}};
    const Bitmap after = decode(g.build());
    EXPECT_EQ(after.level(0, 0), 3000u);
    EXPECT_EQ(after.level(1, 0), before.level(1, 0));
}

TEST(Png, AncillaryChunksAreIgnoredWhateverTheirNumber) {
    PngWriter w = eightBitPng(testsupport::kPngPalette, true);
    const std::vector<Rgb> plain = PixelsOf(decode(w.build()));
    w.beforeImageData.assign(1001, {"tEXt", std::string("Comment\0a hill", 15)});
    std::string png = w.build();
    std::string after;
    for (int i = 0; i < 1001; ++i)
        after += PngWriter::Chunk("tIME", std::string(7, '\x01'));
    png.insert(png.size() - 12, after); // before IEND
    EXPECT_EQ(PixelsOf(decode(png)), plain);
}

// --- Hostile files -------------------------------------------------------------

TEST(Png, SomethingElseIsNotAPng) {
    EXPECT_EQ(errorOf("hello"), "PNG ファイルではありません");
    EXPECT_EQ(errorOf(""), "PNG ファイルではありません");
    std::string wrongEnd = eightBitPng(testsupport::kPngGrey, false).build();
    wrongEnd[7] = '\r';
    EXPECT_EQ(errorOf(wrongEnd), "PNG ファイルではありません");
}

TEST(Png, FileCutAnywhereBeforeItsEndIsRefused) {
    const std::string whole = eightBitPng(testsupport::kPngRgb, true).build();
    const std::size_t endChunk = whole.size() - 12;
    for (std::size_t n = 0; n < whole.size(); ++n) { // inside the end chunk too
        const std::string cut = whole.substr(0, n);
        EXPECT_THROW(decode(cut), Error) << n;
    }
    // Cut in the middle of the image data.
    EXPECT_EQ(errorOf(whole.substr(0, endChunk - 20)), "ファイルが途中で切れています");
}

TEST(Png, ImageDataForFewerRowsThanTheHeaderIsRefused) {
    PngWriter shortOne;
    shortOne.width = 5;
    shortOne.height = 2;
    shortOne.samples.assign(10, 90);
    PngWriter w = shortOne;
    w.height = 3;
    w.samples.assign(15, 90);
    const std::string full = w.build();
    const std::string twoRows = shortOne.build();
    // The IDAT of the two-row file under the three-row header.
    const std::size_t at = 8 + 25;
    w.imageData = twoRows.substr(at + 8, twoRows.size() - 12 - at - 12);
    EXPECT_EQ(errorOf(w.build()), "ファイルが途中で切れています");
    EXPECT_NO_THROW(decode(full));
}

TEST(Png, BadChecksumsAreRefused) {
    const std::string good = eightBitPng(testsupport::kPngGrey, false).build();
    const std::string bad = "PNG ファイルが壊れています（CRC が一致しません）";
    std::string header = good;
    header[8 + 8 + 13] ^= 0x40; // IHDR's checksum
    EXPECT_EQ(errorOf(header), bad);
    std::string data = good;
    data[good.size() - 12 - 1] ^= 0x40; // the last IDAT's checksum
    EXPECT_EQ(errorOf(data), bad);
    std::string end = good;
    end[good.size() - 2] ^= 0x40; // IEND's checksum
    EXPECT_EQ(errorOf(end), bad);
    std::string size = good;
    size[8 + 8 + 3] ^= 0x01; // the width, under the old checksum
    EXPECT_EQ(errorOf(size), bad);
}

TEST(Png, ZeroOrHugeSizesAreRefused) {
    PngWriter w;
    w.imageData = std::string(16, 'x');
    auto errorFor = [&](std::uint32_t width, std::uint32_t height) {
        w.width = width;
        w.height = height;
        return errorOf(w.build());
    };
    EXPECT_EQ(errorFor(0, 5), "画像の幅または高さが正しくありません");
    EXPECT_EQ(errorFor(5, 0), "画像の幅または高さが正しくありません");
    EXPECT_EQ(errorFor(0x80000000u, 1), "画像の幅または高さが正しくありません");
    EXPECT_EQ(errorFor((1u << 28) + 1, 1), "画像が大きすぎます");
    EXPECT_EQ(errorFor(20000, 20000), "画像が大きすぎます");
    // At the cap, but with far too little data for it: refused before the
    // pixels are allocated.
    EXPECT_EQ(errorFor(16384, 16384), "PNG の画像データが画像の大きさに対して少なすぎます");
}

TEST(Png, InvalidHeaderCombinationsAreRefused) {
    PngWriter rgb4 = eightBitPng(testsupport::kPngRgb, false);
    rgb4.bitDepth = 4;
    EXPECT_EQ(errorOf(rgb4.build()), "PNG ファイルが壊れています（invalid bit depth）");
    PngWriter noPalette = eightBitPng(testsupport::kPngPalette, false);
    noPalette.palette.clear();
    EXPECT_NE(errorOf(noPalette.build()).find("PNG ファイルが壊れています"), std::string::npos);
}

// Every single-byte change of a small file either decodes to a picture of the
// size it states or is refused; nothing reads out of bounds (sanitizer builds).
TEST(Png, EveryByteFlippedDecodesOrIsRefused) {
    for (const bool interlaced : {false, true}) {
        const std::string good = eightBitPng(testsupport::kPngPalette, interlaced).build();
        for (std::size_t i = 0; i < good.size(); ++i) {
            for (const std::uint8_t mask : {0x01, 0x80, 0xFF}) {
                std::string bad = good;
                bad[i] = char(bad[i] ^ mask);
                try {
                    const Bitmap b = decode(bad);
                    EXPECT_GT(b.width(), 0);
                    EXPECT_GT(b.height(), 0);
                } catch (const Error&) {
                }
            }
        }
    }
}

} // namespace
} // namespace talorin
