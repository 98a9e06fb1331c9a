#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/net/MIMETypes.h"
#include "platform/net/ProxyAutoConfig.h"
#include "platform/net/ProxySettings.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/storage/AtomicFile.h"
#include "support/TestSupport.h"
#include "support/net/NginxServer.h"

namespace zv::net {
namespace {

TEST(ProxySettingsTest, ReadsTheEnvironment) {
  ProxySettings::setSystemSettings(std::nullopt);
  ::setenv("http_proxy", "http://proxy.test:3128", 1);
  ::setenv("https_proxy", "proxy.test:3129", 1);
  ::setenv("no_proxy", "localhost, .internal.test", 1);
  auto settings = ProxySettings::systemSettings();
  ::unsetenv("http_proxy");
  ::unsetenv("https_proxy");
  ::unsetenv("no_proxy");
  ASSERT_TRUE(settings.httpProxy);
  EXPECT_EQ(settings.httpProxy->host, "proxy.test");
  EXPECT_EQ(settings.httpProxy->port, 3128);
  ASSERT_TRUE(settings.httpsProxy);
  EXPECT_EQ(settings.httpsProxy->type, kProxyTypeHTTPS);

  auto viaProxy = ProxySettings::proxiesForURL(*URL::make("https://example.org/"), settings);
  ASSERT_EQ(viaProxy.size(), 2u);
  EXPECT_EQ(viaProxy[0].port, 3129);
  EXPECT_TRUE(viaProxy[1].isDirect());
  for (const char* direct : {"http://localhost/", "http://a.internal.test/", "http://internal.test/"}) {
    auto list = ProxySettings::proxiesForURL(*URL::make(direct), settings);
    ASSERT_EQ(list.size(), 1u) << direct;
    EXPECT_TRUE(list[0].isDirect());
  }
}

TEST(ProxySettingsTest, ParsesProxyURLs) {
  EXPECT_EQ(ProxySettings::parseProxyURL("socks5://127.0.0.1:1080")->type, kProxyTypeSOCKS);
  EXPECT_EQ(ProxySettings::parseProxyURL("socks4://h:9")->socksVersion, 4);
  EXPECT_EQ(ProxySettings::parseProxyURL("http://h")->port, 80);
  EXPECT_FALSE(ProxySettings::parseProxyURL("ftp://h:1"));
  EXPECT_FALSE(ProxySettings::parseProxyURL(""));
}

TEST(ProxySettingsTest, AnAutoConfigurationScriptWins) {
  SystemProxySettings settings;
  settings.httpProxy = ProxyServer::make(kProxyTypeHTTP, "p", 1);
  settings.autoConfigurationURL = URL::make("http://127.0.0.1/proxy.pac");
  auto list = ProxySettings::proxiesForURL(*URL::make("http://example.org/"), settings);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].type, kProxyTypeAutoConfigurationURL);
}

TEST(ProxyAutoConfigTest, EvaluatesScriptsWithTheBuiltIns) {
  const char* script = R"JS(
    function FindProxyForURL(url, host) {
      if (isPlainHostName(host) || dnsDomainIs(host, ".local.test")) return "DIRECT";
      if (shExpMatch(url, "https://*")) return "PROXY secure.test:8443; DIRECT";
      // Only address literals reach isInNet: a name would be looked up, and tests stay on loopback.
      if (/^[0-9.]+$/.test(host) && isInNet(host, "10.0.0.0", "255.0.0.0")) return "SOCKS5 socks.test:1080";
      if (dnsDomainLevels(host) > 2) return "SOCKS4 old.test";
      return "PROXY web.test:3128";
    })JS";
  struct Case {
    const char* url;
    std::string type;
    std::string host;
    int port;
    std::size_t count;
  };
  const Case cases[] = {
      {"http://intranet/", kProxyTypeNone, "", 0, 1},
      {"http://a.local.test/", kProxyTypeNone, "", 0, 1},
      {"https://example.org/", kProxyTypeHTTP, "secure.test", 8443, 2},
      {"http://10.1.2.3/", kProxyTypeSOCKS, "socks.test", 1080, 1},
      {"http://a.b.c.example/", kProxyTypeSOCKS, "old.test", 1080, 1},
      {"http://example.org/", kProxyTypeHTTP, "web.test", 3128, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    Ref<Error> error;
    auto list = ProxyAutoConfig::proxiesForURL(script, *URL::make(c.url), &error);
    ASSERT_TRUE(list) << error->description();
    ASSERT_EQ(list->size(), c.count);
    EXPECT_EQ(list->front().type, c.type);
    EXPECT_EQ(list->front().host, c.host);
    EXPECT_EQ(list->front().port, c.port);
  }
}

TEST(ProxyAutoConfigTest, BrokenScriptsAreErrorsNotCrashes) {
  auto url = URL::make("http://example.org/");
  for (const char* script : {"function FindProxyForURL(url, host) {", "var x = 1;",
                             "function FindProxyForURL(url, host) { throw new Error('no'); }",
                             "function FindProxyForURL(url, host) { return 42; }",
                             "function FindProxyForURL(u, h) { var a = []; for (;;) a.push(new Array(1000000)); }"}) {
    SCOPED_TRACE(script);
    Ref<Error> error;
    EXPECT_FALSE(ProxyAutoConfig::proxiesForURL(script, *url, &error));
    EXPECT_TRUE(error);
  }
  EXPECT_EQ(ProxyAutoConfig::parseResult("").front().type, kProxyTypeNone);
  EXPECT_EQ(ProxyAutoConfig::parseResult("nonsense; PROXY h:1").front().host, "h");
}

TEST(ProxyAutoConfigTest, FetchesScriptsWithoutBlocking) {
  zv::testing::NginxServer nginx;
  nginx.addFile("proxy.pac", "function FindProxyForURL(u, h) { return 'PROXY from.script:1'; }");
  ASSERT_TRUE(nginx.start()) << nginx.log();
  std::optional<std::optional<std::string>> fetched;
  ProxyAutoConfig::fetchScript(URL::make(nginx.url("/proxy.pac")), [&](std::optional<std::string> text) { fetched = text; });
  EXPECT_FALSE(fetched);  // nothing happens until the loop runs
  ASSERT_TRUE(pumpRunLoopUntil([&] { return fetched.has_value(); }, 10));
  ASSERT_TRUE(*fetched);
  EXPECT_EQ(ProxyAutoConfig::proxiesForURL(**fetched, *URL::make("http://x/"))->front().host, "from.script");

  fetched.reset();
  ProxyAutoConfig::fetchScript(URL::make(nginx.url("/missing.pac")), [&](std::optional<std::string> text) { fetched = text; });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return fetched.has_value(); }, 10));
  EXPECT_FALSE(*fetched);

  zv::testing::TemporaryDirectory folder;
  zv::testing::writeFile(folder / "local.pac", "function FindProxyForURL(u, h) { return 'DIRECT'; }");
  fetched.reset();
  ProxyAutoConfig::fetchScript(URL::fileURL((folder / "local.pac").string()),
                               [&](std::optional<std::string> text) { fetched = text; });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return fetched.has_value(); }, 10));
  ASSERT_TRUE(*fetched);

  // A path that opens but cannot be read (a folder) is a failure, not an empty script.
  fetched.reset();
  ProxyAutoConfig::fetchScript(URL::fileURL(folder.path().string()),
                               [&](std::optional<std::string> text) { fetched = text; });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return fetched.has_value(); }, 10));
  EXPECT_FALSE(*fetched);
}

TEST(ProxyAutoConfigTest, AFetchedScriptIsBoundedAsAScriptFileIs) {
  // One byte past the bound is no script.
  const std::string head = "function FindProxyForURL(u, h) { return 'PROXY past.bound:1'; }\n//";
  zv::testing::NginxServer nginx;
  nginx.addFile("over.pac", head + std::string(storage::kSmallFileReadLimit + 1 - head.size(), 'x'));
  ASSERT_TRUE(nginx.start()) << nginx.log();
  std::optional<std::optional<std::string>> fetched;
  ProxyAutoConfig::fetchScript(URL::make(nginx.url("/over.pac")), [&](std::optional<std::string> text) { fetched = text; });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return fetched.has_value(); }, 30));
  EXPECT_FALSE(*fetched);
}

TEST(MIMETypesTest, LooksUpExtensions) {
  auto table = MIMETypes::parse("# comment\ntext/plain txt text\nimage/jpeg jpeg jpg jpe\ntext/x-dup txt\nbroken\n");
  EXPECT_EQ(table.typeForExtension("TXT"), "text/plain");
  EXPECT_EQ(table.typeForExtension(".jpg"), "image/jpeg");
  EXPECT_EQ(table.typeForPath("/a/b/photo.JPE"), "image/jpeg");
  EXPECT_FALSE(table.typeForPath("/a/b/.hidden"));
  EXPECT_FALSE(table.typeForPath("/a.b/noextension"));
  EXPECT_FALSE(table.typeForExtension("unknownext"));
  EXPECT_EQ(MIMETypes::shared().typeForExtension("png"), "image/png");
}

}  // namespace
}  // namespace zv::net
