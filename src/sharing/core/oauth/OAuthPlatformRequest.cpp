#include "sharing/core/oauth/OAuthPlatformRequest.h"

namespace zv::oauth_platform {

Ref<net::MutableURLRequest> platformRequest(const OAuthURLRequest& request) {
  auto policy = request.cachePolicy() == OAuthURLRequest::CachePolicy::ReloadIgnoringLocalCacheData
                    ? net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData
                    : net::URLRequestCachePolicy::UseProtocolCachePolicy;
  auto platform = net::MutableURLRequest::requestWithURL(request.url(), policy, request.timeoutInterval());
  platform->setHTTPMethod(request.HTTPMethod());
  for (const auto& [name, value] : request.allHTTPHeaderFields()) {
    platform->setValueForHTTPHeaderField(value, name);
  }
  if (request.HTTPBody()) platform->setHTTPBody(request.HTTPBody());
  platform->setHTTPShouldHandleCookies(request.HTTPShouldHandleCookies());
  return platform;
}

}  // namespace zv::oauth_platform
