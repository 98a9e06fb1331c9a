#include "platform/net/TLSSettings.h"

#include <map>
#include <mutex>
#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "platform/foundation/ForkHandlers.h"
#include "platform/net/NetErrors.h"
#include "platform/net/TLSContext.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv::net {

namespace {

struct ContextCache {
  // Held across a fork (ForkHandlers.h).
  ForkMutex mutex{ForkLockLevel::TLSContexts};
  std::map<std::string, std::shared_ptr<SSL_CTX>> contexts;
  std::vector<std::string> extraAnchors;
};

ContextCache& cache() {
  static ContextCache& instance = *new ContextCache;
  return instance;
}
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gCacheMade = (cache(), true);

X509* readCertificate(std::string_view pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return nullptr;
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return cert;
}

EVP_PKEY* readKey(std::string_view pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return key;
}

void setError(Ref<Error>* error, std::string text) {
  ERR_clear_error();
  if (error) *error = makeTLSError(kSSLBadCert, std::move(text));
}

}  // namespace

Ref<Certificate> Certificate::fromPEM(std::string_view pem, Ref<Error>* error) {
  X509* cert = readCertificate(pem);
  if (!cert) {
    setError(error, "The certificate could not be read");
    return nullptr;
  }
  X509_free(cert);
  return std::make_shared<Certificate>(std::string(pem));
}

std::string Certificate::subjectSummary() const {
  X509* cert = readCertificate(pem_);
  if (!cert) return {};
  char buffer[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, buffer, sizeof buffer);
  X509_free(cert);
  return buffer;
}

bool Certificate::isEqual(const Object& other) const {
  auto* certificate = dynamic_cast<const Certificate*>(&other);
  return certificate && certificate->pem_ == pem_;
}

std::size_t Certificate::hash() const { return std::hash<std::string>()(pem_); }

Ref<ClientIdentity> ClientIdentity::fromPEM(std::string_view certificatePEM, std::string_view privateKeyPEM,
                                            Ref<Error>* error) {
  auto certificate = Certificate::fromPEM(certificatePEM, error);
  if (!certificate) return nullptr;
  X509* cert = readCertificate(certificatePEM);
  EVP_PKEY* key = readKey(privateKeyPEM);
  bool matches = cert && key && X509_check_private_key(cert, key) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  if (!matches) {
    setError(error, "The private key could not be read or does not match the certificate");
    return nullptr;
  }
  return std::make_shared<ClientIdentity>(std::move(certificate), std::string(privateKeyPEM));
}

bool TLSSettings::sameConnectionClass(const TLSSettings& other) const {
  if (validatesCertificateChain != other.validatesCertificateChain) return false;
  if (peerName != other.peerName) return false;
  if (!identity != !other.identity) return false;
  if (identity && (identity->certificate()->pem() != other.identity->certificate()->pem() ||
                   identity->privateKeyPEM() != other.identity->privateKeyPEM())) {
    return false;
  }
  if (chain.size() != other.chain.size()) return false;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    if (chain[i]->pem() != other.chain[i]->pem()) return false;
  }
  return true;
}

void addTrustedCertificate(const Ref<Certificate>& certificate) {
  if (!certificate) return;
  std::lock_guard lock(cache().mutex);
  cache().extraAnchors.push_back(certificate->pem());
  cache().contexts.clear();
}

void removeAllAddedTrustedCertificates() {
  std::lock_guard lock(cache().mutex);
  cache().extraAnchors.clear();
  cache().contexts.clear();
}

std::shared_ptr<SSL_CTX> tlsContextFor(const TLSSettings& settings, Ref<Error>* error) {
  std::string key = settings.validatesCertificateChain ? "v1|" : "v0|";
  if (settings.identity) key += settings.identity->certificate()->pem() + settings.identity->privateKeyPEM();
  for (const auto& cert : settings.chain) key += "|" + cert->pem();
  auto environmentAnchor = ApplicationEnvironment::shared().extraTrustAnchor();
  if (environmentAnchor && settings.validatesCertificateChain) key += "|anchor|" + *environmentAnchor;

  std::lock_guard lock(cache().mutex);
  auto found = cache().contexts.find(key);
  if (found != cache().contexts.end()) return found->second;

  SSL_CTX* raw = SSL_CTX_new(TLS_client_method());
  if (!raw) {
    setError(error, "No TLS context");
    return nullptr;
  }
  std::shared_ptr<SSL_CTX> context(raw, SSL_CTX_free);
  SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
  SSL_CTX_set_mode(raw, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // An end without close_notify stays visible (connections report it): a body delimited by the
  // connection's end is complete only after a close_notify, while framed ones are unaffected.
  if (settings.validatesCertificateChain) {
    SSL_CTX_set_default_verify_paths(raw);
    X509_STORE* store = SSL_CTX_get_cert_store(raw);
    std::vector<std::string> anchors = cache().extraAnchors;
    if (environmentAnchor) anchors.push_back(*environmentAnchor);
    for (const auto& pem : anchors) {
      if (X509* anchor = readCertificate(pem)) {
        X509_STORE_add_cert(store, anchor);
        X509_free(anchor);
      }
    }
    SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(raw, SSL_VERIFY_NONE, nullptr);
  }
  if (settings.identity) {
    X509* cert = readCertificate(settings.identity->certificate()->pem());
    EVP_PKEY* privateKey = readKey(settings.identity->privateKeyPEM());
    bool ok = cert && privateKey && SSL_CTX_use_certificate(raw, cert) == 1 &&
              SSL_CTX_use_PrivateKey(raw, privateKey) == 1 && SSL_CTX_check_private_key(raw) == 1;
    X509_free(cert);
    EVP_PKEY_free(privateKey);
    for (const auto& link : settings.chain) {
      X509* chainCert = readCertificate(link->pem());
      // add1 takes its own reference.
      if (!chainCert || SSL_CTX_add1_chain_cert(raw, chainCert) != 1) ok = false;
      X509_free(chainCert);
    }
    if (!ok) {
      setError(error, "The client identity could not be loaded");
      return nullptr;
    }
  }
  cache().contexts.emplace(key, context);
  return context;
}

}  // namespace zv::net
