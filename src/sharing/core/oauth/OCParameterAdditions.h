#pragma once
// Reading and writing a platform request's parameters: the URL's query for "GET" and "DELETE", the
// form-encoded body for every other method. Not thread-safe: the request's own thread.

#include <optional>
#include <vector>

#include "platform/net/URLRequest.h"
#include "sharing/core/oauth/OCRequestParameter.h"

namespace zv::oauth_parameters {

// The parameters in source order, percent-decoded (a value that does not decode is kept as
// written; a piece without "=" has the empty value); nullopt when the source is absent or empty.
std::optional<std::vector<Ref<OCRequestParameter>>> parameters(const net::URLRequest& request);
// For "GET"/"DELETE" the URL becomes the URL without its query, "?" and the encoded pairs (the "?"
// even for none); otherwise the pairs become the body, with "Content-Length" and "Content-Type"
// "application/x-www-form-urlencoded".
void setParameters(net::MutableURLRequest& request, const std::vector<Ref<OCRequestParameter>>& parameters);

}  // namespace zv::oauth_parameters
