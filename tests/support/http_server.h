#pragma once
// Loopback HTTP servers for tests.
//
// CHttpServer: an in-process HTTP server on 127.0.0.1 and a free port, built on cpp-httplib. Register the
// routes first (Serve*, or Raw() for anything else), then Start(). Every
// request is recorded. Handlers that hold a response (slow and stalled
// bodies) wait through Sleep(), which returns at once when the server stops,
// so a test never waits for them at its end. The server has 8 handler
// threads: keep held responses few.
//
// CScriptedServer: a bare TCP server on 127.0.0.1 that answers every
// connection with fixed bytes, for responses cpp-httplib cannot produce (an
// own reason phrase, a body ended by closing the connection).
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zorv::test {

// A request as the server received it.
struct CRecordedRequest {
    std::string method;
    std::string target; // as sent: "/a?b", or "http://host/a?b" when sent to a proxy
    std::string path;
    httplib::Headers headers; // names compare case-insensitively
    std::chrono::steady_clock::time_point at; // when it arrived

    size_t HeaderCount(const std::string& name) const { return headers.count(name); }
    // The first value of the header, empty when absent.
    std::string Header(const std::string& name) const;
};

class CHttpServer {
public:
    CHttpServer();
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // Routes; register them before Start(). `path` is a regular expression
    // as in cpp-httplib (plain paths match themselves).
    httplib::Server& Raw() { return *m_server; }
    // GET returns `body` with a Content-Length, status 200 and the headers.
    void Serve(const std::string& path, std::string body, httplib::Headers headers = {});
    // GET answers `status` with cpp-httplib's standard reason phrase.
    void ServeStatus(const std::string& path, int status, std::string body = "error");
    // GET redirects (302) to `location`.
    void ServeRedirect(const std::string& path, std::string location);
    // GET sends `body` in pieces of `piece` bytes, `interval` apart, with the
    // headers; with `chunked` no length is announced. With a length, a Range
    // is served (206) from its start.
    void ServeSlow(const std::string& path, std::string body, size_t piece,
                   std::chrono::milliseconds interval, bool chunked = false, httplib::Headers headers = {});
    // GET announces `length` bytes (unless `chunked`), sends `head`, then
    // sends nothing more until the server stops (or `hold` has passed), and
    // closes the connection without the rest.
    void ServeStalled(const std::string& path, std::string head, size_t length, bool chunked = false,
                      std::chrono::milliseconds hold = std::chrono::seconds(20));

    // Binds 127.0.0.1 on a free port and serves on a thread of its own.
    bool Start();
    // Releases held handlers and stops (the destructor does it too).
    void Stop();

    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path.
    std::string Url(const std::string& path) const;
    // "127.0.0.1:PORT", as a proxy address.
    std::string HostPort() const;

    std::vector<CRecordedRequest> Requests() const;
    // Requests whose path equals `path`.
    std::vector<CRecordedRequest> RequestsFor(const std::string& path) const;

    // Waits up to `d`; false as soon as the server is stopping.
    bool Sleep(std::chrono::milliseconds d);

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = -1;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_lock;
    std::condition_variable m_stopCond;
    std::vector<CRecordedRequest> m_requests;
};

class CScriptedServer {
public:
    CScriptedServer();
    ~CScriptedServer();
    CScriptedServer(const CScriptedServer&) = delete;
    CScriptedServer& operator=(const CScriptedServer&) = delete;

    // Listens on 127.0.0.1 on a free port. Each connection: the request head
    // is read, `response` is sent as it is, and the connection is closed.
    bool Start(std::string response);
    void Stop();

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    // The request heads received, in order.
    std::vector<std::string> RequestHeads() const;

private:
    void Serve();

    int m_listen = -1;
    int m_port = -1;
    std::string m_response;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_lock;
    std::vector<std::string> m_heads;
};

} // namespace zorv::test
