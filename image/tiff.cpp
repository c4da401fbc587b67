#include "image/tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "image/filebytes.h"
#include "base/error.h"
#include "base/memorybudget.h"
#include "base/messages.h"

namespace talorin {
namespace {

const char* const kNotTiffText = MessageText(Msg::NotTiff, ProgramLanguage()).data();
const char* const kCorruptText = MessageText(Msg::TiffCorrupt, ProgramLanguage()).data();
const char* const kSampleText = MessageText(Msg::TiffSample, ProgramLanguage()).data();
const char* const kColourText = MessageText(Msg::TiffColour, ProgramLanguage()).data();
const char* const kStripCountText = MessageText(Msg::TiffStripCount, ProgramLanguage()).data();
const char* const kTooLittleDataText = MessageText(Msg::TiffTooLittleData, ProgramLanguage()).data();
const char* const kNoValidText = MessageText(Msg::ElevationNoValid, ProgramLanguage()).data();
const char* const kFlatText = MessageText(Msg::ElevationFlat, ProgramLanguage()).data();
const char* const kRangeText = MessageText(Msg::ElevationRangeTooLarge, ProgramLanguage()).data();

const char* const kNoGeoText = MessageText(Msg::GeoNone, ProgramLanguage()).data();
const char* const kNoModelText = MessageText(Msg::GeoNoModel, ProgramLanguage()).data();
const char* const kOtherModelText = MessageText(Msg::GeoOtherModel, ProgramLanguage()).data();
const char* const kLinearUnitText = MessageText(Msg::GeoLinearUnit, ProgramLanguage()).data();
const char* const kAngularUnitText = MessageText(Msg::GeoAngularUnit, ProgramLanguage()).data();
const char* const kNoScaleText = MessageText(Msg::GeoNoScale, ProgramLanguage()).data();
const char* const kNoTiepointText = MessageText(Msg::GeoNoTiepoint, ProgramLanguage()).data();

// Tags libtiff does not know by itself.
constexpr ttag_t kModelPixelScaleTag = 33550;
constexpr ttag_t kModelTiepointTag = 33922;
constexpr ttag_t kGeoKeyDirectoryTag = 34735;
constexpr ttag_t kGeoDoubleParamsTag = 34736;
constexpr ttag_t kGeoAsciiParamsTag = 34737;
constexpr ttag_t kGdalNoDataTag = 42113;

// Georeferencing keys and the codes we understand.
constexpr std::uint16_t kModelTypeKey = 1024;
constexpr std::uint16_t kAngularUnitsKey = 2054;
constexpr std::uint16_t kLinearUnitsKey = 3076;
constexpr std::uint16_t kModelProjected = 1;
constexpr std::uint16_t kModelGeographic = 2;
constexpr std::uint16_t kUnitMetre = 9001;
constexpr std::uint16_t kUnitFoot = 9002;
constexpr std::uint16_t kUnitSurveyFoot = 9003;
constexpr std::uint16_t kUnitDegree = 9102;

// Pictures whose decoded data is this small are not held to the ratio below:
// they cost little whatever the file.
constexpr std::uint64_t kFreeRawBytes = std::uint64_t(1) << 20;

// The most a compressed byte can decode to, per compression: a file that
// brings less data than its pixels over this cannot be whole and is refused
// before anything is allocated. Deflate emits a 258-byte match from 2 bits,
// LZW at most a 4,096-byte string from a 12-bit code, PackBits 128 bytes from
// 2; ZSTD and LZMA have no tight bound, so theirs is generous.
std::uint64_t maxInflateRatio(std::uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return 1032;
    case COMPRESSION_LZW:
        return 2731;
    default:
        return 65536;
    }
}

bool knownCompression(std::uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_ZSTD:
    case COMPRESSION_LZMA:
        return TIFFIsCODECConfigured(compression) != 0;
    default:
        return false;
    }
}

[[noreturn]] void fail(const std::string& reason) {
    throw Error(reason);
}

// The bytes libtiff reads, and the first error it reports.
struct Source {
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t pos = 0;
    std::string message;
};

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t count) {
    auto* source = static_cast<Source*>(handle);
    if (count <= 0 || source->pos >= source->size)
        return 0;
    const std::uint64_t n = std::min<std::uint64_t>(std::uint64_t(count), source->size - source->pos);
    std::memcpy(buffer, source->data + source->pos, std::size_t(n));
    source->pos += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<Source*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = source->pos;
    else if (whence == SEEK_END)
        base = source->size;
    if (offset > std::numeric_limits<std::uint64_t>::max() - base)
        return toff_t(-1);
    source->pos = base + offset;
    return source->pos;
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    return static_cast<Source*>(handle)->size;
}

int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* source = static_cast<Source*>(user);
    if (source->message.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        source->message = text;
    }
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

void quietHandler(const char*, const char*, va_list) {}

struct CloseTiff {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct FreeOptions {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

[[noreturn]] void failCorrupt(const Source& source) {
    if (source.message.empty())
        fail(kCorruptText);
    fail(Text(Msg::TiffCorruptWhy, {source.message}));
}

// The first band (or three, for RGB) of every pixel, row-major, each sample
// in host order as the file stores it.
struct Samples {
    std::vector<std::uint8_t> bytes;
    unsigned channels = 1;
    unsigned sampleBytes = 1;
};

struct Layout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samplesPerPixel = 1, bits = 1, format = SAMPLEFORMAT_UINT;
    std::uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    bool tiled = false;
    std::uint32_t chunkWidth = 0, chunkHeight = 0; // a tile, or a strip's width and rows
    std::uint64_t chunkBytes = 0;                  // decoded bytes of one tile or full strip
    std::uint32_t chunksPerPlane = 0;
};

// Checks that every strip or tile of the planes read lies in the file and
// gives the compressed bytes they hold.
std::uint64_t checkChunks(TIFF* tif, const Layout& layout, unsigned planes, std::uint64_t fileSize) {
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < std::uint64_t(layout.chunksPerPlane) * planes; ++i) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
        const std::uint64_t count = error ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &error);
        if (error || (offset == 0 && count == 0))
            fail(kStripCountText);
        if (offset > fileSize || count > fileSize - offset)
            fail(kTruncatedText);
        total += count;
    }
    return total;
}

// Decodes the samples of the first `channels` bands into out.
void readSamples(TIFF* tif, const Layout& layout, Source& source, Samples& out) {
    const unsigned bytes = out.sampleBytes;
    const bool separate = layout.planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
    const unsigned perChunkPixel = separate ? 1 : layout.samplesPerPixel;
    const unsigned planes = separate ? out.channels : 1;
    const std::uint32_t across = (layout.width + layout.chunkWidth - 1) / layout.chunkWidth;
    std::vector<std::uint8_t> chunk;
    AllocateOrThrow([&] { chunk.resize(std::size_t(layout.chunkBytes)); });
    const std::size_t pixelStride = std::size_t(perChunkPixel) * bytes;
    const std::size_t outStride = std::size_t(out.channels) * bytes;
    for (unsigned plane = 0; plane < planes; ++plane) {
        for (std::uint32_t k = 0; k < layout.chunksPerPlane; ++k) {
            const std::uint32_t index = plane * layout.chunksPerPlane + k;
            std::memset(chunk.data(), 0, chunk.size());
            const tmsize_t got =
                layout.tiled ? TIFFReadEncodedTile(tif, index, chunk.data(), tmsize_t(chunk.size()))
                             : TIFFReadEncodedStrip(tif, index, chunk.data(), tmsize_t(chunk.size()));
            if (got < 0)
                failCorrupt(source);
            const std::uint32_t x0 = (k % across) * layout.chunkWidth;
            const std::uint32_t y0 = (k / across) * layout.chunkHeight;
            const std::uint32_t x1 = std::min(layout.width, x0 + layout.chunkWidth);
            const std::uint32_t y1 = std::min(layout.height, y0 + layout.chunkHeight);
            // Separate planes put their one sample in its channel; a contiguous
            // pixel gives its first channels samples at once.
            const std::size_t copyBytes = separate ? bytes : outStride;
            const std::size_t channelOffset = separate ? std::size_t(plane) * bytes : 0;
            for (std::uint32_t y = y0; y < y1; ++y) {
                const std::uint8_t* in =
                    chunk.data() + (std::size_t(y - y0) * layout.chunkWidth) * pixelStride;
                std::uint8_t* to =
                    out.bytes.data() + (std::size_t(y) * layout.width + x0) * outStride + channelOffset;
                if (!separate && pixelStride == outStride) {
                    std::memcpy(to, in, std::size_t(x1 - x0) * outStride);
                    continue;
                }
                for (std::uint32_t x = x0; x < x1; ++x, in += pixelStride, to += outStride)
                    std::memcpy(to, in, copyBytes);
            }
        }
    }
}

template <typename T> T sampleAt(const Samples& s, std::size_t i) {
    T v;
    std::memcpy(&v, s.bytes.data() + i * s.sampleBytes * s.channels, sizeof v);
    return v;
}

// The first sample of pixel i as a double.
double valueAt(const Samples& s, const Layout& layout, std::size_t i) {
    switch (layout.format) {
    case SAMPLEFORMAT_IEEEFP:
        return layout.bits == 32 ? double(sampleAt<float>(s, i)) : sampleAt<double>(s, i);
    case SAMPLEFORMAT_INT:
        switch (layout.bits) {
        case 8: return sampleAt<std::int8_t>(s, i);
        case 16: return sampleAt<std::int16_t>(s, i);
        default: return sampleAt<std::int32_t>(s, i);
        }
    default:
        switch (layout.bits) {
        case 8: return sampleAt<std::uint8_t>(s, i);
        case 16: return sampleAt<std::uint16_t>(s, i);
        default: return sampleAt<std::uint32_t>(s, i);
        }
    }
}

// The NoData value the file names, if any.
bool noDataOf(TIFF* tif, double& value) {
    const char* text = nullptr;
    if (TIFFGetField(tif, kGdalNoDataTag, &text) != 1 || text == nullptr)
        return false;
    const char* end = text + std::strlen(text);
    while (text < end && (*text == ' ' || *text == '\t'))
        ++text;
    if (text < end && *text == '+')
        ++text;
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc();
}

// A short-valued georeferencing key, or fallback when absent.
std::uint16_t geoKey(const std::uint16_t* keys, std::uint32_t count, std::uint16_t id,
                     std::uint16_t fallback) {
    if (count < 4)
        return fallback;
    const std::uint32_t entries = std::min<std::uint32_t>(keys[3], (count - 4) / 4);
    for (std::uint32_t k = 0; k < entries; ++k) {
        const std::uint16_t* entry = keys + 4 + 4 * k;
        if (entry[0] == id && entry[1] == 0 && entry[2] == 1)
            return entry[3];
    }
    return fallback;
}

// Where the raster lies, from its georeferencing tags; units None with the
// reason when they do not say it in a way we can measure.
void readPlace(TIFF* tif, const Layout& layout, Elevation& e) {
    std::uint32_t keyCount = 0;
    std::uint16_t* keys = nullptr;
    if (TIFFGetField(tif, kGeoKeyDirectoryTag, &keyCount, &keys) != 1 || keys == nullptr) {
        e.notGeoreferenced = kNoGeoText;
        return;
    }
    const std::uint16_t model = geoKey(keys, keyCount, kModelTypeKey, 0);
    double unit = 1;
    if (model == kModelProjected) {
        switch (geoKey(keys, keyCount, kLinearUnitsKey, kUnitMetre)) {
        case kUnitMetre: unit = 1; break;
        case kUnitFoot: unit = 0.3048; break;
        case kUnitSurveyFoot: unit = 1200.0 / 3937.0; break;
        default: e.notGeoreferenced = kLinearUnitText; return;
        }
    } else if (model == kModelGeographic) {
        if (geoKey(keys, keyCount, kAngularUnitsKey, kUnitDegree) != kUnitDegree) {
            e.notGeoreferenced = kAngularUnitText;
            return;
        }
    } else {
        e.notGeoreferenced = model == 0 ? kNoModelText : kOtherModelText;
        return;
    }
    std::uint32_t scaleCount = 0;
    double* scale = nullptr;
    if (TIFFGetField(tif, kModelPixelScaleTag, &scaleCount, &scale) != 1 || scale == nullptr ||
        scaleCount < 2 || !(scale[0] > 0) || !(scale[1] > 0) || !std::isfinite(scale[0]) ||
        !std::isfinite(scale[1])) {
        e.notGeoreferenced = kNoScaleText;
        return;
    }
    if (model == kModelGeographic) {
        std::uint32_t tieCount = 0;
        double* tie = nullptr;
        if (TIFFGetField(tif, kModelTiepointTag, &tieCount, &tie) != 1 || tie == nullptr ||
            tieCount < 6) {
            e.notGeoreferenced = kNoTiepointText;
            return;
        }
        // Tiepoint (I, J) of the raster at (X, Y); rows run southwards.
        const double latitude = tie[4] - (layout.height / 2.0 - tie[1]) * scale[1];
        if (!(std::fabs(latitude) <= 90)) {
            e.notGeoreferenced = kNoTiepointText;
            return;
        }
        e.centreLatitude = latitude;
        e.units = GroundUnits::Degrees;
    } else {
        e.units = GroundUnits::Metres;
    }
    e.pixelWidth = scale[0] * unit;
    e.pixelHeight = scale[1] * unit;
}

// Heights over the valid range of the samples, NoData at the minimum.
void makeElevation(TIFF* tif, const Layout& layout, const Samples& s, Bitmap& bitmap) {
    const std::size_t pixels = std::size_t(layout.width) * layout.height;
    double noData = 0;
    const bool hasNoData = noDataOf(tif, noData);
    // A float32 raster stores its NoData at float precision.
    const bool single = layout.format == SAMPLEFORMAT_IEEEFP && layout.bits == 32;
    if (hasNoData && single && std::fabs(noData) <= std::numeric_limits<float>::max())
        noData = double(float(noData));
    auto valid = [&](double v) { return std::isfinite(v) && !(hasNoData && v == noData); };

    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (std::size_t i = 0; i < pixels; ++i) {
        const double v = valueAt(s, layout, i);
        if (valid(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (!(lo <= hi))
        fail(kNoValidText);
    if (lo == hi)
        fail(kFlatText);
    const double range = hi - lo;
    if (!std::isfinite(range))
        fail(kRangeText);

    std::vector<double> heights;
    AllocateOrThrow([&] { heights.resize(pixels); });
    Rgb* out = bitmap.data();
    for (std::size_t i = 0; i < pixels; ++i) {
        const double v = valueAt(s, layout, i);
        const double h = valid(v) ? (v - lo) / range : 0.0;
        heights[i] = h;
        const auto grey = std::uint8_t(h * 255 + 0.5);
        out[i] = Rgb{grey, grey, grey};
    }
    Elevation elevation;
    elevation.minimum = lo;
    elevation.maximum = hi;
    readPlace(tif, layout, elevation);
    bitmap.setHeights(std::move(heights), std::move(elevation));
}

// A picture of 8 or 16-bit unsigned samples, as the other readers give one.
void makePicture(TIFF* tif, const Layout& layout, std::uint16_t photometric, const Samples& s,
                 Bitmap& bitmap) {
    const std::size_t pixels = std::size_t(layout.width) * layout.height;
    Rgb* out = bitmap.data();
    const bool invert = photometric == PHOTOMETRIC_MINISWHITE;
    if (layout.bits == 8) {
        const std::uint8_t* in = s.bytes.data();
        if (photometric == PHOTOMETRIC_PALETTE) {
            std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || !red || !green ||
                !blue)
                fail(kColourText);
            for (std::size_t i = 0; i < pixels; ++i)
                out[i] = Rgb{ScaleTo8Bits(red[in[i]], 65535), ScaleTo8Bits(green[in[i]], 65535),
                             ScaleTo8Bits(blue[in[i]], 65535)};
        } else if (s.channels == 3) {
            std::memcpy(static_cast<void*>(out), in, pixels * 3);
        } else {
            for (std::size_t i = 0; i < pixels; ++i) {
                const std::uint8_t v = invert ? std::uint8_t(255 - in[i]) : in[i];
                out[i] = Rgb{v, v, v};
            }
        }
        return;
    }
    constexpr std::uint32_t kMax = 65535;
    std::vector<std::uint32_t> levels;
    AllocateOrThrow([&] { levels.resize(pixels); });
    const bool grey = s.channels == 1;
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint16_t c[3];
        std::memcpy(c, s.bytes.data() + i * 2 * s.channels, 2 * s.channels);
        if (grey)
            c[1] = c[2] = c[0] = invert ? std::uint16_t(kMax - c[0]) : c[0];
        levels[i] = std::uint32_t(c[0]) + c[1] + c[2];
        out[i] = Rgb{ScaleTo8Bits(c[0], kMax), ScaleTo8Bits(c[1], kMax), ScaleTo8Bits(c[2], kMax)};
    }
    bitmap.setLevels(std::move(levels), 3 * kMax);
}

void registerTags(TIFF* tif) {
    static const TIFFFieldInfo kFields[] = {
        {kModelPixelScaleTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("ModelPixelScaleTag")},
        {kModelTiepointTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("ModelTiepointTag")},
        {kGeoKeyDirectoryTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_SHORT, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("GeoKeyDirectoryTag")},
        {kGeoDoubleParamsTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("GeoDoubleParamsTag")},
        {kGeoAsciiParamsTag, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
         const_cast<char*>("GeoASCIIParamsTag")},
        {kGdalNoDataTag, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")},
    };
    TIFFMergeFieldInfo(tif, kFields, sizeof kFields / sizeof kFields[0]);
}

TIFFExtendProc g_previousExtender = nullptr;

void extendTags(TIFF* tif) {
    registerTags(tif);
    if (g_previousExtender)
        g_previousExtender(tif);
}

} // namespace

void RegisterTiffGeoTags() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_previousExtender = TIFFSetTagExtender(extendTags);
        // Messages of a file being read go to its own handlers; libtiff's
        // global ones would print the rest on stderr.
        TIFFSetErrorHandler(quietHandler);
        TIFFSetWarningHandler(quietHandler);
    });
}

bool LooksLikeTiff(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return false;
    const bool little = data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) &&
                        data[3] == 0;
    const bool big = data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
    return little || big;
}

Bitmap DecodeTiff(const std::uint8_t* data, std::size_t size) {
    if (!LooksLikeTiff(data, size))
        fail(kNotTiffText);
    RegisterTiffGeoTags();
    Source source{data, size, 0, {}};
    const std::unique_ptr<TIFFOpenOptions, FreeOptions> options(TIFFOpenOptionsAlloc());
    if (!options)
        throw Error(ErrorKind::OutOfMemory, kNoMemoryText);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, nullptr);
    // libtiff's own tables (directories, strip arrays, codec state) stay small.
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.get(), tmsize_t(std::min<std::size_t>(vesk::MemoryRoom() / 2 + 1, std::size_t(1) << 30)));
    // "m": no mapping, everything is read through readProc from the buffer.
    const std::unique_ptr<TIFF, CloseTiff> tif(TIFFClientOpenExt(
        "TIFF", "rm", &source, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
        unmapProc, options.get()));
    if (!tif)
        failCorrupt(source);
    TIFF* t = tif.get();

    Layout layout;
    if (TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &layout.width) != 1 ||
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &layout.height) != 1)
        fail(kBadSizeText);
    if (layout.width == 0 || layout.height == 0 || layout.width > 0x7fffffffu ||
        layout.height > 0x7fffffffu)
        fail(kBadSizeText);
    const std::uint64_t pixels = std::uint64_t(layout.width) * layout.height;
    if (pixels > kMaxBmpPixels)
        fail(kTooLargeText);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &layout.format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &layout.compression);
    if (!knownCompression(layout.compression))
        fail(Text(Msg::TiffCompression, {std::to_string(layout.compression)}));

    const bool integer = layout.format == SAMPLEFORMAT_UINT || layout.format == SAMPLEFORMAT_INT;
    const bool sampleOk = integer ? (layout.bits == 8 || layout.bits == 16 || layout.bits == 32)
                                  : (layout.format == SAMPLEFORMAT_IEEEFP &&
                                     (layout.bits == 32 || layout.bits == 64));
    if (!sampleOk || layout.samplesPerPixel == 0)
        fail(kSampleText);
    std::uint32_t keyCount = 0;
    std::uint16_t* keys = nullptr;
    const bool geo = TIFFGetField(t, kGeoKeyDirectoryTag, &keyCount, &keys) == 1;
    const bool elevation = layout.format != SAMPLEFORMAT_UINT || layout.bits > 16 || geo;

    std::uint16_t photometric = 0;
    if (TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        photometric = layout.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    Samples samples;
    samples.sampleBytes = layout.bits / 8;
    if (!elevation) {
        if (photometric == PHOTOMETRIC_RGB && layout.samplesPerPixel >= 3)
            samples.channels = 3;
        else if (photometric == PHOTOMETRIC_PALETTE && layout.bits != 8)
            fail(kColourText);
        else if (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE &&
                 photometric != PHOTOMETRIC_PALETTE)
            fail(kColourText);
    }

    layout.tiled = TIFFIsTiled(t) != 0;
    if (layout.tiled) {
        if (TIFFGetField(t, TIFFTAG_TILEWIDTH, &layout.chunkWidth) != 1 ||
            TIFFGetField(t, TIFFTAG_TILELENGTH, &layout.chunkHeight) != 1 ||
            layout.chunkWidth == 0 || layout.chunkHeight == 0)
            failCorrupt(source);
        layout.chunkBytes = std::uint64_t(TIFFTileSize64(t));
    } else {
        std::uint32_t rows = layout.height;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows);
        layout.chunkWidth = layout.width;
        layout.chunkHeight = std::max<std::uint32_t>(1, std::min(rows, layout.height));
        layout.chunkBytes = std::uint64_t(TIFFStripSize64(t));
    }
    const std::uint64_t across = (layout.width + std::uint64_t(layout.chunkWidth) - 1) / layout.chunkWidth;
    const std::uint64_t down = (layout.height + std::uint64_t(layout.chunkHeight) - 1) / layout.chunkHeight;
    const bool separate = layout.planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
    const std::uint64_t planesInFile = separate ? layout.samplesPerPixel : 1;
    const std::uint64_t chunks = layout.tiled ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    if (layout.chunkBytes == 0 || across * down * planesInFile != chunks)
        fail(kStripCountText);
    // The decoded chunk must hold its pixels' samples, whatever the tags said.
    const std::uint64_t chunkSamples = std::uint64_t(layout.chunkWidth) * layout.chunkHeight *
                                       (separate ? 1 : layout.samplesPerPixel);
    if (layout.chunkBytes < chunkSamples * samples.sampleBytes)
        fail(kCorruptText);
    layout.chunksPerPlane = std::uint32_t(across * down);
    const unsigned planesRead = separate ? samples.channels : 1;

    const std::uint64_t compressed = checkChunks(t, layout, planesRead, size);
    const std::uint64_t raw = layout.chunkBytes * layout.chunksPerPlane * planesRead;
    if (raw > kFreeRawBytes && compressed * maxInflateRatio(layout.compression) < raw)
        fail(kTooLittleDataText);

    // Everything the decoding holds at once, asked of the budget up front.
    const std::uint64_t sampleBytes = pixels * samples.channels * samples.sampleBytes;
    const std::uint64_t kept = pixels * (sizeof(Rgb) + (elevation ? sizeof(double)
                                                        : layout.bits == 16 ? sizeof(std::uint32_t)
                                                                            : 0));
    if (sampleBytes + kept + layout.chunkBytes > vesk::MemoryRoom())
        throw Error(ErrorKind::OutOfMemory, kNoMemoryText);

    AllocateOrThrow([&] { samples.bytes.resize(std::size_t(sampleBytes)); });
    readSamples(t, layout, source, samples);
    Bitmap bitmap;
    AllocateOrThrow([&] { bitmap = Bitmap(int(layout.width), int(layout.height)); });
    if (elevation)
        makeElevation(t, layout, samples, bitmap);
    else
        makePicture(t, layout, photometric, samples, bitmap);
    return bitmap;
}

} // namespace talorin
