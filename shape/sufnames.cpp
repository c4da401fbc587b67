// Names as the reader's tokenizer sees them: a name reads back when it is
// exactly one raw token that the comment filter leaves alone.

#include "shape/sufnames.h"

#include <new>
#include <string_view>

#include "base/sjis.h"

namespace vesk {

namespace {

constexpr std::string_view kPunctuation = ",(){}[]`\"'";

bool IsPunctuation(unsigned char c) {
    return kPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
}

// First bytes of CP932 double-byte characters.
bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string Hex(unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    return {'0', 'x', digits[c >> 4], digits[c & 15]};
}

std::string J(std::string_view utf8) {
    return Cp932FromUtf8(utf8);
}

// The reason as CP932, or empty.
std::string Reason(std::string_view name) {
    if (name.empty())
        return J("名前が空です");
    const std::size_t size = name.size();
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == ' ')
            return J("空白を含んでいます");
        if (c < ' ' || c == 0x7F)
            return J("制御文字 (" + Hex(c) + ") を含んでいます");
        const auto trail = i + 1 < size ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (IsLeadByte(c) && trail >= 0x40 && trail <= 0xFC && trail != 0x7F) {
            // The tokenizer works on single bytes, so a second byte that
            // equals punctuation ends the name inside the character.
            if (IsPunctuation(trail) && i + 2 < size)
                return J("「") + std::string(name.substr(i, 2)) +
                       J("」の2バイト目が区切りの記号「") + static_cast<char>(trail) +
                       J("」と同じです (この文字は名前の最後にだけ使えます)");
            ++i;
            continue;
        }
        if (IsPunctuation(c) && i + 1 < size)
            return J("区切りの記号「") + static_cast<char>(c) +
                   J("」を含んでいます (名前の最後にだけ使えます)");
    }
    // The comment filter: a "/*" without a later "*/" opens a comment; with
    // one, the bytes between are removed unless the "*/" comes first.
    const std::size_t open = name.find("/*");
    if (open != std::string_view::npos) {
        const std::size_t close = name.find("*/");
        if (close == std::string_view::npos || close + 2 > open)
            return J("コメントの始まり「/*」を含んでいます");
    }
    return {};
}

// The whole message as CP932, or empty. Control bytes of the name become a
// byte that is not CP932, which the conversion for display shows as U+FFFD.
std::string ProblemCp932(const std::string& name, bool attribute) {
    const std::string reason = Reason(name);
    if (reason.empty())
        return {};
    const std::string kind = J(attribute ? "属性名" : "オブジェクト名");
    if (name.empty())
        return kind + J("が空では形状ファイルに書けません");
    std::string shown(name);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F)
            c = '\xFF';
    return kind + J("「") + shown + J("」は形状ファイルに書けません: ") + reason;
}

} // namespace

std::string SufNameProblem(const std::string& cp932Name, bool attribute) {
    return Utf8FromCp932(ProblemCp932(cp932Name, attribute));
}

std::string ChainNameProblem(const TVESK_Object* chain) {
    try {
        for (const TVESK_Object* object = chain; object != nullptr; object = object->Next) {
            std::string problem = ProblemCp932(object->Name, false);
            // Polygons of one group follow each other: check each run once.
            const TVESK_Attribute* checked = nullptr;
            for (const TVESK_Polygon* polygon = object->Polygons;
                 problem.empty() && polygon != nullptr; polygon = polygon->Next) {
                if (polygon->Attribute == nullptr || polygon->Attribute == checked)
                    continue;
                checked = polygon->Attribute;
                problem = ProblemCp932(checked->Name, true);
            }
            if (!problem.empty())
                return problem;
        }
    } catch (const std::bad_alloc&) {
        return J("メモリーが足りません");
    }
    return {};
}

} // namespace vesk
