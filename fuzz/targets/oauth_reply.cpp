// OAuth reply and parameter parsing of arbitrary bytes: token replies, form bodies and query
// strings never crash, and signing whatever they yield works.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sharing/core/oauth/OAuthEncoding.h"
#include "sharing/core/oauth/OCMutableURLRequest.h"
#include "sharing/core/oauth/OCParameterAdditions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto token = zv::OCToken::initWithHTTPResponseBody(text);

  if (auto decoded = zv::oauth_encoding::URLDecodedString(text)) {
    if (zv::oauth_encoding::URLDecodedString(zv::oauth_encoding::URLEncodedString(*decoded)) != decoded) std::abort();
  }

  auto request = zv::OCMutableURLRequest::make(zv::URL::make("https://api.example.com/1/update"),
                                               zv::OCConsumer::make("key", "secret"), token, std::nullopt, nullptr,
                                               "nonce", "1");
  request->setHTTPMethod("POST");
  request->setHTTPBody(zv::Data::make(text));
  auto parameters = zv::oauth_parameters::parameters(*request);
  request->prepare();
  if (request->signature().size() != 28) std::abort();

  if (parameters) {
    auto get = zv::net::MutableURLRequest::requestWithURL(zv::URL::make("http://h/p"));
    zv::oauth_parameters::setParameters(*get, *parameters);
    auto reread = zv::oauth_parameters::parameters(*get);
    if (!parameters->empty() && (!reread || reread->size() != parameters->size())) std::abort();
  }
  return 0;
}
