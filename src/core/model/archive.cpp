#include "model/archive.h"

#include "model/text.h"

#include <cstring>

namespace zorv {

void CArchiveWriter::WriteU16(std::uint16_t v)
{
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    m_out.append(b, 2);
}

void CArchiveWriter::WriteU32(std::uint32_t v)
{
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    m_out.append(b, 4);
}

void CArchiveWriter::WriteI32(std::int32_t v)
{
    WriteU32(static_cast<std::uint32_t>(v));
}

void CArchiveWriter::WriteBytes(const char* data, std::size_t n)
{
    m_out.append(data, static_cast<qsizetype>(n));
}

void CArchiveWriter::WriteString(const std::string& s)
{
    const std::size_t n = s.size();
    if (n < 255) {
        const char b = char(n);
        m_out.append(&b, 1);
    } else if (n < 0xFFFE) {
        m_out.append('\xFF');
        WriteU16(static_cast<std::uint16_t>(n));
    } else {
        m_out.append('\xFF');
        WriteU16(0xFFFF);
        WriteU32(static_cast<std::uint32_t>(n));
    }
    WriteBytes(s.data(), n);
}

const char* CArchiveReader::Take(std::size_t n)
{
    if (Remaining() < n)
        throw CArchiveError("ファイルが途中で終わっています");
    const char* p = m_p;
    m_p += n;
    return p;
}

std::uint16_t CArchiveReader::ReadU16()
{
    const auto* p = reinterpret_cast<const unsigned char*>(Take(2));
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t CArchiveReader::ReadU32()
{
    const auto* p = reinterpret_cast<const unsigned char*>(Take(4));
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
        | (std::uint32_t(p[3]) << 24);
}

std::int32_t CArchiveReader::ReadI32()
{
    return static_cast<std::int32_t>(ReadU32());
}

std::string CArchiveReader::ReadRaw(std::size_t n)
{
    const char* p = Take(n);
    return std::string(p, n);
}

std::string CArchiveReader::ReadString()
{
    std::size_t n = static_cast<unsigned char>(*Take(1));
    if (n == 0xFF) {
        n = ReadU16();
        if (n == 0xFFFF)
            n = ReadU32();
    }
    if (n > Remaining())
        throw CArchiveError("文字列の長さがファイルの残りを超えています");
    return DecodeLegacyText(std::string_view(Take(n), n));
}

} // namespace zorv
