#pragma once
// Pasteboards: the general pasteboard and named pasteboards, each holding a list of items, an
// item being a dictionary from a type name ("public.utf8-plain-text", "public.deviceudid") to its
// value (Data, or String for text).
//
// A persistent named pasteboard is shared by every application of the user: it is one file under
// the "Pasteboards" folder of the application environment's shared root, re-read on every call,
// and every change is a read-modify-write of that file, written atomically, under an exclusive
// flock of "Pasteboards/.lock", so two processes never lose each other's changes. A file that
// cannot be read is logged and reads as an empty pasteboard; the next change replaces it.
// A pasteboard that is not persistent lives in this process only, as does the general pasteboard.
//
// Threads: any thread may call. Within a process one name gives one Pasteboard object while it
// exists, except that a pasteboard that fails to become persistent is no longer found by its name
// (the file another process may write under it is, or a new pasteboard); it lives on for its
// holders.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv {

inline constexpr const char* kPasteboardTypeUTF8PlainText = "public.utf8-plain-text";

class Pasteboard : public Object {
 public:
  static Ref<Pasteboard> generalPasteboard();
  // The pasteboard of that name: an existing one (in this process, or persistent on disk), else a
  // new, not yet persistent one when `create`, else nullptr. An empty name gives nullptr.
  static Ref<Pasteboard> pasteboardWithName(std::string_view name, bool create);
  // Forgets the pasteboard and removes its file; a Pasteboard object still held reads as empty.
  static void removePasteboardWithName(std::string_view name);

  const std::string& name() const { return name_; }
  bool isPersistent() const;
  // Making a pasteboard persistent writes its items to its file, unless it never held any and a
  // file is there already (written by another process): it then reads that file as it is. Making
  // it transient takes the file's items back into memory and removes the file. False when the
  // file could not be locked or written (or for the general pasteboard, which has no file): the
  // pasteboard then stays as it was.
  bool setPersistent(bool persistent);

  // Grows by one with every change, from any process.
  std::int64_t changeCount() const;
  std::size_t numberOfItems() const;
  // Every item, as dictionaries of type → value.
  Ref<Array> items() const;
  // Raise "NSInvalidArgumentException" for an element that is not a dictionary with text keys.
  // These and setData / setString answer whether the change was kept: false when a persistent
  // pasteboard's file could not be locked or written, and then the pasteboard holds what it held
  // before. A change in memory is always kept.
  bool setItems(const Array& items);
  bool addItems(const Array& items);
  // A change decided on the items as they are at that moment, for a persistent pasteboard as its
  // file holds them, read and written under one lock: `edit` changes them in place and answers
  // true to keep the change, or false to leave the pasteboard as it was. Answers whether the
  // change was kept (false too when `edit` declined). Raises as setItems does when the items
  // `edit` leaves are not dictionaries keyed by type names.
  bool changeItems(const std::function<bool(std::vector<ObjectPtr>& items)>& edit);

  // Replaces the contents with one item holding `data` under `pasteboardType`.
  bool setData(const Data& data, std::string_view pasteboardType);
  // The value of the first item that has the type, as bytes (text as UTF-8); nullptr when none.
  Ref<Data> dataForPasteboardType(std::string_view pasteboardType) const;
  // The text of the first item holding plain text; nullopt when none.
  std::optional<std::string> string() const;
  bool setString(std::string_view text);

  Pasteboard(std::string name, std::filesystem::path file, bool persistent);

 private:
  struct Contents {
    std::int64_t changeCount = 0;
    std::vector<ObjectPtr> items;
  };
  Contents read() const;
  bool change(const std::function<bool(std::vector<ObjectPtr>&)>& edit);
  bool changePersistence(bool persistent);  // with mutex_ held
  // Drops the contents and the persistence of a removed pasteboard.
  void forget();

  const std::string name_;
  const std::filesystem::path file_;  // empty for the general pasteboard
  mutable ForkMutex mutex_{ForkLockLevel::Pasteboard};
  bool persistent_;
  Contents memory_;  // the contents while not persistent
};

}  // namespace zv
