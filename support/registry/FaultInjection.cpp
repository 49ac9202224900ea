#include "support/registry/FaultInjection.h"

#include <atomic>
#include <stdexcept>

namespace Kestlib500 {
namespace FaultInjection {
namespace {
std::atomic<bool> armed{false};
}

void ThrowOnNextCall() { armed.store(true); }

void ThrowIfArmed()
{
    if (armed.load(std::memory_order_relaxed) && armed.exchange(false))
        throw std::runtime_error("registry failure injected by a test");
}

} // namespace FaultInjection
} // namespace Kestlib500
