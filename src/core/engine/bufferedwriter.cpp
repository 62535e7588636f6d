#include "engine/bufferedwriter.h"

#include "engine/partfile.h"

namespace zorv {

bool CBufferedWriter::Put(const char* data, std::size_t n)
{
    if (!m_sink(data, n))
        m_stopped = true;
    return !m_stopped;
}

bool CBufferedWriter::Flush()
{
    if (m_buffer.empty())
        return !m_stopped;
    const bool ok = !m_stopped && Put(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

void CBufferedWriter::FlushIfHeld(Clock::time_point now)
{
    if (!m_buffer.empty() && now - m_firstBuffered >= kMaxBufferHold)
        Flush();
}

bool CBufferedWriter::Add(const char* data, std::size_t n, Clock::time_point now)
{
    if (m_stopped)
        return false;
    if (m_buffer.empty() && n >= kDirectWrite)
        return Put(data, n);
    if (m_buffer.size() + n > kWriteBuffer && !Flush())
        return false;
    if (m_buffer.empty())
        m_firstBuffered = now;
    m_buffer.insert(m_buffer.end(), data, data + n);
    // A slow transfer does not keep its bytes from the file (and its record) for long.
    return now - m_firstBuffered < kMaxBufferHold || Flush();
}

} // namespace zorv
