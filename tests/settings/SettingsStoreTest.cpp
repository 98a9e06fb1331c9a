#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

#include "settings/PrefsSettingsStoreFile.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

class BareStore : public PrefsAbstractSettingsStore {};

TEST(PrefsAbstractSettingsStoreTest, PrimitivesMustBeOverridden) {
  BareStore store;
  try {
    store.boolForKey("k");
    FAIL() << "expected an exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "Unimplemented");
    EXPECT_EQ(e.reason(), "objectForKey: must be implemented in subclasses of PrefsAbstractSettingsStore");
  }
  try {
    store.setInteger(3, "k");
    FAIL() << "expected an exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.reason(), "setObject:forKey: must be implemented in subclasses of PrefsAbstractSettingsStore");
  }
  EXPECT_FALSE(store.synchronize());
}

TEST(PrefsSettingsStoreFileTest, TypedAccessWrapsNumbersAndReadsTextAsNumbers) {
  testing::TemporaryDirectory dir;
  PrefsSettingsStoreFile store((dir / "prefs.plist").string());
  store.setBool(true, "b");
  store.setFloat(1.5f, "f");
  store.setInteger(-7, "i");
  store.setDouble(2.25, "d");
  store.setObject(box("42"), "text");
  EXPECT_TRUE(store.boolForKey("b"));
  EXPECT_FLOAT_EQ(store.floatForKey("f"), 1.5f);
  EXPECT_EQ(store.integerForKey("i"), -7);
  EXPECT_DOUBLE_EQ(store.doubleForKey("d"), 2.25);
  EXPECT_EQ(store.integerForKey("text"), 42);
  EXPECT_EQ(store.integerForKey("missing"), 0);
  EXPECT_TRUE(dyn<Number>(store.objectForKey("b"))->isBoolean());
  // Nothing reaches the disk before synchronize.
  EXPECT_FALSE(std::filesystem::exists(dir / "prefs.plist"));
}

TEST(PrefsSettingsStoreFileTest, SynchronizeWritesAFileTheNextStoreReads) {
  testing::TemporaryDirectory dir;
  std::string path = (dir / "prefs.plist").string();
  {
    PrefsSettingsStoreFile store(path);
    store.setObject(box("value"), "key");
    ASSERT_TRUE(store.synchronize());
  }
  PrefsSettingsStoreFile again(path);
  EXPECT_EQ(stringValueOf(again.objectForKey("key")), "value");
}

TEST(PrefsSettingsStoreFileTest, AFailedWriteKeepsValuesAndThePreviousFile) {
  testing::TemporaryDirectory dir;
  std::string path = (dir / "prefs.plist").string();
  PrefsSettingsStoreFile store(path);
  store.setObject(box("first"), "key");
  ASSERT_TRUE(store.synchronize());
  // A folder where the file should go makes the rename fail.
  store.setFilePath((dir / "blocked").string());
  std::filesystem::create_directories(dir / "blocked" / "inside");
  store.setObject(box("second"), "key");
  EXPECT_FALSE(store.synchronize());
  EXPECT_EQ(stringValueOf(store.objectForKey("key")), "second");
  EXPECT_EQ(stringValueOf(PrefsSettingsStoreFile(path).objectForKey("key")), "first");
}

// Takes every free descriptor of the process until released, as a busy process may.
class DescriptorsTaken {
 public:
  DescriptorsTaken() {
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorsTaken() { release(); }
  void release() {
    for (int fd : taken_) ::close(fd);
    taken_.clear();
  }

 private:
  std::vector<int> taken_;
};

// A settings file that could not be read for a moment is not an empty one: a save never writes
// over it; once it can be read, the save keeps its values beside the new ones.
TEST(PrefsSettingsStoreFileTest, AFileThatCouldNotBeReadIsNeverSavedOver) {
  testing::TemporaryDirectory dir;
  std::string path = (dir / "prefs.plist").string();
  {
    PrefsSettingsStoreFile store(path);
    store.setObject(box("kept"), "stored");
    store.setObject(box("old"), "changed");
    store.setObject(box("gone soon"), "removed");
    ASSERT_TRUE(store.synchronize());
  }
  // In a child whose descriptor table is small, so filling it is quick.
  EXPECT_TRUE(testing::runInChildProcesses(1, [&](int) {
    struct rlimit limit = {64, 64};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::unique_ptr<PrefsSettingsStoreFile> store;
    {
      DescriptorsTaken full;
      store = std::make_unique<PrefsSettingsStoreFile>(path);
      store->setObject(box("new"), "changed");
      store->setObject(nullptr, "removed");
      store->setObject(box("added"), "added");
      if (store->synchronize()) return false;  // still nothing free
    }
    if (!store->synchronize()) return false;
    PrefsSettingsStoreFile after(path);
    return stringValueOf(after.objectForKey("stored")) == "kept" &&
           stringValueOf(after.objectForKey("changed")) == "new" && !after.objectForKey("removed") &&
           stringValueOf(after.objectForKey("added")) == "added" &&
           stringValueOf(store->objectForKey("stored")) == "kept";
  }));
  PrefsSettingsStoreFile after(path);
  EXPECT_EQ(stringValueOf(after.objectForKey("stored")), "kept");
  EXPECT_EQ(stringValueOf(after.objectForKey("changed")), "new");
}

}  // namespace
}  // namespace zv
