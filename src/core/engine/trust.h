#pragma once
// Which certificate authorities a transfer trusts: the system's, plus those
// of a PEM file the user names (CaCertificates, --cacert) for servers whose
// certificates a private authority signed. Verification of the server's
// certificate and name is never switched off.
#include <curl/curl.h>

#include <string>

namespace zorv {

// Why `path` cannot serve as extra authorities: it is missing, unreadable,
// holds no PEM certificate or a damaged one (Japanese, naming the file).
// Empty when it can, and for an empty path. Answers from memory while the
// file keeps its size and time.
std::string CaCertificatesProblem(const std::string& path);

// Sets the authorities of one request on `easy`: the system's alone when
// `caFile` is empty, else the system's and the file's. A file that turned
// unusable since it was checked fails the TLS connection
// (CURLE_SSL_CACERT_BADFILE) rather than trusting less or more.
void ApplyTrust(CURL* easy, const std::string& caFile);

} // namespace zorv
