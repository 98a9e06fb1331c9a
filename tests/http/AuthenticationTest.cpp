// Authentication against real servers: nginx (Basic), apache2 (Digest), tinyproxy (Basic for a
// proxy, plain and tunnelled), an NTLM stand-in that recomputes the NTLMv2 proof, and the fault
// server's challenge loops and broken challenges. Also the NTLMv2 known-answer values and the
// challenge grammar.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "platform/crypto/Digest.h"
#include "platform/net/ProxySettings.h"
#include "platform/net/TLSSettings.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/URLCredentialStorage.h"
#include "support/TestSupport.h"
#include "support/net/ApacheServer.h"
#include "support/net/FaultServer.h"
#include "support/net/NTLMStandIn.h"
#include "support/net/NginxServer.h"
#include "support/net/ProxyServers.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::RecordedRequest;

std::vector<std::uint8_t> fromHex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// --- Known answers and grammar. ---

TEST(NTLMKnownAnswers, PublishedNTLMv2Values) {
  // User "User", domain "Domain", password "Password", server challenge 0123456789abcdef, client
  // challenge aa...aa, time 0, target information naming domain "Domain" and server "Server".
  auto hash = net::ntlm::ntHash("Password");
  ASSERT_TRUE(hash) << "MD4 is not available";
  EXPECT_EQ(crypto::hex(*hash), "a4f49c406510bdcab6824ee7c30fd852");
  auto v2 = net::ntlm::ntlmv2Hash(*hash, "User", "Domain");
  EXPECT_EQ(crypto::hex(v2), "0c868a403bfd7a93a3001ef22ef02e3f");
  auto serverChallenge = fromHex("0123456789abcdef");
  auto clientChallenge = fromHex("aaaaaaaaaaaaaaaa");
  auto info = fromHex("02000c0044006f006d00610069006e00" "01000c00530065007200760065007200" "00000000");
  auto response = net::ntlm::ntlmv2Response(v2, serverChallenge, clientChallenge, 0, info);
  EXPECT_EQ(crypto::hex(std::span(response.data(), 16)), "68cd0ab851e51c96aabc927bebef6a1c");
  std::vector<std::uint8_t> lmInput = serverChallenge;
  lmInput.insert(lmInput.end(), clientChallenge.begin(), clientChallenge.end());
  EXPECT_EQ(crypto::hex(net::ntlm::hmacMD5(v2, lmInput)), "86c35097ac9cec102554764a57cccc19");
}

TEST(ChallengeGrammar, ReadsListsAndRejectsBrokenText) {
  auto both = net::parseChallenges(R"(Digest realm="a, b", nonce="n\"1", qop="auth,auth-int", Basic realm=x)");
  ASSERT_TRUE(both);
  ASSERT_EQ(both->size(), 2u);
  EXPECT_EQ((*both)[0].scheme, "Digest");
  EXPECT_EQ((*both)[0].params.at("realm"), "a, b");
  EXPECT_EQ((*both)[0].params.at("nonce"), "n\"1");
  EXPECT_EQ((*both)[1].params.at("realm"), "x");
  auto ntlm = net::parseChallenges("NTLM TlRMTVNTUAACAAAA==");
  ASSERT_TRUE(ntlm);
  EXPECT_EQ((*ntlm)[0].token.value_or(""), "TlRMTVNTUAACAAAA==");
  auto lone = net::parseChallenges("Negotiate, NTLM");
  ASSERT_TRUE(lone);
  EXPECT_EQ(lone->size(), 2u);
  for (const char* broken : {R"(Basic realm="unterminated)", "Basic realm=\"a\" b", "=x", R"(Digest realm="a" nonce="b")", ""}) {
    EXPECT_FALSE(net::parseChallenges(broken)) << broken;
  }
}

TEST(HTTPAuthenticationObject, BasicDigestAndRefusal) {
  auto challenge = net::HTTPMessage::makeResponse(401);
  challenge->setHeaderField("WWW-Authenticate", R"(Digest realm="r", nonce="abc", qop="auth", opaque="o")");
  auto sent = net::HTTPMessage::makeRequest("GET", URL::make("http://h/p?q=1"));
  Ref<Error> error;
  auto digest = net::HTTPAuthentication::fromResponse(*challenge, sent.get(), &error);
  ASSERT_TRUE(digest);
  EXPECT_EQ(digest->method(), "Digest");
  EXPECT_EQ(digest->realm().value_or(""), "r");
  EXPECT_TRUE(digest->isValid());
  auto credentials = MutableDictionary::make();
  credentials->setObject(box("u"), net::kHTTPAuthenticationUsername);
  credentials->setObject(box("pw"), net::kHTTPAuthenticationPassword);
  ASSERT_TRUE(digest->applyCredentials(*credentials, *sent));
  auto header = sent->headerField("Authorization").value_or("");
  auto params = net::parseChallenges(header);
  ASSERT_TRUE(params);
  const auto& p = (*params)[0].params;
  EXPECT_EQ(p.at("uri"), "/p?q=1");
  EXPECT_EQ(p.at("nc"), "00000001");
  EXPECT_EQ(p.at("opaque"), "o");
  std::string ha1 = crypto::md5Hex("u:r:pw");
  std::string ha2 = crypto::md5Hex("GET:/p?q=1");
  EXPECT_EQ(p.at("response"), crypto::md5Hex(ha1 + ":abc:00000001:" + p.at("cnonce") + ":auth:" + ha2));

  // The same challenge again, to a request that carried these credentials: refused.
  EXPECT_TRUE(digest->updateFromResponse(*challenge, sent.get()));
  Ref<Error> reason;
  EXPECT_FALSE(digest->isValid(&reason));
  ASSERT_TRUE(reason);
  EXPECT_EQ(reason->code(), net::kHTTPAuthenticationBadPassword);
  // A stale nonce is no refusal.
  challenge->setHeaderField("WWW-Authenticate", R"(Digest realm="r", nonce="new", qop="auth", stale=true)");
  EXPECT_TRUE(digest->updateFromResponse(*challenge, sent.get()));
  EXPECT_TRUE(digest->isValid());

  for (const char* broken : {"Foo realm=x", "Basic", "Digest realm=\"r\"", "Basic realm=\"x"}) {
    challenge->setHeaderField("WWW-Authenticate", broken);
    EXPECT_FALSE(net::HTTPAuthentication::fromResponse(*challenge, nullptr, &error)) << broken;
  }
  challenge->setHeaderField("WWW-Authenticate", std::nullopt);
  EXPECT_FALSE(net::HTTPAuthentication::fromResponse(*challenge, nullptr, &error));
}

// --- Requests. ---

// A delegate that answers credential questions with a function (on the main thread).
class CredentialDelegate : public HTTPRequestDelegate {
 public:
  std::function<void(const Ref<HTTPRequest>&)> onServer;
  std::function<void(const Ref<HTTPRequest>&)> onProxy;
  std::atomic<int> serverAsks{0}, proxyAsks{0};
  bool respondsToSelector(std::string_view selector) const override {
    return (selector == "authenticationNeededForRequest" && onServer) ||
           (selector == "proxyAuthenticationNeededForRequest" && onProxy);
  }
  void authenticationNeededForRequest(const Ref<HTTPRequest>& request) override {
    ++serverAsks;
    onServer(request);
  }
  void proxyAuthenticationNeededForRequest(const Ref<HTTPRequest>& request) override {
    ++proxyAsks;
    onProxy(request);
  }
};

// A delegate that answers the first question with these credentials and cancels after that.
std::shared_ptr<CredentialDelegate> answersOnce(const std::string& user, const std::string& password) {
  auto delegate = std::make_shared<CredentialDelegate>();
  CredentialDelegate* asked = delegate.get();  // the delegate outlives its own function
  delegate->onServer = [asked, user, password](const Ref<HTTPRequest>& r) {
    if (asked->serverAsks > 1) return r->cancelAuthentication();
    r->setUsername(user);
    r->setPassword(password);
    r->retryUsingSuppliedCredentials();
  };
  return delegate;
}

class Authentication : public ::testing::Test {
 protected:
  void SetUp() override {
    HTTPRequest::clearSessionCredentials();
    HTTPRequest::clearProxySessionCredentials();
    URLCredentialStorage::shared().removeAllSessionCredentials();
    ApplicationEnvironment::shared().setHomeDirectory(home.path());
    net::ProxySettings::setSystemSettings(net::SystemProxySettings{});
  }
  void TearDown() override {
    net::ProxySettings::setSystemSettings(std::nullopt);
    HTTPRequest::clearSessionCredentials();
    HTTPRequest::clearProxySessionCredentials();
  }
  static Ref<HTTPRequest> get(const std::string& url, double timeout = 10) {
    auto request = HTTPRequest::requestWithURL(URL::make(url));
    request->setTimeOutSeconds(timeout);
    return request;
  }
  // Runs asynchronously; true when it reported exactly once, on the main thread.
  static bool run(const Ref<HTTPRequest>& request) {
    auto outcome = testing::recordOutcome(request);
    request->startAsynchronous();
    bool reported = testing::waitForOutcome(outcome, 20);
    return reported && outcome->total() == 1 && outcome->offMainThread == 0;
  }
  static int errorCode(const Ref<HTTPRequest>& request) { return request->error() ? static_cast<int>(request->error()->code()) : 0; }
  testing::TemporaryDirectory home;
};

class NginxAuthentication : public Authentication {
 protected:
  static void SetUpTestSuite() {
    nginx = new testing::NginxServer();
    ASSERT_TRUE(nginx->start()) << nginx->log();
  }
  static void TearDownTestSuite() {
    delete nginx;
    nginx = nullptr;
  }
  static testing::NginxServer* nginx;
};
testing::NginxServer* NginxAuthentication::nginx = nullptr;

TEST_F(NginxAuthentication, BasicBeforeTheChallengeIsRememberedForTheOrigin) {
  auto first = get(nginx->url("/protected/index.html"));
  first->setUsername("user");
  first->setPassword("secret");
  ASSERT_TRUE(run(first));
  ASSERT_FALSE(first->error()) << first->error()->description();
  EXPECT_EQ(first->responseString().value_or(""), "protected content\n");
  EXPECT_FALSE(first->requestAuthentication());  // never challenged
  ASSERT_EQ(HTTPRequest::sessionCredentialsStore().size(), 1u);

  // Another path of the same origin goes with the remembered credentials.
  auto second = get(nginx->url("/protected/"));
  ASSERT_TRUE(run(second));
  EXPECT_FALSE(second->error());
  EXPECT_EQ(second->responseStatusCode(), 200);
}

TEST_F(NginxAuthentication, CredentialsInTheURLAnswerTheChallengeFirst) {
  auto url = nginx->url("/protected/index.html");
  url.insert(url.find("//") + 2, "user:secret@");
  auto request = get(url);
  request->setUsername("user");
  request->setPassword("wrong");  // sent before the challenge and refused: not the last word
  ASSERT_TRUE(run(request));
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(request->authenticationScheme().value_or(""), "Basic");
  EXPECT_EQ(request->authenticationRealm().value_or(""), "Test Realm");
}

TEST_F(NginxAuthentication, NobodyToAskFailsAtOnceWithAuthenticationNeeded) {
  auto request = get(nginx->url("/protected/index.html"), 60);
  ASSERT_TRUE(run(request));  // within 20 s, far below the 60 s time-out
  EXPECT_EQ(errorCode(request), RequestErrorAuthentication);
  EXPECT_EQ(request->error()->localizedDescription(), "Authentication needed");
}

TEST_F(NginxAuthentication, WrongPasswordIsRefusedAndTheDelegateAskedAgain) {
  auto delegate = answersOnce("user", "secret");
  auto request = get(nginx->url("/protected/index.html"));
  request->setUsername("user");
  request->setPassword("wrong");
  request->setDelegate(delegate);
  ASSERT_TRUE(run(request));
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(delegate->serverAsks, 1);
}

TEST_F(NginxAuthentication, KeychainKeepsCredentialsThatWorked) {
  auto first = get(nginx->url("/protected/index.html"));
  first->setUseKeychainPersistence(true);
  first->setShouldPresentCredentialsBeforeChallenge(false);
  first->setUsername("user");
  first->setPassword("secret");
  ASSERT_TRUE(run(first));
  ASSERT_FALSE(first->error());
  auto target = URL::make(nginx->url("/"));
  auto saved = HTTPRequest::savedCredentials("127.0.0.1", *target->port(), "http", std::string("Test Realm"));
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->stringForKey(net::kHTTPAuthenticationUsername).value_or(""), "user");

  HTTPRequest::clearSessionCredentials();
  auto second = get(nginx->url("/protected/index.html"));
  second->setUseKeychainPersistence(true);
  ASSERT_TRUE(run(second));
  EXPECT_FALSE(second->error());
  HTTPRequest::removeCredentials("127.0.0.1", *target->port(), "http", std::string("Test Realm"));
  EXPECT_FALSE(HTTPRequest::savedCredentials("127.0.0.1", *target->port(), "http", std::string("Test Realm")));
}

TEST_F(Authentication, DigestAgainstApache) {
  if (!testing::ApacheServer::isAvailable()) GTEST_SKIP() << "apache2 is not installed";
  testing::ApacheServer apache("digest realm");
  apache.addDigestUser("alice", "wonderland");
  apache.addFile("digest/page.txt", "digest content");
  ASSERT_TRUE(apache.start()) << apache.log();

  auto request = get(apache.url("/digest/page.txt?x=1"));
  request->setUsername("alice");
  request->setPassword("wonderland");
  ASSERT_TRUE(run(request));
  ASSERT_FALSE(request->error()) << request->error()->description() << apache.log();
  EXPECT_EQ(request->responseString().value_or(""), "digest content");
  EXPECT_EQ(request->authenticationScheme().value_or(""), "Digest");
  EXPECT_EQ(request->authenticationRealm().value_or(""), "digest realm");

  // A second request of the process answers with the remembered Digest credentials.
  auto again = get(apache.url("/digest/page.txt"));
  ASSERT_TRUE(run(again));
  EXPECT_FALSE(again->error());

  // Through the delegate, and a wrong password leads to code 3 once nobody answers any more.
  HTTPRequest::clearSessionCredentials();
  auto delegate = answersOnce("alice", "not it");
  auto refused = get(apache.url("/digest/page.txt"));
  refused->setDelegate(delegate);
  ASSERT_TRUE(run(refused));
  EXPECT_EQ(errorCode(refused), RequestErrorAuthentication);
  EXPECT_EQ(delegate->serverAsks, 2);
}

// A Digest stand-in: MD5-sess, and a stale nonce after the first correct answer.
class DigestStandIn {
 public:
  void install(FaultServer& server) {
    server.route("/sess", [this](const RecordedRequest& r, FaultServer::Connection& c) {
      auto authorization = r.header("Authorization");
      auto challenge = [&](const std::string& nonce, bool stale) {
        std::string header = "Digest realm=\"sess\", nonce=\"" + nonce + "\", qop=\"auth\", algorithm=MD5-sess";
        if (stale) header += ", stale=true";
        c.send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + header + "\r\nContent-Length: 0\r\n\r\n");
      };
      if (!authorization) return challenge("n1", false);
      auto parsed = net::parseChallenges(*authorization);
      if (!parsed) return challenge("n1", false);
      auto p = (*parsed)[0].params;
      std::string ha1 = crypto::md5Hex(crypto::md5Hex("bob:sess:builder") + ":" + p["nonce"] + ":" + p["cnonce"]);
      std::string ha2 = crypto::md5Hex(r.method + ":" + r.target);
      std::string expected = crypto::md5Hex(ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
      if (p["response"] != expected || p["uri"] != r.target) return challenge("n1", false);
      ++correct;
      if (p["nonce"] == "n1") return challenge("n2", true);  // the first nonce has gone stale
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nsess");
    });
  }
  std::atomic<int> correct{0};
};

TEST_F(Authentication, DigestSessionAndStaleNonceWithoutAskingAgain) {
  FaultServer server;
  DigestStandIn digest;
  digest.install(server);
  ASSERT_TRUE(server.start());
  auto delegate = std::make_shared<CredentialDelegate>();
  delegate->onServer = [](const Ref<HTTPRequest>& r) { r->cancelAuthentication(); };
  auto request = get(server.url("/sess"));
  request->setUsername("bob");
  request->setPassword("builder");
  request->setDelegate(delegate);
  ASSERT_TRUE(run(request));
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(request->responseString().value_or(""), "sess");
  EXPECT_EQ(digest.correct, 2);
  EXPECT_EQ(delegate->serverAsks, 0);
}

TEST_F(Authentication, ANonceCalledStaleForEverEndsAsRefusedCredentials) {
  // Every answer carrying credentials is called stale, with a new nonce each time.
  std::atomic<int> nonces{0};
  auto staleForever = [&nonces](std::string status, std::string challengeField, std::string answerField) {
    return [&nonces, status, challengeField, answerField](const RecordedRequest& r, FaultServer::Connection& c) {
      std::string challenge = "Digest realm=\"loop\", qop=\"auth\", nonce=\"n" + std::to_string(++nonces) + "\"";
      if (r.header(answerField)) challenge += ", stale=true";
      c.send("HTTP/1.1 " + status + "\r\n" + challengeField + ": " + challenge + "\r\nContent-Length: 0\r\n\r\n");
    };
  };
  FaultServer server, proxy;
  server.route("/stale", staleForever("401 Unauthorized", "WWW-Authenticate", "Authorization"));
  proxy.route("/", staleForever("407 Proxy Authentication Required", "Proxy-Authenticate", "Proxy-Authorization"));
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(proxy.start());

  // The first challenge, the credentials, one retry for the stale nonce: then they count as
  // refused (code 3), long before any time-out.
  auto request = get(server.url("/stale"));
  request->setUsername("bob");
  request->setPassword("builder");
  EXPECT_TRUE(run(request));
  EXPECT_EQ(errorCode(request), RequestErrorAuthentication);
  EXPECT_EQ(server.requests().size(), 3u);
  request->clearDelegatesAndCancel();

  auto proxied = get("http://origin.example/x");
  proxied->setProxyHost("127.0.0.1");
  proxied->setProxyPort(proxy.port());
  proxied->setProxyUsername("puser");
  proxied->setProxyPassword("ppass");
  EXPECT_TRUE(run(proxied));
  EXPECT_EQ(errorCode(proxied), RequestErrorAuthentication);
  EXPECT_EQ(proxy.requests().size(), 3u);
  proxied->clearDelegatesAndCancel();
}

TEST_F(Authentication, NTLMHandshakeOnOneConnection) {
  FaultServer server;
  testing::NTLMStandIn ntlm("User", "Domain", "Password");
  ntlm.install(server, "/ntlm");
  ASSERT_TRUE(server.start());
  auto request = get(server.url("/ntlm"));
  request->setUsername("User");
  request->setPassword("Password");
  request->setDomain("Domain");
  ASSERT_TRUE(run(request));
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(request->responseString().value_or(""), "ntlm ok");
  EXPECT_EQ(ntlm.accepted(), 1);
  auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 3u);
  for (const auto& r : recorded) EXPECT_EQ(r.connectionNumber, recorded[0].connectionNumber);
  EXPECT_EQ(request->authenticationScheme().value_or(""), "NTLM");
  EXPECT_FALSE(request->authenticationRealm());

  // A wrong password is refused after the third message; nobody to ask: code 3.
  HTTPRequest::clearSessionCredentials();
  auto wrong = get(server.url("/ntlm"));
  wrong->setUsername("User");
  wrong->setPassword("Guess");
  wrong->setDomain("Domain");
  ASSERT_TRUE(run(wrong));
  EXPECT_EQ(errorCode(wrong), RequestErrorAuthentication);
  EXPECT_EQ(ntlm.accepted(), 1);
  EXPECT_EQ(ntlm.authenticateMessages(), 2);
}

TEST_F(Authentication, ProxyCredentialsThroughTinyproxy) {
  testing::NginxServer nginx({.tls = true});
  ASSERT_TRUE(nginx.start()) << nginx.log();
  net::addTrustedCertificate(net::Certificate::fromPEM(nginx.authority().certificatePEM()));
  testing::TinyproxyServer proxy("puser", "ppass");
  ASSERT_TRUE(proxy.start()) << proxy.log();

  for (const auto& url : {nginx.url("/protected/index.html"), nginx.tlsURL("/protected/index.html")}) {
    HTTPRequest::clearProxySessionCredentials();
    auto request = get(url);
    request->setProxyHost("127.0.0.1");
    request->setProxyPort(proxy.port());
    request->setProxyUsername("puser");
    request->setProxyPassword("ppass");
    request->setUsername("user");
    request->setPassword("secret");
    ASSERT_TRUE(run(request));
    ASSERT_FALSE(request->error()) << url << ": " << request->error()->description() << proxy.log();
    EXPECT_EQ(request->responseString().value_or(""), "protected content\n");
    EXPECT_EQ(request->proxyAuthenticationScheme().value_or(""), "Basic");
  }
  // No proxy credentials and no window for the dialog: code 3 at once.
  HTTPRequest::clearProxySessionCredentials();
  auto request = get(nginx.url("/protected/index.html"), 60);
  request->setProxyHost("127.0.0.1");
  request->setProxyPort(proxy.port());
  ASSERT_TRUE(run(request));
  EXPECT_EQ(errorCode(request), RequestErrorAuthentication);
  net::removeAllAddedTrustedCertificates();
}

TEST_F(Authentication, AProxyChallengeAsksTheDelegateAboutTheProxyOnly) {
  testing::NginxServer nginx({.tls = true});
  ASSERT_TRUE(nginx.start()) << nginx.log();
  testing::TinyproxyServer proxy("puser", "ppass");
  ASSERT_TRUE(proxy.start()) << proxy.log();
  auto delegate = std::make_shared<CredentialDelegate>();
  delegate->onServer = [](const Ref<HTTPRequest>& r) { r->cancelAuthentication(); };
  delegate->onProxy = [](const Ref<HTTPRequest>& r) {
    r->setProxyUsername("puser");
    r->setProxyPassword("ppass");
    r->retryUsingSuppliedCredentials();
  };
  auto request = get(nginx.url("/protected/index.html"));
  request->setProxyHost("127.0.0.1");
  request->setProxyPort(proxy.port());
  request->setUsername("user");
  request->setPassword("secret");
  request->setDelegate(delegate);
  ASSERT_TRUE(run(request));
  ASSERT_FALSE(request->error()) << request->error()->description() << proxy.log();
  EXPECT_EQ(request->responseString().value_or(""), "protected content\n");
  EXPECT_EQ(delegate->proxyAsks, 1);
  EXPECT_EQ(delegate->serverAsks, 0);
  EXPECT_EQ(request->proxyAuthenticationScheme().value_or(""), "Basic");
  ASSERT_TRUE(request->proxyCredentials());
  EXPECT_EQ(request->proxyCredentials()->stringForKey(net::kHTTPAuthenticationUsername), "puser");
}

class FaultAuthentication : public Authentication {
 protected:
  FaultAuthentication() {
    auto plain = [](const std::string& head) {
      return [head](const RecordedRequest&, FaultServer::Connection& c) { c.send(head + "Content-Length: 0\r\n\r\n"); };
    };
    server.route("/no-challenge", plain("HTTP/1.1 401 Unauthorized\r\n"));
    server.route("/unknown-scheme", plain("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Foo bar=baz\r\n"));
    server.route("/no-realm", plain("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n"));
    server.route("/broken-quote", plain("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"open\r\n"));
    server.route("/endless-challenge", [](const RecordedRequest&, FaultServer::Connection& c) {
      c.send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 100\r\n\r\nonly part");
      c.stallUntilStopped();
    });
    server.route("/redirect-307", [this](const RecordedRequest&, FaultServer::Connection& c) {
      c.send("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + other.url("/auth") + "\r\nContent-Length: 0\r\n\r\n");
    });
    // Challenges, and once "user:secret" came, sends the request on to the other server.
    server.route("/auth-then-away", [this](const RecordedRequest& r, FaultServer::Connection& c) {
      if (r.header("Authorization") == std::optional<std::string>("Basic dXNlcjpzZWNyZXQ=")) {
        c.send("HTTP/1.1 302 Found\r\nLocation: " + other.url("/auth") + "\r\nContent-Length: 0\r\n\r\n");
      } else {
        c.send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n");
      }
    });
  }
  void SetUp() override {
    Authentication::SetUp();
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(other.start());
  }
  FaultServer server;
  FaultServer other;
};

TEST_F(FaultAuthentication, ChallengesThatCannotBeReadFailOnceWithCode7) {
  for (const char* path : {"/no-challenge", "/unknown-scheme", "/no-realm", "/broken-quote"}) {
    auto request = get(server.url(path));
    request->setUsername("user");
    request->setPassword("secret");
    ASSERT_TRUE(run(request)) << path;
    EXPECT_EQ(errorCode(request), RequestErrorApplyingCredentials) << path;
    EXPECT_EQ(request->error()->localizedDescription(), "Failed to get authentication object from response headers");
  }
}

TEST_F(FaultAuthentication, WrongPasswordThreeTimesThenCancel) {
  auto delegate = std::make_shared<CredentialDelegate>();
  delegate->onServer = [&](const Ref<HTTPRequest>& r) {
    if (delegate->serverAsks > 3) return r->cancelAuthentication();
    r->setUsername("user");
    r->setPassword("wrong" + std::to_string(delegate->serverAsks.load()));
    r->retryUsingSuppliedCredentials();
  };
  auto request = get(server.url("/auth"));
  request->setDelegate(delegate);
  ASSERT_TRUE(run(request));
  EXPECT_EQ(errorCode(request), RequestErrorAuthentication);
  EXPECT_EQ(delegate->serverAsks, 4);
  int withCredentials = 0;
  for (const auto& r : server.requests()) withCredentials += r.header("Authorization").has_value();
  EXPECT_EQ(withCredentials, 3);
}

TEST_F(FaultAuthentication, AChallengeThatNeverEndsTimesOut) {
  auto request = get(server.url("/endless-challenge"), 1);
  ASSERT_TRUE(run(request));
  EXPECT_EQ(errorCode(request), RequestErrorTimedOut);
}

TEST_F(FaultAuthentication, WaitingForAnAnswerKeepsToTheTimeOutAndCanBeCancelled) {
  auto silent = std::make_shared<CredentialDelegate>();
  silent->onServer = [](const Ref<HTTPRequest>&) {};
  auto waits = get(server.url("/auth"), 1);
  waits->setDelegate(silent);
  ASSERT_TRUE(run(waits));
  EXPECT_EQ(errorCode(waits), RequestErrorTimedOut);

  auto cancelled = get(server.url("/auth"), 60);
  auto canceller = std::make_shared<CredentialDelegate>();
  canceller->onServer = [](const Ref<HTTPRequest>& r) { r->cancel(); };
  cancelled->setDelegate(canceller);
  ASSERT_TRUE(run(cancelled));
  EXPECT_EQ(errorCode(cancelled), RequestErrorCancelled);
}

TEST_F(FaultAuthentication, CredentialsNeverFollowARedirectToAnotherOrigin) {
  // A 302 to another port: the caller's credentials stay behind, so the new origin's challenge
  // finds nothing.
  auto redirected = get(server.url("/redirect?to=" + other.url("/auth")));
  redirected->setUsername("user");
  redirected->setPassword("secret");
  ASSERT_TRUE(run(redirected));
  EXPECT_EQ(errorCode(redirected), RequestErrorAuthentication);
  // A 307 keeps its headers, but not the old origin's "Authorization".
  auto kept = get(server.url("/redirect-307"));
  kept->addBasicAuthenticationHeader("user", "secret");
  ASSERT_TRUE(run(kept));
  EXPECT_EQ(errorCode(kept), RequestErrorAuthentication);
  for (const auto& r : other.requests()) EXPECT_FALSE(r.header("Authorization")) << r.target;
  ASSERT_FALSE(other.requests().empty());
  // The first server did get them.
  EXPECT_TRUE(server.requests().front().header("Authorization"));

  // Credentials a callback supplied answer the origin that asked, and go no further: the other
  // server's challenge is a new question.
  HTTPRequest::clearSessionCredentials();
  auto answered = get(server.url("/auth-then-away"));
  std::atomic<int> asked{0};
  WeakRef<HTTPRequest> weak = answered;
  answered->setAuthenticationNeededBlock([&asked, weak] {
    auto r = weak.lock();
    if (++asked > 1) return r->cancelAuthentication();
    r->setUsername("user");
    r->setPassword("secret");
    r->retryUsingSuppliedCredentials();
  });
  std::size_t before = other.requests().size();
  ASSERT_TRUE(run(answered));
  EXPECT_EQ(errorCode(answered), RequestErrorAuthentication);
  EXPECT_EQ(asked, 2);
  auto arrived = other.requests();
  ASSERT_GT(arrived.size(), before);
  for (std::size_t i = before; i < arrived.size(); ++i) EXPECT_FALSE(arrived[i].header("Authorization"));
}

TEST_F(FaultAuthentication, TheSessionStoreKeepsOneRecordPerOriginAndForgetsRefusedOnes) {
  // Credentials sent up front and accepted are remembered once per origin and realm, however often.
  for (const char* path : {"/auth", "/auth?again", "/auth?third"}) {
    auto request = get(server.url(path));
    request->setUsername("user");
    request->setPassword("secret");
    ASSERT_TRUE(run(request));
    ASSERT_FALSE(request->error()) << path;
  }
  EXPECT_EQ(HTTPRequest::sessionCredentialsStore().size(), 1u);

  // The password changed: the remembered credentials go out first and are refused.
  auto remember = [&](const std::string& password) {
    HTTPRequest::clearSessionCredentials();
    auto record = MutableDictionary::make();
    auto credentials = MutableDictionary::make();
    credentials->setObject(box("user"), net::kHTTPAuthenticationUsername);
    credentials->setObject(box(password), net::kHTTPAuthenticationPassword);
    record->setObject(credentials, "Credentials");
    record->setObject(URL::make(server.url("/auth")), "URL");
    record->setObject(box(net::kHTTPAuthenticationSchemeBasic), "AuthenticationScheme");
    HTTPRequest::storeAuthenticationCredentialsInSessionStore(record);
  };
  // Nobody to ask: code 3, and the stale record is gone.
  remember("old");
  auto alone = get(server.url("/auth"));
  ASSERT_TRUE(run(alone));
  EXPECT_EQ(errorCode(alone), RequestErrorAuthentication);
  EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().empty());
  // A delegate is asked once, and its answer is the one that goes.
  remember("old");
  auto delegate = answersOnce("user", "secret");
  auto asked = get(server.url("/auth"));
  asked->setDelegate(delegate);
  ASSERT_TRUE(run(asked));
  EXPECT_FALSE(asked->error());
  EXPECT_EQ(delegate->serverAsks, 1);
  // Credentials in the keychain answer once the remembered ones were refused.
  remember("old");
  auto target = URL::make(server.url("/auth"));
  auto saved = MutableDictionary::make();
  saved->setObject(box("user"), net::kHTTPAuthenticationUsername);
  saved->setObject(box("secret"), net::kHTTPAuthenticationPassword);
  HTTPRequest::saveCredentials(saved, "127.0.0.1", *target->port(), "http", std::string("Fault Realm"));
  auto fromKeychain = get(server.url("/auth"));
  fromKeychain->setUseKeychainPersistence(true);
  ASSERT_TRUE(run(fromKeychain));
  EXPECT_FALSE(fromKeychain->error());
  EXPECT_EQ(fromKeychain->responseString().value_or(""), "welcome");
  HTTPRequest::removeCredentials("127.0.0.1", *target->port(), "http", std::string("Fault Realm"));
}

TEST_F(FaultAuthentication, ACallersOwnRefusedHeaderGivesTheKeychainItsTurn) {
  auto target = URL::make(server.url("/auth"));
  auto keep = [&](const std::string& user, const std::string& password) {
    auto saved = MutableDictionary::make();
    saved->setObject(box(user), net::kHTTPAuthenticationUsername);
    saved->setObject(box(password), net::kHTTPAuthenticationPassword);
    HTTPRequest::saveCredentials(saved, "127.0.0.1", *target->port(), "http", std::string("Fault Realm"));
  };
  auto withOldHeader = [&] {
    auto request = get(server.url("/auth"));
    request->setUseKeychainPersistence(true);
    request->addBasicAuthenticationHeader("old", "stale");
    return request;
  };
  // The keychain holds other credentials than the refused header: they get their turn.
  keep("user", "secret");
  auto answered = withOldHeader();
  ASSERT_TRUE(run(answered));
  ASSERT_FALSE(answered->error()) << answered->error()->description();
  EXPECT_EQ(answered->responseString().value_or(""), "welcome");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("Authorization").value_or(""), "Basic dXNlcjpzZWNyZXQ=");

  // The keychain (and no session record) would give the refused pair again: a wrong password,
  // after one 401.
  HTTPRequest::clearSessionCredentials();
  keep("old", "stale");
  auto refused = withOldHeader();
  ASSERT_TRUE(run(refused));
  EXPECT_EQ(errorCode(refused), RequestErrorAuthentication);
  EXPECT_EQ(server.requests().size(), 3u);
  HTTPRequest::removeCredentials("127.0.0.1", *target->port(), "http", std::string("Fault Realm"));
}

TEST_F(FaultAuthentication, CallbackAnswersWhenThereIsNoDelegate) {
  auto request = get(server.url("/auth"));
  std::atomic<int> asked{0};
  WeakRef<HTTPRequest> weak = request;
  request->setAuthenticationNeededBlock([&asked, weak] {
    ++asked;
    auto r = weak.lock();
    r->setUsername("user");
    r->setPassword("secret");
    r->retryUsingSuppliedCredentials();
  });
  ASSERT_TRUE(run(request));
  EXPECT_FALSE(request->error());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(request->responseString().value_or(""), "welcome");
}

}  // namespace
}  // namespace zv
