// Fuzz target of the reader of the digests a response offers. Whatever the
// header block, a digest it takes has its algorithm's exact length, MD5
// comes only from a whole-body response, and a body that is not whole
// changes nothing but the MD5.
#include "fuzz_fail.h"
#include "engine/digest.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto whole = zorv::OfferedDigest(input, true);
    const auto part = zorv::OfferedDigest(input, false);
    for (const auto& d : {whole, part}) {
        if (!d)
            continue;
        if (d->value.size() != zorv::DigestSize(d->algorithm))
            Fail("a digest of the wrong length");
    }
    if (part && part->algorithm == zorv::EDigest::Md5)
        Fail("MD5 from a partial body");
    if (whole && whole->algorithm != zorv::EDigest::Md5
        && (!part || part->algorithm != whole->algorithm || part->value != whole->value))
        Fail("a partial body changed a digest other than MD5");
    return 0;
}
