#pragma once
// Saving a file so that a failure never leaves a cut-off file behind or
// destroys the previous one. Every writer of the program (.suf, the exports)
// produces its bytes into a sink and lets this module put them on disk.

#include <cstddef>
#include <functional>
#include <string>

namespace vesk {

// Thrown by a sink that cannot take more bytes; carries the errno.
struct WriteFailed {
    int error;
};

// Takes all of the bytes or throws WriteFailed.
using ByteSink = std::function<void(const char* data, std::size_t size)>;
// Writes the whole file into the sink it is given, in as many calls as it likes.
// It may throw WriteFailed (passed through from the sink) or std::bad_alloc.
using ByteProducer = std::function<void(const ByteSink& sink)>;

// Writes produce's bytes to fileName (a path in the platform's encoding): to a
// temporary file in the same folder, renamed over fileName only when complete.
// An existing file that may not be written is refused, not replaced; a symbolic
// link is followed; a device or a pipe is written through itself.
// Returns true when the whole file was written; on failure returns false,
// leaves any existing file as it was and sets SufError (CP932) to
// "ファイル <name> に書き込めませんでした: <reason>". Clears SufError when it starts.
bool SaveAtomically(const std::string& fileName, const ByteProducer& produce);

// Writes produce's bytes to an open descriptor (standard output, a pipe).
// Returns false when a write fails, with SufError naming `name` as above.
bool WriteThrough(int fd, const std::string& name, const ByteProducer& produce);

// SufError's write-failure message for fileName (UTF-8) and an errno value.
void SetWriteError(const std::string& fileName, int error) noexcept;

} // namespace vesk
