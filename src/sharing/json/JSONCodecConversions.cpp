#include "sharing/json/JSONCodecConversions.h"

#include "sharing/json/JSONDecoder.h"

namespace zv::jsoncodec {

namespace {

ObjectPtr parseText(std::string_view text, JCParseOptionFlags options, bool mutableResult, Ref<Error>* error) {
  JSONDecoder decoder(options);
  ObjectPtr result = mutableResult ? decoder.mutableObjectWithUTF8String(text.data() ? text.data() : "", text.size(), error)
                                   : decoder.objectWithUTF8String(text.data() ? text.data() : "", text.size(), error);
  decoder.releaseState();
  return result;
}

ObjectPtr write(const ObjectPtr& object, JCSerializeOptionFlags options, JCEncodeOptionType encode,
                const JCSerializer::UnsupportedClassBlock& block, const ObjectPtr& delegate, std::string_view selector,
                Ref<Error>* error) {
  return JCSerializer::serializeObject(object, options, encode, block, delegate, selector, error);
}

constexpr JCEncodeOptionType kStringAsData = JCEncodeAsData | JCEncodeRequireString;
constexpr JCEncodeOptionType kStringAsString = JCEncodeAsString | JCEncodeRequireString;
constexpr JCEncodeOptionType kCollectionAsData = JCEncodeAsData | JCEncodeRequireCollection;
constexpr JCEncodeOptionType kCollectionAsString = JCEncodeAsString | JCEncodeRequireCollection;

}  // namespace

ObjectPtr objectFromJSONString(const String& string, JCParseOptionFlags options, Ref<Error>* error) {
  return parseText(string.utf8(), options, false, error);
}

ObjectPtr mutableObjectFromJSONString(const String& string, JCParseOptionFlags options, Ref<Error>* error) {
  return parseText(string.utf8(), options, true, error);
}

ObjectPtr objectFromJSONData(const Ref<Data>& data, JCParseOptionFlags options, Ref<Error>* error) {
  JSONDecoder decoder(options);
  ObjectPtr result = decoder.objectWithData(data, error);
  decoder.releaseState();
  return result;
}

ObjectPtr mutableObjectFromJSONData(const Ref<Data>& data, JCParseOptionFlags options, Ref<Error>* error) {
  JSONDecoder decoder(options);
  ObjectPtr result = decoder.mutableObjectWithData(data, error);
  decoder.releaseState();
  return result;
}

Ref<Data> JSONData(const Ref<String>& string) { return JSONDataWithOptions(string, JCSerializeOptionNone, true); }

Ref<String> JSONString(const Ref<String>& string) {
  return JSONStringWithOptions(string, JCSerializeOptionNone, true);
}

Ref<Data> JSONDataWithOptions(const Ref<String>& string, JCSerializeOptionFlags options, bool includeQuotes,
                              Ref<Error>* error) {
  return dyn<Data>(write(string, options, kStringAsData | (includeQuotes ? 0 : JCEncodeOmitQuotes), nullptr,
                         nullptr, {}, error));
}

Ref<String> JSONStringWithOptions(const Ref<String>& string, JCSerializeOptionFlags options, bool includeQuotes,
                                  Ref<Error>* error) {
  return dyn<String>(write(string, options, kStringAsString | (includeQuotes ? 0 : JCEncodeOmitQuotes), nullptr,
                           nullptr, {}, error));
}

Ref<Data> JSONData(const ObjectPtr& collection) { return JSONDataWithOptions(collection, JCSerializeOptionNone); }

Ref<String> JSONString(const ObjectPtr& collection) {
  return JSONStringWithOptions(collection, JCSerializeOptionNone);
}

Ref<Data> JSONDataWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options, Ref<Error>* error) {
  return dyn<Data>(write(collection, options, kCollectionAsData, nullptr, nullptr, {}, error));
}

Ref<String> JSONStringWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options, Ref<Error>* error) {
  return dyn<String>(write(collection, options, kCollectionAsString, nullptr, nullptr, {}, error));
}

Ref<Data> JSONDataWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options, const ObjectPtr& delegate,
                              std::string_view selector, Ref<Error>* error) {
  return dyn<Data>(write(collection, options, kCollectionAsData, nullptr, delegate, selector, error));
}

Ref<String> JSONStringWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                                  const ObjectPtr& delegate, std::string_view selector, Ref<Error>* error) {
  return dyn<String>(write(collection, options, kCollectionAsString, nullptr, delegate, selector, error));
}

Ref<Data> JSONDataWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                              const JCSerializer::UnsupportedClassBlock& block, Ref<Error>* error) {
  return dyn<Data>(write(collection, options, kCollectionAsData, block, nullptr, {}, error));
}

Ref<String> JSONStringWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                                  const JCSerializer::UnsupportedClassBlock& block, Ref<Error>* error) {
  return dyn<String>(write(collection, options, kCollectionAsString, block, nullptr, {}, error));
}

}  // namespace zv::jsoncodec
