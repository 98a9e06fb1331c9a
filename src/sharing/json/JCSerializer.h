#pragma once
// JCSerializer: a tree of Dictionaries, Arrays, Strings, Numbers and the null object as UTF-8 JSON
// text, returned as a String or as Data. Objects of other classes can be converted on the fly by a
// callback or by a delegate method named by selector. Strings, numbers and null met again in the
// same call are copied from the earlier output. Failures give nullptr and one Error (domain
// "JCErrorDomain", code -1). Cycles and nesting deeper than JCMaximumDepth are errors.
// Thread contract: one call at a time per serializer; the one-call conversions make their own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv {

using JCSerializeOptionFlags = std::uint32_t;
inline constexpr JCSerializeOptionFlags JCSerializeOptionNone = 0;
// Line breaks, two-space indentation, ": " after keys, keys in sorted order.
inline constexpr JCSerializeOptionFlags JCSerializePretty = 1;
// Every non-ASCII character as "\u" escapes.
inline constexpr JCSerializeOptionFlags JCSerializeEscapeUnicode = 2;
// "/" as "\/".
inline constexpr JCSerializeOptionFlags JCSerializeEscapeSlash = 16;

using JCEncodeOptionType = std::uint32_t;
inline constexpr JCEncodeOptionType JCEncodeAsData = 1;
inline constexpr JCEncodeOptionType JCEncodeAsString = 2;
inline constexpr JCEncodeOptionType JCEncodeAsTypeMask = 7;
inline constexpr JCEncodeOptionType JCEncodeRequireCollection = 8;
inline constexpr JCEncodeOptionType JCEncodeRequireString = 16;
inline constexpr JCEncodeOptionType JCEncodeOmitQuotes = 32;

namespace detail {
class JCEncodeState;
}

class JCSerializer : public Object {
 public:
  // Converts an object of an unsupported class; nullptr when it cannot.
  using UnsupportedClassBlock = std::function<ObjectPtr(const ObjectPtr& object)>;

  // A fresh serializer's serialize().
  static ObjectPtr serializeObject(const ObjectPtr& object, JCSerializeOptionFlags options,
                                   JCEncodeOptionType encodeOption, const UnsupportedClassBlock& block,
                                   const ObjectPtr& delegate, std::string_view selector, Ref<Error>* error);

  JCSerializer();
  ~JCSerializer() override;

  // Writes `object`; the result is a String (JCEncodeAsString) or Data (JCEncodeAsData), nullptr on
  // failure. The block, when given, wins over the delegate, whose method `selector` is called with
  // the object through performSelector. Raises "NSInvalidArgumentException" for a delegate without
  // a selector, or one that does not respond to it. `error` is cleared first.
  ObjectPtr serialize(const ObjectPtr& object, JCSerializeOptionFlags options, JCEncodeOptionType encodeOption,
                      const UnsupportedClassBlock& block, const ObjectPtr& delegate, std::string_view selector,
                      Ref<Error>* error);

  void releaseState();

 private:
  std::unique_ptr<detail::JCEncodeState> state_;
};

}  // namespace zv
