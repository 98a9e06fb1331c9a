#pragma once
// Maps a service's XML reply into nested dictionaries: every element becomes a mutable dictionary
// holding its attributes (strings), its children under their names and its character data under
// "_text". A name that occurs more than once among siblings becomes an array in document order; a
// child whose parent's name is its own plus "s" (a plural container such as "photos" for
// "photo") is an array from the first one.
//
// Malformed XML, a document that declares entities, nesting deeper than kMaximumDepth, an element
// named like an attribute of its parent ("Faulty XML structure") or a closing tag without an open
// element map to nullptr and leave the reason in `failureReason()`; nothing is thrown.
// Any thread; one mapper per thread at a time.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"

namespace zv {

inline constexpr const char* kFKXMLTextKey = "_text";

class FKXMLMapper : public Object {
 public:
  static constexpr std::size_t kMaximumDepth = 128;

  // The root dictionary, or nullptr when the XML does not map.
  static Ref<MutableDictionary> dictionaryMappedFromXMLData(const Ref<Data>& data);

  static Ref<FKXMLMapper> make() { return std::make_shared<FKXMLMapper>(); }
  // Maps `data` from a fresh root; YES when it mapped.
  bool runWithData(std::string_view data);
  // nullptr after a failed run.
  Ref<MutableDictionary> resultantDictionary() const { return failed_ ? nullptr : resultantDictionary_; }
  const std::string& failureReason() const { return failureReason_; }

  // Parser events; false stops the run with the reason set.
  bool didStartElement(std::string_view name, const Ref<MutableDictionary>& attributes);
  bool didEndElement();
  void foundCharacters(std::string_view text);

 private:
  bool fail(std::string reason);

  // Stores the text gathered for the current element under "_text" (nothing when there is none).
  void storeText();

  Ref<MutableDictionary> resultantDictionary_ = MutableDictionary::make();
  std::vector<Ref<MutableDictionary>> elementStack_;  // innermost last
  // The character data of each open element, parallel to elementStack_ plus the current one: text
  // comes in many pieces (expat reports each line apart) and is stored once, when the element ends.
  std::vector<std::string> textStack_;
  Ref<MutableDictionary> currentDictionary_;
  std::string currentElementName_;
  bool failed_ = false;
  std::string failureReason_;
};

// The "_text" of a mapped element (empty when it has none).
std::string FKTextContent(const ObjectPtr& element);
// The value at a dotted key path ("auth.user.username") through nested dictionaries.
ObjectPtr FKValueForKeyPath(const Ref<Dictionary>& dictionary, std::string_view path);

}  // namespace zv
