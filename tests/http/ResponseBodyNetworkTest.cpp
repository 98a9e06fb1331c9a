// Where a response body ends up: a compressed body that inflates far beyond its size (kept in
// memory up to a limit, written to a file or handed to callbacks window by window), and a
// finished download moved to a folder on another file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::RecordedRequest;

// Not a power of two, so a buffer grown by doubling would pass it.
constexpr std::size_t kInflatedSize = (std::size_t{8} << 20) + 12345;

struct Text {
  const char* contentType;
  std::string bytes;
  std::optional<std::string> expected;
};
const Text kTexts[] = {
    {"text/plain; charset=iso-8859-1", "caf\xE9", "café"},
    {"text/plain; charset=windows-1252", "\x93\x80 5\x94", "“€ 5”"},
    {"text/plain; charset=utf-16", std::string("\xFF\xFE" "a\x00\xE9\x00", 6), "aé"},
    {"text/plain; charset=utf-16", std::string("\x00" "a\x00\xE9", 4), "aé"},
    {"text/plain; charset=utf-8", "caf\xC3\xA9", "café"},
    {"text/plain", "caf\xE9", "café"},  // the default response encoding is Latin-1
    {"text/plain; charset=utf-8", "caf\xE9", std::nullopt},
};

class ResponseBodyNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    // 8 MiB of zeros and a little more as a gzip body of a few kilobytes.
    auto packed = std::make_shared<std::string>(testing::gzipText(std::string(kInflatedSize, '\0')));
    server.route("/bomb", [packed](const RecordedRequest&, FaultServer::Connection& c) {
      c.send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(packed->size()) +
             "\r\n\r\n" + *packed);
    });
    // /text/<n>: the n-th of kTexts with its content type.
    server.route("/text/", [](const RecordedRequest& r, FaultServer::Connection& c) {
      const auto& text = kTexts[std::stoul(r.path().substr(6))];
      c.send("HTTP/1.1 200 OK\r\nContent-Type: " + std::string(text.contentType) +
             "\r\nContent-Length: " + std::to_string(text.bytes.size()) + "\r\n\r\n" + text.bytes);
    });
    server.route("/head-length/", [](const RecordedRequest& r, FaultServer::Connection& c) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + r.path().substr(13) + "\r\n\r\n");
    });
    // Two gzip members, and one member followed by bytes that begin no other.
    for (const auto& route : {std::pair<std::string, std::string>{"/two-members", testing::gzipText("first member, ") +
                                                                                    testing::gzipText("second member")},
                              {"/garbage-after", testing::gzipText("first member, ") + "garbage"}}) {
      server.route(route.first, [body = route.second](const RecordedRequest&, FaultServer::Connection& c) {
        c.send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body);
      });
    }
    // Claims a gigabyte, sends ten bytes, then waits.
    server.route("/claims-a-lot", [](const RecordedRequest&, FaultServer::Connection& c) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n0123456789");
      c.stallUntilStopped();
    });
    ASSERT_TRUE(server.start());
  }
  Ref<HTTPRequest> request(const std::string& path) {
    auto made = HTTPRequest::requestWithURL(URL::make(server.url(path)));
    made->setTimeOutSeconds(10);
    return made;
  }
  FaultServer server;
};

TEST_F(ResponseBodyNetwork, ABodyKeptInMemoryFailsPastItsInflatedLimit) {
  EXPECT_EQ(request("/bomb")->maximumInflatedResponseSize(), std::uint64_t{512} << 20);
  for (bool waitToInflate : {true, false}) {
    SCOPED_TRACE(waitToInflate);
    auto limited = request("/bomb");
    limited->setShouldWaitToInflateCompressedResponses(waitToInflate);
    limited->setMaximumInflatedResponseSize(1 << 20);
    auto outcome = testing::recordOutcome(limited);
    limited->startSynchronous();
    EXPECT_EQ(outcome->failed, 1);
    EXPECT_EQ(outcome->finished, 0);
    ASSERT_TRUE(limited->error());
    EXPECT_EQ(limited->error()->code(), 11);
    EXPECT_EQ(limited->error()->localizedDescription(), "Decompression of data failed with code -4");

    auto roomy = request("/bomb");
    roomy->setShouldWaitToInflateCompressedResponses(waitToInflate);
    roomy->setMaximumInflatedResponseSize(kInflatedSize);
    roomy->startSynchronous();
    ASSERT_FALSE(roomy->error()) << roomy->error()->description();
    ASSERT_TRUE(roomy->responseData());
    EXPECT_EQ(roomy->responseData()->length(), kInflatedSize);
    // The limit bounds the buffer too, not just what is in it.
    EXPECT_LE(roomy->responseData()->bytes().capacity(), kInflatedSize);
  }
}

// A plain body kept in memory is held to the same limit: a server that keeps sending is left soon
// after it, and one byte under the limit is still a body.
TEST_F(ResponseBodyNetwork, APlainBodyKeptInMemoryFailsPastTheLimit) {
  constexpr std::size_t kServerLimit = std::size_t{64} << 20;
  std::atomic<std::size_t> sent{0};
  FaultServer endlessServer;
  endlessServer.route("/endless", [&](const RecordedRequest&, FaultServer::Connection& c) {
    c.sendEndlessBody("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 'x', kServerLimit, sent);
  });
  ASSERT_TRUE(endlessServer.start());
  auto endless = HTTPRequest::requestWithURL(URL::make(endlessServer.url("/endless")));
  endless->setTimeOutSeconds(10);
  endless->setMaximumInflatedResponseSize(256 << 10);
  auto outcome = testing::recordOutcome(endless);
  endless->startSynchronous();
  EXPECT_EQ(outcome->failed, 1);
  EXPECT_EQ(outcome->finished, 0);
  ASSERT_TRUE(endless->error());
  EXPECT_EQ(endless->error()->code(), RequestErrorCompression);
  EXPECT_LT(sent.load(), kServerLimit / 2);

  auto fits = request("/text/0");
  fits->setMaximumInflatedResponseSize(kTexts[0].bytes.size());
  fits->startSynchronous();
  ASSERT_FALSE(fits->error()) << fits->error()->description();
  EXPECT_EQ(fits->responseData()->length(), kTexts[0].bytes.size());
}

TEST_F(ResponseBodyNetwork, EveryGzipMemberIsTheBodyAndBytesAfterTheLastFail) {
  testing::TemporaryDirectory directory;
  for (bool waitToInflate : {true, false}) {
    for (bool toFile : {false, true}) {
      SCOPED_TRACE(std::to_string(waitToInflate) + (toFile ? " file" : " memory"));
      auto whole = request("/two-members");
      whole->setShouldWaitToInflateCompressedResponses(waitToInflate);
      auto destination = directory / "whole";
      if (toFile) whole->setDownloadDestinationPath(destination.string());
      whole->startSynchronous();
      ASSERT_FALSE(whole->error()) << whole->error()->description();
      std::string body = toFile ? testing::readFile(destination) : std::string(whole->responseData()->view());
      EXPECT_EQ(body, "first member, second member");

      auto damaged = request("/garbage-after");
      damaged->setShouldWaitToInflateCompressedResponses(waitToInflate);
      if (toFile) damaged->setDownloadDestinationPath((directory / "damaged").string());
      auto outcome = testing::recordOutcome(damaged);
      damaged->startSynchronous();
      testing::waitForOutcome(outcome);
      EXPECT_EQ(outcome->finished, 0);
      ASSERT_TRUE(damaged->error());
      EXPECT_EQ(damaged->error()->code(), RequestErrorCompression);
    }
  }
}

// The process's mapped memory in bytes (a large reservation maps its pages at once).
std::uint64_t mappedBytes() {
  std::uint64_t pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

TEST_F(ResponseBodyNetwork, AnAnnouncedLengthTakesNoMemoryBeforeTheBytesCome) {
  // Threads (and their allocation arenas) that a request starts, on both sides, are there before
  // measuring: the request below goes out on this one's kept-alive connection.
  auto warmUp = request("/ok");
  auto over = testing::recordOutcome(warmUp);
  warmUp->startAsynchronous();
  ASSERT_TRUE(testing::waitForOutcome(over));
  auto claimed = request("/claims-a-lot");
  claimed->setTimeOutSeconds(30);
  auto outcome = testing::recordOutcome(claimed);
  auto before = mappedBytes();
  claimed->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return claimed->totalBytesRead() >= 10; }, 10));
  pumpRunLoopFor(0.05);
  EXPECT_LT(mappedBytes(), before + (std::uint64_t{64} << 20));
  claimed->cancel();
  testing::waitForOutcome(outcome);
}

TEST_F(ResponseBodyNetwork, TheBodyCanBeReadOnAnotherThreadWhileItArrives) {
  constexpr std::size_t kSize = 3000000;
  auto running = request("/big/" + std::to_string(kSize));
  auto outcome = testing::recordOutcome(running);
  running->startAsynchronous();
  // Every look finds a prefix of the body, however far it has come.
  bool prefixes = true;
  std::size_t longest = 0;
  for (int turn = 0; turn < 20000 && outcome->total() == 0; ++turn) {
    if (auto data = running->responseData()) {
      auto view = data->view();
      for (std::size_t i = longest; i < view.size(); i += 4099) prefixes &= view[i] == static_cast<char>('a' + i % 26);
      longest = std::max(longest, view.size());
    }
    pumpRunLoopFor(0.001);
  }
  ASSERT_TRUE(testing::waitForOutcome(outcome, 20));
  EXPECT_EQ(outcome->finished, 1);
  EXPECT_TRUE(prefixes);
  ASSERT_TRUE(running->responseData());
  EXPECT_EQ(running->responseData()->length(), kSize);
}

TEST_F(ResponseBodyNetwork, ADownloadToAFileIsNotLimited) {
  testing::TemporaryDirectory directory;
  for (bool waitToInflate : {true, false}) {
    SCOPED_TRACE(waitToInflate);
    auto destination = directory / (waitToInflate ? "after" : "on-arrival");
    auto download = request("/bomb");
    download->setShouldWaitToInflateCompressedResponses(waitToInflate);
    download->setMaximumInflatedResponseSize(1 << 20);
    download->setDownloadDestinationPath(destination.string());
    download->startSynchronous();
    ASSERT_FALSE(download->error()) << download->error()->description();
    EXPECT_EQ(std::filesystem::file_size(destination), kInflatedSize);
    // Nothing but the destination is left in its folder.
    EXPECT_FALSE(download->temporaryFileDownloadPath());
    EXPECT_FALSE(download->temporaryUncompressedDataDownloadPath());
  }
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory.path())) ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST_F(ResponseBodyNetwork, DataCallbacksGetTheInflatedBodyInBoundedPieces) {
  auto streamed = request("/bomb");
  streamed->setShouldWaitToInflateCompressedResponses(false);
  auto total = std::make_shared<std::size_t>(0);
  auto largest = std::make_shared<std::size_t>(0);
  streamed->setDataReceivedBlock([total, largest](const Ref<Data>& data) {
    *total += data->length();
    *largest = std::max(*largest, data->length());
  });
  streamed->startSynchronous();
  ASSERT_FALSE(streamed->error()) << streamed->error()->description();
  EXPECT_EQ(*total, kInflatedSize);
  EXPECT_LE(*largest, HTTPDataDecompressor::kInflateWindowSize);
}

TEST_F(ResponseBodyNetwork, ResponseTextIsReadInTheAnnouncedCharset) {
  for (std::size_t i = 0; i < std::size(kTexts); ++i) {
    SCOPED_TRACE(kTexts[i].contentType);
    auto text = request("/text/" + std::to_string(i));
    text->startSynchronous();
    ASSERT_FALSE(text->error()) << text->error()->description();
    EXPECT_EQ(text->responseString(), kTexts[i].expected);
  }
}

TEST_F(ResponseBodyNetwork, AHeadCopyThatHearsTwentyBytesLeavesTheSizeUnknown) {
  for (int length : {20, 21}) {
    SCOPED_TRACE(length);
    std::string path = "/head-length/" + std::to_string(length);
    auto main = request(path);
    auto increments = std::make_shared<std::vector<std::int64_t>>();
    main->setDownloadSizeIncrementedBlock([increments](std::int64_t amount) { increments->push_back(amount); });
    auto head = request(path);
    head->setRequestMethod("HEAD");
    head->setMainRequest(main);
    head->startSynchronous();
    ASSERT_FALSE(main->error());
    ASSERT_FALSE(head->error()) << head->error()->description();
    if (length == 20) {
      EXPECT_FALSE(main->showAccurateProgress());
      EXPECT_EQ(main->contentLength(), 0u);
      EXPECT_EQ(*increments, std::vector<std::int64_t>{1});
    } else {
      EXPECT_TRUE(main->showAccurateProgress());
      EXPECT_EQ(main->contentLength(), 21u);
      EXPECT_EQ(*increments, std::vector<std::int64_t>{21});
    }
  }
  // Without compression allowed twenty bytes are twenty bytes.
  auto main = request("/head-length/20");
  auto head = request("/head-length/20");
  head->setRequestMethod("HEAD");
  head->setAllowCompressedResponse(false);
  head->setMainRequest(main);
  head->startSynchronous();
  EXPECT_TRUE(main->showAccurateProgress());
  EXPECT_EQ(main->contentLength(), 20u);
}

TEST_F(ResponseBodyNetwork, ADownloadThatCannotBeWrittenFailsAndLeavesNoFile) {
  // A child process whose files may not grow past 64 KB stands for a full disk. Each child must
  // see this thread as its main thread, as the parent does (thread ids are remembered per thread
  // and survive the fork), so that the report arrives on the loop the child runs.
  RunLoop::setMainThreadToCurrent();
  testing::TemporaryDirectory directory;
  struct Case {
    const char* path;
    bool waitToInflate;
    bool allowResume;
  };
  for (const Case& c : {Case{"/big/300000", true, false}, Case{"/big/300000", true, true},
                        Case{"/bomb", false, false}}) {
    SCOPED_TRACE(std::string(c.path) + (c.allowResume ? " resumable" : ""));
    const auto destination = directory / "download";
    const auto partial = directory / "partial";
    const auto inflated = directory / "inflated";
    auto download = request(c.path);
    download->setShouldWaitToInflateCompressedResponses(c.waitToInflate);
    download->setAllowResumeForFileDownloads(c.allowResume);
    download->setDownloadDestinationPath(destination.string());
    download->setTemporaryFileDownloadPath(partial.string());
    download->setTemporaryUncompressedDataDownloadPath(inflated.string());
    EXPECT_TRUE(testing::runInChildWithFileSizeLimit(64 << 10, [&] {
      auto outcome = testing::recordOutcome(download);
      download->startSynchronous();
      testing::waitForOutcome(outcome);
      auto error = download->error();
      bool ok = outcome->failed == 1 && outcome->finished == 0 && error &&
                error->code() == RequestErrorFileManagement && error->underlyingError() &&
                error->underlyingError()->code() == EFBIG;
      for (const auto& left : {destination, partial, inflated}) ok = ok && !std::filesystem::exists(left);
      if (!ok) std::fprintf(stderr, "failed %d, finished %d, error %s\n", outcome->failed.load(), outcome->finished.load(),
                            error ? error->description().c_str() : "none");
      return ok;
    }));
  }
}

// A folder on another file system than the application's temporary folder, when there is one.
std::optional<std::filesystem::path> folderOnAnotherFileSystem() {
  struct stat home {}, shm {};
  auto temporary = ApplicationEnvironment::shared().temporaryDirectory();
  std::filesystem::create_directories(temporary);
  if (::stat(temporary.c_str(), &home) != 0 || ::stat("/dev/shm", &shm) != 0) return std::nullopt;
  if (home.st_dev == shm.st_dev) return std::nullopt;
  std::string pattern = "/dev/shm/zv-move-XXXXXX";
  if (!::mkdtemp(pattern.data())) return std::nullopt;
  return std::filesystem::path(pattern);
}

TEST_F(ResponseBodyNetwork, AFinishedDownloadMovesToAnotherFileSystem) {
  auto folder = folderOnAnotherFileSystem();
  if (!folder) GTEST_SKIP() << "no second file system (/dev/shm) beside the temporary folder";
  struct Case {
    const char* path;
    bool waitToInflate;
    std::size_t size;
  };
  for (const Case& c : {Case{"/big/300000", true, 300000}, Case{"/bomb", false, kInflatedSize},
                        Case{"/bomb", true, kInflatedSize}}) {
    SCOPED_TRACE(std::string(c.path) + (c.waitToInflate ? " after" : " on arrival"));
    auto destination = *folder / "download";
    testing::writeFile(destination, "an older file");
    auto download = request(c.path);
    download->setShouldWaitToInflateCompressedResponses(c.waitToInflate);
    download->setDownloadDestinationPath(destination.string());
    download->startSynchronous();
    ASSERT_FALSE(download->error()) << download->error()->description();
    EXPECT_EQ(std::filesystem::file_size(destination), c.size);
    EXPECT_FALSE(download->temporaryFileDownloadPath());
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(*folder)) ++entries;
    EXPECT_EQ(entries, 1u);
  }
  auto content = testing::readFile(*folder / "download");
  std::filesystem::remove_all(*folder);
  EXPECT_EQ(content, std::string(kInflatedSize, '\0'));
}

}  // namespace
}  // namespace zv
