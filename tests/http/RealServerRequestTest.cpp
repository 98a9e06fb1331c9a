// Requests against real servers: nginx (plain and TLS with a test CA), tinyproxy and microsocks,
// and TLS fault servers with bad certificates.
#include <gtest/gtest.h>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "platform/net/ProxySettings.h"
#include "platform/net/TLSSettings.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"
#include "support/net/NginxServer.h"
#include "support/net/ProxyServers.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::NginxServer;

class RealServerRequest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    nginx = new NginxServer({.tls = true});
    nginx->addFile("hello.txt", "hello from nginx\n");
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of a compressible text\n";
    nginx->addFile("text.txt", text);
    ASSERT_TRUE(nginx->start()) << nginx->log();
    net::addTrustedCertificate(net::Certificate::fromPEM(nginx->authority().certificatePEM()));
    // Proxies come only from the tests.
    net::ProxySettings::setSystemSettings(net::SystemProxySettings{});
  }
  static void TearDownTestSuite() {
    net::ProxySettings::setSystemSettings(std::nullopt);
    net::removeAllAddedTrustedCertificates();
    delete nginx;
    nginx = nullptr;
  }
  static Ref<HTTPRequest> get(const std::string& url) {
    auto request = HTTPRequest::requestWithURL(URL::make(url));
    request->setTimeOutSeconds(5);
    return request;
  }
  static std::string text() { return testing::readFile(nginx->root() / "text.txt"); }
  static NginxServer* nginx;
};

NginxServer* RealServerRequest::nginx = nullptr;

TEST_F(RealServerRequest, PlainSecureAndCompressed) {
  for (const auto& url : {nginx->url("/hello.txt"), nginx->tlsURL("/hello.txt")}) {
    auto request = get(url);
    request->startSynchronous();
    ASSERT_FALSE(request->error()) << request->error()->description();
    EXPECT_EQ(request->responseString().value_or(""), "hello from nginx\n");
  }
  auto compressed = get(nginx->url("/text.txt"));
  compressed->startSynchronous();
  EXPECT_TRUE(compressed->isResponseCompressed());
  EXPECT_LT(compressed->totalBytesRead(), text().size());
  EXPECT_EQ(std::string(compressed->responseData()->view()), text());
}

TEST_F(RealServerRequest, PooledConnectionsAreSharedOnlyByTheSameKindOfRequest) {
  auto run = [](bool validates) {
    auto request = get(nginx->tlsURL("/hello.txt"));
    request->setValidatesSecureCertificate(validates);
    request->startSynchronous();
    EXPECT_FALSE(request->error());
    return request->connectionID();
  };
  auto first = run(true);
  auto lenient = run(false);
  auto again = run(true);
  ASSERT_TRUE(first && lenient && again);
  EXPECT_NE(*first, *lenient);
  EXPECT_EQ(*first, *again);
}

TEST_F(RealServerRequest, RedirectChainsOfFiveAreFollowedAndSixFail) {
  for (int code : {301, 302, 303, 307}) {
    SCOPED_TRACE(code);
    auto five = get(nginx->url("/chain/" + std::to_string(code) + "/5"));
    five->startSynchronous();
    ASSERT_FALSE(five->error()) << five->error()->description();
    EXPECT_EQ(five->redirectCount(), 5);
    EXPECT_EQ(five->responseString().value_or(""), "end of chain\n");

    auto six = get(nginx->url("/chain/" + std::to_string(code) + "/6"));
    auto outcome = testing::recordOutcome(six);
    six->startSynchronous();
    EXPECT_EQ(outcome->failed, 1);
    ASSERT_TRUE(six->error());
    EXPECT_EQ(six->error()->code(), 9);
    EXPECT_EQ(six->error()->localizedDescription(), "The request failed because it redirected too many times");
  }
}

TEST_F(RealServerRequest, ADelegateDecidesAboutRedirectsAndTheSynchronousCallWaits) {
  struct Decider : HTTPRequestDelegate {
    bool respondsToSelector(std::string_view selector) const override {
      return selector == "requestWillRedirectToURL";
    }
    void requestWillRedirectToURL(const Ref<HTTPRequest>& request, const Ref<URL>& url) override {
      ++asked;
      request->redirectToURL(url);
    }
    int asked = 0;
  };
  auto decider = std::make_shared<Decider>();
  auto request = get(nginx->url("/chain/302/2"));
  request->setDelegate(decider);
  request->startSynchronous();
  // It returned only once the whole chain was done.
  EXPECT_TRUE(request->isFinished());
  EXPECT_FALSE(request->error());
  EXPECT_EQ(decider->asked, 2);
  EXPECT_EQ(request->responseString().value_or(""), "end of chain\n");
}

TEST_F(RealServerRequest, FileDownloadsAndResume) {
  testing::TemporaryDirectory directory;
  auto destination = (directory / "text.txt").string();
  auto request = get(nginx->url("/text.txt"));
  request->setDownloadDestinationPath(destination);
  request->startSynchronous();
  ASSERT_FALSE(request->error());
  EXPECT_EQ(testing::readFile(destination), text());

  // A partial temporary file is continued with a range.
  auto partial = (directory / "partial").string();
  testing::writeFile(partial, text().substr(0, 1000));
  auto resumed = get(nginx->url("/text.txt"));
  resumed->setAllowCompressedResponse(false);
  resumed->setAllowResumeForFileDownloads(true);
  resumed->setTemporaryFileDownloadPath(partial);
  resumed->setDownloadDestinationPath((directory / "resumed.txt").string());
  resumed->startSynchronous();
  ASSERT_FALSE(resumed->error());
  EXPECT_EQ(resumed->responseStatusCode(), 206);
  EXPECT_EQ(resumed->partialDownloadSize(), 1000u);
  EXPECT_EQ(testing::readFile(directory / "resumed.txt"), text());
}

TEST_F(RealServerRequest, BadCertificatesFailWithTheSecureConnectionMessage) {
  testing::TestCertificateAuthority authority("Other CA");
  std::vector<testing::TestKeyPair> pairs = {
      testing::TestCertificateAuthority::selfSigned("localhost", {"DNS:localhost"}),
      nginx->authority().issue("localhost", {"DNS:localhost"}, -7200, -3600),  // expired
      nginx->authority().issue("elsewhere.test", {"DNS:elsewhere.test"}),       // another host
  };
  for (const auto& pair : pairs) {
    FaultServer server(pair);
    ASSERT_TRUE(server.start());
    auto request = get(server.url("/ok"));
    auto outcome = testing::recordOutcome(request);
    request->startSynchronous();
    EXPECT_EQ(outcome->failed, 1);
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code(), 1);
    EXPECT_EQ(request->error()->localizedDescription(),
              "A connection failure occurred: SSL problem (possibly a bad/expired/self-signed certificate)");
    ASSERT_TRUE(request->error()->underlyingError());

    auto lenient = get(server.url("/ok"));
    lenient->setValidatesSecureCertificate(false);
    lenient->startSynchronous();
    EXPECT_FALSE(lenient->error());
    EXPECT_EQ(lenient->responseString().value_or(""), "hello");
    lenient->setPersistentConnectionTimeoutSeconds(0);
    server.stop();
  }
}

// How often `needle` appears in `text`.
std::size_t occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

TEST_F(RealServerRequest, ThroughProxies) {
  testing::TinyproxyServer tinyproxy;
  ASSERT_TRUE(tinyproxy.start());
  testing::MicrosocksServer socks;
  ASSERT_TRUE(socks.start());
  // Each proxy logs every request it carries (a plain one by its full URL, a secure one by its
  // tunnel), and logs it before it forwards anything, so the line is there once the answer is.
  auto authority = [](const std::string& url) {
    auto parsed = URL::make(url);
    return *parsed->host() + ":" + std::to_string(*parsed->port());
  };
  for (bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "https" : "http");
    std::string url = secure ? nginx->tlsURL("/hello.txt") : nginx->url("/hello.txt?via=tinyproxy");
    std::string tinyproxyLine = secure ? "CONNECT " + authority(url) + " HTTP/1.1" : "GET " + url + " HTTP/1.1";
    std::size_t before = occurrences(tinyproxy.log(), tinyproxyLine);
    auto http = get(url);
    http->setProxyHost("127.0.0.1");
    http->setProxyPort(tinyproxy.port());
    http->startSynchronous();
    ASSERT_FALSE(http->error()) << http->error()->description();
    EXPECT_EQ(http->responseString().value_or(""), "hello from nginx\n");
    EXPECT_EQ(occurrences(tinyproxy.log(), tinyproxyLine), before + 1) << tinyproxy.log();

    std::string socksLine = "connected to " + authority(url);
    before = occurrences(socks.log(), socksLine);
    auto viaSocks = get(url);
    viaSocks->setProxyHost("127.0.0.1");
    viaSocks->setProxyPort(socks.port());
    viaSocks->setProxyType(net::kProxyTypeSOCKS);
    viaSocks->startSynchronous();
    ASSERT_FALSE(viaSocks->error()) << viaSocks->error()->description();
    EXPECT_EQ(viaSocks->responseString().value_or(""), "hello from nginx\n");
    EXPECT_EQ(occurrences(socks.log(), socksLine), before + 1) << socks.log();
  }
}

TEST_F(RealServerRequest, AutoConfigurationScripts) {
  testing::TinyproxyServer tinyproxy;
  ASSERT_TRUE(tinyproxy.start());
  testing::TemporaryDirectory directory;
  testing::writeFile(directory / "proxy.pac", "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:" +
                                                  std::to_string(tinyproxy.port()) + "\"; }");
  testing::writeFile(directory / "broken.pac", "function FindProxyForURL(url, host) { throw 1; }");
  for (bool synchronous : {true, false}) {
    std::string url = nginx->url(synchronous ? "/hello.txt?pac=synchronous" : "/hello.txt?pac=asynchronous");
    auto request = get(url);
    request->setPACurl(URL::fileURL((directory / "proxy.pac").string()));
    auto outcome = testing::recordOutcome(request);
    if (synchronous) {
      request->startSynchronous();
    } else {
      request->startAsynchronous();
      ASSERT_TRUE(testing::waitForOutcome(outcome));
    }
    ASSERT_EQ(outcome->finished, 1) << (request->error() ? request->error()->description() : "");
    EXPECT_EQ(request->proxyPort(), tinyproxy.port());
    // The proxy the script named carried this very request.
    EXPECT_EQ(occurrences(tinyproxy.log(), "GET " + url + " HTTP/1.1"), 1u) << tinyproxy.log();
  }
  auto broken = get(nginx->url("/hello.txt"));
  broken->setPACurl(URL::fileURL((directory / "broken.pac").string()));
  auto outcome = testing::recordOutcome(broken);
  broken->startAsynchronous();
  ASSERT_TRUE(testing::waitForOutcome(outcome));
  ASSERT_TRUE(broken->error());
  EXPECT_EQ(broken->error()->code(), 6);
  EXPECT_EQ(broken->error()->localizedDescription(), "Unable to obtain information on proxy servers needed for request");

  // An unreadable script means going direct.
  auto missing = get(nginx->url("/hello.txt"));
  missing->setPACurl(URL::fileURL((directory / "missing.pac").string()));
  missing->startSynchronous();
  EXPECT_FALSE(missing->error());
  EXPECT_FALSE(missing->proxyHost());
}

TEST_F(RealServerRequest, NoSocketOutlivesItsConnection) {
  int before = testing::openSocketCount();
  std::size_t connectionsBefore = net::openHTTPConnectionCount();
  for (int i = 0; i < 6; ++i) {
    auto request = get(i % 2 ? nginx->tlsURL("/hello.txt") : nginx->url("/hello.txt"));
    request->setPersistentConnectionTimeoutSeconds(0);
    request->startSynchronous();
    EXPECT_FALSE(request->error());
  }
  HTTPRequest::expirePersistentConnections();
  EXPECT_TRUE(pumpRunLoopUntil([&] { return testing::openSocketCount() <= before; }, 20))
      << testing::openSocketCount() << " open, " << before << " before";
  EXPECT_LE(net::openHTTPConnectionCount(), connectionsBefore);
}

}  // namespace
}  // namespace zv
