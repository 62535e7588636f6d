#include "engine/notes.h"

#include "engine/fetch.h"
#include "model/filename.h"
#include "model/paths.h"
#include "model/text.h"

#include <cerrno>

namespace zorv {

namespace {

bool IsCertificateError(CURLcode rc)
{
    switch (rc) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

} // namespace

std::string ProgressText(std::uint64_t total, std::uint64_t length)
{
    std::string text = std::to_string(total);
    if (length) {
        text += '/';
        text += std::to_string(length);
    }
    return text;
}

std::string ResumedText(std::uint64_t offset)
{
    return "(" + std::to_string(offset) + " バイトから再開)";
}


std::string StoppedText(const CItem& item)
{
    return item.IsStoppedForPause() ? "一時停止しました" : "キャンセルされました";
}

std::string ReplacedFileNote(const std::string& partPath)
{
    return QStringLiteral("%1 が取得中に別のファイルに置き換えられたので使えません")
        .arg(QString::fromStdString(partPath))
        .toStdString();
}

std::string DigestVerifiedText(const char* algorithm)
{
    return std::string("(") + algorithm + " 確認済み)";
}

std::string DurationText(std::chrono::milliseconds d)
{
    if (d.count() % 1000 == 0)
        return std::to_string(d.count() / 1000) + " 秒";
    return std::to_string(d.count()) + " ミリ秒";
}


std::string WriteFailure(const std::string& path, const QFile& file, int err)
{
    return QStringLiteral("%1 に書き込めません: %2")
        .arg(QString::fromStdString(path), FileErrorText(err, file.errorString()))
        .toStdString();
}


bool RequestSent(CURL* easy)
{
    long bytes = 0;
    return curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &bytes) == CURLE_OK && bytes > 0;
}

// The note of a redirect that was not followed because its target is not
// HTTP or HTTPS: names the target (its password masked), which libcurl
// holds as the effective URL once it has refused it.
std::string RefusedRedirectNote(CURL* easy)
{
    const char* target = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &target) != CURLE_OK || !target)
        target = "";
    return MaskUrlPassword(EscapeText(target)) + " へのリダイレクトは拒否しました";
}

std::string ClientErrorText(int code, long osError, std::string_view detail)
{
    const auto rc = static_cast<CURLcode>(code);
    const char* text = nullptr;
    switch (rc) {
    case CURLE_UNSUPPORTED_PROTOCOL: text = "対応していないプロトコルです"; break;
    case CURLE_URL_MALFORMAT: text = "URL の形式が正しくありません"; break;
    case CURLE_COULDNT_RESOLVE_PROXY: text = "プロキシサーバーが見つかりません"; break;
    case CURLE_COULDNT_RESOLVE_HOST: text = "ホストが見つかりません"; break;
    case CURLE_COULDNT_CONNECT:
        text = osError == ECONNREFUSED ? "接続を拒否されました" : "サーバーに接続できません";
        break;
    case CURLE_REMOTE_ACCESS_DENIED: text = "サーバーがアクセスを拒否しました"; break;
    case CURLE_PARTIAL_FILE: text = "転送が途中で切れました"; break;
    case CURLE_WRITE_ERROR: text = "ファイルに書き込めません"; break;
    case CURLE_OPERATION_TIMEDOUT: text = "タイムアウトしました"; break;
    case CURLE_SSL_CONNECT_ERROR: text = "TLS の接続を確立できません"; break;
    case CURLE_TOO_MANY_REDIRECTS: text = "リダイレクトが多すぎます"; break;
    case CURLE_GOT_NOTHING: text = "サーバーから応答がありません"; break;
    case CURLE_SEND_ERROR: text = "送信に失敗しました"; break;
    case CURLE_RECV_ERROR:
        text = osError == ECONNRESET ? "接続がリセットされました" : "受信に失敗しました";
        break;
    case CURLE_LOGIN_DENIED: text = "ログインが拒否されました"; break;
    default:
        if (IsCertificateError(rc))
            text = "サーバー証明書を検証できません";
        break;
    }
    if (text)
        return std::string(text) + " (libcurl error " + std::to_string(code) + ")";
    std::string out = "libcurl error " + std::to_string(code) + ": ";
    out += detail.empty() ? std::string_view(curl_easy_strerror(rc)) : detail;
    return out;
}
} // namespace zorv
