#pragma once

#include <cstddef>

// Linking common/Allocations.cpp into a test program replaces the global
// operator new and delete, so a test can make an allocation fail on purpose
// and count the allocations a piece of code makes.
namespace Allocations {

// The allocation after `count` more succeed throws std::bad_alloc (once).
void FailAfter(std::size_t count);
// Disarms FailAfter when the allocation it aimed at never came.
void StopFailing();
// Allocations made so far by this process.
std::size_t Count();

} // namespace Allocations
