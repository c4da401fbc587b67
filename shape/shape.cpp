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
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <thread>
#include <type_traits>
#include <unistd.h>

#include "base/messages.h"
#include "base/sjis.h"

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

// Message parts, as CP932 bytes (the model's text is Shift-JIS), kept as
// constants so that reporting a lack of memory allocates nothing more than
// the text itself. The English ones are ASCII, the same bytes in CP932.
struct OutOfMemoryText {
    std::string_view head; // before the object's name
    std::string_view tail; // after it
};
// "オブジェクト" name "作成中にメモリーが枯渇しました。"
constexpr OutOfMemoryText kObjectOutOfMemory{
    "\x83\x49\x83\x75\x83\x57\x83\x46\x83\x4e\x83\x67",
    "\x8d\xec\x90\xac\x92\x86\x82\xc9\x83\x81\x83\x82\x83\x8a\x81\x5b\x82\xaa\x8c\xcd\x8a\x89"
    "\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42"};
// "オブジェクト" name "のポリゴン作成中にメモリーが枯渇しました。"
constexpr OutOfMemoryText kPolygonOutOfMemory{
    kObjectOutOfMemory.head,
    "\x82\xcc\x83\x7c\x83\x8a\x83\x53\x83\x93\x8d\xec\x90\xac\x92\x86\x82\xc9\x83\x81\x83\x82"
    "\x83\x8a\x81\x5b\x82\xaa\x8c\xcd\x8a\x89\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42"};
// "頂点データ作成中にメモリーが枯渇しました。"
constexpr OutOfMemoryText kVertexOutOfMemory{
    "\x92\xb8\x93\x5f\x83\x66\x81\x5b\x83\x5e\x8d\xec\x90\xac\x92\x86\x82\xc9\x83\x81\x83\x82"
    "\x83\x8a\x81\x5b\x82\xaa\x8c\xcd\x8a\x89\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42",
    {}};
constexpr OutOfMemoryText kObjectOutOfMemoryEnglish{"Out of memory while making the object ",
                                                    "."};
constexpr OutOfMemoryText kPolygonOutOfMemoryEnglish{
    "Out of memory while making a polygon of the object ", "."};
constexpr OutOfMemoryText kVertexOutOfMemoryEnglish{"Out of memory while making vertex data.", {}};

// Sets SufError to text around name in the program's language without
// letting a failed allocation escape: an out-of-memory report must not itself
// throw. Falls back to the text without the name.
void SetOutOfMemory(const OutOfMemoryText& japanese, const OutOfMemoryText& english,
                    std::string_view name) noexcept {
    const bool inEnglish = talorin::ProgramLanguage() == talorin::Language::English;
    const OutOfMemoryText& text = inEnglish ? english : japanese;
    try {
        std::string message;
        message.reserve(text.head.size() + name.size() + text.tail.size());
        message.append(text.head).append(name).append(text.tail);
        SufError = std::move(message);
    } catch (const std::bad_alloc&) {
        try {
            // Without the name, the English head's closing space goes too.
            std::string_view head = text.head;
            if (head.ends_with(' '))
                head.remove_suffix(1);
            SufError.assign(head).append(text.tail);
        } catch (const std::bad_alloc&) {
            SufError.clear();
        }
    }
}

// --- Lock -------------------------------------------------------------------

// One lock for all pools, held for a single allocation or release, or for a
// whole FreeSuf: uncontended it costs one atomic exchange, far less than what
// the reader does per vertex. Contention is rare, so waiting just yields.
class PoolLock {
  public:
    PoolLock() {
        while (s_held.exchange(true, std::memory_order_acquire))
            std::this_thread::yield();
    }
    ~PoolLock() { s_held.store(false, std::memory_order_release); }
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;

  private:
    static inline std::atomic<bool> s_held{false};
};

// --- Pools -----------------------------------------------------------------

constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
constexpr std::size_t kPageSize = 4096;

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Maps bytes (a multiple of kPageSize) with every page filled in at once: one
// call instead of a fault every 4 KiB while the model grows. A block of whole
// huge pages starts on a huge-page boundary and asks for huge pages, which
// makes the first write to each record several times cheaper (fewer faults and
// TLB misses, most of all under a hypervisor). Null when the system refuses.
void* MapLargeBlock(std::size_t bytes) noexcept {
    if (bytes % kHugePage != 0) {
        void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        return map == MAP_FAILED ? nullptr : map;
    }
    // Over-map by one huge page and cut off what lies outside the aligned span.
    void* map = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return nullptr;
    char* const raw = static_cast<char*>(map);
    char* const start = raw + (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) %
                                  kHugePage;
    if (start != raw)
        ::munmap(raw, static_cast<std::size_t>(start - raw));
    if (const std::size_t tail = static_cast<std::size_t>(raw + kHugePage - start); tail > 0)
        ::munmap(start + bytes, tail);
    // Both are advice, as MAP_POPULATE is: where a kernel refuses, the pages
    // are filled in on first use.
    ::madvise(start, bytes, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    ::madvise(start, bytes, MADV_POPULATE_WRITE);
#endif
    return start;
}

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

    // Up to n slots that need no new block, free ones first, into out;
    // returns how many.
    std::size_t TakeSpare(void** out, std::size_t n) noexcept {
        std::size_t k = 0;
        for (; k < n && m_free != nullptr; ++k) {
            void* slot = m_free;
            VESK_UNPOISON(slot, kSlot);
            m_free = *static_cast<void**>(slot);
            --m_freeCount;
            out[k] = slot;
        }
        for (; k < n && m_bump != m_bumpEnd; ++k) {
            VESK_UNPOISON(m_bump, kSlot);
            out[k] = m_bump;
            m_bump += kSlot;
        }
        m_live += k;
        return k;
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
            ReleaseMemory(block->bytes);
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
        records = std::min(records, MemoryRoom(keepFree + sizeof(BlockHeader)) / kSlot);
        if (records == 0)
            return false;
        std::size_t bytes = sizeof(BlockHeader) + records * kSlot;
        const bool large = bytes >= kLargeBlock;
        if (large) {
            // Whole huge pages where the block spans some, else whole pages.
            bytes -= bytes % (bytes >= kHugePage ? kHugePage : kPageSize);
            records = (bytes - sizeof(BlockHeader)) / kSlot;
        }
        // The charge also re-checks the memory the system has left, every
        // kRecheckStep of growth.
        if (!ChargeMemory(bytes))
            return false;
        BlockHeader* block;
        if (large) {
            block = static_cast<BlockHeader*>(MapLargeBlock(bytes));
        } else {
            block = static_cast<BlockHeader*>(std::malloc(bytes));
        }
        if (block == nullptr) {
            ReleaseMemory(bytes);
            return false;
        }
        block->next = m_blocks;
        block->bytes = bytes;
        m_blocks = block;
        m_bump = reinterpret_cast<char*>(block + 1);
        m_bumpEnd = m_bump + records * kSlot;
        VESK_POISON(m_bump, records * kSlot);
        m_records += records;
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

// Functions named ...Held expect the caller to hold PoolLock.

void ReleaseBlocksIfIdleHeld() noexcept {
    if (g_objects.Live() == 0 && g_attributes.Live() == 0 && g_polygons.Live() == 0 &&
        g_vertices.Live() == 0) {
        g_objects.ReleaseBlocks();
        g_attributes.ReleaseBlocks();
        g_polygons.ReleaseBlocks();
        g_vertices.ReleaseBlocks();
    }
}

void DestroyVertexHeld(TVESK_Vertex* vertex) noexcept {
    vertex->~TVESK_Vertex();
    g_vertices.Free(vertex);
}

void DestroyPolygonHeld(TVESK_Polygon* polygon) noexcept {
    for (TVESK_Vertex* vertex = polygon->Vertices; vertex != nullptr;) {
        TVESK_Vertex* next = vertex->Next;
        DestroyVertexHeld(vertex);
        vertex = next;
    }
    polygon->~TVESK_Polygon();
    g_polygons.Free(polygon);
}

void DestroyAttributeHeld(AttributeRecord* record) noexcept {
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
TVESK_Attribute* CreateAttributeHeld(const std::string& name) noexcept {
    void* slot = g_attributes.Allocate();
    if (slot == nullptr)
        return nullptr;
    auto* record = new (slot) AttributeRecord();
    try {
        record->attribute.Name = name;
    } catch (const std::bad_alloc&) {
        DestroyAttributeHeld(record);
        return nullptr;
    }
    return &record->attribute;
}

template <typename T> void* AllocateSlot(Pool<T>& pool) noexcept {
    const PoolLock hold;
    return pool.Allocate();
}

} // namespace

// --- Allocation without a message -----------------------------------------------

namespace detail {

TVESK_Object* TryNewObject(const std::string& name) noexcept {
    void* slot = AllocateSlot(g_objects);
    if (slot == nullptr)
        return nullptr;
    auto* object = new (slot) TVESK_Object();
    try {
        object->Name = name;
        return object;
    } catch (const std::bad_alloc&) {
        const PoolLock hold;
        object->~TVESK_Object();
        g_objects.Free(object);
        return nullptr;
    }
}

TVESK_Attribute* TryNewAttribute(const std::string& name) noexcept {
    const PoolLock hold;
    return CreateAttributeHeld(name);
}

TVESK_Polygon* TryNewPolygon(TVESK_Attribute* group, std::uint8_t kind) noexcept {
    void* slot = AllocateSlot(g_polygons);
    if (slot == nullptr)
        return nullptr;
    auto* polygon = new (slot) TVESK_Polygon();
    polygon->Attribute = group;
    polygon->Kind = kind;
    return polygon;
}

TVESK_Vertex* TryNewVertex(double x, double y, double z, double nx, double ny, double nz, double u,
                           double v) noexcept {
    void* slot = AllocateSlot(g_vertices);
    if (slot == nullptr)
        return nullptr;
    return new (slot) TVESK_Vertex{nullptr, nullptr, x, y, z, nx, ny, nz, u, v};
}

namespace {

// Refills an empty batch: the slots the pool has spare, or, when it has none,
// the one that a new block makes, exactly when record-by-record allocation
// would grow the pool.
template <typename T>
std::size_t Refill(Pool<T>& pool, void** slots, std::size_t capacity) noexcept {
    const PoolLock hold;
    if (const std::size_t taken = pool.TakeSpare(slots, capacity); taken > 0) {
        // Handed out from the end: reversed, records follow each other in
        // memory in the order the reader makes them, as from the pool itself.
        std::reverse(slots, slots + taken);
        return taken;
    }
    slots[0] = pool.Allocate();
    return slots[0] != nullptr ? 1 : 0;
}

} // namespace

RecordBatch::~RecordBatch() {
    const PoolLock hold;
    while (m_polygonCount > 0)
        g_polygons.Free(m_polygons[--m_polygonCount]);
    while (m_vertexCount > 0)
        g_vertices.Free(m_vertices[--m_vertexCount]);
    ReleaseBlocksIfIdleHeld();
}

TVESK_Polygon* RecordBatch::TryNewPolygon(TVESK_Attribute* group, std::uint8_t kind) noexcept {
    if (m_polygonCount == 0 && (m_polygonCount = Refill(g_polygons, m_polygons, kBatch)) == 0)
        return nullptr;
    auto* polygon = new (m_polygons[--m_polygonCount]) TVESK_Polygon();
    polygon->Attribute = group;
    polygon->Kind = kind;
    return polygon;
}

TVESK_Vertex* RecordBatch::TryNewVertex() noexcept {
    if (m_vertexCount == 0 && (m_vertexCount = Refill(g_vertices, m_vertices, kBatch)) == 0)
        return nullptr;
    return new (m_vertices[--m_vertexCount]) TVESK_Vertex();
}

void SetSufError(std::string_view utf8) noexcept {
    try {
        SufError = Cp932ForMessage(utf8);
    } catch (...) {
        SufError.clear();
    }
}

} // namespace detail

// --- Builders ----------------------------------------------------------------

TVESK_Object* NewObject(const std::string& name) {
    if (TVESK_Object* object = detail::TryNewObject(name))
        return object;
    SetOutOfMemory(kObjectOutOfMemory, kObjectOutOfMemoryEnglish, name);
    return nullptr;
}

TVESK_Polygon* NewPolygon(const std::string& atrName, std::uint8_t kind, TVESK_Object* object) {
    TVESK_Attribute* group = FindAttribute(object, atrName);
    const bool made = group == nullptr;
    void* slot = nullptr;
    {
        const PoolLock hold;
        // When a group must be made too, keep room for it in the budget, so
        // that a failure never leaves a block that this call grew for nothing.
        const std::size_t keep = group == nullptr ? g_attributes.BytesToGrowByOne() : 0;
        slot = g_polygons.Allocate(keep);
        if (slot != nullptr && group == nullptr) {
            group = CreateAttributeHeld(atrName);
            if (group == nullptr) {
                g_polygons.Free(slot);
                slot = nullptr;
            }
        }
    }
    if (slot == nullptr) {
        SetOutOfMemory(kPolygonOutOfMemory, kPolygonOutOfMemoryEnglish, object->Name);
        return nullptr;
    }
    if (made) {
        group->Next = object->Attributes;
        object->Attributes = group;
    }
    auto* polygon = new (slot) TVESK_Polygon();
    polygon->Attribute = group;
    polygon->Kind = kind;
    return polygon;
}

TVESK_Attribute* FindOrAddAttribute(TVESK_Object* object, const std::string& name) {
    if (TVESK_Attribute* group = FindAttribute(object, name))
        return group;
    TVESK_Attribute* group = detail::TryNewAttribute(name);
    if (group == nullptr) {
        SetOutOfMemory(kPolygonOutOfMemory, kPolygonOutOfMemoryEnglish, object->Name);
        return nullptr;
    }
    group->Next = object->Attributes;
    object->Attributes = group;
    return group;
}

TVESK_Polygon* NewPolygonIn(const TVESK_Object* object, TVESK_Attribute* group, std::uint8_t kind) {
    if (TVESK_Polygon* polygon = detail::TryNewPolygon(group, kind))
        return polygon;
    SetOutOfMemory(kPolygonOutOfMemory, kPolygonOutOfMemoryEnglish, object->Name);
    return nullptr;
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
    if (TVESK_Vertex* vertex = detail::TryNewVertex(x, y, z, nx, ny, nz, u, v))
        return vertex;
    SetOutOfMemory(kVertexOutOfMemory, kVertexOutOfMemoryEnglish, {});
    return nullptr;
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
    const PoolLock hold;
    for (TVESK_Object* object = chain; object != nullptr;) {
        TVESK_Object* next = object->Next;
        for (TVESK_Polygon* polygon = object->Polygons; polygon != nullptr;) {
            TVESK_Polygon* nextPolygon = polygon->Next;
            DestroyPolygonHeld(polygon);
            polygon = nextPolygon;
        }
        object->~TVESK_Object();
        g_objects.Free(object);
        object = next;
    }
    while (groups != nullptr) {
        AttributeRecord* next = groups->collectedNext;
        DestroyAttributeHeld(groups);
        groups = next;
    }
    chain = nullptr;
    ReleaseBlocksIfIdleHeld();
}

void ReleasePolygon(TVESK_Polygon* polygon) {
    if (polygon == nullptr)
        return;
    const PoolLock hold;
    DestroyPolygonHeld(polygon);
    ReleaseBlocksIfIdleHeld();
}

void ReleaseVertex(TVESK_Vertex* vertex) {
    if (vertex == nullptr)
        return;
    const PoolLock hold;
    DestroyVertexHeld(vertex);
    ReleaseBlocksIfIdleHeld();
}

// --- Memory budget ---------------------------------------------------------------

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
    const PoolLock hold;
    // An estimate in double, so that huge counts cannot wrap around.
    const double need = bytesFor(polygons, g_polygons.FreeSlots(), sizeof(TVESK_Polygon),
                                 Pool<TVESK_Polygon>::kMinRecords) +
                        bytesFor(vertices, g_vertices.FreeSlots(), sizeof(TVESK_Vertex),
                                 Pool<TVESK_Vertex>::kMinRecords) +
                        bytesFor(1, g_objects.FreeSlots(), sizeof(TVESK_Object), 1) +
                        bytesFor(1, g_attributes.FreeSlots(), sizeof(AttributeRecord), 1);
    return static_cast<double>(MemoryInUse()) + need <= static_cast<double>(MemoryBudget());
}

} // namespace vesk
