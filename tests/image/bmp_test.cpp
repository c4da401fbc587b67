#include "image/bmp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "tests/support/images.h"

namespace talorin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Rows = std::vector<std::vector<Rgb>>; // top to bottom

constexpr Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kGreen{0, 255, 0},
    kBlue{0, 0, 255}, kZero{10, 20, 30};

void put16(Bytes& b, unsigned v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// Writes a BMP file from its fields; masks go inside headers of 52 bytes and more,
// otherwise right after the header.
struct BmpWriter {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    unsigned bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> masks;
    std::vector<Rgb> palette;
    Bytes pixels;
    std::optional<std::uint32_t> pixelOffset;

    Bytes build() const {
        Bytes header;
        put32(header, headerSize);
        if (headerSize == 12) {
            put16(header, unsigned(width));
            put16(header, unsigned(height));
        } else {
            put32(header, std::uint32_t(width));
            put32(header, std::uint32_t(height));
        }
        put16(header, 1);
        put16(header, bits);
        if (headerSize >= 40) {
            for (std::uint32_t v : {compression, 0u, 2835u, 2835u, colorsUsed, 0u})
                put32(header, v);
        }
        Bytes afterHeader;
        for (std::uint32_t m : masks)
            put32(headerSize >= 52 ? header : afterHeader, m);
        header.resize(headerSize, 0);
        for (const Rgb& c : palette) {
            afterHeader.insert(afterHeader.end(), {c.b, c.g, c.r});
            if (headerSize != 12)
                afterHeader.push_back(0);
        }
        const std::uint32_t offset =
            pixelOffset.value_or(std::uint32_t(14 + header.size() + afterHeader.size()));
        Bytes file{'B', 'M'};
        put32(file, std::uint32_t(offset + pixels.size()));
        put32(file, 0);
        put32(file, offset);
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), afterHeader.begin(), afterHeader.end());
        file.insert(file.end(), pixels.begin(), pixels.end());
        return file;
    }
};

// Rows as stored, each padded to a multiple of 4 bytes.
Bytes padded(std::initializer_list<Bytes> rows) {
    Bytes out;
    for (const Bytes& row : rows) {
        out.insert(out.end(), row.begin(), row.end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }
    return out;
}

Bytes words16(std::initializer_list<unsigned> values) {
    Bytes out;
    for (unsigned v : values)
        put16(out, v);
    return out;
}

Bytes words32(std::initializer_list<std::uint32_t> values) {
    Bytes out;
    for (std::uint32_t v : values)
        put32(out, v);
    return out;
}

std::vector<Rgb> greys(int count, int step) {
    std::vector<Rgb> out;
    for (int i = 0; i < count; ++i)
        out.push_back(Rgb{std::uint8_t(i * step), std::uint8_t(i * step), std::uint8_t(i * step)});
    return out;
}

Bitmap decode(const Bytes& b) {
    return DecodeBmp(b.data(), b.size());
}

std::string errorOf(const Bytes& b) {
    return testsupport::ErrorTextOf([&] { decode(b); });
}

Rows pixelsOf(const Bitmap& bitmap) {
    Rows out(std::size_t(bitmap.height()));
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            out[std::size_t(y)].push_back(bitmap.pixel(x, y));
    return out;
}

struct ValidCase {
    const char* name;
    Bytes file;
    Rows expected;
};

std::vector<ValidCase> validCases() {
    std::vector<ValidCase> cases;
    auto add = [&](const char* name, const BmpWriter& w, Rows expected) {
        cases.push_back({name, w.build(), std::move(expected)});
    };
    const std::vector<Rgb> rgbw{kRed, kGreen, kBlue, kWhite};

    BmpWriter w;
    w = {};
    w.width = 3, w.height = 2, w.bits = 1, w.palette = {kBlack, kWhite};
    w.pixels = padded({{0xA0}, {0x60}}); // bottom row 1 0 1, top row 0 1 1
    add("1-bit, bottom-up, padded rows", w, {{kBlack, kWhite, kWhite}, {kWhite, kBlack, kWhite}});

    w = {};
    w.width = 5, w.bits = 2, w.palette = rgbw;
    w.pixels = padded({{0x1B, 0x40}}); // 0 1 2 3 1
    add("2-bit", w, {{kRed, kGreen, kBlue, kWhite, kGreen}});

    w = {};
    w.width = 3, w.bits = 4, w.colorsUsed = 3, w.palette = {kRed, kGreen, kBlue};
    w.pixels = padded({{0x20, 0x10}}); // high nibble first: 2 0 1
    add("4-bit, high nibble first, short palette", w, {{kBlue, kRed, kGreen}});

    w = {};
    w.width = 3, w.height = -2, w.bits = 8, w.colorsUsed = 2, w.palette = {kRed, kGreen};
    w.pixels = padded({{1, 0, 200}, {0, 0, 1}});
    add("8-bit, top-down, index past the palette is black", w,
        {{kGreen, kRed, kBlack}, {kRed, kRed, kGreen}});

    w = {};
    w.width = 2, w.bits = 8, w.colorsUsed = 256, w.palette = {kRed, kGreen};
    w.pixels = padded({{1, 5}});
    add("8-bit, palette clamped to the bytes before the pixels", w, {{kGreen, kBlack}});

    w = {};
    w.headerSize = 12, w.width = 3, w.height = 2, w.bits = 4, w.palette = greys(16, 17);
    w.pixels = padded({{0x0F, 0x80}, {0x12, 0x30}});
    add("core header, 4-bit, 3-byte palette entries", w,
        {{Rgb{17, 17, 17}, Rgb{34, 34, 34}, Rgb{51, 51, 51}},
         {kBlack, kWhite, Rgb{136, 136, 136}}});

    w = {};
    w.headerSize = 12, w.width = 1, w.height = 2;
    w.pixels = padded({{1, 2, 3}, {4, 5, 6}});
    add("core header, 24-bit", w, {{Rgb{6, 5, 4}}, {Rgb{3, 2, 1}}});

    w = {};
    w.width = 3, w.height = 2;
    w.pixels = padded({{0, 0, 255, 0, 255, 0, 255, 0, 0}, {255, 255, 255, 0, 0, 0, 1, 2, 3}});
    add("24-bit, bottom-up, padded rows", w,
        {{kWhite, kBlack, Rgb{3, 2, 1}}, {kRed, kGreen, kBlue}});

    w = {};
    w.width = 1, w.height = -2;
    w.pixels = padded({{0, 0, 255}, {255, 0, 0}});
    add("24-bit, top-down", w, {{kRed}, {kBlue}});

    w = {};
    w.width = 4, w.bits = 16;
    w.pixels = words16({0x7FFF, 0x7C00, 0x4210, 0x8000});
    add("16-bit 5-5-5 widens 31 to 255 and ignores the top bit", w,
        {{kWhite, kRed, Rgb{132, 132, 132}, kBlack}});

    w = {};
    w.width = 3, w.bits = 16, w.compression = 3, w.masks = {0xF800, 0x07E0, 0x001F};
    w.pixels = padded({words16({0xFFFF, 0x0400, 0x001F})});
    add("16-bit bitfields 5-6-5 after a 40-byte header", w, {{kWhite, Rgb{0, 130, 0}, kBlue}});

    w = {};
    w.width = 2, w.bits = 32;
    w.pixels = {3, 2, 1, 0xAB, 255, 255, 255, 0};
    add("32-bit RGB ignores the fourth byte", w, {{Rgb{1, 2, 3}, kWhite}});

    w = {};
    w.width = 2, w.bits = 32, w.compression = 3, w.masks = {0x3FF00000, 0x000FFC00, 0x3FF};
    w.pixels = words32({1023u << 20 | 512u << 10 | 3u, 0xC0000000});
    add("32-bit bitfields keep the top 8 bits of 10-bit channels", w, {{Rgb{255, 128, 0}, kBlack}});

    w = {};
    w.headerSize = 108, w.width = 1, w.bits = 32, w.compression = 3;
    w.masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000};
    w.pixels = {1, 2, 3, 4};
    add("V4 header with masks in reversed order", w, {{Rgb{1, 2, 3}}});

    w = {};
    w.headerSize = 124, w.width = 2, w.bits = 16, w.compression = 3;
    w.masks = {0xF000, 0x0F00, 0, 0x000F};
    w.pixels = padded({words16({0xF800, 0x00FF})});
    add("V5 header, 4-bit channels repeat their bits, empty mask reads 0", w,
        {{Rgb{255, 0x88, 0}, kBlack}});

    w = {};
    w.headerSize = 124, w.width = 1, w.bits = 32, w.masks = {0xFF, 0xFF, 0xFF, 0xFF};
    w.pixels = {3, 2, 1, 0};
    add("V5 header with RGB ignores its masks", w, {{Rgb{1, 2, 3}}});

    w = {};
    w.headerSize = 56, w.width = 1, w.bits = 16, w.compression = 3;
    w.masks = {0x7C00, 0x03E0, 0x001F, 0x8000};
    w.pixels = padded({words16({0x03E0})});
    add("56-byte header with masks inside", w, {{kGreen}});

    w = {};
    w.headerSize = 64, w.width = 2, w.bits = 8, w.colorsUsed = 2, w.palette = {kRed, kBlue};
    w.pixels = padded({{1, 0}});
    add("OS/2 2.x 64-byte header", w, {{kBlue, kRed}});

    w = {};
    w.headerSize = 16, w.width = 1, w.pixels = padded({{9, 8, 7}});
    add("OS/2 2.x 16-byte header", w, {{Rgb{7, 8, 9}}});

    const std::vector<Rgb> rlePalette{kZero, kRed, kGreen, kBlue, kWhite};
    w = {};
    w.width = 6, w.height = 3, w.bits = 8, w.compression = 1, w.palette = rlePalette;
    // clang-format off
    w.pixels = {3, 1,             // run of 3 red
                0, 3, 2, 3, 4, 0, // absolute green blue white, padded to a word
                0, 0,             // end of line
                2, 2,             // run of 2 green
                0, 2, 2, 1,       // delta: 2 right, 1 up
                1, 4,             // one white at column 4 of the top row
                0, 1};            // end of bitmap
    // clang-format on
    add("RLE8 runs, absolute mode, delta; skipped pixels take entry 0", w,
        {{kZero, kZero, kZero, kZero, kWhite, kZero},
         {kGreen, kGreen, kZero, kZero, kZero, kZero},
         {kRed, kRed, kRed, kGreen, kBlue, kWhite}});

    w = {};
    w.width = 5, w.height = 3, w.bits = 4, w.compression = 2, w.palette = rlePalette;
    // clang-format off
    w.pixels = {5, 0x12,                   // 1 2 1 2 1
                0, 0,                      // end of line
                0, 5, 0x34, 0x12, 0x30, 0, // absolute 3 4 1 2 3, padded to a word
                0, 0,                      // end of line
                2, 0x41,                   // 4 1
                0, 1};                     // end of bitmap
    // clang-format on
    add("RLE4 nibble order and absolute padding", w,
        {{kWhite, kRed, kZero, kZero, kZero},
         {kBlue, kWhite, kRed, kGreen, kBlue},
         {kRed, kGreen, kRed, kGreen, kRed}});

    w = {};
    w.width = 2, w.height = 2, w.bits = 8, w.compression = 1, w.palette = rlePalette;
    w.pixels = {5, 1, 0, 0, 0, 3, 2, 3, 3, 0, 0, 0};
    add("RLE runs past the row's end are cut, not wrapped; missing end of bitmap", w,
        {{kGreen, kBlue}, {kRed, kRed}});

    return cases;
}

TEST(BmpDecode, EveryVariantGivesItsPixels) {
    for (const ValidCase& c : validCases()) {
        SCOPED_TRACE(c.name);
        try {
            EXPECT_EQ(pixelsOf(decode(c.file)), c.expected);
        } catch (const Error& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(BmpDecode, LastRowMayLackItsPadding) {
    BmpWriter w;
    w.width = 1, w.height = 2, w.pixels = padded({{1, 2, 3}, {4, 5, 6}});
    w.pixels.pop_back();
    EXPECT_EQ(pixelsOf(decode(w.build())), (Rows{{Rgb{6, 5, 4}}, {Rgb{3, 2, 1}}}));
}

TEST(BmpDecode, LargeImageKeepsRowsApart) {
    BmpWriter w;
    w.width = 1001, w.height = 3;
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < 1001; ++x)
            w.pixels.insert(w.pixels.end(), {std::uint8_t(x), std::uint8_t(row), 7});
        w.pixels.resize((w.pixels.size() + 3) / 4 * 4, 0);
    }
    const Bitmap b = decode(w.build());
    ASSERT_EQ(b.width(), 1001);
    ASSERT_EQ(b.height(), 3);
    EXPECT_EQ(b.pixel(1000, 0), (Rgb{7, 2, std::uint8_t(1000)}));
    EXPECT_EQ(b.pixel(0, 2), (Rgb{7, 0, 0}));
}

struct ErrorCase {
    const char* name;
    Bytes file;
    std::string message;
};

std::vector<ErrorCase> errorCases() {
    const std::string notBmp = "BMP ファイルではありません";
    const std::string truncated = "ファイルが途中で切れています";
    const std::string badSize = "画像の幅または高さが正しくありません";
    const std::string corrupt = "BMP ファイルが壊れています";
    const std::string badMask = "BMP の色マスクが正しくありません";

    std::vector<ErrorCase> cases;
    auto add = [&](const char* name, const BmpWriter& w, const std::string& message) {
        cases.push_back({name, w.build(), message});
    };
    cases.push_back({"empty", {}, notBmp});
    cases.push_back({"GIF", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, notBmp});
    cases.push_back({"signature only", {'B', 'M'}, truncated});

    BmpWriter w;
    Bytes cut = w.build();
    cut.resize(30);
    cases.push_back({"header cut", cut, truncated});

    w = {};
    w.width = 3, w.height = 2, w.pixels = Bytes(20, 0);
    add("pixel data cut", w, truncated);

    w = {};
    w.width = 1000, w.height = 1000;
    add("big image in a tiny file", w, truncated);

    w = {};
    w.width = 1, w.height = 1000000000;
    add("absurd height", w, "画像が大きすぎます");

    w = {};
    w.width = 16384, w.height = 16384, w.bits = 8, w.compression = 1, w.palette = {kRed};
    w.pixels = {0, 1};
    add("huge RLE image from two bytes", w, truncated);

    w = {};
    w.compression = 4;
    add("JPEG inside", w, "対応していない BMP 形式です（圧縮方式 4）");
    w.compression = 1;
    add("RLE8 with 24 bits", w, "対応していない BMP 形式です（圧縮方式 1、24 ビット）");
    w = {};
    w.headerSize = 64, w.compression = 3;
    add("OS/2 Huffman", w, "対応していない BMP 形式です（圧縮方式 3）");
    w = {};
    w.headerSize = 20;
    add("unknown header size", w, "対応していない BMP 形式です（ヘッダー 20 バイト）");
    w = {};
    w.bits = 3;
    add("3 bits per pixel", w, "対応していない BMP 形式です（3 ビット）");

    w = {};
    w.width = 0, w.pixels = Bytes(4, 0);
    add("zero width", w, badSize);
    w.width = 1, w.height = 0;
    add("zero height", w, badSize);
    w.width = -3, w.height = 1;
    add("negative width", w, badSize);

    w = {};
    w.bits = 8, w.compression = 1, w.height = -1, w.palette = {kRed}, w.pixels = {1, 0, 0, 1};
    add("top-down RLE", w, corrupt);
    w.height = 1, w.pixels = {0, 2, 2, 0, 0, 1};
    add("RLE delta past the row", w, corrupt);
    w.pixels = {0, 2, 0, 2, 0, 1};
    add("RLE delta past the image", w, corrupt);
    w.width = 2, w.height = 2, w.pixels = {2, 0, 0, 0};
    add("RLE stream stops before the last row", w, truncated);
    w.pixels = {0, 4, 1, 2};
    add("RLE absolute block runs past the file", w, truncated);

    w = {};
    w.bits = 16, w.compression = 3, w.pixels = Bytes(4, 0);
    w.masks = {0xF0F0, 0x0F00, 0x000F};
    add("mask with a gap", w, badMask);
    w.masks = {0xFC00, 0x07E0, 0x001F};
    add("overlapping masks", w, badMask);
    w.masks = {0x1F0000, 0x07E0, 0x001F};
    add("mask wider than the pixel", w, badMask);

    w = {};
    w.pixelOffset = 20, w.pixels = Bytes(4, 0);
    add("pixel data inside the header", w, corrupt);
    w = {};
    w.bits = 8, w.pixels = Bytes(4, 0);
    add("palette image without a palette", w, corrupt);
    return cases;
}

TEST(BmpDecode, UnreadableFilesGiveTheirReason) {
    for (const ErrorCase& c : errorCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorOf(c.file), c.message);
    }
}

// Decodes an exact-size heap copy, so that the sanitizers see any read past the end.
void expectDecodesOrThrows(const Bytes& file) {
    const Bytes copy(file);
    try {
        const Bitmap b = DecodeBmp(copy.data(), copy.size());
        EXPECT_GT(b.width(), 0);
        EXPECT_GT(b.height(), 0);
    } catch (const Error&) {
    }
}

TEST(BmpHostile, EveryFileCutAtEveryLengthDecodesOrThrows) {
    for (const ValidCase& c : validCases()) {
        SCOPED_TRACE(c.name);
        for (std::size_t length = 0; length < c.file.size(); ++length)
            expectDecodesOrThrows(Bytes(c.file.begin(), c.file.begin() + std::ptrdiff_t(length)));
    }
}

TEST(BmpHostile, EveryByteOverwrittenDecodesOrThrows) {
    for (const ValidCase& c : validCases()) {
        SCOPED_TRACE(c.name);
        for (std::size_t i = 0; i < c.file.size(); ++i) {
            for (std::uint8_t v : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
                Bytes changed = c.file;
                changed[i] = v;
                expectDecodesOrThrows(changed);
            }
        }
    }
}

class BmpFile : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("talorin-bmp-test-" + std::to_string(std::random_device{}()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::string& name, const Bytes& bytes) {
        const std::string path = (m_dir / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        EXPECT_TRUE(out.good());
        return path;
    }

    std::filesystem::path m_dir;
};

std::string loadError(const std::string& path) {
    return testsupport::ErrorTextOf([&] { LoadBmpFile(path); });
}

TEST_F(BmpFile, LoadsTheSamePixelsAsDecoding) {
    BmpWriter w;
    w.width = 1, w.height = 2, w.pixels = padded({{1, 2, 3}, {4, 5, 6}});
    const std::string path = write("等高線.bmp", w.build());
    EXPECT_EQ(pixelsOf(LoadBmpFile(path)), (Rows{{Rgb{6, 5, 4}}, {Rgb{3, 2, 1}}}));
}

TEST_F(BmpFile, ErrorsNameTheFileAndTheReason) {
    const std::string missing = (m_dir / "ない.bmp").string();
    EXPECT_EQ(loadError(missing), missing + " を読み込めません: ファイルを開けません");
    EXPECT_EQ(loadError(m_dir.string()),
              m_dir.string() + " を読み込めません: ファイルを開けません");
    const std::string text = write("readme.bmp", {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(loadError(text), text + " を読み込めません: BMP ファイルではありません");
}

} // namespace
} // namespace talorin
