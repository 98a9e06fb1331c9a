#pragma once
// OpenSSL client contexts, one per distinct (validation, client identity) pair, shared by every
// connection that needs the same. Internal to the network layer. Thread-safe.

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/net/TLSSettings.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace zv::net {

// nullptr with *error set when the identity cannot be loaded.
std::shared_ptr<SSL_CTX> tlsContextFor(const TLSSettings& settings, Ref<Error>* error);

}  // namespace zv::net
