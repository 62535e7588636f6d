#include "engine/trust.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstring>
#include <mutex>

namespace zorv {

namespace {

constexpr qint64 kMaxPemFile = 16 * 1024 * 1024;
constexpr const char* kBegin = "-----BEGIN CERTIFICATE-----";
constexpr const char* kEnd = "-----END CERTIFICATE-----";

std::string Say(const char* format, const std::string& path, const QString& detail = {})
{
    QString text = QString::fromUtf8(format).arg(QString::fromStdString(path));
    if (!detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(detail);
    return text.toStdString();
}

// The file's certificates are PEM blocks whose base64 text decodes to a DER
// SEQUENCE. Their signatures are the TLS library's to judge.
std::string CheckPem(const QByteArray& data, const std::string& path)
{
    int found = 0;
    for (qsizetype at = data.indexOf(kBegin); at >= 0; at = data.indexOf(kBegin, at)) {
        at += static_cast<qsizetype>(std::strlen(kBegin));
        const qsizetype end = data.indexOf(kEnd, at);
        if (end < 0)
            return Say("証明書ファイル %1 の証明書が途中で終わっています", path);
        QByteArray text = data.mid(at, end - at);
        text.replace('\r', "").replace('\n', "").replace(' ', "").replace('\t', "");
        const auto der = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
        if (!der || der.decoded.size() < 2 || static_cast<unsigned char>(der.decoded.at(0)) != 0x30)
            return QStringLiteral("証明書ファイル %1 の %2 番目の証明書が壊れています")
                .arg(QString::fromStdString(path))
                .arg(found + 1)
                .toStdString();
        ++found;
        at = end;
    }
    if (found == 0)
        return Say("証明書ファイル %1 に PEM 形式の証明書がありません", path);
    return {};
}

struct CChecked {
    std::string path;
    qint64 size = -1;
    qint64 modified = 0;
    std::string problem;
};

} // namespace

std::string CaCertificatesProblem(const std::string& path)
{
    if (path.empty())
        return {};
    const QString name = QString::fromStdString(path);
    const QFileInfo info(name);
    if (!info.exists())
        return Say("証明書ファイル %1 がありません", path);
    if (!info.isFile())
        return Say("証明書ファイル %1 はファイルではありません", path);
    const qint64 size = info.size();
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    static std::mutex lock;
    static CChecked last;
    {
        std::scoped_lock guard(lock);
        if (last.path == path && last.size == size && last.modified == modified)
            return last.problem;
    }
    std::string problem;
    QFile file(name);
    if (size > kMaxPemFile)
        problem = Say("証明書ファイル %1 が大きすぎます", path);
    else if (!file.open(QIODevice::ReadOnly))
        problem = Say("証明書ファイル %1 を読めません", path, file.errorString());
    else
        problem = CheckPem(file.read(kMaxPemFile), path);
    std::scoped_lock guard(lock);
    last = {path, size, modified, problem};
    return problem;
}

void ApplyTrust(CURL* easy, const std::string& caFile)
{
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (caFile.empty())
        return;
    // The file takes the place of the system's bundle; the system's folder
    // of authorities (looked up by hash) still applies beside it.
    const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
    if (version->capath || !version->cainfo) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
        if (version->capath)
            curl_easy_setopt(easy, CURLOPT_CAPATH, version->capath);
        return;
    }
    // A libcurl with a bundle but no folder: the bundle and the file, as one
    // text. Either unreadable: the file alone is named, and its failure
    // stops the connection.
    QFile bundle(QString::fromLocal8Bit(version->cainfo));
    QFile extra(QString::fromStdString(caFile));
    if (!bundle.open(QIODevice::ReadOnly) || !extra.open(QIODevice::ReadOnly)) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
        return;
    }
    QByteArray both = bundle.readAll();
    both += '\n';
    both += extra.read(kMaxPemFile);
    curl_blob blob{both.data(), static_cast<size_t>(both.size()), CURL_BLOB_COPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}

} // namespace zorv
