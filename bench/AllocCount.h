// Heap allocations of the whole bench process, counted by its own operator new (every library
// and module of the device included), for benchmarks that report allocations per call.
#pragma once

#include <cstdint>

uint64_t HeapAllocations();
