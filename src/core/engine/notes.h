#pragma once
// Result notes: the texts a transfer leaves in an item's note when it ends
// (and the progress text while it runs).
#include "model/item.h"

#include <QFile>

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

// A response's header block larger than the limit is refused (libcurl's own
// limit, 300 KB, would end the transfer with a receive error).
inline constexpr const char* kHeaderTooLarge = "サーバーの応答ヘッダーが大きすぎます";
// A body longer than the server announced is not the file it described.
inline constexpr const char* kBodyTooLong = "サーバーが告げた長さより多く送りました";
// The remark of a split file whose server refused an extra connection.
inline constexpr const char* kOneConnectionRemark = "(サーバーが追加の接続を拒否したため、1 本の接続で続けました)";

// "total/length" ("total" when the length is unknown).
std::string ProgressText(std::uint64_t total, std::uint64_t length);
// The remark of a transfer that went on from a partial file.
std::string ResumedText(std::uint64_t offset);
// What stopped a transfer on request: a cancel or a pause.
std::string StoppedText(const CItem& item);
// A complete partial file that is no longer the file the transfer wrote
// (something was put in its place meanwhile).
std::string ReplacedFileNote(const std::string& partPath);
// The file does not match the digest its server sent.
inline constexpr const char* kDigestMismatch = "ダイジェストが一致しません";
// The remark of a file that matches its server's digest ("SHA-256").
std::string DigestVerifiedText(const char* algorithm);
// "N 秒" or "N ミリ秒".
std::string DurationText(std::chrono::milliseconds d);
// A failed write of the local file, with the cause in words where the
// system's error number says it (`err`: errno right after the write).
std::string WriteFailure(const std::string& path, const QFile& file, int err);
// True once the request has gone out: a failure after it came while the
// response was read.
bool RequestSent(CURL* easy);
// The note of a redirect that was not followed because its target is not
// HTTP or HTTPS: names the target (its password masked), which libcurl
// holds as the effective URL once it has refused it.
std::string RefusedRedirectNote(CURL* easy);

} // namespace zorv
