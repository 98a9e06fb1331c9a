#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/storage/PropertyList.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXOfflineQueue.h"
#include "support/ChildExit.h"
#include "support/net/ChildProcess.h"
#include "support/net/FaultServer.h"
#include "support/sharing/OfflineQueueSupport.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

using testing::QueueProbeSharer;

std::string fileBytes(const std::filesystem::path& path) {
  return std::filesystem::exists(path) ? testing::readFile(path) : std::string();
}

Ref<graphics::Image> picture(std::uint8_t alpha) {
  return graphics::Image::make(graphics::Bitmap::filled(6, 4, 200, 30, 40, alpha));
}

class SXOfflineQueueTest : public testing::SharingTest {
 protected:
  SXOfflineQueueTest() : SharingTest(false) {}

  void SetUp() override {
    SharingTest::SetUp();
    testing::registerOfflineQueueTestSharers();
    QueueProbeSharer::reset();
    SXOfflineQueue::setReplayTimeout(600);
  }
  void TearDown() override {
    waitForReplays();
    QueueProbeSharer::reset();
    SXOfflineQueue::setReplayTimeout(600);
    SharingTest::TearDown();
  }

  // Queues an item for the probe sharer, as its tryToSend does while offline.
  std::string queue(const Ref<SXItem>& item, const std::string& sharerId = "QueueProbeSharer") {
    EXPECT_TRUE(SXOfflineQueue::addToOfflineQueue(item, sharerId));
    auto list = SXOfflineQueue::getOfflineQueueList();
    return list ? list->objectAtIndexAs<Dictionary>(list->count() - 1)->stringForKey("uid").value_or("") : "";
  }

  std::vector<Ref<Dictionary>> entries() {
    std::vector<Ref<Dictionary>> result;
    if (auto list = SXOfflineQueue::getOfflineQueueList()) {
      for (const auto& entry : list->objects()) result.push_back(dyn<Dictionary>(entry));
    }
    return result;
  }

  void waitForReplays() {
    auto queue = SX::currentHelper()->offlineQueue();
    if (!queue) return;
    ASSERT_TRUE(pumpRunLoopUntil([&] { return queue->operations().empty(); }, 30.0));
  }

  void flushAndWait() {
    SX::flushOfflineQueue();
    waitForReplays();
  }
};

TEST_F(SXOfflineQueueTest, AnOfflineSendIsQueuedWithItsPayload) {
  setOffline(true);
  auto sharer = SXSharer::make<QueueProbeSharer>();
  sharer->setItem(SXItem::makeText("while offline"));
  EXPECT_TRUE(sharer->tryToSend());
  EXPECT_TRUE(QueueProbeSharer::sent().empty());
  auto list = entries();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->stringForKey("sharer"), "QueueProbeSharer");
  auto uid = list[0]->stringForKey("uid").value_or("");
  EXPECT_TRUE(uid.starts_with("QueueProbeSharer-2-")) << uid;
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / uid));  // text has no payload
  EXPECT_EQ(std::filesystem::status(SXOfflineQueue::offlineQueueListPath()).permissions() &
                std::filesystem::perms::others_read,
            std::filesystem::perms::none);

  // A picture with transparency is kept losslessly; an opaque one as JPEG; a file as its bytes.
  auto clear = queue(SXItem::makeImage(picture(128)));
  auto opaque = queue(SXItem::makeImage(picture(255)));
  auto file = queue(SXItem::makeFile(Data::make(std::string_view("file bytes\0!", 12)), "a.bin",
                                     "application/octet-stream", std::nullopt));
  EXPECT_TRUE(fileBytes(SXOfflineQueue::offlineQueuePath() / clear).starts_with("\x89PNG"));
  EXPECT_TRUE(fileBytes(SXOfflineQueue::offlineQueuePath() / opaque).starts_with("\xFF\xD8"));
  EXPECT_EQ(fileBytes(SXOfflineQueue::offlineQueuePath() / file), std::string("file bytes\0!", 12));
  EXPECT_EQ(entries().size(), 4u);

  configurator->set("allowOffline", box(false));
  EXPECT_FALSE(SXOfflineQueue::addToOfflineQueue(SXItem::makeText("no"), "QueueProbeSharer"));
  EXPECT_EQ(entries().size(), 4u);
}

TEST_F(SXOfflineQueueTest, AFlushWhileOfflineLeavesTheListAlone) {
  queue(SXItem::makeText("kept"));
  setOffline(true);
  flushAndWait();
  EXPECT_TRUE(QueueProbeSharer::sent().empty());
  EXPECT_EQ(entries().size(), 1u);
}

TEST_F(SXOfflineQueueTest, FinishedSharesLeaveOneByOneWithTheirPayloadsAndAreNotSentAgain) {
  auto image = queue(SXItem::makeImage(picture(128), "pic"));
  auto file = queue(SXItem::makeFile(Data::make(std::string_view("bytes")), "f.txt", "text/plain", "f"));
  queue(SXItem::makeText("first"));
  queue(SXItem::makeText("first"));  // the same share twice: two replays
  flushAndWait();
  auto sent = QueueProbeSharer::sent();
  ASSERT_EQ(sent.size(), 4u);
  int texts = 0;
  for (const auto& item : sent) {
    if (item.shareType == SXShareTypeImage) {
      EXPECT_EQ(item.imageWidth, 6);
    }
    if (item.shareType == SXShareTypeFile) {
      EXPECT_EQ(item.data, "bytes");
    }
    if (item.shareType == SXShareTypeText) ++texts;
  }
  EXPECT_EQ(texts, 2);
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueueListPath()));
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / image));
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / file));

  flushAndWait();
  EXPECT_EQ(QueueProbeSharer::sent().size(), 4u);
}

TEST_F(SXOfflineQueueTest, AFailedReplayStaysQueuedUntilTheRetryBound) {
  auto uid = queue(SXItem::makeImage(picture(255)));
  QueueProbeSharer::setScript(QueueProbeSharer::Script::Fail);
  LogCapture log;
  for (int attempt = 1; attempt < SXOfflineQueue::kMaximumAttempts; ++attempt) {
    flushAndWait();
    auto list = entries();
    ASSERT_EQ(list.size(), 1u) << attempt;
    EXPECT_EQ(dyn<Number>(list[0]->objectForKey("attempts"))->integerValue(), attempt);
    EXPECT_TRUE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / uid));
  }
  flushAndWait();
  EXPECT_EQ(QueueProbeSharer::sent().size(), static_cast<std::size_t>(SXOfflineQueue::kMaximumAttempts));
  EXPECT_TRUE(entries().empty());
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / uid));
  EXPECT_TRUE(log.contains("given up"));
}

TEST_F(SXOfflineQueueTest, DroppedSharesTakeTheirPayloadsWithThem) {
  auto unknown = queue(SXItem::makeImage(picture(255)), "NoSuchSharer");
  auto loggedOut = queue(SXItem::makeImage(picture(255)));
  QueueProbeSharer::setAuthorized(false);
  LogCapture log;
  flushAndWait();
  EXPECT_TRUE(QueueProbeSharer::sent().empty());
  EXPECT_TRUE(entries().empty());
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / unknown));
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueuePath() / loggedOut));
  EXPECT_TRUE(log.contains("no sharer class named NoSuchSharer"));
  EXPECT_TRUE(log.contains("is not logged in"));
}

// A replay without a report by the time-out stops waiting but stays in flight: nothing is counted,
// no flush sends it again meanwhile, and its late outcome is what is recorded.
TEST_F(SXOfflineQueueTest, AReplayWithoutAReportByTheTimeOutStaysInFlightUntilItReports) {
  SXOfflineQueue::setReplayTimeout(0.05);
  for (bool succeeds : {true, false}) {
    SCOPED_TRACE(succeeds ? "late success" : "late failure");
    QueueProbeSharer::reset();
    queue(SXItem::makeText("slow"));
    QueueProbeSharer::setScript(QueueProbeSharer::Script::Never);
    flushAndWait();
    ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
    auto list = entries();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(dyn<Number>(list[0]->objectForKey("attempts"))->integerValue(), 0);
    flushAndWait();
    EXPECT_EQ(QueueProbeSharer::sent().size(), 1u);

    QueueProbeSharer::reportLate(succeeds);
    QueueProbeSharer::setScript(QueueProbeSharer::Script::Never);
    list = entries();
    if (succeeds) {
      EXPECT_TRUE(list.empty());
      flushAndWait();
      EXPECT_EQ(QueueProbeSharer::sent().size(), 1u);
    } else {
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(dyn<Number>(list[0]->objectForKey("attempts"))->integerValue(), 1);
      flushAndWait();  // no longer in flight: replayed again
      EXPECT_EQ(QueueProbeSharer::sent().size(), 2u);
      QueueProbeSharer::reset();  // ends that replay (a failure)
      SXOfflineQueue::saveOfflineQueueList(nullptr);
    }
  }
}

TEST_F(SXOfflineQueueTest, AReplayQueuedAgainKeepsItsOneEntry) {
  queue(SXItem::makeText("again"));
  QueueProbeSharer::setScript(QueueProbeSharer::Script::QueueAgain);
  flushAndWait();
  ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
  auto list = entries();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(dyn<Number>(list[0]->objectForKey("attempts"))->integerValue(), 0);
}

TEST_F(SXOfflineQueueTest, UnreadablePayloadsFallBackToTheStoredItem) {
  auto image = queue(SXItem::makeImage(picture(255)));
  auto file = queue(SXItem::makeFile(Data::make(std::string_view("kept bytes")), "f", "text/plain", "f"));
  testing::writeFile(SXOfflineQueue::offlineQueuePath() / image, "not a picture");
  std::filesystem::remove(SXOfflineQueue::offlineQueuePath() / file);
  LogCapture log;
  flushAndWait();
  auto sent = QueueProbeSharer::sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].shareType == SXShareTypeImage ? sent[0].imageWidth : sent[1].imageWidth, 6);
  EXPECT_EQ(sent[0].shareType == SXShareTypeFile ? sent[0].data : sent[1].data, "kept bytes");
  EXPECT_TRUE(entries().empty());
  EXPECT_TRUE(log.contains("stored copy is used"));
}

TEST_F(SXOfflineQueueTest, ACorruptListIsSetAsideAndBadEntriesAreRemovedSafely) {
  std::filesystem::create_directories(SXOfflineQueue::offlineQueuePath());
  testing::writeFile(SXOfflineQueue::offlineQueueListPath(), "<plist><array><dict>");
  auto aside = SXOfflineQueue::offlineQueueListPath();
  aside += ".corrupt";
  {
    LogCapture log;
    bool failed = true;
    EXPECT_FALSE(SXOfflineQueue::getOfflineQueueList(&failed));
    EXPECT_FALSE(failed);
    ASSERT_EQ(log.lines().size(), 1u);  // reported once, with the place it went
    EXPECT_TRUE(log.contains("could not be parsed"));
    EXPECT_TRUE(log.contains(aside.string()));
  }
  EXPECT_EQ(fileBytes(aside), "<plist><array><dict>");
  queue(SXItem::makeText("after"));  // a new list begins

  // Entries of the wrong shape go; a uid naming a path outside the folder deletes nothing there.
  auto outside = SXOfflineQueue::offlineQueuePath().parent_path() / "outside";
  testing::writeFile(outside, "precious");
  auto list = SXOfflineQueue::getOfflineQueueList();
  list->addObject(box("not an entry"));
  list->addObject(Dictionary::make({{"uid", box("../outside")},
                                    {"sharer", box("QueueProbeSharer")},
                                    {"item", SXItem::makeText("t")->dictionaryRepresentation()}}));
  list->addObject(Dictionary::make({{"uid", box("x")}, {"sharer", box("QueueProbeSharer")}, {"item", box(3)}}));
  ASSERT_TRUE(SXOfflineQueue::saveOfflineQueueList(list));
  LogCapture log;
  flushAndWait();
  ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
  EXPECT_EQ(QueueProbeSharer::sent()[0].text, "after");
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(fileBytes(outside), "precious");
  EXPECT_TRUE(log.contains("unusable queue entry"));
}

// Only bytes that cannot be parsed set the list aside: a list that cannot be read stays where it
// is, and what needed it fails and says so.
TEST_F(SXOfflineQueueTest, AListThatCannotBeReadIsLeftWhereItIs) {
  // A folder where the list belongs opens but cannot be read, as a list does on an I/O error.
  std::filesystem::create_directories(SXOfflineQueue::offlineQueueListPath());
  testing::writeFile(SXOfflineQueue::offlineQueueListPath() / "inside", "kept");
  LogCapture log;
  bool failed = false;
  EXPECT_FALSE(SXOfflineQueue::getOfflineQueueList(&failed));
  EXPECT_TRUE(failed);
  EXPECT_FALSE(SXOfflineQueue::addToOfflineQueue(SXItem::makeText("not now"), "QueueProbeSharer"));
  flushAndWait();
  EXPECT_TRUE(QueueProbeSharer::sent().empty());
  EXPECT_EQ(fileBytes(SXOfflineQueue::offlineQueueListPath() / "inside"), "kept");
  for (const auto& file : std::filesystem::directory_iterator(SXOfflineQueue::offlineQueuePath()))
    EXPECT_EQ(file.path().string().find(".corrupt"), std::string::npos) << file.path();
  EXPECT_TRUE(log.contains("could not be read"));
  EXPECT_TRUE(log.contains("could not be queued"));
}

// An entry whose uid names the list itself must not take the list with it when it ends.
TEST_F(SXOfflineQueueTest, AUidNamesOnlyAPayloadFile) {
  queue(SXItem::makeText("stays"));
  auto list = SXOfflineQueue::getOfflineQueueList();
  for (const char* uid : {"SXOfflineQueue.plist", ".replaying", "SXOfflineQueue.plist.lock"}) {
    list->addObject(Dictionary::make({{"uid", box(uid)},
                                      {"sharer", box("NoSuchSharer")},
                                      {"item", SXItem::makeText("tampered")->dictionaryRepresentation()}}));
  }
  ASSERT_TRUE(SXOfflineQueue::saveOfflineQueueList(list));
  QueueProbeSharer::setScript(QueueProbeSharer::Script::Fail);
  LogCapture log;
  flushAndWait();
  ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
  auto left = entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->objectForKeyAs<Dictionary>("item")->stringForKey("text"), "stays");
  EXPECT_EQ(dyn<Number>(left[0]->objectForKey("attempts"))->integerValue(), 1);
  EXPECT_TRUE(log.contains("unusable queue entry"));
}

// The first flush of a launch removes what a process killed between writing a payload and the
// list left behind; queued payloads and lists set aside stay.
TEST_F(SXOfflineQueueTest, TheFirstFlushRemovesPayloadsNoEntryNames) {
  auto kept = queue(SXItem::makeImage(picture(128)));
  auto folder = SXOfflineQueue::offlineQueuePath();
  testing::writeFile(folder / "QueueProbeSharer-4-1700000000.000000-7", "orphan");
  testing::writeFile(folder / ".QueueProbeSharer-4-1700000000.000000-8.Ab3dE6gH", "half written");
  testing::writeFile(folder / "SXOfflineQueue.plist.corrupt", "for a person to look at");
  QueueProbeSharer::setScript(QueueProbeSharer::Script::Fail);
  flushAndWait();
  EXPECT_TRUE(std::filesystem::exists(folder / kept));
  EXPECT_TRUE(std::filesystem::exists(folder / "SXOfflineQueue.plist.corrupt"));
  EXPECT_FALSE(std::filesystem::exists(folder / "QueueProbeSharer-4-1700000000.000000-7"));
  EXPECT_FALSE(std::filesystem::exists(folder / ".QueueProbeSharer-4-1700000000.000000-8.Ab3dE6gH"));
  EXPECT_EQ(entries().size(), 1u);
}

// The names in the queue's folders tell what was queued and for which service: the folders are
// the user's alone, also one an earlier version made open.
TEST_F(SXOfflineQueueTest, TheQueueFoldersAreTheUsersAlone) {
  mode_t previous = ::umask(022);
  auto folder = ApplicationEnvironment::shared().cachesDirectory() / "SX";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms(0755), std::filesystem::perm_options::replace);
  queue(SXItem::makeText("private"));
  flushAndWait();
  ::umask(previous);
  ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
  for (const auto& made : {folder, folder / ".replaying"})
    EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms::owner_all) << made;
}

// A replay cancelled before it started is not left marked running: the next flush replays it.
TEST_F(SXOfflineQueueTest, AReplayCancelledBeforeItStartsIsReplayedByTheNextFlush) {
  queue(SXItem::makeText("cancelled first"));
  auto replays = SXOfflineQueue::operationQueue();
  replays->setSuspended(true);
  SX::flushOfflineQueue();
  replays->cancelAllOperations();
  replays->setSuspended(false);
  waitForReplays();
  EXPECT_TRUE(QueueProbeSharer::sent().empty());
  flushAndWait();
  ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
  EXPECT_TRUE(entries().empty());
}

// An opaque picture is replayed from the list's lossless copy, not from its JPEG payload.
TEST_F(SXOfflineQueueTest, AnOpaquePictureIsReplayedLosslessly) {
  auto bitmap = graphics::Bitmap::filled(16, 16, 0, 0, 0);
  for (int y = 0; y < bitmap.height; ++y)
    for (int x = 0; x < bitmap.width; ++x) {
      auto* pixel = bitmap.pixel(x, y);
      pixel[0] = (x + y) % 2 ? 255 : 0;  // fine detail a JPEG smears
      pixel[1] = static_cast<std::uint8_t>(x * 16);
      pixel[2] = static_cast<std::uint8_t>(y * 16);
    }
  auto uid = queue(SXItem::makeImage(graphics::Image::make(bitmap)));
  EXPECT_TRUE(fileBytes(SXOfflineQueue::offlineQueuePath() / uid).starts_with("\xFF\xD8"));
  flushAndWait();
  ASSERT_EQ(QueueProbeSharer::sent().size(), 1u);
  EXPECT_TRUE(QueueProbeSharer::sent()[0].imagePixels == bitmap.rgba);
}

// A "launch" in a child process is killed in the middle of its replay and the application is
// launched again: nothing is lost and nothing that had finished is sent again.
TEST_F(SXOfflineQueueTest, AKillInTheMiddleOfAReplayLosesNothingAndResendsNothingFinished) {
  std::mutex mutex;
  bool answerTwo = false;
  std::map<std::string, int> received;
  testing::FaultServer server;
  server.route("/share", [&](const testing::RecordedRequest& request, testing::FaultServer::Connection& c) {
    EXPECT_EQ(request.method, "POST");
    bool stall = false;
    {
      std::lock_guard lock(mutex);
      ++received[request.body];
      stall = request.body == "text=two" && !answerTwo;
    }
    if (stall) return c.stallUntilStopped();
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
  });
  ASSERT_TRUE(server.start());
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  for (const char* text : {"one", "two", "three"}) queue(SXItem::makeText(text), "QueueReplaySharer");
  auto count = [&](const std::string& body) {
    std::lock_guard lock(mutex);
    return received.count(body) ? received[body] : 0;
  };
  auto listSize = [&] {
    auto bytes = fileBytes(SXOfflineQueue::offlineQueueListPath());
    auto list = dyn<Array>(storage::parsePropertyList(bytes));
    return list ? list->count() : 0;
  };

  testing::ChildProcess first;
  ASSERT_TRUE(first.start({ZV_OFFLINE_REPLAY_CHILD, home.path().string(), base}, home / "first.log"));
  bool replaying = pumpRunLoopUntil(
      [&] { return (count("text=two") == 1 && listSize() == 1) || !first.isRunning(); }, 60.0);
  replaying = replaying && first.isRunning();
  ::kill(first.pid(), SIGKILL);
  first.stop();
  ASSERT_TRUE(replaying) << testing::readFile(home / "first.log");
  EXPECT_EQ(count("text=one"), 1);
  EXPECT_EQ(count("text=three"), 1);
  auto left = entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0]->stringForKey("uid")->starts_with("QueueReplaySharer-2-"));

  {
    std::lock_guard lock(mutex);
    answerTwo = true;
  }
  testing::ChildProcess second;
  ASSERT_TRUE(second.start({ZV_OFFLINE_REPLAY_CHILD, home.path().string(), base}, home / "second.log"));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !second.isRunning(); }, 60.0)) << testing::readFile(home / "second.log");
  EXPECT_EQ(count("text=one"), 1);
  EXPECT_EQ(count("text=three"), 1);
  EXPECT_EQ(count("text=two"), 2);
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueueListPath()));
  server.stop();
}

// The loopback service of the child "launches": records each text posted to /share and answers
// 200, holding every answer until release() (or a generous time-out).
class ShareService {
 public:
  ShareService() {
    server_.route("/share", [this](const testing::RecordedRequest& request, testing::FaultServer::Connection& c) {
      EXPECT_EQ(request.method, "POST");
      std::unique_lock lock(mutex_);
      ++received_[request.body];
      released_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; });
      lock.unlock();
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    });
  }
  ~ShareService() {
    release();
    server_.stop();
  }
  bool start(bool held) {
    open_ = !held;
    return server_.start();
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    released_.notify_all();
  }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
  std::map<std::string, int> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  testing::FaultServer server_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool open_ = true;
  std::map<std::string, int> received_;
};

// Two launches on one home flush the same list at the same time: every share goes out once.
TEST_F(SXOfflineQueueTest, TwoProcessesOnOneQueueSendEachShareOnce) {
  ShareService service;
  ASSERT_TRUE(service.start(/*held=*/true));
  constexpr int kShares = 8;
  for (int i = 0; i < kShares; ++i) queue(SXItem::makeText("share " + std::to_string(i)), "QueueReplaySharer");
  testing::ChildProcess first, second;
  ASSERT_TRUE(first.start({ZV_OFFLINE_REPLAY_CHILD, home.path().string(), service.baseURL()}, home / "first.log"));
  ASSERT_TRUE(second.start({ZV_OFFLINE_REPLAY_CHILD, home.path().string(), service.baseURL()}, home / "second.log"));
  // No answer comes before both have read the list and started their replays.
  bool flushed = pumpRunLoopUntil([&] {
    return fileBytes(home / "first.log").find("flushed") != std::string::npos &&
           fileBytes(home / "second.log").find("flushed") != std::string::npos;
  }, 60.0);
  service.release();
  ASSERT_TRUE(flushed) << fileBytes(home / "first.log") << fileBytes(home / "second.log");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !first.isRunning() && !second.isRunning(); }, 60.0))
      << fileBytes(home / "first.log") << fileBytes(home / "second.log");
  auto received = service.received();
  EXPECT_EQ(received.size(), static_cast<std::size_t>(kShares));
  for (const auto& [body, times] : received) EXPECT_EQ(times, 1) << body;
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueueListPath()));
}

// Many queued shares in a launch with few file descriptors: they are replayed a few at a time, and
// all of them go out once.
TEST_F(SXOfflineQueueTest, ManySharesAreReplayedAFewAtATime) {
  ShareService service;
  ASSERT_TRUE(service.start(/*held=*/false));
  constexpr int kShares = 100;
  auto list = MutableArray::make();
  for (int i = 0; i < kShares; ++i) {
    list->addObject(Dictionary::make({{"item", SXItem::makeText("many " + std::to_string(i))->dictionaryRepresentation()},
                                      {"sharer", box("QueueReplaySharer")},
                                      {"uid", box(SXOfflineQueue::makeUid("QueueReplaySharer", SXShareTypeText))},
                                      {"attempts", box(0)}}));
  }
  ASSERT_TRUE(SXOfflineQueue::saveOfflineQueueList(list));
  testing::ChildProcess launch;
  ASSERT_TRUE(launch.start({ZV_OFFLINE_REPLAY_CHILD, home.path().string(), service.baseURL(), "64"}, home / "launch.log"));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !launch.isRunning(); }, 120.0));
  EXPECT_NE(fileBytes(home / "launch.log").find("done"), std::string::npos) << fileBytes(home / "launch.log");
  auto received = service.received();
  EXPECT_EQ(received.size(), static_cast<std::size_t>(kShares));
  for (const auto& [body, times] : received) EXPECT_EQ(times, 1) << body;
  EXPECT_FALSE(std::filesystem::exists(SXOfflineQueue::offlineQueueListPath())) << fileBytes(home / "launch.log");
}

// A launch that exits right after cancelling its replays, while the queue's threads still end
// them, exits cleanly: state those threads touch outlives them. Run many times, since the threads
// and the exit race.
TEST_F(SXOfflineQueueTest, ExitingWhileCancelledReplaysStillEndIsClean) {
  auto list = MutableArray::make();
  for (int i = 0; i < 300; ++i) {
    auto item = SXItem::makeText("exit " + std::to_string(i));
    list->addObject(Dictionary::make({{"item", item->dictionaryRepresentation()},
                                      {"sharer", box("QueueProbeSharer")},
                                      {"uid", box(SXOfflineQueue::makeUid("QueueProbeSharer", SXShareTypeText))},
                                      {"attempts", box(0)}}));
  }
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  constexpr int kRuns = 6;  // each launch is slow under a sanitizer
#else
  constexpr int kRuns = 20;
#endif
  int unclean = 0;
  std::string last;
  for (int run = 0; run < kRuns; ++run) {
    ASSERT_TRUE(SXOfflineQueue::saveOfflineQueueList(list));
    auto end = testing::runChildToEnd(
        {ZV_OFFLINE_REPLAY_CHILD, home.path().string(), "http://127.0.0.1:9", "cancel-and-exit"}, 60.0);
    ASSERT_TRUE(end.started);
    ASSERT_FALSE(end.hung);
    if (end.signal != 0 || end.exitCode != 0) {
      ++unclean;
      last = "run " + std::to_string(run) + ": exit code " + std::to_string(end.exitCode) + ", signal " +
             std::to_string(end.signal);
    }
  }
  EXPECT_EQ(unclean, 0) << last;
}

}  // namespace
}  // namespace zv
