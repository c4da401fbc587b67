#include "export/output.h"

#include <algorithm>
#include <cmath>

#include "base/error.h"
#include "base/memorybudget.h"
#include "shape/meshgeometry.h"
#include "terrain/adaptive.h"
#include "terrain/solid.h"

namespace talorin {

namespace {

// Bytes a mesh of these counts holds.
double MeshBytes(const MeshCounts& c) {
    return c.vertices * sizeof(MeshVertex) + c.indices * 4 + (c.polygons + 1) * 4;
}

MeshCounts CountsOf(const TerrainMesh& mesh) {
    return {double(mesh.Vertices.size()), double(mesh.Indices.size()),
            double(mesh.polygonCount())};
}

// The counts of the solid made from a mesh of counts c with at most border
// border edges: at worst the bottom is a copy of the top, plus a wall (and a
// fan triangle) for every border edge.
MeshCounts SolidCounts(const MeshCounts& c, double border) {
    return {2 * c.vertices + 1, 2 * c.indices + 7 * border, 2 * c.polygons + 2 * border};
}

// What closing a mesh of counts c into a solid holds besides the mesh: its
// sorted edges, the bottom's vertex map and the solid itself.
double SolidBytes(const MeshCounts& c, double border) {
    return c.indices * 8 + c.vertices * 4 + MeshBytes(SolidCounts(c, border));
}

// The border edges of a terrain of args at most: the lattice's outline at
// full depth.
double BorderEdges(const Talorin_Args& args) {
    return 4 * (std::ldexp(double(args.PaMax), args.Depth) + 1);
}

// What the writer of format holds while it writes a mesh of counts c besides
// the mesh: the formatted vertex lines of .suf, the normals of OBJ, PLY and
// glb, OBJ's text blocks in flight, glb's PNG, the output buffers.
double WriterBytes(ExportFormat format, const MeshCounts& c, bool uv, double imageBytes) {
    constexpr double kBuffers = 4.0 * (1 << 20);
    const double normals = c.vertices * 3 * sizeof(double);
    switch (format) {
    case ExportFormat::Suf:
        // Up to 8 numbers of about 20 characters a line, and each line's end.
        return c.vertices * (20.0 * 8 + 10 + 4) + kBuffers;
    case ExportFormat::Obj:
        // Five blocks of 65536 polygon lines in flight.
        return normals + 5 * 65536.0 * (2 + 36 * 8) + kBuffers;
    case ExportFormat::Stl:
        return kBuffers;
    case ExportFormat::Ply:
        return normals + kBuffers;
    case ExportFormat::Glb:
        // The PNG and the encoder's filtered rows, at most about the pixels each.
        return normals + (uv ? 2 * imageBytes : 0) + kBuffers;
    }
    return kBuffers;
}

// What a view of a mesh of counts c holds, up to share: a 36-byte record a
// vertex, three indices a triangle and two an edge, and the drawing buffers'
// copy of them.
double ViewBytes(const MeshCounts& c, std::uint64_t share) {
    const double triangles = c.indices - 2 * c.polygons;
    const double bytes = 2 * (c.vertices * 36 + triangles * 12 + c.indices * 4);
    return std::min(bytes, double(share));
}

[[noreturn]] void RefuseForMemory() {
    throw Error(ErrorKind::OutOfMemory, kOutOfMemoryText);
}

std::uint64_t ToBytes(double bytes) {
    return bytes < 0x1p63 ? std::uint64_t(bytes) : std::uint64_t{1} << 63;
}

double ImageBytes(const Talorin_Args& args) {
    return args.Bitmap ? double(args.Bitmap->width()) * args.Bitmap->height() * 3 : 0;
}

// What the run holds beside a mesh of counts c, from here to the end.
double RestBytes(const OutputRequest& request, const MeshCounts& c) {
    double bytes = ViewBytes(c, request.viewShare);
    MeshCounts saved = c;
    if (request.solidBase) {
        const double border = BorderEdges(request.args);
        bytes += SolidBytes(c, border);
        saved = SolidCounts(c, border);
    }
    if (request.format)
        bytes += WriterBytes(*request.format, saved, request.args.WithUV, ImageBytes(request.args));
    return bytes;
}

} // namespace

TerrainMesh GenerateOutput(const OutputRequest& request, const ProgressFn& progress) {
    // A uniform run's mesh is known before it starts: refuse at once what the
    // whole run cannot hold, rather than after generating.
    if (!request.maxError) {
        const MeshCounts counts = UniformMeshCounts(request.args);
        if (!vesk::MemoryClaim(ToBytes(MeshBytes(counts) + RestBytes(request, counts))).fits())
            RefuseForMemory();
    }
    TerrainMesh mesh = request.maxError
                           ? GenerateAdaptiveMesh(request.args, *request.maxError, progress)
                           : GenerateTerrainMesh(request.args, progress);
    const MeshCounts counts = CountsOf(mesh);
    if (!vesk::FitsBeside(ToBytes(MeshBytes(counts)), ToBytes(RestBytes(request, counts))))
        RefuseForMemory();
    if (request.solidBase)
        mesh = MakeSolid(mesh, *request.solidBase);
    return mesh;
}

void CheckSaveMemory(ExportFormat format, const TerrainMesh& mesh, const ExportTexture& texture,
                     std::uint64_t viewShare) {
    const MeshCounts counts = CountsOf(mesh);
    const double image =
        texture.image ? double(texture.image->width()) * texture.image->height() * 3 : 0;
    const double writer = WriterBytes(format, counts, HasUv(mesh), image);
    if (!vesk::FitsBeside(ToBytes(MeshBytes(counts) + ViewBytes(counts, viewShare)),
                          ToBytes(writer)))
        RefuseForMemory();
}

} // namespace talorin
