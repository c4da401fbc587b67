#pragma once
// The one error type of the library and the core: a kind, for callers that
// react differently (exit codes, a beep), and a text that is shown to the user
// as it stands (UTF-8), in the window's error box or on the command line's stderr.

#include <stdexcept>
#include <string>

#include "base/messages.h"

namespace talorin {

enum class ErrorKind {
    BadInput,    // an argument or a file's content that cannot be used
    Malformed,   // a file that breaks its format's grammar (the line-numbered .suf messages)
    OutOfMemory, // the memory budget or the heap refused
    FloatFault,  // a floating-point fault in the arithmetic of a run
    Io,          // a file could not be read or written
    Cancelled,   // the caller's progress callback asked to stop
};

// The one text for running out of memory, whoever runs out.
inline const char* const kOutOfMemoryText = MessageText(Msg::OutOfMemory, ProgramLanguage()).data();

class Error : public std::runtime_error {
  public:
    // An error of kind BadInput.
    explicit Error(const std::string& text) : Error(ErrorKind::BadInput, text) {}
    Error(ErrorKind kind, const std::string& text) : std::runtime_error(text), m_kind(kind) {}

    ErrorKind kind() const noexcept { return m_kind; }

  private:
    ErrorKind m_kind;
};

// A floating-point fault (division by zero, invalid operation, overflow, an
// out-of-range conversion to a 32-bit integer). C++ does not trap these, so the
// code that can cause one checks for it and throws this with the exact text.
class FloatFault : public Error {
  public:
    explicit FloatFault(const std::string& text) : Error(ErrorKind::FloatFault, text) {}
};

inline const char* const kDivideByZeroText = MessageText(Msg::DivideByZero, ProgramLanguage()).data();
inline const char* const kInvalidOperationText =
    MessageText(Msg::InvalidOperation, ProgramLanguage()).data();
inline const char* const kOverflowText = MessageText(Msg::Overflow, ProgramLanguage()).data();

} // namespace talorin
