#include "base/numtext.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "base/error.h"

using namespace vesk;

namespace {

// Reference: the value's exact decimal expansion (a double has at most 767
// significant digits), rounded by hand to 15 digits with halves away from
// zero and laid out by the plain/exponent rule.
std::string Reference(double v) {
    if (std::isnan(v))
        return "NAN";
    if (std::isinf(v))
        return "INF";
    if (v == 0)
        return "0";
    char buffer[1200];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(v),
                                      std::chars_format::scientific, 800);
    std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    int exponent = std::stoi(text.substr(e + 1)) + 1;
    std::string digits = text.substr(0, 1) + text.substr(2, e - 2);
    const bool up = digits[15] >= '5';
    digits.resize(15);
    if (up) {
        int i = 14;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i < 0) {
            digits = "1" + digits.substr(0, 14);
            ++exponent;
        } else {
            ++digits[i];
        }
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out = v < 0 ? "-" : "";
    const int n = static_cast<int>(digits.size());
    if (exponent >= -3 && exponent <= 15) {
        if (exponent >= 1) {
            out += digits.substr(0, std::min(n, exponent));
            out += std::string(std::max(0, exponent - n), '0');
            if (n > exponent)
                out += "." + digits.substr(exponent);
        } else {
            out += "0." + std::string(-exponent, '0') + digits;
        }
    } else {
        out += digits.substr(0, 1);
        if (n > 1)
            out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent - 1);
    }
    return out;
}

// The significant digits of |v|'s exact expansion, trailing zeros dropped.
std::string ExactDigits(double v) {
    char buffer[1200];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(v),
                                      std::chars_format::scientific, 800);
    std::string text(buffer, result.ptr);
    std::string digits = text.substr(0, 1) + text.substr(2, text.find('e') - 2);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    return digits;
}

} // namespace

TEST(SufNumberFormat, WorkedExamples) {
    EXPECT_EQ(FormatSufNumber(12.5), "12.5");
    EXPECT_EQ(FormatSufNumber(2000.0 / 3), "666.666666666667");
    EXPECT_EQ(FormatSufNumber(-0.25), "-0.25");
    EXPECT_EQ(FormatSufNumber(0.0001), "0.0001");
    EXPECT_EQ(FormatSufNumber(0.00005), "5E-5");
    EXPECT_EQ(FormatSufNumber(1.5e20), "1.5E20");
    EXPECT_EQ(FormatSufNumber(1e15), "1E15");
    EXPECT_EQ(FormatSufNumber(999999999999999.0), "999999999999999");
    EXPECT_EQ(FormatSufNumber(123456789012345678.0), "1.23456789012346E17");
    EXPECT_EQ(FormatSufNumber(127.5), "127.5");
    EXPECT_EQ(FormatSufNumber(1000), "1000");
    EXPECT_EQ(FormatSufNumber(0.001), "0.001");
    EXPECT_EQ(FormatSufNumber(-1e-300), "-1E-300");
    EXPECT_EQ(FormatSufNumber(0.1), "0.1");
}

TEST(SufNumberFormat, ZerosInfinitiesAndNotANumberHaveNoSign) {
    EXPECT_EQ(FormatSufNumber(0.0), "0");
    EXPECT_EQ(FormatSufNumber(-0.0), "0");
    EXPECT_EQ(FormatSufNumber(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(FormatSufNumber(-std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(FormatSufNumber(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(FormatSufNumber(-std::numeric_limits<double>::quiet_NaN()), "NAN");
}

TEST(SufNumberFormat, ExponentBoundariesFollowTheRoundedValue) {
    EXPECT_EQ(FormatSufNumber(0.000099999999999999995), "0.0001");
    EXPECT_EQ(FormatSufNumber(0.0000999999999999994), "9.99999999999994E-5");
    EXPECT_EQ(FormatSufNumber(std::nextafter(0.0001, 0.0)), "0.0001");
    EXPECT_EQ(FormatSufNumber(999999999999999.5), "1E15");
    EXPECT_EQ(FormatSufNumber(999999999999999.4), "999999999999999");
    EXPECT_EQ(FormatSufNumber(-999999999999999.5), "-1E15");
    EXPECT_EQ(FormatSufNumber(99999999999999.95), "100000000000000");
    EXPECT_EQ(FormatSufNumber(1e16), "1E16");
    EXPECT_EQ(FormatSufNumber(1e-5), "1E-5");
    EXPECT_EQ(FormatSufNumber(1.25e-10), "1.25E-10");
    EXPECT_EQ(FormatSufNumber(std::numeric_limits<double>::max()), "1.79769313486231E308");
    EXPECT_EQ(FormatSufNumber(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
}

TEST(SufNumberFormat, ExactTiesRoundAwayFromZero) {
    // 1 + 2^-15 = 1.000030517578125 exactly: a 5 at the 16th digit. Halves
    // to even would give ...812.
    const double tie = 1.0 + 1.0 / 32768;
    EXPECT_EQ(FormatSufNumber(tie), "1.00003051757813");
    EXPECT_EQ(FormatSufNumber(-tie), "-1.00003051757813");
    EXPECT_EQ(FormatSufNumber(std::nextafter(tie, 0.0)), "1.00003051757812");
    EXPECT_EQ(FormatSufNumber(std::nextafter(tie, 2.0)), "1.00003051757813");
    // Integer ties: 16 digits ending in 5, also with a trailing zero.
    EXPECT_EQ(FormatSufNumber(1000000000000005.0), "1.00000000000001E15");
    EXPECT_EQ(FormatSufNumber(1000000000000004.0), "1E15");
    EXPECT_EQ(FormatSufNumber(12345678901234550.0), "1.23456789012346E16");
    EXPECT_EQ(FormatSufNumber(12345678901234450.0), "1.23456789012345E16");
    // A tie whose rounding carries through every digit.
    EXPECT_EQ(FormatSufNumber(9999999999999995.0), "1E16");
    // Ties below 0.0001, in the exponent form: 2^-22 = 2.384185791015625E-7.
    EXPECT_EQ(FormatSufNumber(std::ldexp(1.0, -22)), "2.38418579101563E-7");
    EXPECT_EQ(FormatSufNumber(13 * std::ldexp(1.0, -20)), "1.23977661132813E-5");
}

TEST(SufNumberFormat, AgreesWithExactRoundingOnConstructedTies) {
    // Values k / 2^f with f + E == 16 are exact 16-digit decimals ending in 5.
    std::mt19937_64 random(7);
    int ties = 0;
    for (int f = 1; f <= 60; ++f) {
        for (int i = 0; i < 200; ++i) {
            const double scale = std::ldexp(1.0, -f);
            const double k = static_cast<double>((random() >> 11) | 1); // odd, < 2^53
            for (double v : {k * scale, std::trunc(k / std::ldexp(1.0, i % 40)) * scale}) {
                if (v == 0)
                    continue;
                ASSERT_EQ(FormatSufNumber(v), Reference(v)) << std::hexfloat << v;
                ASSERT_EQ(FormatSufNumber(-v), Reference(-v)) << std::hexfloat << v;
                const std::string digits = ExactDigits(v);
                ties += digits.size() == 16 && digits.back() == '5';
            }
        }
    }
    // Short odd numerators reach the ties of small magnitudes.
    for (int f = 1; f <= 90; ++f) {
        for (int k = 1; k < 4000; k += 2) {
            const double v = std::ldexp(static_cast<double>(k), -f);
            ASSERT_EQ(FormatSufNumber(v), Reference(v)) << std::hexfloat << v;
            const std::string digits = ExactDigits(v);
            ties += digits.size() == 16 && digits.back() == '5';
        }
    }
    EXPECT_GT(ties, 100);
}

TEST(SufNumberFormat, AgreesWithExactRoundingOnRandomValues) {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> coordinate(-1000, 1000);
    std::uniform_int_distribution<int> exponent(-330, 310);
    for (int i = 0; i < 20000; ++i) {
        const double a = coordinate(random);
        ASSERT_EQ(FormatSufNumber(a), Reference(a)) << std::hexfloat << a;
        const double b = std::bit_cast<double>(random() & 0x7FEFFFFFFFFFFFFFULL);
        ASSERT_EQ(FormatSufNumber(b), Reference(b)) << std::hexfloat << b;
        const double c = coordinate(random) * std::pow(10.0, exponent(random) / 10);
        ASSERT_EQ(FormatSufNumber(c), Reference(c)) << std::hexfloat << c;
    }
}

TEST(SufNumberFormat, FitsTheDeclaredLength) {
    for (double v : {-1.23456789012345e-300, -1.23456789012345e-5, -123456789012345.6,
                     -0.000123456789012345}) {
        char out[kMaxNumberText];
        EXPECT_LE(FormatSufNumber(v, out), kMaxNumberText);
    }
    EXPECT_EQ(FormatSufNumber(-0.000123456789012345), "-0.000123456789012345");
}

TEST(SufNumberParse, AcceptsTheNumberForms) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"12.5", 12.5},
        {" -0.25 ", -0.25},
        {"+1e3", 1000},
        {"1E-5", 1e-5},
        {".5", 0.5},
        {"5.", 5},
        {"0012", 12},
        {"1e+05", 1e5},
        {"-.5e1", -5},
        {"0.1", 0.1},
        {"7e-400", 0},
        {"0e999999999999", 0},
        {"1e0000000000000000000002", 100},
        {"  3  ", 3},
        {"9007199254740993", 9007199254740992.0},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
    };
    for (const Case& c : cases) {
        double value = -99;
        EXPECT_TRUE(ParseSufNumber(c.text, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    double value = 1;
    EXPECT_TRUE(ParseSufNumber("-0", value));
    EXPECT_TRUE(std::signbit(value));
    // A lone separator stands for a number.
    EXPECT_TRUE(ParseSufNumber(".", value));
    EXPECT_EQ(value, 0);
}

TEST(SufNumberParse, RefusesEverythingElse) {
    for (const char* text :
         {"",      " ",     "1,000",  "1,5",     "1e",   "1e+", "e5",  "--1", "+-1",
          "1.2.3", "1e400", "-1e400", "1.8e308", "0x10", "inf", "NAN", "1 2", "\t1",
          "1\t",   "1)",    "(1",     "1e5.0",   "+",    "-",   "１",  "1f"}) {
        double value = 0;
        EXPECT_FALSE(ParseSufNumber(text, value)) << "'" << text << "'";
    }
}

TEST(SufNumberParse, ReadsBackWhatIsWritten) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> coordinate(-1000, 1000);
    for (int i = 0; i < 10000; ++i) {
        const double v = coordinate(random) * std::pow(10.0, static_cast<int>(i % 40) - 20);
        double back = 0;
        ASSERT_TRUE(ParseSufNumber(FormatSufNumber(v), back));
        EXPECT_NEAR(back, v, std::fabs(v) * 1e-14);
        EXPECT_EQ(FormatSufNumber(back), FormatSufNumber(v));
    }
}

TEST(SufNumberParse, RoundsCorrectlyLikeTheGeneralParser) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> coordinate(-1000, 1000);
    char text[64];
    for (int i = 0; i < 20000; ++i) {
        const double v = coordinate(random) * std::pow(10.0, static_cast<int>(i % 50) - 25);
        const int precision = static_cast<int>(i % 18);
        const auto format = i % 3 == 0 ? std::chars_format::fixed : std::chars_format::scientific;
        const auto end = std::to_chars(text, text + sizeof text, v, format, precision).ptr;
        double expected = 0;
        std::from_chars(text, end, expected);
        double value = 0;
        ASSERT_TRUE(ParseSufNumber(std::string_view(text, end - text), value)) << text;
        ASSERT_EQ(value, expected) << std::string(text, end);
    }
}

TEST(SufNumberParse, TextToFloatNamesTheText) {
    EXPECT_EQ(TextToFloat(" 2000 "), 2000);
    try {
        TextToFloat("1,000");
        FAIL() << "no error";
    } catch (const talorin::Error& error) {
        EXPECT_STREQ(error.what(), "'1,000' は浮動小数点数ではありません");
    }
    EXPECT_THROW(TextToFloat(""), talorin::Error);
}

TEST(SufNumberFormat, ValuesNearTheLargestDoubleReadBack) {
    // Everything from 1.797693134862315E308 up rounds half up past the largest
    // double; those values are written one digit lower. Below that, the text
    // is the usual rounding.
    const double max = std::numeric_limits<double>::max();
    const double below = 1.7976931348623149e308;
    EXPECT_EQ(FormatSufNumber(below), "1.79769313486231E308");
    EXPECT_EQ(FormatSufNumber(1.79769313486230e308), "1.7976931348623E308");
    EXPECT_EQ(FormatSufNumber(-max), "-1.79769313486231E308");
    EXPECT_EQ(FormatSufNumber(1.797693134862315e308), "1.79769313486231E308");
    // Every finite value from a few thousand ulps below the top reads back,
    // within one digit of the 15th.
    double v = max;
    for (int i = 0; i < 5000; ++i, v = std::nextafter(v, 0.0)) {
        for (const double w : {v, -v}) {
            const std::string text = FormatSufNumber(w);
            double back = 0;
            ASSERT_TRUE(ParseSufNumber(text, back)) << text;
            ASSERT_LE(std::fabs(back - w), 1e294) << text;
        }
    }
}
