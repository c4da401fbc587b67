#include "export/meshgeometry.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <future>
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

namespace {

// Runs work(first, last) over 0 .. count-1 in a few slices on other threads
// as well as this one; returns when all are done.
void ForSlices(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work) {
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    const std::size_t slice = (count + threads - 1) / threads;
    std::vector<std::future<void>> others;
    for (std::size_t t = 1; t < threads && t * slice < count; ++t) {
        const std::size_t first = t * slice, last = std::min(count, first + slice);
        try {
            others.push_back(std::async(std::launch::async, work, first, last));
        } catch (const std::system_error&) {
            work(first, last);
        }
    }
    work(0, std::min(count, slice));
    for (auto& other : others)
        other.get();
}

} // namespace

std::vector<Vec3> VertexNormals(const TerrainMesh& mesh) {
    // The polygons' area vectors on several threads, then summed per vertex.
    std::vector<Vec3> areas(mesh.polygonCount());
    ForSlices(areas.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t p = first; p < last; ++p)
            areas[p] = mesh.cornerCount(p) >= 3 ? PolygonAreaVector(mesh, p) : Vec3{0, 0, 0};
    });
    std::vector<Vec3> normals(mesh.Vertices.size(), Vec3{0, 0, 0});
    for (std::size_t p = 0; p < areas.size(); ++p) {
        const Vec3& area = areas[p];
        const std::uint32_t* c = mesh.corners(p);
        for (std::size_t i = 0; i < mesh.cornerCount(p); ++i) {
            Vec3& n = normals[c[i]];
            n[0] += area[0];
            n[1] += area[1];
            n[2] += area[2];
        }
    }
    ForSlices(normals.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            Vec3& n = normals[i];
            n = Normalized(n);
            if (n[0] == 0 && n[1] == 0 && n[2] == 0)
                n = {0, 0, 1};
        }
    });
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
    // Blocks in flight: the workers format the next ones while this thread
    // writes the oldest.
    const std::size_t inFlight =
        std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4) + 1;
    std::deque<std::future<std::string>> blocks;
    std::size_t next = 0;
    const auto launch = [&] {
        const std::size_t first = next;
        const std::size_t last = std::min(count, first + kItemsPerBlock);
        next = last;
        const auto task = [&format, first, last] {
            std::string text;
            format(first, last, text);
            return text;
        };
        try {
            blocks.push_back(std::async(std::launch::async, task));
        } catch (const std::system_error&) {
            blocks.push_back(std::async(std::launch::deferred, task)); // no thread to be had
        }
    };
    try {
        while (next < count || !blocks.empty()) {
            while (next < count && blocks.size() < inFlight)
                launch();
            out.write(blocks.front().get());
            blocks.pop_front();
        }
    } catch (...) {
        // The remaining blocks still use format: let them finish first.
        for (auto& block : blocks)
            if (block.valid())
                block.wait();
        throw;
    }
}

} // namespace talorin
