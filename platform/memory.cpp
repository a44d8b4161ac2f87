#include "platform/memory.hpp"

#if defined(__linux__)

#include <cstdint>
#include <sys/mman.h>

void advise_filled_whole(void* block, std::size_t size) {
    constexpr std::uintptr_t huge_page = std::uintptr_t{1} << 21;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = (start + size) & ~(huge_page - 1);
    // Only the whole huge pages inside the block; a hint, so its failure changes nothing.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

#else

void advise_filled_whole(void*, std::size_t) {}

#endif
