// Numbers as text for shape files and the window's fields.
//
// Formatting rounds to 15 significant digits with halves away from zero, on
// the value's exact binary expansion. std::to_chars rounds halves to even, so
// the two differ only when the exact expansion ends in a 5 at the 16th digit;
// such exact ties are found from the value's bits and rounded up by hand.

#include "base/numtext.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "base/error.h"

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
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific, kDigits);
    ParseScientific(buffer, result.ptr, exact);
    return f + exact.exponent == 16;
}

// The value rounded to 15 significant digits, halves away from zero, trailing
// zeros dropped. a is finite and > 0.
constexpr std::uint64_t kPow5[] = {1ULL,
                                   5ULL,
                                   25ULL,
                                   125ULL,
                                   625ULL,
                                   3125ULL,
                                   15625ULL,
                                   78125ULL,
                                   390625ULL,
                                   1953125ULL,
                                   9765625ULL,
                                   48828125ULL,
                                   244140625ULL,
                                   1220703125ULL,
                                   6103515625ULL,
                                   30517578125ULL,
                                   152587890625ULL,
                                   762939453125ULL,
                                   3814697265625ULL,
                                   19073486328125ULL,
                                   95367431640625ULL,
                                   476837158203125ULL,
                                   2384185791015625ULL};
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t kLow15 = 100000000000000ULL;   // 10^14
constexpr std::uint64_t kHigh15 = 1000000000000000ULL; // 10^15

constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324"
                               "25262728293031323334353637383940414243444546474849"
                               "50515253545556575859606162636465666768697071727374"
                               "75767778798081828384858687888990919293949596979899";

// Exact rounding in integers for normal values of moderate size, which is
// what shapes are made of: with a = M * 2^e2 and p = 15 - E, a * 10^p =
// M * 5^p * 2^(e2 + p) fits in 128 bits, and the bits shifted out decide the
// rounding exactly, ties included. Returns false where it does not apply.
bool Round15Exact(double a, Decimal& d) {
    if (!(a >= 1e-4 && a < 1e15))
        return false;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(a);
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
    const int e2 = static_cast<int>(bits >> 52) - 1075;
    // a lies in [2^(e2+52), 2^(e2+53)): E is this estimate or one more.
    // 78913 / 2^18 is log10(2) closely enough for these exponents; the shift
    // rounds toward minus infinity.
    int e = ((e2 + 52) * 78913 >> 18) + 1;
    unsigned __int128 n;
    std::uint64_t q;
    int shift;
    for (int attempt = 0;; ++attempt) {
        const int p = kDigits - e;
        if (attempt == 3 || p < 0 || p >= static_cast<int>(std::size(kPow5)))
            return false;
        n = static_cast<unsigned __int128>(mantissa) * kPow5[p];
        shift = -(e2 + p);
        if (shift <= 0 || shift >= 120)
            return false;
        q = static_cast<std::uint64_t>(n >> shift);
        if (q >= kHigh15)
            ++e;
        else if (q < kLow15)
            --e;
        else
            break;
    }
    const unsigned __int128 rest = n & ((static_cast<unsigned __int128>(1) << shift) - 1);
    if (rest >= static_cast<unsigned __int128>(1) << (shift - 1))
        ++q; // halves away from zero
    if (q == kHigh15) {
        q = kLow15;
        ++e;
    }
    // Two digits at a time, in 32 bits: 7 high digits and 8 low ones.
    auto* out = d.digits;
    std::uint32_t high = static_cast<std::uint32_t>(q / 100000000);
    std::uint32_t low = static_cast<std::uint32_t>(q % 100000000);
    for (int i = 13; i >= 7; i -= 2) {
        std::memcpy(out + i, kDigitPairs + 2 * (low % 100), 2);
        low /= 100;
    }
    for (int i = 5; i >= 1; i -= 2) {
        std::memcpy(out + i, kDigitPairs + 2 * (high % 100), 2);
        high /= 100;
    }
    out[0] = static_cast<char>('0' + high);
    d.count = kDigits;
    d.exponent = e;
    while (d.count > 1 && d.digits[d.count - 1] == '0')
        --d.count;
    return true;
}

Decimal Round15(double a) {
    Decimal d;
    if (Round15Exact(a, d))
        return d;
    // Otherwise start from the shortest text that reads back as a. With 15 digits or
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
            result = std::to_chars(buffer, buffer + sizeof buffer, a, std::chars_format::scientific,
                                   kDigits - 1);
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
    Decimal d = Round15(std::fabs(v));
    // Near the largest double, rounding up gives 1.79769313486232E308, which
    // lies past it and would not read back; the digit below does.
    constexpr std::string_view kLargest = "179769313486231";
    if (d.exponent == 309 && std::string_view(d.digits, std::size_t(d.count)) > kLargest) {
        std::memcpy(d.digits, kLargest.data(), kLargest.size());
        d.count = int(kLargest.size());
    }
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
    const char* p = text.data();
    const char* const end = p + text.size();
    auto isDigit = [&](const char* c) { return c != end && *c >= '0' && *c <= '9'; };
    while (p != end && *p == ' ')
        ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    const char* const mantissa = p;
    // The significant digits as an integer while they fit, how many there are,
    // and the decimal exponent of the first of them (the value is about
    // 0.d times 10^order), which tells overflow from underflow.
    std::uint64_t digits = 0;
    int significant = 0;
    long long order = 0;
    long long fraction = 0; // digits after the separator
    bool anyDigit = false;
    for (; isDigit(p); ++p) {
        anyDigit = true;
        if (significant > 0 || *p != '0') {
            if (++significant <= 19)
                digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
            ++order;
        }
    }
    bool point = false;
    if (p != end && *p == '.') {
        point = true;
        for (++p; isDigit(p); ++p) {
            anyDigit = true;
            ++fraction;
            if (significant > 0 || *p != '0') {
                if (++significant <= 19)
                    digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
            } else {
                --order;
            }
        }
    }
    if (!anyDigit && !point)
        return false;
    long long exponent = 0;
    if (p != end && (*p == 'E' || *p == 'e')) {
        ++p;
        bool negativeExponent = false;
        if (p != end && (*p == '+' || *p == '-'))
            negativeExponent = *p++ == '-';
        if (!isDigit(p))
            return false;
        for (; isDigit(p); ++p)
            if (exponent < 1000000000)
                exponent = exponent * 10 + (*p - '0');
        if (negativeExponent)
            exponent = -exponent;
    }
    const char* const numberEnd = p;
    while (p != end && *p == ' ')
        ++p;
    if (p != end)
        return false;

    double value = 0;
    if (significant == 0) {
        // "0", "0.0e7", or a lone "."
    } else {
        // The value is digits times 10^shift.
        const long long shift = exponent - fraction;
        if (significant <= 15 && shift >= -22 && shift <= 22) {
            // Both operands exact, one correctly rounded operation: the
            // correctly rounded value, without the general parser.
            const double w = static_cast<double>(digits);
            value = shift < 0 ? w / kPow10[-shift] : w * kPow10[shift];
        } else {
            // from_chars takes no "+" and no lone "." mantissa; both are
            // handled above, so only the unsigned number is handed over.
            const auto result = std::from_chars(mantissa, numberEnd, value);
            if (result.ptr != numberEnd)
                return false;
            if (result.ec == std::errc::result_out_of_range) {
                // Too large is refused; too small underflows to zero.
                if (order + exponent > 0)
                    return false;
                value = 0;
            } else if (result.ec != std::errc()) {
                return false;
            }
        }
    }
    out = negative ? -value : value;
    return true;
}

double TextToFloat(std::string_view textUtf8) {
    double value;
    if (!ParseSufNumber(textUtf8, value))
        throw talorin::Error(talorin::Text(talorin::Msg::NotANumber, {textUtf8}));
    return value;
}

} // namespace vesk
