#include "endrequest.h"

#include <atomic>

namespace {

std::atomic<bool> g_raised { false };
static_assert(std::atomic<bool>::is_always_lock_free, "raised from a signal handler");

} // namespace

void EndRequest::raise() noexcept { g_raised.store(true, std::memory_order_relaxed); }

bool EndRequest::isRaised() noexcept { return g_raised.load(std::memory_order_relaxed); }

void EndRequest::clear() noexcept { g_raised.store(false, std::memory_order_relaxed); }
