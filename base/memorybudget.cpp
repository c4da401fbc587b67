// The memory budget and the bytes charged to it. All of it is atomic or
// behind a lock: a run on a worker thread asks the budget while the window's
// thread builds or frees a model.

#include "base/memorybudget.h"

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <unistd.h>

namespace vesk {

namespace {

constexpr double kBudgetShare = 0.7;

std::atomic<std::size_t> g_budget{0}; // 0: not set, use the default
std::atomic<std::size_t> g_inUse{0};  // bytes charged
// The bytes held at which ChargeMemory next re-reads the memory available.
std::atomic<std::size_t> g_nextRecheck{kRecheckStep};

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

// The test's source of the memory available, if any; asked rarely (every
// kRecheckStep), so a lock costs nothing.
struct AvailableSource {
    std::mutex lock;
    std::function<std::size_t()> source;
};

AvailableSource& Source() {
    static AvailableSource source;
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

} // namespace

std::size_t MemoryBudget() {
    const std::size_t budget = g_budget.load(std::memory_order_relaxed);
    return budget != 0 ? budget : DefaultBudget();
}

void SetMemoryBudget(std::size_t bytes) {
    g_budget.store(bytes, std::memory_order_relaxed);
}

std::size_t AvailableMemory() {
    std::function<std::size_t()> source;
    {
        AvailableSource& s = Source();
        const std::lock_guard hold(s.lock);
        source = s.source;
    }
    if (source)
        return source();
    if (const std::size_t available = SystemAvailableMemory(); available > 0)
        return available;
    return SIZE_MAX; // no figure: only the budget limits
}

void SetAvailableMemorySource(std::function<std::size_t()> source) {
    AvailableSource& s = Source();
    const std::lock_guard hold(s.lock);
    s.source = std::move(source);
}

std::size_t MemoryInUse() {
    return g_inUse.load(std::memory_order_relaxed);
}

std::size_t MemoryRoom(std::size_t keepFree) {
    const std::size_t budget = MemoryBudget();
    const std::size_t used = MemoryInUse() + keepFree;
    return used < budget ? budget - used : 0;
}

bool ChargeMemory(std::size_t bytes) {
    const std::size_t budget = MemoryBudget();
    std::size_t used = g_inUse.load(std::memory_order_relaxed);
    do {
        if (used > budget || bytes > budget - used)
            return false;
    } while (!g_inUse.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    const std::size_t held = used + bytes;
    // Every kRecheckStep of growth, the next step must still fit into what
    // the system has left, whatever the budget said at start-up. Whoever
    // crosses the mark checks; the mark only moves forward here.
    std::size_t next = g_nextRecheck.load(std::memory_order_relaxed);
    if (held < next)
        return true;
    if (!FitsAvailableNow(static_cast<double>(kRecheckStep))) {
        g_inUse.fetch_sub(bytes, std::memory_order_relaxed);
        return false;
    }
    const std::size_t mark = held + kRecheckStep;
    while (next < mark &&
           !g_nextRecheck.compare_exchange_weak(next, mark, std::memory_order_relaxed)) {
    }
    return true;
}

void ReleaseMemory(std::size_t bytes) {
    const std::size_t held = g_inUse.fetch_sub(bytes, std::memory_order_relaxed) - bytes;
    const std::size_t mark = held + kRecheckStep;
    std::size_t next = g_nextRecheck.load(std::memory_order_relaxed);
    while (next > mark &&
           !g_nextRecheck.compare_exchange_weak(next, mark, std::memory_order_relaxed)) {
    }
}

bool FitsBeside(std::uint64_t held, std::uint64_t more) {
    return static_cast<double>(MemoryInUse()) + static_cast<double>(held) +
                   static_cast<double>(more) <=
               static_cast<double>(MemoryBudget()) &&
           FitsAvailableNow(static_cast<double>(more));
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
