#include "shape/suf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/numtext.h"
#include "shape/shape.h"
#include "base/sjis.h"

namespace vesk::detail {
// Defined in the reader: LoadSuf with a chosen read size.
TVESK_Object* LoadSufWithChunkSize(const std::string& fileName, std::size_t chunkSize);
} // namespace vesk::detail

using namespace vesk;

namespace {

// Writes bytes to a fresh file in the test folder and removes it afterwards.
class TempFile {
public:
    explicit TempFile(std::string_view bytes) {
        static int counter = 0;
        m_path = (std::filesystem::path(testing::TempDir()) /
                  ("sufreader_" + std::to_string(++counter) + ".suf"))
                     .string();
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            ADD_FAILURE() << "cannot write " << m_path;
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Owns a chain read in a test.
struct Chain {
    TVESK_Object* first = nullptr;
    Chain() = default;
    explicit Chain(TVESK_Object* f) : first(f) {}
    Chain(const Chain&) = delete;
    ~Chain() { FreeSuf(first); }
    TVESK_Object* operator->() const { return first; }
};

TVESK_Object* Load(std::string_view bytes) {
    TempFile file(bytes);
    return LoadSuf(file.path());
}

// The text of the error that reading bytes throws, or "<no error>".
std::string ThrownText(std::string_view bytes) {
    try {
        Chain chain(Load(bytes));
        return "<no error>";
    } catch (const talorin::Error& error) {
        return error.what();
    }
}

std::string FormatMessage(int line) {
    return std::to_string(line) + Cp932FromUtf8("行において未知の形式の形状ファイルです。");
}
std::string GrammarMessage(int line) {
    return Cp932FromUtf8("形状データの文法が") + std::to_string(line) +
           Cp932FromUtf8("行において変です。");
}
std::string MemoryMessage(long long line) {
    return std::to_string(line) + Cp932FromUtf8("行目でメモリーが枯渇しました。");
}
std::string NotANumber(std::string_view tokenUtf8) {
    return "'" + std::string(tokenUtf8) + "' は浮動小数点数ではありません";
}

std::vector<const TVESK_Polygon*> Polygons(const TVESK_Object* object) {
    std::vector<const TVESK_Polygon*> list;
    for (const TVESK_Polygon* p = object->Polygons; p != nullptr; p = p->Next)
        list.push_back(p);
    return list;
}

std::vector<const TVESK_Vertex*> Vertices(const TVESK_Polygon* polygon) {
    std::vector<const TVESK_Vertex*> list;
    for (const TVESK_Vertex* v = polygon->Vertices; v != nullptr; v = v->Next)
        list.push_back(v);
    return list;
}

std::vector<std::string> GroupNames(const TVESK_Object* object) {
    std::vector<std::string> names;
    for (const TVESK_Attribute* a = object->Attributes; a != nullptr; a = a->Next)
        names.push_back(a->Name);
    return names;
}

// Every fact of a model as text, with values exact, for comparing two reads.
std::string Describe(const TVESK_Object* chain) {
    std::string text;
    char number[40];
    auto put = [&](double v) {
        std::snprintf(number, sizeof number, " %a", v);
        text += number;
    };
    for (const TVESK_Object* o = chain; o != nullptr; o = o->Next) {
        text += "obj[" + o->Name + "]";
        for (double v : {o->MinX, o->MinY, o->MinZ, o->MaxX, o->MaxY, o->MaxZ})
            put(v);
        for (const std::string& name : GroupNames(o))
            text += " atr[" + name + "]";
        text += "\n";
        for (const TVESK_Polygon* p : Polygons(o)) {
            text += " prim " + std::to_string(p->Kind) + " in[" +
                    (p->Attribute != nullptr ? p->Attribute->Name : "<none>") + "]\n";
            for (const TVESK_Vertex* v : Vertices(p)) {
                text += "  v";
                for (double value : {v->X, v->Y, v->Z, v->NX, v->NY, v->NZ, v->U, v->V})
                    put(value);
                text += "\n";
            }
        }
    }
    return text;
}

// Restores the default budget however a test ends.
struct BudgetGuard {
    ~BudgetGuard() { SetMemoryBudget(0); }
};

// Every test frees what it reads; a record left behind means the reader
// dropped part of a chain on some path.
class SufReader : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(MemoryInUse(), 0u); }
};

using SufReaderMessages = SufReader;
using SufReaderConversion = SufReader;
using SufReaderLines = SufReader;
using SufReaderComments = SufReader;
using SufReaderTokens = SufReader;
using SufReaderModel = SufReader;
using SufReaderChunks = SufReader;

const std::string kOneTriangle = "obj suf hill {\r\n"
                                 "atr BodyM\r\n"
                                 "prim poly (\r\n"
                                 "    1 2 3\r\n"
                                 "    4 5 6\r\n"
                                 "    7 8 9\r\n"
                                 ")\r\n"
                                 "}\r\n";

} // namespace

// --- Reported failures --------------------------------------------------------

TEST_F(SufReaderMessages, UpperCaseSufReportsUnknownFormatAtItsLine) {
    SufError = "stale";
    Chain chain(Load(kOneTriangle + "\r\nobj SUF b {\r\n}\r\n"));
    EXPECT_EQ(chain.first, nullptr);
    EXPECT_EQ(SufError, FormatMessage(10));
}

TEST_F(SufReaderMessages, ObjAtEndOfFileReportsTheLastLineReadBlankLinesIncluded) {
    Chain chain(Load("\r\nobj\r\n\r\n"));
    EXPECT_EQ(chain.first, nullptr);
    EXPECT_EQ(SufError, FormatMessage(3));
}

TEST_F(SufReaderMessages, AtrOnFirstLineReportsGrammarAtLineOne) {
    Chain chain(Load("atr BodyM\r\n" + kOneTriangle));
    EXPECT_EQ(chain.first, nullptr);
    EXPECT_EQ(SufError, GrammarMessage(1));
}

TEST_F(SufReaderMessages, PrimBeforeObjReportsGrammar) {
    Chain chain(Load("\r\n  prim poly (\r\n 1 2 3\r\n)\r\n" + kOneTriangle));
    EXPECT_EQ(chain.first, nullptr);
    EXPECT_EQ(SufError, GrammarMessage(2));
}

TEST_F(SufReaderMessages, SuccessClearsAnEarlierMessage) {
    SufError = "stale";
    Chain chain(Load(kOneTriangle));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(SufError, "");
}

TEST_F(SufReaderMessages, ExhaustedBudgetReportsTheLineAndReleasesTheChain) {
    BudgetGuard guard;
    std::string text = "obj suf big {\r\natr G\r\nprim poly (\r\n";
    const int vertexLines = 20000;
    for (int i = 0; i < vertexLines; ++i)
        text += "    " + std::to_string(i) + " 0 0\r\n";
    text += ")\r\n}\r\n";
    TempFile file(text);

    SetMemoryBudget(1);
    EXPECT_EQ(LoadSuf(file.path()), nullptr);
    EXPECT_EQ(SufError, MemoryMessage(1)); // the object itself does not fit

    // Room for the object and a few blocks of vertices, not for all of them.
    SetMemoryBudget(256 * 1024);
    EXPECT_EQ(LoadSuf(file.path()), nullptr);
    const std::string first = SufError;
    const std::string suffix = MemoryMessage(0).substr(1);
    ASSERT_GT(first.size(), suffix.size());
    ASSERT_EQ(first.substr(first.size() - suffix.size()), suffix);
    const long long line = std::stoll(first.substr(0, first.size() - suffix.size()));
    EXPECT_GE(line, 4);
    EXPECT_LE(line, 3 + vertexLines);
    EXPECT_EQ(first, MemoryMessage(line));
    EXPECT_EQ(MemoryInUse(), 0u);

    // Had the first attempt kept anything, this one would fail sooner.
    EXPECT_EQ(LoadSuf(file.path()), nullptr);
    EXPECT_EQ(SufError, first);

    SetMemoryBudget(0);
    Chain chain(LoadSuf(file.path()));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(Vertices(chain->Polygons).size(), static_cast<std::size_t>(vertexLines));
}

TEST_F(SufReaderMessages, FileWithoutObjGivesNullAndNoMessage) {
    for (std::string_view text :
         {std::string_view(""), std::string_view("/* nothing here */\r\n"),
          std::string_view("\r\n \t\r\n\n\r"), std::string_view("/* open comment\r\nobj suf a"),
          std::string_view("\x1aobj suf a {\r\n}\r\n"), std::string_view("foo bar { }\r\n")}) {
        SufError = "stale";
        Chain chain(Load(text));
        EXPECT_EQ(chain.first, nullptr) << text;
        EXPECT_EQ(SufError, "") << text;
    }
}

// ReadSufFile throws what LoadSuf reports, and never touches SufError (the
// builders it shares with the window would otherwise set it on any thread).
TEST_F(SufReaderMessages, ReadSufFileThrowsLoadSufsTextsAndLeavesSufErrorAlone) {
    BudgetGuard guard;
    const TempFile grammar("atr BodyM\r\n" + kOneTriangle);
    const TempFile good(kOneTriangle);
    SufError = "kept";
    const auto failure = [](const std::string& path) -> std::pair<talorin::ErrorKind, std::string> {
        try {
            ReadSufFile(path);
        } catch (const talorin::Error& e) {
            return {e.kind(), e.what()};
        }
        return {};
    };
    EXPECT_EQ(failure(grammar.path()),
              std::pair(talorin::ErrorKind::Malformed, Utf8FromCp932(GrammarMessage(1))));
    SetMemoryBudget(1);
    EXPECT_EQ(failure(good.path()),
              std::pair(talorin::ErrorKind::OutOfMemory, Utf8FromCp932(MemoryMessage(1))));
    EXPECT_EQ(SufError, "kept");
    SetMemoryBudget(0);
    EXPECT_EQ(ReadSufFile(good.path())->Name, "hill");
}

// --- Conversion errors and unreadable files -----------------------------------

TEST_F(SufReaderConversion, NumberAgainstClosingParenthesisIsOneBadToken) {
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n    1 2 3)\r\n}\r\n"), NotANumber("3)"));
}

TEST_F(SufReaderConversion, EndOfFileInsideBlockConvertsTheEmptyToken) {
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n    1 2 3\r\n"), NotANumber(""));
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim uvpoly (\r\n    1 2 3  4"), NotANumber(""));
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim"), NotANumber(""));
}

TEST_F(SufReaderConversion, SurplusNumbersShiftIntoTheNextVertex) {
    Chain chain(Load("obj suf a {\r\nprim poly (\r\n 1 2 3 4\r\n 5 6\r\n)\r\n}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    const auto vertices = Vertices(chain->Polygons);
    ASSERT_EQ(vertices.size(), 2u);
    EXPECT_EQ(vertices[1]->X, 4);
    EXPECT_EQ(vertices[1]->Z, 6);

    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n 1 2 3 4\r\n)\r\n}\r\n"), NotANumber(")"));
}

TEST_F(SufReaderConversion, PrimWithoutParenthesisLosesTheFirstNumber) {
    Chain chain(Load("obj suf a {\r\nprim poly\r\n 9 1 2 3\r\n)\r\n}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    const auto vertices = Vertices(chain->Polygons);
    ASSERT_EQ(vertices.size(), 1u);
    EXPECT_EQ(vertices[0]->X, 1);
    EXPECT_EQ(vertices[0]->Y, 2);
    EXPECT_EQ(vertices[0]->Z, 3);
}

TEST_F(SufReaderConversion, EveryNumberReadsAsTheNumberParserReadsIt) {
    // The first number of a vertex and a later one take the reader's own path
    // for plain numbers; edge cases must still come out as ParseSufNumber's.
    for (const std::string token :
         {"0", "-0", "-", "0.0", "00.5", "1.", ".5", ".", "-.5e3", "+1", "1E+5", "1e", "1e+", "1-2",
          "--1", "1e-320", "-1e-400", "1e400", "1.7976931348623157e308",
          "2.2250738585072014e-308", "inf", "nan", "-infinity", "0x10", "9007199254740993",
          "123456789012345678901234567890", "0.1000000000000000055511151231257827"}) {
        const std::string text = "obj suf a {\r\nprim poly (\r\n " + token + " 0 " + token +
                                 "\r\n)\r\n}\r\n";
        double expected = 0;
        if (!ParseSufNumber(token, expected)) {
            EXPECT_EQ(ThrownText(text), NotANumber(token)) << token;
            continue;
        }
        Chain chain(Load(text));
        ASSERT_NE(chain.first, nullptr) << token;
        const TVESK_Vertex& v = *chain->Polygons->Vertices;
        EXPECT_EQ(std::memcmp(&v.X, &expected, sizeof expected), 0) << token;
        EXPECT_EQ(std::memcmp(&v.Z, &expected, sizeof expected), 0) << token;
    }
}

TEST_F(SufReaderConversion, TokenIsShownAsUtf8) {
    // CP932 "あ", and a decimal comma, which stays stuck to its digit.
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n \x82\xa0 0 0\r\n)"), NotANumber("あ"));
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n 1,5 0 0\r\n)"), NotANumber("1,"));
}

TEST_F(SufReaderConversion, MissingFileOrFolderThrowsNamingIt) {
    const std::string missing = testing::TempDir() + "no_such_shape.suf";
    try {
        LoadSuf(missing);
        ADD_FAILURE() << "no error";
    } catch (const talorin::Error& error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
    }
    EXPECT_THROW(LoadSuf(testing::TempDir()), talorin::Error);
}

TEST_F(SufReaderConversion, ReadErrorThrowsNamingTheFile) {
    // Opens fine, but reading at offset 0 fails (nothing is mapped there).
    const std::string unreadable = "/proc/self/mem";
    if (!std::filesystem::exists(unreadable))
        GTEST_SKIP() << "no " << unreadable;
    try {
        LoadSuf(unreadable);
        ADD_FAILURE() << "no error";
    } catch (const talorin::Error& error) {
        EXPECT_NE(std::string(error.what()).find(unreadable), std::string::npos) << error.what();
    }
}

TEST_F(SufReaderConversion, NextReadStartsAfresh) {
    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n 1 x"), NotANumber("x"));
    Chain inComment(Load("obj suf a {\r\n/* never closed"));
    ASSERT_NE(inComment.first, nullptr);
    Chain next(Load("obj suf b {\r\n}\r\nobj SUF"));
    EXPECT_EQ(next.first, nullptr);
    EXPECT_EQ(SufError, FormatMessage(3));
}

// --- Lines ------------------------------------------------------------------------

TEST_F(SufReaderLines, LfOnlyFileIsOneLine) {
    Chain bad(Load("obj suf a {\nprim poly (\n1 2 3\n)\n}\n\nobj SUF\n"));
    EXPECT_EQ(bad.first, nullptr);
    EXPECT_EQ(SufError, FormatMessage(1));

    Chain good(Load("obj suf a {\natr G\nprim poly (\n1 2 3\n4 5 6\n)\n}\n"));
    ASSERT_NE(good.first, nullptr);
    EXPECT_EQ(Vertices(good->Polygons).size(), 2u);
    EXPECT_EQ(good->Polygons->Attribute->Name, "G");
}

TEST_F(SufReaderLines, CrAloneEndsALineAndCrLfIsOneLineEnd) {
    Chain crOnly(Load("obj suf a {\r\r\robj SUF"));
    EXPECT_EQ(SufError, FormatMessage(4));
    Chain crLf(Load("obj suf a {\r\n\r\nobj SUF"));
    EXPECT_EQ(SufError, FormatMessage(3));
    // An LF before a CR is white space inside the line the CR ends.
    Chain lfCr(Load("obj suf a {\n\r\n\robj SUF"));
    EXPECT_EQ(SufError, FormatMessage(3));
}

TEST_F(SufReaderLines, CtrlZEndsTheFile) {
    Chain chain(Load(kOneTriangle + "\x1aobj SUF\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(chain->Next, nullptr);
    EXPECT_EQ(SufError, "");

    EXPECT_EQ(ThrownText("obj suf a {\r\nprim poly (\r\n 1 2\x1a 3\r\n)\r\n"), NotANumber(""));
}

// --- Comments -------------------------------------------------------------------

TEST_F(SufReaderComments, CommentAcrossLinesKeepsCountingLines) {
    Chain chain(Load("/* first\r\n\r\nthird obj SUF\r\n */ obj SUF\r\n"));
    EXPECT_EQ(chain.first, nullptr);
    EXPECT_EQ(SufError, FormatMessage(4));
}

TEST_F(SufReaderComments, TextBeforeAndAfterMarkersInOneTokenStays) {
    Chain chain(Load("obj suf hi/* the name */ll {\r\n"
                     "atr Body/*\r\n a comment\r\n */atr\r\nM\r\n"
                     "atr a/*x*/b\r\n"
                     "}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(chain->Name, "hi"); // "ll" went as the "{"
    EXPECT_EQ(GroupNames(chain.first), (std::vector<std::string>{"ab", "M", "Body"}));
}

TEST_F(SufReaderComments, RemovalCountsFromTheFirstMarkers) {
    // "*/" one byte before "/*" removes one byte; earlier removes nothing and
    // opens no comment; overlapping markers make one comment.
    Chain chain(Load("obj suf o {\r\n"
                     "atr a*/*b\r\n"
                     "atr */c/*\r\n"
                     "atr /*/ d\r\n"
                     "prim poly ( 1 2 3 )\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(GroupNames(chain.first), (std::vector<std::string>{"d", "*/c/*", "a**b"}));
    EXPECT_EQ(Vertices(chain->Polygons).size(), 1u);
}

TEST_F(SufReaderComments, RestAfterCommentEndIsNotSearchedForANewComment) {
    Chain chain(Load("obj suf o {\r\natr /* c */G/*\r\nprim poly ( 1 2 3 )\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(GroupNames(chain.first), (std::vector<std::string>{"G/*"}));
    EXPECT_EQ(Vertices(chain->Polygons).size(), 1u);
}

// --- Tokens --------------------------------------------------------------------

TEST_F(SufReaderTokens, ObjSufAtEndOfFileGivesAnUnnamedObject) {
    Chain chain(Load("obj suf"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(chain->Name, "");
    EXPECT_EQ(chain->Polygons, nullptr);
    EXPECT_EQ(SufError, "");
}

TEST_F(SufReaderTokens, EmptyNameReadsBackAsBraceAndDropsTheNextToken) {
    Chain chain(Load("obj suf  {\r\natr G\r\nprim poly (\r\n 1 2 3\r\n)\r\n}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(chain->Name, "{");
    EXPECT_EQ(chain->Attributes, nullptr); // "atr" went as the "{", "G" was skipped
    ASSERT_NE(chain->Polygons, nullptr);
    EXPECT_EQ(chain->Polygons->Attribute, nullptr);
}

TEST_F(SufReaderTokens, PunctuationSticksToTheWordBeforeIt) {
    // "[" starts a token of its own; "]" and "," end the word before them.
    // The second byte of CP932 "ー" is "[", which cuts the character.
    Chain chain(Load("obj suf [a]b {\r\n"
                     "atr x,y\r\n"
                     "atr \x81\x5b\x83\x41\r\n"
                     "}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(chain->Name, "[");
    EXPECT_EQ(GroupNames(chain.first), (std::vector<std::string>{"\x81\x5b", "x,"}));
}

TEST_F(SufReaderTokens, KeywordsAreCaseSensitiveAndUnknownWordsSkipped) {
    Chain chain(Load("obj suf o {\r\nAtr A\r\nfoo bar atr G { }\r\nPRIM poly ( 1 2 3 )\r\n}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(GroupNames(chain.first), (std::vector<std::string>{"G"}));
    EXPECT_EQ(chain->Polygons, nullptr);
}

// --- The model that is built --------------------------------------------------------

TEST_F(SufReaderModel, KindsDecideHowManyNumbersAVertexTakes) {
    Chain chain(Load("obj suf o {\r\natr G\r\n"
                     "prim poly ( 1 2 3 )\r\n"
                     "prim shade ( 1 2 3  4 5 6 )\r\n"
                     "prim uvpoly ( 1 2 3  7 8 )\r\n"
                     "prim uvshade ( 1 2 3  4 5 6  7 8 )\r\n"
                     "prim POLY ( 1 2 3 )\r\n"
                     "}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    const auto polygons = Polygons(chain.first);
    ASSERT_EQ(polygons.size(), 5u);
    const std::uint8_t kinds[] = {kPoly, kShade, kUvPoly, kUvShade, kPoly};
    // Values a kind does not carry stay zero.
    const double expected[5][8] = {{1, 2, 3, 0, 0, 0, 0, 0},
                                   {1, 2, 3, 4, 5, 6, 0, 0},
                                   {1, 2, 3, 0, 0, 0, 7, 8},
                                   {1, 2, 3, 4, 5, 6, 7, 8},
                                   {1, 2, 3, 0, 0, 0, 0, 0}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(polygons[i]->Kind, kinds[i]) << i;
        const auto vertices = Vertices(polygons[i]);
        ASSERT_EQ(vertices.size(), 1u) << i;
        const TVESK_Vertex& v = *vertices[0];
        const double got[8] = {v.X, v.Y, v.Z, v.NX, v.NY, v.NZ, v.U, v.V};
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(got[k], expected[i][k]) << i << " " << k;
    }
}

TEST_F(SufReaderModel, ListsKeepFileOrderWithBackLinks) {
    Chain chain(Load("obj suf a {\r\natr G\r\n"
                     "prim poly (\r\n 1 0 0\r\n 2 0 0\r\n 3 0 0\r\n)\r\n"
                     "prim poly ( )\r\n"
                     "prim poly (\r\n 4 0 0\r\n)\r\n"
                     "}\r\nobj suf b {\r\n}\r\nobj suf c {\r\n}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    const TVESK_Object* a = chain.first;
    ASSERT_NE(a->Next, nullptr);
    const TVESK_Object* b = a->Next;
    ASSERT_NE(b->Next, nullptr);
    const TVESK_Object* c = b->Next;
    EXPECT_EQ(a->Name + b->Name + c->Name, "abc");
    EXPECT_EQ(a->Prev, nullptr);
    EXPECT_EQ(b->Prev, a);
    EXPECT_EQ(c->Prev, b);
    EXPECT_EQ(c->Next, nullptr);

    const auto polygons = Polygons(a);
    ASSERT_EQ(polygons.size(), 3u);
    EXPECT_EQ(polygons[0]->Prev, nullptr);
    EXPECT_EQ(polygons[1]->Prev, polygons[0]);
    EXPECT_EQ(polygons[2]->Prev, polygons[1]);
    EXPECT_EQ(polygons[1]->Vertices, nullptr);

    const auto vertices = Vertices(polygons[0]);
    ASSERT_EQ(vertices.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(vertices[i]->X, i + 1);
        EXPECT_EQ(vertices[i]->Prev, i == 0 ? nullptr : vertices[i - 1]);
    }
    EXPECT_EQ(Vertices(polygons[2])[0]->X, 4);
}

TEST_F(SufReaderModel, GroupsCarryAcrossObjectsAndListsShareTails) {
    Chain chain(Load("obj suf a {\r\n"
                     "prim poly ( )\r\n" // before any group
                     "atr G1\r\nprim poly ( )\r\n"
                     "atr G2\r\nprim poly ( )\r\n"
                     "}\r\nobj suf b {\r\n"
                     "prim poly ( )\r\n" // still in a's G2
                     "atr G1\r\nprim poly ( )\r\n"
                     "atr H\r\nprim poly ( )\r\n"
                     "}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    const TVESK_Object* a = chain.first;
    ASSERT_NE(a->Next, nullptr);
    const TVESK_Object* b = a->Next;

    EXPECT_EQ(GroupNames(a), (std::vector<std::string>{"G2", "G1"}));
    const auto pa = Polygons(a);
    ASSERT_EQ(pa.size(), 3u);
    EXPECT_EQ(pa[0]->Attribute, nullptr);
    EXPECT_EQ(pa[1]->Attribute->Name, "G1");
    EXPECT_EQ(pa[2]->Attribute->Name, "G2");

    // b's list is its own new group in front of a's whole list.
    EXPECT_EQ(GroupNames(b), (std::vector<std::string>{"H", "G2", "G1"}));
    EXPECT_EQ(b->Attributes->Next, a->Attributes);
    const auto pb = Polygons(b);
    ASSERT_EQ(pb.size(), 3u);
    EXPECT_EQ(pb[0]->Attribute, pa[2]->Attribute);
    EXPECT_EQ(pb[1]->Attribute, pa[1]->Attribute);
    EXPECT_EQ(pb[2]->Attribute, b->Attributes);
    // TearDown checks that FreeSuf released the shared groups (once: the
    // sanitizer build would report a second release).
}

TEST_F(SufReaderModel, BoxComesFromEachObjectsOwnVertices) {
    Chain chain(Load("obj suf a {\r\nprim shade (\r\n"
                     " 1 -2 3  100 100 100\r\n"
                     " -1 5 3  -100 -100 -100\r\n"
                     ")\r\nprim poly (\r\n 0 0 10\r\n)\r\n}\r\n"
                     "obj suf b {\r\nprim poly ( 7 8 9 )\r\n}\r\n"
                     "obj suf c {\r\n}\r\n"
                     "obj suf d {\r\nprim poly ( 0 0 0  -0 -0 -0 )\r\n}\r\n"));
    ASSERT_NE(chain.first, nullptr);
    const TVESK_Object* a = chain.first;
    const double boxA[6] = {a->MinX, a->MinY, a->MinZ, a->MaxX, a->MaxY, a->MaxZ};
    const double wantA[6] = {-1, -2, 3, 1, 5, 10};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(boxA[i], wantA[i]) << i;

    // The first vertex sets the box; it is not compared with the zero box.
    const TVESK_Object* b = a->Next;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->MinX, 7);
    EXPECT_EQ(b->MaxZ, 9);
    EXPECT_EQ(b->MinZ, 9);

    const TVESK_Object* c = b->Next;
    ASSERT_NE(c, nullptr);
    for (double v : {c->MinX, c->MinY, c->MinZ, c->MaxX, c->MaxY, c->MaxZ})
        EXPECT_EQ(v, 0);

    // Only a strictly smaller value replaces a minimum: -0 does not replace 0.
    const TVESK_Object* d = c->Next;
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(std::signbit(d->MinX));
    EXPECT_FALSE(std::signbit(d->MaxX));
}

// --- Chunk boundaries --------------------------------------------------------------

TEST_F(SufReaderChunks, EveryReadSizeGivesTheSameModel) {
    const std::string text = "/* a comment\r\nover two lines */obj suf hill {\r"
                             "atr BodyM\n\r\n"
                             "prim uvshade (\r\n"
                             "    -999.137931034483 -1000 0  0 0.0183189655172414 1  12.5 1E-5\r\n"
                             ")\r\n"
                             "atr Ab/*x*/c\r\n"
                             "prim poly (\r\n    1 2 3\n    4 5 6\r\r\n    7 8 9\r\n)\r\n"
                             "}\r\n"
                             "obj suf second {\r\n"
                             "prim shade ( 1 2 3  4 5 6 ) }\r\n\x1a"
                             "obj SUF\r\n";
    TempFile file(text);
    Chain whole(LoadSuf(file.path()));
    ASSERT_NE(whole.first, nullptr) << SufError;
    const std::string expected = Describe(whole.first);
    for (std::size_t size = 1; size <= text.size() + 1; ++size) {
        Chain chain(detail::LoadSufWithChunkSize(file.path(), size));
        ASSERT_EQ(Describe(chain.first), expected) << "read size " << size;
    }
}

TEST_F(SufReaderChunks, EveryReadSizeGivesTheSameFailure) {
    const std::string text = "obj suf a {\r\n/* x\r\n\r\n*/\r\nprim poly (\r\n 1 2 3\r"
                             "\n)\r\n}\r\n\r\nobj SUF\r\n";
    TempFile file(text);
    for (std::size_t size = 1; size <= text.size() + 1; ++size) {
        Chain chain(detail::LoadSufWithChunkSize(file.path(), size));
        EXPECT_EQ(chain.first, nullptr);
        ASSERT_EQ(SufError, FormatMessage(10)) << "read size " << size;
    }
}

TEST_F(SufReaderChunks, LargeFileReadsEveryVertex) {
    std::string text = "obj suf big {\r\natr G\r\n";
    const int polygons = 30000;
    for (int i = 0; i < polygons; ++i) {
        text += "prim uvpoly (\r\n";
        for (int k = 0; k < 3; ++k)
            text += "    -999.137931034483 " + std::to_string(i) + " " + std::to_string(k) +
                    "  0 0.0183189655172414\r\n";
        text += ")\r\n";
    }
    text += "}\r\n";
    ASSERT_GT(text.size(), std::size_t{2} << 20); // more than one read
    Chain chain(Load(text));
    ASSERT_NE(chain.first, nullptr);
    const auto list = Polygons(chain.first);
    ASSERT_EQ(list.size(), static_cast<std::size_t>(polygons));
    for (int i = 0; i < polygons; ++i) {
        const auto vertices = Vertices(list[i]);
        ASSERT_EQ(vertices.size(), 3u) << i;
        ASSERT_EQ(vertices[2]->Y, i);
        ASSERT_EQ(vertices[2]->Z, 2);
        ASSERT_EQ(vertices[2]->V, 0.0183189655172414);
    }
    EXPECT_EQ(chain->MinY, 0);
    EXPECT_EQ(chain->MaxY, polygons - 1);
    EXPECT_EQ(chain->MinX, -999.137931034483);
}
