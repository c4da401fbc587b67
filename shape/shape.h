#pragma once
// The shape model: a chain of objects, each with a polygon list and a list of
// named attribute groups; each polygon has a kind and a vertex list. All lists
// are doubly linked through Next/Prev (attribute groups only through Next) and
// held by a pointer to their first record, null when empty.
//
// Records come from per-type pools allocated in large blocks, not one heap
// allocation each, charged to the memory budget (base/memorybudget.h). The
// pools may be used from several threads at once; a model itself belongs to
// one thread at a time. Names are byte strings (Shift-JIS text), compared
// byte for byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/memorybudget.h"

namespace vesk {

struct TVESK_Attribute {
    TVESK_Attribute* Next = nullptr;
    std::string Name;
};

struct TVESK_Vertex {
    TVESK_Vertex* Next = nullptr;
    TVESK_Vertex* Prev = nullptr;
    double X = 0, Y = 0, Z = 0;
    double NX = 0, NY = 0, NZ = 0;
    double U = 0, V = 0;
};

// Polygon kinds: which vertex values the polygon carries in a file.
enum : std::uint8_t { kPoly = 0, kShade = 1, kUvPoly = 2, kUvShade = 3 };

struct TVESK_Polygon {
    TVESK_Polygon* Next = nullptr;
    TVESK_Polygon* Prev = nullptr;
    TVESK_Attribute* Attribute = nullptr; // not owned; null only before a file's first "atr"
    std::uint8_t Kind = kPoly;
    TVESK_Vertex* Vertices = nullptr;
};

struct TVESK_Object {
    TVESK_Object* Next = nullptr;
    TVESK_Object* Prev = nullptr;
    std::string Name;
    TVESK_Polygon* Polygons = nullptr;
    double MinX = 0, MinY = 0, MinZ = 0;
    double MaxX = 0, MaxY = 0, MaxZ = 0;
    TVESK_Attribute* Attributes = nullptr;
};

// Text of the last failure of a builder, the reader or the writer, as
// Shift-JIS (CP932) bytes, since it may hold names from the model.
extern std::string SufError;

// --- Builders -------------------------------------------------------------
// Each returns null on running out of memory (the pools' budget is exceeded or
// the heap refuses), sets SufError to its message and leaks nothing. They never
// throw for that reason.

// A new unlinked object with this name, empty lists and a zero box.
TVESK_Object* NewObject(const std::string& name);

// A new unlinked polygon of this kind in the group named atrName of object,
// which is searched from its first group (first match) and created in front of
// object's attribute list when missing. On failure the attribute list is as before.
TVESK_Polygon* NewPolygon(const std::string& atrName, std::uint8_t kind, TVESK_Object* object);

// For the reader, which names a group on its own line and then makes
// polygons in it: the first group of object named name, created in front of
// the list when missing; null when out of memory (SufError set).
TVESK_Attribute* FindOrAddAttribute(TVESK_Object* object, const std::string& name);
// A new unlinked polygon in group (may be null); object only names the
// message. Null when out of memory (SufError set).
TVESK_Polygon* NewPolygonIn(const TVESK_Object* object, TVESK_Attribute* group, std::uint8_t kind);

// Puts polygon at the head of object's polygon list. Cannot fail.
void AddPolygon(TVESK_Object* object, TVESK_Polygon* polygon);

// A new unlinked vertex with these values.
TVESK_Vertex* NewVertex(double x, double y, double z, double nx, double ny, double nz, double u,
                        double v);

// Puts vertex at the head of polygon's vertex list. Cannot fail.
void AddVertex(TVESK_Polygon* polygon, TVESK_Vertex* vertex);

// Releases every object reached from chain through Next, with their polygons
// and vertices, and every attribute group of the model exactly once (groups may
// be shared between objects of one chain, see the reader), then sets chain to
// null. Does nothing when chain is null.
void FreeSuf(TVESK_Object*& chain);

// For a creator that gives up before linking: releases an unlinked polygon
// together with the vertices already attached to it (not its group, which
// belongs to the object), or one unlinked vertex. Null does nothing.
void ReleasePolygon(TVESK_Polygon* polygon);
void ReleaseVertex(TVESK_Vertex* vertex);

// Appends at the tail given the current last record (may be null): used by the
// reader, which keeps tail pointers so that reading stays linear.
void AppendPolygon(TVESK_Object* object, TVESK_Polygon*& last, TVESK_Polygon* polygon);
void AppendVertex(TVESK_Polygon* polygon, TVESK_Vertex*& last, TVESK_Vertex* vertex);

// --- Memory budget ----------------------------------------------------------
// The pools refuse to grow past the budget (base/memorybudget.h), which the
// builders report like running out of memory.

// Whether a model of this many polygons and vertices (plus the records already
// live) can still be built within the budget. The generator asks this up front
// so that a run that cannot fit fails at once instead of filling memory first.
bool ModelWouldFit(std::uint64_t polygons, std::uint64_t vertices);

namespace detail {
// The builders without their message, for a reader that reports failures
// itself: null when out of memory, SufError untouched. Records are unlinked
// (a group too, and its name is the given one).
TVESK_Object* TryNewObject(const std::string& name) noexcept;
TVESK_Attribute* TryNewAttribute(const std::string& name) noexcept;
TVESK_Polygon* TryNewPolygon(TVESK_Attribute* group, std::uint8_t kind) noexcept;
TVESK_Vertex* TryNewVertex(double x, double y, double z, double nx, double ny, double nz, double u,
                           double v) noexcept;

// Polygons and vertices for one reader on one thread, taken from the pools a
// batch at a time: a lock per batch instead of one per record. A batch holds
// only records the pools have spare (or the one a new block makes), so the
// pools grow, and run out, exactly when record by record they would. Records
// not handed out go back when the batch ends.
class RecordBatch {
  public:
    RecordBatch() = default;
    ~RecordBatch();
    RecordBatch(const RecordBatch&) = delete;
    RecordBatch& operator=(const RecordBatch&) = delete;

    // As TryNewPolygon and TryNewVertex (a zero vertex).
    TVESK_Polygon* TryNewPolygon(TVESK_Attribute* group, std::uint8_t kind) noexcept;
    TVESK_Vertex* TryNewVertex() noexcept;

  private:
    static constexpr std::size_t kBatch = 64;
    void* m_polygons[kBatch];
    void* m_vertices[kBatch];
    std::size_t m_polygonCount = 0;
    std::size_t m_vertexCount = 0;
};

// Sets SufError to utf8 as CP932 (Cp932ForMessage); clears it when even that
// runs out of memory. For the entry points that report through SufError.
void SetSufError(std::string_view utf8) noexcept;
} // namespace detail

} // namespace vesk
