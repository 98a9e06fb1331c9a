#include "sharing/json/SJSON.h"

namespace zv {

SJSON::SJSON() : parser_(std::make_shared<SJsonParser>()), writer_(std::make_shared<SJsonWriter>()) {
  setMaxDepth(SJsonDefaultMaxDepth);
}

void SJSON::setMaxDepth(unsigned maxDepth) {
  SJsonBase::setMaxDepth(maxDepth);
  parser_->setMaxDepth(maxDepth);
  writer_->setMaxDepth(maxDepth);
}

void SJSON::takeTrace(const SJsonBase& worker, Ref<Error>* error) {
  auto trace = worker.errorTrace();
  setErrorTrace(trace ? dyn<MutableArray>(trace->mutableCopy()) : nullptr);
  if (error) *error = trace ? dyn<Error>(trace->lastObject()) : nullptr;
}

ObjectPtr SJSON::objectWithString(const Ref<String>& string) { return objectWithString(string, false, nullptr); }

Ref<String> SJSON::stringWithObject(const ObjectPtr& object) { return stringWithObject(object, false, nullptr); }

ObjectPtr SJSON::objectWithString(const Ref<String>& string, bool allowScalar, Ref<Error>* error) {
  clearErrorTrace();
  ObjectPtr result = allowScalar ? parser_->fragmentWithString(string) : parser_->objectWithString(string);
  if (!result) takeTrace(*parser_, error);
  return result;
}

Ref<String> SJSON::stringWithObject(const ObjectPtr& object, bool allowScalar, Ref<Error>* error) {
  clearErrorTrace();
  Ref<String> result = allowScalar ? writer_->stringWithFragment(object) : writer_->stringWithObject(object);
  if (!result) takeTrace(*writer_, error);
  return result;
}

}  // namespace zv
