// Throughput of the HTTP request against libcurl on the same nginx in the same run: a 100 MB
// download to memory and to a file, 1,000 small keep-alive GETs four at a time, the peak memory of
// a 100 MB file download, and inflating a 50 MB gzip body against zlib alone.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CurlPeer.h"
#include "ResidentMemory.h"
#include "http/HTTPDataCompressor.h"
#include "http/HTTPDataDecompressor.h"
#include "http/HTTPRequest.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/TestSupport.h"
#include "support/net/NginxServer.h"

namespace {

using namespace zv;

constexpr std::size_t kBigSize = 100u * 1024 * 1024;

testing::NginxServer& server() {
  static testing::NginxServer* nginx = [] {
    auto* s = new testing::NginxServer();
    std::string big(kBigSize, '\0');
    std::mt19937 generator(1);
    for (auto& c : big) c = static_cast<char>(generator());
    s->addFile("big.bin", big);
    s->addFile("small.bin", std::string(512, 'x'));
    if (!s->start()) std::fprintf(stderr, "nginx did not start: %s\n", s->log().c_str());
    return s;
  }();
  return *nginx;
}

testing::TemporaryDirectory& scratch() {
  static testing::TemporaryDirectory directory;
  return directory;
}

std::size_t writeToString(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// --- 100 MB download. ---

void BM_RequestDownloadToMemory(benchmark::State& state) {
  auto url = URL::make(server().url("/big.bin"));
  for (auto _ : state) {
    auto request = HTTPRequest::requestWithURL(url);
    request->startSynchronous();
    if (request->error() || request->rawResponseData()->length() != kBigSize) state.SkipWithError("download failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

void BM_CurlDownloadToMemory(benchmark::State& state) {
  std::string url = server().url("/big.bin");
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) != CURLE_OK || body.size() != kBigSize) state.SkipWithError("download failed");
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

void BM_RequestDownloadToFile(benchmark::State& state) {
  auto url = URL::make(server().url("/big.bin"));
  std::string path = scratch() / "request.bin";
  for (auto _ : state) {
    auto request = HTTPRequest::requestWithURL(url);
    request->setDownloadDestinationPath(path);
    request->startSynchronous();
    if (request->error() || std::filesystem::file_size(path) != kBigSize) state.SkipWithError("download failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

void BM_CurlDownloadToFile(benchmark::State& state) {
  std::string url = server().url("/big.bin");
  std::string path = scratch() / "curl.bin";
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("download failed");
    std::fclose(file);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

// Peak resident memory while one 100 MB file download runs (the high-water mark is reset first).
void BM_RequestDownloadToFilePeakMemory(benchmark::State& state) {
  auto url = URL::make(server().url("/big.bin"));
  std::string path = scratch() / "peak.bin";
  double growthMiB = 0;
  double peakMiB = 0;
  for (auto _ : state) {
    zv::bench::resetResidentPeak();
    long before = zv::bench::residentMemoryKiB("VmRSS:");
    auto request = HTTPRequest::requestWithURL(url);
    request->setDownloadDestinationPath(path);
    request->startSynchronous();
    long peak = zv::bench::residentMemoryKiB("VmHWM:");
    growthMiB = static_cast<double>(peak - before) / 1024.0;
    peakMiB = static_cast<double>(peak) / 1024.0;
  }
  state.counters["peak_growth_MiB"] = growthMiB;
  state.counters["peak_rss_MiB"] = peakMiB;
}

// --- 1,000 small GETs, four at a time over keep-alive. ---

int kSmallCount = 1000;

void BM_RequestSmallGets(benchmark::State& state) {
  auto url = URL::make(server().url("/small.bin"));
  for (auto _ : state) {
    auto done = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < kSmallCount; ++i) {
      auto request = HTTPRequest::requestWithURL(url);
      request->setCompletionBlock([done] { ++*done; });
      request->setFailedBlock([done] { ++*done; });
      request->startAsynchronous();
    }
    if (!pumpRunLoopUntil([&] { return done->load() == kSmallCount; }, 120)) state.SkipWithError("timed out");
  }
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

void BM_CurlMultiSmallGets(benchmark::State& state) {
  std::string url = server().url("/small.bin");
  for (auto _ : state) zv::bench::curlMultiGet(url, kSmallCount);
  state.SetItemsProcessed(state.iterations() * kSmallCount);
}

// Where one small GET's time goes: the same requests, each stamping the moment it reaches each
// thread. A request is queued by the caller, started by a worker of the shared queue, runs its
// main on the network thread, finishes there, and calls back on the main thread; a slot freed by
// a finish is taken by the next start. Reported in microseconds, averaged over the requests.
using HopClock = std::chrono::steady_clock;

struct HopTimes {
  HopClock::time_point queued, started, ran, finished, calledBack;
};

class HopTimedRequest : public HTTPRequest {
 public:
  HopTimedRequest(Ref<URL> url, HopTimes* times) : HTTPRequest(std::move(url)), times_(times) {}
  void start() override {
    times_->started = HopClock::now();
    HTTPRequest::start();
  }
  void main() override {
    if (!ranStamped_.exchange(true)) times_->ran = HopClock::now();
    HTTPRequest::main();
  }
  // The queue asks right after markAsFinished announces the end, on the network thread.
  bool isFinished() const override {
    bool finished = HTTPRequest::isFinished();
    if (finished && !finishStamped_.exchange(true)) times_->finished = HopClock::now();
    return finished;
  }

 private:
  HopTimes* times_;
  std::atomic<bool> ranStamped_{false};
  mutable std::atomic<bool> finishStamped_{false};
};

double microseconds(HopClock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void BM_RequestSmallGetHops(benchmark::State& state) {
  const int inFlight = static_cast<int>(state.range(0));
  const int count = inFlight == 1 ? std::min(kSmallCount, 200) : kSmallCount;
  auto url = URL::make(server().url("/small.bin"));
  double slotToStart = 0, startToMain = 0, mainToFinish = 0, finishToCallback = 0, total = 0;
  std::int64_t gaps = 0, requests = 0;
  for (auto _ : state) {
    std::vector<HopTimes> times(static_cast<std::size_t>(count));
    auto done = std::make_shared<std::atomic<int>>(0);
    auto startOne = [&](int i) {
      auto* stamp = &times[static_cast<std::size_t>(i)];
      auto request = std::make_shared<HopTimedRequest>(url, stamp);
      request->setCompletionBlock([done, stamp] {
        stamp->calledBack = HopClock::now();
        ++*done;
      });
      request->setFailedBlock([done] { ++*done; });
      stamp->queued = HopClock::now();
      request->startAsynchronous();
    };
    bool ok = true;
    if (inFlight == 1) {
      for (int i = 0; i < count && ok; ++i) {
        startOne(i);
        ok = pumpRunLoopUntil([&] { return done->load() == i + 1; }, 30);
      }
    } else {
      for (int i = 0; i < count; ++i) startOne(i);
      ok = pumpRunLoopUntil([&] { return done->load() == count; }, 120);
    }
    if (!ok) {
      state.SkipWithError("timed out");
      break;
    }
    state.PauseTiming();
    // The completion is sent before the queue hears of the finish: wait for the last stamps.
    HTTPRequest::sharedQueue()->waitUntilAllOperationsAreFinished();
    std::vector<HopClock::time_point> finishes, starts;
    for (const auto& t : times) {
      startToMain += microseconds(t.ran - t.started);
      mainToFinish += microseconds(t.finished - t.ran);
      finishToCallback += microseconds(t.calledBack - t.finished);
      total += microseconds(t.calledBack - t.queued);
      finishes.push_back(t.finished);
      starts.push_back(t.started);
    }
    requests += count;
    // The k-th start after the first `inFlight` took the slot of the k-th finish.
    std::sort(finishes.begin(), finishes.end());
    std::sort(starts.begin(), starts.end());
    if (inFlight > 1) {
      for (std::size_t k = 0; k + static_cast<std::size_t>(inFlight) < starts.size(); ++k) {
        slotToStart += microseconds(starts[k + static_cast<std::size_t>(inFlight)] - finishes[k]);
        ++gaps;
      }
    } else {
      for (const auto& t : times) slotToStart += microseconds(t.started - t.queued);
      gaps += count;
    }
    state.ResumeTiming();
  }
  if (requests == 0) return;
  const double n = static_cast<double>(requests);
  state.counters["us_slot_to_start"] = gaps ? slotToStart / static_cast<double>(gaps) : 0;
  state.counters["us_start_to_main"] = startToMain / n;
  state.counters["us_main_to_finish"] = mainToFinish / n;
  state.counters["us_finish_to_callback"] = finishToCallback / n;
  state.counters["us_queued_to_callback"] = total / n;
  state.SetItemsProcessed(requests);
}

// --- Inflating 50 MB. ---

const Ref<Data>& gzippedText() {
  static Ref<Data> data = [] {
    std::string text;
    text.reserve(50u * 1024 * 1024);
    std::mt19937 generator(2);
    while (text.size() < 50u * 1024 * 1024) text += "reading " + std::to_string(generator() % 100000) + " of the body\n";
    text.resize(50u * 1024 * 1024);
    return HTTPDataCompressor::compressData(Data::make(text), nullptr);
  }();
  return data;
}

void BM_DecompressorInflate50MB(benchmark::State& state) {
  const auto& packed = gzippedText();
  for (auto _ : state) {
    auto inflated = HTTPDataDecompressor::uncompressData(packed, nullptr);
    benchmark::DoNotOptimize(inflated);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 50u * 1024 * 1024));
}

void BM_ZlibInflate50MB(benchmark::State& state) {
  const auto& packed = gzippedText();
  for (auto _ : state) {
    std::vector<std::uint8_t> out(50u * 1024 * 1024);
    z_stream stream{};
    inflateInit2(&stream, 47);
    stream.next_in = const_cast<Bytef*>(packed->data());
    stream.avail_in = static_cast<uInt>(packed->length());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 50u * 1024 * 1024));
}

BENCHMARK(BM_RequestDownloadToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlDownloadToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestDownloadToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlDownloadToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestDownloadToFilePeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RequestSmallGets)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlMultiSmallGets)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestSmallGetHops)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecompressorInflate50MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZlibInflate50MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  zv::RunLoop::setMainThreadToCurrent();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  if (const char* count = std::getenv("HTTP_BENCH_SMALL_COUNT")) kSmallCount = std::atoi(count);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
