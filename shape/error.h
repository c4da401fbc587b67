#pragma once
// The one error type of the library and the core: its text is shown to the user
// as it stands (UTF-8), in the window's error box or on the command line's stderr.

#include <stdexcept>
#include <string>

namespace talorin {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

// A floating-point fault (division by zero, invalid operation, overflow, an
// out-of-range conversion to a 32-bit integer). C++ does not trap these, so the
// code that can cause one checks for it and throws this with the exact text.
class FloatFault : public Error {
public:
    using Error::Error;
};

inline constexpr const char* kDivideByZeroText = "0 による浮動小数点数除算";
inline constexpr const char* kInvalidOperationText = "不正な浮動小数点数演算命令";
inline constexpr const char* kOverflowText = "浮動小数点数のオーバーフロー";

} // namespace talorin
