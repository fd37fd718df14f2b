// Counts the unit test program's heap allocations, so tests can show that a
// piece of the library takes nothing from the heap.
#pragma once

namespace heapcount {

// False under AddressSanitizer, whose own allocator stays in place.
bool counting();
unsigned long allocations();

}  // namespace heapcount
