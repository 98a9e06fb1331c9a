// Throttling, the download cache and the request queue, in the same run as their peers: a 10 MB
// download at a bandwidth limit (the achieved rate against the limit), a 16 KB answer from the
// cache's disk against the same request to nginx and against libcurl, and a batch of 200 small
// requests through HTTPNetworkQueue with a progress receiver against libcurl's multi interface.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <string>

#include "CurlPeer.h"
#include "http/HTTPDownloadCache.h"
#include "http/HTTPNetworkQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/TestSupport.h"
#include "support/net/NginxServer.h"

namespace {

using namespace zv;

constexpr std::size_t kThrottledSize = 10u * 1024 * 1024;
constexpr std::size_t kCachedSize = 16 * 1024;
constexpr int kQueueCount = 200;

testing::NginxServer& server() {
  static testing::NginxServer* nginx = [] {
    auto* s = new testing::NginxServer();
    s->addFile("throttled.bin", std::string(kThrottledSize, 't'));
    s->addFile("cached/page.bin", std::string(kCachedSize, 'c'));
    s->addFile("queue.bin", std::string(512, 'q'));
    if (!s->start()) std::fprintf(stderr, "nginx did not start: %s\n", s->log().c_str());
    return s;
  }();
  return *nginx;
}

Ref<HTTPDownloadCache> cache() {
  static testing::TemporaryDirectory* folder = new testing::TemporaryDirectory();
  static Ref<HTTPDownloadCache> made = [] {
    auto c = std::make_shared<HTTPDownloadCache>();
    c->setStoragePath((folder->path() / "cache").string());
    return c;
  }();
  return made;
}


void BM_ThrottledDownload10MB(benchmark::State& state) {
  auto url = URL::make(server().url("/throttled.bin"));
  HTTPRequest::resetBandwidthState();
  auto limit = static_cast<unsigned long>(state.range(0));
  HTTPRequest::setMaxBandwidthPerSecond(limit);
  double seconds = 0;
  for (auto _ : state) {
    auto request = HTTPRequest::requestWithURL(url);
    request->setAllowCompressedResponse(false);
    request->setTimeOutSeconds(60);
    double start = Clock::current()->monotonic();
    request->startSynchronous();
    seconds += Clock::current()->monotonic() - start;
    if (request->error() || request->rawResponseData()->length() != kThrottledSize) state.SkipWithError("download failed");
  }
  HTTPRequest::resetBandwidthState();
  double rate = static_cast<double>(kThrottledSize) * static_cast<double>(state.iterations()) / seconds;
  state.counters["rate_MBps"] = rate / (1024 * 1024);
  state.counters["rate_of_limit"] = rate / static_cast<double>(limit);
}

void BM_CacheHit16KB(benchmark::State& state) {
  auto url = URL::make(server().url("/cached/page.bin"));
  {
    auto warm = HTTPRequest::requestWithURL(url, cache());
    warm->startSynchronous();
  }
  for (auto _ : state) {
    auto request = HTTPRequest::requestWithURL(url, cache(), CachePolicyUseCacheIfPresent);
    request->startSynchronous();
    if (!request->didUseCachedResponse() || request->responseData()->length() != kCachedSize) {
      state.SkipWithError("not answered from the cache");
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Nginx16KB(benchmark::State& state) {
  auto url = URL::make(server().url("/cached/page.bin"));
  for (auto _ : state) {
    auto request = HTTPRequest::requestWithURL(url, cache(), CachePolicyNoRead | CachePolicyNoWrite);
    request->startSynchronous();
    if (request->didUseCachedResponse() || request->responseData()->length() != kCachedSize) state.SkipWithError("fetch failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Curl16KB(benchmark::State& state) {
  std::string url = server().url("/cached/page.bin");
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, zv::bench::appendToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) != CURLE_OK || body.size() != kCachedSize) state.SkipWithError("fetch failed");
  }
  curl_easy_cleanup(curl);
  state.SetItemsProcessed(state.iterations());
}

class CountingProgress : public HTTPProgressDelegate {
 public:
  bool respondsToSelector(std::string_view selector) const override { return selector == "setProgress"; }
  void setProgress(float value) override { last = value; }
  float last = 0;
};

class BatchEnd : public Object {
 public:
  bool respondsToSelector(std::string_view selector) const override { return selector == "queueFinished"; }
  ObjectPtr performSelector(std::string_view, const std::vector<ObjectPtr>&) override {
    ++ended;
    return nullptr;
  }
  int ended = 0;
};

void BM_Queue200SmallRequests(benchmark::State& state) {
  auto url = URL::make(server().url("/queue.bin"));
  auto progress = std::make_shared<CountingProgress>();
  auto end = std::make_shared<BatchEnd>();
  for (auto _ : state) {
    auto queue = HTTPNetworkQueue::queue();
    queue->setDownloadProgressDelegate(progress);
    queue->setDelegate(end);
    queue->setQueueDidFinishSelector("queueFinished");
    int before = end->ended;
    for (int i = 0; i < kQueueCount; ++i) queue->addOperation(HTTPRequest::requestWithURL(url));
    queue->go();
    if (!pumpRunLoopUntil([&] { return end->ended > before; }, 60)) state.SkipWithError("batch did not end");
  }
  state.SetItemsProcessed(state.iterations() * kQueueCount);
}

void BM_CurlMulti200SmallRequests(benchmark::State& state) {
  std::string url = server().url("/queue.bin");
  for (auto _ : state) zv::bench::curlMultiGet(url, kQueueCount);
  state.SetItemsProcessed(state.iterations() * kQueueCount);
}

}  // namespace

// A one-second budget lets a whole period's bytes through at once, so a transfer of k periods
// takes about k - 1 seconds: the 8 MB/s run shows that edge, the 480 KB/s run (about 21 periods)
// the steady rate.
BENCHMARK(BM_ThrottledDownload10MB)->Arg(8 << 20)->Arg(480 << 10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_CacheHit16KB)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Nginx16KB)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Curl16KB)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Queue200SmallRequests)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlMulti200SmallRequests)->Unit(benchmark::kMillisecond)->UseRealTime();
