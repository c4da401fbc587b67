#include "export/meshgeometry.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <system_error>
#include <thread>

#include "shape/shape.h"
#include "shape/sjis.h"

namespace talorin {

bool HasUv(const TerrainMesh& mesh) {
    return mesh.Kind == vesk::kUvPoly || mesh.Kind == vesk::kUvShade;
}

Vec3 PolygonAreaVector(const TerrainMesh& mesh, std::size_t p) {
    Vec3 sum{0, 0, 0};
    const Vec3 origin = PositionOf(mesh.Vertices[mesh.corners(p)[0]]);
    ForEachTriangle(mesh, p, [&](std::uint32_t, std::uint32_t b, std::uint32_t c) {
        const Vec3 pb = PositionOf(mesh.Vertices[b]);
        const Vec3 pc = PositionOf(mesh.Vertices[c]);
        const Vec3 u{pb[0] - origin[0], pb[1] - origin[1], pb[2] - origin[2]};
        const Vec3 v{pc[0] - origin[0], pc[1] - origin[1], pc[2] - origin[2]};
        sum[0] += u[1] * v[2] - u[2] * v[1];
        sum[1] += u[2] * v[0] - u[0] * v[2];
        sum[2] += u[0] * v[1] - u[1] * v[0];
    });
    return sum;
}

Vec3 Normalized(const Vec3& v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 0) || !std::isfinite(length))
        return {0, 0, 0};
    return {v[0] / length, v[1] / length, v[2] / length};
}

std::vector<Vec3> VertexNormals(const TerrainMesh& mesh) {
    std::vector<Vec3> normals(mesh.Vertices.size(), Vec3{0, 0, 0});
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        if (mesh.cornerCount(p) < 3)
            continue;
        const Vec3 area = PolygonAreaVector(mesh, p);
        const std::uint32_t* c = mesh.corners(p);
        for (std::size_t i = 0; i < mesh.cornerCount(p); ++i) {
            Vec3& n = normals[c[i]];
            n[0] += area[0];
            n[1] += area[1];
            n[2] += area[2];
        }
    }
    for (Vec3& n : normals) {
        n = Normalized(n);
        if (n[0] == 0 && n[1] == 0 && n[2] == 0)
            n = {0, 0, 1};
    }
    return normals;
}

std::uint64_t TriangleCount(const TerrainMesh& mesh) {
    std::uint64_t count = 0;
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p)
        if (mesh.cornerCount(p) >= 3)
            count += mesh.cornerCount(p) - 2;
    return count;
}

std::string NameForExport(const std::string& cp932) {
    std::string name = vesk::Utf8FromCp932(cp932);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return name;
}

void WriteFormattedInParallel(
    BufferedSink& out, std::size_t count,
    const std::function<void(std::size_t first, std::size_t last, std::string& text)>& format) {
    constexpr std::size_t kItemsPerBlock = 16384;
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::string> texts(threads);
    std::vector<std::exception_ptr> errors(threads);
    for (std::size_t round = 0; round < count; round += kItemsPerBlock * threads) {
        const auto work = [&](std::size_t t) {
            try {
                texts[t].clear();
                const std::size_t first = std::min(count, round + t * kItemsPerBlock);
                const std::size_t last = std::min(count, first + kItemsPerBlock);
                if (first < last)
                    format(first, last, texts[t]);
            } catch (...) {
                errors[t] = std::current_exception();
            }
        };
        std::vector<std::thread> workers;
        for (std::size_t t = 1; t < threads; ++t) {
            try {
                workers.emplace_back(work, t);
            } catch (const std::system_error&) {
                work(t); // no thread to be had: do its block here
            }
        }
        work(0);
        for (std::thread& w : workers)
            w.join();
        for (std::size_t t = 0; t < threads; ++t) {
            if (errors[t])
                std::rethrow_exception(errors[t]);
            out.write(texts[t]);
        }
    }
}

} // namespace talorin
