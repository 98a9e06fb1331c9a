#include "sharing/core/oauth/OCParameterAdditions.h"

#include <string>

#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv::oauth_parameters {

namespace {

bool usesQuery(const net::URLRequest& request) {
  return request.HTTPMethod() == "GET" || request.HTTPMethod() == "DELETE";
}

std::string decodedOrRaw(std::string_view text) {
  return oauth_encoding::URLDecodedString(text).value_or(std::string(text));
}

}  // namespace

std::optional<std::vector<Ref<OCRequestParameter>>> parameters(const net::URLRequest& request) {
  std::string_view source;
  if (usesQuery(request)) {
    if (!request.url() || !request.url()->query()) return std::nullopt;
    source = *request.url()->query();
  } else {
    if (!request.HTTPBody()) return std::nullopt;
    source = request.HTTPBody()->view();
  }
  if (source.empty()) return std::nullopt;
  std::vector<Ref<OCRequestParameter>> result;
  oauth_encoding::forEachFormPair(source, [&](std::string_view name, std::string_view value) {
    result.push_back(OCRequestParameter::requestParameterWithName(decodedOrRaw(name), decodedOrRaw(value)));
  });
  return result;
}

void setParameters(net::MutableURLRequest& request, const std::vector<Ref<OCRequestParameter>>& parameters) {
  std::string joined;
  for (const auto& parameter : parameters) {
    if (!joined.empty()) joined += '&';
    joined += parameter->URLEncodedNameValuePair();
  }
  if (usesQuery(request)) {
    std::string base = request.url() ? oauth_encoding::URLStringWithoutQuery(*request.url()) : std::string();
    if (auto url = URL::make(base + "?" + joined)) request.setURL(std::move(url));
    return;
  }
  // The pairs are percent-encoded, so the body is plain ASCII.
  request.setHTTPBody(Data::make(joined));
  request.setValueForHTTPHeaderField(std::to_string(joined.size()), "Content-Length");
  request.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
}

}  // namespace zv::oauth_parameters
