// Heap allocations made on the calling host thread, counted by the bench's own operator new (every
// library and module of the device included), for benchmarks that report allocations per call.
// The device's threads all run on the host thread that runs the device.
#pragma once

#include <cstdint>

uint64_t HeapAllocations();
