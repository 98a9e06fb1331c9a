#include "sharing/core/oauth/OCToken.h"

#include "platform/foundation/String.h"

#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv {

namespace {
std::string defaultsKey(std::string_view prefix, std::string_view provider, const char* field) {
  return "OAUTH_" + std::string(prefix) + "_" + std::string(provider) + "_" + field;
}
}  // namespace

Ref<OCToken> OCToken::make() {
  auto token = make("", "");
  token->sessionHandle_ = std::string();
  return token;
}

Ref<OCToken> OCToken::make(std::string key, std::string secret) {
  auto token = std::make_shared<OCToken>();
  token->key_ = std::move(key);
  token->secret_ = std::move(secret);
  return token;
}

Ref<OCToken> OCToken::initWithHTTPResponseBody(std::string_view body) {
  auto token = std::make_shared<OCToken>();
  oauth_encoding::forEachFormPair(body, [&](std::string_view name, std::string_view raw) {
    std::string value = oauth_encoding::URLDecodedString(raw).value_or(std::string(raw));
    if (name == "oauth_token") {
      token->key_ = std::move(value);
    } else if (name == "oauth_token_secret") {
      token->secret_ = std::move(value);
    } else if (name == "oauth_session_handle") {
      token->sessionHandle_ = std::move(value);
    }
  });
  return token;
}

Ref<OCToken> OCToken::initWithUserDefaultsUsingServiceProviderName(const UserDefaults& defaults,
                                                                   std::string_view provider,
                                                                   std::string_view prefix) {
  auto key = defaults.stringForKey(defaultsKey(prefix, provider, "KEY"));
  auto secret = defaults.stringForKey(defaultsKey(prefix, provider, "SECRET"));
  if (!key || !secret) return nullptr;
  return make(std::move(*key), std::move(*secret));
}

int OCToken::storeInUserDefaultsWithServiceProviderName(UserDefaults& defaults, std::string_view provider,
                                                        std::string_view prefix) const {
  defaults.setObject(String::make(key_.value_or("")), defaultsKey(prefix, provider, "KEY"));
  defaults.setObject(String::make(secret_.value_or("")), defaultsKey(prefix, provider, "SECRET"));
  defaults.synchronize();
  return 0;
}

}  // namespace zv
