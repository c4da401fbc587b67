// The .suf writer.
//
// Text is formatted into one large buffer that is handed out in big chunks to
// a sink: a string, a descriptor, or an atomic save (base/atomicsave.h).

#include <cstring>
#include <memory>
#include <string_view>

#include "base/atomicsave.h"
#include "base/error.h"
#include "base/numbercache.h"
#include "base/numtext.h"
#include "base/sjis.h"
#include "shape/suf.h"
#include "shape/suflines.h"
#include "shape/sufnames.h"

namespace vesk {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

// Formats a chain into a fixed buffer and passes it on to Sink (a callable
// taking const char*, size_t) whenever it fills, and once at the end.
template <typename Sink> class ChainWriter {
  public:
    explicit ChainWriter(Sink& sink) : m_buffer(new char[kBufferSize]), m_sink(sink) {}

    void Write(const TVESK_Object* chain) {
        for (const TVESK_Object* object = chain; object != nullptr; object = object->Next) {
            Text("obj suf ");
            Text(object->Name);
            Text(" {\r\n");
            const TVESK_Attribute* lastGroup = nullptr; // none at the start of an object
            for (const TVESK_Polygon* polygon = object->Polygons; polygon != nullptr;
                 polygon = polygon->Next) {
                if (polygon->Attribute != nullptr && polygon->Attribute != lastGroup) {
                    Text("atr ");
                    Text(polygon->Attribute->Name);
                    Text("\r\n");
                    lastGroup = polygon->Attribute;
                }
                // Kinds beyond the four do not occur; written as the reader
                // would take them, as poly.
                const std::uint8_t kind =
                    polygon->Kind <= kUvShade ? polygon->Kind : std::uint8_t{kPoly};
                Text(kPrimLines[kind]);
                for (const TVESK_Vertex* v = polygon->Vertices; v != nullptr; v = v->Next)
                    VertexLine(*v, kind);
                Text(")\r\n");
            }
            Text("}\r\n");
        }
        Flush();
    }

  private:
    void VertexLine(const TVESK_Vertex& v, std::uint8_t kind) {
        if (kBufferSize - m_used < kVertexLineRoom)
            Flush();
        m_used += FormatVertexLine<false>(v, kind, m_numbers, m_buffer.get() + m_used);
    }

    void Text(std::string_view text) {
        if (kBufferSize - m_used < text.size()) {
            Flush();
            if (text.size() > kBufferSize / 2) { // a huge name: pass it on as it is
                m_sink(text.data(), text.size());
                return;
            }
        }
        std::memcpy(m_buffer.get() + m_used, text.data(), text.size());
        m_used += text.size();
    }

    void Flush() {
        if (m_used > 0)
            m_sink(m_buffer.get(), m_used);
        m_used = 0;
    }

    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    Sink& m_sink;
    NumberCache m_numbers;
};

// Throws the name problem, if any, as talorin::Error (BadInput).
void CheckNames(const TVESK_Object* chain) {
    if (const std::string problem = ChainNameProblem(chain); !problem.empty())
        throw talorin::Error(Utf8FromCp932(problem));
}

ByteProducer ChainProducer(const TVESK_Object* chain) {
    return [chain](const ByteSink& sink) {
        ChainWriter<const ByteSink> writer(sink);
        writer.Write(chain);
    };
}

// Runs write, which throws talorin::Error, under the SufError convention:
// clears SufError, refuses a name that would not read back with its CP932
// message, and turns a failure into false with the message.
template <typename Write> bool ReportInSufError(const TVESK_Object* chain, const Write& write) {
    SufError.clear();
    try {
        if (std::string problem = ChainNameProblem(chain); !problem.empty()) {
            SufError = std::move(problem);
            return false;
        }
        write();
        return true;
    } catch (const talorin::Error& e) {
        detail::SetSufError(e.what());
    } catch (const std::bad_alloc&) {
        detail::SetSufError(talorin::Text(talorin::Msg::NotEnoughMemory));
    }
    return false;
}

} // namespace

std::string SufText(const TVESK_Object* chain) {
    CheckNames(chain);
    std::string text;
    auto sink = [&text](const char* data, std::size_t size) { text.append(data, size); };
    ChainWriter<decltype(sink)> writer(sink);
    writer.Write(chain);
    return text;
}

void SaveSufFile(const std::string& fileName, const TVESK_Object* chain) {
    CheckNames(chain);
    SaveAtomically(fileName, ChainProducer(chain));
}

void WriteSufFile(int fd, const std::string& name, const TVESK_Object* chain) {
    CheckNames(chain);
    WriteThrough(fd, name, ChainProducer(chain));
}

bool WriteSuf(int fd, const std::string& name, const TVESK_Object* chain) {
    return ReportInSufError(chain, [&] { WriteThrough(fd, name, ChainProducer(chain)); });
}

bool SaveSuf(const std::string& fileName, const TVESK_Object* chain) {
    return ReportInSufError(chain, [&] { SaveAtomically(fileName, ChainProducer(chain)); });
}

} // namespace vesk
