#pragma once
// Response-header parsing: the status line and the header fields a transfer
// needs, taken line by line as libcurl hands them over (items and the
// ranges of split files alike).
#include <chrono>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace zorv {

// A response's header block larger than this is refused (libcurl's own
// limit, 300 KB, would end the transfer with a receive error).
inline constexpr std::size_t kMaxHeaderBlock = 256 * 1024;

// The response being received: over HTTP the latest status line and its
// header block (a redirect or an interim 1xx starts a new one); over FTP
// the server's replies.
struct CResponse {
    bool http = false;   // an HTTP status line was seen
    unsigned statusCode = 0;
    std::string reason;  // reason phrase as sent; empty when none (HTTP/2 and later)
    std::string headers; // the raw header block, CR-LF separated
    bool hasLocation = false;
    std::string lastModified;
    std::string etag;
    std::string contentRange;
    std::string contentDisposition;
    std::string retryAfter;
    std::string lastResponse; // the last line the server sent (an FTP reply, for example)

    enum class Line {
        Taken,    // nothing more to do
        TooLarge, // the header block would exceed kMaxHeaderBlock (the line is not kept)
        Final,    // the final response's header block is complete
    };
    // Takes one line of the response head. Lines after the header block
    // (`bodyStarted`: trailers) are only looked at for a new status line.
    Line Take(std::string_view line, bool bodyStarted);

    // "404 Not Found", or "HTTP Status 404" without a reason phrase.
    std::string StatusText() const;
};

// A Retry-After value: delay-seconds, or an HTTP date read against `now`
// (a date passed: no wait). Nothing for anything else; a number too large
// for the clock is taken as the largest wait.
std::optional<std::chrono::milliseconds> ParseRetryAfter(std::string_view value, std::time_t now);

// True when `text` begins with `prefix`, ASCII case ignored.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

} // namespace zorv
