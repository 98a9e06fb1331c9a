#pragma once
// JSONDecoder: UTF-8 JSON text to a tree of JCArray / JCDictionary collections, Strings, Numbers
// and the shared true, false and null objects. Top-level values must be arrays or objects.
// A decoder keeps a cache of recently decoded strings and numbers across its parses, so equal
// tokens come back as the same object (identity, not just equality); it keeps values of the
// previous parse at most, each parse dropping the older ones.
// The values of one parse share that parse's memory blocks, freed together when the last of them
// is released (on any thread): a value kept from a document keeps the whole document's blocks.
// Failures return nullptr and give one Error (domain "JCErrorDomain", code -1, with the byte
// index under "JCAtIndexKey" and the 1-based line under "JCLineNumberKey").
// Thread contract: a decoder serves one thread at a time; its parses run to completion.

#include <memory>

#include "platform/foundation/Values.h"
#include "sharing/json/JCParseOptions.h"

namespace zv {

namespace detail {
class JCParseState;
}

class JSONDecoder : public Object {
 public:
  static Ref<JSONDecoder> decoder() { return decoderWithParseOptions(JCParseStrict); }
  static Ref<JSONDecoder> decoderWithParseOptions(JCParseOptionFlags options);

  // Raises "NSInvalidArgumentException" "Invalid parse options." for options of 16 or more.
  explicit JSONDecoder(JCParseOptionFlags options = JCParseStrict);
  ~JSONDecoder() override;

  // Immutable collections. Raises "NSInvalidArgumentException" for a null `bytes` and
  // "NSInternalInconsistencyException" once the state was released. `error` (nullable) receives the
  // error of a failed parse and is left alone on success.
  ObjectPtr objectWithUTF8String(const char* bytes, std::size_t length, Ref<Error>* error = nullptr);
  // The same, building mutable collections.
  ObjectPtr mutableObjectWithUTF8String(const char* bytes, std::size_t length, Ref<Error>* error = nullptr);
  // Raise "NSInvalidArgumentException" "The jsonData argument is NULL." for nullptr data.
  ObjectPtr objectWithData(const Ref<Data>& data, Ref<Error>* error = nullptr);
  ObjectPtr mutableObjectWithData(const Ref<Data>& data, Ref<Error>* error = nullptr);

  // Older names of the same calls.
  ObjectPtr parseUTF8String(const char* bytes, std::size_t length, Ref<Error>* error = nullptr) {
    return objectWithUTF8String(bytes, length, error);
  }
  ObjectPtr parseJSONData(const Ref<Data>& data, Ref<Error>* error = nullptr) { return objectWithData(data, error); }

  // Drops every cached string and number.
  void clearCache();
  // Frees the parse state and cache at once (the one-call conversions do this); later parses raise.
  void releaseState();

 private:
  ObjectPtr parse(const char* bytes, std::size_t length, bool mutableCollections, Ref<Error>* error);

  std::unique_ptr<detail::JCParseState> state_;
};

}  // namespace zv
