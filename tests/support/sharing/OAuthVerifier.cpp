#include "support/sharing/OAuthVerifier.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>

namespace zv::testing::oauth_check {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

std::string encode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string decode(std::string_view text, bool plusIsBlank) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else if (text[i] == '+' && plusIsBlank) {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> decodePairs(std::string_view text, bool plusIsBlank) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!text.empty()) {
    auto amp = text.find('&');
    auto piece = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (piece.empty()) continue;
    auto eq = piece.find('=');
    if (eq == std::string_view::npos) {
      pairs.emplace_back(decode(piece, plusIsBlank), "");
    } else {
      pairs.emplace_back(decode(piece.substr(0, eq), plusIsBlank), decode(piece.substr(eq + 1), plusIsBlank));
    }
  }
  return pairs;
}

std::map<std::string, std::string> decodeForm(std::string_view text) {
  std::map<std::string, std::string> out;
  for (auto& [name, value] : decodePairs(text, true)) out[name] = value;
  return out;
}

std::optional<std::map<std::string, std::string>> authorizationParameters(std::string_view header) {
  std::string text = trim(header);
  if (text.rfind("OAuth ", 0) != 0) return std::nullopt;
  std::string_view rest(text);
  rest.remove_prefix(6);
  std::map<std::string, std::string> out;
  while (true) {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == ',')) rest.remove_prefix(1);
    if (rest.empty()) break;
    auto eq = rest.find('=');
    if (eq == std::string_view::npos || eq + 1 >= rest.size() || rest[eq + 1] != '"') return std::nullopt;
    std::string name = trim(rest.substr(0, eq));
    auto close = rest.find('"', eq + 2);
    if (close == std::string_view::npos) return std::nullopt;
    out[decode(name)] = decode(rest.substr(eq + 2, close - eq - 2));
    rest.remove_prefix(close + 1);
  }
  return out;
}

std::string hmacSHA1Base64(std::string_view key, std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(text.data()),
       text.size(), digest, &length);
  unsigned char encoded[64];
  int n = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(encoded), static_cast<std::size_t>(n));
}

Verdict verify(std::string_view method, std::string_view baseURL, std::string_view query, std::string_view formBody,
               std::string_view authorization, std::string_view consumerKey, std::string_view consumerSecret,
               const std::map<std::string, std::string>& tokenSecrets) {
  Verdict verdict;
  auto oauth = authorizationParameters(authorization);
  if (!oauth) {
    verdict.why = "no OAuth Authorization header";
    return verdict;
  }
  verdict.oauth = *oauth;
  auto field = [&](const char* name) -> std::string {
    auto found = oauth->find(name);
    return found == oauth->end() ? std::string() : found->second;
  };
  if (field("oauth_consumer_key") != consumerKey) {
    verdict.why = "wrong consumer key";
    return verdict;
  }
  if (field("oauth_signature_method") != "HMAC-SHA1" || field("oauth_version") != "1.0" ||
      field("oauth_nonce").empty() || field("oauth_timestamp").empty()) {
    verdict.why = "missing or wrong OAuth fields";
    return verdict;
  }
  std::string tokenSecret;
  if (auto token = oauth->find("oauth_token"); token != oauth->end()) {
    auto secret = tokenSecrets.find(token->second);
    if (secret == tokenSecrets.end()) {
      verdict.why = "unknown token";
      return verdict;
    }
    tokenSecret = secret->second;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& [name, value] : *oauth) {
    if (name != "oauth_signature" && name != "realm") pairs.emplace_back(encode(name), encode(value));
  }
  for (const auto& [name, value] : decodePairs(query, false)) pairs.emplace_back(encode(name), encode(value));
  for (const auto& [name, value] : decodePairs(formBody, true)) pairs.emplace_back(encode(name), encode(value));
  std::sort(pairs.begin(), pairs.end());
  std::string normalized;
  for (const auto& [name, value] : pairs) {
    if (!normalized.empty()) normalized += '&';
    normalized += name + "=" + value;
  }
  std::string base = std::string(method) + "&" + encode(baseURL) + "&" + encode(normalized);
  std::string expected = hmacSHA1Base64(encode(consumerSecret) + "&" + encode(tokenSecret), base);
  if (expected != field("oauth_signature")) {
    verdict.why = "signature mismatch for base string " + base;
    return verdict;
  }
  verdict.ok = true;
  return verdict;
}

Verdict verifyRequest(const RecordedRequest& request, std::string_view consumerKey, std::string_view consumerSecret,
                      const std::map<std::string, std::string>& tokenSecrets) {
  std::string host = request.header("Host").value_or("");
  // The default https port is left out of the base string.
  if (host.size() > 4 && host.ends_with(":443")) host.resize(host.size() - 4);
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  auto mark = request.target.find('?');
  std::string query = mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
  std::string body;
  auto type = request.header("Content-Type").value_or("");
  if (type.rfind("application/x-www-form-urlencoded", 0) == 0) body = request.body;
  return verify(request.method, "https://" + host + request.path(), query, body,
                request.header("Authorization").value_or(""), consumerKey, consumerSecret, tokenSecrets);
}

}  // namespace zv::testing::oauth_check
