// Fuzz target of the import readers. The first byte picks the reader (plain
// text, .grx, .wrg), the rest is the file. Any input must be read to its end
// or stop with a cause; every item added must be a queued, valid URL with a
// destination, and the count reported must be the count added.
#include "fuzz_fail.h"
#include "model/import.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto format = static_cast<zorv::ImportFormat>(data[0] % 3);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    zorv::CZorvDoc doc;
    zorv::CImportFailure failure;
    const zorv::CImportResult r = zorv::ImportBytes(doc, format, bytes, "/dl", &failure);
    if (!r.ok && failure.cause.empty())
        Fail("a failed import gave no cause");
    if (r.added != doc.GetCount() || doc.GetItemCount(true) != doc.GetCount())
        Fail("the items added are not the items counted and queued");
    for (int i = 0; i < doc.GetCount(); ++i) {
        const zorv::CItem* item = doc.GetItem(i);
        if (!zorv::CItem::IsValidUrl(item->m_strUrl) || item->m_strDestination.empty())
            Fail("an item without a valid URL or a destination was added");
        if (item->m_strUrl.find('\0') != std::string::npos || item->m_strDestination.find('\0') != std::string::npos)
            Fail("a NUL byte reached an item");
    }
    return 0;
}
