// The 100 MB download over https against libcurl on the same nginx in the same run: to memory, to
// a file, and the peak memory of the download to a file. Both clients verify the server against
// the tests' certificate authority, and nginx offers one protocol and one cipher suite only (TLS 1.3,
// TLS_AES_128_GCM_SHA256, with the authority's P-256 certificate), which every benchmark checks in
// nginx's access log after its last request.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "CurlPeer.h"
#include "ResidentMemory.h"
#include "http/HTTPRequest.h"
#include "platform/net/TLSSettings.h"
#include "support/TestSupport.h"
#include "support/net/NginxServer.h"

namespace {

using namespace zv;

constexpr std::size_t kBigSize = 100u * 1024 * 1024;
constexpr const char* kProtocol = "TLSv1.3";
constexpr const char* kCipherSuite = "TLS_AES_128_GCM_SHA256";

testing::TemporaryDirectory& scratch() {
  static testing::TemporaryDirectory directory;
  return directory;
}

testing::NginxOptions pinnedOptions() {
  testing::NginxOptions options;
  options.tls = true;
  options.tlsProtocols = kProtocol;
  options.tls13CipherSuites = kCipherSuite;
  options.logTLSParameters = true;
  return options;
}

// A static, not a leaked pointer: its destructor stops nginx when the benchmark exits, since the
// child would otherwise outlive it.
testing::NginxServer& server() {
  static testing::NginxServer nginx(pinnedOptions());
  static bool started = [] {
    {
      std::string big(kBigSize, '\0');
      std::mt19937 generator(3);
      for (auto& c : big) c = static_cast<char>(generator());
      nginx.addFile("big.bin", big);
    }
    bool up = nginx.start();
    if (!up) std::fprintf(stderr, "nginx did not start: %s\n", nginx.log().c_str());
    net::addTrustedCertificate(net::Certificate::fromPEM(nginx.authority().certificatePEM()));
    std::ofstream(scratch() / "ca.crt") << nginx.authority().certificatePEM();
    return up;
  }();
  (void)started;
  return nginx;
}

// Whether nginx's last request came over the pinned protocol and cipher suite.
bool lastRequestUsedPinnedCipher() {
  std::string log = server().accessLog();
  while (!log.empty() && log.back() == '\n') log.pop_back();
  std::string last = log.substr(log.rfind('\n') + 1);
  return last.ends_with(std::string(kProtocol) + " " + kCipherSuite);
}

void checkCipher(benchmark::State& state) {
  if (!lastRequestUsedPinnedCipher()) state.SkipWithError("nginx served another protocol or cipher");
}

// An easy handle for the big file: verifies against the test CA, asks for the same protocol and
// suite, and connects to 127.0.0.1 as our client does for "localhost".
CURL* curlHandle(curl_slist** resolve) {
  std::string url = server().tlsURL("/big.bin");
  CURL* curl = curl_easy_init();
  *resolve = curl_slist_append(nullptr, ("localhost:" + std::to_string(server().tlsPort()) + ":127.0.0.1").c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_RESOLVE, *resolve);
  curl_easy_setopt(curl, CURLOPT_CAINFO, (scratch() / "ca.crt").c_str());
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_3) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_3));
  curl_easy_setopt(curl, CURLOPT_TLS13_CIPHERS, kCipherSuite);
  return curl;
}

void BM_RequestTLSDownloadToMemory(benchmark::State& state) {
  auto url = URL::make(server().tlsURL("/big.bin"));
  for (auto _ : state) {
    auto request = HTTPRequest::requestWithURL(url);
    request->startSynchronous();
    if (request->error() || request->rawResponseData()->length() != kBigSize) state.SkipWithError("download failed");
  }
  checkCipher(state);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

void BM_CurlTLSDownloadToMemory(benchmark::State& state) {
  curl_slist* resolve = nullptr;
  CURL* curl = curlHandle(&resolve);
  for (auto _ : state) {
    std::string body;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, zv::bench::appendToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) != CURLE_OK || body.size() != kBigSize) state.SkipWithError("download failed");
  }
  curl_easy_cleanup(curl);
  curl_slist_free_all(resolve);
  checkCipher(state);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

void requestToFile(const std::string& path, benchmark::State& state) {
  auto request = HTTPRequest::requestWithURL(URL::make(server().tlsURL("/big.bin")));
  request->setDownloadDestinationPath(path);
  request->startSynchronous();
  if (request->error() || std::filesystem::file_size(path) != kBigSize) state.SkipWithError("download failed");
}

bool curlToFile(CURL* curl, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, nullptr);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  bool ok = curl_easy_perform(curl) == CURLE_OK;
  std::fclose(file);
  return ok && std::filesystem::file_size(path) == kBigSize;
}

void BM_RequestTLSDownloadToFile(benchmark::State& state) {
  std::string path = scratch() / "request.bin";
  for (auto _ : state) requestToFile(path, state);
  checkCipher(state);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

void BM_CurlTLSDownloadToFile(benchmark::State& state) {
  std::string path = scratch() / "curl.bin";
  curl_slist* resolve = nullptr;
  CURL* curl = curlHandle(&resolve);
  for (auto _ : state) {
    if (!curlToFile(curl, path)) state.SkipWithError("download failed");
  }
  curl_easy_cleanup(curl);
  curl_slist_free_all(resolve);
  checkCipher(state);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigSize));
}

// Peak resident memory while one 100 MB download to a file runs: the high-water mark is reset
// first, and its growth over the resident size then is the download's own.
template <typename Download>
void measurePeak(benchmark::State& state, Download download) {
  server();  // started (and its 100 MB file made) before the peak is measured, whichever benchmark runs first
  double growthMiB = 0;
  double peakMiB = 0;
  for (auto _ : state) {
    zv::bench::resetResidentPeak();
    long before = zv::bench::residentMemoryKiB("VmRSS:");
    download();
    long peak = zv::bench::residentMemoryKiB("VmHWM:");
    growthMiB = static_cast<double>(peak - before) / 1024.0;
    peakMiB = static_cast<double>(peak) / 1024.0;
  }
  checkCipher(state);
  state.counters["peak_growth_MiB"] = growthMiB;
  state.counters["peak_rss_MiB"] = peakMiB;
}

void BM_RequestTLSDownloadToFilePeakMemory(benchmark::State& state) {
  std::string path = scratch() / "peak.bin";
  measurePeak(state, [&] { requestToFile(path, state); });
}

void BM_CurlTLSDownloadToFilePeakMemory(benchmark::State& state) {
  std::string path = scratch() / "curl-peak.bin";
  curl_slist* resolve = nullptr;
  CURL* curl = curlHandle(&resolve);
  measurePeak(state, [&] {
    if (!curlToFile(curl, path)) state.SkipWithError("download failed");
  });
  curl_easy_cleanup(curl);
  curl_slist_free_all(resolve);
}

BENCHMARK(BM_RequestTLSDownloadToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlTLSDownloadToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestTLSDownloadToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlTLSDownloadToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestTLSDownloadToFilePeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_CurlTLSDownloadToFilePeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
