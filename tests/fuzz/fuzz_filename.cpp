// Fuzz target of the file names made from outside text. The input is taken
// as a Content-Disposition value and as a URL's last segment; whatever it
// is, the name made must be a bare name: no separators, never "." or "..",
// for a server's name no control characters and no leading dot, and short
// enough for its partial file's name to fit (numbered "name (n).ext" too).
#include "engine/finalname.h"
#include "model/filename.h"
#include "model/text.h"

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
    for (const char c : server) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            Fail("a control character", server);
    }
    // The free name a taken one gets fits as well, and stays valid UTF-8.
    if (!server.empty()) {
        const std::string numbered = zorv::NumberedFileName(server, 9999);
        if (numbered.size() > zorv::kMaxFileNameBytes)
            Fail("numbered too long", numbered);
        if (!zorv::IsValidUtf8(numbered))
            Fail("numbered cut inside a character", numbered);
    }

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
