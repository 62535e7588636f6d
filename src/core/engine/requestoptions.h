#pragma once
// Request options: the one place where the options every transfer shares
// (items and the ranges of split files) are set on a libcurl handle.
#include "engine/fetch.h"

#include <curl/curl.h>

#include <string>

namespace zorv {

// Receive buffer of a transfer: larger than libcurl's 16 KiB default, which
// roughly halves the loopback throughput.
inline constexpr long kReceiveBuffer = 256 * 1024;

// libcurl's global set-up, once per process; call it before the first handle.
void CurlGlobalInit();

// Sets what every request of a fetch shares: URL, protocols, redirects,
// buffer, error buffer, timeouts, agent, referrer, proxy, and the
// certificate authorities of the settings (CaCertificates). Every easy
// handle of the engine (items and ranges) gets its options here.
void SetCommonRequestOptions(CURL* easy, const std::string& url, const std::string& referer,
                             const CNetSettings& net, const CFetchLimits& limits, char* errorBuffer);

} // namespace zorv
