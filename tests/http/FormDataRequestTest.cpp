#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "HTTPTestSupport.h"
#include "http/HTTPFormDataRequest.h"
#include "platform/net/InputStream.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

Ref<HTTPFormDataRequest> form() { return HTTPFormDataRequest::requestWithURL(URL::make("http://127.0.0.1:9/form")); }

std::string header(const Ref<HTTPRequest>& request, const char* name) {
  auto headers = request->requestHeaders();
  auto value = headers ? headers->stringForKey(name) : std::nullopt;
  return value.value_or("<none>");
}

// The built body, wherever it went (memory or the temporary file).
std::string body(const Ref<HTTPRequest>& request) {
  if (auto path = request->postBodyFilePath()) return testing::readFile(*path);
  return request->postBody() ? std::string(request->postBody()->view()) : "";
}

TEST(FormDataRequest, URLEncodedBodies) {
  struct Case {
    std::vector<std::pair<std::string, ObjectPtr>> sets;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{{"k1", box("a b")}, {"k2", box("x&y")}}, "k1=a%20b&k2=x%26y"},
      {{{"A", box("1")}, {"B", box("2")}, {"A", box("3")}}, "B=2&A=3"},
      {{{"t", box("~-._é+/")}}, "t=%7E-._%C3%A9%2B%2F"},
      {{{"n", box(12.5)}, {"i", box(7)}}, "n=12.5&i=7"},
  };
  for (const auto& c : cases) {
    auto request = form();
    for (const auto& [key, value] : c.sets) request->setPostValue(value, key);
    request->buildPostBody();
    EXPECT_EQ(body(request), c.expected);
    EXPECT_EQ(request->requestMethod(), "POST");
    EXPECT_EQ(header(request, "Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(header(request, "Content-Length"), std::to_string(c.expected.size()));
  }
  auto twice = form();
  twice->addPostValue(box("1"), "A");
  twice->addPostValue(box("2"), "A");
  twice->buildPostBody();
  EXPECT_EQ(body(twice), "A=1&A=2");
}

TEST(FormDataRequest, NoFieldsBuildNoBody) {
  auto request = form();
  request->buildPostBody();
  EXPECT_EQ(request->requestMethod(), "GET");
  EXPECT_EQ(header(request, "Content-Length"), "<none>");
}

TEST(FormDataRequest, MultipartLayout) {
  auto request = form();
  request->setPostFormat(kHTTPFormPostFormatMultipart);
  request->setPostValue(box("v"), "k");
  request->buildPostBody();
  EXPECT_EQ(body(request),
            "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--0xKhTmLbOuNdArY--\r\n");
  EXPECT_EQ(header(request, "Content-Type"), "multipart/form-data; charset=utf-8; boundary=0xKhTmLbOuNdArY");
}

TEST(FormDataRequest, DataFieldsForceMultipartAndComeAfterText) {
  auto request = form();
  request->addData(Data::make("BYTES"), "blob");
  request->setPostValue(box("late"), "text");
  request->buildPostBody();
  EXPECT_EQ(request->postFormat(), kHTTPFormPostFormatMultipart);
  EXPECT_TRUE(request->postBodyFilePath());
  EXPECT_EQ(body(request),
            "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\nlate"
            "\r\n--0xKhTmLbOuNdArY\r\n"
            "Content-Disposition: form-data; name=\"blob\"; filename=\"file\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\nBYTES\r\n--0xKhTmLbOuNdArY--\r\n");
}

TEST(FormDataRequest, NamesCannotInjectHeaders) {
  auto request = form();
  request->setPostFormat(kHTTPFormPostFormatMultipart);
  request->setPostValue(box("v"), "a\"\r\nX-Injected: 1");
  request->addData(Data::make("d"), std::string("evil\".txt\r\nX: y"), std::nullopt, "f");
  request->buildPostBody();
  std::string text = body(request);
  EXPECT_EQ(text.find("\r\nX-Injected"), std::string::npos);
  EXPECT_EQ(text.find("\r\nX: y"), std::string::npos);
  EXPECT_NE(text.find("name=\"a%22%0D%0AX-Injected: 1\""), std::string::npos);
  EXPECT_NE(text.find("filename=\"evil%22.txt%0D%0AX: y\""), std::string::npos);
}

TEST(FormDataRequest, ContentHoldingTheBoundaryGetsAnotherBoundary) {
  auto request = form();
  request->addData(Data::make("before --0xKhTmLbOuNdArY-- after"), "f");
  request->buildPostBody();
  std::string type = header(request, "Content-Type");
  auto at = type.find("boundary=");
  ASSERT_NE(at, std::string::npos);
  std::string boundary = type.substr(at + 9);
  EXPECT_NE(boundary, "0xKhTmLbOuNdArY");
  std::string text = body(request);
  EXPECT_EQ(text.find("--" + boundary), 0u);
  EXPECT_NE(text.find("\r\n--" + boundary + "--\r\n"), std::string::npos);
  // The delimiter occurs only where the body puts it: once at the start and once at the end.
  std::size_t count = 0;
  for (auto p = text.find(boundary); p != std::string::npos; p = text.find(boundary, p + 1)) ++count;
  EXPECT_EQ(count, 2u);
}

TEST(FormDataRequest, FilesAreCopiedInWithTheirTypes) {
  testing::TemporaryDirectory directory;
  testing::writeFile(directory / "notes.txt", "file text");
  auto request = form();
  request->addFile((directory / "notes.txt").string(), "upload");
  request->buildPostBody();
  std::string text = body(request);
  EXPECT_NE(text.find("name=\"upload\"; filename=\"notes.txt\"\r\nContent-Type: text/plain\r\n\r\nfile text"),
            std::string::npos);
}

TEST(FormDataRequest, AMissingFileFailsWhenStartedThroughTheFailureCallback) {
  testing::TemporaryDirectory directory;
  auto request = form();
  request->addFile(directory.path().string(), "folder");
  // Callbacks set after the bad field still hear of the failure.
  auto outcome = testing::recordOutcome(request);
  request->startSynchronous();
  EXPECT_EQ(outcome->failed, 1);
  EXPECT_EQ(outcome->finished, 0);
  ASSERT_TRUE(request->error());
  EXPECT_EQ(request->error()->code(), 6);
  EXPECT_EQ(request->error()->localizedDescription(), "No file exists at " + directory.path().string());
  EXPECT_TRUE(request->isFinished());
}

TEST(FormDataRequest, AFileRemovedBeforeTheStartFailsTheRequest) {
  testing::TemporaryDirectory directory;
  testing::writeFile(directory / "gone.txt", "soon gone");
  auto request = form();
  request->addFile((directory / "gone.txt").string(), "f");
  std::filesystem::remove(directory / "gone.txt");
  auto outcome = testing::recordOutcome(request);
  request->startSynchronous();
  EXPECT_EQ(outcome->failed, 1);
  ASSERT_TRUE(request->error());
  EXPECT_EQ(request->error()->code(), 6);
}

// A named pipe in place of a file (given so, or swapped in after the field was added) fails the
// request; nothing waits for a writer that never comes.
TEST(FormDataRequest, APipeInPlaceOfAFileFailsTheRequestWithoutWaiting) {
  testing::TemporaryDirectory directory;
  const auto pipe = directory / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  std::atomic<bool> unblocked{false};
  // Safety net: a reader stuck in open() is let go by a writer that opens and closes at once.
  std::thread watchdog([&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done) {
      if (std::chrono::steady_clock::now() > deadline) {
        int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          unblocked = true;
          ::close(fd);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  auto request = form();
  request->addFile(pipe.string(), "given");
  request->startSynchronous();
  ASSERT_TRUE(request->error());
  EXPECT_EQ(request->error()->code(), 6);

  testing::writeFile(directory / "file.txt", "text");
  auto swapped = form();
  swapped->addFile((directory / "file.txt").string(), "swapped");
  std::filesystem::remove(directory / "file.txt");
  ASSERT_EQ(::mkfifo((directory / "file.txt").c_str(), 0600), 0);
  swapped->startSynchronous();
  ASSERT_TRUE(swapped->error());
  EXPECT_EQ(swapped->error()->code(), 6);

  auto stream = net::InputStream::withFileAtPath(pipe.string());
  EXPECT_FALSE(stream->open());
  EXPECT_TRUE(stream->streamError());

  done = true;
  watchdog.join();
  EXPECT_FALSE(unblocked) << "a read waited for a writer on the pipe";
}

TEST(FormDataRequest, CopiesCarryFieldsButNotLaterChanges) {
  auto request = form();
  request->setPostValue(box("1"), "a");
  request->setPostFormat(kHTTPFormPostFormatMultipart);
  request->setRequestMethod("PUT");
  auto copy = dyn<HTTPFormDataRequest>(request->copy());
  ASSERT_TRUE(copy);
  copy->setPostValue(box("2"), "b");
  EXPECT_EQ(request->postData()->count(), 1u);
  EXPECT_EQ(copy->postData()->count(), 2u);
  EXPECT_EQ(copy->postFormat(), kHTTPFormPostFormatMultipart);
  EXPECT_EQ(copy->requestMethod(), "PUT");
}

}  // namespace
}  // namespace zv
