// Replaces malloc and its relatives for the whole test program: counts them,
// and fails one large allocation on request.

#include "MallocCounter.h"

#include <atomic>
#include <cerrno>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* memory);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_allocations{0};
std::atomic<unsigned> g_largeUntilFailure{0};
std::atomic<std::size_t> g_largeBytes{0};

/// Counts one allocation of @p size bytes; false when it must fail.
bool admit(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (g_largeUntilFailure.load(std::memory_order_relaxed) == 0 ||
        size < g_largeBytes.load(std::memory_order_relaxed))
        return true;
    return g_largeUntilFailure.fetch_sub(1) != 1;
}

} // namespace

namespace XEVTest {
namespace MallocCounter {

void start() {
    g_allocations.store(0);
    g_counting.store(true);
}

std::size_t stop() {
    g_counting.store(false);
    return g_allocations.load();
}

void failLargeAllocation(unsigned nth, std::size_t bytes) {
    g_largeBytes.store(bytes);
    g_largeUntilFailure.store(nth);
}

} // namespace MallocCounter
} // namespace XEVTest

extern "C" {
void* malloc(std::size_t size) {
    return admit(size) ? __libc_malloc(size) : nullptr;
}
void* calloc(std::size_t n, std::size_t size) {
    return admit(n * size) ? __libc_calloc(n, size) : nullptr;
}
void* realloc(void* memory, std::size_t size) {
    return admit(size) ? __libc_realloc(memory, size) : nullptr;
}
void* memalign(std::size_t alignment, std::size_t size) {
    return admit(size) ? __libc_memalign(alignment, size) : nullptr;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    return admit(size) ? __libc_memalign(alignment, size) : nullptr;
}
int posix_memalign(void** memory, std::size_t alignment, std::size_t size) {
    void* p = admit(size) ? __libc_memalign(alignment, size) : nullptr;
    if (p == nullptr)
        return ENOMEM;
    *memory = p;
    return 0;
}
void free(void* memory) {
    __libc_free(memory);
}
}
