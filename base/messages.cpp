// The catalogue of messages and the choice of language (see messages.h).

#include "base/messages.h"

#include <array>
#include <cstdlib>

namespace talorin {
namespace {

struct Entry {
    std::string_view japanese;
    std::string_view english;
};

constexpr std::array kEntries{
#define TALORIN_MESSAGE_ENTRY(id, ja, en) Entry{ja, en},
    TALORIN_MESSAGES(TALORIN_MESSAGE_ENTRY)
#undef TALORIN_MESSAGE_ENTRY
};

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// The language part of a locale or LANGUAGE entry: "en_US.UTF-8" -> "en".
std::string_view LanguageCode(std::string_view name) {
    return name.substr(0, name.find_first_of("_.@"));
}

} // namespace

namespace {

// The code of the translated language ("en" or "ja") that the locale
// variables ask for, or empty when they ask for none: unset, C or POSIX, or
// only languages without a translation.
std::string_view ChosenLanguage(const char* lcAll, const char* lcMessages, const char* lang,
                                const char* language) {
    const char* locale = IsSet(lcAll) ? lcAll : IsSet(lcMessages) ? lcMessages : lang;
    if (!IsSet(locale))
        return {};
    const std::string_view name(locale);
    if (name == "C" || name == "POSIX" || name.starts_with("C."))
        return {};
    if (IsSet(language)) {
        // The first entry with a translation decides; Japanese is the source.
        std::string_view list(language);
        while (!list.empty()) {
            const std::size_t colon = list.find(':');
            const std::string_view code = LanguageCode(list.substr(0, colon));
            if (code == "en" || code == "ja")
                return code;
            list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
        }
        return {};
    }
    const std::string_view code = LanguageCode(name);
    return code == "en" || code == "ja" ? code : std::string_view();
}

} // namespace

Language LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang,
                            const char* language) {
    return ChosenLanguage(lcAll, lcMessages, lang, language) == "en" ? Language::English
                                                                       : Language::Japanese;
}

bool LocaleAsksForJapanese(const char* lcAll, const char* lcMessages, const char* lang,
                           const char* language) {
    return ChosenLanguage(lcAll, lcMessages, lang, language) == "ja";
}

bool ProgramLocaleAsksForJapanese() {
    static const bool japanese =
        LocaleAsksForJapanese(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                              std::getenv("LANG"), std::getenv("LANGUAGE"));
    return japanese;
}

Language ProgramLanguage() {
    static const Language language =
        LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                           std::getenv("LANG"), std::getenv("LANGUAGE"));
    return language;
}

std::string_view MessageText(Msg id, Language language) {
    const Entry& entry = kEntries[static_cast<std::size_t>(id)];
    return language == Language::English ? entry.english : entry.japanese;
}

std::string Text(Msg id, Language language, std::initializer_list<std::string_view> args) {
    const std::string_view text = MessageText(id, language);
    std::string out;
    out.reserve(text.size() + 64);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' && i + 2 < text.size() && text[i + 2] == '}' && text[i + 1] >= '1' &&
            text[i + 1] <= '9') {
            const std::size_t n = std::size_t(text[i + 1] - '1');
            if (n < args.size()) {
                out.append(args.begin()[n]);
                i += 2;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

} // namespace talorin
