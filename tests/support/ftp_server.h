#pragma once
// A real FTP server for tests: pyftpdlib (started with /usr/bin/python3) on
// 127.0.0.1 and a free port, serving the files of a fresh temporary folder.
// Anonymous users may list and read; user "user" with password "secret" may
// also write. Stopped by Stop() or the destructor; on Linux it also dies with
// the test process (parent-death signal, bound to the starting thread: start
// it from the test's main thread).
#include "childprocess.h"

#include <string>

namespace zorv::test {

class CFtpServer : public CFileServerProcess {
public:
    // Starts the server and waits (10 s at most) until it listens. False,
    // with the reason in *error, when it cannot.
    bool Start(QString* error);
    // "ftp://127.0.0.1:PORT" + path (anonymous).
    std::string Url(const std::string& path) const;
};

} // namespace zorv::test
