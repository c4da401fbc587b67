// The shape model's records and builders.
//
// Records live in per-type pools: blocks of many records carved out with a
// bump pointer, freed records kept on a free list threaded through their first
// word. A model of millions of vertices then costs a few hundred block
// allocations instead of millions, and freeing it costs no heap calls at all.
// When no record of any type is live any more, every block goes back to the
// heap, so a freed model gives its memory back to the system.

#include "shape/shape.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <type_traits>
#include <unistd.h>

#if defined(TALORIN_SANITIZE)
#include <sanitizer/asan_interface.h>
#define VESK_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VESK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define VESK_POISON(p, n) ((void)(p), (void)(n))
#define VESK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace vesk {

std::string SufError;

namespace {

// Message parts, as CP932 bytes (the model's text is Shift-JIS).
// "オブジェクト"
constexpr std::string_view kObjectWord = "\x83\x49\x83\x75\x83\x57\x83\x46\x83\x4e\x83\x67";
// "作成中にメモリーが枯渇しました。"
constexpr std::string_view kObjectOutOfMemory =
    "\x8d\xec\x90\xac\x92\x86\x82\xc9\x83\x81\x83\x82\x83\x8a\x81\x5b\x82\xaa\x8c\xcd\x8a\x89"
    "\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";
// "のポリゴン作成中にメモリーが枯渇しました。"
constexpr std::string_view kPolygonOutOfMemory =
    "\x82\xcc\x83\x7c\x83\x8a\x83\x53\x83\x93\x8d\xec\x90\xac\x92\x86\x82\xc9\x83\x81\x83\x82"
    "\x83\x8a\x81\x5b\x82\xaa\x8c\xcd\x8a\x89\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";
// "頂点データ作成中にメモリーが枯渇しました。"
constexpr std::string_view kVertexOutOfMemory =
    "\x92\xb8\x93\x5f\x83\x66\x81\x5b\x83\x5e\x8d\xec\x90\xac\x92\x86\x82\xc9\x83\x81\x83\x82"
    "\x83\x8a\x81\x5b\x82\xaa\x8c\xcd\x8a\x89\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";

// Sets SufError without letting a failed allocation escape: an out-of-memory
// report must not itself throw. Falls back to the text without the name.
void SetOutOfMemory(std::string_view head, std::string_view name, std::string_view tail) noexcept {
    try {
        std::string text;
        text.reserve(head.size() + name.size() + tail.size());
        text.append(head).append(name).append(tail);
        SufError = std::move(text);
    } catch (const std::bad_alloc&) {
        try {
            SufError.assign(head).append(tail);
        } catch (const std::bad_alloc&) {
            SufError.clear();
        }
    }
}

// --- Budget ----------------------------------------------------------------

constexpr double kBudgetShare = 0.7;

// Atomic so that a run on another thread may ask the budget (MemoryClaim)
// while the pools are used; the pools themselves are for one thread at a time.
std::atomic<std::size_t> g_budget{0}; // 0: not set, use the default
std::atomic<std::size_t> g_inUse{0};  // bytes of all pools' blocks

// MemAvailable of /proc/meminfo in bytes, or 0 when there is no such line.
std::size_t SystemAvailableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    unsigned long long kb = 0;
    std::string unit;
    while (meminfo >> key >> kb) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:")
            return static_cast<std::size_t>(kb) * 1024;
    }
    return 0;
}

std::function<std::size_t()>& AvailableSource() {
    static std::function<std::size_t()> source;
    return source;
}

std::size_t DefaultBudget() {
    static const std::size_t budget = [] {
        if (const std::size_t available = SystemAvailableMemory(); available > 0)
            return static_cast<std::size_t>(static_cast<double>(available) * kBudgetShare);
        // No /proc: fall back to a share of the physical memory.
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGE_SIZE);
        if (pages > 0 && pageSize > 0)
            return static_cast<std::size_t>(static_cast<double>(pages) *
                                            static_cast<double>(pageSize) * kBudgetShare);
        return std::size_t{1} << 30;
    }();
    return budget;
}

// Whether bytes more fit into the safe share of the memory available now.
bool FitsAvailableNow(double bytes) {
    return bytes <= static_cast<double>(AvailableMemory()) * kBudgetShare;
}

// The pools' next re-check of the memory available, in bytes held.
std::size_t g_nextPoolRecheck = kRecheckStep;

std::size_t Budget() {
    const std::size_t budget = g_budget;
    return budget != 0 ? budget : DefaultBudget();
}

// --- Pools -----------------------------------------------------------------

constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
constexpr std::size_t kPageSize = 4096;

struct BlockHeader {
    BlockHeader* next;
    std::size_t bytes;
};

// A pool of raw slots for records of type T. It hands out storage only; the
// callers construct and destroy the records.
template <typename T> class Pool {
  public:
    static constexpr std::size_t kSlot = sizeof(T);
    static constexpr std::size_t kMinRecords = 256;
    static constexpr std::size_t kMaxRecords = 65536;
    static_assert(kSlot >= sizeof(void*) && kSlot % alignof(void*) == 0);
    static_assert(alignof(T) <= alignof(std::max_align_t));
    static_assert(sizeof(BlockHeader) % alignof(T) == 0);

    // No destructor: a model still alive at exit may be freed by another
    // static object's destructor, after this pool would have been destroyed.

    // A slot, or null when the budget (less keepFree bytes, kept for another
    // pool in the same call) or the heap refuses.
    void* Allocate(std::size_t keepFree = 0) noexcept {
        if (m_free != nullptr) {
            void* slot = m_free;
            VESK_UNPOISON(slot, kSlot);
            m_free = *static_cast<void**>(slot);
            --m_freeCount;
            ++m_live;
            return slot;
        }
        if (m_bump == m_bumpEnd && !Grow(keepFree))
            return nullptr;
        void* slot = m_bump;
        m_bump += kSlot;
        VESK_UNPOISON(slot, kSlot);
        ++m_live;
        return slot;
    }

    void Free(void* slot) noexcept {
        *static_cast<void**>(slot) = m_free;
        VESK_POISON(slot, kSlot);
        m_free = slot;
        ++m_freeCount;
        --m_live;
    }

    std::size_t FreeSlots() const noexcept {
        return m_freeCount + static_cast<std::size_t>(m_bumpEnd - m_bump) / kSlot;
    }

    // Bytes the next Allocate may add to the pools: none if a slot is free,
    // else the smallest block that holds one record.
    std::size_t BytesToGrowByOne() const noexcept {
        return FreeSlots() > 0 ? 0 : sizeof(BlockHeader) + kSlot;
    }

    std::size_t Live() const noexcept { return m_live; }

    void ReleaseBlocks() noexcept {
        for (BlockHeader* block = m_blocks; block != nullptr;) {
            BlockHeader* next = block->next;
            VESK_UNPOISON(block, block->bytes);
            g_inUse -= block->bytes;
            if (block->bytes >= kLargeBlock)
                ::munmap(block, block->bytes);
            else
                std::free(block);
            block = next;
        }
        m_blocks = nullptr;
        m_bump = m_bumpEnd = nullptr;
        m_free = nullptr;
        m_freeCount = 0;
        m_records = 0;
    }

  private:
    bool Grow(std::size_t keepFree) noexcept {
        // Blocks double with the pool up to kMaxRecords; near the budget a
        // smaller block that still fits is taken instead of failing early.
        std::size_t records = std::clamp(m_records, kMinRecords, kMaxRecords);
        const std::size_t budget = Budget();
        const std::size_t used = g_inUse + keepFree + sizeof(BlockHeader);
        if (used >= budget)
            return false;
        records = std::min(records, (budget - used) / kSlot);
        if (records == 0)
            return false;
        std::size_t bytes = sizeof(BlockHeader) + records * kSlot;
        // Every kRecheckStep of growth, the next step must still fit into
        // what the system has left, whatever the budget said at start-up.
        if (g_inUse + bytes >= g_nextPoolRecheck) {
            if (!FitsAvailableNow(static_cast<double>(kRecheckStep)))
                return false;
            g_nextPoolRecheck = g_inUse + bytes + kRecheckStep;
        }
        BlockHeader* block;
        if (bytes >= kLargeBlock) {
            // Large blocks are mapped with their pages filled in at once: one
            // call instead of a page fault every 4 KiB while the model grows.
            bytes -= bytes % kPageSize;
            records = (bytes - sizeof(BlockHeader)) / kSlot;
            void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            block = map == MAP_FAILED ? nullptr : static_cast<BlockHeader*>(map);
        } else {
            block = static_cast<BlockHeader*>(std::malloc(bytes));
        }
        if (block == nullptr)
            return false;
        block->next = m_blocks;
        block->bytes = bytes;
        m_blocks = block;
        m_bump = reinterpret_cast<char*>(block + 1);
        m_bumpEnd = m_bump + records * kSlot;
        VESK_POISON(m_bump, records * kSlot);
        m_records += records;
        g_inUse += bytes;
        return true;
    }

    BlockHeader* m_blocks = nullptr;
    char* m_bump = nullptr;
    char* m_bumpEnd = nullptr;
    void* m_free = nullptr;
    std::size_t m_freeCount = 0;
    std::size_t m_live = 0;
    std::size_t m_records = 0;
};

// An attribute group with the bookkeeping FreeSuf needs to release groups
// shared between objects exactly once, without allocating.
struct AttributeRecord {
    TVESK_Attribute attribute;
    AttributeRecord* collectedNext = nullptr;
    bool collected = false;
};
static_assert(std::is_standard_layout_v<AttributeRecord>,
              "the group must sit at the start of its record");

AttributeRecord* RecordOf(TVESK_Attribute* attribute) {
    return reinterpret_cast<AttributeRecord*>(attribute);
}

Pool<TVESK_Object> g_objects;
Pool<AttributeRecord> g_attributes;
Pool<TVESK_Polygon> g_polygons;
Pool<TVESK_Vertex> g_vertices;

void ReleaseBlocksIfIdle() noexcept {
    if (g_objects.Live() == 0 && g_attributes.Live() == 0 && g_polygons.Live() == 0 &&
        g_vertices.Live() == 0) {
        g_objects.ReleaseBlocks();
        g_attributes.ReleaseBlocks();
        g_polygons.ReleaseBlocks();
        g_vertices.ReleaseBlocks();
        g_nextPoolRecheck = kRecheckStep;
    }
}

void DestroyVertex(TVESK_Vertex* vertex) noexcept {
    vertex->~TVESK_Vertex();
    g_vertices.Free(vertex);
}

void DestroyPolygon(TVESK_Polygon* polygon) noexcept {
    for (TVESK_Vertex* vertex = polygon->Vertices; vertex != nullptr;) {
        TVESK_Vertex* next = vertex->Next;
        DestroyVertex(vertex);
        vertex = next;
    }
    polygon->~TVESK_Polygon();
    g_polygons.Free(polygon);
}

void DestroyAttribute(AttributeRecord* record) noexcept {
    record->~AttributeRecord();
    g_attributes.Free(record);
}

TVESK_Attribute* FindAttribute(TVESK_Object* object, const std::string& name) noexcept {
    for (TVESK_Attribute* group = object->Attributes; group != nullptr; group = group->Next)
        if (group->Name == name)
            return group;
    return nullptr;
}

// A new group named name, not linked; null when out of memory.
TVESK_Attribute* CreateAttribute(const std::string& name) noexcept {
    void* slot = g_attributes.Allocate();
    if (slot == nullptr)
        return nullptr;
    auto* record = new (slot) AttributeRecord();
    try {
        record->attribute.Name = name;
    } catch (const std::bad_alloc&) {
        DestroyAttribute(record);
        return nullptr;
    }
    return &record->attribute;
}

} // namespace

// --- Builders ----------------------------------------------------------------

TVESK_Object* NewObject(const std::string& name) {
    if (void* slot = g_objects.Allocate()) {
        auto* object = new (slot) TVESK_Object();
        try {
            object->Name = name;
            return object;
        } catch (const std::bad_alloc&) {
            object->~TVESK_Object();
            g_objects.Free(object);
        }
    }
    SetOutOfMemory(kObjectWord, name, kObjectOutOfMemory);
    return nullptr;
}

// A polygon in the slot, or null with the message when there was no slot.
static TVESK_Polygon* PlacePolygon(void* slot, const TVESK_Object* object, TVESK_Attribute* group,
                                   std::uint8_t kind) {
    if (slot == nullptr) {
        SetOutOfMemory(kObjectWord, object->Name, kPolygonOutOfMemory);
        return nullptr;
    }
    auto* polygon = new (slot) TVESK_Polygon();
    polygon->Attribute = group;
    polygon->Kind = kind;
    return polygon;
}

TVESK_Polygon* NewPolygon(const std::string& atrName, std::uint8_t kind, TVESK_Object* object) {
    TVESK_Attribute* group = FindAttribute(object, atrName);
    // When a group must be made too, keep room for it in the budget, so that
    // a failure never leaves a block that this call grew for nothing.
    const std::size_t keep = group == nullptr ? g_attributes.BytesToGrowByOne() : 0;
    void* slot = g_polygons.Allocate(keep);
    if (slot != nullptr && group == nullptr) {
        group = CreateAttribute(atrName);
        if (group == nullptr) {
            g_polygons.Free(slot);
            slot = nullptr;
        } else {
            group->Next = object->Attributes;
            object->Attributes = group;
        }
    }
    return PlacePolygon(slot, object, group, kind);
}

TVESK_Attribute* FindOrAddAttribute(TVESK_Object* object, const std::string& name) {
    if (TVESK_Attribute* group = FindAttribute(object, name))
        return group;
    TVESK_Attribute* group = CreateAttribute(name);
    if (group == nullptr) {
        SetOutOfMemory(kObjectWord, object->Name, kPolygonOutOfMemory);
        return nullptr;
    }
    group->Next = object->Attributes;
    object->Attributes = group;
    return group;
}

TVESK_Polygon* NewPolygonIn(const TVESK_Object* object, TVESK_Attribute* group, std::uint8_t kind) {
    void* slot = g_polygons.Allocate();
    return PlacePolygon(slot, object, group, kind);
}

void AddPolygon(TVESK_Object* object, TVESK_Polygon* polygon) {
    polygon->Prev = nullptr;
    polygon->Next = object->Polygons;
    if (object->Polygons != nullptr)
        object->Polygons->Prev = polygon;
    object->Polygons = polygon;
}

TVESK_Vertex* NewVertex(double x, double y, double z, double nx, double ny, double nz, double u,
                        double v) {
    void* slot = g_vertices.Allocate();
    if (slot == nullptr) {
        SetOutOfMemory(kVertexOutOfMemory, {}, {});
        return nullptr;
    }
    return new (slot) TVESK_Vertex{nullptr, nullptr, x, y, z, nx, ny, nz, u, v};
}

void AddVertex(TVESK_Polygon* polygon, TVESK_Vertex* vertex) {
    vertex->Prev = nullptr;
    vertex->Next = polygon->Vertices;
    if (polygon->Vertices != nullptr)
        polygon->Vertices->Prev = vertex;
    polygon->Vertices = vertex;
}

void AppendPolygon(TVESK_Object* object, TVESK_Polygon*& last, TVESK_Polygon* polygon) {
    polygon->Next = nullptr;
    polygon->Prev = last;
    if (last != nullptr)
        last->Next = polygon;
    else
        object->Polygons = polygon;
    last = polygon;
}

void AppendVertex(TVESK_Polygon* polygon, TVESK_Vertex*& last, TVESK_Vertex* vertex) {
    vertex->Next = nullptr;
    vertex->Prev = last;
    if (last != nullptr)
        last->Next = vertex;
    else
        polygon->Vertices = vertex;
    last = vertex;
}

void FreeSuf(TVESK_Object*& chain) {
    if (chain == nullptr)
        return;
    // Collect every group once before anything is released. Lists may share
    // their tails in any pattern; a group already collected means the rest of
    // that list was collected with it, so each list walk stops there.
    AttributeRecord* groups = nullptr;
    for (TVESK_Object* object = chain; object != nullptr; object = object->Next) {
        for (TVESK_Attribute* group = object->Attributes; group != nullptr; group = group->Next) {
            AttributeRecord* record = RecordOf(group);
            if (record->collected)
                break;
            record->collected = true;
            record->collectedNext = groups;
            groups = record;
        }
    }
    for (TVESK_Object* object = chain; object != nullptr;) {
        TVESK_Object* next = object->Next;
        for (TVESK_Polygon* polygon = object->Polygons; polygon != nullptr;) {
            TVESK_Polygon* nextPolygon = polygon->Next;
            DestroyPolygon(polygon);
            polygon = nextPolygon;
        }
        object->~TVESK_Object();
        g_objects.Free(object);
        object = next;
    }
    while (groups != nullptr) {
        AttributeRecord* next = groups->collectedNext;
        DestroyAttribute(groups);
        groups = next;
    }
    chain = nullptr;
    ReleaseBlocksIfIdle();
}

void ReleasePolygon(TVESK_Polygon* polygon) {
    if (polygon == nullptr)
        return;
    DestroyPolygon(polygon);
    ReleaseBlocksIfIdle();
}

void ReleaseVertex(TVESK_Vertex* vertex) {
    if (vertex == nullptr)
        return;
    DestroyVertex(vertex);
    ReleaseBlocksIfIdle();
}

// --- Memory budget ---------------------------------------------------------------

std::size_t MemoryBudget() {
    return Budget();
}

void SetMemoryBudget(std::size_t bytes) {
    g_budget = bytes;
}

std::size_t MemoryInUse() {
    return g_inUse;
}

bool ModelWouldFit(std::uint64_t polygons, std::uint64_t vertices) {
    // Blocks shrink to fit near the budget, so a model fits when its records,
    // beyond the free slots, fit, plus a block header per block it needs and
    // room for the object and its group.
    auto bytesFor = [](std::uint64_t count, std::size_t freeSlots, std::size_t slot,
                       std::size_t perBlock) -> double {
        if (count <= freeSlots)
            return 0;
        const double more = static_cast<double>(count - freeSlots);
        const double blocks = more / static_cast<double>(perBlock) + 1;
        return more * static_cast<double>(slot) + blocks * static_cast<double>(sizeof(BlockHeader));
    };
    // An estimate in double, so that huge counts cannot wrap around.
    const double need = bytesFor(polygons, g_polygons.FreeSlots(), sizeof(TVESK_Polygon),
                                 Pool<TVESK_Polygon>::kMinRecords) +
                        bytesFor(vertices, g_vertices.FreeSlots(), sizeof(TVESK_Vertex),
                                 Pool<TVESK_Vertex>::kMinRecords) +
                        bytesFor(1, g_objects.FreeSlots(), sizeof(TVESK_Object), 1) +
                        bytesFor(1, g_attributes.FreeSlots(), sizeof(AttributeRecord), 1);
    return static_cast<double>(g_inUse) + need <= static_cast<double>(Budget());
}

std::size_t AvailableMemory() {
    if (const auto& source = AvailableSource())
        return source();
    if (const std::size_t available = SystemAvailableMemory(); available > 0)
        return available;
    return SIZE_MAX; // no figure: only the budget limits
}

void SetAvailableMemorySource(std::function<std::size_t()> source) {
    AvailableSource() = std::move(source);
}

bool MemoryClaim::fits() const {
    const double bytes = static_cast<double>(m_bytes);
    return static_cast<double>(MemoryInUse()) + bytes <= static_cast<double>(MemoryBudget()) &&
           FitsAvailableNow(bytes);
}

bool MemoryClaim::grow(std::uint64_t filled) {
    // The budget is a plain number and cheap to ask; a test may lower it mid-run.
    if (static_cast<double>(MemoryInUse()) + static_cast<double>(m_bytes) >
        static_cast<double>(MemoryBudget()))
        return false;
    if (filled < m_nextRecheck)
        return true;
    m_nextRecheck = filled + kRecheckStep;
    const std::uint64_t rest = m_bytes > filled ? m_bytes - filled : 0;
    return FitsAvailableNow(static_cast<double>(rest));
}

} // namespace vesk
