#pragma once
// A stable, random device identifier per caller domain that outlives the application: records live
// on 64 persistent named pasteboards ("org.deviceudid-0" ... "-63", type "public.deviceudid"),
// shared by every application of the user, each holding the keyed archive of a slot dictionary.
// Identifiers are enciphered (AES-128-CBC with a key made from the domain and the caller's key),
// so only a caller that knows both can read one. Once any slot records an opt-out, every caller
// gets the all-zero identifier. A new identifier is handed out only once its record is stored on
// the shared pasteboards (else the all-zero one, so no two launches tell different identifiers),
// and a caller's entry is read from the latest record that holds it, so a record stamped ahead of
// the clock does not hide it.
//
// Threads: any thread. A call holds a process-wide lock and an exclusive flock of
// "<shared root>/Pasteboards/.deviceudid.lock" from reading the slots to the final write, so
// callers in this and in other processes never interleave. Each write of a slot is decided on what
// the slot's file holds at that moment, under the file's lock: a call writes a slot only while it
// still holds what the call read there, so a record stored since is never written over (a new
// identifier is then not handed out). Class operations only.

#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv {

inline constexpr const char* kDeviceUDIDPasteboardType = "public.deviceudid";
inline constexpr const char* kDeviceUDIDTimeStampKey = "DUIDTimeStampKey";
inline constexpr const char* kDeviceUDIDOwnerKey = "DUIDOwnerKey";
inline constexpr const char* kDeviceUDIDOptOutKey = "DUIDOptOutKey";
inline constexpr const char* kDeviceUDIDModelHashKey = "DUIDModelHashKey";
inline constexpr const char* kDeviceUDIDSchemaVersionKey = "DUIDSchemaVersionKey";
inline constexpr const char* kDeviceUDIDLastAccessedKey = "DUIDLastAccessedKey";
inline constexpr const char* kDeviceUDIDIdentifierKey = "DUIDIdentifierKey";
inline constexpr const char* kDeviceUDIDNone = "00000000-0000-0000-0000-000000000000";

class DeviceUDID {
 public:
  static constexpr int kSlotCount = 64;

  // The identifier of `domain` for callers that know `key`; the all-zero identifier when the
  // device opted out, the records are unreadable, a newer record format is in use, or a new
  // identifier could not be stored.
  static std::string UDIDForDomain(std::string_view domain, std::string_view key);
  // UDIDForDomain on the background-priority global queue; the completion runs there.
  static void retrieveUDIDForDomain(std::string domain, std::string key,
                                    std::function<void(const std::string& identifier)> completion);
  static bool isOptedOut();

  // The slot records, for tests and tools.
  static std::string slotName(int slot);
  // nullptr when the slot holds no valid record; an unreadable or invalid one is cleared.
  static Ref<Dictionary> readSlot(int slot);
  // Writes a valid record to the slot's persistent pasteboard, over whatever it holds; false when
  // the record is invalid or could not be stored there.
  static bool writeSlot(int slot, const Dictionary& record);
  static bool isValidSlotDictionary(const ObjectPtr& value);

  // The cipher: nullopt when it fails.
  static std::optional<std::vector<std::uint8_t>> encipher(std::string_view domain, std::string_view key,
                                                           std::span<const std::uint8_t> plain);
  static std::optional<std::vector<std::uint8_t>> decipher(std::string_view domain, std::string_view key,
                                                           std::span<const std::uint8_t> cipher);
};

}  // namespace zv
