#pragma once
// Certificates made at test time with OpenSSL: a test certificate authority that issues server and
// client certificates (valid, expired, for another host), and self-signed certificates.

#include <filesystem>
#include <string>
#include <vector>

namespace zv::testing {

struct TestKeyPair {
  std::string certificatePEM;
  std::string privateKeyPEM;
  // Writes "<stem>.crt" and "<stem>.key" into `folder`; returns the two paths.
  std::pair<std::filesystem::path, std::filesystem::path> writeTo(const std::filesystem::path& folder,
                                                                  const std::string& stem) const;
};

class TestCertificateAuthority {
 public:
  explicit TestCertificateAuthority(const std::string& commonName = "Zerivudor Test CA");
  const TestKeyPair& authority() const { return authority_; }
  const std::string& certificatePEM() const { return authority_.certificatePEM; }

  // A certificate signed by this authority. `subjectAltNames` entries are "DNS:name" or "IP:addr";
  // validity runs from now + notBeforeSeconds to now + notAfterSeconds.
  TestKeyPair issue(const std::string& commonName, const std::vector<std::string>& subjectAltNames,
                    long notBeforeSeconds = -3600, long notAfterSeconds = 30L * 86400) const;

  // A server certificate naming each of `hostNames` (and 127.0.0.1), for a loopback stand-in that
  // poses as real hosts through the test host map.
  TestKeyPair issueForHosts(const std::vector<std::string>& hostNames) const;

  // An intermediate authority signed by this one (for client and server chains).
  TestCertificateAuthority intermediate(const std::string& commonName) const;

  // A certificate that signs itself.
  static TestKeyPair selfSigned(const std::string& commonName, const std::vector<std::string>& subjectAltNames);

 private:
  explicit TestCertificateAuthority(TestKeyPair authority) : authority_(std::move(authority)) {}
  TestKeyPair authority_;
};

}  // namespace zv::testing
