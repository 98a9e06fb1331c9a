#include "sharing/json/JSONDecoder.h"

#include "sharing/json/JCParseState.h"

namespace zv {

Ref<JSONDecoder> JSONDecoder::decoderWithParseOptions(JCParseOptionFlags options) {
  return std::make_shared<JSONDecoder>(options);
}

JSONDecoder::JSONDecoder(JCParseOptionFlags options) {
  if (options >= JCParseOptionsLimit) Exception::raise(kInvalidArgumentException, "Invalid parse options.");
  state_ = std::make_unique<detail::JCParseState>(options);
}

JSONDecoder::~JSONDecoder() = default;

void JSONDecoder::clearCache() {
  if (state_) state_->clearCache();
}

void JSONDecoder::releaseState() { state_.reset(); }

ObjectPtr JSONDecoder::parse(const char* bytes, std::size_t length, bool mutableCollections, Ref<Error>* error) {
  if (!state_) Exception::raise(kInternalInconsistencyException, "parseState is NULL.");
  if (bytes == nullptr) Exception::raise(kInvalidArgumentException, "The string argument is NULL.");
  return state_->parse(reinterpret_cast<const unsigned char*>(bytes), length, mutableCollections, error);
}

ObjectPtr JSONDecoder::objectWithUTF8String(const char* bytes, std::size_t length, Ref<Error>* error) {
  return parse(bytes, length, false, error);
}

ObjectPtr JSONDecoder::mutableObjectWithUTF8String(const char* bytes, std::size_t length, Ref<Error>* error) {
  return parse(bytes, length, true, error);
}

ObjectPtr JSONDecoder::objectWithData(const Ref<Data>& data, Ref<Error>* error) {
  if (!data) Exception::raise(kInvalidArgumentException, "The jsonData argument is NULL.");
  return parse(data->view().data() ? data->view().data() : "", data->length(), false, error);
}

ObjectPtr JSONDecoder::mutableObjectWithData(const Ref<Data>& data, Ref<Error>* error) {
  if (!data) Exception::raise(kInvalidArgumentException, "The jsonData argument is NULL.");
  return parse(data->view().data() ? data->view().data() : "", data->length(), true, error);
}

}  // namespace zv
