#pragma once
// The memory budget. Linux overcommits memory, so an allocation rarely fails
// before the kernel kills the process. Whatever holds a lot of memory (the
// shape model's pools, a generator run, a writer's text) therefore refuses to
// grow past a budget, which is treated exactly like running out of memory.
// Every function here may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vesk {

// The budget in bytes. By default a safe share of the machine's available
// physical memory, read once at first use.
std::size_t MemoryBudget();
// Sets the budget (tests use small ones); 0 restores the default.
void SetMemoryBudget(std::size_t bytes);

// The budget is fixed at start-up, but other processes take memory too: two
// big runs started together both fit on paper. So whatever grows re-reads the
// memory really available every kRecheckStep bytes, and refuses when what it
// still needs is more than a safe share of that.
inline constexpr std::size_t kRecheckStep = std::size_t{64} << 20;

// The memory the system can still give now, in bytes (MemAvailable).
std::size_t AvailableMemory();
// Replaces the source of AvailableMemory (tests simulate other processes);
// an empty function restores the system's figure.
void SetAvailableMemorySource(std::function<std::size_t()> source);

// Bytes held now by the holders that charge the budget (the shape pools'
// blocks, used or free).
std::size_t MemoryInUse();

// Bytes that may still be charged while keepFree bytes stay free for
// something else; 0 when nothing is left.
std::size_t MemoryRoom(std::size_t keepFree = 0);

// Charges bytes to MemoryInUse when they fit the budget and, every
// kRecheckStep bytes held, a safe share of the memory available now. False,
// with nothing charged, otherwise. Two callers can never both pass the budget.
bool ChargeMemory(std::size_t bytes);

// Gives back bytes that ChargeMemory took. When little is held any more,
// the next re-check of the memory available comes one step from here.
void ReleaseMemory(std::size_t bytes);

// Whether more bytes fit beside held bytes that a run already holds without
// charging them (a finished mesh): held + more within the budget less what is
// in use, and more within the safe share of the memory available now (which
// already lacks held).
bool FitsBeside(std::uint64_t held, std::uint64_t more);

// A claim on memory that a run fills step by step, knowing its total up front
// (the mesh generator). A claim belongs to one run on one thread; the budget
// it asks may change meanwhile.
class MemoryClaim {
  public:
    explicit MemoryClaim(std::uint64_t bytes) : m_bytes(bytes) {}

    // Whether the whole claim fits now: within the budget less what is in
    // use, and within the safe share of the memory available.
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
