// Whatever the writer writes, the reader reads back as the same model.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/numtext.h"
#include "shape/shape.h"
#include "shape/suf.h"

using namespace vesk;

namespace {

// Owns a chain for the length of a test.
struct Chain {
    TVESK_Object* first = nullptr;
    explicit Chain(TVESK_Object* f) : first(f) {}
    Chain(const Chain&) = delete;
    ~Chain() { FreeSuf(first); }
};

// What the file carries of one polygon: its group's name, kind and values.
struct PolygonFacts {
    std::string group;
    int kind;
    std::vector<std::vector<double>> vertices;
};
struct ObjectFacts {
    std::string name;
    std::vector<PolygonFacts> polygons;
};

std::vector<double> CarriedValues(const TVESK_Vertex& v, std::uint8_t kind) {
    std::vector<double> values{v.X, v.Y, v.Z};
    if (kind == kShade || kind == kUvShade)
        values.insert(values.end(), {v.NX, v.NY, v.NZ});
    if (kind == kUvPoly || kind == kUvShade)
        values.insert(values.end(), {v.U, v.V});
    return values;
}

std::vector<ObjectFacts> FactsOf(const TVESK_Object* chain) {
    std::vector<ObjectFacts> objects;
    for (const TVESK_Object* o = chain; o != nullptr; o = o->Next) {
        ObjectFacts object{o->Name, {}};
        for (const TVESK_Polygon* p = o->Polygons; p != nullptr; p = p->Next) {
            PolygonFacts polygon{p->Attribute != nullptr ? p->Attribute->Name : "<none>",
                                 p->Kind,
                                 {}};
            for (const TVESK_Vertex* v = p->Vertices; v != nullptr; v = v->Next)
                polygon.vertices.push_back(CarriedValues(*v, p->Kind));
            object.polygons.push_back(std::move(polygon));
        }
        objects.push_back(std::move(object));
    }
    return objects;
}

// Equal to 15 significant digits: the same text when written, and close.
void ExpectSameModel(const TVESK_Object* written, const TVESK_Object* read) {
    const auto want = FactsOf(written);
    const auto got = FactsOf(read);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t o = 0; o < want.size(); ++o) {
        EXPECT_EQ(got[o].name, want[o].name);
        ASSERT_EQ(got[o].polygons.size(), want[o].polygons.size()) << "object " << o;
        for (std::size_t p = 0; p < want[o].polygons.size(); ++p) {
            const PolygonFacts& w = want[o].polygons[p];
            const PolygonFacts& g = got[o].polygons[p];
            EXPECT_EQ(g.group, w.group) << o << "/" << p;
            EXPECT_EQ(g.kind, w.kind) << o << "/" << p;
            ASSERT_EQ(g.vertices.size(), w.vertices.size()) << o << "/" << p;
            for (std::size_t v = 0; v < w.vertices.size(); ++v) {
                for (std::size_t k = 0; k < w.vertices[v].size(); ++k) {
                    const double a = w.vertices[v][k];
                    const double b = g.vertices[v][k];
                    EXPECT_EQ(FormatSufNumber(b), FormatSufNumber(a));
                    EXPECT_LE(std::fabs(a - b), 5.1e-15 * std::fabs(a)) << a << " read as " << b;
                }
            }
        }
    }
}

// Values the reader built beyond what the kind carries are zero.
void ExpectUncarriedValuesZero(const TVESK_Object* chain) {
    for (const TVESK_Object* o = chain; o != nullptr; o = o->Next)
        for (const TVESK_Polygon* p = o->Polygons; p != nullptr; p = p->Next)
            for (const TVESK_Vertex* v = p->Vertices; v != nullptr; v = v->Next) {
                if (p->Kind == kPoly || p->Kind == kUvPoly) {
                    EXPECT_TRUE(v->NX == 0 && v->NY == 0 && v->NZ == 0);
                }
                if (p->Kind == kPoly || p->Kind == kShade) {
                    EXPECT_TRUE(v->U == 0 && v->V == 0);
                }
            }
}

// Saves chain to a file, reads it back and checks the result.
void ExpectRoundTrip(const TVESK_Object* chain) {
    const std::string path = testing::TempDir() + "roundtrip_test.suf";
    ASSERT_TRUE(SaveSuf(path, chain)) << SufError;
    Chain read(LoadSuf(path));
    std::remove(path.c_str());
    ASSERT_EQ(SufError, "");
    ASSERT_NE(read.first, nullptr);
    ExpectSameModel(chain, read.first);
    ExpectUncarriedValuesZero(read.first);
    // And the read model writes the same file.
    EXPECT_EQ(SufText(read.first), SufText(chain));
}

// Builds a model the way the generator does: heads of lists, several groups.
class ModelBuilder {
public:
    explicit ModelBuilder(unsigned seed) : m_random(seed) {}
    ~ModelBuilder() { FreeSuf(m_first); }

    TVESK_Object* AddObject(const std::string& name) {
        TVESK_Object* object = NewObject(name);
        EXPECT_NE(object, nullptr);
        object->Next = m_first;
        if (m_first != nullptr)
            m_first->Prev = object;
        m_first = object;
        return object;
    }

    void AddPolygonTo(TVESK_Object* object, const std::string& group, std::uint8_t kind,
                      int vertexCount) {
        TVESK_Polygon* polygon = NewPolygon(group, kind, object);
        ASSERT_NE(polygon, nullptr);
        for (int i = 0; i < vertexCount; ++i) {
            double values[8];
            for (double& value : values)
                value = RandomValue();
            TVESK_Vertex* vertex = NewVertex(values[0], values[1], values[2], values[3],
                                             values[4], values[5], values[6], values[7]);
            ASSERT_NE(vertex, nullptr);
            AddVertex(polygon, vertex);
        }
        AddPolygon(object, polygon);
    }

    // Finite values of every magnitude the writer prints in either form.
    double RandomValue() {
        switch (std::uniform_int_distribution<int>(0, 5)(m_random)) {
        case 0:
            return 0;
        case 1:
            return std::uniform_int_distribution<int>(-100000, 100000)(m_random);
        case 2:
            return std::uniform_real_distribution<double>(-1000, 1000)(m_random);
        default: {
            const double mantissa = std::uniform_real_distribution<double>(-9.99, 9.99)(m_random);
            const int exponent = std::uniform_int_distribution<int>(-300, 300)(m_random);
            return mantissa * std::pow(10.0, exponent);
        }
        }
    }

    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

    TVESK_Object* first() const { return m_first; }

private:
    std::mt19937_64 m_random;
    TVESK_Object* m_first = nullptr;
};

} // namespace

TEST(SufRoundTrip, WorkedExampleReadsBackInFileOrder) {
    ModelBuilder model(1);
    TVESK_Object* hill = model.AddObject("hill");
    TVESK_Polygon* polygon = NewPolygon("BodyM", kUvPoly, hill);
    ASSERT_NE(polygon, nullptr);
    AddVertex(polygon, NewVertex(0, 0, 0, 0, 0, 0, 0, 0));
    AddVertex(polygon, NewVertex(1000, 0, 12.5, 0, 0, 0, 127.5, 0));
    AddVertex(polygon, NewVertex(0, 1000, 250, 0, 0, 0, 0, 127.5));
    AddPolygon(hill, polygon);
    ExpectRoundTrip(model.first());

    const std::string path = testing::TempDir() + "roundtrip_example.suf";
    ASSERT_TRUE(SaveSuf(path, model.first()));
    Chain read(LoadSuf(path));
    std::remove(path.c_str());
    ASSERT_NE(read.first, nullptr);
    // The file's order, which is the builders' list order: last added first.
    const TVESK_Vertex* v = read.first->Polygons->Vertices;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Y, 1000);
    EXPECT_EQ(v->V, 127.5);
    EXPECT_EQ(v->Next->U, 127.5);
    EXPECT_EQ(v->Next->Next->X, 0);
}

TEST(SufRoundTrip, ValuesInBothFormsReadBackTo15Digits) {
    ModelBuilder model(2);
    TVESK_Object* object = model.AddObject("values");
    TVESK_Polygon* polygon = NewPolygon("G", kUvShade, object);
    ASSERT_NE(polygon, nullptr);
    const double values[] = {12.5,       2000.0 / 3,  -0.25,   0.0001,     0.00005,
                             1.5e20,     1e15,        999999999999999.0,   123456789012345678.0,
                             -1e-300,    1e300,       0.1,     -123.456789012345678,
                             5e-310,     1.7976931348623e308, -0.0};
    const std::size_t count = sizeof values / sizeof values[0];
    for (std::size_t i = 0; i < count; ++i)
        AddVertex(polygon, NewVertex(values[i], values[(i + 1) % count], values[(i + 2) % count],
                                     values[(i + 3) % count], values[(i + 4) % count],
                                     values[(i + 5) % count], values[(i + 6) % count],
                                     values[(i + 7) % count]));
    AddPolygon(object, polygon);
    ExpectRoundTrip(model.first());
}

TEST(SufRoundTrip, EmptyListsReadBack) {
    ModelBuilder model(3);
    TVESK_Object* bare = model.AddObject("bare");
    model.AddPolygonTo(bare, "G", kShade, 0); // a polygon without vertices
    model.AddObject("nothing");               // an object without polygons
    ExpectRoundTrip(model.first());
}

TEST(SufRoundTrip, RandomModelsReadBackTheSame) {
    // Names without delimiter bytes, some of them Shift-JIS ("地面", "山").
    const std::vector<std::string> objectNames = {"hill", "\x92\x6e\x96\xca", "T-1", "a.b_c",
                                                  "\x8e\x52"};
    const std::vector<std::string> groupNames = {"BodyM", "Rock", "\x8e\x52", "g2", "BODYM"};
    for (unsigned seed = 10; seed < 40; ++seed) {
        SCOPED_TRACE(seed);
        ModelBuilder model(seed);
        const int objects = 1 + model.Pick(4);
        for (int o = 0; o < objects; ++o) {
            TVESK_Object* object =
                model.AddObject(objectNames[model.Pick(static_cast<int>(objectNames.size()))]);
            const int polygons = model.Pick(12);
            for (int p = 0; p < polygons; ++p) {
                // Runs of one group, so that attribute lines are shared and repeated.
                const int group = model.Pick(3) == 0 ? model.Pick(5) : p / 4 % 5;
                model.AddPolygonTo(object, groupNames[group], static_cast<std::uint8_t>(model.Pick(4)),
                                   model.Pick(6));
            }
        }
        ExpectRoundTrip(model.first());
    }
}
