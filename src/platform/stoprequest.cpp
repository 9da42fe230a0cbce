#include "platform/stoprequest.h"

#include <atomic>

namespace {
// Lock-free, so that a signal handler may set it.
std::atomic<bool> g_raised { false };
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

namespace StopRequest {

void raise()
{
    g_raised.store(true, std::memory_order_relaxed);
}

bool raised()
{
    return g_raised.load(std::memory_order_relaxed);
}

void clear()
{
    g_raised.store(false, std::memory_order_relaxed);
}

} // namespace StopRequest
