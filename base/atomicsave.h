#pragma once
// Saving a file so that a failure never leaves a cut-off file behind or
// destroys the previous one. Every writer of the program (.suf, the exports)
// produces its bytes into a sink and lets this module put them on disk.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// Takes all of the bytes or throws talorin::Error (kind Io) with the save's
// write-failure message.
using ByteSink = std::function<void(const char* data, std::size_t size)>;
// Writes the whole file into the sink it is given, in as many calls as it
// likes. What the sink throws passes through it; std::bad_alloc that it throws
// is reported by the saves below as a failed write ("メモリーが足りません"),
// anything else reaches their caller as it is, with the new file removed.
using ByteProducer = std::function<void(const ByteSink& sink)>;

// Writes produce's bytes to fileName (a path in the platform's encoding): to a
// new file in the same folder that takes fileName's name only when complete.
// While it is written the new file has no name, so a killed process leaves
// nothing behind; where the file system cannot do that it is a hidden named
// file, removed on SIGINT, SIGTERM, SIGHUP and SIGQUIT (those whose default
// action is in place) as well as on failure, whatever other saves run on
// other threads at the same time.
// An existing file that may not be written is refused, not replaced; a folder
// is refused before anything is created; a symbolic link is followed, also
// when its target does not exist yet (the target is created, the link stays);
// a device or a pipe is written through itself. A replaced file keeps its
// permissions, and its owner and group where the process may set them. Only
// the named link of a file with several hard links is replaced.
// On failure leaves any existing file as it was and throws talorin::Error of
// kind Io with WriteErrorText(fileName, <errno>):
// "ファイル <name> に書き込めませんでした: <reason>".
void SaveAtomically(const std::string& fileName, const ByteProducer& produce);

// SaveAtomically in two steps, so that several files can be saved as one:
// stage() writes each new file in full without its name, then commit() gives
// each its name, and a commit that fails can undo those before it.
class StagedSave {
  public:
    StagedSave();
    // Removes a new file that was never committed, and forgets what a
    // committed one replaced.
    ~StagedSave();
    StagedSave(const StagedSave&) = delete;
    StagedSave& operator=(const StagedSave&) = delete;

    // Checks fileName and writes produce's bytes to its new file, as
    // SaveAtomically does; fileName is not touched yet. A device or a pipe
    // is written through here already. Throws like SaveAtomically.
    void stage(const std::string& fileName, const ByteProducer& produce);
    // Gives the staged file fileName's name. When undoable, the file it
    // replaces stays aside (a hidden link in its folder, where the file
    // system has links) until this object is destroyed, so that undo() can
    // bring it back. Throws like SaveAtomically, leaving fileName as it was.
    void commit(bool undoable = false);
    // After an undoable commit(): puts back the file that it replaced, or
    // removes the file that it created. Does nothing otherwise, for a device,
    // or where the replaced file could not be kept aside.
    void undo() noexcept;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Writes produce's bytes to an open descriptor (standard output, a pipe).
// Throws like SaveAtomically, naming `name`, when a write fails.
void WriteThrough(int fd, const std::string& name, const ByteProducer& produce);

// write(2) until all of bytes is out, going on after interruptions; false
// on failure, with errno set.
bool WriteAll(int fd, std::string_view bytes);

// The write-failure message (UTF-8) for fileName and an errno value. Bytes
// of fileName that are not UTF-8 show as U+FFFD.
std::string WriteErrorText(const std::string& fileName, int error);

// The reason for an errno value as a short Japanese phrase (UTF-8); values
// without their own phrase give a sentence with the number.
std::string SystemErrorText(int error);

namespace detail {
// Test seam: false makes saves use a named temporary file, as on a file
// system without unnamed files.
void UseUnnamedTemporaryFiles(bool enabled);
// Test seam: the named temporary files that a signal would remove now.
std::vector<std::string> TemporaryFilesInFlight();
} // namespace detail

} // namespace vesk
