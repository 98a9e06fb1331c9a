#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zv::storage
