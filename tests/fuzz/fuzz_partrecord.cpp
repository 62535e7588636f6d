// Fuzz target of the partial file's record reader. Whatever the input, a
// record it accepts is one a fetch can trust as a map: sorted, apart, not
// empty, inside the file's length when known, its texts one line each, and
// written back it reads as the same record.
#include "fuzz_fail.h"
#include "engine/partfile.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::optional<zorv::CPartRecord> record = zorv::ParsePartRecord(input);
    if (!record)
        return 0;
    if (input.size() > zorv::kMaxPartRecord)
        Fail("longer than the limit");
    if (record->url.empty())
        Fail("no URL");
    for (const std::string& text : {record->url, record->validator}) {
        for (const char c : text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                Fail("a control character");
        }
    }
    std::uint64_t last = 0;
    bool first = true;
    for (const auto& [b, e] : record->done.Ranges()) {
        if (b >= e || (!first && b <= last) || (record->length && e > record->length))
            Fail("a range out of order, empty or past the length");
        last = e;
        first = false;
    }
    const std::optional<zorv::CPartRecord> again = zorv::ParsePartRecord(zorv::FormatPartRecord(*record));
    if (!again || again->url != record->url || again->validator != record->validator
        || again->ftpSize != record->ftpSize || again->ftpTime != record->ftpTime || again->length != record->length
        || !(again->done == record->done))
        Fail("does not read back as itself");
    return 0;
}
