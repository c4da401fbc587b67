#pragma once
// The one conversion between the UTF-8 of the window and the command line and
// the Shift-JIS (CP932) bytes that files and the model hold. Uses glibc's iconv.

#include <string>
#include <string_view>

namespace vesk {

// UTF-8 to CP932. Throws talorin::Error naming the offending character when
// CP932 cannot hold it, or when the text is not valid UTF-8; never substitutes.
std::string Cp932FromUtf8(std::string_view utf8);

// CP932 to UTF-8 for display. Bytes that are not valid CP932 become U+FFFD,
// so that any name read from a file can be shown.
std::string Utf8FromCp932(std::string_view cp932);

// bytes with every byte that does not begin a well-formed UTF-8 sequence
// replaced by U+FFFD, so that any file name or message can be shown; valid
// text comes back unchanged.
std::string ValidUtf8(std::string_view bytes);

// For messages held as CP932 (SufError): utf8 as CP932 character by
// character; a character that CP932 lacks becomes "?", and a byte that is not
// UTF-8, and U+FFFD itself, become 0xFF, which is no CP932 byte and so shows
// as U+FFFD when the message is converted back for display. Never throws for
// the text's sake.
std::string Cp932ForMessage(std::string_view utf8);

} // namespace vesk
