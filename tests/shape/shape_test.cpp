#include "shape/shape.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/sjis.h"

using namespace vesk;

namespace {

// Restores the default budget however a test ends.
struct BudgetGuard {
    ~BudgetGuard() { SetMemoryBudget(0); }
};

std::vector<std::string> GroupNames(const TVESK_Object* object) {
    std::vector<std::string> names;
    for (const TVESK_Attribute* a = object->Attributes; a != nullptr; a = a->Next)
        names.push_back(a->Name);
    return names;
}

} // namespace

TEST(ShapeBuilders, NewObjectHasNameZeroBoxAndEmptyLists) {
    TVESK_Object* object = NewObject("hill");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Name, "hill");
    EXPECT_EQ(object->Next, nullptr);
    EXPECT_EQ(object->Prev, nullptr);
    EXPECT_EQ(object->Polygons, nullptr);
    EXPECT_EQ(object->Attributes, nullptr);
    for (double value :
         {object->MinX, object->MinY, object->MinZ, object->MaxX, object->MaxY, object->MaxZ})
        EXPECT_EQ(value, 0.0);
    FreeSuf(object);
    EXPECT_EQ(object, nullptr);
}

TEST(ShapeBuilders, AddVertexInsertsAtHeadWithPrevLinks) {
    TVESK_Object* object = NewObject("o");
    TVESK_Polygon* polygon = NewPolygon("g", kUvPoly, object);
    ASSERT_NE(polygon, nullptr);
    EXPECT_EQ(polygon->Kind, kUvPoly);
    TVESK_Vertex* a = NewVertex(1, 2, 3, 4, 5, 6, 7, 8);
    TVESK_Vertex* b = NewVertex(10, 0, 0, 0, 0, 0, 0, 0);
    TVESK_Vertex* c = NewVertex(20, 0, 0, 0, 0, 0, 0, 0);
    AddVertex(polygon, a);
    AddVertex(polygon, b);
    AddVertex(polygon, c);
    AddPolygon(object, polygon);

    EXPECT_EQ(polygon->Vertices, c);
    EXPECT_EQ(c->Next, b);
    EXPECT_EQ(b->Next, a);
    EXPECT_EQ(a->Next, nullptr);
    EXPECT_EQ(c->Prev, nullptr);
    EXPECT_EQ(b->Prev, c);
    EXPECT_EQ(a->Prev, b);
    EXPECT_EQ(a->X, 1);
    EXPECT_EQ(a->NZ, 6);
    EXPECT_EQ(a->V, 8);
    FreeSuf(object);
}

TEST(ShapeBuilders, AddPolygonInsertsAtHeadWithPrevLinks) {
    TVESK_Object* object = NewObject("o");
    TVESK_Polygon* first = NewPolygon("g", kPoly, object);
    TVESK_Polygon* second = NewPolygon("g", kPoly, object);
    AddPolygon(object, first);
    AddPolygon(object, second);
    EXPECT_EQ(object->Polygons, second);
    EXPECT_EQ(second->Next, first);
    EXPECT_EQ(first->Prev, second);
    EXPECT_EQ(second->Prev, nullptr);
    EXPECT_EQ(first->Next, nullptr);
    FreeSuf(object);
}

TEST(ShapeBuilders, OneGroupPerNameAndNamesAreCaseSensitive) {
    TVESK_Object* object = NewObject("o");
    TVESK_Polygon* p1 = NewPolygon("BodyM", kPoly, object);
    TVESK_Polygon* p2 = NewPolygon("BodyM", kPoly, object);
    TVESK_Polygon* p3 = NewPolygon("bodym", kPoly, object);
    AddPolygon(object, p1);
    AddPolygon(object, p2);
    AddPolygon(object, p3);
    EXPECT_EQ(p1->Attribute, p2->Attribute);
    EXPECT_NE(p1->Attribute, p3->Attribute);
    // New groups go in front of the list.
    EXPECT_EQ(GroupNames(object), (std::vector<std::string>{"bodym", "BodyM"}));
    FreeSuf(object);
}

TEST(ShapeBuilders, AppendKeepsOrderAndPrevLinks) {
    TVESK_Object* object = NewObject("o");
    TVESK_Attribute* group = FindOrAddAttribute(object, "g");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(FindOrAddAttribute(object, "g"), group);
    TVESK_Polygon* last = nullptr;
    TVESK_Polygon* p1 = NewPolygonIn(object, group, kShade);
    TVESK_Polygon* p2 = NewPolygonIn(object, nullptr, kPoly);
    AppendPolygon(object, last, p1);
    AppendPolygon(object, last, p2);
    EXPECT_EQ(object->Polygons, p1);
    EXPECT_EQ(p1->Next, p2);
    EXPECT_EQ(p2->Prev, p1);
    EXPECT_EQ(last, p2);
    EXPECT_EQ(p2->Attribute, nullptr);

    TVESK_Vertex* lastVertex = nullptr;
    TVESK_Vertex* a = NewVertex(1, 0, 0, 0, 0, 0, 0, 0);
    TVESK_Vertex* b = NewVertex(2, 0, 0, 0, 0, 0, 0, 0);
    AppendVertex(p1, lastVertex, a);
    AppendVertex(p1, lastVertex, b);
    EXPECT_EQ(p1->Vertices, a);
    EXPECT_EQ(a->Next, b);
    EXPECT_EQ(b->Prev, a);
    FreeSuf(object);
}

TEST(ShapeFree, NullChainIsLeftAlone) {
    TVESK_Object* chain = nullptr;
    FreeSuf(chain);
    EXPECT_EQ(chain, nullptr);
}

TEST(ShapeFree, GroupsSharedBetweenObjectsAreReleasedOnce) {
    const std::size_t before = MemoryInUse();
    // Three objects as the reader links them: each list ends with the whole
    // list of the object before it.
    TVESK_Object* first = NewObject("a");
    TVESK_Object* second = NewObject("b");
    TVESK_Object* third = NewObject("c");
    first->Next = second;
    second->Prev = first;
    second->Next = third;
    third->Prev = second;
    FindOrAddAttribute(first, "g1");
    FindOrAddAttribute(first, "g2");
    second->Attributes = first->Attributes;
    FindOrAddAttribute(second, "g3");
    third->Attributes = second->Attributes;
    // Polygons may use a group of an earlier object.
    for (TVESK_Object* object : {first, second, third}) {
        TVESK_Polygon* polygon = NewPolygon("g1", kPoly, object);
        AddVertex(polygon, NewVertex(0, 0, 0, 0, 0, 0, 0, 0));
        AddPolygon(object, polygon);
    }
    EXPECT_EQ(GroupNames(third), (std::vector<std::string>{"g3", "g2", "g1"}));
    FreeSuf(first);
    EXPECT_EQ(first, nullptr);
    // Everything released: the pools gave their blocks back. A group freed
    // twice would have corrupted the free list (and fails under the sanitizer).
    EXPECT_EQ(MemoryInUse(), before);
}

TEST(ShapeFree, ListsSharingAnyTailAreReleasedOnce) {
    // The second object shares only a tail of the first's list, the third the
    // whole list of the first but not the second's own group.
    TVESK_Object* a = NewObject("a");
    TVESK_Object* b = NewObject("b");
    TVESK_Object* c = NewObject("c");
    a->Next = b;
    b->Next = c;
    FindOrAddAttribute(a, "x");
    TVESK_Attribute* tail = a->Attributes;
    FindOrAddAttribute(a, "y");
    b->Attributes = tail;
    FindOrAddAttribute(b, "z");
    c->Attributes = a->Attributes;
    FindOrAddAttribute(c, "w");
    FreeSuf(a);
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeFree, ReleasingUnlinkedRecords) {
    TVESK_Object* object = NewObject("o");
    TVESK_Polygon* polygon = NewPolygon("g", kPoly, object);
    AddVertex(polygon, NewVertex(0, 0, 0, 0, 0, 0, 0, 0));
    ReleasePolygon(polygon); // with its vertex; the group stays with the object
    ReleasePolygon(nullptr);
    ReleaseVertex(NewVertex(1, 1, 1, 0, 0, 0, 0, 0));
    ReleaseVertex(nullptr);
    ASSERT_NE(object->Attributes, nullptr);
    EXPECT_EQ(object->Attributes->Name, "g");
    FreeSuf(object);
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeFree, ManyRecordsBuildAndGiveMemoryBack) {
    TVESK_Object* object = NewObject("big");
    for (int i = 0; i < 200000; ++i) {
        TVESK_Polygon* polygon = NewPolygon("g", kPoly, object);
        ASSERT_NE(polygon, nullptr);
        for (int k = 0; k < 4; ++k)
            AddVertex(polygon, NewVertex(i, k, 0, 0, 0, 0, 0, 0));
        AddPolygon(object, polygon);
    }
    EXPECT_GE(MemoryInUse(), 200000u * (sizeof(TVESK_Polygon) + 4 * sizeof(TVESK_Vertex)));
    EXPECT_EQ(object->Polygons->Vertices->X, 199999);
    FreeSuf(object);
    EXPECT_EQ(MemoryInUse(), 0u);
}

// Models built and freed on two threads at once share the pools: every
// record keeps its values and all memory comes back.
TEST(ShapeFree, TwoThreadsBuildAndFreeModelsAtOnce) {
    auto build = [](double tag, bool& intact) {
        for (int round = 0; round < 100; ++round) {
            TVESK_Object* object = NewObject("t");
            for (int i = 0; i < 2000; ++i) {
                TVESK_Polygon* polygon = NewPolygon("g", kPoly, object);
                AddVertex(polygon, NewVertex(tag, i, 0, 0, 0, 0, 0, 0));
                AddPolygon(object, polygon);
            }
            for (const TVESK_Polygon* p = object->Polygons; p != nullptr; p = p->Next)
                intact = intact && p->Vertices->X == tag;
            FreeSuf(object);
        }
    };
    bool intact[2] = {true, true};
    std::thread other(build, 1.0, std::ref(intact[1]));
    build(0.0, intact[0]);
    other.join();
    EXPECT_TRUE(intact[0] && intact[1]);
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeRecords, StayCompact) {
    EXPECT_EQ(sizeof(TVESK_Vertex), 80u);
    EXPECT_EQ(sizeof(TVESK_Polygon), 40u);
}

TEST(ShapeOutOfMemory, NewObjectFailsWithMessageAndLeaksNothing) {
    BudgetGuard guard;
    SetMemoryBudget(1);
    SufError.clear();
    EXPECT_EQ(NewObject("hill"), nullptr);
    EXPECT_EQ(Utf8FromCp932(SufError), "オブジェクトhill作成中にメモリーが枯渇しました。");
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeOutOfMemory, NewObjectNameIsKeptAsRawBytes) {
    BudgetGuard guard;
    SetMemoryBudget(1);
    const std::string name = Cp932FromUtf8("山");
    EXPECT_EQ(NewObject(name), nullptr);
    EXPECT_EQ(SufError, Cp932FromUtf8("オブジェクト山作成中にメモリーが枯渇しました。"));
}

TEST(ShapeOutOfMemory, NewPolygonFailsAndLeavesGroupsAsTheyWere) {
    BudgetGuard guard;
    TVESK_Object* object = NewObject("hill");
    AddPolygon(object, NewPolygon("BodyM", kPoly, object));
    const std::size_t inUse = MemoryInUse();
    // Allow no further block: the polygon pool's free slots run out.
    SetMemoryBudget(inUse);
    int built = 0;
    while (TVESK_Polygon* p = NewPolygon("BodyM", kPoly, object)) {
        AddPolygon(object, p);
        ++built;
    }
    EXPECT_GT(built, 0);
    EXPECT_EQ(Utf8FromCp932(SufError),
              "オブジェクトhillのポリゴン作成中にメモリーが枯渇しました。");
    // A polygon that would need a new group fails too, without the group.
    SufError.clear();
    EXPECT_EQ(NewPolygon("Other", kPoly, object), nullptr);
    EXPECT_FALSE(SufError.empty());
    EXPECT_EQ(GroupNames(object), (std::vector<std::string>{"BodyM"}));
    EXPECT_EQ(MemoryInUse(), inUse);
    SetMemoryBudget(0);
    FreeSuf(object);
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeOutOfMemory, NewPolygonWithNewGroupFailsWhenOnlyThePolygonFits) {
    BudgetGuard guard;
    TVESK_Object* object = NewObject("o");
    // Room for a small polygon block but not for a group block as well.
    const std::size_t inUse = MemoryInUse();
    SetMemoryBudget(inUse + 16 + sizeof(TVESK_Polygon) + 8);
    EXPECT_EQ(NewPolygon("g", kPoly, object), nullptr);
    EXPECT_EQ(object->Attributes, nullptr);
    EXPECT_EQ(MemoryInUse(), inUse);
    SetMemoryBudget(0);
    FreeSuf(object);
}

TEST(ShapeOutOfMemory, NewVertexFailsWithMessage) {
    BudgetGuard guard;
    SetMemoryBudget(1);
    SufError.clear();
    EXPECT_EQ(NewVertex(0, 0, 0, 0, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(Utf8FromCp932(SufError), "頂点データ作成中にメモリーが枯渇しました。");
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeOutOfMemory, BudgetIsUsedUpToItsLastBytes) {
    BudgetGuard guard;
    // Exactly three vertices' worth of block: three succeed, the fourth fails.
    SetMemoryBudget(16 + 3 * sizeof(TVESK_Vertex));
    TVESK_Vertex* v[4] = {};
    for (auto& vertex : v)
        vertex = NewVertex(0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_NE(v[0], nullptr);
    EXPECT_NE(v[2], nullptr);
    EXPECT_EQ(v[3], nullptr);
    for (auto* vertex : v)
        ReleaseVertex(vertex);
    EXPECT_EQ(MemoryInUse(), 0u);
}

TEST(ShapeBudget, ModelWouldFitFollowsTheBudget) {
    BudgetGuard guard;
    EXPECT_GT(MemoryBudget(), 0u);
    EXPECT_TRUE(ModelWouldFit(1000, 4000));
    EXPECT_FALSE(ModelWouldFit(std::uint64_t{1} << 50, std::uint64_t{1} << 52));
    SetMemoryBudget(1 << 20);
    EXPECT_EQ(MemoryBudget(), 1u << 20);
    EXPECT_TRUE(ModelWouldFit(1000, 4000));
    EXPECT_FALSE(ModelWouldFit(100000, 400000));
    // A model that is said to fit can really be built.
    const std::uint64_t polygons = 2000;
    ASSERT_TRUE(ModelWouldFit(polygons, 4 * polygons));
    TVESK_Object* object = NewObject("o");
    for (std::uint64_t i = 0; i < polygons; ++i) {
        TVESK_Polygon* polygon = NewPolygon("g", kPoly, object);
        ASSERT_NE(polygon, nullptr);
        for (int k = 0; k < 4; ++k) {
            TVESK_Vertex* vertex = NewVertex(0, 0, 0, 0, 0, 0, 0, 0);
            ASSERT_NE(vertex, nullptr);
            AddVertex(polygon, vertex);
        }
        AddPolygon(object, polygon);
    }
    FreeSuf(object);
}

#if defined(TALORIN_SANITIZE)
// Pooled records are poisoned while free, so the sanitizer sees misuse of
// records as it would with one heap allocation each.
TEST(ShapeSanitizer, ReleasingAVertexTwiceIsReported) {
    TVESK_Vertex* keep = NewVertex(0, 0, 0, 0, 0, 0, 0, 0); // keeps the pools' blocks
    TVESK_Vertex* vertex = NewVertex(1, 0, 0, 0, 0, 0, 0, 0);
    ReleaseVertex(vertex);
    EXPECT_DEATH(ReleaseVertex(vertex), "AddressSanitizer");
    ReleaseVertex(keep);
}

TEST(ShapeSanitizer, ReadingAFreedModelIsReported) {
    TVESK_Vertex* keep = NewVertex(0, 0, 0, 0, 0, 0, 0, 0);
    TVESK_Object* object = NewObject("o");
    TVESK_Polygon* polygon = NewPolygon("g", kPoly, object);
    AddPolygon(object, polygon);
    TVESK_Object* stale = object;
    FreeSuf(object);
    EXPECT_DEATH(std::printf("%p\n", static_cast<void*>(stale->Polygons)), "AddressSanitizer");
    EXPECT_DEATH(FreeSuf(stale), "AddressSanitizer");
    ReleaseVertex(keep);
}
#endif
