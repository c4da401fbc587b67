// Numbers as text for shape files and the window's fields.
//
// Formatting rounds to 15 significant digits with halves away from zero, on
// the value's exact binary expansion. std::to_chars rounds halves to even, so
// the two differ only when the exact expansion ends in a 5 at the 16th digit;
// such exact ties are found from the value's bits and rounded up by hand.

#include "shape/numtext.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "shape/error.h"

namespace vesk {

namespace {

constexpr int kDigits = 15;

// A decimal value 0.d1d2...dn times 10^exponent, digits as ASCII, n >= 1.
struct Decimal {
    char digits[24];
    int count;
    int exponent;
};

// Reads to_chars' scientific output "d[.ddd]e±xx" into a Decimal.
void ParseScientific(const char* first, const char* last, Decimal& out) {
    int count = 0;
    const char* p = first;
    for (; p != last && *p != 'e'; ++p)
        if (*p != '.')
            out.digits[count++] = *p;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), last, exponent);
    out.count = count;
    out.exponent = exponent + 1;
}

// Number of binary fraction digits of a finite, non-zero |v| (0 for integers).
int FractionBits(double v) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent;
    if (biased == 0) {
        exponent = -1074;
    } else {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased - 1075;
    }
    const int f = -(exponent + std::countr_zero(mantissa));
    return f > 0 ? f : 0;
}

// Whether the exact expansion of a > 0 has exactly 16 significant digits with
// a 5 last: a tie at the 15th digit. e15 is the exponent of the 15-digit
// rounding, which is the exact exponent or one more. Fills exact when true.
bool IsExactTie(double a, int e15, Decimal& exact) {
    const int f = FractionBits(a);
    if (f == 0) {
        // Integers: 16 significant digits ending in 5, then maybe zeros; only
        // below 2^54 can such a value be a double.
        if (a < 1e15 || a >= 18014398509481984.0)
            return false;
        std::uint64_t n = static_cast<std::uint64_t>(a);
        exact.exponent = n >= 10000000000000000ULL ? 17 : 16;
        while (n % 10 == 0)
            n /= 10;
        if (n < 1000000000000000ULL || n > 9999999999999999ULL || n % 10 != 5)
            return false;
        exact.count = 16;
        for (int i = 15; i >= 0; --i, n /= 10)
            exact.digits[i] = static_cast<char>('0' + n % 10);
        return true;
    }
    // A value with f fraction bits has exactly f decimal fraction digits, the
    // last a 5, so its expansion has f + E significant digits (E exact).
    if (f + e15 != 16 && f + e15 != 17)
        return false;
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, a,
                                      std::chars_format::scientific, kDigits);
    ParseScientific(buffer, result.ptr, exact);
    return f + exact.exponent == 16;
}

// The value rounded to 15 significant digits, halves away from zero, trailing
// zeros dropped. a is finite and > 0.
Decimal Round15(double a) {
    Decimal d;
    // Fast path: the shortest text that reads back as a. With 15 digits or
    // fewer it is the rounding itself; with 16 or 17 it is that many digits
    // correctly rounded, and rounding it again to 15 is right unless its tail
    // is exactly a half, where the exact value may lie on either side.
    // Subnormals carry fewer digits than their shortest text suggests, so
    // they always take the slow path.
    char buffer[40];
    std::to_chars_result result;
    if (a >= std::numeric_limits<double>::min()) {
        result = std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific);
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific,
                               kDigits - 1);
    }
    ParseScientific(buffer, result.ptr, d);
    bool roundUp = false;
    if (d.count > kDigits) {
        const char* tail = d.digits + kDigits;
        const int tailCount = d.count - kDigits;
        const bool half = tail[0] == '5' && (tailCount == 1 || tail[1] == '0');
        if (!half) {
            roundUp = tail[0] >= '5';
        } else {
            // Correct rounding of the exact value, then fix exact ties.
            result = std::to_chars(buffer, buffer + sizeof buffer, a,
                                   std::chars_format::scientific, kDigits - 1);
            ParseScientific(buffer, result.ptr, d);
            Decimal exact;
            if (IsExactTie(a, d.exponent, exact)) {
                d = exact;
                roundUp = true;
            }
        }
        d.count = kDigits;
    }
    if (roundUp) {
        int i = kDigits - 1;
        while (i >= 0 && d.digits[i] == '9')
            d.digits[i--] = '0';
        if (i >= 0) {
            ++d.digits[i];
        } else {
            d.digits[0] = '1';
            d.count = 1;
            ++d.exponent;
        }
    }
    while (d.count > 1 && d.digits[d.count - 1] == '0')
        --d.count;
    return d;
}

char* WriteExponent(char* p, int exponent) {
    if (exponent < 0) {
        *p++ = '-';
        exponent = -exponent;
    }
    return std::to_chars(p, p + 8, exponent).ptr;
}

} // namespace

std::size_t FormatSufNumber(double v, char* out) {
    char* p = out;
    if (std::isnan(v)) {
        std::memcpy(p, "NAN", 3);
        return 3;
    }
    if (std::isinf(v)) {
        std::memcpy(p, "INF", 3);
        return 3;
    }
    if (v == 0) {
        *p = '0';
        return 1;
    }
    if (v < 0)
        *p++ = '-';
    const Decimal d = Round15(std::fabs(v));
    const int e = d.exponent;
    if (e >= -3 && e <= 15) {
        if (e >= 1) {
            for (int i = 0; i < e; ++i)
                *p++ = i < d.count ? d.digits[i] : '0';
            if (d.count > e) {
                *p++ = '.';
                std::memcpy(p, d.digits + e, static_cast<std::size_t>(d.count - e));
                p += d.count - e;
            }
        } else {
            *p++ = '0';
            *p++ = '.';
            for (int i = 0; i < -e; ++i)
                *p++ = '0';
            std::memcpy(p, d.digits, static_cast<std::size_t>(d.count));
            p += d.count;
        }
    } else {
        *p++ = d.digits[0];
        if (d.count > 1) {
            *p++ = '.';
            std::memcpy(p, d.digits + 1, static_cast<std::size_t>(d.count - 1));
            p += d.count - 1;
        }
        *p++ = 'E';
        p = WriteExponent(p, e - 1);
    }
    return static_cast<std::size_t>(p - out);
}

std::string FormatSufNumber(double v) {
    char buffer[kMaxNumberText];
    return std::string(buffer, FormatSufNumber(v, buffer));
}

bool ParseSufNumber(std::string_view text, double& out) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto isDigit = [&](std::size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t mantissaStart = i;
    // order: the decimal exponent of the first non-zero digit, so that the
    // value is about 0.d times 10^order; it tells overflow from underflow.
    long long order = 0;
    bool nonZero = false;
    bool anyDigit = false;
    for (; isDigit(i); ++i) {
        anyDigit = true;
        nonZero = nonZero || text[i] != '0';
        if (nonZero)
            ++order;
    }
    bool point = false;
    if (i < n && text[i] == '.') {
        point = true;
        for (++i; isDigit(i); ++i) {
            anyDigit = true;
            if (!nonZero && text[i] == '0')
                --order;
            nonZero = nonZero || text[i] != '0';
        }
    }
    if (!anyDigit && !point)
        return false;
    long long exponent = 0;
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        if (!isDigit(i))
            return false;
        for (; isDigit(i); ++i)
            if (exponent < 1000000000)
                exponent = exponent * 10 + (text[i] - '0');
        if (negativeExponent)
            exponent = -exponent;
    }
    const std::size_t numberEnd = i;
    while (i < n && text[i] == ' ')
        ++i;
    if (i != n)
        return false;

    if (!nonZero) { // "0", "0.0e7", or a lone "."
        out = negative ? -0.0 : 0.0;
        return true;
    }
    // from_chars takes no "+" and no lone "." mantissa; both are handled
    // above, so only the unsigned number is handed over.
    double value = 0;
    const char* first = text.data() + mantissaStart;
    const auto result = std::from_chars(first, text.data() + numberEnd, value);
    if (result.ptr != text.data() + numberEnd)
        return false;
    if (result.ec == std::errc::result_out_of_range) {
        // Too large is refused; too small underflows to zero.
        if (order + exponent > 0)
            return false;
        value = 0;
    } else if (result.ec != std::errc()) {
        return false;
    }
    out = negative ? -value : value;
    return true;
}

double TextToFloat(std::string_view textUtf8) {
    double value;
    if (!ParseSufNumber(textUtf8, value))
        throw talorin::Error("'" + std::string(textUtf8) + "' は浮動小数点数ではありません");
    return value;
}

} // namespace vesk
