#include "platform/memory.hpp"

#if defined(__linux__)

#include <sys/mman.h>
#include <cstdint>

void advise_filled_whole(void* block, std::size_t size) {
    constexpr std::size_t huge_page = std::size_t{1} << 21;
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(block) % huge_page;
    const std::size_t lead = (huge_page - misalignment) % huge_page;
    // Only the whole huge pages inside the block; a hint, so its failure changes nothing.
    if (size >= lead + huge_page)
        madvise(static_cast<char*>(block) + lead, (size - lead) / huge_page * huge_page, MADV_HUGEPAGE);
}

#else

void advise_filled_whole(void*, std::size_t) {}

#endif
