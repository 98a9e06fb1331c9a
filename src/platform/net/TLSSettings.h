#pragma once
// Secure-connection settings of one stream, and the client identities it may present.
// Certificates and keys are held as PEM text; the TLS layer turns them into OpenSSL objects.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace zv::net {

// One X.509 certificate.
class Certificate : public Object {
 public:
  // nullptr (and *error set) when the PEM does not hold a certificate.
  static Ref<Certificate> fromPEM(std::string_view pem, Ref<Error>* error = nullptr);
  const std::string& pem() const { return pem_; }
  // The subject's common name, for logs and tests.
  std::string subjectSummary() const;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  explicit Certificate(std::string pem) : pem_(std::move(pem)) {}

 private:
  std::string pem_;
};

// A certificate with its private key: what a client presents when the server asks.
class ClientIdentity : public Object {
 public:
  // nullptr (and *error set) when either part is unreadable or the key does not match.
  static Ref<ClientIdentity> fromPEM(std::string_view certificatePEM, std::string_view privateKeyPEM,
                                     Ref<Error>* error = nullptr);
  const Ref<Certificate>& certificate() const { return certificate_; }
  const std::string& privateKeyPEM() const { return keyPEM_; }

  ClientIdentity(Ref<Certificate> certificate, std::string keyPEM)
      : certificate_(std::move(certificate)), keyPEM_(std::move(keyPEM)) {}

 private:
  Ref<Certificate> certificate_;
  std::string keyPEM_;
};

struct TLSSettings {
  // NO turns off validation of the chain AND of the host name (per request); YES checks both
  // against the system trust store (plus the process's extra anchors).
  bool validatesCertificateChain = true;
  // The name to verify and to send as SNI; the URL's host when empty.
  std::optional<std::string> peerName;
  // Presented when the server asks for a client certificate; `chain` follows it.
  Ref<ClientIdentity> identity;
  std::vector<Ref<Certificate>> chain;

  // Equal settings may share a pooled connection.
  bool sameConnectionClass(const TLSSettings& other) const;
};

// Process-wide trust anchors used beside the system store (tests trust the CA they generate).
// Thread-safe; affects connections opened afterwards.
void addTrustedCertificate(const Ref<Certificate>& certificate);
void removeAllAddedTrustedCertificates();

}  // namespace zv::net
