#include "export/exportbytes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <exception>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "base/error.h"
#include "base/numtext.h"
#include "base/sjis.h"
#include "base/slices.h"

namespace talorin {

std::string NameForExport(const std::string& cp932) {
    std::string name = vesk::Utf8FromCp932(cp932);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return name;
}

void CheckFloat32Points(const TerrainMesh& mesh, const char* formatName) {
    for (const MeshVertex& v : mesh.Vertices)
        for (const double c : {v.X, v.Y, v.Z})
            if (!std::isfinite(float(c))) {
                char text[32];
                const std::string value(text, std::to_chars(text, text + sizeof text, c).ptr);
                throw Error(Text(Msg::OutOfFloat, {formatName, value}));
            }
}

namespace {

constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                               "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                               "8081828384858687888990919293949596979899";

// Writes the eight digits of x (x < 10^8, with leading zeros) at at: two
// halves and four pairs computed side by side rather than in one long chain.
void PutEightDigits(char* at, std::uint32_t x) {
    const std::uint32_t high = x / 10000, low = x % 10000;
    std::memcpy(at, kDigitPairs + 2 * (high / 100), 2);
    std::memcpy(at + 2, kDigitPairs + 2 * (high % 100), 2);
    std::memcpy(at + 4, kDigitPairs + 2 * (low / 100), 2);
    std::memcpy(at + 6, kDigitPairs + 2 * (low % 100), 2);
}

// The decimal digits of n (n > 0) written backwards from end; returns their start.
char* PutDigitsBackwards(char* end, std::uint64_t n) {
    while (n >= 100000000) {
        end -= 8;
        PutEightDigits(end, std::uint32_t(n % 100000000));
        n /= 100000000;
    }
    auto small = std::uint32_t(n);
    while (small >= 100) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (small % 100), 2);
        small /= 100;
    }
    if (small >= 10) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * small, 2);
    } else {
        *--end = char('0' + small);
    }
    return end;
}

} // namespace

std::size_t ShortestText(double v, char* out) {
    // Zero, infinities and NaN keep the library's spelling.
    if (!std::isfinite(v) || v == 0)
        return std::size_t(std::to_chars(out, out + vesk::kMaxNumberText, v).ptr - out);
    char* at = out;
    if (std::signbit(v)) {
        *at++ = '-';
        v = -v;
    }
    // The shortest digits that read back as v, the nearest of them on a choice
    // (as to_chars picks them): v = significand * 10^exponent.
    const auto decimal = fmt::detail::dragonbox::to_decimal(v);
    char digits[24];
    char* const digitsEnd = digits + sizeof digits;
    const char* const first = PutDigitsBackwards(digitsEnd, decimal.significand);
    const int n = int(digitsEnd - first);
    const int e = decimal.exponent;
    const int point = e + n - 1; // the scientific exponent
    const int pointDigits = point >= 100 || point <= -100 ? 3 : 2;
    const int scientificLength = n + (n > 1 ? 1 : 0) + 2 + pointDigits;
    const int fixedLength = e >= 0 ? n + e : point >= 0 ? n + 1 : n + 1 - point;
    if (fixedLength <= scientificLength) {
        if (e > 0 && v >= 0x1p53) {
            // A whole number written out in full shows all of its digits,
            // not the shortest ones padded with zeros. Fixed form is only
            // shorter up to about 10^22, within 128 bits.
            int exponent2 = 0;
            const double mantissa = std::frexp(v, &exponent2);
            const auto whole = static_cast<unsigned __int128>(std::uint64_t(std::ldexp(mantissa, 53)))
                               << (exponent2 - 53);
            char text[48];
            char* const textEnd = text + sizeof text;
            char* start = textEnd;
            for (unsigned __int128 rest = whole; rest != 0; rest /= 10)
                *--start = char('0' + int(rest % 10));
            std::memcpy(at, start, std::size_t(textEnd - start));
            at += textEnd - start;
        } else if (e >= 0) {
            std::memcpy(at, first, std::size_t(n));
            std::memset(at + n, '0', std::size_t(e));
            at += n + e;
        } else if (point >= 0) {
            std::memcpy(at, first, std::size_t(point + 1));
            at += point + 1;
            *at++ = '.';
            std::memcpy(at, first + point + 1, std::size_t(n - point - 1));
            at += n - point - 1;
        } else {
            *at++ = '0';
            *at++ = '.';
            std::memset(at, '0', std::size_t(-point - 1));
            at += -point - 1;
            std::memcpy(at, first, std::size_t(n));
            at += n;
        }
        return std::size_t(at - out);
    }
    *at++ = first[0];
    if (n > 1) {
        *at++ = '.';
        std::memcpy(at, first + 1, std::size_t(n - 1));
        at += n - 1;
    }
    *at++ = 'e';
    *at++ = point < 0 ? '-' : '+';
    const int magnitude = point < 0 ? -point : point;
    char exponent[4];
    const char* const exponentStart = PutDigitsBackwards(exponent + 4, std::uint64_t(magnitude));
    if (exponent + 4 - exponentStart < 2)
        *at++ = '0';
    const std::size_t exponentLength = std::size_t(exponent + 4 - exponentStart);
    std::memcpy(at, exponentStart, exponentLength);
    return std::size_t(at + exponentLength - out);
}

void WriteFormattedInParallel(
    BufferedSink& out, std::size_t count,
    const std::function<void(std::size_t first, std::size_t last, std::string& text)>& format) {
    constexpr std::size_t kItemsPerBlock = 65536;
    // Blocks in flight: the workers format the next ones while this thread
    // writes the oldest.
    const std::size_t inFlight =
        std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4) + 1;
    std::deque<std::future<std::string>> blocks;
    // Texts written out go back to the pool, so that the next blocks fill
    // memory that is already mapped instead of faulting in fresh pages.
    std::vector<std::string> pool;
    std::size_t next = 0;
    const auto launch = [&] {
        const std::size_t first = next;
        const std::size_t last = std::min(count, first + kItemsPerBlock);
        next = last;
        // Held by pointer: the task may be copied, its text must not be.
        auto text = std::make_shared<std::string>();
        if (!pool.empty()) {
            *text = std::move(pool.back());
            pool.pop_back();
            text->clear();
        }
        const auto task = [&format, first, last, text] {
            format(first, last, *text);
            return std::move(*text);
        };
        blocks.push_back(vesk::StartAsync(task));
    };
    try {
        while (next < count || !blocks.empty()) {
            while (next < count && blocks.size() < inFlight)
                launch();
            std::string text = blocks.front().get();
            blocks.pop_front();
            out.write(text);
            pool.push_back(std::move(text));
        }
    } catch (...) {
        // The remaining blocks still use format: let them finish first.
        for (auto& block : blocks)
            if (block.valid())
                block.wait();
        throw;
    }
}

} // namespace talorin
