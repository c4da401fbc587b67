#pragma once
// The shape model: a chain of objects, each with a polygon list and a list of
// named attribute groups; each polygon has a kind and a vertex list. All lists
// are doubly linked through Next/Prev (attribute groups only through Next) and
// held by a pointer to their first record, null when empty.
//
// Records come from per-type pools allocated in large blocks, not one heap
// allocation each. The pools are not thread-safe: like the rest of the library,
// one operation at a time. Names are byte strings (Shift-JIS text), compared
// byte for byte.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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
// Linux overcommits memory, so an allocation rarely fails before the kernel
// kills the process. The pools therefore refuse to grow past a budget, which is
// treated exactly like running out of memory.

// The budget in bytes. By default a safe share of the machine's available
// physical memory, read once at first use.
std::size_t MemoryBudget();
// Sets the budget (tests use small ones); 0 restores the default.
void SetMemoryBudget(std::size_t bytes);
// Bytes the pools hold now (whole blocks, used or free).
std::size_t MemoryInUse();
// Whether a model of this many polygons and vertices (plus the records already
// live) can still be built within the budget. The generator asks this up front
// so that a run that cannot fit fails at once instead of filling memory first.
bool ModelWouldFit(std::uint64_t polygons, std::uint64_t vertices);

// The budget is fixed at start-up, but other processes take memory too: two
// big runs started together both fit on paper. So whatever grows re-reads the
// memory really available every kRecheckStep bytes, and refuses when what it
// still needs is more than a safe share of that. The pools do so as they grow.

inline constexpr std::size_t kRecheckStep = std::size_t{64} << 20;

// The memory the system can still give now, in bytes (MemAvailable).
std::size_t AvailableMemory();
// Replaces the source of AvailableMemory (tests simulate other processes);
// an empty function restores the system's figure.
void SetAvailableMemorySource(std::function<std::size_t()> source);

// A claim on memory that a run fills step by step, knowing its total up front
// (the mesh generator). Not thread-safe, like the rest of the budget.
class MemoryClaim {
  public:
    explicit MemoryClaim(std::uint64_t bytes) : m_bytes(bytes) {}

    // Whether the whole claim fits now: within the budget less what the pools
    // hold, and within the safe share of the memory available.
    bool fits() const;

    // To be called as the run fills its memory, with the bytes filled so far
    // (at least every kRecheckStep bytes, may be much more often). False when
    // the rest no longer fits: the budget dropped, or, at every kRecheckStep
    // filled, the rest exceeds the safe share of the memory available now.
    bool grow(std::uint64_t filled);

  private:
    std::uint64_t m_bytes;
    std::uint64_t m_nextRecheck = kRecheckStep;
};

} // namespace vesk
