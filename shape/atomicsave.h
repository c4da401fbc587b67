#pragma once
// Saving a file so that a failure never leaves a cut-off file behind or
// destroys the previous one. Every writer of the program (.suf, the exports)
// produces its bytes into a sink and lets this module put them on disk.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vesk {

// Thrown by a sink that cannot take more bytes; carries the errno.
struct WriteFailed {
    int error;
};

// Takes all of the bytes or throws WriteFailed.
using ByteSink = std::function<void(const char* data, std::size_t size)>;
// Writes the whole file into the sink it is given, in as many calls as it likes.
// It may throw WriteFailed (passed through from the sink) or std::bad_alloc,
// which the saves below report as a failed write; anything else it throws
// reaches their caller, with the new file removed and SufError left empty.
using ByteProducer = std::function<void(const ByteSink& sink)>;

// Writes produce's bytes to fileName (a path in the platform's encoding): to a
// new file in the same folder that takes fileName's name only when complete.
// While it is written the new file has no name, so a killed process leaves
// nothing behind; where the file system cannot do that it is a hidden named
// file, removed on SIGINT, SIGTERM, SIGHUP and SIGQUIT (those whose default
// action is in place) as well as on failure.
// An existing file that may not be written is refused, not replaced; a folder
// is refused before anything is created; a symbolic link is followed, also
// when its target does not exist yet (the target is created, the link stays);
// a device or a pipe is written through itself. A replaced file keeps its
// permissions, and its owner and group where the process may set them. Only
// the named link of a file with several hard links is replaced.
// Returns true when the whole file was written; on failure returns false,
// leaves any existing file as it was and sets SufError (CP932) to
// "ファイル <name> に書き込めませんでした: <reason>". Clears SufError when it starts.
bool SaveAtomically(const std::string& fileName, const ByteProducer& produce);

// Writes produce's bytes to an open descriptor (standard output, a pipe).
// Returns false when a write fails, with SufError naming `name` as above.
bool WriteThrough(int fd, const std::string& name, const ByteProducer& produce);

// write(2) until all of bytes is out, going on after interruptions; false
// on failure, with errno set.
bool WriteAll(int fd, std::string_view bytes);

// SufError's write-failure message for fileName (UTF-8) and an errno value.
// Bytes of fileName that are not UTF-8 show as U+FFFD.
void SetWriteError(const std::string& fileName, int error) noexcept;

// The same message as UTF-8, for callers that show it directly.
std::string WriteErrorText(const std::string& fileName, int error);

// The reason for an errno value as a short Japanese phrase (UTF-8); values
// without their own phrase give a sentence with the number.
std::string SystemErrorText(int error);

namespace detail {
// Test seam: false makes saves use a named temporary file, as on a file
// system without unnamed files.
void UseUnnamedTemporaryFiles(bool enabled);
} // namespace detail

} // namespace vesk
