#include "platform/system/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/SystemTestSupport.h"
#include "platform/system/UserDefaultsStore.h"

namespace zv {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

class UserDefaultsTest : public testing::SystemTest {
 protected:
  fs::path standardFile() const { return home() / "Preferences" / "com.mirovast.zerivudor.plist"; }
  Ref<Dictionary> fileContents(const fs::path& file) const {
    Ref<Error> error;
    auto root = dyn<Dictionary>(storage::readPropertyList(file, &error));
    EXPECT_TRUE(root) << file << ": " << describe(error);
    return root;
  }
};

TEST_F(UserDefaultsTest, TypedReadingsOfStoredValues) {
  auto defaults = UserDefaults::standardUserDefaults();
  struct Case {
    std::string key;
    ObjectPtr value;
    bool asBool;
    std::int64_t asInteger;
    double asDouble;
    std::optional<std::string> asString;
  };
  const std::vector<Case> cases = {
      {"yes", box(true), true, 1, 1.0, "1"},
      {"int", box(42), true, 42, 42.0, "42"},
      {"big", box(static_cast<long long>(1) << 40), true, 1LL << 40, 1099511627776.0, "1099511627776"},
      {"double", box(2.75), true, 2, 2.75, "2.75"},
      {"numeric text", box(" 17.5abc"), true, 17, 17.5, " 17.5abc"},
      {"YES text", box("YES"), true, 0, 0.0, "YES"},
      {"word", box("hello"), false, 0, 0.0, "hello"},
      {"data", Data::make("ab"), false, 0, 0.0, std::nullopt},
      {"array", Array::make({box(1)}), false, 0, 0.0, std::nullopt},
      {"missing", nullptr, false, 0, 0.0, std::nullopt},
  };
  for (const auto& c : cases) {
    if (c.value) defaults->setObject(c.value, c.key);
    EXPECT_EQ(defaults->boolForKey(c.key), c.asBool) << c.key;
    EXPECT_EQ(defaults->integerForKey(c.key), c.asInteger) << c.key;
    EXPECT_DOUBLE_EQ(defaults->doubleForKey(c.key), c.asDouble) << c.key;
    EXPECT_FLOAT_EQ(defaults->floatForKey(c.key), static_cast<float>(c.asDouble)) << c.key;
    EXPECT_EQ(defaults->stringForKey(c.key), c.asString) << c.key;
  }
  EXPECT_TRUE(defaults->arrayForKey("array"));
  EXPECT_FALSE(defaults->arrayForKey("word"));
  EXPECT_TRUE(defaults->dataForKey("data"));
  EXPECT_FALSE(defaults->dictionaryForKey("array"));

  defaults->setBool(true, "b");
  defaults->setInteger(-(1LL << 50), "i");
  defaults->setFloat(0.5f, "f");
  defaults->setDouble(1e-9, "d");
  EXPECT_TRUE(dyn<Number>(defaults->objectForKey("b"))->isBoolean());
  EXPECT_EQ(defaults->integerForKey("i"), -(1LL << 50));
  EXPECT_EQ(defaults->floatForKey("f"), 0.5f);
  EXPECT_EQ(defaults->doubleForKey("d"), 1e-9);
}

TEST_F(UserDefaultsTest, StoresOnlyPropertyListValuesAsImmutableCopies) {
  auto defaults = UserDefaults::standardUserDefaults();
  auto list = MutableArray::make({box("a")});
  auto inner = MutableDictionary::make({{"k", box(1)}});
  list->addObject(inner);
  defaults->setObject(list, "list");
  list->addObject(box("b"));
  inner->setObject(box(2), "k");
  auto stored = defaults->arrayForKey("list");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->count(), 2u);
  EXPECT_FALSE(stored->isMutable());
  EXPECT_EQ(intValueOf(dyn<Dictionary>(stored->objectAtIndex(1))->objectForKey("k")), 1);

  for (ObjectPtr bad : std::vector<ObjectPtr>{Null::null(), URL::make("http://x/"), Array::make({Null::null()}),
                                              Dictionary::make({{box(1), box(2)}})}) {
    try {
      defaults->setObject(bad, "bad");
      ADD_FAILURE() << "accepted " << describe(bad);
    } catch (const Exception& e) {
      EXPECT_EQ(e.name(), kInvalidArgumentException);
    }
  }
  EXPECT_FALSE(defaults->objectForKey("bad"));
  defaults->setObject(nullptr, "list");
  EXPECT_FALSE(defaults->objectForKey("list"));
}

TEST_F(UserDefaultsTest, TheRegistrationDomainIsAFallbackThatIsNeverSaved) {
  auto defaults = UserDefaults::standardUserDefaults();
  defaults->registerDefaults(Dictionary::make({{"useFlash", box(true)}, {"breathId", box(2)}}));
  EXPECT_TRUE(defaults->boolForKey("useFlash"));
  defaults->setBool(false, "useFlash");
  EXPECT_FALSE(defaults->boolForKey("useFlash"));
  auto all = defaults->dictionaryRepresentation();
  EXPECT_TRUE(isEqual(all->objectForKey("useFlash"), box(false)));
  EXPECT_TRUE(isEqual(all->objectForKey("breathId"), box(2)));
  defaults->removeObjectForKey("useFlash");
  EXPECT_TRUE(defaults->boolForKey("useFlash"));
  ASSERT_TRUE(defaults->synchronize());
  auto saved = fileContents(standardFile());
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->count(), 0u);
}

TEST_F(UserDefaultsTest, EveryChangeIsAnnouncedAfterTheValueIsInPlace) {
  auto defaults = UserDefaults::standardUserDefaults();
  std::vector<std::int64_t> seen;
  std::vector<ObjectPtr> objects;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kUserDefaultsDidChangeNotification, nullptr, [&](const Ref<Notification>& n) {
        objects.push_back(n->object());
        seen.push_back(UserDefaults::standardUserDefaults()->integerForKey("count"));
      });
  defaults->setInteger(3, "count");
  defaults->setObject(box("7"), "count");
  defaults->removeObjectForKey("count");
  NotificationCenter::defaultCenter()->removeObserver(token);
  EXPECT_EQ(seen, (std::vector<std::int64_t>{3, 7, 0}));
  EXPECT_EQ(objects, (std::vector<ObjectPtr>(3, defaults)));
}

TEST_F(UserDefaultsTest, TwoHandlesShareOneStore) {
  auto standard = UserDefaults::standardUserDefaults();
  auto second = UserDefaults::make();
  EXPECT_NE(standard, second);
  EXPECT_EQ(standard->filePath(), second->filePath());
  second->setObject(box("Relax"), "breathTitle");
  EXPECT_EQ(standard->stringForKey("breathTitle"), "Relax");
  standard->registerDefaults(Dictionary::make({{"eta", box(30)}}));
  EXPECT_EQ(second->integerForKey("eta"), 30);
  standard->removeObjectForKey("breathTitle");
  EXPECT_FALSE(second->objectForKey("breathTitle"));
}

TEST_F(UserDefaultsTest, ValuesPersistInAPrivateFile) {
  {
    auto defaults = UserDefaults::standardUserDefaults();
    defaults->setObject(Dictionary::make({{"nome", box("Ada")}, {"when", Date::make(12.5)}}), "subject");
    defaults->setInteger(5, "RatingPromptUseCount");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_TRUE(defaults->synchronize());  // nothing left to write
  }
  struct stat info {};
  ASSERT_EQ(::stat(standardFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  UserDefaults::resetStandardUserDefaults();
  auto reloaded = UserDefaults::standardUserDefaults();
  EXPECT_EQ(reloaded->integerForKey("RatingPromptUseCount"), 5);
  auto subject = reloaded->dictionaryForKey("subject");
  ASSERT_TRUE(subject);
  EXPECT_EQ(subject->stringForKey("nome"), "Ada");
  EXPECT_TRUE(isEqual(subject->objectForKey("when"), Date::make(12.5)));
}

TEST_F(UserDefaultsTest, ChangesAreSavedWithoutSynchronize) {
  fs::path delayedFile = home() / "delayed.plist";
  auto delayed = UserDefaults::makeWithFile(delayedFile);
  delayed->setBool(true, "delayed");
  // The save comes about half a second later; the deadline only catches one that never comes.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(delayedFile) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(delayedFile));
  auto saved = fileContents(delayedFile);
  ASSERT_TRUE(saved);
  EXPECT_TRUE(boolValueOf(saved->objectForKey("delayed")));

  // The last handle going away saves what is pending.
  fs::path droppedFile = home() / "dropped.plist";
  UserDefaults::makeWithFile(droppedFile)->setInteger(9, "dropped");
  saved = fileContents(droppedFile);
  ASSERT_TRUE(saved);
  EXPECT_EQ(integerValueOf(saved->objectForKey("dropped")), 9);
}

TEST_F(UserDefaultsTest, ACorruptFileIsReportedOnceAndKeptAside) {
  fs::create_directories(standardFile().parent_path());
  const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>truncated";
  writeFile(standardFile(), garbage);
  fs::path aside = standardFile().string() + ".corrupt";
  LogCapture capture;
  auto defaults = UserDefaults::standardUserDefaults();
  EXPECT_FALSE(defaults->objectForKey("truncated"));
  // One message: what was wrong, where the file went, and what the values are now.
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_TRUE(capture.contains(standardFile().string()));
  EXPECT_TRUE(capture.contains("kept as " + aside.string()));
  EXPECT_TRUE(capture.contains("start from the defaults"));
  EXPECT_EQ(readFile(aside), garbage);

  defaults->setInteger(1, "fresh");
  ASSERT_TRUE(defaults->synchronize());
  EXPECT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(readFile(aside), garbage);
  auto saved = fileContents(standardFile());
  ASSERT_TRUE(saved);
  EXPECT_EQ(integerValueOf(saved->objectForKey("fresh")), 1);

  // A second corrupt file, found while saving, does not overwrite the first one kept aside.
  writeFile(standardFile(), "[]");  // well formed, but not a dictionary
  defaults->setInteger(2, "fresh");
  ASSERT_TRUE(defaults->synchronize());
  EXPECT_EQ(readFile(aside), garbage);
  EXPECT_EQ(readFile(standardFile().string() + ".corrupt-1"), "[]");
  EXPECT_EQ(integerValueOf(fileContents(standardFile())->objectForKey("fresh")), 2);
}

// Another process's saves are imitated by writing the file directly: a save must keep what it
// finds there and write back only what this process changed.
TEST_F(UserDefaultsTest, ASaveMergesIntoWhatAnotherProcessSaved) {
  auto defaults = UserDefaults::standardUserDefaults();
  defaults->setObject(box("mine"), "name");
  defaults->setObject(box("old"), "note");
  defaults->setObject(box("gone soon"), "removed");
  ASSERT_TRUE(defaults->synchronize());

  // The other process changes "note" and adds "other" after this one read the file.
  auto disk = dyn<MutableDictionary>(fileContents(standardFile())->mutableCopy());
  disk->setObject(box("theirs"), "note");
  disk->setObject(box(7), "other");
  ASSERT_TRUE(storage::writePropertyList(standardFile(), *disk, storage::PropertyListFormat::Binary));

  defaults->setObject(box("mine again"), "name");
  defaults->removeObjectForKey("removed");
  ASSERT_TRUE(defaults->synchronize());
  auto saved = fileContents(standardFile());
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->stringForKey("name"), "mine again");
  EXPECT_EQ(saved->stringForKey("note"), "theirs");
  EXPECT_EQ(integerValueOf(saved->objectForKey("other")), 7);
  EXPECT_FALSE(saved->objectForKey("removed"));
  // ... and the handle now sees the other process's values.
  EXPECT_EQ(defaults->stringForKey("note"), "theirs");
  EXPECT_EQ(defaults->integerForKey("other"), 7);

  // Without changes of its own, synchronize() reads what the others saved.
  disk = dyn<MutableDictionary>(saved->mutableCopy());
  disk->setObject(box("newer"), "note");
  ASSERT_TRUE(storage::writePropertyList(standardFile(), *disk, storage::PropertyListFormat::Binary));
  EXPECT_EQ(defaults->stringForKey("note"), "theirs");
  ASSERT_TRUE(defaults->synchronize());
  EXPECT_EQ(defaults->stringForKey("note"), "newer");
  // The lock file sits beside the values and stays.
  EXPECT_TRUE(fs::exists(standardFile().string() + ".lock"));
}

TEST_F(UserDefaultsTest, AValueStoredIfAbsentNeverReplacesOneSavedMeanwhile) {
  auto defaults = UserDefaults::standardUserDefaults();
  int announced = 0;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kUserDefaultsDidChangeNotification, nullptr, [&](const Ref<Notification>&) { ++announced; });
  EXPECT_TRUE(defaults->setObjectIfAbsent(box("default"), "choice"));
  EXPECT_TRUE(defaults->setObjectIfAbsent(box("default"), "untouched"));
  EXPECT_FALSE(defaults->setObjectIfAbsent(box("second"), "choice"));  // has one here already
  EXPECT_EQ(defaults->stringForKey("choice"), "default");
  EXPECT_EQ(announced, 2);
  NotificationCenter::defaultCenter()->removeObserver(token);

  // Another process stores the user's choice before this one saves its defaults.
  auto disk = MutableDictionary::make({{"choice", box("user's")}});
  fs::create_directories(standardFile().parent_path());
  ASSERT_TRUE(storage::writePropertyList(standardFile(), *disk, storage::PropertyListFormat::Binary));
  ASSERT_TRUE(defaults->synchronize());
  auto saved = fileContents(standardFile());
  EXPECT_EQ(saved->stringForKey("choice"), "user's");
  EXPECT_EQ(saved->stringForKey("untouched"), "default");
  EXPECT_EQ(defaults->stringForKey("choice"), "user's");

  // A plain set after a set-if-absent is a real change and wins.
  ASSERT_TRUE(defaults->setObjectIfAbsent(box("default"), "later"));
  defaults->setObject(box("chosen"), "later");
  disk = dyn<MutableDictionary>(saved->mutableCopy());
  disk->setObject(box("theirs"), "later");
  ASSERT_TRUE(storage::writePropertyList(standardFile(), *disk, storage::PropertyListFormat::Binary));
  ASSERT_TRUE(defaults->synchronize());
  EXPECT_EQ(fileContents(standardFile())->stringForKey("later"), "chosen");
}

TEST_F(UserDefaultsTest, AFailedSaveIsReportedOnceAndGivenToTheCallerWhoAsks) {
  fs::path blocked = home() / "blocked";
  fs::create_directories(home());
  writeFile(blocked, "a file where a folder should be");
  auto defaults = UserDefaults::makeWithFile(blocked / "values.plist");
  defaults->setInteger(1, "k");
  {
    LogCapture capture;
    EXPECT_FALSE(defaults->synchronize());
    EXPECT_TRUE(capture.contains("values.plist"));
    // The same failure again is not repeated, and a folder that never existed is not said to
    // have disappeared.
    EXPECT_FALSE(defaults->synchronize());
    defaults.reset();  // the last handle's final save fails the same way
    EXPECT_EQ(capture.lines().size(), 1u) << capture.lines().back();
    EXPECT_FALSE(capture.contains("no longer exists"));
  }
  defaults = UserDefaults::makeWithFile(blocked / "values.plist");
  defaults->setInteger(2, "k");
  LogCapture capture;
  Ref<Error> error;
  EXPECT_FALSE(defaults->synchronize(&error));
  ASSERT_NE(error, nullptr);
  EXPECT_NE(error->localizedDescription().find("values.plist"), std::string::npos);
  EXPECT_EQ(error->code(), ENOTDIR);
  EXPECT_TRUE(capture.lines().empty());  // the caller reports it
  EXPECT_EQ(defaults->integerForKey("k"), 2);  // the value stays in memory
}

class UserDefaultsThreads : public UserDefaultsTest {};

TEST_F(UserDefaultsThreads, WritersOnSeveralThreadsLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kWrites = 150;
  std::atomic<int> notifications{0};
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kUserDefaultsDidChangeNotification, nullptr, [&](const Ref<Notification>&) { ++notifications; });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      auto handle = t % 2 ? UserDefaults::make() : UserDefaults::standardUserDefaults();
      for (int i = 0; i < kWrites; ++i) {
        handle->setInteger(i, "thread" + std::to_string(t));
        handle->setObject(box(std::to_string(t)), "shared");
        (void)handle->dictionaryRepresentation();
        if (i % 50 == 0) handle->synchronize();
      }
    });
  }
  for (auto& writer : writers) writer.join();
  NotificationCenter::defaultCenter()->removeObserver(token);
  EXPECT_EQ(notifications.load(), kThreads * kWrites * 2);
  auto defaults = UserDefaults::standardUserDefaults();
  ASSERT_TRUE(defaults->synchronize());
  auto saved = fileContents(standardFile());
  ASSERT_TRUE(saved);
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(integerValueOf(saved->objectForKey("thread" + std::to_string(t))), kWrites - 1) << t;
  EXPECT_EQ(saved->count(), static_cast<std::size_t>(kThreads + 1));
}

// The last handle may go away on another thread, which then runs the final save; a handle opened
// meanwhile must wait for that save rather than start from the file as it was before it.
TEST_F(UserDefaultsThreads, AHandleOpenedWhileTheLastOneClosesSeesEveryValue) {
  constexpr int kRounds = 100;
  fs::path file = home() / "reopened.plist";
  std::mutex mutex;
  std::condition_variable wake;
  Ref<UserDefaults> mailbox;
  bool done = false;
  std::thread dropper([&] {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return mailbox || done; });
      if (!mailbox) return;
      auto last = std::move(mailbox);
      lock.unlock();
      last.reset();
      lock.lock();
    }
  });
  int mismatches = 0;
  for (int round = 0; round < kRounds && mismatches < 5; ++round) {
    auto handle = UserDefaults::makeWithFile(file);
    if (round > 0) {
      bool complete = handle->integerForKey("round") == round - 1 &&
                      handle->stringForKey("text") == std::to_string(round - 1) &&
                      handle->integerForKey("key" + std::to_string((round - 1) % 7)) == round - 1;
      if (!complete) ++mismatches;
      EXPECT_TRUE(complete) << "round " << round << " read round " << handle->integerForKey("round");
    }
    handle->setInteger(round, "round");
    handle->setObject(box(std::to_string(round)), "text");
    handle->setInteger(round, "key" + std::to_string(round % 7));
    // The other thread holds the last handle; wait until it has let go, so that its final save
    // is under way while this thread opens the file again.
    auto last = UserDefaults::makeWithFile(file);
    std::weak_ptr<UserDefaults> watch = last;
    handle.reset();
    {
      std::lock_guard lock(mutex);
      mailbox = std::move(last);
    }
    wake.notify_one();
    while (!watch.expired()) std::this_thread::yield();
  }
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  wake.notify_one();
  dropper.join();
}

// Stores of files nobody holds any more leave nothing behind.
TEST_F(UserDefaultsTest, FilesNoLongerHeldAreForgotten) {
  auto before = UserDefaultsStore::openFileCount();
  for (int n = 0; n < 40; ++n) {
    auto defaults = UserDefaults::makeWithFile(home() / ("file" + std::to_string(n) + ".plist"));
    if (n % 2) defaults->setInteger(n, "n");
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (UserDefaultsStore::openFileCount() > before && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(UserDefaultsStore::openFileCount(), before);
  EXPECT_EQ(UserDefaults::makeWithFile(home() / "file39.plist")->integerForKey("n"), 39);
}

}  // namespace
}  // namespace zv
