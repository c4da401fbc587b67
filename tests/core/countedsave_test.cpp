#include "core/countedsave.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "shape/shape.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n <= 0)
            return false;
        at += std::size_t(n);
    }
    return true;
}

// Bytes whose every position differs from its neighbours', so that a lost or
// doubled chunk shows.
std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = char('a' + (i * 7 + i / 251) % 26);
    return text;
}

class CountedSave : public testing::Test {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "talorin-counted-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        m_dir = templ;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path m_dir;
};

} // namespace

TEST_F(CountedSave, SavesEveryByteAndCountsThem) {
    // Larger than a pipe's buffer many times over, and not a multiple of a chunk.
    const std::string text = Pattern(3 * 1024 * 1024 + 17);
    std::uint64_t written = 0;
    const auto count = [&](std::uint64_t n) { written = n; };
    const fs::path file = m_dir / "out.suf";
    ASSERT_TRUE(talorin::SaveCounted(
        file.string(), [&](int fd) { return WriteAll(fd, text); }, count));
    EXPECT_EQ(written, text.size());
    EXPECT_EQ(ReadFile(file), text);
}

TEST_F(CountedSave, WriterThatGivesUpLeavesTheOldFile) {
    const fs::path file = m_dir / "out.suf";
    std::ofstream(file, std::ios::binary) << "old";
    std::uint64_t written = 0;
    const auto count = [&](std::uint64_t n) { written = n; };
    EXPECT_FALSE(talorin::SaveCounted(
        file.string(), [](int fd) { return WriteAll(fd, Pattern(200000)) && false; }, count));
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(fs::directory_iterator(m_dir)->path().filename(), "out.suf"); // no leftovers
    EXPECT_FALSE(vesk::SufError.empty());
}

TEST_F(CountedSave, FailedSaveDoesNotBreakTheWritersPipe) {
    // /dev/full takes no byte: the save fails at once, while the writer still
    // has megabytes to go. It must end normally, not die of a broken pipe.
    bool writerOk = false;
    std::uint64_t written = 0;
    const auto count = [&](std::uint64_t n) { written = n; };
    EXPECT_FALSE(talorin::SaveCounted(
        "/dev/full",
        [&](int fd) {
            writerOk = WriteAll(fd, Pattern(4 * 1024 * 1024));
            return writerOk;
        },
        count));
    EXPECT_TRUE(writerOk);
    EXPECT_FALSE(vesk::SufError.empty());
}

TEST_F(CountedSave, RefusedTargetNeverStartsTheWriter) {
    bool started = false;
    std::uint64_t written = 0;
    const auto count = [&](std::uint64_t n) { written = n; };
    EXPECT_FALSE(talorin::SaveCounted((m_dir / "missing" / "out.suf").string(),
                                      [&](int) {
                                          started = true;
                                          return true;
                                      },
                                      count));
    EXPECT_FALSE(started);
    EXPECT_EQ(written, 0u);
}
