// Saving through a temporary file: the bytes go to a new file in the target's
// folder, which is renamed over the target only when every write, the flush
// and the close have succeeded.

#include "shape/atomicsave.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "shape/error.h"
#include "shape/shape.h"
#include "shape/sjis.h"

namespace vesk {

namespace {

std::string ReasonText(int error) {
    switch (error) {
    case ENOENT:
        return "フォルダーが見つかりません";
    case EACCES:
    case EPERM:
        return "アクセスが拒否されました";
    case ENOSPC:
        return "ディスクの空き容量が足りません";
    case EDQUOT:
        return "ディスク容量の割り当てを超えました";
    case EFBIG:
        return "ファイルが大きすぎます";
    case EROFS:
        return "読み取り専用の場所です";
    case EISDIR:
        return "同じ名前のフォルダーがあります";
    case ENOTDIR:
        return "パスの途中にフォルダーでないものがあります";
    case ENAMETOOLONG:
        return "ファイル名が長すぎます";
    case EIO:
        return "入出力エラーが起きました";
    case ENOMEM:
        return "メモリーが足りません";
    default:
        return std::strerror(error);
    }
}

// The file name as CP932 for the message; characters that CP932 lacks
// become "?", since a message about a failure must not fail itself.
std::string NameForMessage(const std::string& fileName) {
    try {
        return Cp932FromUtf8(fileName);
    } catch (const talorin::Error&) {
    }
    std::string out;
    for (std::size_t i = 0; i < fileName.size();) {
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(fileName[i]);
        if (lead >= 0xF0)
            length = 4;
        else if (lead >= 0xE0)
            length = 3;
        else if (lead >= 0xC0)
            length = 2;
        length = std::min(length, fileName.size() - i);
        try {
            out += Cp932FromUtf8(std::string_view(fileName).substr(i, length));
        } catch (const talorin::Error&) {
            out += '?';
        }
        i += length;
    }
    return out;
}

} // namespace

void SetWriteError(const std::string& fileName, int error) noexcept {
    try {
        SufError = Cp932FromUtf8("ファイル ") + NameForMessage(fileName) +
                   Cp932FromUtf8(" に書き込めませんでした: " + ReasonText(error));
    } catch (...) {
        SufError.clear();
    }
}

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The file that a save replaces: a symbolic link is followed, so that the
// file it points to is replaced and the link stays.
std::string ResolveTarget(const std::string& fileName) {
    struct stat st;
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return fileName;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Creates a new, unique temporary file in folder; returns its descriptor or
// -1 with errno set.
int CreateTemporary(const std::string& folder, std::string& path) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + "/.talorin-" + std::to_string(::getpid()) + "-" +
               std::to_string(++counter) + ".tmp";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool WriteThrough(int fd, const std::string& name, const ByteProducer& produce) {
    SufError.clear();
    try {
        const ByteSink sink = [fd](const char* data, std::size_t size) {
            if (!WriteAll(fd, data, size))
                throw WriteFailed{errno};
        };
        produce(sink);
        return true;
    } catch (const WriteFailed& failure) {
        SetWriteError(name, failure.error);
    } catch (const std::bad_alloc&) {
        SetWriteError(name, ENOMEM);
    }
    return false;
}

bool SaveAtomically(const std::string& fileName, const ByteProducer& produce) {
    SufError.clear();
    std::string temporary;
    int fd = -1;
    int error = 0;
    try {
        const std::string target = ResolveTarget(fileName);
        // A file that may not be written is refused, as opening it for writing
        // would be: a rename through its folder would go around its mode.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
            SetWriteError(fileName, errno);
            return false;
        }
        // A device or a pipe is written through itself: renaming a file over
        // it would replace it instead of writing to it.
        struct stat st;
        const bool exists = ::stat(target.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
            fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                throw WriteFailed{errno};
            const bool written = WriteThrough(fd, fileName, produce);
            const int closed = ::close(fd);
            fd = -1;
            if (!written)
                return false;
            if (closed != 0)
                throw WriteFailed{errno};
            return true;
        }
        fd = CreateTemporary(FolderOf(target), temporary);
        if (fd < 0) {
            SetWriteError(fileName, errno);
            return false;
        }
        // Replacing a file keeps its permissions; a new file gets the usual ones.
        if (exists && S_ISREG(st.st_mode))
            ::fchmod(fd, st.st_mode & 07777);

        // Write-back of what is written starts every few MiB, so that the
        // disk works while the rest is produced and the final flush is short.
        constexpr off_t kWriteBackStep = off_t{8} << 20;
        off_t written = 0, flushed = 0;
        const ByteSink sink = [fd, &written, &flushed](const char* data, std::size_t size) {
            if (!WriteAll(fd, data, size))
                throw WriteFailed{errno};
            written += static_cast<off_t>(size);
            if (written - flushed >= kWriteBackStep) {
                (void)::sync_file_range(fd, flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
                flushed = written;
            }
        };
        produce(sink);
        if (::fsync(fd) != 0)
            throw WriteFailed{errno};
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0)
            throw WriteFailed{errno};
        if (::rename(temporary.c_str(), target.c_str()) != 0)
            throw WriteFailed{errno};
        // Make the rename itself durable; the file is complete either way.
        const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
        return true;
    } catch (const WriteFailed& failure) {
        error = failure.error;
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }
    if (fd >= 0)
        ::close(fd);
    if (!temporary.empty())
        ::unlink(temporary.c_str());
    SetWriteError(fileName, error);
    return false;
}

} // namespace vesk
