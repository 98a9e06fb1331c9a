#pragma once
// One-call conversions between JSON text and values: each parse makes a throw-away JSONDecoder
// (freeing its state before returning), each write a fresh JCSerializer. Any thread.

#include "platform/foundation/Values.h"
#include "sharing/json/JCParseOptions.h"
#include "sharing/json/JCSerializer.h"

namespace zv::jsoncodec {

// Parsing a String's text or Data's bytes; `error` (nullable) receives the parse error.
ObjectPtr objectFromJSONString(const String& string, JCParseOptionFlags options = JCParseStrict,
                               Ref<Error>* error = nullptr);
ObjectPtr mutableObjectFromJSONString(const String& string, JCParseOptionFlags options = JCParseStrict,
                                      Ref<Error>* error = nullptr);
ObjectPtr objectFromJSONData(const Ref<Data>& data, JCParseOptionFlags options = JCParseStrict,
                             Ref<Error>* error = nullptr);
ObjectPtr mutableObjectFromJSONData(const Ref<Data>& data, JCParseOptionFlags options = JCParseStrict,
                                    Ref<Error>* error = nullptr);

// Writing a single string, with or without its enclosing quotes.
Ref<Data> JSONData(const Ref<String>& string);
Ref<String> JSONString(const Ref<String>& string);
Ref<Data> JSONDataWithOptions(const Ref<String>& string, JCSerializeOptionFlags options, bool includeQuotes,
                              Ref<Error>* error = nullptr);
Ref<String> JSONStringWithOptions(const Ref<String>& string, JCSerializeOptionFlags options, bool includeQuotes,
                                  Ref<Error>* error = nullptr);

// Writing an array or a dictionary (the top level must be one of them).
Ref<Data> JSONData(const ObjectPtr& collection);
Ref<String> JSONString(const ObjectPtr& collection);
Ref<Data> JSONDataWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                              Ref<Error>* error = nullptr);
Ref<String> JSONStringWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                                  Ref<Error>* error = nullptr);
// With objects of unsupported classes converted by the delegate's method `selector`.
Ref<Data> JSONDataWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                              const ObjectPtr& delegate, std::string_view selector, Ref<Error>* error = nullptr);
Ref<String> JSONStringWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                                  const ObjectPtr& delegate, std::string_view selector, Ref<Error>* error = nullptr);
// With objects of unsupported classes converted by a callback.
Ref<Data> JSONDataWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                              const JCSerializer::UnsupportedClassBlock& block, Ref<Error>* error = nullptr);
Ref<String> JSONStringWithOptions(const ObjectPtr& collection, JCSerializeOptionFlags options,
                                  const JCSerializer::UnsupportedClassBlock& block, Ref<Error>* error = nullptr);

}  // namespace zv::jsoncodec
