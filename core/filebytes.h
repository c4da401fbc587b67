#pragma once
// Reading a whole picture file into memory, shared by the image decoders.

#include <cstdint>
#include <string>
#include <vector>

namespace talorin {

// Texts of the reasons ReadFileBytes gives (UTF-8, no file name).
inline constexpr const char* kCannotOpenText = "ファイルを開けません";
inline constexpr const char* kReadFailedText = "ファイルの読み込み中にエラーが起きました";
inline constexpr const char* kTooLargeText = "画像が大きすぎます";
inline constexpr const char* kNoMemoryText = "メモリが足りません"; // of kind OutOfMemory

// The bytes of the regular file at path. Throws talorin::Error with one of the
// reasons above, without the file name: of kind Io when the path is missing or
// not a regular file or reading fails, OutOfMemory when the bytes cannot be
// held, BadInput when the file is longer than maxBytes (checked before anything
// is allocated).
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes);

} // namespace talorin
