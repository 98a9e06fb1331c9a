// Upload of a 100 MB photo file: the run-loop request streaming the file against libcurl posting
// the same file, both to the counting loopback sink (plain HTTP, nothing stored), and the peak
// resident memory the request adds while it uploads (the body is streamed, never held whole).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "sharing/services/flickr/RLHTTPRequest.h"
#include "support/sharing/CountingHTTPServer.h"

namespace {

constexpr std::uint64_t kPhotoSize = 100ull * 1000 * 1000;

const std::string& photoPath() {
  static const std::string path = [] {
    auto file = std::filesystem::temp_directory_path() / "zv_flickr_bench_photo.jpg";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7 % 253);
    for (std::uint64_t written = 0; written < kPhotoSize; written += chunk.size()) {
      out.write(chunk.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(chunk.size(), kPhotoSize - written)));
    }
    return file.string();
  }();
  return path;
}

zv::testing::CountingHTTPServer& sink() {
  static zv::testing::CountingHTTPServer* server = [] {
    auto* s = new zv::testing::CountingHTTPServer();
    s->start();
    return s;
  }();
  return *server;
}

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

class Done : public zv::Object, public zv::RLHTTPRequestDelegate {
 public:
  void httpRequestDidComplete(zv::RLHTTPRequest&) override { ended = true; }
  void httpRequestDidFailWithError(zv::RLHTTPRequest&, const std::string&) override { ended = failed = true; }
  bool respondsToSelector(std::string_view selector) const override {
    return selector == "httpRequestDidComplete" || selector == "httpRequestDidFailWithError";
  }
  bool ended = false, failed = false;
};

bool uploadWithRequest() {
  auto request = zv::RLHTTPRequest::make();
  auto done = std::make_shared<Done>();
  request->setDelegate(done);
  request->setContentType("image/jpeg");
  if (!request->performMethod("POST", zv::URL::make(sink().url()), zv::net::InputStream::withFileAtPath(photoPath()),
                              kPhotoSize)) {
    return false;
  }
  zv::pumpRunLoopUntil([&] { return done->ended; }, 600.0);
  return done->ended && !done->failed && sink().lastBodyBytes() == kPhotoSize;
}

std::size_t readFile(char* buffer, std::size_t size, std::size_t count, void* file) {
  return std::fread(buffer, size, count, static_cast<std::FILE*>(file)) * size;
}
std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

bool uploadWithCurl() {
  std::FILE* file = std::fopen(photoPath().c_str(), "rb");
  CURL* easy = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  headers = curl_slist_append(headers, "Content-Type: image/jpeg");
  curl_easy_setopt(easy, CURLOPT_URL, sink().url().c_str());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, readFile);
  curl_easy_setopt(easy, CURLOPT_READDATA, file);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(kPhotoSize));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
  const bool ok = curl_easy_perform(easy) == CURLE_OK && sink().lastBodyBytes() == kPhotoSize;
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  std::fclose(file);
  return ok;
}

void BM_RequestUploadPhoto(benchmark::State& state) {
  zv::RunLoop::setMainThreadToCurrent();
  photoPath();
  for (auto _ : state) {
    if (!uploadWithRequest()) state.SkipWithError("upload failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPhotoSize));
}

void BM_CurlUploadPhoto(benchmark::State& state) {
  photoPath();
  for (auto _ : state) {
    if (!uploadWithCurl()) state.SkipWithError("upload failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPhotoSize));
}

// The growth of the resident peak while one upload runs (VmHWM reset first).
void BM_RequestUploadPhotoPeakMemory(benchmark::State& state) {
  zv::RunLoop::setMainThreadToCurrent();
  photoPath();
  double growthMiB = 0;
  for (auto _ : state) {
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const long before = statusKiB("VmRSS:");
    if (!uploadWithRequest()) state.SkipWithError("upload failed");
    growthMiB = static_cast<double>(statusKiB("VmHWM:") - before) / 1024.0;
  }
  state.counters["peak_growth_MiB"] = growthMiB;
}

BENCHMARK(BM_RequestUploadPhoto)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlUploadPhoto)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RequestUploadPhotoPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
