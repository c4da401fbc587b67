#pragma once
// A fresh folder for one test, and the file reads and writes tests do in it.
// Each folder has a unique name (mkdtemp), so that tests running side by side
// never see each other's files, and goes with everything in it at the end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>

namespace testsupport {

// The whole content of a file; "" when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Creates or replaces a file with these bytes; a failed write fails the test.
inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.flush()) << path;
}

// Owns a new, empty folder below the system's temporary folder, named after
// prefix. Use it as a second base of a test fixture (tests then see m_dir,
// path() and listing()) or as a local object. The constructor throws when no
// folder can be made, which fails the test (a fixture's before its body
// runs); a folder that cannot be removed at the end fails the test as well.
class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a folder " + pattern + ": " +
                                     std::strerror(errno));
        m_dir = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        if (ec)
            ADD_FAILURE() << "cannot remove " << m_dir << ": " << ec.message();
    }

    const std::filesystem::path& dir() const { return m_dir; }
    // An entry of the folder (it need not exist).
    std::filesystem::path path(const std::string& name) const { return m_dir / name; }
    // The sorted names in the folder, or in a folder below it.
    std::vector<std::string> listing(const std::filesystem::path& below = {}) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir / below))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  protected:
    std::filesystem::path m_dir;
};

} // namespace testsupport
