// Large blocks on transparent huge pages. A big run fills a few hundred MB
// of fresh memory (the mesh, the writers' text), and with 4 KiB pages the
// kernel's page faults took about a third of the run's processor time. This
// program's allocations of kBigBlock bytes and more are aligned to 2 MiB and
// marked for huge pages before they are first touched; all others go to
// malloc as they would. Sanitizer builds keep their own operator new.

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TALORIN_OWN_NEW 1
#endif
#endif
#if !defined(TALORIN_SANITIZE) && !defined(TALORIN_TSAN) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__) && !defined(TALORIN_OWN_NEW)

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kBigBlock = std::size_t{8} << 20;

void* Allocate(std::size_t size) noexcept {
    if (size < kBigBlock)
        return std::malloc(size == 0 ? 1 : size);
    const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
    void* block = std::aligned_alloc(kHugePage, rounded);
    // Only advice: where the kernel has no huge pages, ordinary ones serve.
    if (block)
        (void)::madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

} // namespace

void* operator new(std::size_t size) {
    if (void* block = Allocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

#endif
