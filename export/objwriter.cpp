#include "export/objwriter.h"

#include <charconv>
#include <algorithm>
#include <cstring>
#include <future>
#include <vector>

#include "export/exportbytes.h"
#include "base/numbercache.h"
#include "base/slices.h"

namespace talorin {

namespace {

// Points of a lattice share their row and column coordinates (and so their
// texture coordinates) with many others, and finding the shortest text is the
// slowest part of writing an OBJ.
using NumberTexts = vesk::BasicNumberCache<ShortestText>;

// Appends "tag x y z\n" with each value as its shortest round-trip text; the
// values with a cache go through it.
template <std::size_t N>
void PutLine(std::string& text, const char* tag, const double (&values)[N],
             NumberTexts* const (&caches)[N]) {
    // Room for each value's text and, after the last, the cache's fixed-size copy.
    char line[16 + N * 32 + vesk::kMaxNumberText];
    char* end = line;
    while (*tag)
        *end++ = *tag++;
    for (std::size_t i = 0; i < N; ++i) {
        *end++ = ' ';
        end += caches[i] ? caches[i]->format(values[i], end) : ShortestText(values[i], end);
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
    // The normals are found while the positions and texture coordinates are
    // formatted and written: they are only needed from the "vn" lines on.
    const std::shared_future<std::vector<Vec3>> normals =
        vesk::StartAsync([&mesh] { return VertexNormals(mesh); }).share();
    BufferedSink out(sink);
    out.write("# Talorin " TALORIN_VERSION ", Y up\n");
    if (!mtlFileName.empty())
        out.write("mtllib " + mtlFileName + "\n");
    out.write("o " + NameForExport(mesh.ObjName) + "\n");
    const std::string material = "usemtl " + MaterialName(mesh) + "\n";

    // One run of items, so that formatting never waits for a section to be
    // written out before the next begins: the "v" lines, the "vt" lines (with
    // UV), the "vn" lines, then the polygons.
    const std::size_t vertexCount = mesh.Vertices.size();
    const std::size_t uvStart = vertexCount;
    const std::size_t normalStart = uvStart + (uv ? vertexCount : 0);
    const std::size_t faceStart = normalStart + vertexCount;
    const std::size_t count = faceStart + mesh.polygonCount();
    try {
        WriteFormattedInParallel(out, count, [&](std::size_t first, std::size_t last,
                                                 std::string& text) {
            // Room for the whole block: growing it would copy it again and again.
            const std::size_t faces = last - std::min(last, std::max(first, faceStart));
            const std::size_t lineBytes =
                faces > 0 ? 2 + 36 * std::size_t(mesh.cornerCount(last - 1 - faceStart)) : 0;
            text.reserve((last - first - faces) * 72 + faces * lineBytes);
            // The image's columns and rows and the heights, one cache each per block.
            NumberTexts across, along, heights;
            for (std::size_t i = first; i < std::min(last, uvStart); ++i) {
                const Vec3 p = ToYUp(PositionOf(mesh.Vertices[i]));
                PutLine(text, "v", {p.x, p.y, p.z}, {&across, &heights, &along});
            }
            for (std::size_t i = std::max(first, uvStart); i < std::min(last, normalStart); ++i) {
                const MeshVertex& v = mesh.Vertices[i - uvStart];
                PutLine(text, "vt", {v.U / 255, 1 - v.V / 255}, {&across, &along});
            }
            if (last > normalStart && first < faceStart) {
                // A copy of its own: each thread waits through its own future.
                const std::shared_future<std::vector<Vec3>> mine = normals;
                const std::vector<Vec3>& vertexNormals = mine.get();
                for (std::size_t i = std::max(first, normalStart); i < std::min(last, faceStart);
                     ++i) {
                    const Vec3 n = ToYUp(vertexNormals[i - normalStart]);
                    PutLine(text, "vn", {n.x, n.y, n.z}, {nullptr, nullptr, nullptr});
                }
            }
            if (first <= faceStart && faceStart < last)
                text += material;
            for (std::size_t p = std::max(first, faceStart) - faceStart; p + faceStart < last;
                 ++p) {
                const std::uint32_t* c = mesh.corners(p);
                const std::size_t n = mesh.cornerCount(p);
                // Each corner takes at most " i/i/i" with 10 digits per index;
                // a line is built on the stack unless the polygon is large.
                char small[2 + 36 * 8];
                std::string large;
                char* const line = n <= 8 ? small : (large.resize(2 + 36 * n), large.data());
                char* at = line;
                *at++ = 'f';
                for (std::size_t i = 0; i < n; ++i) {
                    // The same index three times: format it once.
                    char digits[24];
                    const char* const end =
                        PutIndex(digits, digits + sizeof digits, std::uint64_t(c[i]) + 1);
                    const std::size_t length = std::size_t(end - digits);
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
                text.append(line, std::size_t(at - line));
            }
        });
    } catch (...) {
        // The normals still read the mesh: let them finish first.
        normals.wait();
        throw;
    }
    // A mesh without vertices still has its material line before the (no) polygons.
    if (count == faceStart)
        out.write(material);
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
