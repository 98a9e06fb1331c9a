#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <future>
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

TEST(AtomicFileTest, ANewFileIsNeverWrittenOverAnExistingOne) {
  zv::testing::TemporaryDirectory folder;
  auto path = folder / "taken";
  ASSERT_EQ(writeNewFileAtomically(path, "first"), nullptr);
  Ref<Error> error = writeNewFileAtomically(path, "second");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), EEXIST);
  EXPECT_EQ(zv::testing::readFile(path), "first");
  EXPECT_EQ(entriesIn(folder.path()), 1u) << "the temporary file was left behind";
}

// The ways a new file may be put in place, each tried as on a file system that refuses the ones
// before it.
struct Placement {
  const char* name;
  bool hardLinksFail;
  bool noReplaceRenameFails;
};
constexpr Placement kHardLink{"hard link", false, false};
constexpr Placement kNoReplaceRename{"rename without replacing", true, false};
constexpr Placement kInPlace{"written in place", true, true};

class PlacementScope {
 public:
  explicit PlacementScope(const Placement& placement) {
    setHardLinksFailForTesting(placement.hardLinksFail);
    setNoReplaceRenameFailsForTesting(placement.noReplaceRenameFails);
  }
  ~PlacementScope() {
    setHardLinksFailForTesting(false);
    setNoReplaceRenameFailsForTesting(false);
  }
  PlacementScope(const PlacementScope&) = delete;
  PlacementScope& operator=(const PlacementScope&) = delete;
};

// Whichever way the file is put in place, it never replaces one, gets its permissions, and
// nothing else is left in the folder.
TEST(AtomicFileTest, ANewFileIsPlacedWithoutReplacingWhateverTheFileSystemRefuses) {
  for (const Placement& placement : {kHardLink, kNoReplaceRename, kInPlace}) {
    SCOPED_TRACE(placement.name);
    zv::testing::TemporaryDirectory folder;
    auto path = folder / "photo";
    Ref<Error> first, second;
    {
      PlacementScope scope(placement);
      first = writeNewFileAtomically(path, "first", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
      second = writeNewFileAtomically(path, "second");
    }
    ASSERT_EQ(first, nullptr) << first->localizedDescription();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->code(), EEXIST);
    EXPECT_EQ(zv::testing::readFile(path), "first");
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(entriesIn(folder.path()), 1u) << "the temporary file was left behind";
  }
}

// How a traced writer ended.
enum class Traced { Killed, Finished, TracingRefused };

// Runs `write` in a forked child that stops at every system call, and kills it at the first stop
// at which `path` exists: the writer is cut off the moment the name appears, as by a crash or a
// power cut, whatever the machine's speed.
Traced killWhenTheNameAppears(const std::filesystem::path& path, const std::function<void()>& write) {
  pid_t child = ::fork();
  if (child < 0) return Traced::TracingRefused;
  if (child == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(77);
    ::raise(SIGSTOP);
    write();
    ::_exit(0);
  }
  int status = 0;
  // A child that could not be traced has ended already (and is reaped here).
  if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) return Traced::TracingRefused;
  const std::uintptr_t options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL;
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr, reinterpret_cast<void*>(options));
  std::uintptr_t deliver = 0;
  for (;;) {
    if (::ptrace(PTRACE_SYSCALL, child, nullptr, reinterpret_cast<void*>(deliver)) != 0) break;
    deliver = 0;
    if (::waitpid(child, &status, 0) != child || WIFEXITED(status) || WIFSIGNALED(status)) return Traced::Finished;
    if (!WIFSTOPPED(status)) continue;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      deliver = static_cast<std::uintptr_t>(WSTOPSIG(status));  // a signal meant for the child: pass it on
      continue;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) break;
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return Traced::Killed;
}

// A writer killed the moment the final name appears leaves the whole file under it, also where
// the file system has no hard links.
TEST(AtomicFileTest, AWriterKilledAsTheNameAppearsLeavesTheWholeFile) {
  const std::string contents(1 << 20, 'p');
  for (const Placement& placement : {kHardLink, kNoReplaceRename}) {
    SCOPED_TRACE(placement.name);
    zv::testing::TemporaryDirectory folder;
    auto path = folder / "IMG_0001.PNG";
    Traced ended;
    {
      PlacementScope scope(placement);
      ended = killWhenTheNameAppears(path, [&] { writeNewFileAtomically(path, contents); });
    }
    if (ended == Traced::TracingRefused) GTEST_SKIP() << "this machine does not let a test trace its child";
    ASSERT_EQ(ended, Traced::Killed) << "the writer ended without the name appearing";
    EXPECT_EQ(zv::testing::readFile(path).size(), contents.size()) << "a partial file stands under the final name";
  }
}

TEST(AtomicFileTest, MissingFoldersAreMadePrivateAndExistingOnesKeepTheirMode) {
  zv::testing::TemporaryDirectory folder;
  auto open = folder / "open";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms(0755), std::filesystem::perm_options::replace);
  mode_t previous = ::umask(022);
  Ref<Error> error = writeFileAtomically(open / "made" / "inner" / "file", "bytes");
  ::umask(previous);
  ASSERT_EQ(error, nullptr);
  EXPECT_EQ(std::filesystem::status(open).permissions(), std::filesystem::perms(0755));
  for (const auto& made : {open / "made", open / "made" / "inner"})
    EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms::owner_all) << made;

  // A plain file where a folder should be is an error, not a folder.
  zv::testing::writeFile(folder / "plain", "x");
  std::error_code failure;
  EXPECT_FALSE(createPrivateFolders(folder / "plain" / "below", failure));
  EXPECT_TRUE(failure);
  EXPECT_FALSE(createPrivateFolders(folder / "plain", failure));
  EXPECT_EQ(failure, std::make_error_code(std::errc::not_a_directory));
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

// The reader takes regular files only, decided on the descriptor it opened: nothing else may
// make it wait for a writer or read without end.
TEST(AtomicFileTest, TheReaderRefusesAnythingButARegularFileWithoutBlocking) {
  zv::testing::TemporaryDirectory folder;
  auto pipe = folder / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  auto pending = std::async(std::launch::async, [&] {
    Ref<Error> error;
    bool refused = !readFile(pipe, &error) && error && error->code() == EINVAL &&
                   error->localizedDescription().find("named pipe") != std::string::npos;
    bool streamRefused = openFileForReading(pipe) < 0;
    return refused && streamRefused;
  });
  if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "reading a named pipe waits for a writer";
    // Let the blocked reader go, so the test can end.
    for (int round = 0; round < 2; ++round) ::close(::open(pipe.c_str(), O_WRONLY));
  }
  EXPECT_TRUE(pending.get());

  Ref<Error> error;
  EXPECT_FALSE(readFile(folder.path(), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), EISDIR);

  auto device = folder / "zero";
  std::filesystem::create_symlink("/dev/zero", device);
  error = nullptr;
  EXPECT_FALSE(readFile(device, &error, 1 << 20));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), EINVAL);
  EXPECT_NE(error->localizedDescription().find("character device"), std::string::npos);

  error = nullptr;
  EXPECT_FALSE(readFile(folder / "missing", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), ENOENT) << "callers tell a missing file by ENOENT";
}

TEST(AtomicFileTest, TheReaderTakesAFileUpToItsLimitAndRefusesALargerOne) {
  zv::testing::TemporaryDirectory folder;
  auto path = folder / "file";
  zv::testing::writeFile(path, std::string(100000, 'x'));
  EXPECT_EQ(readFile(path, nullptr, 100000).value_or("").size(), 100000u);
  Ref<Error> error;
  EXPECT_FALSE(readFile(path, &error, 99999));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), EFBIG);

  int fd = openFileForReading(path);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "a streamed file is handed over blocking";
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  ::close(fd);
}

}  // namespace
}  // namespace zv::storage
