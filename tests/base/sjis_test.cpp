#include "base/sjis.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"

using namespace vesk;

namespace {

std::string ErrorOf(std::string_view utf8) {
    try {
        Cp932FromUtf8(utf8);
    } catch (const talorin::Error& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace

TEST(Cp932Conversion, TypicalTextHasTheWindowsBytes) {
    EXPECT_EQ(Cp932FromUtf8("Talorin"), "Talorin");
    EXPECT_EQ(Cp932FromUtf8("地面"), "\x92\x6e\x96\xca");
    EXPECT_EQ(Cp932FromUtf8("ｱ"), "\xb1");                // half-width kana: one byte
    EXPECT_EQ(Cp932FromUtf8("①"), "\x87\x40");            // NEC special characters
    EXPECT_EQ(Cp932FromUtf8("髙"), "\xfb\xfc");           // IBM extensions
    EXPECT_EQ(Cp932FromUtf8("ソ表"), "\x83\x5c\x95\x5c"); // second byte 0x5C
    EXPECT_EQ(Cp932FromUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(Cp932FromUtf8(""), "");
}

TEST(Cp932Conversion, WaveDashAndFullWidthFormsMeetOnOneByteSequence) {
    // Text typed on Linux often has U+301C; Windows files use U+FF5E.
    EXPECT_EQ(Cp932FromUtf8("〜"), "\x81\x60");
    EXPECT_EQ(Cp932FromUtf8("～"), "\x81\x60");
    EXPECT_EQ(Utf8FromCp932("\x81\x60"), "～");
    EXPECT_EQ(Cp932FromUtf8("−"), "\x81\x7c");
    EXPECT_EQ(Utf8FromCp932("\x81\x7c"), "－");
}

TEST(Cp932Conversion, RoundTripsItsOwnText) {
    const std::string text = "Talorin-地面形状生成支援プログラム ～①Ⅰ㈱髙﨑ｱｲｳ ∥￢￤";
    EXPECT_EQ(Utf8FromCp932(Cp932FromUtf8(text)), text);
}

TEST(Cp932Conversion, UnrepresentableCharacterIsNamedNotReplaced) {
    EXPECT_EQ(ErrorOf("山😀"), "「😀」は Shift-JIS (CP932) に変換できない文字です");
    EXPECT_EQ(ErrorOf("café"), "「é」は Shift-JIS (CP932) に変換できない文字です");
    EXPECT_EQ(ErrorOf("한"), "「한」は Shift-JIS (CP932) に変換できない文字です");
}

TEST(Cp932Conversion, InvalidUtf8IsRefused) {
    EXPECT_EQ(ErrorOf("ab\xff"), "UTF-8 として正しくない文字列です (3 バイト目の 0xFF)");
    EXPECT_NE(ErrorOf("\xe5\xb1"), "(no error)");         // cut off
    EXPECT_NE(ErrorOf("\xc0\xaf"), "(no error)");         // overlong "/"
    EXPECT_NE(ErrorOf("\xed\xa0\x80"), "(no error)");     // surrogate
    EXPECT_NE(ErrorOf("\xf4\x90\x80\x80"), "(no error)"); // past U+10FFFF
}

TEST(Cp932Display, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf8FromCp932("\x92\x6e\x96\xca"), "地面");
    EXPECT_EQ(Utf8FromCp932("a\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(Utf8FromCp932("\xff\xfe"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    // A lead byte without its second byte; the next byte is kept.
    EXPECT_EQ(Utf8FromCp932("\x81 A"), "\xEF\xBF\xBD A");
    EXPECT_EQ(Utf8FromCp932("x\x81"), "x\xEF\xBF\xBD");
    EXPECT_EQ(Utf8FromCp932(""), "");
}

TEST(Utf8ForDisplay, EachBadByteBecomesOneReplacementCharacter) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(ValidUtf8("地面 /x.suf"), "地面 /x.suf");
    EXPECT_EQ(ValidUtf8("/nonexist\xff/x.suf"), "/nonexist" + fffd + "/x.suf");
    EXPECT_EQ(ValidUtf8("a\xe5\xb1"), "a" + fffd + fffd); // cut off at the end
    EXPECT_EQ(ValidUtf8("\xe5\xb1/"), fffd + fffd + "/"); // cut off before "/"
    EXPECT_EQ(ValidUtf8("\xc0\xaf"), fffd + fffd);        // overlong "/"
    EXPECT_EQ(ValidUtf8("\xed\xa0\x80z"), fffd + fffd + fffd + "z");
}

TEST(Utf8ForDisplay, MessagesInCp932KeepEveryCharacterAroundABadOne) {
    // A character that CP932 lacks is "?"; a byte that is not UTF-8 becomes
    // a byte that shows as U+FFFD when the message is displayed.
    const std::string message = Cp932ForMessage("山\xff/b\xF0\x9F\x98\x80"
                                                "c");
    EXPECT_EQ(message, "\x8e\x52\xff/b?c");
    EXPECT_EQ(Utf8FromCp932(message), "山\xEF\xBF\xBD/b?c");
    EXPECT_EQ(Cp932ForMessage("地面"), Cp932FromUtf8("地面"));
    // A message made as UTF-8 already shows such a byte as U+FFFD: it stays so.
    EXPECT_EQ(Cp932ForMessage("a\xEF\xBF\xBD"), "a\xff");
}
