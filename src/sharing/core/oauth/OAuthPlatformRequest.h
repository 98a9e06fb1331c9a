#pragma once
// Hands a signed request to the platform's URL loading: a platform request with the same URL,
// method, headers, body, cache policy, time-out and cookie handling. The copy is made after
// signing, so nothing changes the signature afterwards.

#include "platform/net/URLRequest.h"
#include "sharing/core/oauth/OAuthURLRequest.h"

namespace zv::oauth_platform {

Ref<net::MutableURLRequest> platformRequest(const OAuthURLRequest& request);

}  // namespace zv::oauth_platform
