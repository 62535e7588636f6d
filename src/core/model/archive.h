#pragma once
// The byte stream of list files: little-endian integers and length-prefixed
// strings. A length prefix is one byte below 255; else 0xFF and 2 bytes below
// 0xFFFE; else 0xFF, 0xFFFF and 4 bytes.
//
// The reader never trusts the file: every length is checked against the
// bytes that remain, and a damaged file raises CArchiveError.
#include <QByteArray>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zorv {

class CArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CArchiveWriter {
public:
    explicit CArchiveWriter(QByteArray& out) : m_out(out) {}
    void WriteU16(std::uint16_t v);
    void WriteI32(std::int32_t v);
    void WriteU32(std::uint32_t v);
    void WriteBytes(const char* data, std::size_t n);
    void WriteString(const std::string& s);

private:
    QByteArray& m_out;
};

class CArchiveReader {
public:
    CArchiveReader(const char* data, std::size_t size) : m_p(data), m_end(data + size) {}
    std::uint16_t ReadU16();
    std::int32_t ReadI32();
    std::uint32_t ReadU32();
    // A string as stored; text that is not UTF-8 is converted from code page 932.
    std::string ReadString();
    std::string ReadRaw(std::size_t n);
    std::size_t Remaining() const { return static_cast<std::size_t>(m_end - m_p); }

private:
    const char* Take(std::size_t n);
    const char* m_p;
    const char* m_end;
};

} // namespace zorv
