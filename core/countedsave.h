#pragma once
// Saving a file atomically (vesk::SaveAtomically) from a writer that writes to
// a descriptor, counting the bytes as they go, so that a window can show how
// far a long save has come.

#include <cstdint>
#include <functional>
#include <string>

namespace talorin {

// Runs writeTo(fd) on a helper thread with fd the write end of a pipe, and
// saves what it writes to fileName through vesk::SaveAtomically.
// onWritten (may be empty) gets the bytes handed on so far after every chunk,
// on the calling thread.
// Returns true when writeTo returned true and the whole file was saved. On
// failure returns false and leaves an existing file as it was: when saving
// fails, vesk::SufError says why (writeTo's writes are then taken and dropped,
// so it never sees a broken pipe); when writeTo returns false, the save is
// abandoned with an input/output error.
bool SaveCounted(const std::string& fileName, const std::function<bool(int fd)>& writeTo,
                 const std::function<void(std::uint64_t written)>& onWritten);

} // namespace talorin
