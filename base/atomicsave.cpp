// Saving through a temporary file: the bytes go to a new file in the target's
// folder, which takes the target's name only when every write, the flush and
// the close have succeeded.
//
// The new file has no name while it is written (O_TMPFILE), so a process that
// is killed part-way leaves nothing behind. Where the file system cannot make
// unnamed files, a hidden named file is used instead, and a handler for the
// signals that can be caught removes it before the process ends; every
// named file of a save in flight, on whichever thread, is in a fixed table
// that the handler can walk without locks or allocation.

#include "base/atomicsave.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "base/error.h"
#include "base/sjis.h"

namespace vesk {

std::string SystemErrorText(int error) {
    switch (error) {
    case ENOENT:
        return talorin::Text(talorin::Msg::ErrFolderNotFound);
    case EACCES:
    case EPERM:
        return talorin::Text(talorin::Msg::ErrAccessDenied);
    case ENOSPC:
        return talorin::Text(talorin::Msg::ErrDiskFull);
    case EDQUOT:
        return talorin::Text(talorin::Msg::ErrQuota);
    case EFBIG:
        return talorin::Text(talorin::Msg::ErrFileTooLarge);
    case EROFS:
        return talorin::Text(talorin::Msg::ErrReadOnly);
    case EISDIR:
        return talorin::Text(talorin::Msg::ErrIsFolder);
    case ENOTDIR:
        return talorin::Text(talorin::Msg::ErrNotFolder);
    case ENXIO:
    case ENODEV:
        return talorin::Text(talorin::Msg::ErrNoDevice);
    case ENAMETOOLONG:
        return talorin::Text(talorin::Msg::ErrNameTooLong);
    case ELOOP:
        return talorin::Text(talorin::Msg::ErrTooManySymlinks);
    case EMLINK:
        return talorin::Text(talorin::Msg::ErrTooManyLinks);
    case EPIPE:
        return talorin::Text(talorin::Msg::ErrPipeClosed);
    case EBUSY:
    case ETXTBSY:
        return talorin::Text(talorin::Msg::ErrBusy);
    case EIO:
        return talorin::Text(talorin::Msg::ErrIo);
    case ENOMEM:
        return talorin::Text(talorin::Msg::NotEnoughMemory);
    default:
        return talorin::Text(talorin::Msg::ErrNumber, {std::to_string(error)});
    }
}

std::string WriteErrorText(const std::string& fileName, int error) {
    return talorin::Text(talorin::Msg::CannotWrite, {ValidUtf8(fileName), SystemErrorText(error)});
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

namespace {

std::atomic<bool> g_unnamedFiles{true};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The file that a save replaces or creates: symbolic links are followed, also
// a link to a file that does not exist yet, so that the link stays a link and
// points at the saved file. Returns 0 or an errno.
int ResolveTarget(const std::string& fileName, std::string& target) {
    target = fileName;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        char link[PATH_MAX];
        const ssize_t length = ::readlink(target.c_str(), link, sizeof link);
        if (length < 0)
            return errno;
        if (static_cast<std::size_t>(length) == sizeof link)
            return ENAMETOOLONG;
        const std::string_view to(link, static_cast<std::size_t>(length));
        target = to.starts_with('/') ? std::string(to) : FolderOf(target) + "/" + std::string(to);
    }
    return ELOOP;
}

[[noreturn]] void Fail(const std::string& name, int error) {
    throw talorin::Error(talorin::ErrorKind::Io, WriteErrorText(name, error));
}

// --- Removing named temporary files when a signal ends the process ----------

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// One named temporary file that a signal removes. A save claims a free slot
// (kFree -> kWriting), writes the name and arms it (kArmed); it takes the
// slot back with kArmed -> kFree. The handler takes an armed slot with
// kArmed -> kWriting before it reads the name, so a name is never read while
// it is rewritten.
enum SlotState : int { kFree, kWriting, kArmed };
struct CleanupSlot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

// More saves in flight at once than the program ever runs; a save that finds
// no free slot goes on without the clean-up.
constexpr std::size_t kCleanupSlots = 64;
CleanupSlot g_cleanup[kCleanupSlots];

extern "C" void RemoveTemporariesOnSignal(int signal) {
    for (CleanupSlot& slot : g_cleanup) {
        int armed = kArmed;
        if (slot.state.compare_exchange_strong(armed, kWriting, std::memory_order_acquire))
            ::unlink(slot.path);
    }
    // Then end the process as the signal would have: the handler was only
    // installed where the default action was in place.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    ::sigaction(signal, &defaults, nullptr);
    ::raise(signal);
}

// The handler stays installed while any named temporary file exists; the
// dispositions it replaced come back when the last save is done.
struct SignalHandlers {
    std::mutex lock;
    int users = 0;
    bool installed[std::size(kCleanupSignals)] = {};
    struct sigaction previous[std::size(kCleanupSignals)] = {};

    void Acquire() {
        const std::lock_guard hold(lock);
        if (users++ > 0)
            return;
        for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
            struct sigaction current {};
            installed[i] = false;
            if (::sigaction(kCleanupSignals[i], nullptr, &current) != 0 ||
                (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL)
                continue;
            struct sigaction handler {};
            handler.sa_handler = RemoveTemporariesOnSignal;
            sigemptyset(&handler.sa_mask);
            installed[i] = ::sigaction(kCleanupSignals[i], &handler, &previous[i]) == 0;
        }
    }

    void Release() {
        const std::lock_guard hold(lock);
        if (--users > 0)
            return;
        for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i)
            if (installed[i])
                ::sigaction(kCleanupSignals[i], &previous[i], nullptr);
    }
};

SignalHandlers& Handlers() {
    static SignalHandlers handlers;
    return handlers;
}

// While armed, a catchable signal removes a path before the process ends.
// Signals that the program handles or ignores itself are left alone.
class RemoveOnSignal {
  public:
    RemoveOnSignal() = default;
    ~RemoveOnSignal() { disarm(); }
    RemoveOnSignal(const RemoveOnSignal&) = delete;
    RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

    void arm(const std::string& path) {
        disarm();
        if (path.size() >= PATH_MAX)
            return;
        for (CleanupSlot& slot : g_cleanup) {
            int free = kFree;
            if (!slot.state.compare_exchange_strong(free, kWriting, std::memory_order_acquire))
                continue;
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.state.store(kArmed, std::memory_order_release);
            m_slot = &slot;
            Handlers().Acquire();
            return;
        }
    }
    void disarm() {
        if (m_slot == nullptr)
            return;
        Handlers().Release();
        // When this fails, a handler has the slot and is ending the process.
        int armed = kArmed;
        m_slot->state.compare_exchange_strong(armed, kFree, std::memory_order_release);
        m_slot = nullptr;
    }

  private:
    CleanupSlot* m_slot = nullptr;
};

// A hidden name in folder for a file that is about to get the target's name;
// unique within the process, whichever thread asks.
std::string TemporaryName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    return folder + "/.talorin-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1, std::memory_order_relaxed) + 1) + ".tmp";
}

// The new file of one save, in the target's folder: unnamed while it is
// written where the file system allows it, else a hidden named file.
class NewFile {
  public:
    NewFile() = default;
    ~NewFile() {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
        m_cleanup.disarm();
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates the file; 0 or an errno.
    int Create(const std::string& folder) {
        if (g_unnamedFiles.load()) {
            m_fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            if (m_fd >= 0)
                return 0;
            // Other errors (no folder, no right to write) are the save's own.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return errno;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = TemporaryName(folder);
            m_cleanup.arm(path);
            m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                m_path = std::move(path);
                return 0;
            }
            m_cleanup.disarm();
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int Descriptor() const { return m_fd; }

    // Gives the complete, flushed file the name target, replacing a file of
    // that name (replacing says whether there is one), and closes it; 0 or an
    // errno.
    int Commit(const std::string& target, bool replacing) {
        if (!m_path.empty()) {
            if (const int closed = Close(); closed != 0)
                return closed;
            return Rename(target);
        }
        // An unnamed file is linked through its descriptor. A new target takes
        // the name directly; an existing one is replaced by a rename from a
        // hidden link, since a link cannot replace a name.
        int error = replacing ? EEXIST : Link(target);
        for (int attempt = 0; error == EEXIST && attempt < 100; ++attempt) {
            std::string path = TemporaryName(FolderOf(target));
            m_cleanup.arm(path);
            error = Link(path);
            if (error == 0) {
                m_path = std::move(path);
                error = Rename(target);
            } else {
                m_cleanup.disarm();
            }
        }
        // Every write error has been reported by the flush before this.
        const int closed = Close();
        return error != 0 ? error : closed;
    }

  private:
    int Close() {
        const int closed = ::close(m_fd);
        m_fd = -1;
        return closed == 0 ? 0 : errno;
    }

    int Rename(const std::string& target) {
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            return errno;
        m_cleanup.disarm();
        m_path.clear();
        return 0;
    }

    int Link(const std::string& path) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        const int error = errno;
        // Without /proc, a descriptor can still be linked directly where the
        // process has the right to.
        if (error == ENOENT && ::linkat(m_fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        return error;
    }

    int m_fd = -1;
    std::string m_path; // the named file, while it exists
    RemoveOnSignal m_cleanup;
};

} // namespace

namespace detail {
void UseUnnamedTemporaryFiles(bool enabled) {
    g_unnamedFiles.store(enabled);
}

std::vector<std::string> TemporaryFilesInFlight() {
    std::vector<std::string> paths;
    for (const CleanupSlot& slot : g_cleanup)
        if (slot.state.load(std::memory_order_acquire) == kArmed)
            paths.emplace_back(slot.path);
    return paths;
}
} // namespace detail

void WriteThrough(int fd, const std::string& name, const ByteProducer& produce) {
    try {
        const ByteSink sink = [fd, &name](const char* data, std::size_t size) {
            if (!WriteAll(fd, {data, size}))
                Fail(name, errno);
        };
        produce(sink);
    } catch (const std::bad_alloc&) {
        Fail(name, ENOMEM);
    }
}

struct StagedSave::State {
    std::string fileName;
    std::string target;
    bool exists = false;
    bool throughDevice = false;
    bool committed = false;
    NewFile file;
    std::string previous; // a hidden link to the file a commit replaced
    RemoveOnSignal previousCleanup;
};

StagedSave::StagedSave() : m_state(std::make_unique<State>()) {}

StagedSave::~StagedSave() {
    if (!m_state->previous.empty())
        ::unlink(m_state->previous.c_str());
}

void StagedSave::stage(const std::string& fileName, const ByteProducer& produce) {
    State& s = *m_state;
    s.fileName = fileName;
    std::string& target = s.target;
    int error = ResolveTarget(fileName, target);
    struct stat st;
    bool& exists = s.exists;
    if (error == 0) {
        exists = ::stat(target.c_str(), &st) == 0;
        if (!exists && errno != ENOENT)
            error = errno;
    }
    // A folder is never written into, not even a temporary file.
    if (error == 0 && exists && S_ISDIR(st.st_mode))
        error = EISDIR;
    // A file that may not be written is refused, as opening it for writing
    // would be: a rename through its folder would go around its mode.
    if (error == 0 && exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        error = errno;
    if (error != 0)
        Fail(fileName, error);
    // A device or a pipe is written through itself: renaming a file over
    // it would replace it instead of writing to it.
    if (exists && !S_ISREG(st.st_mode)) {
        s.throughDevice = true;
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            Fail(fileName, errno);
        try {
            WriteThrough(fd, fileName, produce);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            Fail(fileName, errno);
        return;
    }
    NewFile& file = s.file;
    if (const int created = file.Create(FolderOf(target)); created != 0)
        Fail(fileName, created);
    const int fd = file.Descriptor();
    if (exists) {
        // Replacing a file keeps its owner and group where the process may
        // set them (as root), then its permissions; a new file gets the
        // usual ones. The owner comes first: changing it clears set-id bits.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0)
            (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        ::fchmod(fd, st.st_mode & 07777);
    }
    // Write-back of what is written starts every few MiB, so that the
    // disk works while the rest is produced and the final flush is short.
    constexpr off_t kWriteBackStep = off_t{8} << 20;
    off_t written = 0, flushed = 0;
    const ByteSink sink = [fd, &fileName, &written, &flushed](const char* data, std::size_t size) {
        if (!WriteAll(fd, {data, size}))
            Fail(fileName, errno);
        written += static_cast<off_t>(size);
        if (written - flushed >= kWriteBackStep) {
            (void)::sync_file_range(fd, flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
            flushed = written;
        }
    };
    produce(sink);
    if (::fsync(fd) != 0)
        Fail(fileName, errno);
}

void StagedSave::commit(bool undoable) {
    State& s = *m_state;
    if (s.throughDevice || s.committed)
        return;
    // The file about to be replaced stays reachable under a hidden name, so
    // that undo() can put it back.
    if (undoable && s.exists) {
        for (int attempt = 0; attempt < 100 && s.previous.empty(); ++attempt) {
            std::string path = TemporaryName(FolderOf(s.target));
            s.previousCleanup.arm(path);
            if (::link(s.target.c_str(), path.c_str()) == 0) {
                s.previous = std::move(path);
                break;
            }
            s.previousCleanup.disarm();
            if (errno != EEXIST)
                break;
        }
    }
    if (const int committed = s.file.Commit(s.target, s.exists); committed != 0) {
        if (!s.previous.empty())
            ::unlink(s.previous.c_str());
        s.previous.clear();
        s.previousCleanup.disarm();
        Fail(s.fileName, committed);
    }
    s.committed = true;
    // Make the new name itself durable; the file is complete either way.
    const int folder = ::open(FolderOf(s.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

void StagedSave::undo() noexcept {
    State& s = *m_state;
    if (!s.committed)
        return;
    s.committed = false;
    if (!s.previous.empty()) {
        if (::rename(s.previous.c_str(), s.target.c_str()) == 0)
            s.previous.clear();
        s.previousCleanup.disarm();
    } else if (!s.exists) {
        ::unlink(s.target.c_str());
    }
}

namespace {

void Save(const std::string& fileName, const ByteProducer& produce) {
    StagedSave save;
    save.stage(fileName, produce);
    save.commit();
}

} // namespace

void SaveAtomically(const std::string& fileName, const ByteProducer& produce) {
    try {
        Save(fileName, produce);
    } catch (const std::bad_alloc&) {
        Fail(fileName, ENOMEM);
    }
}

} // namespace vesk
