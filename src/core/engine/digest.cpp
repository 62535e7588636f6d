#include "engine/digest.h"

#include "engine/notes.h"
#include "engine/response.h"
#include "model/text.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorv {

namespace {

// The file is read in pieces of this size; a stop is seen between two.
constexpr qint64 kChunk = 1 << 20;
// A digest value longer than this is no digest of ours (SHA-512 in base64
// is 88 characters); it is not even decoded.
constexpr std::size_t kMaxValue = 256;

std::optional<EDigest> ShaByName(std::string_view name)
{
    if (EqualsNoCase(name, "sha-256"))
        return EDigest::Sha256;
    if (EqualsNoCase(name, "sha-512"))
        return EDigest::Sha512;
    return std::nullopt;
}

// What the headers offer: the best so far, by strength, then by source
// (lower first).
struct CChoice {
    std::optional<CDigest> best;
    int bestSource = 0;

    void Offer(EDigest algorithm, std::string_view base64, int source)
    {
        if (base64.empty() || base64.size() > kMaxValue)
            return;
        const auto decoded = QByteArray::fromBase64Encoding(QByteArray(base64.data(), qsizetype(base64.size())),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() != DigestSize(algorithm))
            return;
        if (best && (best->algorithm > algorithm || (best->algorithm == algorithm && bestSource <= source)))
            return;
        best = CDigest{algorithm, decoded.decoded};
        bestSource = source;
    }
};

enum { kReprDigest, kDigest, kContentMd5 };

// Calls `member(key, value)` for each "key=value" of a comma-separated list
// (members without "=" are skipped).
template <class F>
void ForEachMember(std::string_view list, F member)
{
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view item = TrimWhiteSpace(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        const auto eq = item.find('=');
        if (eq != std::string_view::npos)
            member(TrimWhiteSpace(item.substr(0, eq)), TrimWhiteSpace(item.substr(eq + 1)));
    }
}

} // namespace

const char* DigestName(EDigest algorithm)
{
    switch (algorithm) {
    case EDigest::Md5:
        return "MD5";
    case EDigest::Sha256:
        return "SHA-256";
    case EDigest::Sha512:
        return "SHA-512";
    }
    return "";
}

int DigestSize(EDigest algorithm)
{
    switch (algorithm) {
    case EDigest::Md5:
        return 16;
    case EDigest::Sha256:
        return 32;
    case EDigest::Sha512:
        return 64;
    }
    return 0;
}

std::optional<CDigest> OfferedDigest(std::string_view headerBlock, bool wholeBody)
{
    CChoice choice;
    while (!headerBlock.empty()) {
        const auto nl = headerBlock.find('\n');
        const std::string_view line = headerBlock.substr(0, nl);
        headerBlock = nl == std::string_view::npos ? std::string_view() : headerBlock.substr(nl + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = TrimWhiteSpace(line.substr(colon + 1));
        if (EqualsNoCase(name, "repr-digest")) {
            // Byte sequences ":BASE64:", maybe followed by parameters.
            ForEachMember(value, [&](std::string_view key, std::string_view item) {
                const auto algorithm = ShaByName(key);
                if (!algorithm || item.size() < 2 || item.front() != ':')
                    return;
                const auto close = item.find(':', 1);
                if (close == std::string_view::npos)
                    return;
                const std::string_view rest = TrimWhiteSpace(item.substr(close + 1));
                if (rest.empty() || rest.front() == ';')
                    choice.Offer(*algorithm, item.substr(1, close - 1), kReprDigest);
            });
        } else if (EqualsNoCase(name, "digest")) {
            ForEachMember(value, [&](std::string_view key, std::string_view item) {
                if (const auto algorithm = ShaByName(key))
                    choice.Offer(*algorithm, item, kDigest);
            });
        } else if (wholeBody && EqualsNoCase(name, "content-md5")) {
            choice.Offer(EDigest::Md5, value, kContentMd5);
        }
    }
    return choice.best;
}

CDigestCheck::CDigestCheck(std::string path, const CFileIdentity& id, CDigest expected, std::function<void()> done)
    : m_path(std::move(path)), m_id(id), m_expected(std::move(expected)), m_done(std::move(done))
{
    try {
        m_thread = std::thread([this] {
            const EState state = Run();
            m_state.store(state, std::memory_order_release);
            if (m_done)
                m_done();
        });
    } catch (const std::system_error& e) {
        m_error = std::string("ダイジェストを確認できません: ") + e.what();
        m_state.store(EState::Failed, std::memory_order_release);
    }
}

CDigestCheck::~CDigestCheck()
{
    Stop();
    if (m_thread.joinable())
        m_thread.join();
}

CDigestCheck::EState CDigestCheck::Run()
{
    const QString name = QString::fromStdString(m_path);
    const auto cannotRead = [&](const QString& cause) {
        m_error = QStringLiteral("%1 を読めません: %2").arg(name, cause).toStdString();
        return EState::Failed;
    };
    QFile file;
#ifdef _WIN32
    file.setFileName(name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return cannotRead(file.errorString());
#else
    // Never through a link, and only the file the transfer wrote.
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return cannotRead(FileErrorText(err, QString::fromLocal8Bit(std::strerror(err))));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != m_id.device
        || static_cast<std::uint64_t>(st.st_ino) != m_id.inode) {
        ::close(fd);
        m_error = ReplacedFileNote(m_path);
        return EState::Failed;
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return cannotRead(file.errorString());
    }
#endif
    QCryptographicHash::Algorithm algorithm = QCryptographicHash::Sha512;
    if (m_expected.algorithm == EDigest::Md5)
        algorithm = QCryptographicHash::Md5;
    else if (m_expected.algorithm == EDigest::Sha256)
        algorithm = QCryptographicHash::Sha256;
    QCryptographicHash hash(algorithm);
    std::vector<char> buffer(static_cast<std::size_t>(kChunk));
    for (;;) {
        if (m_stop.load(std::memory_order_relaxed))
            return EState::Stopped;
        const qint64 n = file.read(buffer.data(), kChunk);
        if (n < 0)
            return cannotRead(file.errorString());
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.data(), n));
    }
    return hash.result() == m_expected.value ? EState::Match : EState::Mismatch;
}

} // namespace zorv
