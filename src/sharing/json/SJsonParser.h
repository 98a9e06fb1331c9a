#pragma once
// The second JSON library's reader: recursive descent over a String's UTF-8 text (a NUL byte ends
// it), giving MutableArrays, MutableDictionaries, MutableStrings, DecimalNumbers, the shared true
// and false numbers and the null object. Failures give nullptr and leave the error trace.
// Thread contract: one thread at a time.

#include <vector>

#include "sharing/json/SJsonBase.h"

namespace zv {

class SJsonParser : public SJsonBase {
 public:
  // An array or a dictionary; anything else adds code 4 "Valid fragment, but not JSON".
  virtual ObjectPtr objectWithString(const Ref<String>& string);
  // Any value.
  ObjectPtr fragmentWithString(const Ref<String>& string);

 private:
  void skipWhiteSpace();
  bool scanValue(ObjectPtr& out);
  bool scanRestOfArray(ObjectPtr& out);
  bool scanRestOfDictionary(ObjectPtr& out);
  bool scanRestOfString(std::string& out);
  bool scanUnicodeCharacter(std::string& out);
  bool scanHexQuad(unsigned& unit);
  bool scanNumber(ObjectPtr& out);
  bool scanLiteral(const char* word, const char* message, ObjectPtr value, ObjectPtr& out);

  const char* c_ = nullptr;
  // Elements and pairs of the collections being read, reused so each collection is built once.
  std::vector<ObjectPtr> elements_;
  std::vector<Dictionary::Entry> entries_;
  // Recently read keys: documents repeat their keys, and equal immutable keys can be one object.
  std::vector<Ref<String>> recentKeys_;
  Ref<String> keyFor(std::string&& text);
};

}  // namespace zv
