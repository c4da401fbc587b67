#pragma once
// Which names a .suf file can hold. Names are written unquoted, so a name
// that the reader would split, cut at a comment or skip does not come back.

#include <string>
#include <string_view>

#include "shape/shape.h"

namespace vesk {

// Why cp932Name, written as an object name (attribute false) or an attribute
// name (attribute true), would not read back from a .suf file as the same
// name: a UTF-8 sentence in the program's language that names the name and
// the reason, ready to show.
// Empty when the name reads back. Refused: the empty name; white space and
// control bytes (CR, LF, Ctrl-Z among them); "/*", which opens a comment; and
// any of the ten punctuation bytes , ( ) { } [ ] ` " ' except as the last
// byte, including as the second byte of a double-byte character.
std::string SufNameProblem(const std::string& cp932Name, bool attribute);

// utf8 as a name that reads back from a .suf file (SufNameProblem is empty
// for it, as an object and as an attribute name): each character to blame
// becomes "_" — white space, control characters, a character that CP932
// lacks (and each byte that is not UTF-8), punctuation before the last byte,
// the "/" of a "/*" that would open a comment. Every other character is kept
// as it is, so a name that reads back comes back unchanged. For names that
// are proposed, not typed: "my mountain" becomes "my_mountain". The empty
// name stays empty.
std::string SufSafeName(std::string_view utf8);

// Checks every name that writing chain would put into the file (each object's
// name and the group of each polygon). Returns the first problem as CP932
// (the name's own bytes, for SufError), or empty when all of them read back.
// Out of memory, the problem is "メモリーが足りません" (in English "not enough
// memory").
std::string ChainNameProblem(const TVESK_Object* chain);

} // namespace vesk
