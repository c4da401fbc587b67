#include "shape/sufnames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/error.h"
#include "base/sjis.h"
#include "shape/suf.h"

using namespace vesk;

namespace {

std::string Sjis(const char* utf8) {
    return Cp932FromUtf8(utf8);
}

// Whether a file written the way the writer writes, with name as the object
// and as the attribute name, reads back with both names intact and the next
// object still there.
bool ReadsBack(const std::string& name) {
    const std::string text = "obj suf " + name + " {\r\natr " + name +
                             "\r\nprim poly (\r\n    1 2 3\r\n)\r\n}\r\nobj suf next {\r\n}\r\n";
    const std::string path = (std::filesystem::path(testing::TempDir()) / "sufnames.suf").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    bool same = false;
    try {
        TVESK_Object* chain = LoadSuf(path);
        same = chain != nullptr && chain->Name == name && chain->Polygons != nullptr &&
               chain->Polygons->Attribute != nullptr && chain->Polygons->Attribute->Name == name &&
               chain->Next != nullptr && chain->Next->Name == "next" &&
               chain->Next->Next == nullptr;
        FreeSuf(chain);
    } catch (const talorin::Error&) {
    }
    std::remove(path.c_str());
    return same;
}

// Bytes that matter to the tokenizer, a lead byte of a double-byte
// character, and plain letters.
const std::vector<char> kAlphabet = {'a', ' ', '\r', '\n', '\x1A', '\t',   '{',    '(', ')',
                                     '[', '"', ',',  '/',  '*',    '\x81', '\x83', '\\'};

TEST(SufNames, RefusedExactlyWhenTheReaderWouldNotGiveTheNameBack) {
    // Every name of up to three bytes from the alphabet, then random longer ones.
    std::vector<std::string> names{""};
    for (std::size_t begin = 0, length = 1; length <= 3; ++length) {
        const std::size_t end = names.size();
        for (std::size_t i = begin; i < end; ++i)
            for (char c : kAlphabet)
                names.push_back(names[i] + c);
        begin = end;
    }
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        std::string name(4 + random() % 4, 'a');
        for (char& c : name)
            c = kAlphabet[random() % kAlphabet.size()];
        names.push_back(name);
    }
    int refused = 0;
    for (const std::string& name : names) {
        const bool readsBack = ReadsBack(name);
        const std::string problem = SufNameProblem(name, false);
        ASSERT_EQ(problem.empty(), readsBack) << testing::PrintToString(name) << " " << problem;
        refused += !readsBack;
    }
    EXPECT_GT(refused, 1000); // the alphabet is hostile enough to matter
}

TEST(SufNames, MessagesNameTheNameAndTheReason) {
    EXPECT_EQ(SufNameProblem("a b", false),
              "オブジェクト名「a b」は形状ファイルに書けません: 空白を含んでいます");
    EXPECT_EQ(SufNameProblem("a prim", true),
              "属性名「a prim」は形状ファイルに書けません: 空白を含んでいます");
    EXPECT_EQ(SufNameProblem("", true), "属性名が空では形状ファイルに書けません");
    EXPECT_EQ(SufNameProblem("a\rb", false), "オブジェクト名「a\xEF\xBF\xBD"
                                             "b」は形状ファイルに書けません: 制御文字 (0x0D) "
                                             "を含んでいます");
    EXPECT_EQ(SufNameProblem("a{b", false), "オブジェクト名「a{b」は形状ファイルに書けません: "
                                            "区切りの記号「{」を含んでいます "
                                            "(名前の最後にだけ使えます)");
    EXPECT_EQ(SufNameProblem("a/*b*/c/*d", false),
              "オブジェクト名「a/*b*/c/*d」は形状ファイルに書けません: "
              "コメントの始まり「/*」を含んでいます");
    // "ー" is 81 5B: its second byte is "[", which ends the name inside it.
    EXPECT_EQ(SufNameProblem(Sjis("データ"), true),
              "属性名「データ」は形状ファイルに書けません: 「ー」の2バイト目が区切りの記号「[」"
              "と同じです (この文字は名前の最後にだけ使えます)");
}

TEST(SufNames, EverydayNamesAreAccepted) {
    for (const char* name : {"BodyM", "mountain", "my_mountain-2", "富士山", "スキー", "山ソ表",
                             "a*/b", "x(", "{", "1.5", "obj", "prim"})
        EXPECT_EQ(SufNameProblem(Sjis(name), false), "") << name;
}

TEST(SufNames, SafeNameReadsBackAndKeepsEveryCharacterNotToBlame) {
    EXPECT_EQ(SufSafeName("my mountain"), "my_mountain");
    EXPECT_EQ(SufSafeName("データ"), "デ_タ"); // "ー" ends the name inside it
    EXPECT_EQ(SufSafeName("\xF0\x9F\x98\x80\xFFpeak(2)"), "__peak_2)");
    // Whatever the characters, the result reads back and differs only by "_".
    const std::vector<std::string> alphabet = {"a",    " ",   "\r", "\t", "{",  "(",
                                               ")",    "/",   "*",  "ー", "山", "\xF0\x9F\x98\x80",
                                               "\xFF", "\xE5"};
    std::mt19937 random(11);
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::string> characters(1 + random() % 6);
        std::string name;
        for (std::string& c : characters)
            name += c = alphabet[random() % alphabet.size()];
        const std::string safe = SufSafeName(name);
        ASSERT_EQ(SufNameProblem(Cp932FromUtf8(safe), false), "") << name;
        std::string expected;
        for (std::size_t k = 0, at = 0; k < characters.size(); ++k) {
            const std::string c = ValidUtf8(characters[k]);
            const bool kept = safe.compare(at, c.size(), c) == 0;
            expected += kept ? c : "_";
            at += kept ? c.size() : 1;
        }
        ASSERT_EQ(safe, expected) << name;
        // A name that reads back already is left alone.
        try {
            if (SufNameProblem(Cp932FromUtf8(name), false).empty())
                ASSERT_EQ(safe, name);
        } catch (const talorin::Error&) { // CP932 lacks a character
        }
    }
}

TEST(SufNames, SavesAndStreamsRefuseBeforeWritingAnything) {
    TVESK_Object* chain = NewObject("ok");
    TVESK_Polygon* polygon = NewPolygon("a b", kPoly, chain);
    ASSERT_NE(polygon, nullptr);
    AddPolygon(chain, polygon);
    const std::string path = (std::filesystem::path(testing::TempDir()) / "refused.suf").string();
    std::remove(path.c_str());
    EXPECT_FALSE(SaveSuf(path, chain));
    EXPECT_EQ(Utf8FromCp932(SufError),
              "属性名「a b」は形状ファイルに書けません: 空白を含んでいます");
    EXPECT_FALSE(std::filesystem::exists(path));

    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    SufError.clear();
    EXPECT_FALSE(WriteSuf(pipeEnds[1], "pipe", chain));
    EXPECT_FALSE(SufError.empty());
    close(pipeEnds[1]);
    char byte;
    EXPECT_EQ(read(pipeEnds[0], &byte, 1), 0); // nothing went into the pipe
    close(pipeEnds[0]);

    // A later object's name is checked too.
    chain->Polygons->Attribute->Name = "good";
    chain->Next = NewObject("bad name");
    chain->Next->Prev = chain;
    EXPECT_FALSE(SaveSuf(path, chain));
    EXPECT_NE(Utf8FromCp932(SufError).find("「bad name」"), std::string::npos);
    FreeSuf(chain);
}

} // namespace
