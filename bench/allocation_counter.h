// Counts every heap allocation of the process, so a benchmark can tell whether the code it
// measures allocates.
#pragma once

#include <cstdint>

namespace bench {

// Allocations (malloc, calloc, realloc, the aligned forms, and operator new through them) since
// the process started.
uint64_t HeapAllocations();

// False when this build cannot see allocations (not glibc): the count then stays 0.
bool CountsAllocations();

}  // namespace bench
