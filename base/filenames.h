#pragma once
// Splitting file names into the folder part and the base name (on "/").

#include <string>

namespace talorin {

// Everything up to and including the last "/"; empty when there is none.
std::string FolderPart(const std::string& fileName);

// The part after the last "/", cut before its first ".": "fuji.old.bmp" gives
// "fuji", ".hidden" gives "".
std::string BaseFileName(const std::string& fileName);

} // namespace talorin
