// Names as the reader's tokenizer sees them: a name reads back when it is
// exactly one raw token that the comment filter leaves alone.

#include "shape/sufnames.h"

#include <initializer_list>
#include <new>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/messages.h"
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

// Message id as CP932 with {1}, {2}, ... replaced by cp932Args. The text is
// converted piece by piece around the placeholders, since the arguments are a
// name's own bytes, which need not be valid as UTF-8.
std::string J(talorin::Msg id, std::initializer_list<std::string_view> cp932Args = {}) {
    const std::string_view text = talorin::MessageText(id, talorin::ProgramLanguage());
    std::string out;
    std::size_t piece = 0;
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        if (text[i] != '{' || text[i + 2] != '}' || text[i + 1] < '1' || text[i + 1] > '9')
            continue;
        const std::size_t n = std::size_t(text[i + 1] - '1');
        if (n >= cp932Args.size())
            continue;
        out += J(text.substr(piece, i - piece));
        out.append(cp932Args.begin()[n]);
        piece = i + 3;
        i += 2;
    }
    return out + J(text.substr(piece));
}

// What keeps a name from reading back: the reason as CP932 (empty when it
// reads back) and where, as the first byte and the byte count of the
// character to blame (none for the empty name).
struct Offence {
    std::string reason;
    std::size_t at = 0;
    std::size_t length = 0;
};

Offence FindOffence(std::string_view name) {
    if (name.empty())
        return {J(talorin::Msg::NameEmpty)};
    const std::size_t size = name.size();
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == ' ')
            return {J(talorin::Msg::NameSpace), i, 1};
        if (c < ' ' || c == 0x7F)
            return {J(talorin::Msg::NameControl, {Hex(c)}), i, 1};
        const auto trail = i + 1 < size ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (IsLeadByte(c) && trail >= 0x40 && trail <= 0xFC && trail != 0x7F) {
            // The tokenizer works on single bytes, so a second byte that
            // equals punctuation ends the name inside the character.
            if (IsPunctuation(trail) && i + 2 < size)
                return {J(talorin::Msg::NameSplitCharacter,
                          {name.substr(i, 2), name.substr(i + 1, 1)}),
                        i, 2};
            ++i;
            continue;
        }
        if (IsPunctuation(c) && i + 1 < size)
            return {J(talorin::Msg::NameSeparator, {name.substr(i, 1)}), i, 1};
    }
    // The comment filter: a "/*" without a later "*/" opens a comment; with
    // one, the bytes between are removed unless the "*/" comes first.
    const std::size_t open = name.find("/*");
    if (open != std::string_view::npos) {
        const std::size_t close = name.find("*/");
        if (close == std::string_view::npos || close + 2 > open)
            return {J(talorin::Msg::NameComment), open, 1};
    }
    return {};
}

// The reason as CP932, or empty.
std::string Reason(std::string_view name) {
    return FindOffence(name).reason;
}

// The byte count of the UTF-8 sequence that lead begins (valid text only).
std::size_t Utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// The whole message as CP932, or empty. Control bytes of the name become a
// byte that is not CP932, which the conversion for display shows as U+FFFD.
std::string ProblemCp932(const std::string& name, bool attribute) {
    const std::string reason = Reason(name);
    if (reason.empty())
        return {};
    if (name.empty())
        return J(attribute ? talorin::Msg::AttributeNameEmpty : talorin::Msg::ObjectNameEmpty);
    std::string shown(name);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F)
            c = '\xFF';
    return J(attribute ? talorin::Msg::AttributeNameProblem : talorin::Msg::ObjectNameProblem,
             {shown, reason});
}

} // namespace

std::string SufNameProblem(const std::string& cp932Name, bool attribute) {
    return Utf8FromCp932(ProblemCp932(cp932Name, attribute));
}

std::string SufSafeName(std::string_view utf8) {
    struct Character {
        std::string utf8;
        std::string cp932;
    };
    const std::string text = ValidUtf8(utf8);
    std::vector<Character> characters;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(static_cast<unsigned char>(text[i]));
        Character c{text.substr(i, length), {}};
        try {
            c.cp932 = Cp932FromUtf8(c.utf8);
        } catch (const talorin::Error&) {
            c = {"_", "_"}; // CP932 lacks it (U+FFFD for a broken byte too)
        }
        characters.push_back(std::move(c));
        i += length;
    }
    // Each round replaces the character to blame; "_" never offends, so the
    // rounds end. Names are short enough for the rescans.
    for (;;) {
        std::string cp932;
        for (const Character& c : characters)
            cp932 += c.cp932;
        const Offence offence = FindOffence(cp932);
        if (offence.reason.empty() || offence.length == 0)
            break;
        std::size_t start = 0;
        for (Character& c : characters) {
            if (offence.at < start + c.cp932.size()) {
                c = {"_", "_"};
                break;
            }
            start += c.cp932.size();
        }
    }
    std::string out;
    for (const Character& c : characters)
        out += c.utf8;
    return out;
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
        return J(talorin::Msg::NotEnoughMemory);
    }
    return {};
}

} // namespace vesk
