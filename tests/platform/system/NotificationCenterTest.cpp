#include "platform/system/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Values.h"

namespace zv {
namespace {

class Observer : public Object {};

TEST(NotificationCenter, NameAndObjectFiltersSelectTheObservers) {
  auto center = NotificationCenter::make();
  auto sender = std::make_shared<Observer>();
  auto stranger = std::make_shared<Observer>();
  std::vector<std::string> calls;
  auto record = [&](std::string who) { return [&calls, who](const Ref<Notification>&) { calls.push_back(who); }; };
  center->addObserverForName("", nullptr, record("any"));
  center->addObserverForName("A", nullptr, record("A"));
  center->addObserverForName("", sender, record("sender"));
  center->addObserverForName("A", sender, record("A+sender"));

  struct Case {
    std::string name;
    ObjectPtr object;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"A", nullptr, {"any", "A"}},
      {"A", sender, {"any", "A", "sender", "A+sender"}},
      {"B", sender, {"any", "sender"}},
      {"B", stranger, {"any"}},
      {"A", stranger, {"any", "A"}},
  };
  for (const auto& c : cases) {
    calls.clear();
    center->postNotificationName(c.name, c.object);
    EXPECT_EQ(calls, c.expected) << c.name << " from " << (c.object == sender ? "sender" : "other");
  }
}

TEST(NotificationCenter, CarriesNameObjectAndUserInfo) {
  auto center = NotificationCenter::make();
  auto sender = std::make_shared<Observer>();
  Ref<Notification> received;
  center->addObserverForName("kAppSettingChanged", nullptr, [&](const Ref<Notification>& n) { received = n; });
  center->postNotificationName("kAppSettingChanged", sender, Dictionary::make({{"useFlash", box(true)}}));
  ASSERT_TRUE(received);
  EXPECT_EQ(received->name(), "kAppSettingChanged");
  EXPECT_EQ(received->object(), sender);
  ASSERT_TRUE(received->userInfo());
  EXPECT_TRUE(isEqual(received->userInfo()->objectForKey("useFlash"), box(true)));
}

TEST(NotificationCenter, RemovalByTokenAndByObserverWithFilters) {
  auto center = NotificationCenter::make();
  auto observer = std::make_shared<Observer>();
  auto sender = std::make_shared<Observer>();
  int a = 0, b = 0, token = 0, fromSender = 0;
  center->addObserver(observer, "A", nullptr, [&](const Ref<Notification>&) { ++a; });
  center->addObserver(observer, "B", nullptr, [&](const Ref<Notification>&) { ++b; });
  center->addObserver(observer, "B", sender, [&](const Ref<Notification>&) { ++fromSender; });
  auto t = center->addObserverForName("A", nullptr, [&](const Ref<Notification>&) { ++token; });

  center->removeObserver(t);
  center->removeObserver(observer, "B", sender);  // only the filtered one
  center->postNotificationName("A", nullptr);
  center->postNotificationName("B", sender);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(fromSender, 0);
  EXPECT_EQ(token, 0);

  center->removeObserver(observer, "A", nullptr);
  center->postNotificationName("A", nullptr);
  EXPECT_EQ(a, 1);
  center->removeObserver(observer);
  center->postNotificationName("B", nullptr);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(center->observerCount(), 0u);
}

TEST(NotificationCenter, ObserversMayRemoveThemselvesAndOthersDuringAPost) {
  auto center = NotificationCenter::make();
  std::vector<std::string> calls;
  ObjectPtr first, second, third;
  first = center->addObserverForName("N", nullptr, [&](const Ref<Notification>&) {
    calls.push_back("first");
    center->removeObserver(first);
    center->removeObserver(third);
  });
  second = center->addObserverForName("N", nullptr, [&](const Ref<Notification>&) {
    calls.push_back("second");
    // Added during the post: heard from the next post on.
    center->addObserverForName("N", nullptr, [&](const Ref<Notification>&) { calls.push_back("late"); });
  });
  third = center->addObserverForName("N", nullptr, [&](const Ref<Notification>&) { calls.push_back("third"); });

  center->postNotificationName("N");
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
  calls.clear();
  center->removeObserver(second);
  center->postNotificationName("N");
  EXPECT_EQ(calls, (std::vector<std::string>{"late"}));
}

TEST(NotificationCenter, DeadObserversAndFilterObjectsAreSkippedAndDropped) {
  auto center = NotificationCenter::make();
  int calls = 0;
  auto observer = std::make_shared<Observer>();
  auto sender = std::make_shared<Observer>();
  center->addObserver(observer, "N", nullptr, [&](const Ref<Notification>&) { ++calls; });
  center->addObserverForName("N", sender, [&](const Ref<Notification>&) { ++calls; });
  center->addObserverForName("N", nullptr, [&](const Ref<Notification>&) { ++calls; });
  observer.reset();
  sender.reset();
  center->postNotificationName("N");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(center->observerCount(), 1u);
}

TEST(NotificationCenter, TheObserverStaysAliveWhileItsCallbackRuns) {
  auto center = NotificationCenter::make();
  auto observer = std::make_shared<Observer>();
  std::weak_ptr<Object> watch = observer;
  bool aliveInside = false;
  center->addObserver(observer, "N", nullptr, [&](const Ref<Notification>&) {
    observer.reset();  // the owner lets go in the middle of the delivery
    aliveInside = !watch.expired();
  });
  center->postNotificationName("N");
  EXPECT_TRUE(aliveInside);
  EXPECT_TRUE(watch.expired());
}

TEST(NotificationCenterThreads, PostsFromSeveralThreadsReachObserversOnThePostingThread) {
  auto center = NotificationCenter::make();
  constexpr int kThreads = 6;
  constexpr int kPosts = 300;
  std::atomic<int> delivered{0};
  std::atomic<int> wrongThread{0};
  center->addObserverForName("N", nullptr, [&](const Ref<Notification>& n) {
    auto poster = dyn<Number>(n->userInfo()->objectForKey("thread"));
    if (!poster || poster->unsignedLongLongValue() != std::hash<std::thread::id>{}(std::this_thread::get_id()))
      ++wrongThread;
    ++delivered;
  });
  std::atomic<bool> stop{false};
  // Churn: another thread keeps adding and removing observers while the posts run.
  std::thread churn([&] {
    while (!stop) {
      auto token = center->addObserverForName("N", nullptr, [](const Ref<Notification>&) {});
      center->removeObserver(token);
    }
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&] {
      auto info = Dictionary::make(
          {{"thread", box(static_cast<unsigned long long>(std::hash<std::thread::id>{}(std::this_thread::get_id())))}});
      for (int i = 0; i < kPosts; ++i) center->postNotificationName("N", nullptr, info);
    });
  }
  for (auto& poster : posters) poster.join();
  stop = true;
  churn.join();
  EXPECT_EQ(delivered.load(), kThreads * kPosts);
  EXPECT_EQ(wrongThread.load(), 0);
  EXPECT_EQ(center->observerCount(), 1u);
}

}  // namespace
}  // namespace zv
