#include "platform/foundation/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace zv {
namespace {

TEST(LogCapture, CapturesEndingOutOfOrderHandTheLogBackWhole) {
  auto outer = std::make_unique<LogCapture>();
  auto inner = std::make_unique<LogCapture>();
  outer.reset();
  // The newer capture keeps hearing the log after the older one ended first.
  logError("while inner lives");
  EXPECT_TRUE(inner->contains("while inner lives"));
  auto innermost = std::make_unique<LogCapture>();
  inner.reset();
  logError("while innermost lives");
  EXPECT_TRUE(innermost->contains("while innermost lives"));
  innermost.reset();
  // With every capture gone the log is back on standard error, not in a capture that ended.
  ::testing::internal::CaptureStderr();
  logError("after every capture");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("[ERROR] after every capture"), std::string::npos);
}

TEST(LogCapture, NestedCapturesRestoreInTurn) {
  LogCapture outer;
  {
    LogCapture inner;
    logError("inner");
    EXPECT_TRUE(inner.contains("inner"));
  }
  logError("outer");
  EXPECT_TRUE(outer.contains("outer"));
  EXPECT_FALSE(outer.contains("inner"));
}

TEST(LogCapture, AnotherThreadMayLogWhileCapturesComeAndGo) {
  // A logging thread can take the installed sink just before the capture that installed it ends
  // and call it afterwards; the sanitizers catch a sink that still points at the ended capture.
  LogCapture outer;
  std::atomic<bool> stop{false};
  std::atomic<int> logged{0};
  std::thread logger([&] {
    while (!stop.load()) {
      logDebug("background line");
      ++logged;
    }
  });
  while (logged.load() == 0) std::this_thread::yield();
  for (int i = 0; i < 2000; ++i) {
    auto capture = std::make_unique<LogCapture>();
    std::this_thread::yield();
  }
  stop = true;
  logger.join();
  const auto before = outer.lines().size();
  logError("outer again");
  EXPECT_EQ(outer.lines().size(), before + 1);
  EXPECT_TRUE(outer.contains("background line"));
}

}  // namespace
}  // namespace zv
