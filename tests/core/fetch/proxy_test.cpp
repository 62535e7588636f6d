// The proxy settings: requests that really arrive at a loopback proxy in the
// proxy form, or go direct.
#include "fetch_fixture.h"

#include <gmock/gmock.h>


namespace zorv::test {
namespace {

// Sets (or, given nullptr, unsets) an environment variable for the scope.
class CScopedEnv {
public:
    CScopedEnv(const char* name, const char* value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        value ? qputenv(name, value) : qunsetenv(name);
    }
    ~CScopedEnv() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST_F(FetchTest, NamedOrEnvironmentProxyReceivesTheAbsoluteFormUnlessDirect)
{
    // The fixture's `http` acts as the proxy, `origin` as an origin server.
    http.Raw().Get(R"(http://[^/]+/.*)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("via proxy " + req.target, "text/plain");
    });
    ASSERT_TRUE(http.Start());
    CHttpServer origin;
    origin.Serve("/direct", "from origin");
    ASSERT_TRUE(origin.Start());

    options.ProxySetting = PROXY_NAMED;
    options.ProxyHttpServer = "127.0.0.1";
    options.ProxyHttpPort = std::to_string(http.Port());
    options.ProxyBypass = "elsewhere.test 127.0.0.1";
    ItemPtr item = Add("http://origin.invalid/pub/file.txt?x=1");
    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray("via proxy http://origin.invalid/pub/file.txt?x=1"));
    const auto requests = http.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "http://origin.invalid/pub/file.txt?x=1");
    EXPECT_EQ(requests[0].Header("Host"), "origin.invalid");

    // A bypassed host goes direct.
    EXPECT_EQ(Fetch(Add(origin.Url("/direct"), {}, "direct.bin")), STATE_FETCHED);
    EXPECT_EQ(LocalBytes("direct.bin"), QByteArray("from origin"));
    EXPECT_EQ(http.Requests().size(), 1u);

    // The system setting uses the proxy the environment names.
    const CScopedEnv proxyEnv("http_proxy", ("http://" + http.HostPort()).c_str());
    const CScopedEnv noProxy("no_proxy", nullptr), noProxyUpper("NO_PROXY", nullptr);
    options.ProxySetting = PROXY_SYSTEM;
    EXPECT_EQ(Fetch(Add("http://origin.invalid/env", {}, "env.bin")), STATE_FETCHED);
    EXPECT_EQ(LocalBytes("env.bin"), QByteArray("via proxy http://origin.invalid/env"));

    // Direct ignores it: the host is looked up itself, and .invalid never resolves.
    options.ProxySetting = PROXY_DIRECT;
    EXPECT_EQ(Fetch(Add("http://origin.invalid/direct", {}, "none.bin")), STATE_FAILED);
    EXPECT_EQ(http.Requests().size(), 2u);
    session.Reset();
}

} // namespace
} // namespace zorv::test
