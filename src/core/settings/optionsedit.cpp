#include "settings/optionsedit.h"

#include <cstdint>
#include <limits>

namespace zorv {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::optional<unsigned> ParseUnsigned(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin == end)
        return std::nullopt;
    std::uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

std::optional<unsigned> ParseField(std::string_view text, const CUnsignedField& field)
{
    const std::optional<unsigned> value = ParseUnsigned(text);
    if (!value || *value < field.min || *value > field.max)
        return std::nullopt;
    return value;
}

std::string FieldMessage(const CUnsignedField& field)
{
    return std::string(field.name) + "には " + std::to_string(field.min) + " から " +
           std::to_string(field.max) + " までの整数を入力してください。";
}

CSimpleProxy DeriveSimpleProxy(const CProxyServers& servers)
{
    if (servers.httpServer == servers.ftpServer && servers.httpPort == servers.ftpPort)
        return {servers.httpServer, servers.httpPort};
    return {};
}

CProxyServers ApplySimpleProxy(const CSimpleProxy& simple, const CProxyServers& servers)
{
    if (simple.address.empty() || simple.port.empty())
        return servers;
    return {simple.address, simple.port, simple.address, simple.port};
}

CProxyServers ProxyDetailsPrefill(const CSimpleProxy& simple, const CProxyServers& servers)
{
    return ApplySimpleProxy(simple, servers);
}

} // namespace zorv
