#pragma once
// How long a failed item waits before its next attempt.
#include <chrono>

namespace zorv {

// The longest wait between two attempts of an item, and the longest wait a
// server's Retry-After is followed for (a longer one is a server's mistake
// or a lie; the item tries again after this).
inline constexpr std::chrono::seconds kMaxRetryWait{600};
inline constexpr std::chrono::hours kMaxServerRetryAfter{24};

// The wait before the next attempt of an item that failed `failures` times:
// retryWait seconds (RetryWait; 0: none) doubled after every failure but the
// first, at most kMaxRetryWait; a second lasts `second`.
std::chrono::milliseconds RetryWaitAfter(unsigned failures, int retryWait, std::chrono::milliseconds second);
// A server's wait (capped at kMaxServerRetryAfter) with seconds that last `second`.
std::chrono::milliseconds ScaledWait(std::chrono::milliseconds serverWait, std::chrono::milliseconds second);

} // namespace zorv
