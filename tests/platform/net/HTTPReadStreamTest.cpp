#include "platform/net/HTTPReadStream.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include "StreamTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/net/NetErrors.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/Thread.h"
#include "support/Hold.h"
#include "support/net/ChildProcess.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"
#include "support/net/StreamUseLog.h"

namespace zv::net {
namespace {

using testing::makeGet;
using testing::runStream;
using zv::testing::FaultServer;

class HTTPReadStreamTest : public ::testing::Test {
 protected:
  HTTPReadStreamTest() {
    // A head that can no longer become valid, and then nothing: no waiting for more of it.
    server.route("/spoiled-head-then-stall", [](const zv::testing::RecordedRequest&, FaultServer::Connection& c) {
      c.send(std::string("HTTP/\x01", 6));
      c.stallUntilStopped();
    });
  }
  static void SetUpTestSuite() {
    // One exchange first, so what the process opens once (resolver state, run-loop descriptors)
    // is not counted as a leak.
    FaultServer warmUp;
    ASSERT_TRUE(warmUp.start());
    runStream(makeGet(warmUp.url("/ok")));
  }
  void SetUp() override {
    RunLoop::current();  // its descriptors exist before the count
    descriptorsBefore = zv::testing::openFileDescriptorCount();
    ASSERT_TRUE(server.start());
  }
  void TearDown() override {
    // Every stream was closed: no socket may stay behind (the server's own are gone once stopped).
    EXPECT_EQ(openHTTPConnectionCount(), 0u);
    server.stop();
    EXPECT_EQ(zv::testing::openFileDescriptorCount(), descriptorsBefore);
  }
  FaultServer server;
  std::size_t descriptorsBefore = 0;
};

TEST_F(HTTPReadStreamTest, ReadsFramedBodies) {
  struct Case {
    const char* path;
    int status;
    std::string body;
    std::string version;
  };
  const Case cases[] = {
      {"/ok", 200, "hello", "HTTP/1.1"},
      {"/chunked", 200, "chunk one|chunk two|chunk three", "HTTP/1.1"},
      {"/close-delimited", 200, "body until the end", "HTTP/1.1"},
      {"/http10", 200, "hello", "HTTP/1.0"},
      {"/leading-zero-length", 200, "0123456789", "HTTP/1.1"},
      {"/interim", 200, "after interim", "HTTP/1.1"},
      {"/late-body", 200, "late", "HTTP/1.1"},
      {"/missing", 404, "not found\n", "HTTP/1.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto outcome = runStream(makeGet(server.url(c.path)));
    EXPECT_EQ(outcome.errorEvents, 0) << (outcome.error ? outcome.error->description() : "");
    EXPECT_EQ(outcome.endEvents, 1);
    EXPECT_EQ(outcome.openEvents, 1);
    ASSERT_TRUE(outcome.head);
    EXPECT_TRUE(outcome.head->isHeaderComplete());
    EXPECT_EQ(outcome.head->statusCode(), c.status);
    EXPECT_EQ(outcome.head->version(), c.version);
    EXPECT_EQ(outcome.body, c.body);
  }
}

TEST_F(HTTPReadStreamTest, MalformedResponsesEndWithOneError) {
  struct Case {
    const char* path;
    const char* domain;
    std::int64_t code;
  };
  const Case cases[] = {
      {"/malformed-status", kHTTPStreamErrorDomain, kHTTPStreamParseFailure},
      {"/spoiled-head-then-stall", kHTTPStreamErrorDomain, kHTTPStreamParseFailure},
      {"/garbage", kHTTPStreamErrorDomain, kHTTPStreamParseFailure},
      {"/oversized-headers", kHTTPStreamErrorDomain, kHTTPStreamHeaderTooLarge},
      {"/bad-chunk", kHTTPStreamErrorDomain, kHTTPStreamParseFailure},
      {"/drop-mid-body", kURLErrorDomain, kURLErrorNetworkConnectionLost},
      {"/drop-before-answer", kURLErrorDomain, kURLErrorNetworkConnectionLost},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto outcome = runStream(makeGet(server.url(c.path)));
    EXPECT_EQ(outcome.errorEvents, 1);
    EXPECT_EQ(outcome.endEvents, 0);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), c.domain);
    EXPECT_EQ(outcome.error->code(), c.code);
  }
}

TEST_F(HTTPReadStreamTest, RefusedConnectionIsAPOSIXError) {
  zv::testing::HeldLoopbackPort refusing;
  auto outcome = runStream(makeGet(refusing.url()));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain(), kPOSIXErrorDomain);
  EXPECT_EQ(outcome.error->code(), ECONNREFUSED);
  EXPECT_EQ(outcome.errorEvents, 1);
}

TEST_F(HTTPReadStreamTest, SendsBodiesFromMemoryAndFromAStream) {
  auto message = HTTPMessage::makeRequest("POST", URL::make(server.url("/echo")));
  message->setBody(Data::make(std::string("form=1&x=2")));
  auto stream = HTTPReadStream::make(message);
  auto outcome = runStream(stream, 10, false);
  EXPECT_EQ(outcome.body, "form=1&x=2");
  EXPECT_EQ(stream->requestBodyBytesWritten(), 10u);
  stream->close();

  std::string big(200000, 'q');
  auto streamed = HTTPReadStream::makeStreamed(HTTPMessage::makeRequest("PUT", URL::make(server.url("/echo"))),
                                               InputStream::withData(Data::make(big)));
  outcome = runStream(streamed, 10, false);
  EXPECT_EQ(outcome.body, big);
  EXPECT_EQ(streamed->requestBodyBytesWritten(), big.size());
  streamed->close();
  auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].header("Content-Length"), "10");
  EXPECT_EQ(recorded[1].header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(recorded[1].method, "PUT");
}

TEST_F(HTTPReadStreamTest, StreamsWithOneTagShareOneConnection) {
  std::vector<Ref<HTTPReadStream>> kept;
  for (int i = 0; i < 3; ++i) {
    auto stream = makeGet(server.url("/ok"));
    stream->setPersistentConnection(true);
    stream->setConnectionTag(7);
    auto outcome = runStream(stream, 10, false);
    EXPECT_EQ(outcome.body, "hello");
    EXPECT_TRUE(stream->connectionAllowsReuse());
    EXPECT_EQ(stream->isOnReusedConnection(), i > 0);
    // The previous stream is closed after the new one has opened, as the HTTP client does.
    if (!kept.empty()) kept.back()->close();
    kept.push_back(stream);
  }
  EXPECT_EQ(server.connectionCount(), 1);
  // Another tag never takes the socket.
  auto other = makeGet(server.url("/ok"));
  other->setPersistentConnection(true);
  other->setConnectionTag(8);
  runStream(other);
  EXPECT_EQ(server.connectionCount(), 2);
  for (auto& stream : kept) stream->close();
}

TEST_F(HTTPReadStreamTest, AConnectionTheServerClosedIsNotReused) {
  auto first = makeGet(server.url("/close-after-answer"));
  first->setPersistentConnection(true);
  first->setConnectionTag(1);
  EXPECT_EQ(runStream(first, 10, false).body, "then closed");
  pumpRunLoopFor(0.05);  // the server's close reaches us
  auto second = makeGet(server.url("/ok"));
  second->setPersistentConnection(true);
  second->setConnectionTag(1);
  auto outcome = runStream(second);
  first->close();
  EXPECT_FALSE(second->isOnReusedConnection());
  EXPECT_EQ(outcome.body, "hello");
  EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HTTPReadStreamTest, ADroppedReusedConnectionReportsAConnectionLoss) {
  auto first = makeGet(server.url("/keepalive-then-drop"));
  first->setPersistentConnection(true);
  first->setConnectionTag(3);
  EXPECT_EQ(runStream(first, 10, false).body, "first");
  auto second = makeGet(server.url("/keepalive-then-drop"));
  second->setPersistentConnection(true);
  second->setConnectionTag(3);
  auto outcome = runStream(second);
  first->close();
  EXPECT_TRUE(second->isOnReusedConnection());
  ASSERT_TRUE(outcome.error);
  EXPECT_TRUE(isConnectionLostError(*outcome.error)) << outcome.error->description();
  EXPECT_EQ(outcome.errorEvents, 1);
}

TEST_F(HTTPReadStreamTest, OtherKeysDoNotShareAConnection) {
  auto first = makeGet(server.url("/ok"));
  first->setPersistentConnection(true);
  first->setConnectionTag(5);
  runStream(first, 10, false);
  // Same tag, different host spelling (localhost vs 127.0.0.1): another connection.
  auto second = makeGet("http://localhost:" + std::to_string(server.port()) + "/ok");
  second->setPersistentConnection(true);
  second->setConnectionTag(5);
  runStream(second);
  first->close();
  EXPECT_FALSE(second->isOnReusedConnection());
  EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HTTPReadStreamTest, NothingArrivesWhileUnscheduled) {
  constexpr std::size_t size = 3'000'000;
  auto stream = makeGet(server.url("/big/" + std::to_string(size)));
  std::size_t received = 0;
  bool ended = false;
  stream->setClient(kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred,
                    [&](HTTPReadStream& s, StreamEvent event) {
                      if (event == kStreamEventHasBytesAvailable) {
                        std::uint8_t buffer[16384];
                        long n = s.read(buffer, sizeof buffer);
                        if (n > 0) received += static_cast<std::size_t>(n);
                      } else {
                        ended = true;
                      }
                    });
  auto loop = RunLoop::current();
  stream->scheduleInRunLoop(loop, kDefaultRunLoopMode);
  stream->open();
  pumpRunLoopUntil([&] { return received > 100000; }, 10);
  stream->unscheduleFromRunLoop(loop, kDefaultRunLoopMode);
  std::size_t paused = received;
  pumpRunLoopFor(0.2);
  EXPECT_EQ(received, paused);
  EXPECT_FALSE(ended);
  stream->scheduleInRunLoop(loop, kDefaultRunLoopMode);
  pumpRunLoopUntil([&] { return ended; }, 10);
  EXPECT_EQ(received, size);
  stream->close();
}

TEST_F(HTTPReadStreamTest, FollowsRedirectsOnlyWhenAsked) {
  auto plain = runStream(makeGet(server.url("/redirect?to=/ok")));
  ASSERT_TRUE(plain.head);
  EXPECT_EQ(plain.head->statusCode(), 302);

  auto following = makeGet(server.url("/redirect?to=/ok"));
  following->setShouldAutoRedirect(true);
  auto outcome = runStream(following, 10, false);
  ASSERT_TRUE(outcome.head);
  EXPECT_EQ(outcome.head->statusCode(), 200);
  EXPECT_EQ(outcome.body, "hello");
  EXPECT_EQ(following->finalURL()->absoluteString(), server.url("/ok"));
  following->close();
}

TEST_F(HTTPReadStreamTest, RedirectsCarryCredentialsAndCookiesOnlyWithinTheOrigin) {
  FaultServer elsewhere;
  ASSERT_TRUE(elsewhere.start());
  auto follow = [](const std::string& url) {
    auto message = HTTPMessage::makeRequest("GET", URL::make(url));
    message->setHeaderField("Authorization", "Basic dXNlcjpzZWNyZXQ=");
    message->setHeaderField("Cookie", "session=1");
    auto stream = HTTPReadStream::make(message);
    stream->setShouldAutoRedirect(true);
    auto outcome = runStream(stream);
    EXPECT_EQ(outcome.body, "hello") << url;
  };

  // Another port is another origin: what was meant for the first server stays with it.
  follow(server.url("/redirect?to=" + percentEncode(elsewhere.url("/ok"))));
  ASSERT_EQ(elsewhere.requests().size(), 1u);
  EXPECT_FALSE(elsewhere.requests()[0].header("Authorization"));
  EXPECT_FALSE(elsewhere.requests()[0].header("Cookie"));
  elsewhere.stop();

  follow(server.url("/redirect?to=/ok"));
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.header("Authorization").value_or(""), "Basic dXNlcjpzZWNyZXQ=") << request.target;
    EXPECT_EQ(request.header("Cookie").value_or(""), "session=1") << request.target;
  }
}

TEST_F(HTTPReadStreamTest, ARedirectKeepingTheBodyFollowsOnlyWithinTheOriginOrWhereApproved) {
  const std::string signedForm = "method=x&auth_token=tok&api_sig=sig";
  auto post = [&](const std::string& url, HTTPReadStream::RedirectApproval approval = nullptr) {
    auto message = HTTPMessage::makeRequest("POST", URL::make(url));
    message->setBody(Data::make(signedForm));
    message->setHeaderField("Authorization", "Basic dXNlcjpzZWNyZXQ=");
    auto stream = HTTPReadStream::make(message);
    stream->setShouldAutoRedirect(true);
    if (approval) stream->setRedirectApproval(std::move(approval));
    return runStream(stream);
  };
  for (int status : {307, 308}) {
    SCOPED_TRACE(status);
    FaultServer elsewhere;
    ASSERT_TRUE(elsewhere.start());
    const std::string moved = "/redirect-status/" + std::to_string(status) + "?to=";
    // Another origin (here another port) sees neither the signed body nor anything else.
    auto refused = post(server.url(moved + percentEncode(elsewhere.url("/echo"))));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(refused.errorEvents, 1);
    EXPECT_TRUE(elsewhere.requests().empty());

    // Within the origin the body goes again, as the status asks.
    EXPECT_EQ(post(server.url(moved + "/echo")).body, signedForm);

    // The caller may allow one: the body goes, the first origin's credentials do not.
    int asked = 0;
    auto allowed = post(server.url(moved + percentEncode(elsewhere.url("/echo"))), [&](const URL& from, const URL& to) {
      ++asked;
      EXPECT_TRUE(isSameOrigin(from, *URL::make(server.url("/"))));
      EXPECT_TRUE(isSameOrigin(to, *URL::make(elsewhere.url("/"))));
      return true;
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(allowed.body, signedForm);
    ASSERT_EQ(elsewhere.requests().size(), 1u);
    EXPECT_FALSE(elsewhere.requests()[0].header("Authorization"));

    // A body pulled from a stream has been read: the redirect fails at once instead of announcing
    // bytes that never come (the server would wait for them until somebody's time-out).
    auto message = HTTPMessage::makeRequest("POST", URL::make(server.url(moved + "/echo")));
    message->setHeaderField("Content-Length", std::to_string(signedForm.size()));
    auto streamed = HTTPReadStream::makeStreamed(message, InputStream::withData(Data::make(signedForm)));
    streamed->setShouldAutoRedirect(true);
    auto exhausted = runStream(streamed, 30);
    ASSERT_TRUE(exhausted.error);
    EXPECT_EQ(exhausted.error->code(), kURLErrorRequestBodyStreamExhausted);
  }
}

TEST_F(HTTPReadStreamTest, ClosingInsideACallbackStopsEverything) {
  auto stream = makeGet(server.url("/big/1000000"));
  int events = 0;
  stream->setClient(kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred,
                    [&](HTTPReadStream& s, StreamEvent) {
                      ++events;
                      s.close();
                    });
  stream->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode);
  stream->open();
  pumpRunLoopUntil([&] { return events > 0; }, 5);
  pumpRunLoopFor(0.1);
  EXPECT_EQ(events, 1);
  stream = nullptr;
}

// --- A stream belongs to its loop's thread; a close from elsewhere runs there. ---

// A stream for `path` that keeps its connection for the next stream with `tag`, run to its end on
// a thread of its own; the thread then stays at `hold` (alive, away from its loop) until released.
Ref<HTTPReadStream> runKeptAliveOnOwnThread(const std::string& url, std::int64_t tag, zv::testing::Hold& hold,
                                            Ref<Thread>& thread) {
  Ref<HTTPReadStream> stream;
  thread = Thread::create(
      [&stream, &hold, url, tag] {
        auto made = makeGet(url);
        made->setPersistentConnection(true);
        made->setConnectionTag(tag);
        EXPECT_EQ(runStream(made, 10, false).body, "hello");
        stream = made;
        hold.holdHere();
      },
      "stream owner");
  thread->start();
  EXPECT_TRUE(pumpRunLoopUntil([&] { return hold.holder().has_value(); }, 20));
  return stream;
}

// Lets the owner held by `hold` end, then checks that the close of its stream for `url`, which
// waited for it, ran there as it ended, once.
void endOwnerAndExpectItsStreamClosedThere(const zv::testing::StreamUseLog& uses, const std::string& url,
                                           zv::testing::Hold& hold, Thread& owner) {
  hold.release();
  owner.join();
  EXPECT_EQ(uses.count(url, "close"), 1);
  EXPECT_EQ(uses.usesOffThread(url, *hold.holder()), std::vector<std::string>{});
}

TEST_F(HTTPReadStreamTest, ACloseFromOtherThreadsRunsOnTheStreamsThreadOnceItLeavesItsCallback) {
  zv::testing::StreamUseLog uses;
  zv::testing::Hold insideTheEnd;
  const std::string url = server.url("/ok");
  auto owner = Thread::startRunLoopThread("stream owner");
  auto stream = makeGet(url);
  int ends = 0;
  int errors = 0;
  performOnThread(
      owner,
      [&] {
        stream->setClient(kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred,
                          [&](HTTPReadStream& s, StreamEvent event) {
                            std::uint8_t buffer[64];
                            if (event == kStreamEventHasBytesAvailable) s.read(buffer, sizeof buffer);
                            if (event == kStreamEventErrorOccurred) ++errors;
                            if (event == kStreamEventEndEncountered) {
                              ++ends;
                              insideTheEnd.holdHere();
                            }
                          });
        stream->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode);
        stream->open();
      },
      true);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return insideTheEnd.holder().has_value(); }, 20));

  // Two threads close it at once and the last outside reference goes: none of it runs here, and
  // none of it waits for the owner.
  auto other = Thread::create([&] { stream->close(); }, "second closer");
  other->start();
  stream->close();
  other->join();
  stream = nullptr;
  EXPECT_EQ(uses.count(url, "close"), 0);

  insideTheEnd.release();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return uses.count(url, "close") > 0; }, 20));
  pumpRunLoopFor(0.05);
  EXPECT_EQ(uses.count(url, "close"), 1);
  EXPECT_EQ(uses.usesOffThread(url, *insideTheEnd.holder()), std::vector<std::string>{});
  owner->cancel();
  owner->join();
  // The response ended whole, and the close that waited for it added no error.
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(errors, 0);
}

TEST_F(HTTPReadStreamTest, AStreamWhoseThreadHasEndedClosesAtOnceWhereverItIsClosed) {
  zv::testing::StreamUseLog uses;
  zv::testing::Hold hold;
  hold.release();  // its thread ends as soon as the stream has
  Ref<Thread> owner;
  auto stream = runKeptAliveOnOwnThread(server.url("/ok"), 31, hold, owner);
  owner->join();
  ASSERT_TRUE(stream);
  EXPECT_EQ(openHTTPConnectionCount(), 1u);  // offered for the next stream with its tag
  stream->close();
  EXPECT_EQ(uses.count(server.url("/ok"), "close"), 1);
  EXPECT_EQ(openHTTPConnectionCount(), 0u);
}

TEST_F(HTTPReadStreamTest, AClosePendingForABusyThreadKeepsNoSocketOpenAndRunsThereAtItsEnd) {
  zv::testing::StreamUseLog uses;
  zv::testing::Hold hold;
  Ref<Thread> owner;
  const std::string firstURL = server.url("/ok?first");
  auto first = runKeptAliveOnOwnThread(firstURL, 32, hold, owner);
  ASSERT_TRUE(first);

  // A stream here takes the first one's connection over and closes the first one, whose thread
  // is busy elsewhere: that close waits for it.
  auto second = makeGet(server.url("/ok?second"));
  second->setPersistentConnection(true);
  second->setConnectionTag(32);
  EXPECT_EQ(runStream(second, 10, false).body, "hello");
  EXPECT_TRUE(second->isOnReusedConnection());
  first->close();
  EXPECT_EQ(uses.count(firstURL, "close"), 0);
  // The socket went from the first stream to the second: closing the second closes it, whatever
  // the first one's pending close.
  second->close();
  EXPECT_EQ(openHTTPConnectionCount(), 0u);
  EXPECT_EQ(server.connectionCount(), 1);

  // The owner never comes back to its loop: the close runs as its thread ends.
  endOwnerAndExpectItsStreamClosedThere(uses, firstURL, hold, *owner);
}

TEST_F(HTTPReadStreamTest, AClosedStreamWhoseThreadIsAwayFromItsLoopKeepsNoOfferedSocket) {
  zv::testing::StreamUseLog uses;
  zv::testing::Hold hold;
  Ref<Thread> owner;
  const std::string url = server.url("/ok");
  auto stream = runKeptAliveOnOwnThread(url, 34, hold, owner);
  ASSERT_TRUE(stream);
  EXPECT_EQ(openHTTPConnectionCount(), 1u);  // offered for the next stream with its tag

  // Nobody took it, and nobody will once the stream is closed: the socket goes now, although the
  // rest of the close waits for the owner.
  stream->close();
  EXPECT_EQ(openHTTPConnectionCount(), 0u);
  EXPECT_EQ(uses.count(url, "close"), 0);
  endOwnerAndExpectItsStreamClosedThere(uses, url, hold, *owner);
}

// Holds the first close of one URL's stream inside it, and counts the closes that enter and how
// many are inside at once.
class CloseGate {
 public:
  explicit CloseGate(std::string url) {
    std::lock_guard lock(mutex());
    state() = State{std::move(url)};
    setStreamUseObserverForTesting(&observe);
  }
  ~CloseGate() {
    release();
    setStreamUseObserverForTesting(nullptr);
  }
  bool waitUntilOneIsHeld() {
    std::unique_lock lock(mutex());
    return changed().wait_for(lock, std::chrono::seconds(20), [] { return state().entered > 0; });
  }
  void release() {
    std::lock_guard lock(mutex());
    state().released = true;
    changed().notify_all();
  }
  int entered() const {
    std::lock_guard lock(mutex());
    return state().entered;
  }
  int mostAtOnce() const {
    std::lock_guard lock(mutex());
    return state().mostAtOnce;
  }

 private:
  struct State {
    std::string url;
    int entered = 0;
    int inside = 0;
    int mostAtOnce = 0;
    bool released = false;
  };
  // Never destroyed: a late close may still report.
  static std::mutex& mutex() {
    static auto& instance = *new std::mutex;
    return instance;
  }
  static std::condition_variable& changed() {
    static auto& instance = *new std::condition_variable;
    return instance;
  }
  static State& state() {
    static auto& instance = *new State;
    return instance;
  }
  static void observe(const URL& url, const char* use) {
    if (std::string_view(use) != "close") return;
    std::unique_lock lock(mutex());
    auto& s = state();
    if (url.absoluteString() != s.url) return;
    ++s.entered;
    s.mostAtOnce = std::max(s.mostAtOnce, ++s.inside);
    changed().notify_all();
    if (s.entered == 1) changed().wait_for(lock, std::chrono::minutes(1), [&] { return s.released; });
    --s.inside;
  }
};

TEST_F(HTTPReadStreamTest, AStreamIsClosedOnceWhenItsThreadEndsWhileAnotherThreadLetsItGo) {
  zv::testing::Hold hold;
  Ref<Thread> owner;
  const std::string url = server.url("/ok");
  auto stream = runKeptAliveOnOwnThread(url, 35, hold, owner);
  ASSERT_TRUE(stream);
  CloseGate gate(url);
  stream->close();  // waits for the owner, which is away from its loop
  EXPECT_EQ(gate.entered(), 0);

  // The owner ends: its loop drops the waiting close, which runs there as it goes, and is held
  // inside. Meanwhile the last reference goes here, where the owner's end is plain to see.
  hold.release();
  ASSERT_TRUE(gate.waitUntilOneIsHeld());
  stream = nullptr;
  gate.release();
  owner->join();
  EXPECT_EQ(gate.entered(), 1);
  EXPECT_EQ(gate.mostAtOnce(), 1);
}

TEST_F(HTTPReadStreamTest, AForkedChildClosesAStreamOfTheParentsOtherThreadAtOnceAndQuietly) {
  zv::testing::Hold hold;
  Ref<Thread> owner;
  auto stream = runKeptAliveOnOwnThread(server.url("/ok"), 33, hold, owner);
  ASSERT_TRUE(stream);
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // a hang fails
    // The owner thread is the parent's: the child has no such thread to wait for.
    LogCapture log;
    stream->close();
    const bool closed = stream->status() == StreamStatus::Closed && log.lines().empty();
    ::_exit(closed ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // In the parent the stream still belongs to its thread.
  EXPECT_EQ(stream->status(), StreamStatus::AtEnd);
  hold.release();
  owner->join();
  stream->close();
}

}  // namespace
}  // namespace zv::net
