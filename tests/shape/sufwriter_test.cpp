#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/error.h"
#include "base/sjis.h"
#include "shape/suf.h"
#include "tests/support/tempfolder.h"

using namespace vesk;
namespace fs = std::filesystem;

namespace {

// Adds a polygon of this kind and group whose file order is the given
// vertices (they are added in reverse, as AddVertex inserts at the head).
TVESK_Polygon* Polygon(TVESK_Object* object, const std::string& group, std::uint8_t kind,
                       std::initializer_list<TVESK_Vertex> vertices) {
    TVESK_Polygon* polygon = NewPolygon(group, kind, object);
    for (auto it = std::rbegin(vertices); it != std::rend(vertices); ++it)
        AddVertex(polygon, NewVertex(it->X, it->Y, it->Z, it->NX, it->NY, it->NZ, it->U, it->V));
    return polygon;
}

TVESK_Vertex V(double x, double y, double z, double nx = 0, double ny = 0, double nz = 0,
               double u = 0, double v = 0) {
    return TVESK_Vertex{nullptr, nullptr, x, y, z, nx, ny, nz, u, v};
}

// A model with its owner, freed when the test ends.
struct Model {
    TVESK_Object* chain = nullptr;
    ~Model() { FreeSuf(chain); }
};

using testsupport::ReadFile;
using testsupport::WriteFile;

class SufSave : public ::testing::Test, public testsupport::TempFolder {
  protected:
    SufSave() : TempFolder("sufwriter") {}
};

// The worked example: hill, one uvpoly polygon in BodyM.
TVESK_Object* Hill(std::uint8_t kind) {
    TVESK_Object* hill = NewObject("hill");
    TVESK_Polygon* polygon = NewPolygon("BodyM", kind, hill);
    AddVertex(polygon, NewVertex(0, 0, 0, 0, 0, 1, 0, 0));
    AddVertex(polygon, NewVertex(1000, 0, 12.5, 0, -0.5, 1, 127.5, 0));
    AddVertex(polygon, NewVertex(0, 1000, 250, 0.25, 0, 1, 0, 127.5));
    AddPolygon(hill, polygon);
    return hill;
}

} // namespace

TEST(SufText, WorkedExampleInEveryKind) {
    const std::string head = "obj suf hill {\r\natr BodyM\r\n";
    const std::string tail = ")\r\n}\r\n";
    Model model;
    model.chain = Hill(kUvPoly);
    EXPECT_EQ(SufText(model.chain), head +
                                        "prim uvpoly (\r\n"
                                        "    0 1000 250  0 127.5\r\n"
                                        "    1000 0 12.5  127.5 0\r\n"
                                        "    0 0 0  0 0\r\n" +
                                        tail);
    model.chain->Polygons->Kind = kPoly;
    EXPECT_EQ(SufText(model.chain), head +
                                        "prim poly (\r\n"
                                        "    0 1000 250\r\n"
                                        "    1000 0 12.5\r\n"
                                        "    0 0 0\r\n" +
                                        tail);
    model.chain->Polygons->Kind = kShade;
    EXPECT_EQ(SufText(model.chain), head +
                                        "prim shade (\r\n"
                                        "    0 1000 250  0.25 0 1\r\n"
                                        "    1000 0 12.5  0 -0.5 1\r\n"
                                        "    0 0 0  0 0 1\r\n" +
                                        tail);
    model.chain->Polygons->Kind = kUvShade;
    EXPECT_EQ(SufText(model.chain), head +
                                        "prim uvshade (\r\n"
                                        "    0 1000 250  0.25 0 1  0 127.5\r\n"
                                        "    1000 0 12.5  0 -0.5 1  127.5 0\r\n"
                                        "    0 0 0  0 0 1  0 0\r\n" +
                                        tail);
}

TEST(SufText, AttributeLineOnlyWhereTheGroupChangesAndAtEachObject) {
    Model model;
    TVESK_Object* first = NewObject("a");
    TVESK_Object* second = NewObject("b");
    first->Next = second;
    second->Prev = first;
    model.chain = first;
    // Head insertion: added last comes first.
    AddPolygon(first, Polygon(first, "G2", kPoly, {V(3, 0, 0)}));
    AddPolygon(first, Polygon(first, "G1", kPoly, {V(2, 0, 0)}));
    AddPolygon(first, Polygon(first, "G1", kPoly, {V(1, 0, 0)}));
    AddPolygon(second, Polygon(second, "G2", kPoly, {V(4, 0, 0)}));
    EXPECT_EQ(SufText(model.chain), "obj suf a {\r\n"
                                    "atr G1\r\n"
                                    "prim poly (\r\n    1 0 0\r\n)\r\n"
                                    "prim poly (\r\n    2 0 0\r\n)\r\n"
                                    "atr G2\r\n"
                                    "prim poly (\r\n    3 0 0\r\n)\r\n"
                                    "}\r\n"
                                    "obj suf b {\r\n"
                                    "atr G2\r\n"
                                    "prim poly (\r\n    4 0 0\r\n)\r\n"
                                    "}\r\n");
}

TEST(SufText, PolygonWithoutGroupWritesNoAttributeLine) {
    Model model;
    model.chain = NewObject("o");
    TVESK_Attribute* group = FindOrAddAttribute(model.chain, "G");
    TVESK_Polygon* last = nullptr;
    AppendPolygon(model.chain, last, NewPolygonIn(model.chain, nullptr, kPoly));
    AppendPolygon(model.chain, last, NewPolygonIn(model.chain, group, kPoly));
    AppendPolygon(model.chain, last, NewPolygonIn(model.chain, nullptr, kPoly));
    AppendPolygon(model.chain, last, NewPolygonIn(model.chain, group, kPoly));
    EXPECT_EQ(SufText(model.chain), "obj suf o {\r\n"
                                    "prim poly (\r\n)\r\n"
                                    "atr G\r\n"
                                    "prim poly (\r\n)\r\n"
                                    "prim poly (\r\n)\r\n"
                                    "prim poly (\r\n)\r\n"
                                    "}\r\n");
}

TEST(SufText, EmptyChainsAndObjects) {
    EXPECT_EQ(SufText(nullptr), "");
    Model model;
    model.chain = NewObject("o");
    EXPECT_EQ(SufText(model.chain), "obj suf o {\r\n}\r\n");
    // An empty name would read back as "{": it is refused.
    model.chain->Name.clear();
    EXPECT_THROW(SufText(model.chain), talorin::Error);
}

TEST(SufText, NamesAreWrittenAsRawBytes) {
    Model model;
    // "ソ" ends in the byte of a backslash in CP932; nothing is escaped.
    const std::string name = Cp932FromUtf8("山ソ表");
    model.chain = NewObject(name);
    AddPolygon(model.chain, Polygon(model.chain, "a*/b\"", kPoly, {V(1, 2, 3)}));
    EXPECT_EQ(SufText(model.chain),
              "obj suf " + name + " {\r\natr a*/b\"\r\nprim poly (\r\n    1 2 3\r\n)\r\n}\r\n");
}

TEST(SufText, ValuesUseTheNumberForms) {
    Model model;
    model.chain = NewObject("o");
    AddPolygon(model.chain, Polygon(model.chain, "g", kUvPoly,
                                    {V(2000.0 / 3, -0.00005, 1.5e20, 0, 0, 0, -0.0, 1e15)}));
    EXPECT_EQ(SufText(model.chain), "obj suf o {\r\natr g\r\nprim uvpoly (\r\n"
                                    "    666.666666666667 -5E-5 1.5E20  0 1E15\r\n)\r\n}\r\n");
}

TEST(SufText, LargeModelsAndHugeNamesSpanBuffers) {
    Model model;
    const std::string longName(3 << 20, 'n');
    model.chain = NewObject(longName);
    for (int i = 0; i < 40000; ++i)
        AddPolygon(model.chain,
                   Polygon(model.chain, "g", kUvShade, {V(i, -i, 0.5, 1, 2, 3, 4, 5)}));
    std::string expected = "obj suf " + longName + " {\r\natr g\r\n";
    for (int i = 39999; i >= 0; --i)
        expected += "prim uvshade (\r\n    " + std::to_string(i) + " " + (i ? "-" : "") +
                    std::to_string(i) + " 0.5  1 2 3  4 5\r\n)\r\n";
    expected += "}\r\n";
    const std::string text = SufText(model.chain);
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected);
}

TEST_F(SufSave, WritesTheTextAndReplacesAnOldFile) {
    Model model;
    model.chain = Hill(kUvPoly);
    const fs::path file = m_dir / "hill.suf";
    WriteFile(file, "old contents that are longer than nothing");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    SufError = "stale";
    EXPECT_TRUE(SaveSuf(file.string(), model.chain));
    EXPECT_EQ(SufError, "");
    EXPECT_EQ(ReadFile(file), SufText(model.chain));
    // The replaced file keeps its permissions; no temporary file is left.
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(listing().size(), 1u);
}

TEST_F(SufSave, NullChainGivesAnEmptyFile) {
    const fs::path file = m_dir / "empty.suf";
    EXPECT_TRUE(SaveSuf(file.string(), nullptr));
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(SufSave, MissingFolderFailsWithAMessageNamingTheFile) {
    Model model;
    model.chain = Hill(kPoly);
    const fs::path file = m_dir / "missing" / "hill.suf";
    EXPECT_FALSE(SaveSuf(file.string(), model.chain));
    EXPECT_EQ(Utf8FromCp932(SufError),
              "ファイル " + file.string() + " に書き込めませんでした: フォルダーが見つかりません");
    EXPECT_EQ(listing().size(), 0u);
}

TEST_F(SufSave, FolderInThePlaceOfTheFileIsLeftAlone) {
    Model model;
    model.chain = Hill(kPoly);
    const fs::path target = m_dir / "taken.suf";
    fs::create_directory(target);
    WriteFile(target / "inside", "keep");
    EXPECT_FALSE(SaveSuf(target.string(), model.chain));
    EXPECT_NE(Utf8FromCp932(SufError).find("taken.suf に書き込めませんでした"), std::string::npos);
    EXPECT_EQ(ReadFile(target / "inside"), "keep");
    EXPECT_EQ(listing().size(), 1u); // the temporary file is gone
}

TEST_F(SufSave, FailedWriteKeepsTheOldFile) {
    // A file size limit makes a write fail part-way, as a full disk would.
    Model model;
    model.chain = NewObject("big");
    for (int i = 0; i < 20000; ++i)
        AddPolygon(model.chain, Polygon(model.chain, "g", kPoly, {V(i, 1.25, 3)}));
    const fs::path file = m_dir / "keep.suf";
    WriteFile(file, "previous shape");

    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveSuf(file.string(), model.chain);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(Utf8FromCp932(SufError),
              "ファイル " + file.string() + " に書き込めませんでした: ファイルが大きすぎます");
    EXPECT_EQ(ReadFile(file), "previous shape");
    EXPECT_EQ(listing().size(), 1u);
}

TEST_F(SufSave, SymbolicLinkKeepsPointingAtTheNewFile) {
    Model model;
    model.chain = Hill(kUvPoly);
    const fs::path real = m_dir / "real.suf";
    const fs::path link = m_dir / "link.suf";
    WriteFile(real, "old");
    fs::create_symlink(real, link);
    EXPECT_TRUE(SaveSuf(link.string(), model.chain));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), SufText(model.chain));
}

TEST_F(SufSave, PipeIsWrittenThroughNotReplaced) {
    Model model;
    model.chain = Hill(kUvPoly);
    const fs::path pipePath = m_dir / "pipe.suf";
    ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
    // The reading end is open first, so that the save does not wait for one.
    const int reader = open(pipePath.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(SaveSuf(pipePath.string(), model.chain));
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
        received.append(buffer, std::size_t(n));
    close(reader);
    EXPECT_EQ(received, SufText(model.chain));
    EXPECT_TRUE(fs::is_fifo(pipePath));
    EXPECT_EQ(listing().size(), 1u);
}

using SufSaveDeathTest = SufSave;

// Whether a root process may become the unprivileged user 65534 (a user
// namespace may map no such user).
static bool CanDropPrivileges() {
    const pid_t child = fork();
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(SufSaveDeathTest, ReadOnlyFileIsNotReplaced) {
    // Root may write any file, so the save runs in a child process as an
    // unprivileged user; the child reports what did not hold and exits 1.
    if (geteuid() == 0 && !CanDropPrivileges())
        GTEST_SKIP() << "root cannot become an unprivileged user here";
    const fs::path file = m_dir / "locked.suf";
    EXPECT_EXIT(
        {
            if (geteuid() == 0) {
                fs::permissions(m_dir, fs::perms::all);
                if (setgid(65534) != 0 || setuid(65534) != 0)
                    std::exit(2);
            }
            WriteFile(file, "protected shape");
            fs::permissions(file,
                            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
            Model model;
            model.chain = Hill(kPoly);
            bool held = true;
            if (SaveSuf(file.string(), model.chain)) {
                std::fputs("saved over a read-only file\n", stderr);
                held = false;
            }
            if (ReadFile(file) != "protected shape") {
                std::fputs("the read-only file changed\n", stderr);
                held = false;
            }
            if (Utf8FromCp932(SufError) !=
                "ファイル " + file.string() + " に書き込めませんでした: アクセスが拒否されました") {
                std::fprintf(stderr, "message: %s\n", Utf8FromCp932(SufError).c_str());
                held = false;
            }
            if (listing().size() != 1) {
                std::fputs("a temporary file was left\n", stderr);
                held = false;
            }
            std::exit(held ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(SufSave, FileNameOutsideCp932StillNamedInTheMessage) {
    const fs::path file = m_dir / "nowhere" / "é😀.suf";
    EXPECT_FALSE(SaveSuf(file.string(), nullptr));
    EXPECT_NE(Utf8FromCp932(SufError).find("??.suf に書き込めませんでした"), std::string::npos);
}

TEST(WriteSuf, StreamsTheSameBytesAsTheFileAndReportsAFailedWrite) {
    Model model;
    model.chain = Hill(kUvShade);
    model.chain->Next = NewObject("second");
    model.chain->Next->Prev = model.chain;

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_TRUE(WriteSuf(fds[1], "pipe", model.chain));
    close(fds[1]);
    std::string streamed;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        streamed.append(buffer, std::size_t(n));
    close(fds[0]);
    EXPECT_EQ(streamed, SufText(model.chain));
    EXPECT_TRUE(SufError.empty());

    // A descriptor that was closed: the write fails and the message names the output.
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_FALSE(WriteSuf(fds[1], "standard output", model.chain));
    EXPECT_NE(Utf8FromCp932(SufError).find("standard output"), std::string::npos);
}
