#pragma once
// The digest a response offers for the file it delivers, and the check of
// the complete file against it.
//
// Repr-Digest (a dictionary of byte sequences, "sha-256=:BASE64:") and
// Digest ("SHA-256=BASE64", names in any case) describe the whole
// representation, so they hold for a 206 as well; Content-MD5 describes the
// body of its own response and counts only for a whole-body 200. Only
// sha-256 and sha-512 are taken from the first two, MD5 only from
// Content-MD5. Unknown algorithms and values that are not base64 of the
// algorithm's exact length are ignored. The strongest digest offered wins
// (SHA-512, SHA-256, MD5); Repr-Digest before Digest at equal strength.
//
// The check reads the file on a thread of its own, never on the transfer
// thread: CDigestCheck starts it, and its owner polls State().
#include "model/item.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace zorv {

enum class EDigest { Md5, Sha256, Sha512 };

struct CDigest {
    EDigest algorithm = EDigest::Sha256;
    QByteArray value; // the raw digest bytes
};

// The digest to check the file against, from a response's raw header block
// (CResponse::headers, CR-LF separated). `wholeBody`: the response is a 200
// whose body is the whole file (Content-MD5 counts).
std::optional<CDigest> OfferedDigest(std::string_view headerBlock, bool wholeBody);

// "SHA-256", "SHA-512", "MD5".
const char* DigestName(EDigest algorithm);
// The length of the algorithm's digest in bytes.
int DigestSize(EDigest algorithm);

// Hashes the file at `path` on a thread of its own and compares it with
// `expected`. The file is opened without following a link and must still
// be the file `id` (the one the transfer wrote). `done` runs on the
// hashing thread once the state is final (to wake the owner's loop). The
// destructor stops the hashing and waits for the thread (at most one read
// of a chunk).
class CDigestCheck {
public:
    enum class EState { Running, Match, Mismatch, Stopped, Failed };

    CDigestCheck(std::string path, const CFileIdentity& id, CDigest expected, std::function<void()> done);
    ~CDigestCheck();
    CDigestCheck(const CDigestCheck&) = delete;
    CDigestCheck& operator=(const CDigestCheck&) = delete;

    // Asks the hashing to end; the state turns Stopped (unless final already).
    void Stop() { m_stop.store(true, std::memory_order_relaxed); }
    EState State() const { return m_state.load(std::memory_order_acquire); }
    // Why it failed (a read error), once State() is Failed.
    const std::string& Error() const { return m_error; }

private:
    EState Run();

    const std::string m_path;
    const CFileIdentity m_id;
    const CDigest m_expected;
    const std::function<void()> m_done;
    std::string m_error;
    std::atomic<bool> m_stop{false};
    std::atomic<EState> m_state{EState::Running};
    std::thread m_thread;
};

} // namespace zorv
