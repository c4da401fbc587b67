// The one save path of every writer, driven with plain byte producers.

#include "base/atomicsave.h"
#include "base/messages.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/error.h"
#include "tests/support/tempfolder.h"

using namespace vesk;
namespace fs = std::filesystem;

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

ByteProducer Bytes(std::string text) {
    return [text](const ByteSink& sink) { sink(text.data(), text.size()); };
}

// The text of the Io error that the save throws; empty when it succeeds.
std::string SaveError(const std::string& file, const ByteProducer& produce) {
    try {
        SaveAtomically(file, produce);
        return {};
    } catch (const talorin::Error& e) {
        EXPECT_EQ(e.kind(), talorin::ErrorKind::Io) << e.what();
        return e.what();
    }
}

class AtomicSave : public testing::Test, public testsupport::TempFolder {
  protected:
    AtomicSave() : TempFolder("atomicsave") {}
    void TearDown() override { detail::UseUnnamedTemporaryFiles(true); }
};

TEST_F(AtomicSave, BothKindsOfNewFileCreateAndReplace) {
    for (const bool unnamed : {true, false}) {
        detail::UseUnnamedTemporaryFiles(unnamed);
        const fs::path file = m_dir / "out.suf";
        fs::remove(file);
        ASSERT_EQ(SaveError(file.string(), Bytes("first")), "");
        EXPECT_EQ(ReadFile(file), "first");
        ASSERT_EQ(SaveError(file.string(), Bytes("second")), "");
        EXPECT_EQ(ReadFile(file), "second");
        EXPECT_EQ(listing(), std::vector<std::string>{"out.suf"}) << unnamed;
    }
}

TEST_F(AtomicSave, DanglingLinkStaysALinkAndItsTargetIsCreated) {
    fs::create_directory(m_dir / "sub");
    fs::create_symlink("sub/new.suf", m_dir / "relative.suf");
    fs::create_symlink(m_dir / "abs.suf", m_dir / "absolute.suf");
    fs::create_symlink("absolute.suf", m_dir / "chain.suf"); // a link to a dangling link
    const std::vector<std::pair<std::string, fs::path>> cases = {
        {"relative.suf", m_dir / "sub" / "new.suf"},
        {"absolute.suf", m_dir / "abs.suf"},
        {"chain.suf", m_dir / "abs.suf"},
    };
    for (const auto& [link, target] : cases) {
        fs::remove(target);
        ASSERT_EQ(SaveError((m_dir / link).string(), Bytes(link)), "");
        EXPECT_TRUE(fs::is_symlink(m_dir / link)) << link;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target))) << link;
        EXPECT_EQ(ReadFile(target), link);
    }
    // A link into a folder that does not exist fails and stays as it was.
    fs::create_symlink("nowhere/x.suf", m_dir / "lost.suf");
    EXPECT_NE(SaveError((m_dir / "lost.suf").string(), Bytes("x")), "");
    EXPECT_TRUE(fs::is_symlink(m_dir / "lost.suf"));
    EXPECT_EQ(fs::read_symlink(m_dir / "lost.suf"), "nowhere/x.suf");
    // A loop of links is refused with its reason.
    fs::create_symlink("loop2", m_dir / "loop1");
    fs::create_symlink("loop1", m_dir / "loop2");
    const std::string loop = SaveError((m_dir / "loop1").string(), Bytes("x"));
    EXPECT_TRUE(loop.ends_with("シンボリックリンクのたどりが多すぎます")) << loop;
    EXPECT_TRUE(fs::is_symlink(m_dir / "loop1"));
}

TEST_F(AtomicSave, FolderIsRefusedAndNothingIsWrittenIntoIt) {
    fs::create_directory(m_dir / "folder");
    fs::create_symlink("folder", m_dir / "link");
    for (const char* name : {"folder", "folder/", "link", "link/"}) {
        const std::string file = (m_dir / name).string();
        EXPECT_EQ(SaveError(file, Bytes("x")),
                  "ファイル " + file + " に書き込めませんでした: フォルダーです");
        EXPECT_TRUE(listing("folder").empty()) << name;
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"folder", "link"}));
}

TEST_F(AtomicSave, ReasonsAreJapaneseForEveryErrorNumber) {
    // No English phrase from the C library inside a Japanese message.
    for (int error = 1; error < 140; ++error) {
        const std::string text = SystemErrorText(error);
        EXPECT_EQ(text.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
                  std::string::npos)
            << error << " " << text;
    }
    EXPECT_EQ(SystemErrorText(ENOSPC), "ディスクの空き容量が足りません");
    EXPECT_EQ(SystemErrorText(EROFS), "読み取り専用のファイルシステムです");
    EXPECT_EQ(SystemErrorText(ENXIO), "デバイスまたはアドレスがありません");
    EXPECT_EQ(SystemErrorText(200), "エラー番号 200 のエラーが起きました");
}

TEST_F(AtomicSave, FileNameThatIsNotUtf8IsShownWithReplacementCharacters) {
    const std::string bad = (m_dir / "no\xff" / "x.suf").string();
    const std::string shown = (m_dir / "no\xEF\xBF\xBD" / "x.suf").string();
    EXPECT_EQ(SaveError(bad, Bytes("x")),
              "ファイル " + shown + " に書き込めませんでした: フォルダーが見つかりません");
    // A character that Shift-JIS lacks is shown as it is.
    const std::string emoji = (m_dir /
                               "a\xF0\x9F\x98\x80"
                               "b" /
                               "x.suf")
                                  .string();
    EXPECT_NE(SaveError(emoji, Bytes("x"))
                  .find("a\xF0\x9F\x98\x80"
                        "b/x.suf に書き込めませんでした"),
              std::string::npos);
}

// Runs a save in a child process whose producer sends itself signal after
// the first bytes; returns the child's wait status.
int SaveAndDie(const fs::path& file, int signal, bool unnamed) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit noCore{0, 0}; // SIGQUIT would dump core
        setrlimit(RLIMIT_CORE, &noCore);
        detail::UseUnnamedTemporaryFiles(unnamed);
        try {
            SaveAtomically(file.string(), [signal](const ByteSink& sink) {
                const std::string part(1 << 16, 'x');
                sink(part.data(), part.size());
                raise(signal);
                sink(part.data(), part.size());
            });
        } catch (const talorin::Error&) {
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST_F(AtomicSave, SaveEndedBySignalLeavesNoStrayFile) {
    WriteFile(m_dir / "old.suf", "old");
    const std::vector<std::pair<int, bool>> cases = {
        {SIGTERM, false}, {SIGINT, false}, {SIGHUP, false}, {SIGQUIT, false},
        {SIGKILL, true},  {SIGTERM, true}, {SIGINT, true},
    };
    for (const auto& [signal, unnamed] : cases) {
        for (const char* name : {"old.suf", "new.suf"}) {
            const int status = SaveAndDie(m_dir / name, signal, unnamed);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
                << signal << " " << unnamed;
            EXPECT_EQ(listing(), std::vector<std::string>{"old.suf"}) << signal << " " << unnamed;
            EXPECT_EQ(ReadFile(m_dir / "old.suf"), "old");
        }
    }
}

// Saves a.suf and b.suf on two threads with named temporary files and runs
// whileBoth while both are part-way written.
void TwoSavesInFlight(const fs::path& dir, const std::function<void()>& whileBoth) {
    detail::UseUnnamedTemporaryFiles(false);
    std::barrier sync(3);
    auto save = [&](const char* name) {
        SaveAtomically((dir / name).string(), [&](const ByteSink& sink) {
            sink(name, 5);
            sync.arrive_and_wait(); // both have written
            sync.arrive_and_wait(); // whileBoth is done
        });
    };
    std::thread a(save, "a.suf"), b(save, "b.suf");
    sync.arrive_and_wait();
    whileBoth();
    sync.arrive_and_wait();
    a.join();
    b.join();
}

TEST_F(AtomicSave, SignalCleanUpCoversEverySaveInFlight) {
    TwoSavesInFlight(m_dir, [&] {
        EXPECT_EQ(detail::TemporaryFilesInFlight().size(), 2u);
        EXPECT_EQ(listing().size(), 2u); // the two hidden files
    });
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.suf", "b.suf"}));
    EXPECT_TRUE(detail::TemporaryFilesInFlight().empty());
    // A signal while both are written removes both files.
    fs::remove(m_dir / "a.suf");
    fs::remove(m_dir / "b.suf");
    const pid_t pid = fork();
    if (pid == 0) {
        TwoSavesInFlight(m_dir, [] { raise(SIGTERM); });
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(listing().empty());
}

TEST_F(AtomicSave, ReplacingKeepsOwnerGroupAndModeAndOnlyTheNamedLink) {
    const fs::path file = m_dir / "shared.suf";
    WriteFile(file, "old");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    fs::create_hard_link(file, m_dir / "other.suf");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(file.c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(SaveError(file.string(), Bytes("new")), "");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(ReadFile(m_dir / "other.suf"), "old"); // the other name keeps the old file
}

} // namespace

namespace {

TEST_F(AtomicSave, UndoneCommitPutsBackTheReplacedFileOrRemovesTheNewOne) {
    WriteFile(m_dir / "old.mtl", "old");
    {
        StagedSave replacing, creating;
        replacing.stage((m_dir / "old.mtl").string(), Bytes("new"));
        creating.stage((m_dir / "made.mtl").string(), Bytes("made"));
        replacing.commit(true);
        creating.commit(true);
        EXPECT_EQ(ReadFile(m_dir / "old.mtl"), "new");
        replacing.undo();
        creating.undo();
    }
    EXPECT_EQ(ReadFile(m_dir / "old.mtl"), "old");
    EXPECT_EQ(listing(), std::vector<std::string>{"old.mtl"});
}

} // namespace

// The language follows LC_ALL, LC_MESSAGES, LANG, then LANGUAGE, as GNU
// programs do; C, POSIX and languages without a translation keep Japanese.
TEST(Messages, LanguageFollowsTheLocaleAndEnglishTextsFillTheirPlaces) {
    using talorin::Language;
    EXPECT_EQ(talorin::LanguageFromLocale(nullptr, nullptr, "en_US.UTF-8", nullptr), Language::English);
    EXPECT_EQ(talorin::LanguageFromLocale("C", nullptr, "en_US.UTF-8", "en"), Language::Japanese);
    EXPECT_EQ(talorin::LanguageFromLocale("", "ja_JP.UTF-8", "en_US", nullptr), Language::Japanese);
    EXPECT_EQ(talorin::LanguageFromLocale(nullptr, nullptr, "C.UTF-8", nullptr), Language::Japanese);
    EXPECT_EQ(talorin::LanguageFromLocale(nullptr, nullptr, "de_DE.UTF-8", "fr:en_GB"), Language::English);
    EXPECT_EQ(talorin::LanguageFromLocale(nullptr, nullptr, "fr_FR.UTF-8", nullptr), Language::Japanese);
    // Japanese by name (for --help), not by default.
    EXPECT_TRUE(talorin::LocaleAsksForJapanese(nullptr, nullptr, "ja_JP.UTF-8", nullptr));
    EXPECT_TRUE(talorin::LocaleAsksForJapanese(nullptr, nullptr, "de_DE.UTF-8", "fr:ja:en"));
    EXPECT_FALSE(talorin::LocaleAsksForJapanese("C", nullptr, "ja_JP.UTF-8", "ja"));
    EXPECT_FALSE(talorin::LocaleAsksForJapanese(nullptr, nullptr, "fr_FR.UTF-8", nullptr));
    EXPECT_EQ(talorin::Text(talorin::Msg::CannotWrite, Language::English, {"a.suf", "x"}),
              "Could not write the file a.suf: x");
    EXPECT_EQ(talorin::Text(talorin::Msg::CannotWrite, Language::Japanese, {"a.suf"}),
              "ファイル a.suf に書き込めませんでした: {2}");
}
