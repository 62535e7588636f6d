#include "engine/ratelimit.h"

#include <algorithm>

namespace zorv {

namespace {
// Bytes may arrive this much ahead of the limit after an idle moment (a
// burst), so that a short pause does not cost throughput.
constexpr auto kBurst = std::chrono::milliseconds(100);
} // namespace

CRateLimiter& CRateLimiter::Global()
{
    static CRateLimiter limiter;
    return limiter;
}

void CRateLimiter::SetRate(std::uint64_t bytesPerSecond)
{
    std::scoped_lock lock(m_lock);
    if (m_rate == bytesPerSecond)
        return;
    m_rate = bytesPerSecond;
    m_limited.store(bytesPerSecond != 0, std::memory_order_relaxed);
    m_next = Clock::now();
}

std::uint64_t CRateLimiter::Rate() const
{
    std::scoped_lock lock(m_lock);
    return m_rate;
}

bool CRateLimiter::Ready() const
{
    if (!m_limited.load(std::memory_order_relaxed))
        return true;
    std::scoped_lock lock(m_lock);
    return m_rate == 0 || m_next <= Clock::now();
}

void CRateLimiter::Book(std::size_t n)
{
    std::scoped_lock lock(m_lock);
    if (m_rate == 0)
        return;
    m_next = std::max(m_next, Clock::now() - kBurst);
    m_next += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(n) / static_cast<double>(m_rate)));
}

void ApplySpeedLimit(int kibPerSecond)
{
    CRateLimiter::Global().SetRate(kibPerSecond > 0 ? static_cast<std::uint64_t>(kibPerSecond) * 1024 : 0);
}

} // namespace zorv
