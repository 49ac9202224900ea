#pragma once

namespace Kestlib500 {
namespace FaultInjection {

// Test hook: the next registry operation, on any thread, throws
// std::runtime_error instead of running. Lets tests prove that every layer
// above cleans up and unlocks when the registry throws.
void ThrowOnNextCall();

// Called first by every registry operation.
void ThrowIfArmed();

} // namespace FaultInjection
} // namespace Kestlib500
