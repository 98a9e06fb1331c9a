#pragma once
// The second JSON library's writer. Objects of other classes are written through their
// "proxyForJson" method when they respond to it. Failures give nullptr and leave the error trace.
// Thread contract: one thread at a time.

#include <string>

#include "sharing/json/SJsonBase.h"

namespace zv {

class SJsonWriter : public SJsonBase {
 public:
  // An array or a dictionary, or an object whose proxy is one; else code 4 "Not valid type for JSON".
  virtual Ref<String> stringWithObject(const ObjectPtr& object);
  // Any value.
  Ref<String> stringWithFragment(const ObjectPtr& object);

  bool humanReadable() const { return humanReadable_; }
  void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
  bool sortKeys() const { return sortKeys_; }
  void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }

 private:
  bool appendValue(const ObjectPtr& object, std::string& out);
  bool appendArray(const Array& array, std::string& out);
  bool appendDictionary(const Dictionary& dictionary, std::string& out);
  bool appendProxy(const ObjectPtr& object, std::string& out);
  bool appendString(const std::string& text, std::string& out);
  bool appendNumber(const Number& number, std::string& out);
  void appendIndentation(std::string& out) const;
  ObjectPtr proxyOf(const ObjectPtr& object) const;

  bool humanReadable_ = false;
  bool sortKeys_ = false;
  unsigned proxyDepth_ = 0;
};

}  // namespace zv
