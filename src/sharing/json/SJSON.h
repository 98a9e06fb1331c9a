#pragma once
// The second JSON library's facade: one parser and one writer behind one object. On failure the
// facade's own error trace becomes a copy of the worker's.
// Thread contract: one thread at a time.

#include "sharing/json/SJsonParser.h"
#include "sharing/json/SJsonWriter.h"

namespace zv {

class SJSON : public SJsonBase {
 public:
  SJSON();

  // Reads the parser's; sets both.
  unsigned maxDepth() const override { return parser_->maxDepth(); }
  void setMaxDepth(unsigned maxDepth) override;
  bool humanReadable() const { return writer_->humanReadable(); }
  void setHumanReadable(bool value) { writer_->setHumanReadable(value); }
  bool sortKeys() const { return writer_->sortKeys(); }
  void setSortKeys(bool value) { writer_->setSortKeys(value); }

  ObjectPtr objectWithString(const Ref<String>& string);
  Ref<String> stringWithObject(const ObjectPtr& object);

  // `error` (nullable) receives the last, outermost error of the trace.
  ObjectPtr objectWithString(const Ref<String>& string, bool allowScalar, Ref<Error>* error);
  Ref<String> stringWithObject(const ObjectPtr& object, bool allowScalar, Ref<Error>* error);
  ObjectPtr fragmentWithString(const Ref<String>& string, Ref<Error>* error) {
    return objectWithString(string, true, error);
  }
  Ref<String> stringWithFragment(const ObjectPtr& object, Ref<Error>* error) {
    return stringWithObject(object, true, error);
  }
  ObjectPtr objectWithString(const Ref<String>& string, Ref<Error>* error) {
    return objectWithString(string, false, error);
  }
  Ref<String> stringWithObject(const ObjectPtr& object, Ref<Error>* error) {
    return stringWithObject(object, false, error);
  }

  const Ref<SJsonParser>& jsonParser() const { return parser_; }
  const Ref<SJsonWriter>& jsonWriter() const { return writer_; }

 private:
  void takeTrace(const SJsonBase& worker, Ref<Error>* error);

  Ref<SJsonParser> parser_;
  Ref<SJsonWriter> writer_;
};

}  // namespace zv
