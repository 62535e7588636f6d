// Fuzz target of the file names made from outside text. The input is taken
// as a Content-Disposition value and as a URL's last segment; whatever it
// is, the name made must be a bare name: valid UTF-8 without separators or
// control characters, never "." or "..", no leading dot for a server's
// name, and short enough for its partial file's name to fit.
#include "model/filename.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& name)
{
    std::fprintf(stderr, "fuzz_filename: %s: \"%s\"\n", what, name.c_str());
    std::abort();
}

// Valid UTF-8 without control characters (C0, DEL, C1).
bool CleanUtf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        std::uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
            return false;
        i += n;
    }
    return true;
}


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string server = zorv::SafeFileName(zorv::ContentDispositionFileName(input));
    if (server.size() > zorv::kMaxFileNameBytes)
        Fail("too long", server);
    if (server.find_first_of("/\\") != std::string::npos)
        Fail("a separator", server);
    if (server.starts_with('.'))
        Fail("a leading dot", server);
    if (!CleanUtf8(server))
        Fail("not clean UTF-8", server);

    // A URL's last segment never holds a "/" (it ends the segment before
    // it); decoding must not bring one in, nor a "\\" the segment lacked.
    const std::string_view segment = input.substr(0, input.find('/'));
    const std::string fromUrl = zorv::FileNameFromUrlSegment(segment);
    if (fromUrl.size() > zorv::kMaxFileNameBytes)
        Fail("too long", fromUrl);
    if (fromUrl == "." || fromUrl == ".." || fromUrl.find('/') != std::string::npos)
        Fail("leaves its folder", fromUrl);
    if (segment.find('\\') == std::string_view::npos && fromUrl.find('\\') != std::string::npos)
        Fail("a decoded separator", fromUrl);
    return 0;
}
