#pragma once
// Numbers as text, independent of the locale: the decimal separator is always
// a full stop, for the writer and every parser alike.

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Longest text FormatSufNumber writes.
inline constexpr std::size_t kMaxNumberText = 32;

// Formats v as a shape file writes it: "0" for zeros, "INF", "NAN"; otherwise
// rounded to 15 significant digits (halves away from zero, on v's exact binary
// expansion), trailing zeros dropped, plain form for decimal exponents -3..15
// (magnitudes 0.0001 up to 1e15), else d.dddE<exp>. Where rounding up would
// pass the largest double (1.79769313486232E308), the value is rounded toward
// zero instead, so that every finite value reads back. Writes at most
// kMaxNumberText bytes to out, no terminator; returns the count.
std::size_t FormatSufNumber(double v, char* out);
std::string FormatSufNumber(double v);

// Parses optional spaces, an optional sign, digits, optionally "." and digits,
// optionally E/e with an optional sign and digits, optional spaces, and nothing
// else; at least one digit or the "." must stand before the exponent. The value
// is correctly rounded. Returns false for anything else, the empty text, or a
// value outside the range of double.
bool ParseSufNumber(std::string_view text, double& out);

// The conversion of the window's size and height fields (and of the reader's
// number tokens): ParseSufNumber or throw talorin::Error with the text
// "'<text>' は浮動小数点数ではありません" (text in UTF-8, as typed).
double TextToFloat(std::string_view textUtf8);

} // namespace vesk
