#include "engine/response.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace zorv {

namespace {

std::string_view TrimLine(std::string_view s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

// The value of `line` when it is the header `name` ("etag:"), else nothing.
bool FieldValue(std::string_view line, std::string_view name, std::string& out)
{
    if (!StartsWithNoCase(line, name))
        return false;
    out.assign(TrimLine(line.substr(name.size())));
    return true;
}

} // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

CResponse::Line CResponse::Take(std::string_view line, bool bodyStarted)
{
    if (line.starts_with("HTTP/")) {
        // A new response (after a redirect or an interim 1xx): its own block.
        http = true;
        headers.assign(line);
        hasLocation = false;
        lastModified.clear();
        etag.clear();
        contentRange.clear();
        contentDisposition.clear();
        retryAfter.clear();
        reason.clear();
        statusCode = 0;
        // "HTTP/1.1 404 Not Found": the reason phrase is everything after the
        // code, exactly as sent. HTTP/2 and later have none.
        const std::string_view status = TrimLine(line);
        const auto sp1 = status.find(' ');
        if (sp1 != std::string_view::npos) {
            std::string_view rest = status.substr(sp1 + 1);
            const auto sp2 = rest.find(' ');
            const std::string_view code = rest.substr(0, sp2);
            for (char c : code) {
                if (c < '0' || c > '9')
                    break;
                statusCode = statusCode * 10 + static_cast<unsigned>(c - '0');
            }
            if (sp2 != std::string_view::npos && status.starts_with("HTTP/1."))
                reason.assign(rest.substr(sp2 + 1));
        }
        lastResponse.assign(status);
        return Line::Taken;
    }
    if (!http) {
        // FTP: every line is a server reply.
        const std::string_view reply = TrimLine(line);
        if (!reply.empty())
            lastResponse.assign(reply);
        return Line::Taken;
    }
    if (bodyStarted)
        return Line::Taken; // trailers
    if (headers.size() + line.size() > kMaxHeaderBlock)
        return Line::TooLarge;
    headers.append(line);
    if (line == "\r\n" || line == "\n") {
        // End of a header block. Interim responses and redirects that libcurl
        // follows are not the final response.
        if (statusCode >= 100 && statusCode < 200)
            return Line::Taken;
        const bool redirect = statusCode == 300 || statusCode == 301 || statusCode == 302 || statusCode == 303
                              || statusCode == 307 || statusCode == 308;
        return redirect && hasLocation ? Line::Taken : Line::Final;
    }
    if (StartsWithNoCase(line, "location:"))
        hasLocation = true;
    else if (!FieldValue(line, "last-modified:", lastModified) && !FieldValue(line, "etag:", etag)
             && !FieldValue(line, "content-range:", contentRange)
             && !FieldValue(line, "retry-after:", retryAfter))
        FieldValue(line, "content-disposition:", contentDisposition);
    return Line::Taken;
}

std::optional<std::chrono::milliseconds> ParseRetryAfter(std::string_view value, std::time_t now)
{
    if (value.empty())
        return std::nullopt;
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        constexpr std::int64_t kMaxSeconds = std::chrono::milliseconds::max().count() / 1000;
        std::int64_t seconds = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (ec == std::errc::result_out_of_range || seconds > kMaxSeconds)
            seconds = kMaxSeconds;
        else if (ec != std::errc() || end != value.data() + value.size())
            return std::nullopt;
        return std::chrono::seconds(seconds);
    }
    const std::string date(value);
    const std::time_t at = curl_getdate(date.c_str(), nullptr);
    if (at <= 0)
        return std::nullopt;
    return std::chrono::seconds(at > now ? at - now : 0);
}

std::string CResponse::StatusText() const
{
    return reason.empty() ? "HTTP Status " + std::to_string(statusCode) : std::to_string(statusCode) + " " + reason;
}

} // namespace zorv
