#include "export/objwriter.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <vector>

#include "export/meshgeometry.h"

namespace talorin {

namespace {

// The shortest round-trip texts of recently formatted values. Points of a
// lattice share their row and column coordinates (and so their texture
// coordinates) with many others, and finding the shortest text is the
// slowest part of writing an OBJ.
class NumberTexts {
  public:
    char* put(char* at, double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        Entry& e = m_entries[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
        if (e.length == 0 || e.bits != bits) {
            e.bits = bits;
            e.length = std::uint8_t(std::to_chars(e.text, e.text + sizeof e.text, v).ptr - e.text);
        }
        std::memcpy(at, e.text, e.length);
        return at + e.length;
    }

  private:
    static constexpr int kBits = 12;
    struct Entry {
        std::uint64_t bits = 0;
        std::uint8_t length = 0; // 0: empty
        char text[31];
    };
    std::vector<Entry> m_entries = std::vector<Entry>(std::size_t(1) << kBits);
};

// Appends "tag x y z\n" with each value as its shortest round-trip text; the
// values with a cache go through it.
template <std::size_t N>
void PutLine(std::string& text, const char* tag, const double (&values)[N],
             NumberTexts* const (&caches)[N]) {
    char line[16 + N * 32];
    char* end = line;
    while (*tag)
        *end++ = *tag++;
    for (std::size_t i = 0; i < N; ++i) {
        *end++ = ' ';
        end = caches[i] ? caches[i]->put(end, values[i])
                        : std::to_chars(end, line + sizeof line, values[i]).ptr;
    }
    *end++ = '\n';
    text.append(line, std::size_t(end - line));
}

char* PutIndex(char* at, char* end, std::uint64_t index) {
    return std::to_chars(at, end, index).ptr;
}

std::string MaterialName(const TerrainMesh& mesh) {
    const std::string name = NameForExport(mesh.AtrName);
    return name.empty() ? "material" : name;
}

} // namespace

void WriteObj(const TerrainMesh& mesh, const std::string& mtlFileName, const vesk::ByteSink& sink) {
    const bool uv = HasUv(mesh);
    const std::vector<Vec3> normals = VertexNormals(mesh);
    BufferedSink out(sink);
    out.write("# Talorin " TALORIN_VERSION ", Y up\n");
    if (!mtlFileName.empty())
        out.write("mtllib " + mtlFileName + "\n");
    out.write("o " + NameForExport(mesh.ObjName) + "\n");
    const std::size_t vertexCount = mesh.Vertices.size();
    WriteFormattedInParallel(
        out, vertexCount, [&](std::size_t first, std::size_t last, std::string& text) {
            // The image's columns and rows, one cache each per block.
            NumberTexts across, along;
            for (std::size_t i = first; i < last; ++i) {
                const Vec3 p = ToYUp(PositionOf(mesh.Vertices[i]));
                PutLine(text, "v", {p[0], p[1], p[2]}, {&across, nullptr, &along});
            }
        });
    if (uv)
        WriteFormattedInParallel(
            out, vertexCount, [&](std::size_t first, std::size_t last, std::string& text) {
                NumberTexts across, along;
                for (std::size_t i = first; i < last; ++i) {
                    const MeshVertex& v = mesh.Vertices[i];
                    PutLine(text, "vt", {v.U / 255, 1 - v.V / 255}, {&across, &along});
                }
            });
    WriteFormattedInParallel(
        out, vertexCount, [&](std::size_t first, std::size_t last, std::string& text) {
            for (std::size_t i = first; i < last; ++i) {
                const Vec3 n = ToYUp(normals[i]);
                PutLine(text, "vn", {n[0], n[1], n[2]}, {nullptr, nullptr, nullptr});
            }
        });
    out.write("usemtl " + MaterialName(mesh) + "\n");
    WriteFormattedInParallel(
        out, mesh.polygonCount(), [&](std::size_t first, std::size_t last, std::string& text) {
            for (std::size_t p = first; p < last; ++p) {
                const std::uint32_t* c = mesh.corners(p);
                const std::size_t n = mesh.cornerCount(p);
                // Each corner takes at most " i/i/i" with 20 digits per index.
                const std::size_t start = text.size();
                text.resize(start + 2 + n * 64);
                char* at = text.data() + start;
                *at++ = 'f';
                for (std::size_t i = 0; i < n; ++i) {
                    // The same index three times: format it once.
                    char digits[24];
                    const char* const last =
                        PutIndex(digits, digits + sizeof digits, std::uint64_t(c[i]) + 1);
                    const std::size_t length = std::size_t(last - digits);
                    *at++ = ' ';
                    std::memcpy(at, digits, length);
                    at += length;
                    *at++ = '/';
                    if (uv) {
                        std::memcpy(at, digits, length);
                        at += length;
                    }
                    *at++ = '/';
                    std::memcpy(at, digits, length);
                    at += length;
                }
                *at++ = '\n';
                text.resize(std::size_t(at - text.data()));
            }
        });
    out.flush();
}

void WriteMtl(const TerrainMesh& mesh, const std::string& texturePath, const vesk::ByteSink& sink) {
    std::string text = "# Talorin " TALORIN_VERSION "\nnewmtl " + MaterialName(mesh) +
                       "\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nd 1\nillum 1\n";
    if (!texturePath.empty())
        text += "map_Kd " + texturePath + "\n";
    sink(text.data(), text.size());
}

} // namespace talorin
