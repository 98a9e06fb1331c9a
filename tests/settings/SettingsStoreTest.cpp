#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zv
