#include "support/net/NTLMStandIn.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "platform/net/HTTPAuthentication.h"

namespace zv::testing {

namespace {

std::string base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string unbase64(const std::string& text) {
  if (text.empty() || text.size() % 4) return {};
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return {};
  std::size_t pad = (text.back() == '=') + (text[text.size() - 2] == '=');
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

std::uint32_t le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
  return v;
}
std::uint16_t le16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8));
}
// The payload a security buffer at `at` points to; empty when it points outside the message.
std::string field(const std::string& message, std::size_t at) {
  std::size_t length = le16(message, at);
  std::size_t offset = le32(message, at + 4);
  if (offset > message.size() || length > message.size() - offset) return {};
  return message.substr(offset, length);
}

std::string challengeAnswer(const std::string& token) {
  std::string header = token.empty() ? "NTLM" : "NTLM " + token;
  return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + header + "\r\nContent-Length: 0\r\n\r\n";
}

std::span<const std::uint8_t> bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

void NTLMStandIn::install(FaultServer& server, const std::string& path) {
  server.route(path, [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    auto authorization = request.header("Authorization").value_or("");
    if (authorization.rfind("NTLM ", 0) != 0) return connection.send(challengeAnswer(""));
    std::string message = unbase64(authorization.substr(5));
    if (message.size() < 12 || std::memcmp(message.data(), "NTLMSSP\0", 8) != 0) {
      return connection.send(challengeAnswer(""));
    }
    std::uint32_t type = le32(message, 8);
    if (type == 1) {
      std::string challenge(8, '\0');
      RAND_bytes(reinterpret_cast<unsigned char*>(challenge.data()), 8);
      // Target information: the NetBIOS domain name, then the end marker.
      auto domain = net::ntlm::utf16le(domain_);
      std::string info = {2, 0, static_cast<char>(domain.size()), 0};
      info.append(domain.begin(), domain.end());
      info.append(4, '\0');
      std::string out(48, '\0');
      std::memcpy(out.data(), "NTLMSSP\0", 8);
      out[8] = 2;
      std::uint32_t flags = 0x00828205;
      for (int i = 0; i < 4; ++i) out[20 + i] = static_cast<char>(flags >> (8 * i));
      out.replace(24, 8, challenge);
      out[40] = static_cast<char>(info.size());
      out[42] = static_cast<char>(info.size());
      out[44] = 48;
      out += info;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        challenges_[request.connectionNumber] = challenge;
        targetInfo_[request.connectionNumber] = info;
      }
      return connection.send(challengeAnswer(base64(out)));
    }
    if (type == 3 && verify(message, request.connectionNumber)) {
      return connection.send("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nntlm ok");
    }
    connection.send(challengeAnswer(""));
  });
}

bool NTLMStandIn::verify(const std::string& message, int connection) {
  ++checked_;
  std::string challenge, info;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = challenges_.find(connection);
    if (found == challenges_.end()) return false;  // not the connection the challenge went over
    challenge = found->second;
    info = targetInfo_[connection];
    challenges_.erase(found);
  }
  if (message.size() < 64) return false;
  std::string nt = field(message, 20);
  std::string user = field(message, 36);
  std::string domain = field(message, 28);
  auto expectedUser = net::ntlm::utf16le(user_);
  auto expectedDomain = net::ntlm::utf16le(domain_);
  if (user != std::string(expectedUser.begin(), expectedUser.end()) ||
      domain != std::string(expectedDomain.begin(), expectedDomain.end()) || nt.size() < 16 + 28) {
    return false;
  }
  std::string proof = nt.substr(0, 16);
  std::string blob = nt.substr(16);
  // The blob must carry the target information this server sent.
  if (blob.find(info) == std::string::npos) return false;
  auto hash = net::ntlm::ntHash(password_);
  if (!hash) return false;
  auto v2 = net::ntlm::ntlmv2Hash(*hash, user_, domain_);
  auto recomputed = net::ntlm::hmacMD5(v2, bytes(challenge + blob));
  if (std::memcmp(recomputed.data(), proof.data(), 16) != 0) return false;
  ++accepted_;
  return true;
}

}  // namespace zv::testing
