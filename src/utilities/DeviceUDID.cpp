#include "utilities/DeviceUDID.h"

#include <array>
#include <filesystem>
#include <limits>
#include <mutex>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Unicode.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileLock.h"
#include "platform/storage/KeyedArchive.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Pasteboard.h"

namespace zv {

namespace {

constexpr const char* kTopLevelKeys[] = {kDeviceUDIDTimeStampKey, kDeviceUDIDOwnerKey, kDeviceUDIDOptOutKey,
                                         kDeviceUDIDModelHashKey, kDeviceUDIDSchemaVersionKey};

std::mutex& classLock() {
  static std::mutex lock;
  return lock;
}

bool isTopLevelKey(const ObjectPtr& key) {
  auto text = std::dynamic_pointer_cast<String>(key);
  if (!text) return false;
  for (const char* name : kTopLevelKeys)
    if (text->utf8() == name) return true;
  return false;
}

std::array<std::uint8_t, 16> cipherKey(std::string_view domain, std::string_view key) {
  std::string material = std::string(domain) + std::string(key);
  auto digest = crypto::sha1(crypto::bytesOf(material));
  std::array<std::uint8_t, 16> aesKey{};
  std::copy_n(digest.begin(), 16, aesKey.begin());
  return aesKey;
}

double timeStampOf(const Dictionary& record) {
  auto date = record.objectForKeyAs<Date>(kDeviceUDIDTimeStampKey);
  return date ? date->timeIntervalSinceReferenceDate() : 0;
}

Ref<Data> modelHash() {
  std::string model = ApplicationEnvironment::shared().deviceModel();
  if (model.empty()) model = "Unknown";
  auto digest = crypto::sha1(crypto::bytesOf(model));
  return Data::make(digest.data(), digest.size());
}

// Held from the first read of the slots to the last write.
class SlotsLock {
 public:
  SlotsLock() : processLock_(classLock()) {
    auto folder = ApplicationEnvironment::shared().sharedRoot() / "Pasteboards";
    std::error_code ignored;
    storage::createPrivateFolders(folder, ignored);
    fileLock_.emplace(folder / ".deviceudid.lock", storage::FileLock::Mode::Exclusive);
    if (!fileLock_->isLocked()) logError("DeviceUDID: the slots could not be locked against other processes");
  }

 private:
  std::lock_guard<std::mutex> processLock_;
  std::optional<storage::FileLock> fileLock_;
};

// The record's bytes in a pasteboard's items, as dataForPasteboardType reads them.
Ref<Data> recordBytesIn(const std::vector<ObjectPtr>& items) {
  for (const ObjectPtr& item : items) {
    ObjectPtr value = std::dynamic_pointer_cast<Dictionary>(item)->objectForKey(kDeviceUDIDPasteboardType);
    if (auto data = std::dynamic_pointer_cast<Data>(value)) return data;
    if (auto text = std::dynamic_pointer_cast<String>(value)) return Data::make(text->utf8());
    if (value) return nullptr;
  }
  return nullptr;
}

bool sameBytes(const Ref<Data>& a, const Ref<Data>& b) { return a && b ? a->isEqual(*b) : !a && !b; }

// Every write of a slot is decided on what its file holds at that moment, under the file's lock:
// with `expected` (the bytes read when the slot was chosen, nullptr when it held none) the slot
// is written only while it still holds them, so a slot merely believed free or unchanged is never
// written over a record stored since. `replacement` nullptr empties the slot.
bool replaceSlot(int slot, const Ref<Data>* expected, const Dictionary* replacement) {
  auto board = Pasteboard::pasteboardWithName(DeviceUDID::slotName(slot), replacement != nullptr);
  if (!board) return false;
  // A record only in this process's memory would outlive nothing: it is written to the shared
  // pasteboard file or not at all.
  if (replacement && !board->setPersistent(true)) return false;
  Ref<Data> archive;
  if (replacement) archive = Data::make(storage::archivedDataWithRootObject(*replacement));
  return board->changeItems([&](std::vector<ObjectPtr>& items) {
    if (expected && !sameBytes(recordBytesIn(items), *expected)) {
      logInfo("DeviceUDID: slot " + std::to_string(slot) + " changed since it was read; it is left as it is");
      return false;
    }
    items.clear();
    if (archive) items.push_back(Dictionary::make({{kDeviceUDIDPasteboardType, archive}}));
    return true;
  });
}

struct SlotRead {
  Ref<Data> bytes;  // what the slot holds, nullptr when nothing
  Ref<Dictionary> record;  // nullptr unless a valid record
};

// An unreadable or invalid record is cleared, unless it changed since it was read.
SlotRead readSlotRecord(int slot) {
  SlotRead read;
  if (slot < 0 || slot >= DeviceUDID::kSlotCount) return read;
  auto board = Pasteboard::pasteboardWithName(DeviceUDID::slotName(slot), false);
  if (!board) return read;
  read.bytes = board->dataForPasteboardType(kDeviceUDIDPasteboardType);
  if (!read.bytes) return read;
  ObjectPtr record;
  try {
    record = storage::unarchiveObjectWithData(
        std::string_view(reinterpret_cast<const char*>(read.bytes->bytes().data()), read.bytes->bytes().size()));
  } catch (const std::exception&) {
    record = nullptr;
  }
  if (!DeviceUDID::isValidSlotDictionary(record)) {
    if (replaceSlot(slot, &read.bytes, nullptr)) read.bytes = nullptr;
    return read;
  }
  read.record = std::dynamic_pointer_cast<Dictionary>(record);
  return read;
}

// The latest-stamped record among those offered; the earlier slot on a tie.
struct Latest {
  int slot = -1;
  double stamp = -std::numeric_limits<double>::infinity();
  Ref<Dictionary> record;

  void offer(int candidateSlot, double candidateStamp, const Ref<Dictionary>& candidate) {
    if (candidateStamp <= stamp) return;
    slot = candidateSlot;
    stamp = candidateStamp;
    record = candidate;
  }
};

struct SlotChoice {
  int slot = 0;
  std::array<Ref<Data>, DeviceUDID::kSlotCount> bytes;  // what each slot held when read
  bool optedOut = false;
  // Every write starts from the most recent record, so it carries every owner's entry...
  Latest mostRecent;
  // ...but a record stamped ahead of the clock stays the most recent until the clock passes its
  // stamp, whether or not it holds this owner's entry. The owner's entry is then read from the
  // latest record that holds it, so no stamp can hide it.
  Latest latestWithOwner;
  Ref<MutableDictionary> working;
};

SlotChoice chooseSlot(const Data& owner) {
  SlotChoice choice;
  double oldestStamp = std::numeric_limits<double>::infinity();
  int oldestSlot = 0, ownerSlot = -1, freeSlot = -1;
  for (int slot = 0; slot < DeviceUDID::kSlotCount; ++slot) {
    auto [bytes, record] = readSlotRecord(slot);
    choice.bytes[static_cast<std::size_t>(slot)] = bytes;
    if (!record) {
      if (freeSlot < 0) freeSlot = slot;
      continue;
    }
    if (boolValueOf(record->objectForKey(kDeviceUDIDOptOutKey))) choice.optedOut = true;
    double stamp = timeStampOf(*record);
    choice.mostRecent.offer(slot, stamp, record);
    if (std::dynamic_pointer_cast<Dictionary>(record->objectForKey(owner)))
      choice.latestWithOwner.offer(slot, stamp, record);
    if (stamp < oldestStamp) {
      oldestStamp = stamp;
      oldestSlot = slot;
    }
    auto recordOwner = record->objectForKeyAs<Data>(kDeviceUDIDOwnerKey);
    if (recordOwner && recordOwner->isEqual(owner)) ownerSlot = slot;
  }
  choice.slot = ownerSlot >= 0 ? ownerSlot : freeSlot >= 0 ? freeSlot : oldestSlot;
  const auto& mostRecent = choice.mostRecent.record;
  choice.working = mostRecent ? std::dynamic_pointer_cast<MutableDictionary>(mostRecent->mutableCopy())
                              : MutableDictionary::make();
  if (choice.optedOut) choice.working->setObject(box(true), kDeviceUDIDOptOutKey);
  return choice;
}

// Writes a slot only while it holds what chooseSlot read there.
bool writeChosen(const SlotChoice& choice, int slot, const Dictionary* replacement) {
  return replaceSlot(slot, &choice.bytes[static_cast<std::size_t>(slot)], replacement);
}

// A call that ends without an identifier of its own still leaves a copy of the most recent record
// in its slot. A call that writes its record does not copy first: until its own write lands, the
// slot keeps the entry it held.
void copyMostRecent(const SlotChoice& choice) {
  if (choice.mostRecent.record) writeChosen(choice, choice.slot, choice.mostRecent.record.get());
}

// Whether an owner's entry from `record` may be used by this device and this record format.
bool isUsableHere(const Dictionary& record, const Data& model) {
  auto storedModel = record.objectForKey(kDeviceUDIDModelHashKey);
  return (!storedModel || storedModel->isEqual(model)) &&
         integerValueOf(record.objectForKey(kDeviceUDIDSchemaVersionKey)) < 2;
}

// A deciphered identifier is UTF-8 text; a NUL byte ends text, so one inside is no identifier either.
bool isIdentifierText(const std::vector<std::uint8_t>& plain) {
  std::string_view text(reinterpret_cast<const char*>(plain.data()), plain.size());
  return text.find('\0') == std::string_view::npos && unicode::isValidUTF8(text);
}

// An owner entry that cannot be read is taken out of the record it came from (the most recent
// record, which every write copies and which therefore holds every other owner's entry too, or
// the latest record holding this owner's entry), so the next call starts afresh and every intact
// identifier survives. The owner's slot is emptied with its pasteboard, unless it is that record's.
void dropBrokenEntry(const SlotChoice& choice, const Latest& source, const Data& owner) {
  if (source.record) {
    auto mended = std::dynamic_pointer_cast<MutableDictionary>(source.record->mutableCopy());
    mended->removeObjectForKey(owner);
    writeChosen(choice, source.slot, mended.get());
  }
  if (choice.slot == source.slot) return;
  if (writeChosen(choice, choice.slot, nullptr)) Pasteboard::removePasteboardWithName(DeviceUDID::slotName(choice.slot));
}

}  // namespace

std::string DeviceUDID::slotName(int slot) { return "org.deviceudid-" + std::to_string(slot); }

std::optional<std::vector<std::uint8_t>> DeviceUDID::encipher(std::string_view domain, std::string_view key,
                                                              std::span<const std::uint8_t> plain) {
  auto aesKey = cipherKey(domain, key);
  std::array<std::uint8_t, 16> iv{};
  return crypto::aes128CBCEncrypt(aesKey, iv, plain);
}

std::optional<std::vector<std::uint8_t>> DeviceUDID::decipher(std::string_view domain, std::string_view key,
                                                              std::span<const std::uint8_t> cipher) {
  auto aesKey = cipherKey(domain, key);
  std::array<std::uint8_t, 16> iv{};
  return crypto::aes128CBCDecrypt(aesKey, iv, cipher);
}

bool DeviceUDID::isValidSlotDictionary(const ObjectPtr& value) {
  auto record = std::dynamic_pointer_cast<Dictionary>(value);
  if (!record) return false;
  bool hasStamp = record->objectForKey(kDeviceUDIDTimeStampKey) != nullptr;
  bool hasOwner = record->objectForKey(kDeviceUDIDOwnerKey) != nullptr;
  if (!hasStamp || !hasOwner) return boolValueOf(record->objectForKey(kDeviceUDIDOptOutKey));
  if (record->objectForKey(kDeviceUDIDOptOutKey) || integerValueOf(record->objectForKey(kDeviceUDIDSchemaVersionKey)) > 1)
    return true;
  if (!std::dynamic_pointer_cast<Data>(record->objectForKey(kDeviceUDIDOwnerKey))) return false;
  bool valid = true;
  record->enumerate([&](const ObjectPtr& key, const ObjectPtr& entry) {
    if (isTopLevelKey(key)) return true;
    auto owned = std::dynamic_pointer_cast<Dictionary>(entry);
    valid = std::dynamic_pointer_cast<Data>(key) && owned && owned->objectForKey(kDeviceUDIDLastAccessedKey) &&
            owned->objectForKey(kDeviceUDIDIdentifierKey);
    return valid;
  });
  return valid;
}

Ref<Dictionary> DeviceUDID::readSlot(int slot) { return readSlotRecord(slot).record; }

bool DeviceUDID::writeSlot(int slot, const Dictionary& record) {
  if (slot < 0 || slot >= kSlotCount) return false;
  auto shared = std::dynamic_pointer_cast<Dictionary>(record.copy());
  if (!isValidSlotDictionary(shared)) return false;
  return replaceSlot(slot, nullptr, shared.get());
}

bool DeviceUDID::isOptedOut() {
  SlotsLock lock;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    auto record = readSlot(slot);
    if (record && boolValueOf(record->objectForKey(kDeviceUDIDOptOutKey))) return true;
  }
  return false;
}

std::string DeviceUDID::UDIDForDomain(std::string_view domain, std::string_view key) {
  auto ownerBytes = encipher(domain, key, crypto::bytesOf(domain));
  if (!ownerBytes) return kDeviceUDIDNone;
  auto owner = Data::make(std::move(*ownerBytes));

  SlotsLock lock;
  SlotChoice choice = chooseSlot(*owner);
  auto& working = choice.working;

  auto model = modelHash();
  auto storedModel = working->objectForKey(kDeviceUDIDModelHashKey);
  if (storedModel && !storedModel->isEqual(*model)) {
    // Records carried over from another kind of device; an opt-out still holds on this one.
    working->removeAllObjects();
    if (choice.optedOut) working->setObject(box(true), kDeviceUDIDOptOutKey);
  }
  working->setObject(model, kDeviceUDIDModelHashKey);

  if (boolValueOf(working->objectForKey(kDeviceUDIDOptOutKey)) ||
      integerValueOf(working->objectForKey(kDeviceUDIDSchemaVersionKey)) >= 2) {
    copyMostRecent(choice);
    return kDeviceUDIDNone;
  }

  auto existing = std::dynamic_pointer_cast<Dictionary>(working->objectForKey(*owner));
  Latest source = choice.mostRecent;
  if (!existing && choice.latestWithOwner.record && isUsableHere(*choice.latestWithOwner.record, *model)) {
    source = choice.latestWithOwner;
    existing = std::dynamic_pointer_cast<Dictionary>(source.record->objectForKey(*owner));
  }
  auto entry = existing ? std::dynamic_pointer_cast<MutableDictionary>(existing->mutableCopy()) : MutableDictionary::make();
  auto now = Date::make(ApplicationEnvironment::shared().clock()->now());
  entry->setObject(now, kDeviceUDIDLastAccessedKey);
  working->setObject(now, kDeviceUDIDTimeStampKey);
  working->setObject(owner, kDeviceUDIDOwnerKey);
  working->setObject(box(static_cast<std::int64_t>(1)), kDeviceUDIDSchemaVersionKey);
  working->setObject(entry, owner);

  std::string identifier;
  bool made = false;
  if (auto stored = std::dynamic_pointer_cast<Data>(entry->objectForKey(kDeviceUDIDIdentifierKey))) {
    auto plain = decipher(domain, key, stored->bytes());
    if (!plain || !isIdentifierText(*plain)) {
      dropBrokenEntry(choice, source, *owner);
      return kDeviceUDIDNone;
    }
    identifier.assign(plain->begin(), plain->end());
  } else {
    identifier = crypto::makeUUIDString();
    made = true;
    auto enciphered = encipher(domain, key, crypto::bytesOf(identifier));
    if (!enciphered) return kDeviceUDIDNone;
    entry->setObject(Data::make(std::move(*enciphered)), kDeviceUDIDIdentifierKey);
  }
  // A stored identifier stays where it was read when this write fails; a new one that cannot be
  // stored is not handed out, since the next call could not give it again.
  if (!writeChosen(choice, choice.slot, working.get()) && made) return kDeviceUDIDNone;
  return identifier;
}

void DeviceUDID::retrieveUDIDForDomain(std::string domain, std::string key,
                                       std::function<void(const std::string&)> completion) {
  DispatchQueue::globalQueue(DispatchQueuePriority::Background)
      ->async([domain = std::move(domain), key = std::move(key), completion = std::move(completion)] {
        auto identifier = UDIDForDomain(domain, key);
        if (completion) completion(identifier);
      });
}

}  // namespace zv
