// The proxy settings: which proxy a URL goes through, and requests that
// really arrive at a loopback proxy in the proxy form.
#include "fetch_fixture.h"

#include <gmock/gmock.h>

#include <optional>

using ::testing::StartsWith;

namespace zorv::test {
namespace {

TEST(ChooseProxyTest, AccessTypes)
{
    CNetSettings net;
    net.ProxyHttpServer = "proxy.test";
    net.ProxyHttpPort = "8080";

    net.ProxySetting = PROXY_SYSTEM;
    EXPECT_TRUE(ChooseProxy(net, "http://a.test/").system);

    net.ProxySetting = PROXY_DIRECT;
    const CProxyChoice direct = ChooseProxy(net, "http://a.test/");
    EXPECT_FALSE(direct.system);
    EXPECT_EQ(direct.proxy, "");
    EXPECT_EQ(direct.noProxy, "*");
}

TEST(ChooseProxyTest, NamedProxiesPerProtocol)
{
    CNetSettings net;
    net.ProxySetting = PROXY_NAMED;
    net.ProxyHttpServer = net.ProxyFtpServer = "both.test";
    net.ProxyHttpPort = net.ProxyFtpPort = "3128";
    // Equal entries: one proxy for every protocol.
    EXPECT_EQ(ChooseProxy(net, "ftp://f.test/x").proxy, "both.test:3128");
    EXPECT_EQ(ChooseProxy(net, "http://h.test/x").proxy, "both.test:3128");

    net.ProxyFtpServer = "ftpproxy.test";
    net.ProxyFtpPort = "2121";
    EXPECT_EQ(ChooseProxy(net, "FTP://f.test/x").proxy, "ftpproxy.test:2121");
    EXPECT_EQ(ChooseProxy(net, "http://h.test/x").proxy, "both.test:3128");
    EXPECT_EQ(ChooseProxy(net, "https://h.test/x").proxy, "both.test:3128");

    // Only an FTP proxy: HTTP goes direct, whatever the environment says.
    net.ProxyHttpServer.clear();
    net.ProxyHttpPort.clear();
    const CProxyChoice http = ChooseProxy(net, "http://h.test/x");
    EXPECT_FALSE(http.system);
    EXPECT_EQ(http.proxy, "");
    EXPECT_EQ(ChooseProxy(net, "ftp://f.test/x").proxy, "ftpproxy.test:2121");

    // Nothing named at all: direct.
    net.ProxyFtpServer.clear();
    net.ProxyFtpPort.clear();
    EXPECT_EQ(ChooseProxy(net, "ftp://f.test/x").proxy, "");
}

TEST(ChooseProxyTest, BypassListBecomesHostList)
{
    CNetSettings net;
    net.ProxySetting = PROXY_NAMED;
    net.ProxyHttpServer = "proxy.test";
    net.ProxyHttpPort = "8080";
    net.ProxyBypass = "*.corp.test  <local> intranet;10.0.0.1";
    EXPECT_EQ(ChooseProxy(net, "http://h.test/").noProxy, "corp.test,localhost,127.0.0.1,::1,intranet,10.0.0.1");
    // No bypass: the proxy is used for every host, the environment's list
    // included.
    net.ProxyBypass.clear();
    EXPECT_EQ(ChooseProxy(net, "http://h.test/").noProxy, "");
}

// A loopback server that acts as the proxy (the fixture's `http`) and one
// that acts as the origin server.
class ProxyFetchTest : public FetchTest {
protected:
    void SetUp() override
    {
        FetchTest::SetUp();
        http.Raw().Get(R"(http://[^/]+/.*)", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("via proxy " + req.target, "text/plain");
        });
        ASSERT_TRUE(http.Start());
        origin.Serve("/direct", "from origin");
        ASSERT_TRUE(origin.Start());
    }
    void TearDown() override
    {
        session.Reset();
        for (auto& [name, value] : savedEnv) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
        FetchTest::TearDown();
    }
    void SetEnv(const char* name, const std::optional<std::string>& value)
    {
        savedEnv.emplace_back(name, qEnvironmentVariableIsSet(name)
                                        ? std::optional<QByteArray>(qgetenv(name))
                                        : std::nullopt);
        if (value)
            qputenv(name, QByteArray::fromStdString(*value));
        else
            qunsetenv(name);
    }

    CHttpServer origin;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> savedEnv;
};

TEST_F(ProxyFetchTest, NamedProxyReceivesTheAbsoluteForm)
{
    options.ProxySetting = PROXY_NAMED;
    options.ProxyHttpServer = "127.0.0.1";
    options.ProxyHttpPort = std::to_string(http.Port());
    ItemPtr item = Add("http://origin.invalid/pub/file.txt?x=1");

    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray("via proxy http://origin.invalid/pub/file.txt?x=1"));
    const auto requests = http.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "http://origin.invalid/pub/file.txt?x=1");
    EXPECT_EQ(requests[0].Header("Host"), "origin.invalid");
}

TEST_F(ProxyFetchTest, BypassedHostsGoDirect)
{
    options.ProxySetting = PROXY_NAMED;
    options.ProxyHttpServer = "127.0.0.1";
    options.ProxyHttpPort = std::to_string(http.Port());
    options.ProxyBypass = "elsewhere.test 127.0.0.1";
    ItemPtr item = Add(origin.Url("/direct"));

    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray("from origin"));
    EXPECT_TRUE(http.Requests().empty());
}

TEST_F(ProxyFetchTest, SystemSettingUsesTheEnvironmentAndDirectIgnoresIt)
{
    SetEnv("http_proxy", "http://" + http.HostPort());
    SetEnv("no_proxy", std::nullopt);
    SetEnv("NO_PROXY", std::nullopt);

    options.ProxySetting = PROXY_SYSTEM;
    ItemPtr viaEnv = Add("http://origin.invalid/env", {}, "env.bin");
    EXPECT_EQ(Fetch(viaEnv), STATE_FETCHED);
    EXPECT_EQ(LocalBytes("env.bin"), QByteArray("via proxy http://origin.invalid/env"));

    // Direct: the host is looked up itself, and .invalid never resolves.
    options.ProxySetting = PROXY_DIRECT;
    ItemPtr direct = Add("http://origin.invalid/direct", {}, "direct.bin");
    EXPECT_EQ(Fetch(direct), STATE_FAILED);
    EXPECT_THAT(direct->GetNote(), StartsWith("libcurl error 6: "));
    EXPECT_EQ(http.Requests().size(), 1u);
}

} // namespace
} // namespace zorv::test
