#include "allocation_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>

namespace {
std::atomic<uint64_t> g_allocations{0};

void Count() {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace bench {

uint64_t HeapAllocations() {
    return g_allocations.load(std::memory_order_relaxed);
}

#if defined(__GLIBC__)
bool CountsAllocations() {
    return true;
}
#else
bool CountsAllocations() {
    return false;
}
#endif

}  // namespace bench

#if defined(__GLIBC__)
// glibc lets a program provide the allocation functions and still reach its own through the
// __libc_ names; operator new and the C++ library come through here too.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) noexcept {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) noexcept {
    Count();
    return __libc_realloc(pointer, size);
}

void free(void* pointer) noexcept {
    __libc_free(pointer);
}

void* memalign(size_t alignment, size_t size) noexcept {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
        return 22;  // EINVAL
    }
    Count();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return 12;  // ENOMEM
    }
    *result = pointer;
    return 0;
}
}
#endif
