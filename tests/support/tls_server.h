#pragma once
// A real HTTPS server for tests: nginx on 127.0.0.1 and a free port with TLS
// and HTTP/2 (offered through ALPN), serving the files of a fresh temporary
// folder. Its certificate is signed by a throwaway certificate authority made
// with the openssl command for this server alone (CaFile()), so a client
// trusts it only when told to. Every finished request is logged with the
// number of the connection it came on, so that tests can count connections.
// Stopped by Stop() or the destructor (start it from the test's main thread,
// see childprocess.h).
#include "childprocess.h"

#include <string>
#include <vector>

namespace zorv::test {

class CTlsServer : public CFileServerProcess {
public:
    // Makes the certificates, starts nginx and waits (10 s at most) until
    // it accepts connections. False, with the reason in *error, when it
    // cannot (no nginx, no openssl, no free port).
    bool Start(QString* error);

    // The PEM file of the authority that signed the server's certificate.
    std::string CaFile() const;

    // "https://127.0.0.1:PORT" + path.
    std::string Url(const std::string& path) const;

    // The requests finished so far, in the order nginx logged them.
    struct CRequest {
        long connection = 0; // nginx's serial number of the connection
        std::string uri;
        int status = 0;
        std::string protocol; // "HTTP/2.0", "HTTP/1.1"
    };
    std::vector<CRequest> Requests() const;

private:
    bool MakeCertificates(QString* error);
    bool RunOpenssl(const QStringList& args, QString* error);
};

} // namespace zorv::test
