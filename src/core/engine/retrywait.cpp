#include "engine/retrywait.h"

#include <algorithm>
#include <cstdint>

namespace zorv {

std::chrono::milliseconds RetryWaitAfter(unsigned failures, int retryWait, std::chrono::milliseconds second)
{
    if (retryWait <= 0 || failures == 0)
        return {};
    // Doubled after every failure, at most kMaxRetryWait: the doubling
    // stops once the cap is reached, so it never overflows.
    std::int64_t seconds = retryWait;
    for (unsigned n = 1; n < failures && seconds < kMaxRetryWait.count(); ++n)
        seconds *= 2;
    seconds = std::min<std::int64_t>(seconds, kMaxRetryWait.count());
    return second * seconds;
}

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds serverWait, std::chrono::milliseconds second)
{
    const auto capped = std::min<std::chrono::milliseconds>(serverWait, kMaxServerRetryAfter);
    return std::chrono::milliseconds(capped.count() * second.count() / 1000);
}

} // namespace zorv
