// UTF-8 <-> CP932 through glibc's iconv. glibc's CP932 table is the Windows
// one (0x8160 is U+FF5E, and U+301C WAVE DASH is accepted for it as well), so
// text typed on Linux round-trips the way files from Windows expect.

#include "base/sjis.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>

#include "base/error.h"

namespace vesk {

namespace {

class Converter {
  public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw talorin::Error(talorin::Text(talorin::Msg::NoConverter, {from, to}));
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as it can; in and out advance. Returns 0 or the errno.
    int Convert(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft) {
        char* input = const_cast<char*>(in);
        const std::size_t result = iconv(m_cd, &input, &inLeft, &out, &outLeft);
        in = input;
        return result == static_cast<std::size_t>(-1) ? errno : 0;
    }

  private:
    iconv_t m_cd;
};

// Length of the well-formed UTF-8 sequence at s[0..n), or 0 if it is not one
// (overlong forms, surrogates and values past U+10FFFF are not well formed).
std::size_t Utf8SequenceLength(const unsigned char* s, std::size_t n) {
    const unsigned char b = s[0];
    if (b < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (n < length || s[1] < low || s[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (s[i] < 0x80 || s[i] > 0xBF)
            return 0;
    return length;
}

std::string HexByte(unsigned char b) {
    static const char digits[] = "0123456789ABCDEF";
    return {'0', 'x', digits[b >> 4], digits[b & 15]};
}

} // namespace

std::string Cp932FromUtf8(std::string_view utf8) {
    // Check the UTF-8 first, so that a broken byte is reported as such and not
    // as a character that CP932 lacks.
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = Utf8SequenceLength(bytes + i, utf8.size() - i);
        if (length == 0)
            throw talorin::Error(talorin::Text(talorin::Msg::BadUtf8,
                                              {std::to_string(i + 1), HexByte(bytes[i])}));
        i += length;
    }

    Converter converter("CP932", "UTF-8");
    std::string out(utf8.size() * 2, '\0'); // CP932 takes at most 2 bytes per character
    const char* in = utf8.data();
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (converter.Convert(in, inLeft, o, outLeft) == 0)
            continue;
        const std::size_t length =
            Utf8SequenceLength(reinterpret_cast<const unsigned char*>(in), inLeft);
        throw talorin::Error(talorin::Text(talorin::Msg::NotCp932,
                                          {std::string_view(in, length == 0 ? 1 : length)}));
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string Utf8FromCp932(std::string_view cp932) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
    Converter converter("UTF-8", "CP932");
    // Every input byte yields at most 3 output bytes (U+FFFD or a BMP character).
    std::string out(cp932.size() * 3, '\0');
    const char* in = cp932.data();
    std::size_t inLeft = cp932.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        const int error = converter.Convert(in, inLeft, o, outLeft);
        if (error == 0)
            continue;
        // An invalid or cut-off sequence: replace its first byte and go on
        // with the next one, which may start a valid character.
        for (char c : std::string_view(kReplacement, 3))
            *o++ = c;
        outLeft -= 3;
        ++in;
        --inLeft;
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string ValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(s + i, bytes.size() - i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string Cp932ForMessage(std::string_view utf8) {
    try {
        return Cp932FromUtf8(utf8);
    } catch (const talorin::Error&) {
    }
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = Utf8SequenceLength(s + i, utf8.size() - i);
        if (length == 0) {
            out += '\xFF';
            ++i;
            continue;
        }
        // The replacement character stands for bytes that were not text: it
        // shows as itself again, not as "?".
        if (utf8.substr(i, length) == "\xEF\xBF\xBD") {
            out += '\xFF';
            i += length;
            continue;
        }
        try {
            out += Cp932FromUtf8(utf8.substr(i, length));
        } catch (const talorin::Error&) {
            out += '?';
        }
        i += length;
    }
    return out;
}

} // namespace vesk
