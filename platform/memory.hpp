// Memory hints that only some systems take.
#pragma once

#include <cstddef>

// Tells the system that the block is about to be written whole, so that it
// can back it with large pages: filling a large block page by page costs
// more in faults than the reading itself.
void advise_filled_whole(void* block, std::size_t size);
