#pragma once
// Shared pieces of the export tests: terrain meshes built by hand, strict
// readers for the files the exporters write, and the mesh checks the readers
// feed.

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "shape/terrainmesh.h"
#include "shape/shape.h"

namespace exporttest {

using talorin::MeshVertex;
using talorin::TerrainMesh;
using P3 = std::array<double, 3>;

// A cells x cells grid over -size/2 .. size/2 in the .suf frame (x = rows,
// y = columns), heights from height(x, y), UV 0..255 like the generator,
// quads listed counter-clockwise seen from above.
inline TerrainMesh Grid(int cells, double size, const std::function<double(double, double)>& height,
                        std::uint8_t kind = vesk::kUvPoly) {
    TerrainMesh m;
    m.ObjName = "hill";
    m.AtrName = "BodyM";
    m.Kind = kind;
    const double step = size / cells;
    for (int i = 0; i <= cells; ++i)
        for (int j = 0; j <= cells; ++j) {
            const double x = i * step - size / 2, y = j * step - size / 2;
            m.Vertices.push_back({x, y, height(x, y), j * 255.0 / cells, i * 255.0 / cells});
        }
    const auto at = [&](int i, int j) { return std::uint32_t(i * (cells + 1) + j); };
    for (int i = 0; i < cells; ++i)
        for (int j = 0; j < cells; ++j) {
            for (std::uint32_t c : {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)})
                m.Indices.push_back(c);
            m.Starts.push_back(std::uint32_t(m.Indices.size()));
        }
    return m;
}

// A square of side 2 around the origin with a peak of height h in the middle:
// four triangles around the centre, as the triangle mode makes them.
inline TerrainMesh Pyramid(double h) {
    TerrainMesh m;
    m.ObjName = "peak";
    m.AtrName = "Rock";
    m.Kind = vesk::kUvPoly;
    m.Vertices = {{0, 0, h, 127.5, 127.5},
                  {-1, -1, 0, 0, 0},
                  {-1, 1, 0, 255, 0},
                  {1, 1, 0, 255, 255},
                  {1, -1, 0, 0, 255}};
    // Counter-clockwise seen from above: x to the right, y upwards.
    for (std::uint32_t t : {0u, 1u, 2u, 3u}) {
        const std::uint32_t a = 1 + t, b = 1 + (t + 3) % 4;
        m.Indices.insert(m.Indices.end(), {0u, a, b});
        m.Starts.push_back(std::uint32_t(m.Indices.size()));
    }
    return m;
}

inline std::string
Collect(const std::function<void(const std::function<void(const char*, std::size_t)>&)>& write) {
    std::string bytes;
    write([&](const char* data, std::size_t size) { bytes.append(data, size); });
    return bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// What a reader gives back: positions (as written), optional normals and UV,
// and polygons as index lists.
struct ReadMesh {
    std::vector<P3> positions;
    std::vector<P3> normals;
    std::vector<std::array<double, 2>> uv;
    std::vector<std::vector<std::uint32_t>> faces;
    std::vector<P3> faceNormals; // STL only
    std::string object, material, mtllib;
};

inline std::uint32_t Le32(const std::string& b, std::size_t at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 16 |
           std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}
inline double LeFloat(const std::string& b, std::size_t at) {
    return std::bit_cast<float>(Le32(b, at));
}

// Binary STL, strictly: the size must be 84 + 50 x count. Identical corner
// positions are merged into one vertex, so that edges can be matched.
inline ReadMesh ReadStl(const std::string& b) {
    ReadMesh m;
    EXPECT_GE(b.size(), 84u);
    if (b.size() < 84)
        return m;
    const std::uint32_t count = Le32(b, 80);
    EXPECT_EQ(b.size(), 84 + 50 * std::size_t(count));
    if (b.size() != 84 + 50 * std::size_t(count))
        return m;
    std::map<P3, std::uint32_t> index;
    for (std::uint32_t t = 0; t < count; ++t) {
        const std::size_t at = 84 + 50 * std::size_t(t);
        m.faceNormals.push_back({LeFloat(b, at), LeFloat(b, at + 4), LeFloat(b, at + 8)});
        std::vector<std::uint32_t> face;
        for (int c = 0; c < 3; ++c) {
            const std::size_t v = at + 12 + 12 * c;
            const P3 p{LeFloat(b, v), LeFloat(b, v + 4), LeFloat(b, v + 8)};
            auto [it, added] = index.emplace(p, std::uint32_t(m.positions.size()));
            if (added)
                m.positions.push_back(p);
            face.push_back(it->second);
        }
        m.faces.push_back(face);
        EXPECT_EQ(b[at + 48], 0);
        EXPECT_EQ(b[at + 49], 0);
    }
    return m;
}

// Binary little-endian PLY with exactly the header the exporter promises.
inline ReadMesh ReadPly(const std::string& b, bool uv) {
    ReadMesh m;
    const std::size_t end = b.find("end_header\n");
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos)
        return m;
    std::istringstream header(b.substr(0, end));
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(header, line))
        lines.push_back(line);
    std::size_t vertices = 0, faces = 0;
    std::vector<std::string> props;
    for (const std::string& l : lines) {
        if (l.starts_with("element vertex "))
            vertices = std::stoul(l.substr(15));
        else if (l.starts_with("element face "))
            faces = std::stoul(l.substr(13));
        else if (l.starts_with("property "))
            props.push_back(l);
        else if (l.starts_with("comment object "))
            m.object = l.substr(15);
        else if (l.starts_with("comment attribute "))
            m.material = l.substr(18);
    }
    EXPECT_EQ(lines.at(0), "ply");
    EXPECT_EQ(lines.at(1), "format binary_little_endian 1.0");
    std::vector<std::string> expected = {"property float x",  "property float y",
                                         "property float z",  "property float nx",
                                         "property float ny", "property float nz"};
    if (uv) {
        expected.push_back("property float s");
        expected.push_back("property float t");
    }
    expected.push_back("property list uchar int vertex_indices");
    EXPECT_EQ(props, expected);
    std::size_t at = end + 11;
    const std::size_t stride = uv ? 32 : 24;
    if (b.size() < at + vertices * stride) {
        ADD_FAILURE() << "PLY vertex data cut off";
        return m;
    }
    for (std::size_t v = 0; v < vertices; ++v, at += stride) {
        m.positions.push_back({LeFloat(b, at), LeFloat(b, at + 4), LeFloat(b, at + 8)});
        m.normals.push_back({LeFloat(b, at + 12), LeFloat(b, at + 16), LeFloat(b, at + 20)});
        if (uv)
            m.uv.push_back({LeFloat(b, at + 24), LeFloat(b, at + 28)});
    }
    for (std::size_t f = 0; f < faces; ++f) {
        if (at >= b.size()) {
            ADD_FAILURE() << "PLY face data cut off";
            return m;
        }
        const std::size_t n = std::uint8_t(b[at++]);
        std::vector<std::uint32_t> face;
        for (std::size_t i = 0; i < n; ++i, at += 4) {
            const std::uint32_t index = Le32(b, at);
            EXPECT_LT(index, vertices);
            face.push_back(index);
        }
        m.faces.push_back(face);
    }
    EXPECT_EQ(at, b.size()) << "bytes after the last face";
    return m;
}

// OBJ as the exporter writes it: v/vt/vn share their index in every corner.
inline ReadMesh ReadObj(const std::string& text) {
    ReadMesh m;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_EQ(line.find('\r'), std::string::npos);
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "v" || tag == "vn") {
            P3 p{};
            words >> p[0] >> p[1] >> p[2];
            EXPECT_FALSE(words.fail()) << line;
            (tag == "v" ? m.positions : m.normals).push_back(p);
        } else if (tag == "vt") {
            std::array<double, 2> t{};
            words >> t[0] >> t[1];
            m.uv.push_back(t);
        } else if (tag == "f") {
            std::vector<std::uint32_t> face;
            std::string corner;
            while (words >> corner) {
                const std::size_t s1 = corner.find('/'), s2 = corner.rfind('/');
                const std::string a = corner.substr(0, s1);
                const std::string t = corner.substr(s1 + 1, s2 - s1 - 1);
                const std::string n = corner.substr(s2 + 1);
                EXPECT_EQ(a, n) << line;
                if (!t.empty()) {
                    EXPECT_EQ(a, t) << line;
                }
                const unsigned long index = std::stoul(a);
                EXPECT_GE(index, 1u);
                face.push_back(std::uint32_t(index - 1));
            }
            m.faces.push_back(face);
        } else if (tag == "o") {
            m.object = line.substr(2);
        } else if (tag == "usemtl") {
            m.material = line.substr(7);
        } else if (tag == "mtllib") {
            m.mtllib = line.substr(7);
        } else {
            EXPECT_TRUE(tag.empty() || tag[0] == '#') << line;
        }
    }
    return m;
}

// The checks of a closed solid on read-back faces: every directed edge once,
// its reverse once too. Returns the enclosed volume (divergence theorem over
// the fans of the faces), whose sign says whether the faces point outward.
inline double ClosedVolume(const ReadMesh& m) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> edges;
    double volume = 0;
    for (const auto& f : m.faces) {
        for (std::size_t i = 0; i < f.size(); ++i)
            ++edges[{f[i], f[(i + 1) % f.size()]}];
        for (std::size_t i = 1; i + 1 < f.size(); ++i) {
            const P3 &a = m.positions[f[0]], &b = m.positions[f[i]], &c = m.positions[f[i + 1]];
            volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                       a[2] * (b[0] * c[1] - b[1] * c[0])) /
                      6;
        }
    }
    int bad = 0;
    for (const auto& [e, count] : edges) {
        const auto back = edges.find({e.second, e.first});
        if (count != 1 || back == edges.end() || back->second != 1)
            ++bad;
    }
    EXPECT_EQ(bad, 0) << "edges not shared by exactly two faces in opposite directions";
    return volume;
}

inline double Length(const P3& v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

} // namespace exporttest
