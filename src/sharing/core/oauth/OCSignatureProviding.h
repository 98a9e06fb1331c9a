#pragma once
// How a request's signature is made from its base string and the signing secret. Providers are
// stateless; any thread.

#include <string>
#include <string_view>

#include "platform/foundation/Object.h"
#include "platform/foundation/Protocol.h"

namespace zv {

class OCSignatureProviding : public Protocol {
 public:
  // The signature method as sent on the wire.
  virtual std::string name() const = 0;
  virtual std::string signClearText(std::string_view text, std::string_view secret) const = 0;
};

// Base64 of HMAC-SHA1 keyed with the secret over the text (28 characters).
class OCHMAC_SHA1SignatureProvider : public Object, public OCSignatureProviding {
 public:
  static Ref<OCHMAC_SHA1SignatureProvider> make() { return std::make_shared<OCHMAC_SHA1SignatureProvider>(); }
  std::string name() const override { return "HMAC-SHA1"; }
  std::string signClearText(std::string_view text, std::string_view secret) const override;
};

// The secret itself.
class OCPlaintextSignatureProvider : public Object, public OCSignatureProviding {
 public:
  static Ref<OCPlaintextSignatureProvider> make() { return std::make_shared<OCPlaintextSignatureProvider>(); }
  std::string name() const override { return "PLAINTEXT"; }
  std::string signClearText(std::string_view, std::string_view secret) const override { return std::string(secret); }
};

}  // namespace zv
