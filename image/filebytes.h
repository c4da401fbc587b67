#pragma once
// Reading a whole picture file into memory, shared by the image decoders.

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "base/error.h"

namespace talorin {

// Texts of the reasons ReadFileBytes and the decoders give (UTF-8, no file name).
inline const char* const kCannotOpenText = MessageText(Msg::CannotOpen, ProgramLanguage()).data();
inline const char* const kReadFailedText = MessageText(Msg::ReadFailed, ProgramLanguage()).data();
inline const char* const kTooLargeText = MessageText(Msg::ImageTooLarge, ProgramLanguage()).data();
inline const char* const kNoMemoryText = MessageText(Msg::NotEnoughMemoryImage, ProgramLanguage()).data(); // of kind OutOfMemory
inline const char* const kTruncatedText = MessageText(Msg::Truncated, ProgramLanguage()).data();
inline const char* const kBadSizeText = MessageText(Msg::BadImageSize, ProgramLanguage()).data();

// Runs allocate(), which sizes a picture's buffers; a heap that refuses them
// becomes the error of kind OutOfMemory with kNoMemoryText.
template <typename Allocate> void AllocateOrThrow(Allocate&& allocate) {
    try {
        allocate();
    } catch (const std::bad_alloc&) {
        throw Error(ErrorKind::OutOfMemory, kNoMemoryText);
    }
}

// The bytes of the regular file at path. Throws talorin::Error with one of the
// reasons above, without the file name: of kind Io when the path is missing or
// not a regular file or reading fails, OutOfMemory when the bytes cannot be
// held, BadInput when the file is longer than maxBytes (checked before anything
// is allocated).
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes);

} // namespace talorin
