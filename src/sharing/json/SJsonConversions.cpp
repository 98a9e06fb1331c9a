#include "sharing/json/SJsonConversions.h"

#include "platform/foundation/Log.h"
#include "sharing/json/SJsonParser.h"
#include "sharing/json/SJsonWriter.h"

namespace zv::sjson {

namespace {

template <class Result>
Result logged(Result result, const SJsonBase& worker, const char* name) {
  if (!result) logError(std::string("-") + name + " failed. Error trace is: " + describe(worker.errorTrace()));
  return result;
}

}  // namespace

ObjectPtr JSONValue(const Ref<String>& string) {
  SJsonParser parser;
  return logged(parser.objectWithString(string), parser, "JSONValue");
}

ObjectPtr JSONFragmentValue(const Ref<String>& string) {
  SJsonParser parser;
  return logged(parser.fragmentWithString(string), parser, "JSONFragmentValue");
}

Ref<String> JSONRepresentation(const ObjectPtr& object) {
  SJsonWriter writer;
  return logged(writer.stringWithObject(object), writer, "JSONRepresentation");
}

Ref<String> JSONFragment(const ObjectPtr& object) {
  SJsonWriter writer;
  return logged(writer.stringWithFragment(object), writer, "JSONFragment");
}

}  // namespace zv::sjson
