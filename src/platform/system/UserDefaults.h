#pragma once
// Small typed values that persist across runs: the standard user defaults are a binary property
// list "<bundle identifier>.plist" in the preferences folder (mode 0600, written atomically), with a
// registration domain of fallback values that is never written.
//
// Every handle over one file shares one store (see UserDefaultsStore.h), so a write through one
// handle is visible through every other at once. Changes are saved about half a second later, at
// once by synchronize(), and at the latest when the process exits normally. Processes sharing the
// file keep each other's values: a save writes back only the keys this process changed, and
// synchronize() brings in what the others saved.
//
// After each change (set or remove) the handle posts kUserDefaultsDidChangeNotification, with
// itself as object, on the default notification centre, on the changing thread, after the value
// is in place.
//
// Readings follow the platform: a numeric string reads as its number, any other value (or none)
// as 0 / NO; the object getters answer nullptr when the stored value is of another kind.
//
// Threads: any thread may call any operation.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv {

class UserDefaultsStore;

inline constexpr const char* kUserDefaultsDidChangeNotification = "NSUserDefaultsDidChangeNotification";

class UserDefaults : public Object {
 public:
  // The process's standard defaults, made on first use over the main bundle's identifier and the
  // environment's preferences folder as they are at that moment.
  static Ref<UserDefaults> standardUserDefaults();
  // Saves pending changes and forgets the standard handle; the next standardUserDefaults() opens
  // the file the environment names then (tests that move the home call this).
  static void resetStandardUserDefaults();
  // A new handle over the standard defaults' file (what a plain `init` gave).
  static Ref<UserDefaults> make();
  // A handle over the defaults stored in `file`.
  static Ref<UserDefaults> makeWithFile(const std::filesystem::path& file);

  // The file the values persist in.
  std::filesystem::path filePath() const;

  // The persistent value, else the registered one; nullptr when neither exists.
  ObjectPtr objectForKey(std::string_view key) const;
  // Stores a deep immutable copy of a property-list value (string, number, data, date, array,
  // dictionary with string keys); nullptr removes the key. Any other value raises
  // "NSInvalidArgumentException".
  void setObject(const ObjectPtr& value, std::string_view key);
  void removeObjectForKey(std::string_view key);
  // Stores a value (as setObject) only where there is none, neither here nor, when the change is
  // saved, in the file (first-run values that must not undo another process's choice). Whether
  // it stored it here; the change is announced only then.
  bool setObjectIfAbsent(const ObjectPtr& value, std::string_view key);

  bool boolForKey(std::string_view key) const;
  std::int64_t integerForKey(std::string_view key) const;
  float floatForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  // A string's text, or a number's decimal text; nullopt for anything else.
  std::optional<std::string> stringForKey(std::string_view key) const;
  Ref<Array> arrayForKey(std::string_view key) const;
  Ref<Dictionary> dictionaryForKey(std::string_view key) const;
  Ref<Data> dataForKey(std::string_view key) const;

  void setBool(bool value, std::string_view key);
  void setInteger(std::int64_t value, std::string_view key);
  void setFloat(float value, std::string_view key);
  void setDouble(double value, std::string_view key);

  // Adds entries to the registration domain (shared by the handles of the file, never saved).
  void registerDefaults(const Ref<Dictionary>& defaults);
  // Registered values overlaid by persistent ones.
  Ref<Dictionary> dictionaryRepresentation() const;

  // Saves unsaved changes now (else reads the file again); whether the file now holds every
  // value. With `error` the failure is given to the caller instead of the log.
  bool synchronize(Ref<Error>* error = nullptr);

  explicit UserDefaults(std::shared_ptr<UserDefaultsStore> store);

 private:
  void changed();

  std::shared_ptr<UserDefaultsStore> store_;
};

}  // namespace zv
