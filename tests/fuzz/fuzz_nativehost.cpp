// Fuzz target of the native messaging host's reader: the input is the byte
// stream from a browser, read in pieces whose size the first byte picks.
// Every message taken must be within the limit; every message accepted must
// hold only what the host may act on.
#include "fuzz_fail.h"
#include "cli/nativehost.h"
#include "model/filename.h"
#include "model/item.h"

namespace {

void Check(const QByteArray& json)
{
    zorv::CBrowserMessage m;
    QString error;
    if (!zorv::ParseBrowserMessage(json, &m, &error)) {
        if (error.isEmpty())
            Fail("a refused message gave no reason");
        return;
    }
    if (m.command == zorv::CBrowserMessage::Command::Ping)
        return;
    if (m.links.empty() || m.links.size() > static_cast<size_t>(zorv::kMaxNativeLinks))
        Fail("an accepted message holds no links or too many");
    for (const zorv::CLink& link : m.links) {
        if (!zorv::CItem::IsValidUrl(link.url))
            Fail("a URL that is not http, https or ftp was accepted");
        if (!link.referer.empty() && !zorv::CItem::IsValidUrl(link.referer))
            Fail("a referrer that is no URL was accepted");
        if (link.fileName != zorv::SafeFileName(link.fileName) || link.fileName.find('/') != std::string::npos)
            Fail("a file name that is not a bare, safe name was accepted");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t step = data[0] % 16 + 1;
    zorv::CNativeFrameReader reader;
    for (std::size_t at = 1; at < size; at += step) {
        reader.Append(reinterpret_cast<const char*>(data + at), std::min(step, size - at));
        QByteArray message;
        for (;;) {
            const auto next = reader.Take(&message);
            if (next == zorv::CNativeFrameReader::Next::TooLong)
                return 0;
            if (next == zorv::CNativeFrameReader::Next::NeedMore)
                break;
            if (static_cast<std::size_t>(message.size()) > zorv::kMaxNativeMessageBytes)
                Fail("a message over the limit was taken");
            Check(message);
        }
    }
    return 0;
}
