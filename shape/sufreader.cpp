// The .suf reader: a byte tokenizer over large read chunks, a comment filter,
// and a keyword-driven parser that appends at the tails of the lists.
//
// The tokenizer streams: it never holds a whole line, only the current chunk
// and, for a token cut by a chunk boundary, a copy of that token. A file that
// is one huge line (LF-only line ends) therefore reads in linear time and in
// constant memory besides the model.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fast_float/fast_float.h>

#include "base/error.h"
#include "base/numtext.h"
#include "shape/shape.h"
#include "base/sjis.h"
#include "shape/suf.h"

namespace vesk {

namespace detail {
// Test seams: LoadSuf with a chosen read size, so that tests can put chunk
// boundaries everywhere in a small file, and with a chosen longest line.
TVESK_Object* LoadSufWithChunkSize(const std::string& fileName, std::size_t chunkSize);
TVESK_Object* LoadSufWithLimits(const std::string& fileName, std::size_t chunkSize,
                                std::size_t maxLine);
} // namespace detail

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
// The longest run of bytes without a line break (CR or LF) that is read: far
// beyond any line a writer makes (a vertex line is under 300 bytes, a name
// line as long as the name), small enough that endless input such as
// /dev/zero ends soon. LF counts as a break here, so that files with LF-only
// line ends, which are one line to the line count, still read at any size.
constexpr std::size_t kMaxLine = std::size_t{64} << 20;

// Messages (UTF-8; LoadSuf hands them on as CP932, which holds every one).

// The failures of a read, with the line they happened on.
[[noreturn]] void ThrowGrammar(std::int64_t lineNo) {
    throw talorin::Error(talorin::ErrorKind::Malformed,
                         talorin::Text(talorin::Msg::SufGrammar, {std::to_string(lineNo)}));
}
[[noreturn]] void ThrowUnknownFormat(std::int64_t lineNo) {
    throw talorin::Error(talorin::ErrorKind::Malformed,
                         talorin::Text(talorin::Msg::SufUnknownFormat, {std::to_string(lineNo)}));
}
[[noreturn]] void ThrowOutOfMemory(std::int64_t lineNo) {
    throw talorin::Error(talorin::ErrorKind::OutOfMemory,
                         talorin::Text(talorin::Msg::SufOutOfMemory, {std::to_string(lineNo)}));
}

constexpr char kCr = 13;
constexpr char kLf = 10;
constexpr char kEndOfFile = 26; // Ctrl-Z: nothing after it is read

constexpr bool IsWhite(unsigned char c) {
    return c <= 32;
}

// Bytes that end a token: white space, control bytes and ten punctuation bytes.
constexpr std::array<bool, 256> kDelimiters = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c <= 32; ++c)
        table[c] = true;
    for (unsigned char c : std::string_view(",(){}[]`\"'"))
        table[c] = true;
    return table;
}();

constexpr bool IsDelimiter(unsigned char c) {
    return kDelimiters[c];
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsWhite(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && IsWhite(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The tokens of one file. Views that it returns stay valid until the next call.
class Tokenizer {
  public:
    Tokenizer(const std::string& fileName, std::size_t chunkSize, std::size_t maxLine)
        : m_fileName(fileName), m_chunkSize(chunkSize), m_maxLine(maxLine),
          m_chunk(new char[chunkSize]) {
        std::error_code error;
        if (!std::filesystem::is_directory(fileName, error))
            m_file = std::fopen(fileName.c_str(), "rb");
        if (m_file == nullptr)
            throw talorin::Error(talorin::ErrorKind::Io,
                                 talorin::Text(talorin::Msg::SufCannotOpen, {ValidUtf8(fileName)}));
        // The chunks are large: stdio's own buffer would only add a copy.
        std::setvbuf(m_file, nullptr, _IONBF, 0);
    }
    ~Tokenizer() { Close(); }
    Tokenizer(const Tokenizer&) = delete;
    Tokenizer& operator=(const Tokenizer&) = delete;

    // The next token with comments removed and white space trimmed; empty
    // only at the end of the file, and from then on.
    std::string_view ReadToken() {
        for (;;) {
            std::string_view token;
            if (m_inComment) {
                for (;;) {
                    token = ReadRawToken();
                    if (token.empty()) {
                        m_inComment = false;
                        return {};
                    }
                    const std::size_t q = token.find("*/");
                    if (q != std::string_view::npos) {
                        token.remove_prefix(q + 2);
                        m_inComment = false;
                        break;
                    }
                }
            } else {
                token = ReadRawToken();
                if (token.empty())
                    return {};
                token = StripComment(token);
            }
            token = Trim(token);
            if (!token.empty())
                return token;
        }
    }

    // The next token as a number when it is a plain one that lies whole in
    // the chunk, as the writers make every number: true with value set, and
    // the token taken. Otherwise false, with only the white space before the
    // token taken (and its line breaks counted, as ReadToken would), so that
    // ReadToken and ParseSufNumber then read the token and give the very same
    // result or failure. The value is the correctly rounded one, as
    // ParseSufNumber's; zeros other than "0", subnormals, infinities and NaN
    // are left to ParseSufNumber, whose range rules decide them.
    bool TryReadNumber(double& value) {
        if (m_inComment || !m_inLine)
            return false;
        const char* const data = m_chunk.get();
        std::size_t i = m_pos;
        for (;;) {
            if (i == m_end) {
                m_pos = i;
                return false;
            }
            const char c = data[i];
            if (!IsWhite(static_cast<unsigned char>(c)))
                break;
            if (c == kCr) {
                // A line end with more of the chunk after it: the next line
                // begins as StartLine would begin it. Near the chunk's end
                // ReadToken does it, refilling as it needs.
                if (i + 2 >= m_end) {
                    m_pos = i;
                    return false;
                }
                m_pos = i;
                LineBreak();
                i += data[i + 1] == kLf ? 2 : 1;
                m_lineStart = m_base + i;
                ++m_lineNo;
                continue;
            }
            if (c == kLf) {
                m_pos = i;
                LineBreak();
            }
            ++i;
        }
        m_pos = i;
        const char c = data[i];
        if (!((c >= '0' && c <= '9') || c == '-' || c == '.'))
            return false;
        if (ReadShortDecimal(data + i, data + m_end, value))
            return true;
        double number = 0;
        const auto result = fast_float::from_chars(data + i, data + m_end, number);
        // The token must end at white space here: any other byte would belong
        // to it (or open a comment) and make it something else.
        if (result.ec != std::errc() || result.ptr == data + m_end ||
            !IsWhite(static_cast<unsigned char>(*result.ptr)))
            return false;
        if (!std::isnormal(number))
            return false;
        m_pos = static_cast<std::size_t>(result.ptr - data);
        value = number;
        return true;
    }

    // The writers' usual number, ending at white space before end: "0", or
    // [-]digits[.digits] of at most 19 digits that make an integer 1..2^53,
    // at most 22 of them after the point. One division of two exact doubles
    // gives the correctly rounded value, as every exact parser does, several
    // times cheaper than the general parser. Takes it and returns true, or
    // returns false and takes nothing.
    bool ReadShortDecimal(const char* p, const char* end, double& value) {
        static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const char* const start = p;
        const bool negative = *p == '-';
        p += negative;
        std::uint64_t digits = 0;
        int count = 0, fraction = 0;
        for (; p != end && static_cast<unsigned>(*p - '0') < 10 && count < 19; ++p, ++count)
            digits = digits * 10 + static_cast<unsigned>(*p - '0');
        if (p != end && *p == '.')
            for (++p; p != end && static_cast<unsigned>(*p - '0') < 10 && count < 19;
                 ++p, ++count, ++fraction)
                digits = digits * 10 + static_cast<unsigned>(*p - '0');
        // Of the zeros only "0" itself: ParseSufNumber's range rules decide
        // the rest (a "-0" keeps its sign there).
        if (count == 0 || p == end || !IsWhite(static_cast<unsigned char>(*p)) ||
            (digits == 0 && p != start + 1) || digits > (std::uint64_t{1} << 53) ||
            fraction > 22)
            return false;
        const double magnitude = static_cast<double>(digits) / kPow10[fraction];
        value = negative ? -magnitude : magnitude;
        m_pos += static_cast<std::size_t>(p - start);
        return true;
    }

    // Lines read so far, blank lines included: the line of the last token.
    std::int64_t LineNo() const { return m_lineNo; }

    // Whether the end of the file has been reached (the last token was empty).
    bool AtEnd() const { return m_file == nullptr; }

  private:
    // White space separates tokens; a punctuation delimiter stays at the end of
    // the token it ends, or is a token of its own at the start of one. Lines
    // end at CR (a CR LF pair is one line end); a lone LF is white space.
    std::string_view ReadRawToken() {
        if (m_file == nullptr)
            return {};
        // Skip white space, moving to the next line at each line end.
        for (;;) {
            if (!m_inLine && !StartLine()) {
                Close();
                return {};
            }
            if (m_pos == m_end && !Fill()) {
                m_inLine = false;
                continue;
            }
            const char c = m_chunk[m_pos];
            if (c == kCr) {
                LineBreak();
                ++m_pos;
                m_pendingLf = true;
                m_inLine = false;
            } else if (IsWhite(static_cast<unsigned char>(c))) {
                if (c == kLf)
                    LineBreak();
                ++m_pos;
            } else {
                break;
            }
        }
        m_token.clear();
        std::size_t start = m_pos;
        for (;;) {
            const char* data = m_chunk.get();
            std::size_t i = m_pos;
            while (i < m_end && !IsDelimiter(static_cast<unsigned char>(data[i])))
                ++i;
            if (i < m_end) {
                // A white-space delimiter (the line end included) is left for the
                // next call; punctuation belongs to this token.
                m_pos = IsWhite(static_cast<unsigned char>(data[i])) ? i : i + 1;
                const std::string_view piece(data + start, m_pos - start);
                if (m_token.empty())
                    return piece;
                m_token.append(piece);
                return m_token;
            }
            m_token.append(data + start, m_end - start);
            m_pos = m_end;
            if (!Fill()) {
                m_inLine = false;
                return m_token;
            }
            start = 0;
        }
    }

    // Comments run from "/*" to "*/"; only markers inside one raw token count.
    std::string_view StripComment(std::string_view token) {
        if (token.find('*') == std::string_view::npos)
            return token;
        const std::size_t p = token.find("/*");
        if (p == std::string_view::npos)
            return token;
        const std::size_t q = token.find("*/");
        if (q == std::string_view::npos) {
            m_inComment = true;
            return token.substr(0, p);
        }
        // Removes q - p + 2 bytes from p: the comment with its markers when the
        // end marker follows; nothing when the count is 0 or less.
        if (q + 2 <= p)
            return token;
        m_stripped.assign(token.substr(0, p));
        m_stripped.append(token.substr(q + 2));
        return m_stripped;
    }

    // Begins the next line; false at the end of the file.
    bool StartLine() {
        if (m_pendingLf) {
            if (m_pos == m_end)
                Fill();
            if (m_pos < m_end && m_chunk[m_pos] == kLf)
                m_lineStart = m_base + ++m_pos;
            m_pendingLf = false;
        }
        if (m_pos == m_end && !Fill())
            return false;
        ++m_lineNo;
        m_inLine = true;
        return true;
    }

    // Marks a line break at m_pos; a line past the limit is a grammar failure.
    void LineBreak() {
        if (m_base + m_pos - m_lineStart > m_maxLine)
            ThrowGrammar(m_lineNo);
        m_lineStart = m_base + m_pos + 1;
    }

    // Reads the next chunk; false when nothing is left. Throws on a read error,
    // and the grammar failure when the line read so far is already past the limit.
    bool Fill() {
        if (m_base + m_end - m_lineStart > m_maxLine)
            ThrowGrammar(m_lineNo);
        if (m_ended)
            return false;
        m_base += m_end;
        m_pos = 0;
        m_end = std::fread(m_chunk.get(), 1, m_chunkSize, m_file);
        if (m_end < m_chunkSize) {
            if (std::ferror(m_file))
                throw talorin::Error(talorin::ErrorKind::Io,
                                                 talorin::Text(talorin::Msg::SufCannotRead,
                                                               {ValidUtf8(m_fileName)}));
            m_ended = true;
        }
        if (const void* stop = std::memchr(m_chunk.get(), kEndOfFile, m_end)) {
            m_end = static_cast<std::size_t>(static_cast<const char*>(stop) - m_chunk.get());
            m_ended = true;
        }
        return m_end > 0;
    }

    void Close() {
        if (m_file != nullptr) {
            std::fclose(m_file);
            m_file = nullptr;
        }
    }

    const std::string& m_fileName;
    const std::size_t m_chunkSize;
    const std::size_t m_maxLine;
    std::unique_ptr<char[]> m_chunk;
    std::FILE* m_file = nullptr;
    std::size_t m_pos = 0;         // next unread byte of the chunk
    std::size_t m_end = 0;         // bytes in the chunk
    std::uint64_t m_base = 0;      // bytes of the file before the chunk
    std::uint64_t m_lineStart = 0; // offset of the byte after the last CR or LF
    bool m_ended = false;          // no more chunks (end of file, Ctrl-Z or a short read)
    bool m_inLine = false;         // a line has begun and its end is not read yet
    bool m_pendingLf = false;      // a CR ended the chunk: an LF next belongs to it
    bool m_inComment = false;      // a comment opened in an earlier token
    std::int64_t m_lineNo = 0;     // 64 bits: a count cannot wrap around
    std::string m_token;           // a token cut by a chunk boundary
    std::string m_stripped;        // a token with a comment taken out of its middle
};

// The attribute groups of one read by name: open addressing over a flat
// array, so that a lookup touches one or two cache lines.
class GroupIndex {
  public:
    TVESK_Attribute* Find(std::string_view name) const {
        if (m_slots.empty())
            return nullptr;
        const std::size_t hash = std::hash<std::string_view>{}(name);
        for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.group == nullptr)
                return nullptr;
            if (slot.hash == hash && slot.group->Name == name)
                return slot.group;
        }
    }

    // Adds a group whose name is not in the index yet.
    void Add(TVESK_Attribute* group) {
        if (2 * (m_count + 1) > m_slots.size())
            Grow();
        Place({std::hash<std::string_view>{}(group->Name), group});
        ++m_count;
    }

  private:
    struct Slot {
        std::size_t hash = 0;
        TVESK_Attribute* group = nullptr;
    };

    void Place(const Slot& slot) {
        std::size_t i = slot.hash & m_mask;
        while (m_slots[i].group != nullptr)
            i = (i + 1) & m_mask;
        m_slots[i] = slot;
    }

    void Grow() {
        std::vector<Slot> old(m_slots.empty() ? 64 : 2 * m_slots.size());
        old.swap(m_slots);
        m_mask = m_slots.size() - 1;
        for (const Slot& slot : old)
            if (slot.group != nullptr)
                Place(slot);
    }

    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_count = 0;
};

class Reader {
  public:
    Reader(const std::string& fileName, std::size_t chunkSize, std::size_t maxLine)
        : m_tokens(fileName, chunkSize, maxLine) {}
    ~Reader() { FreeSuf(m_first); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The chain read; throws talorin::Error for every failure, having
    // released what was read.
    SufChain Read() {
        try {
            do {
                const std::string_view token = m_tokens.ReadToken();
                if (token == "obj")
                    ReadObject();
                else if (token == "atr")
                    ReadAttribute();
                else if (token == "prim")
                    ReadPrimitive();
            } while (!m_tokens.AtEnd());
        } catch (const std::bad_alloc&) {
            FreeSuf(m_first);
            ThrowOutOfMemory(m_tokens.LineNo());
        }
        return SufChain(std::exchange(m_first, nullptr));
    }

  private:
    void ReadObject() {
        TVESK_Object* object = detail::TryNewObject(m_empty);
        if (object == nullptr)
            ThrowOutOfMemory(m_tokens.LineNo());
        object->Prev = m_current;
        if (m_current != nullptr) {
            m_current->Next = object;
            // Groups made for this object go in front of the earlier ones.
            object->Attributes = m_current->Attributes;
        } else {
            m_first = object;
        }
        m_current = object;
        m_lastPolygon = nullptr;
        m_hasVertex = false;
        if (m_tokens.ReadToken() != "suf")
            ThrowUnknownFormat(m_tokens.LineNo());
        object->Name = m_tokens.ReadToken();
        m_tokens.ReadToken(); // the "{"
    }

    void ReadAttribute() {
        if (m_current == nullptr)
            ThrowGrammar(m_tokens.LineNo());
        const std::string_view name = m_tokens.ReadToken();
        // Every object's list holds all groups read so far (new ones in front
        // of the list it took over), so one index for the whole read finds the
        // list's first match without walking it.
        if (TVESK_Attribute* found = m_groups.Find(name)) {
            m_group = found;
            return;
        }
        m_name.assign(name);
        // A new group goes in front of the current object's list.
        TVESK_Attribute* group = detail::TryNewAttribute(m_name);
        if (group == nullptr)
            ThrowOutOfMemory(m_tokens.LineNo());
        group->Next = m_current->Attributes;
        m_current->Attributes = group;
        m_group = group;
        m_groups.Add(group);
    }

    // The group carries over from the previous object until this object names
    // one, so it may be a group of an earlier object (still in this object's
    // list, through the shared tail), or null before the file's first "atr".
    void ReadPrimitive() {
        if (m_current == nullptr)
            ThrowGrammar(m_tokens.LineNo());
        TVESK_Polygon* polygon = m_records.TryNewPolygon(m_group, kPoly);
        if (polygon == nullptr)
            ThrowOutOfMemory(m_tokens.LineNo());
        AppendPolygon(m_current, m_lastPolygon, polygon);
        const std::uint8_t kind = KindOf(m_tokens.ReadToken());
        polygon->Kind = kind;
        m_tokens.ReadToken(); // the "("
        const bool hasNormal = kind == kShade || kind == kUvShade;
        const bool hasUv = kind == kUvPoly || kind == kUvShade;
        TVESK_Vertex* last = nullptr;
        for (;;) {
            double x = 0;
            const bool plainX = m_tokens.TryReadNumber(x);
            std::string_view token;
            if (!plainX) {
                token = m_tokens.ReadToken();
                if (token == ")")
                    break;
            }
            TVESK_Vertex* vertex = m_records.TryNewVertex();
            if (vertex == nullptr)
                ThrowOutOfMemory(m_tokens.LineNo());
            AppendVertex(polygon, last, vertex);
            vertex->X = plainX ? x : ToNumber(token);
            vertex->Y = ReadNumber();
            vertex->Z = ReadNumber();
            if (hasNormal) {
                vertex->NX = ReadNumber();
                vertex->NY = ReadNumber();
                vertex->NZ = ReadNumber();
            }
            if (hasUv) {
                vertex->U = ReadNumber();
                vertex->V = ReadNumber();
            }
            ExtendBox(*vertex);
        }
    }

    // The next token as a number; throws the reader's message if it is none.
    double ReadNumber() {
        double value;
        if (m_tokens.TryReadNumber(value))
            return value;
        return ToNumber(m_tokens.ReadToken());
    }

    void ExtendBox(const TVESK_Vertex& vertex) {
        TVESK_Object& o = *m_current;
        if (!m_hasVertex) {
            o.MinX = o.MaxX = vertex.X;
            o.MinY = o.MaxY = vertex.Y;
            o.MinZ = o.MaxZ = vertex.Z;
            m_hasVertex = true;
            return;
        }
        if (o.MinX > vertex.X)
            o.MinX = vertex.X;
        if (o.MinY > vertex.Y)
            o.MinY = vertex.Y;
        if (o.MinZ > vertex.Z)
            o.MinZ = vertex.Z;
        if (o.MaxX < vertex.X)
            o.MaxX = vertex.X;
        if (o.MaxY < vertex.Y)
            o.MaxY = vertex.Y;
        if (o.MaxZ < vertex.Z)
            o.MaxZ = vertex.Z;
    }

    static std::uint8_t KindOf(std::string_view word) {
        if (word == "shade")
            return kShade;
        if (word == "uvpoly")
            return kUvPoly;
        if (word == "uvshade")
            return kUvShade;
        return kPoly; // "poly" and any word the reader does not know
    }

    static double ToNumber(std::string_view token) {
        double value = 0;
        if (!ParseSufNumber(token, value))
            throw talorin::Error(talorin::Text(talorin::Msg::NotANumber, {Utf8FromCp932(token)}));
        return value;
    }

    Tokenizer m_tokens;
    detail::RecordBatch m_records; // outlives m_first, which is freed first
    TVESK_Object* m_first = nullptr;   // owned until Read hands it over
    TVESK_Object* m_current = nullptr; // last object of the chain
    TVESK_Attribute* m_group = nullptr;
    TVESK_Polygon* m_lastPolygon = nullptr;
    bool m_hasVertex = false; // whether the current object's box has been set
    const std::string m_empty;
    std::string m_name;
    GroupIndex m_groups;
};

// Reads fileName with these limits; throws for every failure.
SufChain ReadChain(const std::string& fileName, std::size_t chunkSize, std::size_t maxLine) {
    std::optional<Reader> reader;
    try {
        reader.emplace(fileName, std::max<std::size_t>(chunkSize, 1), maxLine);
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory(0); // no line read yet
    }
    return reader->Read();
}

// The one failure path of LoadSuf: what the reader throws is either its
// line-numbered message, which goes into SufError, or an error the caller gets.
TVESK_Object* LoadIntoSufError(const std::string& fileName, std::size_t chunkSize,
                               std::size_t maxLine) {
    SufError.clear();
    try {
        return ReadChain(fileName, chunkSize, maxLine).release();
    } catch (const talorin::Error& e) {
        if (e.kind() != talorin::ErrorKind::Malformed &&
            e.kind() != talorin::ErrorKind::OutOfMemory)
            throw;
        detail::SetSufError(e.what());
        return nullptr;
    }
}

} // namespace

namespace detail {

TVESK_Object* LoadSufWithChunkSize(const std::string& fileName, std::size_t chunkSize) {
    return LoadIntoSufError(fileName, chunkSize, kMaxLine);
}

TVESK_Object* LoadSufWithLimits(const std::string& fileName, std::size_t chunkSize,
                                std::size_t maxLine) {
    return LoadIntoSufError(fileName, chunkSize, maxLine);
}

} // namespace detail

TVESK_Object* LoadSuf(const std::string& fileName) {
    return LoadIntoSufError(fileName, kChunkSize, kMaxLine);
}

SufChain ReadSufFile(const std::string& fileName) {
    return ReadChain(fileName, kChunkSize, kMaxLine);
}

} // namespace vesk
