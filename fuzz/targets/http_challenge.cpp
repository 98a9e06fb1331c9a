// Authentication challenges of arbitrary text: the grammar never reads out of bounds, an object
// made from a challenge applies credentials without crashing, and an NTLM challenge message of
// any bytes is either refused or answered.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/net/HTTPAuthentication.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto challenges = zv::net::parseChallenges(text);
  if (challenges && challenges->empty()) std::abort();  // a list is never empty

  auto response = zv::net::HTTPMessage::makeResponse(size % 2 ? 401 : 407);
  response->setHeaderField(size % 2 ? "WWW-Authenticate" : "Proxy-Authenticate", text);
  auto request = zv::net::HTTPMessage::makeRequest("GET", zv::URL::make("http://h/p?q"));
  zv::Ref<zv::Error> error;
  auto authentication = zv::net::HTTPAuthentication::fromResponse(*response, request.get(), &error);
  if (!authentication) {
    if (!error) std::abort();  // refusals say why
    return 0;
  }
  auto credentials = zv::MutableDictionary::make();
  credentials->setObject(zv::box("user"), zv::net::kHTTPAuthenticationUsername);
  credentials->setObject(zv::box("password"), zv::net::kHTTPAuthenticationPassword);
  authentication->applyCredentials(*credentials, *request);
  authentication->updateFromResponse(*response, request.get());
  return 0;
}
