#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace zorv::test {

std::string CRecordedRequest::Header(const std::string& name) const
{
    auto it = headers.find(name);
    return it == headers.end() ? std::string{} : it->second;
}

CHttpServer::CHttpServer() : m_server(std::make_unique<httplib::Server>())
{
    m_server->set_keep_alive_timeout(1);
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        CRecordedRequest r{req.method, req.target, req.path, req.headers, std::chrono::steady_clock::now()};
        std::scoped_lock lock(m_lock);
        m_requests.push_back(std::move(r));
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

CHttpServer::~CHttpServer()
{
    Stop();
}

void CHttpServer::Serve(const std::string& path, std::string body, httplib::Headers headers)
{
    m_server->Get(path, [body = std::move(body), headers = std::move(headers)](
                            const httplib::Request&, httplib::Response& res) {
        for (const auto& [name, value] : headers)
            res.set_header(name.c_str(), value);
        res.set_content(body, "application/octet-stream");
    });
}

void CHttpServer::ServeStatus(const std::string& path, int status, std::string body)
{
    m_server->Get(path, [status, body = std::move(body)](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, "text/plain");
    });
}

void CHttpServer::ServeRedirect(const std::string& path, std::string location)
{
    m_server->Get(path, [location = std::move(location)](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(location, 302);
    });
}

void CHttpServer::ServeSlow(const std::string& path, std::string body, size_t piece,
                            std::chrono::milliseconds interval, bool chunked, httplib::Headers headers)
{
    auto data = std::make_shared<std::string>(std::move(body));
    m_server->Get(path, [this, data, piece, interval, chunked, headers](const httplib::Request&,
                                                                        httplib::Response& res) {
        for (const auto& [name, value] : headers)
            res.set_header(name, value);
        auto first = std::make_shared<bool>(true);
        // Sends the piece at `offset`; `sent` counts what went out.
        auto provide = [this, data, piece, interval, first](size_t offset, size_t& sent, httplib::DataSink& sink) {
            if (offset >= data->size()) {
                sink.done();
                return true;
            }
            if (!std::exchange(*first, false) && !Sleep(interval))
                return false;
            const size_t n = std::min(piece, data->size() - offset);
            if (!sink.write(data->data() + offset, n))
                return false;
            sent += n;
            return true;
        };
        auto sent = std::make_shared<size_t>(0);
        if (chunked) {
            res.set_chunked_content_provider("application/octet-stream",
                                             [provide, sent](size_t, httplib::DataSink& sink) {
                                                 return provide(*sent, *sent, sink);
                                             });
        } else {
            // cpp-httplib asks for the bytes from `offset` on (a range's start).
            res.set_content_provider(data->size(), "application/octet-stream",
                                     [provide, sent](size_t offset, size_t, httplib::DataSink& sink) {
                                         return provide(offset, *sent, sink);
                                     });
        }
    });
}

void CHttpServer::ServeStalled(const std::string& path, std::string head, size_t length, bool chunked,
                               std::chrono::milliseconds hold)
{
    m_server->Get(path, [this, head = std::move(head), length, chunked, hold](const httplib::Request&,
                                                                             httplib::Response& res) {
        auto provide = [this, head, hold](size_t offset, httplib::DataSink& sink) {
            if (offset == 0 && !head.empty())
                return sink.write(head.data(), head.size());
            Sleep(hold);
            return false; // drops the connection without the rest
        };
        if (chunked) {
            res.set_chunked_content_provider(
                "application/octet-stream",
                [provide](size_t offset, httplib::DataSink& sink) { return provide(offset, sink); });
        } else {
            res.set_content_provider(length, "application/octet-stream",
                                     [provide](size_t offset, size_t, httplib::DataSink& sink) {
                                         return provide(offset, sink);
                                     });
        }
    });
}

bool CHttpServer::Start()
{
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() does nothing before the accept loop runs: a quick Stop() would
    // otherwise leave the thread serving forever.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server->is_running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return m_server->is_running();
}

void CHttpServer::Stop()
{
    {
        std::scoped_lock lock(m_lock);
        m_stopping.store(true);
    }
    m_stopCond.notify_all();
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

std::string CHttpServer::Url(const std::string& path) const
{
    return "http://" + HostPort() + path;
}

std::string CHttpServer::HostPort() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<CRecordedRequest> CHttpServer::Requests() const
{
    std::scoped_lock lock(m_lock);
    return m_requests;
}

std::vector<CRecordedRequest> CHttpServer::RequestsFor(const std::string& path) const
{
    std::vector<CRecordedRequest> out;
    for (auto& r : Requests()) {
        if (r.path == path)
            out.push_back(r);
    }
    return out;
}

bool CHttpServer::Sleep(std::chrono::milliseconds d)
{
    std::unique_lock lock(m_lock);
    return !m_stopCond.wait_for(lock, d, [this] { return m_stopping.load(); });
}

// ---- CScriptedServer --------------------------------------------------------------

CScriptedServer::CScriptedServer() = default;

CScriptedServer::~CScriptedServer()
{
    Stop();
}

bool CScriptedServer::Start(std::string response)
{
    m_response = std::move(response);
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listen < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(m_listen, 16) != 0
        || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void CScriptedServer::Stop()
{
    m_stopping.store(true);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
}

std::string CScriptedServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> CScriptedServer::RequestHeads() const
{
    std::scoped_lock lock(m_lock);
    return m_heads;
}

void CScriptedServer::Serve()
{
    while (!m_stopping.load()) {
        pollfd pfd{m_listen, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const int conn = ::accept(m_listen, nullptr, nullptr);
        if (conn < 0)
            continue;
        std::string head;
        char buf[4096];
        for (int waited = 0; head.find("\r\n\r\n") == std::string::npos && waited < 100 && !m_stopping.load();) {
            pollfd c{conn, POLLIN, 0};
            if (::poll(&c, 1, 50) <= 0) {
                ++waited;
                continue;
            }
            const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            head.append(buf, static_cast<size_t>(n));
        }
        {
            std::scoped_lock lock(m_lock);
            m_heads.push_back(head);
        }
        size_t sent = 0;
        while (sent < m_response.size()) {
            const ssize_t n = ::send(conn, m_response.data() + sent, m_response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        ::shutdown(conn, SHUT_WR);
        ::close(conn);
    }
}

} // namespace zorv::test
