#include "export/objwriter.h"

#include <charconv>

#include "export/meshgeometry.h"

namespace talorin {

namespace {

// Appends "tag x y z\n" with each value as its shortest round-trip text.
template <std::size_t N>
void PutLine(std::string& text, const char* tag, const double (&values)[N]) {
    char line[16 + N * 32];
    char* end = line;
    while (*tag)
        *end++ = *tag++;
    for (double v : values) {
        *end++ = ' ';
        end = std::to_chars(end, line + sizeof line, v).ptr;
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
    WriteFormattedInParallel(out, vertexCount,
                             [&](std::size_t first, std::size_t last, std::string& text) {
                                 for (std::size_t i = first; i < last; ++i) {
                                     const Vec3 p = ToYUp(PositionOf(mesh.Vertices[i]));
                                     PutLine(text, "v", {p[0], p[1], p[2]});
                                 }
                             });
    if (uv)
        WriteFormattedInParallel(out, vertexCount,
                                 [&](std::size_t first, std::size_t last, std::string& text) {
                                     for (std::size_t i = first; i < last; ++i) {
                                         const MeshVertex& v = mesh.Vertices[i];
                                         PutLine(text, "vt", {v.U / 255, 1 - v.V / 255});
                                     }
                                 });
    WriteFormattedInParallel(out, vertexCount,
                             [&](std::size_t first, std::size_t last, std::string& text) {
                                 for (std::size_t i = first; i < last; ++i) {
                                     const Vec3 n = ToYUp(normals[i]);
                                     PutLine(text, "vn", {n[0], n[1], n[2]});
                                 }
                             });
    out.write("usemtl " + MaterialName(mesh) + "\n");
    WriteFormattedInParallel(out, mesh.polygonCount(),
                             [&](std::size_t first, std::size_t last, std::string& text) {
                                 for (std::size_t p = first; p < last; ++p) {
                                     const std::uint32_t* c = mesh.corners(p);
                                     const std::size_t n = mesh.cornerCount(p);
                                     // Each corner takes at most " i/i/i" with 20 digits per index.
                                     const std::size_t start = text.size();
                                     text.resize(start + 2 + n * 64);
                                     char* at = text.data() + start;
                                     char* const end = text.data() + text.size();
                                     *at++ = 'f';
                                     for (std::size_t i = 0; i < n; ++i) {
                                         const std::uint64_t index = std::uint64_t(c[i]) + 1;
                                         *at++ = ' ';
                                         at = PutIndex(at, end, index);
                                         *at++ = '/';
                                         if (uv)
                                             at = PutIndex(at, end, index);
                                         *at++ = '/';
                                         at = PutIndex(at, end, index);
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
