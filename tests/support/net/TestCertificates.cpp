#include "support/net/TestCertificates.h"

#include <fstream>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace zv::testing {

namespace {

std::string keyToPEM(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  return text;
}

std::string certToPEM(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  return text;
}

EVP_PKEY* readKey(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return key;
}

X509* readCert(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return cert;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (!extension) throw std::runtime_error("bad certificate extension " + value);
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

TestKeyPair make(const std::string& commonName, const std::vector<std::string>& subjectAltNames, bool isAuthority,
                 const TestKeyPair* issuerPair, long notBefore, long notAfter) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("no key");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
  X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  X509* issuerCert = issuerPair ? readCert(issuerPair->certificatePEM) : nullptr;
  EVP_PKEY* issuerKey = issuerPair ? readKey(issuerPair->privateKeyPEM) : nullptr;
  X509_set_issuer_name(cert, issuerCert ? X509_get_subject_name(issuerCert) : name);
  X509* extensionIssuer = issuerCert ? issuerCert : cert;
  if (isAuthority) {
    addExtension(cert, extensionIssuer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, extensionIssuer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExtension(cert, extensionIssuer, NID_basic_constraints, "CA:FALSE");
    addExtension(cert, extensionIssuer, NID_ext_key_usage, "serverAuth,clientAuth");
  }
  addExtension(cert, extensionIssuer, NID_subject_key_identifier, "hash");
  if (!subjectAltNames.empty()) {
    std::string names;
    for (const auto& entry : subjectAltNames) names += (names.empty() ? "" : ",") + entry;
    addExtension(cert, extensionIssuer, NID_subject_alt_name, names);
  }
  X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256());
  TestKeyPair pair{certToPEM(cert), keyToPEM(key)};
  X509_free(cert);
  X509_free(issuerCert);
  EVP_PKEY_free(issuerKey);
  EVP_PKEY_free(key);
  return pair;
}

}  // namespace

std::pair<std::filesystem::path, std::filesystem::path> TestKeyPair::writeTo(const std::filesystem::path& folder,
                                                                             const std::string& stem) const {
  auto certPath = folder / (stem + ".crt");
  auto keyPath = folder / (stem + ".key");
  std::ofstream(certPath) << certificatePEM;
  std::ofstream(keyPath) << privateKeyPEM;
  return {certPath, keyPath};
}

TestCertificateAuthority::TestCertificateAuthority(const std::string& commonName)
    : authority_(make(commonName, {}, true, nullptr, -3600, 365L * 86400)) {}

TestKeyPair TestCertificateAuthority::issue(const std::string& commonName, const std::vector<std::string>& subjectAltNames,
                                            long notBeforeSeconds, long notAfterSeconds) const {
  return make(commonName, subjectAltNames, false, &authority_, notBeforeSeconds, notAfterSeconds);
}

TestKeyPair TestCertificateAuthority::issueForHosts(const std::vector<std::string>& hostNames) const {
  std::vector<std::string> names;
  for (const auto& host : hostNames) names.push_back("DNS:" + host);
  names.push_back("IP:127.0.0.1");
  return issue(hostNames.empty() ? std::string("localhost") : hostNames.front(), names);
}

TestCertificateAuthority TestCertificateAuthority::intermediate(const std::string& commonName) const {
  return TestCertificateAuthority(make(commonName, {}, true, &authority_, -3600, 365L * 86400));
}

TestKeyPair TestCertificateAuthority::selfSigned(const std::string& commonName,
                                                 const std::vector<std::string>& subjectAltNames) {
  return make(commonName, subjectAltNames, false, nullptr, -3600, 30L * 86400);
}

}  // namespace zv::testing
