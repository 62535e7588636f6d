// Fuzz target of the list-file reader. Any input must either load or fail
// with a cause and an empty list; a list that loads must be consumed exactly
// (no negative count, nothing after the last item) and must save to an image
// that loads again into the same list and saves to the same bytes.
#include "fuzz_fail.h"
#include "model/doc.h"

#include <QByteArray>
#include <QString>

namespace {

int QueuedCount(const zorv::CZorvDoc& doc)
{
    int n = 0;
    for (int i = 0; i < doc.GetCount(); ++i)
        n += doc.GetItem(i)->GetState() == zorv::STATE_NOT_FETCHED ? 1 : 0;
    return n;
}

void CheckLoaded(const zorv::CZorvDoc& doc)
{
    if (doc.GetItemCount(true) != QueuedCount(doc))
        Fail("the queue does not hold exactly the items in state 0");
    for (int i = 0; i < doc.GetCount(); ++i) {
        const int s = doc.GetItem(i)->GetState();
        if (s < 0 || s >= zorv::kStateCount)
            Fail("a state outside 0-7 was loaded");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    zorv::CZorvDoc doc;
    QString cause;
    if (!doc.LoadFromBytes(bytes, &cause)) {
        if (cause.isEmpty())
            Fail("a load failed without a cause");
        if (doc.GetCount() != 0 || doc.GetItemCount(true) != 0)
            Fail("a failed load left items behind");
        return 0;
    }
    CheckLoaded(doc);
    // A list is consumed exactly: a byte more makes it something else.
    zorv::CZorvDoc longer;
    if (longer.LoadFromBytes(bytes + '\0', &cause))
        Fail("bytes after the last item were accepted");
    if (bytes.size() >= 4 && (static_cast<unsigned char>(bytes[3]) & 0x80))
        Fail("a negative item count was accepted");

    const QByteArray saved = doc.SaveToBytes();
    zorv::CZorvDoc again;
    QString cause2;
    if (!again.LoadFromBytes(saved, &cause2))
        Fail("a saved list does not load");
    CheckLoaded(again);
    if (again.GetCount() != doc.GetCount())
        Fail("the item count changed on the round trip");
    for (int i = 0; i < doc.GetCount(); ++i) {
        const zorv::CItem* a = doc.GetItem(i);
        const zorv::CItem* b = again.GetItem(i);
        const int state = a->IsSettled() ? a->GetState() : zorv::STATE_FAILED;
        if (a->m_strUrl != b->m_strUrl || a->m_strReferer != b->m_strReferer
            || a->m_strDestination != b->m_strDestination || a->m_strFileName != b->m_strFileName
            || state != b->GetState())
            Fail("an item changed on the round trip");
    }
    if (again.SaveToBytes() != saved)
        Fail("saving a reloaded list gives other bytes");
    return 0;
}
