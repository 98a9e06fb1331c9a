#include "platform/net/HTTPAuthentication.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Format.h"
#include "platform/net/NetErrors.h"

namespace zv::net {

namespace {

bool isTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}
bool isToken68Char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~+/=", c); }

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string base64(std::span<const std::uint8_t> bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::optional<std::vector<std::uint8_t>> unbase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint8_t> out(text.size() / 4 * 3);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  std::size_t padding = 0;
  if (text.back() == '=') ++padding;
  if (text.size() > 1 && text[text.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

Ref<Error> challengeError(std::string text) {
  return makeHTTPStreamError(kHTTPAuthenticationBadChallenge, std::move(text));
}

std::string stringValue(const Dictionary& dictionary, const char* key, bool* present) {
  auto value = dictionary.stringForKey(key);
  if (present) *present = value.has_value();
  return value.value_or("");
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

void putLE16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void putLE32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint16_t getLE16(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}
std::uint32_t getLE32(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint32_t>(in[at]) | (static_cast<std::uint32_t>(in[at + 1]) << 8) |
         (static_cast<std::uint32_t>(in[at + 2]) << 16) | (static_cast<std::uint32_t>(in[at + 3]) << 24);
}

constexpr std::uint32_t kNTLMNegotiateUnicode = 0x00000001;
constexpr std::uint32_t kNTLMRequestTarget = 0x00000004;
constexpr std::uint32_t kNTLMNegotiateNTLM = 0x00000200;
constexpr std::uint32_t kNTLMAlwaysSign = 0x00008000;
constexpr std::uint32_t kNTLMExtendedSessionSecurity = 0x00080000;
constexpr std::uint32_t kNTLMNegotiateTargetInfo = 0x00800000;
constexpr std::uint32_t kNTLMFlags = kNTLMNegotiateUnicode | kNTLMRequestTarget | kNTLMNegotiateNTLM |
                                     kNTLMAlwaysSign | kNTLMExtendedSessionSecurity | kNTLMNegotiateTargetInfo;
const std::uint8_t kNTLMSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};

// The server's challenge message: its 8-byte challenge and its target information.
struct NTLMChallengeMessage {
  std::array<std::uint8_t, 8> challenge{};
  std::vector<std::uint8_t> targetInfo;
};

std::optional<NTLMChallengeMessage> readChallengeMessage(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 32 || std::memcmp(bytes.data(), kNTLMSignature, 8) != 0 || getLE32(bytes, 8) != 2) {
    return std::nullopt;
  }
  NTLMChallengeMessage message;
  std::memcpy(message.challenge.data(), bytes.data() + 24, 8);
  if (bytes.size() >= 48) {
    std::size_t length = getLE16(bytes, 40);
    std::size_t offset = getLE32(bytes, 44);
    if (offset > bytes.size() || length > bytes.size() - offset) return std::nullopt;
    message.targetInfo.assign(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                              bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
  }
  return message;
}

std::uint64_t ntlmTimestampNow() {
  // 100 ns units since 1601-01-01.
  auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  return static_cast<std::uint64_t>(since1970) * 10u + 116444736000000000ull;
}

std::string upperASCII(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

// --- Challenge parsing. ---

std::optional<std::vector<HTTPChallenge>> parseChallenges(std::string_view text) {
  std::vector<HTTPChallenge> challenges;
  std::size_t i = 0;
  auto skipSpace = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  auto readToken = [&] {
    std::size_t start = i;
    while (i < text.size() && isTokenChar(text[i])) ++i;
    return std::string(text.substr(start, i - start));
  };
  while (true) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
    if (i >= text.size()) break;
    HTTPChallenge challenge;
    challenge.scheme = readToken();
    if (challenge.scheme.empty()) return std::nullopt;
    skipSpace();
    // A token68 (NTLM messages): characters of that set with "=" only as padding at the end,
    // followed by a comma or the end of the text.
    std::size_t probe = i;
    while (probe < text.size() && isToken68Char(text[probe])) ++probe;
    std::size_t after = probe;
    while (after < text.size() && (text[after] == ' ' || text[after] == '\t')) ++after;
    std::string_view candidate = text.substr(i, probe - i);
    std::size_t firstPad = candidate.find('=');
    bool token68 = !candidate.empty() && firstPad != 0 && (after == text.size() || text[after] == ',') &&
                   (firstPad == std::string_view::npos ||
                    candidate.find_first_not_of('=', firstPad) == std::string_view::npos);
    if (token68) {
      challenge.token = std::string(candidate);
      i = after;
      challenges.push_back(std::move(challenge));
      continue;
    }
    // Parameters: name = token / quoted-string, separated by commas, until a scheme starts.
    while (i < text.size()) {
      std::size_t itemStart = i;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
      std::string name = readToken();
      skipSpace();
      if (name.empty() || i >= text.size() || text[i] != '=') {
        if (name.empty() && i < text.size()) return std::nullopt;  // stray characters
        i = itemStart;
        break;  // the next challenge
      }
      ++i;
      skipSpace();
      std::string value;
      if (i < text.size() && text[i] == '"') {
        ++i;
        bool closed = false;
        while (i < text.size()) {
          char c = text[i++];
          if (c == '\\') {
            if (i >= text.size()) return std::nullopt;
            value.push_back(text[i++]);
          } else if (c == '"') {
            closed = true;
            break;
          } else {
            value.push_back(c);
          }
        }
        if (!closed) return std::nullopt;
      } else {
        value = readToken();
        if (value.empty()) return std::nullopt;
      }
      challenge.params[lower(name)] = value;
      skipSpace();
      if (i < text.size() && text[i] != ',') return std::nullopt;
    }
    challenges.push_back(std::move(challenge));
  }
  if (challenges.empty()) return std::nullopt;
  return challenges;
}

std::optional<std::pair<std::string, std::string>> basicCredentialsOfField(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  if (field.size() < 6 || lower(std::string(field.substr(0, 6))) != "basic ") return std::nullopt;
  field.remove_prefix(6);
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
  auto bytes = unbase64(field);
  if (!bytes) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return std::make_pair(text.substr(0, colon), text.substr(colon + 1));
}

// --- The authentication object. ---

Ref<HTTPAuthentication> HTTPAuthentication::fromResponse(const HTTPMessage& response, const HTTPMessage* sentRequest,
                                                         Ref<Error>* error) {
  auto authentication = std::make_shared<HTTPAuthentication>();
  authentication->proxy_ = response.statusCode() == 407;
  std::vector<std::string> fields = response.headers().getAll(authentication->proxy_ ? "Proxy-Authenticate"
                                                                                     : "WWW-Authenticate");
  if (fields.empty()) {
    if (error) *error = challengeError("The answer carries no challenge");
    return nullptr;
  }
  std::vector<HTTPChallenge> all;
  for (const auto& field : fields) {
    auto parsed = parseChallenges(field);
    if (!parsed) {
      if (error) *error = challengeError("The challenge cannot be read");
      return nullptr;
    }
    all.insert(all.end(), parsed->begin(), parsed->end());
  }
  // The strongest scheme offered wins.
  for (const char* scheme : {kHTTPAuthenticationSchemeNTLM, kHTTPAuthenticationSchemeDigest, kHTTPAuthenticationSchemeBasic}) {
    for (const auto& challenge : all) {
      if (lower(challenge.scheme) != lower(scheme)) continue;
      authentication->scheme_ = scheme;
      if (!authentication->take(challenge, sentRequest, error)) return nullptr;
      return authentication;
    }
  }
  if (error) *error = challengeError("No supported authentication scheme was offered");
  return nullptr;
}

bool HTTPAuthentication::updateFromResponse(const HTTPMessage& response, const HTTPMessage* sentRequest) {
  if ((response.statusCode() == 407) != proxy_) return false;
  for (const auto& field : response.headers().getAll(proxy_ ? "Proxy-Authenticate" : "WWW-Authenticate")) {
    auto parsed = parseChallenges(field);
    if (!parsed) return false;
    for (const auto& challenge : *parsed) {
      if (lower(challenge.scheme) == lower(scheme_)) return take(challenge, sentRequest, nullptr);
    }
  }
  return false;
}

bool HTTPAuthentication::take(const HTTPChallenge& challenge, const HTTPMessage* sentRequest, Ref<Error>* error) {
  auto param = [&](const char* name) -> std::optional<std::string> {
    auto found = challenge.params.find(name);
    if (found == challenge.params.end()) return std::nullopt;
    return found->second;
  };
  std::optional<std::string> sent;
  if (sentRequest) sent = sentRequest->headerField(proxy_ ? "Proxy-Authorization" : "Authorization");
  bool sentThisScheme = sent && lower(sent->substr(0, scheme_.size() + 1)) == lower(scheme_ + " ");
  invalidReason_ = nullptr;
  auto rejected = [&] {
    invalidReason_ = makeHTTPStreamError(kHTTPAuthenticationBadPassword, "The credentials were refused");
  };

  if (scheme_ == kHTTPAuthenticationSchemeNTLM) {
    realm_.reset();
    if (challenge.token) {
      auto bytes = unbase64(*challenge.token);
      if (!bytes || !readChallengeMessage(*bytes)) {
        if (error) *error = challengeError("The NTLM challenge message cannot be read");
        return false;
      }
      ntlmChallenge_ = std::move(*bytes);
    } else {
      if (sentThisScheme && ntlmChallenge_) rejected();
      ntlmChallenge_.reset();
    }
    return true;
  }

  auto realm = param("realm");
  if (!realm) {
    if (error) *error = challengeError("The challenge names no realm");
    return false;
  }
  realm_ = realm;
  if (scheme_ == kHTTPAuthenticationSchemeBasic) {
    if (sentThisScheme) rejected();
    return true;
  }
  // Digest.
  auto nonce = param("nonce");
  if (!nonce) {
    if (error) *error = challengeError("The Digest challenge has no nonce");
    return false;
  }
  std::string algorithm = param("algorithm").value_or("MD5");
  if (lower(algorithm) != "md5" && lower(algorithm) != "md5-sess") {
    if (error) *error = challengeError("The Digest algorithm is not supported");
    return false;
  }
  std::string qop;
  if (auto offered = param("qop")) {
    // A list such as "auth,auth-int": only "auth" is spoken.
    std::string list = lower(*offered);
    std::size_t at = 0;
    while (at <= list.size()) {
      std::size_t end = list.find(',', at);
      if (end == std::string::npos) end = list.size();
      std::string item = list.substr(at, end - at);
      item.erase(0, item.find_first_not_of(" \t"));
      item.erase(item.find_last_not_of(" \t") + 1);
      if (item == "auth") qop = "auth";
      at = end + 1;
    }
    if (qop.empty()) {
      if (error) *error = challengeError("The Digest challenge offers no supported qop");
      return false;
    }
  }
  bool stale = lower(param("stale").value_or("")) == "true";
  // A stale nonce earns the same credentials one more try; stale again right after that retry
  // (a server that renews the nonce for ever) is a refusal like any other.
  if (sentThisScheme && (!stale || staleRetried_)) rejected();
  staleRetried_ = sentThisScheme && stale;
  if (*nonce != nonce_) nonceCount_ = 0;
  nonce_ = *nonce;
  algorithm_ = algorithm;
  qop_ = qop;
  hasOpaque_ = param("opaque").has_value();
  opaque_ = param("opaque").value_or("");
  return true;
}

bool HTTPAuthentication::isValid(Ref<Error>* reason) const {
  if (reason) *reason = invalidReason_;
  return !invalidReason_;
}

bool HTTPAuthentication::applyCredentials(const Dictionary& credentials, HTTPMessage& request, Ref<Error>* error) {
  auto fail = [&](const char* text) {
    if (error) *error = makeHTTPStreamError(kHTTPAuthenticationBadChallenge, text);
    return false;
  };
  if (invalidReason_) {
    if (error) *error = invalidReason_;
    return false;
  }
  bool hasUser = false, hasPassword = false;
  std::string user = stringValue(credentials, kHTTPAuthenticationUsername, &hasUser);
  std::string password = stringValue(credentials, kHTTPAuthenticationPassword, &hasPassword);
  if (!hasUser || !hasPassword) return fail("The credentials lack a user name or password");
  const char* field = proxy_ ? "Proxy-Authorization" : "Authorization";

  if (scheme_ == kHTTPAuthenticationSchemeBasic) {
    request.setHeaderField(field, "Basic " + base64(crypto::bytesOf(user + ":" + password)));
    return true;
  }
  if (scheme_ == kHTTPAuthenticationSchemeDigest) {
    std::string uri = "/";
    if (const auto& url = request.url()) {
      uri = url->encodedPath().empty() ? "/" : url->encodedPath();
      if (url->query()) uri += "?" + *url->query();
    }
    std::string ha1 = crypto::md5Hex(user + ":" + *realm_ + ":" + password);
    std::string cnonce = crypto::hex(crypto::randomBytes(8));
    if (lower(algorithm_) == "md5-sess") ha1 = crypto::md5Hex(ha1 + ":" + nonce_ + ":" + cnonce);
    std::string ha2 = crypto::md5Hex(request.method() + ":" + uri);
    std::string value = "Digest username=" + quoted(user) + ", realm=" + quoted(*realm_) +
                        ", nonce=" + quoted(nonce_) + ", uri=" + quoted(uri);
    if (!qop_.empty()) {
      std::string nc = format("%08x", ++nonceCount_);
      value += ", response=" + quoted(crypto::md5Hex(ha1 + ":" + nonce_ + ":" + nc + ":" + cnonce + ":" + qop_ + ":" + ha2));
      value += ", qop=" + qop_ + ", nc=" + nc + ", cnonce=" + quoted(cnonce);
    } else {
      value += ", response=" + quoted(crypto::md5Hex(ha1 + ":" + nonce_ + ":" + ha2));
    }
    value += ", algorithm=" + algorithm_;
    if (hasOpaque_) value += ", opaque=" + quoted(opaque_);
    request.setHeaderField(field, value);
    return true;
  }
  // NTLM.
  if (!ntlmChallenge_) {
    request.setHeaderField(field, "NTLM " + base64(ntlm::negotiateMessage()));
    return true;
  }
  auto message = readChallengeMessage(*ntlmChallenge_);
  auto hash = ntlm::ntHash(password);
  if (!message || !hash) return fail("NTLM is not available");
  std::string domain = credentials.stringForKey(kHTTPAuthenticationAccountDomain).value_or("");
  auto v2 = ntlm::ntlmv2Hash(*hash, user, domain);
  auto clientNonce = crypto::randomBytes(8);
  auto nt = ntlm::ntlmv2Response(v2, message->challenge, clientNonce, ntlmTimestampNow(), message->targetInfo);
  // LMv2: HMAC-MD5(v2 hash, server challenge + client nonce) + client nonce.
  std::vector<std::uint8_t> lmInput(message->challenge.begin(), message->challenge.end());
  lmInput.insert(lmInput.end(), clientNonce.begin(), clientNonce.end());
  auto lmProof = ntlm::hmacMD5(v2, lmInput);
  std::vector<std::uint8_t> lm(lmProof.begin(), lmProof.end());
  lm.insert(lm.end(), clientNonce.begin(), clientNonce.end());

  auto domainBytes = ntlm::utf16le(domain);
  auto userBytes = ntlm::utf16le(user);
  auto workstation = ntlm::utf16le("WORKSTATION");
  std::vector<std::uint8_t> out(64, 0);
  std::memcpy(out.data(), kNTLMSignature, 8);
  putLE32(out, 8, 3);
  auto append = [&](std::size_t descriptor, const std::vector<std::uint8_t>& payload) {
    putLE16(out, descriptor, static_cast<std::uint16_t>(payload.size()));
    putLE16(out, descriptor + 2, static_cast<std::uint16_t>(payload.size()));
    putLE32(out, descriptor + 4, static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), payload.begin(), payload.end());
  };
  append(28, domainBytes);
  append(36, userBytes);
  append(44, workstation);
  append(12, lm);
  append(20, nt);
  append(52, {});
  putLE32(out, 60, kNTLMFlags);
  request.setHeaderField(field, "NTLM " + base64(out));
  return true;
}

// --- NTLMv2 pieces. ---

namespace ntlm {

std::vector<std::uint8_t> utf16le(std::string_view text) {
  std::vector<std::uint8_t> out;
  auto string = String::fromUTF8(text);
  if (!string) return out;
  for (char16_t unit : string->utf16()) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

std::optional<std::array<std::uint8_t, 16>> ntHash(std::string_view password) {
  // MD4 lives in the legacy provider, loaded into a library context of its own.
  static OSSL_LIB_CTX* context = [] {
    OSSL_LIB_CTX* made = OSSL_LIB_CTX_new();
    if (made && (!OSSL_PROVIDER_load(made, "legacy") || !OSSL_PROVIDER_load(made, "default"))) {
      OSSL_LIB_CTX_free(made);
      made = nullptr;
    }
    return made;
  }();
  if (!context) return std::nullopt;
  EVP_MD* md4 = EVP_MD_fetch(context, "MD4", nullptr);
  if (!md4) return std::nullopt;
  auto bytes = utf16le(password);
  std::array<std::uint8_t, 16> digest{};
  unsigned length = 0;
  bool ok = EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, md4, nullptr) == 1 && length == 16;
  EVP_MD_free(md4);
  if (!ok) return std::nullopt;
  return digest;
}

std::array<std::uint8_t, 16> hmacMD5(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 16> out{};
  unsigned length = 0;
  HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), out.data(), &length);
  return out;
}

std::array<std::uint8_t, 16> ntlmv2Hash(const std::array<std::uint8_t, 16>& hash, std::string_view user,
                                        std::string_view domain) {
  auto identity = utf16le(upperASCII(user) + std::string(domain));
  return hmacMD5(hash, identity);
}

std::vector<std::uint8_t> ntlmv2Response(const std::array<std::uint8_t, 16>& v2Hash,
                                         std::span<const std::uint8_t> serverChallenge,
                                         std::span<const std::uint8_t> clientNonce, std::uint64_t timestamp,
                                         std::span<const std::uint8_t> targetInfo) {
  std::vector<std::uint8_t> blob = {1, 1, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) blob.push_back(static_cast<std::uint8_t>(timestamp >> (8 * i)));
  blob.insert(blob.end(), clientNonce.begin(), clientNonce.end());
  blob.insert(blob.end(), {0, 0, 0, 0});
  blob.insert(blob.end(), targetInfo.begin(), targetInfo.end());
  blob.insert(blob.end(), {0, 0, 0, 0});
  std::vector<std::uint8_t> input(serverChallenge.begin(), serverChallenge.end());
  input.insert(input.end(), blob.begin(), blob.end());
  auto proof = hmacMD5(v2Hash, input);
  // Sized first: GCC 12 at -O3 misreads a growing insert after the 16-byte proof as a bad copy.
  std::vector<std::uint8_t> response(proof.size() + blob.size());
  std::copy(proof.begin(), proof.end(), response.begin());
  std::copy(blob.begin(), blob.end(), response.begin() + static_cast<std::ptrdiff_t>(proof.size()));
  return response;
}

std::vector<std::uint8_t> negotiateMessage() {
  std::vector<std::uint8_t> out(32, 0);
  std::memcpy(out.data(), kNTLMSignature, 8);
  putLE32(out, 8, 1);
  putLE32(out, 12, kNTLMFlags);
  return out;
}

}  // namespace ntlm

}  // namespace zv::net
