#pragma once

#include <cstddef>

namespace XEVTest {

/**
 * Counts the calls to malloc and its relatives (calloc, realloc, memalign,
 * aligned_alloc, posix_memalign), where operator new and the image library's
 * allocations end too, and can make a large allocation fail.
 *
 * MallocCounter.cpp replaces those functions for the whole program, so a test
 * program links it only when it runs without the sanitizers, which bring
 * allocators of their own.
 */
namespace MallocCounter {

/// Starts counting from zero.
void start();
/// Stops counting; returns the number of allocations since start().
std::size_t stop();
/// From now on, the @p nth allocation (1: the next) of at least @p bytes
/// fails as for a machine out of memory.
void failLargeAllocation(unsigned nth, std::size_t bytes);

} // namespace MallocCounter
} // namespace XEVTest
