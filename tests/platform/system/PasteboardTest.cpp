#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/Log.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Pasteboard.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

class PasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override { ApplicationEnvironment::shared().setSharedRoot(root_.path()); }
  void TearDown() override { ApplicationEnvironment::shared().reset(); }

  std::filesystem::path folder() const { return root_.path() / "Pasteboards"; }

  // Runs `body` in a child process and answers its exit status (0 when body returned true).
  static int inChildProcess(const std::function<bool()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
      bool ok = false;
      try {
        ok = body();
      } catch (...) {
      }
      ::_exit(ok ? 0 : 1);
    }
    return child;
  }
  static bool succeeded(pid_t child) {
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  zv::testing::TemporaryDirectory root_;
};

TEST_F(PasteboardTest, NamedPasteboardLifeCycle) {
  EXPECT_EQ(Pasteboard::pasteboardWithName("org.deviceudid-0", false), nullptr);
  EXPECT_EQ(Pasteboard::pasteboardWithName("", true), nullptr);
  auto pasteboard = Pasteboard::pasteboardWithName("org.deviceudid-0", true);
  ASSERT_TRUE(pasteboard);
  EXPECT_EQ(Pasteboard::pasteboardWithName("org.deviceudid-0", false), pasteboard);
  EXPECT_FALSE(pasteboard->isPersistent());
  EXPECT_EQ(pasteboard->numberOfItems(), 0u);

  pasteboard->setData(*Data::make("archive"), "public.deviceudid");
  pasteboard->setPersistent(true);
  EXPECT_TRUE(pasteboard->isPersistent());
  EXPECT_EQ(pasteboard->dataForPasteboardType("public.deviceudid")->view(), "archive");
  EXPECT_EQ(pasteboard->dataForPasteboardType("public.other"), nullptr);
  EXPECT_EQ(pasteboard->numberOfItems(), 1u);
  std::int64_t before = pasteboard->changeCount();
  pasteboard->setData(*Data::make("newer"), "public.deviceudid");
  EXPECT_EQ(pasteboard->changeCount(), before + 1);
  EXPECT_EQ(pasteboard->dataForPasteboardType("public.deviceudid")->view(), "newer");

  // Another process sees the persistent pasteboard without creating it, and its changes come back.
  pid_t child = inChildProcess([] {
    auto seen = Pasteboard::pasteboardWithName("org.deviceudid-0", false);
    if (!seen || seen->dataForPasteboardType("public.deviceudid")->view() != "newer") return false;
    seen->setData(*Data::make("from child"), "public.deviceudid");
    return true;
  });
  ASSERT_TRUE(succeeded(child));
  EXPECT_EQ(pasteboard->dataForPasteboardType("public.deviceudid")->view(), "from child");

  Pasteboard::removePasteboardWithName("org.deviceudid-0");
  EXPECT_EQ(Pasteboard::pasteboardWithName("org.deviceudid-0", false), nullptr);
  EXPECT_EQ(pasteboard->numberOfItems(), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder() / "org.deviceudid-0.pasteboard"));
}

TEST_F(PasteboardTest, TwoProcessesAddingAtOnceLoseNothing) {
  auto pasteboard = Pasteboard::pasteboardWithName("shared board", true);
  pasteboard->setPersistent(true);
  constexpr int kAdds = 60;
  auto writer = [&](const std::string& type) {
    return inChildProcess([type] {
      auto board = Pasteboard::pasteboardWithName("shared board", false);
      for (int i = 0; i < kAdds; ++i)
        board->addItems(*Array::make({Dictionary::make({{type, Data::make(std::to_string(i))}})}));
      return true;
    });
  };
  pid_t first = writer("public.first");
  pid_t second = writer("public.second");
  ASSERT_TRUE(succeeded(first));
  ASSERT_TRUE(succeeded(second));
  auto items = pasteboard->items();
  ASSERT_EQ(items->count(), 2u * kAdds);
  int firsts = 0, seconds = 0, lastFirst = -1;
  for (const ObjectPtr& item : *items) {
    auto entry = dyn<Dictionary>(item);
    if (auto value = entry->objectForKeyAs<Data>("public.first")) {
      int index = std::stoi(std::string(value->view()));
      EXPECT_EQ(index, lastFirst + 1) << "one writer's items came out of order";
      lastFirst = index;
      ++firsts;
    } else if (entry->objectForKey("public.second")) {
      ++seconds;
    }
  }
  EXPECT_EQ(firsts, kAdds);
  EXPECT_EQ(seconds, kAdds);
  EXPECT_EQ(pasteboard->changeCount(), 1 + 2 * kAdds);
}

TEST_F(PasteboardTest, GeneralPasteboardCarriesText) {
  auto general = Pasteboard::generalPasteboard();
  EXPECT_EQ(general, Pasteboard::generalPasteboard());
  general->setString("caf\xC3\xA9");
  EXPECT_EQ(general->string(), "caf\xC3\xA9");
  EXPECT_EQ(general->dataForPasteboardType(kPasteboardTypeUTF8PlainText)->view(), "caf\xC3\xA9");
  general->setData(*Data::make("plain"), kPasteboardTypeUTF8PlainText);
  EXPECT_EQ(general->string(), "plain");
  general->setData(*Data::make("\xFF"), kPasteboardTypeUTF8PlainText);
  EXPECT_EQ(general->string(), std::nullopt);
  general->setPersistent(true);
  EXPECT_FALSE(general->isPersistent());
  EXPECT_THROW(general->setItems(*Array::make({box("not a dictionary")})), Exception);
  auto numericKey = MutableDictionary::make();
  numericKey->setObject(box(1), ObjectPtr(box(2)));
  EXPECT_THROW(general->addItems(*Array::make({numericKey})), Exception);
  EXPECT_FALSE(std::filesystem::exists(folder()));
}

TEST_F(PasteboardTest, AnUnreadableFileReadsAsEmptyAndIsReplacedByTheNextChange) {
  auto pasteboard = Pasteboard::pasteboardWithName("a/../b", true);
  pasteboard->setString("x");
  pasteboard->setPersistent(true);
  // Every name stays a file inside the folder.
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder()))
    if (entry.path().filename() != ".lock") files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  zv::testing::writeFile(files[0], "bplist00 truncated");
  {
    LogCapture log;
    EXPECT_EQ(pasteboard->numberOfItems(), 0u);
    EXPECT_TRUE(log.contains(files[0].string()));
  }
  pasteboard->setString("y");
  EXPECT_EQ(pasteboard->string(), "y");
  // Making it transient takes the items back from the file and removes it.
  pasteboard->setPersistent(false);
  EXPECT_FALSE(std::filesystem::exists(files[0]));
  EXPECT_EQ(pasteboard->string(), "y");
  Pasteboard::removePasteboardWithName("a/../b");
}

TEST_F(PasteboardTest, ChangesThatCannotBeKeptSaySoAndLeaveTheContentsAsTheyWere) {
  auto pasteboard = Pasteboard::pasteboardWithName("kept", true);
  ASSERT_TRUE(pasteboard->setPersistent(true));
  ASSERT_TRUE(pasteboard->setString("before"));
  // A file that cannot grow.
  EXPECT_TRUE(zv::testing::runInChildWithFileSizeLimit(16, [&] {
    LogCapture log;
    return !pasteboard->setString(std::string(100, 'x')) && pasteboard->string() == "before";
  }));
  // A lock that cannot be taken: neither a change nor making another pasteboard persistent.
  std::filesystem::remove(folder() / ".lock");
  std::filesystem::create_directory(folder() / ".lock");
  auto transient = Pasteboard::pasteboardWithName("transient", true);
  LogCapture log;
  EXPECT_FALSE(pasteboard->setData(*Data::make("after"), kPasteboardTypeUTF8PlainText));
  EXPECT_FALSE(pasteboard->addItems(*Array::make({Dictionary::make({{"public.other", box("more")}})})));
  EXPECT_EQ(pasteboard->string(), "before");
  EXPECT_FALSE(transient->setPersistent(true));
  EXPECT_FALSE(transient->isPersistent());
  // A pasteboard in memory always keeps its change.
  EXPECT_TRUE(transient->setString("in memory"));
  EXPECT_EQ(transient->string(), "in memory");
}

// What another process stores under a name: the file of a pasteboard it made persistent.
TEST_F(PasteboardTest, AFileWrittenElsewhereIsNeverHiddenOrBlankedByABoardThatHeldNothing) {
  auto theirs = Pasteboard::pasteboardWithName("theirs", true);
  ASSERT_TRUE(theirs->setPersistent(true));
  ASSERT_TRUE(theirs->setString("their record"));
  auto storeElsewhere = [&](const char* name) {
    std::filesystem::copy_file(folder() / "theirs.pasteboard", folder() / (std::string(name) + ".pasteboard"),
                               std::filesystem::copy_options::overwrite_existing);
  };

  // A board that failed to become persistent is no longer what its name finds: a file written
  // under the name later is read.
  std::filesystem::rename(folder() / ".lock", folder() / ".lock-aside");
  std::filesystem::create_directory(folder() / ".lock");
  auto failed = Pasteboard::pasteboardWithName("slot", true);
  {
    LogCapture log;
    ASSERT_FALSE(failed->setPersistent(true));
  }
  std::filesystem::remove(folder() / ".lock");
  std::filesystem::rename(folder() / ".lock-aside", folder() / ".lock");
  storeElsewhere("slot");
  auto found = Pasteboard::pasteboardWithName("slot", false);
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->isPersistent());
  EXPECT_EQ(found->string(), "their record");
  EXPECT_FALSE(failed->isPersistent());

  // A board that never held anything, made persistent once a file appeared under its name, takes
  // the file as it is; one that held items writes them.
  auto untouched = Pasteboard::pasteboardWithName("late", true);
  auto written = Pasteboard::pasteboardWithName("late written", true);
  ASSERT_TRUE(written->setString("ours"));
  storeElsewhere("late");
  storeElsewhere("late written");
  ASSERT_TRUE(untouched->setPersistent(true));
  EXPECT_EQ(untouched->string(), "their record");
  ASSERT_TRUE(written->setPersistent(true));
  EXPECT_EQ(written->string(), "ours");
}

// A change decided on what the file holds when it is made: a declined one leaves it as it was.
TEST_F(PasteboardTest, AChangeSeesTheFileAsItIsAndMayBeDeclined) {
  auto theirs = Pasteboard::pasteboardWithName("theirs", true);
  ASSERT_TRUE(theirs->setPersistent(true));
  ASSERT_TRUE(theirs->setString("their record"));
  auto untouched = Pasteboard::pasteboardWithName("late", true);
  ASSERT_TRUE(untouched->setPersistent(true));
  std::filesystem::copy_file(folder() / "theirs.pasteboard", folder() / "late.pasteboard",
                             std::filesystem::copy_options::overwrite_existing);
  std::int64_t count = untouched->changeCount();
  std::size_t seen = 99;
  EXPECT_FALSE(untouched->changeItems([&](std::vector<ObjectPtr>& items) {
    seen = items.size();
    items.clear();
    return false;
  }));
  EXPECT_EQ(seen, 1u);
  EXPECT_EQ(untouched->changeCount(), count);
  EXPECT_EQ(untouched->string(), "their record");
  EXPECT_TRUE(untouched->changeItems([](std::vector<ObjectPtr>& items) {
    items.push_back(Dictionary::make({{"public.other", box("more")}}));
    return true;
  }));
  EXPECT_EQ(untouched->numberOfItems(), 2u);
  EXPECT_THROW(untouched->changeItems([](std::vector<ObjectPtr>& items) {
    items.push_back(box("not a dictionary"));
    return true;
  }),
               Exception);
  EXPECT_EQ(untouched->numberOfItems(), 2u);
}

}  // namespace
}  // namespace zv
