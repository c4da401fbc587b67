#include "image/filebytes.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

#include "base/error.h"

namespace talorin {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes) {
    std::error_code ec;
    const auto status = std::filesystem::status(std::filesystem::path(path), ec);
    if (ec || !std::filesystem::is_regular_file(status))
        throw Error(ErrorKind::Io, kCannotOpenText);
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in)
        throw Error(ErrorKind::Io, kCannotOpenText);
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0)
        throw Error(ErrorKind::Io, kReadFailedText);
    if (std::uint64_t(length) > maxBytes)
        throw Error(kTooLargeText);
    in.seekg(0, std::ios::beg);

    std::vector<std::uint8_t> bytes;
    AllocateOrThrow([&] { bytes.resize(std::size_t(length)); });
    in.read(reinterpret_cast<char*>(bytes.data()), length);
    if (in.gcount() != length)
        throw Error(ErrorKind::Io, kReadFailedText);
    return bytes;
}

} // namespace talorin
