#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/storage/AtomicFile.h"
#include "support/TestSupport.h"

namespace zv::storage {
namespace {

std::size_t entriesIn(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(AtomicFileTest, AWriteThatFailsMidwayLeavesTheOldFile) {
  zv::testing::TemporaryDirectory folder;
  auto path = folder / "value";
  ASSERT_EQ(writeFileAtomically(path, "old contents"), nullptr);

  // The child may write at most 1 KiB per file, so the 64 KiB write fails part way through.
  EXPECT_TRUE(zv::testing::runInChildWithFileSizeLimit(
      1024, [&] { return writeFileAtomically(path, std::string(65536, 'x')) != nullptr; }))
      << "the write should have failed";
  EXPECT_EQ(zv::testing::readFile(path), "old contents");
  EXPECT_EQ(entriesIn(folder.path()), 1u) << "the temporary file was left behind";
}

TEST(AtomicFileTest, AFailingRenameLeavesTheTargetAndNoTemporaryFile) {
  zv::testing::TemporaryDirectory folder;
  auto path = folder / "occupied";
  std::filesystem::create_directories(path / "inside");
  Ref<Error> error = writeFileAtomically(path, "bytes");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kPOSIXErrorDomain);
  EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
  EXPECT_EQ(entriesIn(folder.path()), 1u);
}

TEST(AtomicFileTest, WritersAtOnceEachLeaveAWholeFileAndNoTemporaries) {
  zv::testing::TemporaryDirectory folder;
  auto shared = folder / "shared";
  std::vector<std::thread> writers;
  std::vector<Ref<Error>> failures(8);
  for (std::size_t i = 0; i < failures.size(); ++i) {
    writers.emplace_back([&, i] {
      std::string contents(4096, static_cast<char>('a' + i));
      for (int round = 0; round < 25 && !failures[i]; ++round) {
        failures[i] = writeFileAtomically(shared, contents);
        if (!failures[i]) failures[i] = writeFileAtomically(folder / ("own" + std::to_string(i)), contents);
      }
    });
  }
  for (auto& writer : writers) writer.join();
  for (const auto& failure : failures) EXPECT_EQ(failure, nullptr);

  std::string last = zv::testing::readFile(shared);
  ASSERT_EQ(last.size(), 4096u);
  EXPECT_EQ(last, std::string(4096, last[0])) << "two writers' bytes were mixed";
  EXPECT_EQ(entriesIn(folder.path()), failures.size() + 1) << "temporary files were left behind";
}

TEST(AtomicFileTest, TheFileGetsTheAskedPermissionsWhateverTheUmask) {
  zv::testing::TemporaryDirectory folder;
  mode_t previous = ::umask(0);
  Ref<Error> error = writeFileAtomically(folder / "secret", "s", std::filesystem::perms::owner_read |
                                                                     std::filesystem::perms::owner_write);
  ::umask(previous);
  ASSERT_EQ(error, nullptr);
  EXPECT_EQ(std::filesystem::status(folder / "secret").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace zv::storage
