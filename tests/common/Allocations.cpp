#include "common/Allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> made{0};
std::atomic<long long> untilFailure{-1};

void* Allocate(std::size_t size)
{
    if (untilFailure.load() >= 0 && untilFailure.fetch_sub(1) == 0)
        throw std::bad_alloc();
    ++made;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
} // namespace

namespace Allocations {
void FailAfter(std::size_t count) { untilFailure.store(static_cast<long long>(count)); }
void StopFailing() { untilFailure.store(-1); }
std::size_t Count() { return made.load(); }
} // namespace Allocations

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
