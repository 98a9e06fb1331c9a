// The device identifier over the file-backed shared pasteboards of a temporary shared root.
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <regex>
#include <set>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/storage/KeyedArchive.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Pasteboard.h"
#include "support/TestSupport.h"
#include "utilities/DeviceUDID.h"

namespace zv {
namespace {

constexpr const char* kDomain = "com.mirovast.zerivudor";
constexpr const char* kKey = "fixed key of the application";

class DeviceUDIDTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock = std::make_shared<ManualClock>(600000000.0);
    auto& environment = ApplicationEnvironment::shared();
    environment.setClock(clock);
    environment.setSharedRoot(root.path());
    environment.setDeviceModel("x86_64");
  }
  void TearDown() override {
    ApplicationEnvironment::shared().reset();
    Clock::install(nullptr);
  }

  static Ref<Data> ownerOf(const char* domain, const char* key) {
    auto bytes = DeviceUDID::encipher(domain, key, crypto::bytesOf(domain));
    return Data::make(std::move(*bytes));
  }
  static std::vector<int> usedSlots() {
    std::vector<int> used;
    for (int slot = 0; slot < DeviceUDID::kSlotCount; ++slot)
      if (DeviceUDID::readSlot(slot)) used.push_back(slot);
    return used;
  }
  // Gives `owner`'s entry in the record of `slot` the stored identifier `bytes`.
  static void breakEntry(int slot, const Ref<Data>& owner, const std::vector<std::uint8_t>& bytes) {
    auto record = DeviceUDID::readSlot(slot);
    ASSERT_TRUE(record);
    auto broken = std::dynamic_pointer_cast<MutableDictionary>(record->mutableCopy());
    broken->setObject(MutableDictionary::make({{kDeviceUDIDLastAccessedKey, Date::make(1)},
                                               {kDeviceUDIDIdentifierKey, Data::make(bytes)}}),
                      owner);
    DeviceUDID::writeSlot(slot, *broken);
  }
  // The record of `slot` still holds the entry of (kDomain, "another key") but none of (kDomain, kKey).
  static void expectOnlyAnotherKeysEntry(int slot) {
    auto kept = DeviceUDID::readSlot(slot);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->objectForKey(*ownerOf(kDomain, kKey)));
    EXPECT_TRUE(kept->objectForKey(*ownerOf(kDomain, "another key")));
  }
  static double timeStampOf(const Dictionary& record) {
    auto date = record.objectForKeyAs<Date>(kDeviceUDIDTimeStampKey);
    return date ? date->timeIntervalSinceReferenceDate() : -1;
  }
  // A record of another owner with its own identifier entry.
  static Ref<MutableDictionary> foreignRecord(const std::string& domain, double stamp) {
    auto owner = ownerOf(domain.c_str(), kKey);
    auto entry = MutableDictionary::make({{kDeviceUDIDLastAccessedKey, Date::make(stamp)},
                                          {kDeviceUDIDIdentifierKey, Data::make(std::string("x"))}});
    auto record = MutableDictionary::make({{kDeviceUDIDTimeStampKey, Date::make(stamp)},
                                           {kDeviceUDIDOwnerKey, owner},
                                           {kDeviceUDIDSchemaVersionKey, box(static_cast<std::int64_t>(1))}});
    record->setObject(entry, owner);
    return record;
  }

  // One launch of the application: a forked child that prepares itself, then asks for the
  // identifier twice, a second apart. Its two answers, or "unprepared".
  std::string launch(const std::function<bool()>& prepare) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      LogCapture quiet;
      std::string answers = "unprepared";
      if (prepare()) {
        answers = DeviceUDID::UDIDForDomain(kDomain, kKey);
        clock->advance(1);
        answers += " " + DeviceUDID::UDIDForDomain(kDomain, kKey);
      }
      _exit(write(fds[1], answers.data(), answers.size()) == static_cast<ssize_t>(answers.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string answers;
    char buffer[256];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(got));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return "failed";
    return answers;
  }
  static std::string twice(const std::string& identifier) { return identifier + " " + identifier; }

  std::shared_ptr<ManualClock> clock;
  zv::testing::TemporaryDirectory root;
};

TEST_F(DeviceUDIDTest, FirstCallWritesSlotZeroAndLaterCallsAgree) {
  std::string identifier = DeviceUDID::UDIDForDomain(kDomain, kKey);
  EXPECT_TRUE(std::regex_match(identifier, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << identifier;
  EXPECT_EQ(usedSlots(), std::vector<int>{0});
  auto record = DeviceUDID::readSlot(0);
  ASSERT_TRUE(record);
  auto entry = std::dynamic_pointer_cast<Dictionary>(record->objectForKey(*ownerOf(kDomain, kKey)));
  ASSERT_TRUE(entry);
  EXPECT_TRUE(entry->objectForKey(kDeviceUDIDLastAccessedKey));
  // The stored identifier is enciphered, never the plain text.
  auto stored = entry->objectForKeyAs<Data>(kDeviceUDIDIdentifierKey);
  ASSERT_TRUE(stored);
  EXPECT_NE(std::string(stored->bytes().begin(), stored->bytes().end()), identifier);
  EXPECT_EQ(integerValueOf(record->objectForKey(kDeviceUDIDSchemaVersionKey)), 1);
  auto modelHash = record->objectForKeyAs<Data>(kDeviceUDIDModelHashKey);
  ASSERT_TRUE(modelHash);
  EXPECT_EQ(modelHash->length(), 20u);
  // The slots' folder is the user's alone.
  struct stat folder {};
  ASSERT_EQ(stat((ApplicationEnvironment::shared().sharedRoot() / "Pasteboards").c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0700u);

  clock->advance(100);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), identifier);
  EXPECT_EQ(usedSlots(), std::vector<int>{0});
  EXPECT_FALSE(DeviceUDID::isOptedOut());
}

TEST_F(DeviceUDIDTest, AnotherKeyGetsItsOwnIdentifierInAFreeSlotCarryingTheEarlierEntries) {
  std::string first = DeviceUDID::UDIDForDomain(kDomain, kKey);
  clock->advance(1);
  std::string second = DeviceUDID::UDIDForDomain(kDomain, "another key");
  EXPECT_NE(first, second);
  EXPECT_EQ(usedSlots(), (std::vector<int>{0, 1}));
  auto record = DeviceUDID::readSlot(1);
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->objectForKey(*ownerOf(kDomain, kKey)));
  EXPECT_TRUE(record->objectForKey(*ownerOf(kDomain, "another key")));
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), first);
}

TEST_F(DeviceUDIDTest, WithEverySlotTakenTheOldestIsOverwritten) {
  for (int slot = 0; slot < DeviceUDID::kSlotCount; ++slot) {
    double stamp = slot == 17 ? 1000.0 : 5000.0 + slot;
    DeviceUDID::writeSlot(slot, *foreignRecord("org.example.app" + std::to_string(slot), stamp));
  }
  DeviceUDID::UDIDForDomain(kDomain, kKey);
  auto record = DeviceUDID::readSlot(17);
  ASSERT_TRUE(record);
  EXPECT_TRUE(isEqual(record->objectForKey(kDeviceUDIDOwnerKey), ownerOf(kDomain, kKey)));
}

TEST_F(DeviceUDIDTest, UnreadableSlotsAreClearedAndTreatedAsFree) {
  auto board = Pasteboard::pasteboardWithName(DeviceUDID::slotName(0), true);
  board->setPersistent(true);
  board->setData(*Data::make(std::string("not an archive")), kDeviceUDIDPasteboardType);
  EXPECT_FALSE(DeviceUDID::readSlot(0));
  EXPECT_FALSE(board->dataForPasteboardType(kDeviceUDIDPasteboardType));
  // An archive of something that is not a valid record counts the same.
  board->setData(*Data::make(storage::archivedDataWithRootObject(*Dictionary::make({{"a", box(1)}}))),
                 kDeviceUDIDPasteboardType);
  DeviceUDID::UDIDForDomain(kDomain, kKey);
  EXPECT_EQ(usedSlots(), std::vector<int>{0});
  // Slot numbers outside 0 ... 63 are ignored.
  EXPECT_FALSE(DeviceUDID::readSlot(64));
  DeviceUDID::writeSlot(-1, *foreignRecord("x", 1));
}

TEST_F(DeviceUDIDTest, AnOptOutGivesZerosEvenWhenTheModelChanged) {
  std::string identifier = DeviceUDID::UDIDForDomain(kDomain, kKey);
  DeviceUDID::writeSlot(5, *Dictionary::make({{kDeviceUDIDOptOutKey, box(true)}}));
  EXPECT_TRUE(DeviceUDID::isOptedOut());
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), kDeviceUDIDNone);
  // Another kind of device: the carried-over records are emptied, but the opt-out stays.
  ApplicationEnvironment::shared().setDeviceModel("aarch64");
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), kDeviceUDIDNone);
  EXPECT_EQ(DeviceUDID::UDIDForDomain("org.example.new", kKey), kDeviceUDIDNone);
}

TEST_F(DeviceUDIDTest, AnotherDeviceModelStartsAfresh) {
  std::string identifier = DeviceUDID::UDIDForDomain(kDomain, kKey);
  ApplicationEnvironment::shared().setDeviceModel("aarch64");
  clock->advance(1);
  std::string moved = DeviceUDID::UDIDForDomain(kDomain, kKey);
  EXPECT_NE(moved, identifier);
  EXPECT_NE(moved, kDeviceUDIDNone);
}

TEST_F(DeviceUDIDTest, ANewerRecordFormatGivesZerosAndOnlyCopiesTheRecord) {
  auto record = foreignRecord("org.example.newer", 9000);
  record->setObject(box(static_cast<std::int64_t>(2)), kDeviceUDIDSchemaVersionKey);
  DeviceUDID::writeSlot(3, *record);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), kDeviceUDIDNone);
  EXPECT_EQ(usedSlots(), (std::vector<int>{0, 3}));
  auto copied = DeviceUDID::readSlot(0);
  ASSERT_TRUE(copied);
  EXPECT_EQ(integerValueOf(copied->objectForKey(kDeviceUDIDSchemaVersionKey)), 2);
}

TEST_F(DeviceUDIDTest, ABrokenEntryDropsOnlyThatOwnersEntrySoTheNextCallRecovers) {
  const std::string another = DeviceUDID::UDIDForDomain(kDomain, "another key");  // slot 0
  clock->advance(1);
  DeviceUDID::UDIDForDomain(kDomain, kKey);  // slot 1, now the most recent, carries both entries
  clock->advance(1);
  ASSERT_EQ(DeviceUDID::UDIDForDomain(kDomain, "another key"), another);  // slot 0 most recent again
  DeviceUDID::writeSlot(2, *foreignRecord("org.example.bystander", 10));
  auto owner = ownerOf(kDomain, kKey);

  // An identifier that cannot be deciphered, then one that deciphers to bytes that are not text.
  const std::vector<std::uint8_t> notText{0x41, 0x00, 0xFF, 0x42};
  const std::pair<const char*, std::vector<std::uint8_t>> brokenValues[] = {
      {"undecipherable", std::vector<std::uint8_t>(16, 'z')},
      {"not text", *DeviceUDID::encipher(kDomain, kKey, notText)}};
  for (const auto& [kind, brokenValue] : brokenValues) {
    SCOPED_TRACE(kind);
    ASSERT_NO_FATAL_FAILURE(breakEntry(0, owner, brokenValue));
    clock->advance(10);
    EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), kDeviceUDIDNone);
    // The record read keeps every other owner's entry; the copy of it in this owner's slot is gone;
    // an unrelated record stays.
    ASSERT_NO_FATAL_FAILURE(expectOnlyAnotherKeysEntry(0));
    EXPECT_FALSE(DeviceUDID::readSlot(1));
    EXPECT_TRUE(DeviceUDID::readSlot(2));
    clock->advance(1);
    EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, "another key"), another);
    clock->advance(1);
    std::string fresh = DeviceUDID::UDIDForDomain(kDomain, kKey);
    EXPECT_EQ(fresh.size(), 36u) << fresh;
    EXPECT_NE(fresh, kDeviceUDIDNone);
    // Slot 0 is the most recent record again, now with a fresh entry for this owner.
    clock->advance(1);
    ASSERT_EQ(DeviceUDID::UDIDForDomain(kDomain, "another key"), another);
  }
}

TEST_F(DeviceUDIDTest, BrokenEntryOfTheLastWriterKeepsItsRecordWithoutThatEntry) {
  const std::string another = DeviceUDID::UDIDForDomain(kDomain, "another key");
  clock->advance(1);
  DeviceUDID::UDIDForDomain(kDomain, kKey);  // slot 1: this owner's slot and the most recent record
  ASSERT_NO_FATAL_FAILURE(breakEntry(1, ownerOf(kDomain, kKey), std::vector<std::uint8_t>(16, 'z')));
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), kDeviceUDIDNone);
  ASSERT_NO_FATAL_FAILURE(expectOnlyAnotherKeysEntry(1));
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, "another key"), another);
}

// Records of other owners that each carry an entry for this domain with a different identifier,
// so the identifier returned tells which record was the most recent.
TEST_F(DeviceUDIDTest, TheMostRecentRecordIsTheLatestStampAndTheEarlierSlotOnATie) {
  auto owner = ownerOf(kDomain, kKey);
  auto carrying = [&](int slot, double stamp) {
    auto record = foreignRecord("org.example.app" + std::to_string(slot), stamp);
    std::string identifier = "IDENTIFIER-OF-SLOT-" + std::to_string(slot);
    auto enciphered = DeviceUDID::encipher(kDomain, kKey, crypto::bytesOf(identifier));
    record->setObject(MutableDictionary::make({{kDeviceUDIDLastAccessedKey, Date::make(stamp)},
                                               {kDeviceUDIDIdentifierKey, Data::make(std::move(*enciphered))}}),
                      owner);
    DeviceUDID::writeSlot(slot, *record);
  };
  carrying(4, 2000);
  carrying(9, 3000);
  carrying(11, 3000);
  carrying(13, 2500);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), "IDENTIFIER-OF-SLOT-9");
}

TEST_F(DeviceUDIDTest, TheOldestSlotIsTheEarlierOneOnATieAndTheOwnersLastSlotWins) {
  for (int slot = 0; slot < DeviceUDID::kSlotCount; ++slot) {
    double stamp = slot == 20 || slot == 40 ? 1000.0 : 5000.0 + slot;
    DeviceUDID::writeSlot(slot, *foreignRecord("org.example.app" + std::to_string(slot), stamp));
  }
  std::string identifier = DeviceUDID::UDIDForDomain(kDomain, kKey);
  auto owner = ownerOf(kDomain, kKey);
  auto written = DeviceUDID::readSlot(20);
  ASSERT_TRUE(written);
  EXPECT_TRUE(isEqual(written->objectForKey(kDeviceUDIDOwnerKey), owner));
  auto untouched = DeviceUDID::readSlot(40);
  ASSERT_TRUE(untouched);
  EXPECT_FALSE(isEqual(untouched->objectForKey(kDeviceUDIDOwnerKey), owner));

  // The same owner in two slots: the later slot takes the next write.
  DeviceUDID::writeSlot(50, *written);
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), identifier);
  auto last = DeviceUDID::readSlot(50);
  auto first = DeviceUDID::readSlot(20);
  ASSERT_TRUE(last && first);
  EXPECT_EQ(timeStampOf(*last), clock->now());
  EXPECT_LT(timeStampOf(*first), clock->now());
}

// The application registers the device under its identifier, so one that is not stored would
// make a new device of every launch.
TEST_F(DeviceUDIDTest, OnAFullDiskNoNewIdentifierIsHandedOutButAStoredOneStillIs) {
  auto fullDisk = [] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64, 64};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  };
  EXPECT_EQ(launch(fullDisk), twice(kDeviceUDIDNone));
  EXPECT_EQ(launch(fullDisk), twice(kDeviceUDIDNone));
  EXPECT_TRUE(usedSlots().empty());
  const std::string identifier = DeviceUDID::UDIDForDomain(kDomain, kKey);
  ASSERT_NE(identifier, kDeviceUDIDNone);
  EXPECT_EQ(launch(fullDisk), twice(identifier));
}

// One process meets a full disk, which then frees while another application stores its record in
// the slot the first call found free: the first process's next call keeps off that record.
TEST_F(DeviceUDIDTest, ASlotThatFilledAfterAFailedWriteKeepsTheOtherApplicationsRecord) {
  int ready[2], go[2], answer[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(answer), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    LogCapture quiet;
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    bool ok = ::getrlimit(RLIMIT_FSIZE, &limit) == 0;
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = 64;
    ok = ok && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    std::string answers = DeviceUDID::UDIDForDomain(kDomain, kKey);
    limit.rlim_cur = unlimited;
    ok = ok && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    char byte = 'r';
    ok = ok && write(ready[1], &byte, 1) == 1 && read(go[0], &byte, 1) == 1;
    clock->advance(1);
    answers += " " + DeviceUDID::UDIDForDomain(kDomain, kKey);
    _exit(ok && write(answer[1], answers.data(), answers.size()) == static_cast<ssize_t>(answers.size()) ? 0 : 1);
  }
  for (int fd : {ready[1], go[0], answer[1]}) close(fd);
  char byte = 0;
  bool childReady = read(ready[0], &byte, 1) == 1;
  // The other application, while the first process waits between its calls.
  const std::string theirs = childReady ? DeviceUDID::UDIDForDomain("org.example.other", kKey) : "";
  auto theirRecord = DeviceUDID::readSlot(0);
  EXPECT_TRUE(childReady && write(go[1], &byte, 1) == 1);
  close(go[1]);
  std::string answers;
  char buffer[256];
  for (ssize_t got; (got = read(answer[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(got));
  for (int fd : {ready[0], answer[0]}) close(fd);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(answers.size(), 2 * 36 + 1) << answers;
  EXPECT_EQ(answers.substr(0, 36), kDeviceUDIDNone);
  const std::string ours = answers.substr(37);
  EXPECT_NE(ours, kDeviceUDIDNone);

  ASSERT_TRUE(theirRecord);
  auto kept = DeviceUDID::readSlot(0);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->isEqual(*theirRecord));
  EXPECT_EQ(usedSlots(), (std::vector<int>{0, 1}));
  clock->advance(10);
  EXPECT_EQ(DeviceUDID::UDIDForDomain("org.example.other", kKey), theirs);
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), ours);
}

// A slot this process believes free because a board of its name lives only in this process's
// memory: the write is decided on the file, which another application filled meanwhile.
TEST_F(DeviceUDIDTest, ARecordStoredUnderABoardThisProcessHeldInMemoryIsNotWrittenOver) {
  auto inMemory = Pasteboard::pasteboardWithName(DeviceUDID::slotName(0), true);
  ASSERT_FALSE(inMemory->isPersistent());
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    LogCapture quiet;
    _exit(DeviceUDID::UDIDForDomain("org.example.other", kKey) != kDeviceUDIDNone ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto otherOwner = ownerOf("org.example.other", kKey);

  LogCapture log;
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), kDeviceUDIDNone);
  auto kept = DeviceUDID::readSlot(0);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(isEqual(kept->objectForKey(kDeviceUDIDOwnerKey), otherOwner));
  // The slot is now read from its file, so the next call takes a free one.
  clock->advance(1);
  const std::string ours = DeviceUDID::UDIDForDomain(kDomain, kKey);
  EXPECT_NE(ours, kDeviceUDIDNone);
  EXPECT_EQ(usedSlots(), (std::vector<int>{0, 1}));
  kept = DeviceUDID::readSlot(0);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(isEqual(kept->objectForKey(kDeviceUDIDOwnerKey), otherOwner));
}

TEST_F(DeviceUDIDTest, ASecondUserOverTheFirstUsersFolderGetsNoNewIdentifierPerLaunch) {
  if (geteuid() != 0) GTEST_SKIP() << "needs to switch to another user";
  const std::string first = DeviceUDID::UDIDForDomain(kDomain, kKey);
  auto record = DeviceUDID::readSlot(0);
  ASSERT_TRUE(record);
  // The first user's folders can be passed through; their files are the first user's alone.
  ASSERT_EQ(chmod(root.path().c_str(), 0755), 0);
  const uid_t other = 61000 + static_cast<uid_t>(getpid() % 3000);
  auto asOtherUser = [other] {
    return setgroups(0, nullptr) == 0 && setresgid(other, other, other) == 0 && setresuid(other, other, other) == 0;
  };
  const std::string answers = launch(asOtherUser);
  EXPECT_EQ(answers, twice(kDeviceUDIDNone));
  EXPECT_EQ(launch(asOtherUser), answers);
  auto kept = DeviceUDID::readSlot(0);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->isEqual(*record));
  clock->advance(10);
  EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), first);
}

TEST_F(DeviceUDIDTest, ARecordStampedAheadOfTheClockHidesNoCallersIdentifier) {
  const std::string identifier = DeviceUDID::UDIDForDomain(kDomain, kKey);  // slot 0
  // Another application, its clock a day ahead, wrote a record that lacks this caller's entry.
  auto ahead = foreignRecord("org.example.ahead", clock->now() + 86400);
  DeviceUDID::writeSlot(5, *ahead);
  for (int call = 0; call < 2; ++call) {
    clock->advance(1);
    EXPECT_EQ(DeviceUDID::UDIDForDomain(kDomain, kKey), identifier);
  }
  // A caller that first asks after that record was written keeps its identifier too.
  const std::string later = DeviceUDID::UDIDForDomain("org.example.later", kKey);
  clock->advance(1);
  EXPECT_EQ(DeviceUDID::UDIDForDomain("org.example.later", kKey), later);
  // The record from ahead is read as it was written.
  auto kept = DeviceUDID::readSlot(5);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->isEqual(*ahead));
}

TEST_F(DeviceUDIDTest, TheAsynchronousFormDeliversOnABackgroundQueue) {
  std::mutex mutex;
  std::condition_variable done;
  std::vector<std::string> results;
  for (int i = 0; i < 4; ++i) {
    DeviceUDID::retrieveUDIDForDomain(kDomain, kKey, [&](const std::string& identifier) {
      std::lock_guard lock(mutex);
      results.push_back(identifier);
      done.notify_all();
    });
  }
  std::unique_lock lock(mutex);
  ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(60), [&] { return results.size() == 4; }));
  EXPECT_EQ(std::set<std::string>(results.begin(), results.end()).size(), 1u);
  EXPECT_NE(results[0], kDeviceUDIDNone);
}

TEST_F(DeviceUDIDTest, ProcessesCallingAtOnceAgree) {
  constexpr int kChildren = 6;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kChildren; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(pipeFds[0]);
      std::string identifier = DeviceUDID::UDIDForDomain("org.example.shared", kKey) + "\n";
      ssize_t written = write(pipeFds[1], identifier.data(), identifier.size());
      _exit(written == static_cast<ssize_t>(identifier.size()) ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(pipeFds[1]);
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string all;
  char buffer[512];
  for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(got));
  close(pipeFds[0]);
  std::set<std::string> distinct;
  std::size_t lines = 0;
  for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1, ++lines)
    distinct.insert(all.substr(start, end - start));
  EXPECT_EQ(lines, static_cast<std::size_t>(kChildren));
  ASSERT_EQ(distinct.size(), 1u);
  EXPECT_EQ(DeviceUDID::UDIDForDomain("org.example.shared", kKey), *distinct.begin());
}

}  // namespace
}  // namespace zv
