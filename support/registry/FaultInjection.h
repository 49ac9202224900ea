#pragma once

namespace Kestlib500 {
namespace FaultInjection {

// Test hook: lets tests prove that every layer above cleans up and unlocks
// when the registry throws. Only the test build of this layer (kestlib_faults,
// compiled with KESTLIB_FAULT_INJECTION) has it; in the shipped library
// ThrowIfArmed is empty and nothing of the hook is left.
#if defined(KESTLIB_FAULT_INJECTION)

// The next registry operation, on any thread, throws std::runtime_error
// instead of running.
void ThrowOnNextCall();

// Called first by every registry operation.
void ThrowIfArmed();

#else

// Inlined even without optimisation, so no symbol of it is left either.
__attribute__((always_inline)) inline void ThrowIfArmed() {}

#endif

} // namespace FaultInjection
} // namespace Kestlib500
