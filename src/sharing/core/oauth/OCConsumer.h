#pragma once
// An OAuth consumer: the application's key and secret. Immutable; any thread.

#include <string>

#include "platform/foundation/Object.h"

namespace zv {

class OCConsumer : public Object {
 public:
  static Ref<OCConsumer> make(std::string key, std::string secret) {
    return std::make_shared<OCConsumer>(std::move(key), std::move(secret));
  }

  const std::string& key() const { return key_; }
  const std::string& secret() const { return secret_; }

  OCConsumer(std::string key, std::string secret) : key_(std::move(key)), secret_(std::move(secret)) {}

 private:
  std::string key_;
  std::string secret_;
};

}  // namespace zv
