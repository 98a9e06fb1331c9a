// The download cache: keys and file names, what is stored and how, freshness under a manual
// clock, damaged entries, and requests against nginx's caching headers (304 revalidation, Vary,
// credentials, fallback, cache-only).
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <thread>

#include "HTTPTestSupport.h"
#include "http/HTTPDownloadCache.h"
#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"
#include "support/net/NginxServer.h"
#include "support/net/ProxyServers.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

// A clock that starts where the system clock is and moves only when told.
std::shared_ptr<ManualClock> installManualClock() {
  SystemClock system;
  auto clock = std::make_shared<ManualClock>(system.monotonic());
  clock->set(system.now());
  Clock::install(clock);
  return clock;
}

class DownloadCache : public ::testing::Test {
 protected:
  void SetUp() override {
    cache = std::make_shared<HTTPDownloadCache>();
    cache->setStoragePath((folder / "cache").string());
    clock = installManualClock();
  }
  void TearDown() override { Clock::install(nullptr); }
  // A finished 200 answer for `url` with the given headers and body, as a request holds it.
  Ref<HTTPRequest> answered(const std::string& url, std::vector<std::pair<std::string, std::string>> headers,
                            const std::string& body, int status = 200) {
    auto request = HTTPRequest::requestWithURL(URL::make(url));
    auto fields = MutableDictionary::make();
    for (const auto& [name, value] : headers) fields->setObject(box(value), name);
    request->setResponseHeaders(fields);
    request->setResponseStatusCode(status);
    request->setRawResponseData(MutableData::make(std::vector<std::uint8_t>(body.begin(), body.end())));
    request->setCachePolicy(CachePolicyRevalidateWhenStale);
    return request;
  }
  // Moves the wall clock only: timers (whose deadlines follow the monotonic clock) stay put, so
  // nothing scheduled meanwhile is pushed into the future for the tests that follow.
  void later(double seconds) { clock->set(clock->now() + seconds); }
  bool stored(const std::string& url) { return cache->cachedResponseHeadersForURL(URL::make(url)) != nullptr; }
  bool current(const std::string& url) {
    auto request = HTTPRequest::requestWithURL(URL::make(url));
    return cache->isCachedDataCurrentForRequest(request);
  }
  testing::TemporaryDirectory folder;
  Ref<HTTPDownloadCache> cache;
  std::shared_ptr<ManualClock> clock;
};

TEST_F(DownloadCache, KeysAndFileNames) {
  std::string key = HTTPDownloadCache::keyForURL(URL::make("http://h/a"));
  std::string expected = crypto::hex(crypto::md5(crypto::bytesOf("http://h/a")));
  for (auto& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(key, expected);
  // "/a" and "/a/" are two resources.
  EXPECT_NE(key, HTTPDownloadCache::keyForURL(URL::make("http://h/a/")));
  cache->storeResponseForRequest(answered("http://h/a", {{"Cache-Control", "max-age=60"}}, "without slash"), 0);
  cache->storeResponseForRequest(answered("http://h/a/", {{"Cache-Control", "max-age=60"}}, "with slash"), 0);
  EXPECT_EQ(std::string(cache->cachedResponseDataForURL(URL::make("http://h/a"))->view()), "without slash");
  EXPECT_EQ(std::string(cache->cachedResponseDataForURL(URL::make("http://h/a/"))->view()), "with slash");

  cache->storeResponseForRequest(answered("http://h/img/a.png", {}, "png"), 0);
  EXPECT_EQ(fs::path(*cache->pathToCachedResponseDataForURL(URL::make("http://h/img/a.png"))).extension(), ".png");
  EXPECT_EQ(fs::path(*cache->pathToCachedResponseDataForURL(URL::make("http://h/a"))).extension(), ".html");
  EXPECT_EQ(fs::path(*cache->pathToCachedResponseHeadersForURL(URL::make("http://h/a"))).extension(), ".cachedheaders");
}

TEST_F(DownloadCache, FreshnessFollowsMaxAgeExpiresAndTheClock) {
  cache->storeResponseForRequest(answered("http://h/max", {{"Cache-Control", "max-age=60"}}, "x"), 0);
  later(59);
  EXPECT_TRUE(current("http://h/max"));
  later(2);
  EXPECT_FALSE(current("http://h/max"));

  std::string future = HTTPDownloadCache::rfc1123String(clock->now() + 3600);
  cache->storeResponseForRequest(answered("http://h/expires", {{"Cache-Control", "no-transform"}, {"Expires", future}}, "x"), 0);
  EXPECT_TRUE(current("http://h/expires"));
  cache->storeResponseForRequest(answered("http://h/zero", {{"Cache-Control", "max-age=0"}, {"Expires", future}}, "x"), 0);
  EXPECT_FALSE(current("http://h/zero"));

  // A maximum age of the caller's replaces what the server said.
  cache->storeResponseForRequest(answered("http://h/own", {{"Cache-Control", "max-age=5"}, {"Expires", future}}, "x"), 30.7);
  auto headers = cache->cachedResponseHeadersForURL(URL::make("http://h/own"));
  EXPECT_EQ(headers->stringForKey("Cache-Control").value_or(""), "max-age=30");
  EXPECT_FALSE(headers->objectForKey("Expires"));
  EXPECT_TRUE(headers->stringForKey("X-HTTPRequest-Fetch-date"));
  later(29);
  EXPECT_TRUE(current("http://h/own"));
  // Ages beyond what an int holds are kept, not wrapped round into the past.
  const double century = 100 * 365.25 * 24 * 3600;
  for (double age : {century, 1e300, std::numeric_limits<double>::infinity()}) {
    SCOPED_TRACE(age);
    cache->storeResponseForRequest(answered("http://h/long", {}, "x"), age);
    later(50 * 365.25 * 24 * 3600);
    EXPECT_TRUE(current("http://h/long"));
  }

  // Once the server has answered, its validators must match the stored ones; a 304 always does.
  cache->storeResponseForRequest(answered("http://h/tag", {{"ETag", "\"1\""}, {"Last-Modified", "x"}, {"Cache-Control", "max-age=60"}}, "x"), 0);
  auto revalidated = answered("http://h/tag", {{"ETag", "\"2\""}, {"Last-Modified", "x"}}, "");
  EXPECT_FALSE(cache->isCachedDataCurrentForRequest(revalidated));
  revalidated->setResponseStatusCode(304);
  EXPECT_TRUE(cache->isCachedDataCurrentForRequest(revalidated));
}

TEST_F(DownloadCache, WhatIsNotStored) {
  cache->storeResponseForRequest(answered("http://h/203", {}, "x", 203), 0);
  auto failed = answered("http://h/failed", {}, "x");
  failed->setError(HTTPRequest::timedOutError());
  cache->storeResponseForRequest(failed, 0);
  auto noWrite = answered("http://h/nowrite", {}, "x");
  noWrite->setCachePolicy(CachePolicyNoWrite);
  cache->storeResponseForRequest(noWrite, 0);
  cache->storeResponseForRequest(answered("http://h/nostore", {{"Cache-Control", "no-store"}}, "x"), 0);
  cache->storeResponseForRequest(answered("http://h/star", {{"Vary", "Accept, *"}}, "x"), 0);
  auto authorized = answered("http://h/mine", {{"Cache-Control", "max-age=60"}}, "x");
  authorized->addRequestHeader("Authorization", "Basic dTpw");
  cache->storeResponseForRequest(authorized, 0);
  for (const char* url : {"http://h/203", "http://h/failed", "http://h/nowrite", "http://h/nostore", "http://h/star", "http://h/mine"}) {
    EXPECT_FALSE(stored(url)) << url;
  }
  auto shared = answered("http://h/public", {{"Cache-Control", "public, max-age=60"}}, "x");
  shared->addRequestHeader("Authorization", "Basic dTpw");
  cache->storeResponseForRequest(shared, 0);
  EXPECT_TRUE(stored("http://h/public"));
  // Merely mentioning no-cache among other directives allows caching.
  cache->storeResponseForRequest(answered("http://h/mixed", {{"Cache-Control", "no-cache, max-age=1"}}, "x"), 0);
  EXPECT_TRUE(stored("http://h/mixed"));
}

TEST_F(DownloadCache, StoredHeadersDescribeTheStoredBody) {
  std::string text(5000, 't');
  auto compressed = testing::gzipText(text);
  auto request = answered("http://h/z.txt",
                          {{"Content-Encoding", "gzip"}, {"Content-Length", std::to_string(compressed.size())}}, compressed);
  cache->storeResponseForRequest(request, 0);
  auto headers = cache->cachedResponseHeadersForURL(URL::make("http://h/z.txt"));
  ASSERT_TRUE(headers);
  EXPECT_FALSE(headers->objectForKey("Content-Encoding"));
  EXPECT_EQ(headers->stringForKey("Content-Length").value_or(""), "5000");
  EXPECT_EQ(std::string(cache->cachedResponseDataForURL(URL::make("http://h/z.txt"))->view()), text);
}

// What the user fetched stays the user's: no cookie of a session is written to disk, and the
// folders and files are closed to other users (an older, open folder included).
TEST_F(DownloadCache, StoresNoCookiesAndKeepsItsFilesPrivate) {
  auto modeOf = [](const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; };
  auto open = folder / "open";
  fs::create_directories(open / "PermanentStore");
  fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  cache->setStoragePath(open.string());
  for (int policy : {CacheStorageSession, CacheStoragePermanent}) {
    SCOPED_TRACE(policy);
    std::string url = "http://h/private" + std::to_string(policy);
    auto request = answered(url, {{"Set-Cookie", "sid=s3cr3t; Path=/"}, {"Cache-Control", "max-age=60"}}, "body");
    request->setCacheStoragePolicy(policy);
    cache->storeResponseForRequest(request, 0);
    auto headers = cache->cachedResponseHeadersForURL(URL::make(url));
    ASSERT_TRUE(headers);
    EXPECT_FALSE(headers->objectForKey("Set-Cookie"));
    auto headersPath = cache->pathToCachedResponseHeadersForURL(URL::make(url));
    auto bodyPath = cache->pathToCachedResponseDataForURL(URL::make(url));
    ASSERT_TRUE(headersPath && bodyPath);
    EXPECT_EQ(testing::readFile(*headersPath).find("s3cr3t"), std::string::npos);
    EXPECT_EQ(modeOf(*headersPath), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(modeOf(*bodyPath), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(modeOf(fs::path(*bodyPath).parent_path()), fs::perms::owner_all);
  }
  EXPECT_EQ(modeOf(open), fs::perms::owner_all);
}

TEST_F(DownloadCache, VaryNamesTheRequestHeadersThatMustMatch) {
  auto german = answered("http://h/v", {{"Vary", "Accept-Language"}, {"Cache-Control", "max-age=60"}}, "de");
  german->addRequestHeader("Accept-Language", "de");
  cache->storeResponseForRequest(german, 0);
  auto askGerman = HTTPRequest::requestWithURL(URL::make("http://h/v"));
  askGerman->addRequestHeader("accept-language", "de");
  askGerman->setCachePolicy(CachePolicyUseCacheIfPresent);
  EXPECT_TRUE(cache->canUseCachedDataForRequest(askGerman));
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make("http://h/v"))->objectForKey("X-HTTPRequest-Vary-Values"));
  auto askFrench = HTTPRequest::requestWithURL(URL::make("http://h/v"));
  askFrench->addRequestHeader("Accept-Language", "fr");
  askFrench->setCachePolicy(CachePolicyUseCacheIfPresent);
  EXPECT_FALSE(cache->canUseCachedDataForRequest(askFrench));
  // The German answer is no validator for the French request either: it makes room.
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make("http://h/v")));
}

TEST_F(DownloadCache, StoresPoliciesAndDamagedEntries) {
  auto session = answered("http://h/both", {}, "session");
  auto permanent = answered("http://h/both", {}, "permanent");
  permanent->setCacheStoragePolicy(CacheStoragePermanent);
  cache->storeResponseForRequest(permanent, 0);
  cache->storeResponseForRequest(session, 0);
  EXPECT_EQ(std::string(cache->cachedResponseDataForURL(URL::make("http://h/both"))->view()), "session");
  // A new storage path (a new start) empties the session store and keeps the permanent one.
  cache->setStoragePath((folder / "cache").string());
  EXPECT_EQ(std::string(cache->cachedResponseDataForURL(URL::make("http://h/both"))->view()), "permanent");

  // A headers file that is not a property list, or a body of another length: a miss, removed.
  cache->storeResponseForRequest(answered("http://h/bad-headers", {}, "x"), 0);
  auto headersPath = *cache->pathToCachedResponseHeadersForURL(URL::make("http://h/bad-headers"));
  testing::writeFile(headersPath, "not a property list");
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make("http://h/bad-headers")));
  EXPECT_FALSE(fs::exists(headersPath));
  cache->storeResponseForRequest(answered("http://h/bad-body", {}, "full body"), 0);
  auto bodyPath = *cache->pathToCachedResponseDataForURL(URL::make("http://h/bad-body"));
  testing::writeFile(bodyPath, "cut");
  EXPECT_FALSE(cache->cachedResponseDataForURL(URL::make("http://h/bad-body")));
  EXPECT_FALSE(fs::exists(bodyPath));

  // Removing needs both files; clearing empties a store.
  cache->storeResponseForRequest(answered("http://h/gone", {}, "x"), 0);
  cache->removeCachedDataForRequest(HTTPRequest::requestWithURL(URL::make("http://h/gone")));
  EXPECT_FALSE(stored("http://h/gone"));
  cache->clearCachedResponsesForStoragePolicy(CacheStoragePermanent);
  EXPECT_FALSE(stored("http://h/both"));
}

TEST_F(DownloadCache, PoliciesWithoutAnEntryAndStoragePathProblems) {
  auto request = HTTPRequest::requestWithURL(URL::make("http://h/none"));
  request->setCachePolicy(CachePolicyCacheOnly);
  EXPECT_TRUE(cache->canUseCachedDataForRequest(request));
  request->setCachePolicy(CachePolicyCacheOnly | CachePolicyNoRead);
  EXPECT_FALSE(cache->canUseCachedDataForRequest(request));
  EXPECT_EQ(cache->defaultCachePolicy(), CachePolicyRevalidateWhenStale);
  cache->setDefaultCachePolicy(0);
  EXPECT_EQ(cache->defaultCachePolicy(), CachePolicyRevalidateWhenStale);

  testing::writeFile(folder / "file", "x");
  try {
    cache->setStoragePath((folder / "file").string());
    FAIL() << "no exception";
  } catch (const Exception& exception) {
    EXPECT_EQ(exception.name(), "FileExistsAtCachePath");
  }
  // A store that cannot be written to: nothing stored, nothing thrown.
  auto fresh = std::make_shared<HTTPDownloadCache>();
  fresh->setStoragePath((folder / "other").string());
  fs::remove_all(folder / "other" / "SessionStore");
  testing::writeFile(folder / "other" / "SessionStore", "in the way");
  fresh->storeResponseForRequest(answered("http://h/x", {}, "x"), 0);
  EXPECT_FALSE(fresh->cachedResponseHeadersForURL(URL::make("http://h/x")));
}

TEST(SharedDownloadCache, MadeOnceWhenFirstAskedFromManyThreads) {
  std::vector<Ref<HTTPDownloadCache>> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = HTTPDownloadCache::sharedCache(); });
  for (auto& thread : threads) thread.join();
  for (const auto& cache : seen) EXPECT_EQ(cache, seen[0]);
  ASSERT_TRUE(seen[0]);
}

// --- Against nginx. ---

class CachedRequests : public DownloadCache {
 protected:
  static void SetUpTestSuite() {
    nginx = new testing::NginxServer();
    std::string text;
    for (int i = 0; i < 500; ++i) text += "cached line " + std::to_string(i) + "\n";
    nginx->addFile("cached/page.txt", text);
    nginx->addFile("cached/other.txt", "other");
    nginx->addFile("cached/file.txt", text);
    nginx->addFile("vary/lang.txt", "language dependent");
    nginx->addFile("private/me.txt", "private");
    nginx->addFile("public/all.txt", "public");
    nginx->addFile("private/session.txt", "private too");
    nginx->addFile("cached/proxied.txt", "through the proxy");
    nginx->addFile("cached/proxied-again.txt", "through the proxy again");
    ASSERT_TRUE(nginx->start()) << nginx->log();
  }
  static void TearDownTestSuite() {
    delete nginx;
    nginx = nullptr;
  }
  Ref<HTTPRequest> get(const std::string& path, int policy = 0) {
    auto request = HTTPRequest::requestWithURL(URL::make(nginx->url(path)), cache, policy);
    request->setTimeOutSeconds(10);
    return request;
  }
  static bool run(const Ref<HTTPRequest>& request) {
    auto outcome = testing::recordOutcome(request);
    request->startAsynchronous();
    return testing::waitForOutcome(outcome) && outcome->total() == 1;
  }
  static std::size_t accessCount(const std::string& path) {
    std::size_t count = 0;
    std::string log = nginx->accessLog();
    for (std::size_t at = log.find(" " + path + " "); at != std::string::npos; at = log.find(" " + path + " ", at + 1)) ++count;
    return count;
  }
  static std::string statusesOf(const std::string& path) {
    std::string statuses;
    std::istringstream lines(nginx->accessLog());
    for (std::string line; std::getline(lines, line);) {
      if (line.find(" " + path + " ") == std::string::npos) continue;
      auto at = line.find("\" ");
      statuses += line.substr(at + 2, 3) + " ";
    }
    return statuses;
  }
  static testing::NginxServer* nginx;
};
testing::NginxServer* CachedRequests::nginx = nullptr;

TEST_F(CachedRequests, FreshFromDiskThenRevalidatedWith304) {
  auto first = get("/cached/page.txt");
  ASSERT_TRUE(run(first));
  ASSERT_FALSE(first->error());
  EXPECT_FALSE(first->didUseCachedResponse());
  EXPECT_TRUE(first->isResponseCompressed());
  auto body = std::string(first->responseData()->view());

  auto second = get("/cached/page.txt");
  ASSERT_TRUE(run(second));
  EXPECT_TRUE(second->didUseCachedResponse());
  EXPECT_EQ(std::string(second->responseData()->view()), body);
  EXPECT_EQ(accessCount("/cached/page.txt"), 1u);

  later(120);  // stale now: the server is asked and answers 304
  auto third = get("/cached/page.txt");
  ASSERT_TRUE(run(third));
  ASSERT_FALSE(third->error());
  EXPECT_TRUE(third->didUseCachedResponse());
  EXPECT_EQ(std::string(third->responseData()->view()), body);
  EXPECT_EQ(statusesOf("/cached/page.txt"), "200 304 ");
  // The revalidation's stream was torn down like any finished request's.
  ASSERT_TRUE(pumpRunLoopUntil([] { return !HTTPRequest::isNetworkInUse(); }, 10));
  // And the 304 made the stored answer current again.
  auto fourth = get("/cached/page.txt");
  ASSERT_TRUE(run(fourth));
  EXPECT_TRUE(fourth->didUseCachedResponse());
  EXPECT_EQ(accessCount("/cached/page.txt"), 2u);
}

TEST_F(CachedRequests, PoliciesChooseBetweenDiskAndServer) {
  ASSERT_TRUE(run(get("/changing")));
  auto stored = std::string(cache->cachedResponseDataForURL(URL::make(nginx->url("/changing")))->view());
  auto ifPresent = get("/changing", CachePolicyUseCacheIfPresent);
  ASSERT_TRUE(run(ifPresent));
  EXPECT_EQ(std::string(ifPresent->responseData()->view()), stored);
  auto noRead = get("/changing", CachePolicyNoRead | CachePolicyNoWrite);
  ASSERT_TRUE(run(noRead));
  EXPECT_NE(std::string(noRead->responseData()->view()), stored);
  EXPECT_EQ(std::string(cache->cachedResponseDataForURL(URL::make(nginx->url("/changing")))->view()), stored);
}

TEST_F(CachedRequests, CacheOnlyWithNothingStoredFails) {
  auto request = get("/cached/never-fetched.txt", CachePolicyCacheOnly);
  ASSERT_TRUE(run(request));
  ASSERT_TRUE(request->error());
  EXPECT_FALSE(request->didUseCachedResponse());
  EXPECT_EQ(accessCount("/cached/never-fetched.txt"), 0u);
}

TEST_F(CachedRequests, FallbackToCacheWhenTheServerIsGone) {
  testing::FaultServer server;
  ASSERT_TRUE(server.start());
  auto url = server.url("/ok");
  auto first = HTTPRequest::requestWithURL(URL::make(url), cache, CachePolicyNoRead);
  first->setSecondsToCache(60);
  ASSERT_TRUE(run(first));
  ASSERT_FALSE(first->error());
  server.stop();
  auto fallback = HTTPRequest::requestWithURL(URL::make(url), cache, CachePolicyFallbackToCache);
  fallback->setTimeOutSeconds(5);
  ASSERT_TRUE(run(fallback));
  ASSERT_FALSE(fallback->error()) << fallback->error()->description();
  EXPECT_TRUE(fallback->didUseCachedResponse());
  EXPECT_EQ(fallback->responseString().value_or(""), "hello");
}

TEST_F(CachedRequests, VaryAndCredentialsOnTheWire) {
  auto german = get("/vary/lang.txt");
  german->addRequestHeader("Accept-Language", "de");
  ASSERT_TRUE(run(german));
  auto french = get("/vary/lang.txt");
  french->addRequestHeader("Accept-Language", "fr");
  ASSERT_TRUE(run(french));
  EXPECT_FALSE(french->didUseCachedResponse());
  auto germanAgain = get("/vary/lang.txt");
  germanAgain->addRequestHeader("Accept-Language", "fr");
  ASSERT_TRUE(run(germanAgain));
  EXPECT_TRUE(germanAgain->didUseCachedResponse());  // the French answer replaced the German one

  auto star = get("/vary-star");
  ASSERT_TRUE(run(star));
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make(nginx->url("/vary-star"))));

  for (const char* path : {"/private/me.txt", "/public/all.txt"}) {
    auto request = get(path);
    request->setUsername("user");
    request->setPassword("secret");
    ASSERT_TRUE(run(request));
    ASSERT_FALSE(request->error());
  }
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make(nginx->url("/private/me.txt"))));
  EXPECT_TRUE(cache->cachedResponseHeadersForURL(URL::make(nginx->url("/public/all.txt"))));
  HTTPRequest::clearSessionCredentials();
}

TEST_F(CachedRequests, AnswersToCredentialsFromAnySourceAreStoredOnlyWhenPublic) {
  HTTPRequest::clearSessionCredentials();
  // The URL's credentials answer the challenge and are remembered for the origin.
  std::string withUser = nginx->url("/private/me.txt");
  withUser.insert(withUser.find("//") + 2, "user:secret@");
  auto fromURL = HTTPRequest::requestWithURL(URL::make(withUser), cache);
  ASSERT_TRUE(run(fromURL));
  ASSERT_FALSE(fromURL->error()) << fromURL->error()->description();
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make(withUser)));

  // A request that names no credentials gets the remembered ones: its answer is still private.
  auto fromSession = get("/private/session.txt");
  ASSERT_TRUE(run(fromSession));
  ASSERT_FALSE(fromSession->error()) << fromSession->error()->description();
  EXPECT_EQ(fromSession->responseString().value_or(""), "private too");
  EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make(nginx->url("/private/session.txt"))));
  // Without them, the server is asked (and refuses); nothing private comes from the disk.
  HTTPRequest::clearSessionCredentials();
  auto without = get("/private/session.txt");
  ASSERT_TRUE(run(without));
  EXPECT_FALSE(without->didUseCachedResponse());
  EXPECT_EQ(without->responseStatusCode(), 401);
  EXPECT_EQ(statusesOf("/private/session.txt"), "200 401 ");  // remembered ones went before any challenge

  // Credentials for a proxy, given and then remembered for it, make the answer private too.
  testing::TinyproxyServer proxy("puser", "ppass");
  ASSERT_TRUE(proxy.start()) << proxy.log();
  HTTPRequest::clearProxySessionCredentials();
  for (const char* path : {"/cached/proxied.txt", "/cached/proxied-again.txt"}) {
    SCOPED_TRACE(path);
    auto proxied = get(path);
    proxied->setProxyHost("127.0.0.1");
    proxied->setProxyPort(proxy.port());
    if (std::string(path) == "/cached/proxied.txt") {
      proxied->setProxyUsername("puser");
      proxied->setProxyPassword("ppass");
    }
    ASSERT_TRUE(run(proxied));
    ASSERT_FALSE(proxied->error()) << proxied->error()->description() << proxy.log();
    EXPECT_EQ(accessCount(path), 1u);
    EXPECT_FALSE(cache->cachedResponseHeadersForURL(URL::make(nginx->url(path))));
  }
  HTTPRequest::clearProxySessionCredentials();
}

TEST_F(CachedRequests, ADownloadToAFileGoesInAndOutFileToFile) {
  // Stored from the caller's file and served into the next caller's, in pieces both ways: the
  // resident peak stays far below the body's size. The stored copy is the cache's own.
  const std::size_t size = testing::largeBodySize();
  const double bodyMiB = static_cast<double>(size) / (1 << 20);
  std::atomic<std::size_t> sent{0};
  testing::FaultServer server;
  server.route("/large.bin", [&](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
    c.sendEndlessBody("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
                          "\r\nCache-Control: max-age=3600\r\n\r\n",
                      'z', size, sent);
  });
  ASSERT_TRUE(server.start());
  auto url = URL::make(server.url("/large.bin"));
  auto download = [&](const fs::path& destination, double& peakGrowth) {
    auto request = HTTPRequest::requestWithURL(url, cache);
    request->setTimeOutSeconds(120);
    request->setDownloadDestinationPath(destination.string());
    auto outcome = testing::recordOutcome(request);
    testing::ResidentPeakGrowth peak;
    request->startAsynchronous();
    EXPECT_TRUE(testing::waitForOutcome(outcome, 300));
    peakGrowth = peak.mebibytes();
    return request;
  };

  double storing = -1;
  auto first = download(folder / "first.bin", storing);
  ASSERT_FALSE(first->error()) << first->error()->description();
  EXPECT_FALSE(first->didUseCachedResponse());
  auto stored = cache->pathToCachedResponseDataForURL(url);
  ASSERT_TRUE(stored);
  std::error_code failure;
  EXPECT_EQ(fs::file_size(*stored, failure), size);
  EXPECT_EQ(fs::status(*stored, failure).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  RecordProperty("storing_peak_growth_MiB", std::to_string(storing));
  EXPECT_GE(storing, 0.0) << "no resident peak in /proc/self/status";
  EXPECT_LT(storing, bodyMiB / 3) << "of a " << bodyMiB << " MiB body";

  // What the caller later does with its file is not the cache's business.
  testing::writeFile(folder / "first.bin", "edited");

  double serving = -1;
  auto second = download(folder / "second.bin", serving);
  ASSERT_FALSE(second->error()) << second->error()->description();
  EXPECT_TRUE(second->didUseCachedResponse());
  EXPECT_EQ(server.requests().size(), 1u);
  // The answer is in the caller's file, where it asked for it.
  EXPECT_EQ(second->downloadDestinationPath(), (folder / "second.bin").string());
  EXPECT_EQ(fs::file_size(folder / "second.bin", failure), size);
  std::ifstream copy(folder / "second.bin", std::ios::binary);
  copy.seekg(-8, std::ios::end);
  std::string tail(8, '\0');
  copy.read(tail.data(), 8);
  EXPECT_EQ(tail, std::string(8, 'z'));
  RecordProperty("serving_peak_growth_MiB", std::to_string(serving));
  EXPECT_GE(serving, 0.0);
  EXPECT_LT(serving, bodyMiB / 3) << "of a " << bodyMiB << " MiB body";
}

TEST_F(CachedRequests, ARevalidatedDownloadToAFileGetsTheStoredBodyInItsFile) {
  auto first = get("/cached/file.txt");
  first->setDownloadDestinationPath((folder / "first.txt").string());
  ASSERT_TRUE(run(first));
  ASSERT_FALSE(first->error()) << first->error()->description();
  std::string body = testing::readFile(folder / "first.txt");
  ASSERT_FALSE(body.empty());

  later(120);  // stale: the server answers 304 and the stored body goes to the new file
  auto second = get("/cached/file.txt");
  second->setDownloadDestinationPath((folder / "second.txt").string());
  ASSERT_TRUE(run(second));
  ASSERT_FALSE(second->error()) << second->error()->description();
  EXPECT_TRUE(second->didUseCachedResponse());
  EXPECT_EQ(second->downloadDestinationPath(), (folder / "second.txt").string());
  EXPECT_EQ(testing::readFile(folder / "second.txt"), body);
  EXPECT_EQ(statusesOf("/cached/file.txt"), "200 304 ");
  // The confirmed entry is whole and current.
  auto third = get("/cached/file.txt");
  third->setDownloadDestinationPath((folder / "third.txt").string());
  ASSERT_TRUE(run(third));
  EXPECT_TRUE(third->didUseCachedResponse());
  EXPECT_EQ(testing::readFile(folder / "third.txt"), body);
  EXPECT_EQ(accessCount("/cached/file.txt"), 2u);
}

TEST_F(CachedRequests, AStoreThatCannotBeWrittenNeverFailsTheRequest) {
  fs::remove_all(folder / "cache" / "SessionStore");
  testing::writeFile(folder / "cache" / "SessionStore", "in the way");
  auto request = get("/cached/other.txt");
  ASSERT_TRUE(run(request));
  EXPECT_FALSE(request->error());
  EXPECT_EQ(request->responseString().value_or(""), "other");
}

}  // namespace
}  // namespace zv
