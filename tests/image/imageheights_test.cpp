// Heights from every image kind: 8-bit files of any kind give the BMP's .suf
// bytes, deeper files give the heights of their full precision.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/imagefile.h"
#include "terrain/lattice.h"
#include "shape/sufmesh.h"
#include "terrain/terrain.h"
#include "base/error.h"
#include "tests/support/bmp24.h"
#include "tests/support/pngfile.h"
#include "tests/support/sampleheight.h"

namespace talorin {
namespace {

using testsupport::PngWriter;

Bitmap decode(const std::string& b) {
    return DecodeImage(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}

// Settings under which every level reads as a different height.
Talorin_Args argsFor(const Bitmap& image, int depth = 3) {
    Talorin_Args args;
    args.Size = 2000;
    args.MaxHeight = 500;
    args.ShapeMode = 2;
    args.CurveLevel = 2.3;
    args.Bitmap = Borrowed(image);
    args.Depth = depth;
    args.ObjName = "terrain";
    args.AtrName = "ground";
    args.PaMax = 5;
    args.Lattice = InitMeshLattice(image, args.PaMax);
    return args;
}

std::string sufOf(const Bitmap& image, bool quads = true) {
    Talorin_Args args = argsFor(image);
    args.QuadMode = quads;
    return SufMeshText(GenerateTerrainMesh(args));
}

// Equal texts; a failure names the first byte that differs rather than
// printing two whole files.
testing::AssertionResult SameText(const std::string& a, const std::string& b) {
    if (a == b)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return testing::AssertionFailure()
           << "the texts differ from byte " << at << " (lengths " << a.size() << " and " << b.size()
           << "): \"" << a.substr(at, 40) << "\" vs \"" << b.substr(at, 40) << "\"";
}

constexpr int kW = 17, kH = 13;

Rgb colourAt(int x, int y) {
    return {std::uint8_t(x * 15 + y), std::uint8_t(255 - x * 3 - y * 19),
            std::uint8_t((x * y * 7) % 256)};
}

Rgb greyAt(int x, int y) {
    const auto g = std::uint8_t((x * 13 + y * 17) % 256);
    return {g, g, g};
}

std::string bmpBytes(Rgb (*pixel)(int, int)) {
    return testsupport::Bmp24Bytes(kW, kH, [&](int x, int y) { return pixel(x, y); });
}

PngWriter pngOf(std::uint8_t type, Rgb (*pixel)(int, int)) {
    using namespace testsupport;
    PngWriter w;
    w.width = kW;
    w.height = kH;
    w.colourType = type;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const Rgb c = pixel(x, y);
            const std::uint16_t alpha = std::uint16_t(x * 20);
            switch (type) {
            case kPngGrey:
                w.samples.push_back(c.r);
                break;
            case kPngGreyAlpha:
                w.samples.insert(w.samples.end(), {c.r, alpha});
                break;
            case kPngRgb:
                w.samples.insert(w.samples.end(), {c.r, c.g, c.b});
                break;
            case kPngRgba:
                w.samples.insert(w.samples.end(), {c.r, c.g, c.b, alpha});
                break;
            case kPngPalette:
                w.palette.push_back(c);
                w.samples.push_back(std::uint16_t(w.palette.size() - 1));
                break;
            }
        }
    }
    return w;
}

std::string pnmOf(bool colour, Rgb (*pixel)(int, int)) {
    std::string b = std::string(colour ? "P6" : "P5") + " 17 13 255\n";
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const Rgb c = pixel(x, y);
            if (colour)
                b += {char(c.r), char(c.g), char(c.b)};
            else
                b += char(c.r);
        }
    return b;
}

// A 16-bit grey PNG of sample(x, y).
Bitmap grey16(int width, int height, const std::function<std::uint16_t(int, int)>& sample) {
    PngWriter w;
    w.width = std::uint32_t(width);
    w.height = std::uint32_t(height);
    w.bitDepth = 16;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            w.samples.push_back(sample(x, y));
    return decode(w.build());
}

TEST(ImageHeights, EightBitFilesOfEveryKindGiveTheBmpsBytes) {
    using namespace testsupport;
    for (const bool grey : {true, false}) {
        Rgb (*pixel)(int, int) = grey ? greyAt : colourAt;
        const std::string quads = sufOf(decode(bmpBytes(pixel)));
        const std::string triangles = sufOf(decode(bmpBytes(pixel)), false);
        std::vector<std::uint8_t> types = {kPngRgb, kPngRgba, kPngPalette};
        if (grey)
            types.insert(types.end(), {kPngGrey, kPngGreyAlpha});
        for (const std::uint8_t type : types) {
            for (const bool interlaced : {false, true}) {
                SCOPED_TRACE(testing::Message() << "PNG colour type " << int(type)
                                                << (interlaced ? ", interlaced" : ""));
                PngWriter w = pngOf(type, pixel);
                w.interlaced = interlaced;
                const Bitmap png = decode(w.build());
                EXPECT_TRUE(SameText(sufOf(png), quads));
                EXPECT_TRUE(SameText(sufOf(png, false), triangles));
            }
        }
        SCOPED_TRACE(grey ? "PGM" : "PPM");
        EXPECT_TRUE(SameText(sufOf(decode(pnmOf(!grey, pixel))), quads));
    }
}

TEST(ImageHeights, SixteenBitLevelsAreTheirOwnHeights) {
    // At level 10 (e = 1) the rising profile is the brightness itself, apart
    // from rounding: v / 65535 of the height scale.
    // The last row and column are never read (they wrap to the first).
    const Bitmap image = grey16(4, 3, [](int x, int y) {
        const std::uint16_t v[3][4] = {{0, 1, 32768, 0}, {65534, 65535, 12345, 0}, {0, 0, 0, 0}};
        return v[y][x];
    });
    const double expected[2][3] = {{0, 1000.0 / 65535, 500.00762951094833},
                                   {999.9847409781033, 1000, 188.37262531471734}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_NEAR(SampleHeight(image, 0, x, y, 1000, 1.0), expected[y][x], 1e-9)
                << x << ", " << y;
    // Half way up the hill profile is half the height at every level: 32767.5
    // is not a sample, but maxval 1000 has a middle.
    const Bitmap thousand =
        decode("P5 2 2 1000\n" + std::string("\x01\xf4\x01\xf4\x01\xf4\x01\xf4", 8));
    EXPECT_EQ(SampleHeight(thousand, 2, 0, 0, 1000, 2.3), 500);
}

TEST(ImageHeights, SixteenBitDiffersFromItsEightBitTruncation) {
    // A gentle slope: 16-bit steps of 37 between neighbours, which 8 bits
    // flatten into terraces of about seven pixels.
    auto slope = [](int x, int y) { return std::uint16_t(20000 + 37 * x + 29 * y); };
    const Bitmap deep = grey16(kW, kH, slope);
    const Bitmap flat = decode(testsupport::Bmp24Bytes(kW, kH, [&](int x, int y) {
        const auto g = std::uint8_t(slope(x, y) >> 8);
        return Rgb{g, g, g};
    }));
    EXPECT_NE(sufOf(deep), sufOf(flat));
    int differ = 0, terraces = 0;
    for (int x = 0; x + 2 < kW; ++x) { // the last column reads the first
        const double a = SampleHeight(deep, 0, x, 0, 1000, 1.0);
        const double b = SampleHeight(deep, 0, x + 1, 0, 1000, 1.0);
        EXPECT_LT(a, b); // every pixel a little higher than the last
        differ += a != SampleHeight(flat, 0, x, 0, 1000, 1.0);
        terraces +=
            SampleHeight(flat, 0, x, 0, 1000, 1.0) == SampleHeight(flat, 0, x + 1, 0, 1000, 1.0);
    }
    EXPECT_EQ(differ, kW - 2);
    EXPECT_GT(terraces, kW / 2);
}

TEST(ImageHeights, SixteenBitCopyOfAnEightBitImageGivesItsBytes) {
    // v * 257 over 65535 is v over 255: the same brightness, the same file.
    const Bitmap eight = decode(bmpBytes(greyAt));
    const Bitmap sixteen =
        grey16(kW, kH, [](int x, int y) { return std::uint16_t(greyAt(x, y).r * 257); });
    ASSERT_EQ(sixteen.levelMax(), 196605u);
    EXPECT_TRUE(SameText(sufOf(sixteen), sufOf(eight)));
    EXPECT_TRUE(SameText(sufOf(sixteen, false), sufOf(eight, false)));
}

TEST(ImageHeights, SixteenBitCopyBuiltInTwoBandsGivesTheSameMesh) {
    // 65536 leaves: built as two bands on two threads, both filling the
    // 16-bit table as they go.
    const auto g = [](int x, int y) { return std::uint8_t((x * x + 3 * y * y + x * y) % 251); };
    const Bitmap eight = decode(testsupport::Bmp24Bytes(129, 129, [&](int x, int y) {
        return Rgb{g(x, y), g(x, y), g(x, y)};
    }));
    const Bitmap sixteen =
        grey16(129, 129, [&](int x, int y) { return std::uint16_t(g(x, y) * 257); });
    Talorin_Args args = argsFor(eight, 4);
    args.PaMax = 16;
    args.Lattice = InitMeshLattice(eight, 16);
    const TerrainMesh expected = GenerateTerrainMesh(args);
    args.Bitmap = Borrowed(sixteen);
    const TerrainMesh mesh = GenerateTerrainMesh(args);
    ASSERT_EQ(mesh.polygonCount(), 65536u);
    ASSERT_EQ(mesh.Vertices.size(), expected.Vertices.size());
    EXPECT_EQ(std::memcmp(mesh.Vertices.data(), expected.Vertices.data(),
                          mesh.Vertices.size() * sizeof(MeshVertex)),
              0);
    EXPECT_EQ(mesh.Indices, expected.Indices);
}

TEST(ImageHeights, LowBitGreyUsesItsOwnMaximum) {
    // Grey of b bits at value v has brightness v / (2^b - 1): the height of the
    // 8-bit grey with the same brightness (1/3 is 85/255, 7/15 is 119/255).
    struct Case {
        std::uint8_t bits;
        std::uint16_t value;
        std::uint8_t eightBit;
    };
    for (const Case c :
         {Case{1, 1, 255}, Case{2, 1, 85}, Case{2, 2, 170}, Case{4, 7, 119}, Case{4, 15, 255}}) {
        SCOPED_TRACE(testing::Message() << int(c.bits) << " bits, value " << c.value);
        PngWriter w;
        w.width = 2;
        w.height = 2;
        w.bitDepth = c.bits;
        w.samples.assign(4, c.value);
        const Bitmap low = decode(w.build());
        const Bitmap eight = decode(testsupport::Bmp24Bytes(2, 2, [&](int, int) {
            return Rgb{c.eightBit, c.eightBit, c.eightBit};
        }));
        for (std::uint8_t mode : {0, 1, 2})
            EXPECT_EQ(SampleHeight(low, mode, 0, 0, 500, 2.3),
                      SampleHeight(eight, mode, 0, 0, 500, 2.3));
    }
    // A worked value: 2-bit 1 is a third, squared by the peak profile at e = 2.
    PngWriter third;
    third.width = third.height = 2;
    third.bitDepth = 2;
    third.samples.assign(4, 1);
    EXPECT_NEAR(SampleHeight(decode(third.build()), 0, 0, 0, 900, 2.0), 100, 1e-9);
}

TEST(ImageHeights, SixteenBitRunGivesTheHeightSampleOfEachPoint) {
    // 17 x 17 at density 16 and depth 0: the lattice points are the pixels,
    // and each cell's corner A is the last corner of its quad, C the second.
    const Bitmap image =
        grey16(17, 17, [](int x, int y) { return std::uint16_t((x * 7919 + y * 104729) % 65536); });
    for (const std::uint8_t mode : {0, 1, 2}) {
        Talorin_Args args = argsFor(image, 0);
        args.PaMax = 16;
        args.Lattice = InitMeshLattice(image, 16);
        args.ShapeMode = mode;
        const TerrainMesh mesh = GenerateTerrainMesh(args);
        ASSERT_EQ(mesh.polygonCount(), 256u);
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i) {
                const std::uint32_t* corners = mesh.corners(255 - std::size_t(j * 16 + i));
                EXPECT_EQ(mesh.Vertices[corners[3]].Z, SampleHeight(image, mode, i, j, 500, 2.3));
                EXPECT_EQ(mesh.Vertices[corners[1]].Z,
                          SampleHeight(image, mode, i + 1, j + 1, 500, 2.3));
            }
    }
}

TEST(ImageHeights, FaultOfOneSixteenBitLevelIsRaisedOnlyWhereItIsRead) {
    // One dark pixel in the bottom right cell: at level -200 its height
    // overflows; without it the run completes.
    std::uint16_t dark = 1285;
    auto image = [&] {
        return grey16(33, 33, [&](int x, int y) { return x == 28 && y == 28 ? dark : 65535; });
    };
    const Bitmap withDark = image();
    Talorin_Args args = argsFor(withDark, 3);
    args.PaMax = 4;
    args.Lattice = InitMeshLattice(withDark, 4);
    args.ShapeMode = 0;
    args.CurveLevel = -200;
    try {
        GenerateTerrainMesh(args);
        ADD_FAILURE() << "no fault";
    } catch (const FloatFault& e) {
        EXPECT_STREQ(e.what(), kOverflowText);
    }
    dark = 65535;
    const Bitmap white = image();
    args.Bitmap = Borrowed(white);
    EXPECT_EQ(GenerateTerrainMesh(args).polygonCount(), 1024u);
}

} // namespace
} // namespace talorin
