// Throughput of the HTTP request against libcurl on the same nginx in the same run: a 100 MB
// download to memory and to a file, 1,000 small keep-alive GETs four at a time, the peak memory of
// a 100 MB file download, and inflating a 50 MB gzip body against zlib alone.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "CurlPeer.h"
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
long residentPeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}
long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void BM_RequestDownloadToFilePeakMemory(benchmark::State& state) {
  auto url = URL::make(server().url("/big.bin"));
  std::string path = scratch() / "peak.bin";
  double growthMiB = 0;
  double peakMiB = 0;
  for (auto _ : state) {
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    long before = residentKiB();
    auto request = HTTPRequest::requestWithURL(url);
    request->setDownloadDestinationPath(path);
    request->startSynchronous();
    long peak = residentPeakKiB();
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
