#include "support/notes/NoteServiceOAuthStandIn.h"

#include <algorithm>
#include <map>

#include "platform/crypto/Digest.h"

namespace zv::testing {

namespace {

std::string base64(const std::string& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += {alphabet[(n >> 18) & 63], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63], alphabet[n & 63]};
  }
  if (i + 1 == bytes.size()) {
    unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    out += {alphabet[(n >> 18) & 63], alphabet[(n >> 12) & 63], '=', '='};
  } else if (i + 2 == bytes.size()) {
    unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += {alphabet[(n >> 18) & 63], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63], '='};
  }
  return out;
}

void answer(FaultServer::Connection& connection, int status, const std::string& body,
            const std::string& extraHeaders = "") {
  connection.send("HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}

}  // namespace

std::string NoteServiceOAuthStandIn::percentEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += {'%', hex[c >> 4], hex[c & 15]};
    }
  }
  return out;
}

std::string NoteServiceOAuthStandIn::percentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

NoteServiceOAuthStandIn::NoteServiceOAuthStandIn(const TestKeyPair& serverKeyPair, Settings settings)
    : settings_(std::move(settings)), server_(serverKeyPair) {
  server_.route("/oauth", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handleToken(request, connection);
  });
  server_.route("/OAuth.action", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    if (request.target.find(std::string("oauth_token=") + kTemporaryToken) == std::string::npos) {
      ++rejected_;
      answer(connection, 400, "unknown token");
      return;
    }
    if (holdPage_) {
      answer(connection, 200, "<html><body>Sign in</body></html>");
      return;
    }
    answer(connection, 302, "",
           "Location: " + settings_.callback + "?oauth_token=" + kTemporaryToken + "&oauth_verifier=" + kVerifier +
               "\r\n");
  });
}

void NoteServiceOAuthStandIn::handleToken(const RecordedRequest& request, FaultServer::Connection& connection) {
  std::multimap<std::string, std::string> parameters;
  std::map<std::string, std::string> oauth;
  if (auto q = request.target.find('?'); q != std::string::npos) {
    std::string query = request.target.substr(q + 1);
    std::size_t start = 0;
    while (start <= query.size()) {
      auto end = std::min(query.find('&', start), query.size());
      auto piece = query.substr(start, end - start);
      if (auto eq = piece.find('='); eq != std::string::npos) {
        parameters.emplace(percentDecode(piece.substr(0, eq)), percentDecode(piece.substr(eq + 1)));
      }
      start = end + 1;
    }
  }
  std::string header = request.header("Authorization").value_or("");
  if (header.rfind("OAuth ", 0) != 0) {
    ++rejected_;
    answer(connection, 401, "no OAuth header");
    return;
  }
  std::string fields = header.substr(6);
  std::size_t at = 0;
  while (at < fields.size()) {
    auto eq = fields.find("=\"", at);
    auto close = eq == std::string::npos ? std::string::npos : fields.find('"', eq + 2);
    if (close == std::string::npos) break;
    std::string name = fields.substr(at, eq - at);
    name.erase(0, name.find_first_not_of(" ,"));
    oauth[name] = percentDecode(fields.substr(eq + 2, close - eq - 2));
    at = close + 1;
  }
  std::string signature = oauth["oauth_signature"];
  oauth.erase("oauth_signature");
  std::vector<std::pair<std::string, std::string>> all(parameters.begin(), parameters.end());
  for (const auto& entry : oauth) all.push_back(entry);
  for (auto& [name, value] : all) {
    name = percentEncode(name);
    value = percentEncode(value);
  }
  std::sort(all.begin(), all.end());
  std::string normalized;
  for (const auto& [name, value] : all) normalized += (normalized.empty() ? "" : "&") + name + "=" + value;
  std::string host = request.header("Host").value_or("");
  std::string base = "GET&" + percentEncode("https://" + host + "/oauth") + "&" + percentEncode(normalized);

  bool stepOne = parameters.count("oauth_callback") > 0;
  std::string tokenSecret = stepOne ? "" : kTemporarySecret;
  std::string key = percentEncode(settings_.consumerSecret) + "&" + percentEncode(tokenSecret);
  auto mac = crypto::hmacSHA1(crypto::bytesOf(key), crypto::bytesOf(base));
  std::string expected = base64(std::string(reinterpret_cast<const char*>(mac.data()), mac.size()));

  bool sound = signature == expected && oauth["oauth_consumer_key"] == settings_.consumerKey &&
               oauth["oauth_signature_method"] == "HMAC-SHA1";
  if (stepOne) {
    auto callback = parameters.find("oauth_callback");
    sound = sound && callback->second == settings_.callback && oauth.count("oauth_token") == 0;
  } else {
    auto verifier = parameters.find("oauth_verifier");
    sound = sound && oauth["oauth_token"] == kTemporaryToken && verifier != parameters.end() &&
            verifier->second == kVerifier;
  }
  if (!sound) {
    ++rejected_;
    answer(connection, 401, "bad signature");
    return;
  }
  if (int status = failStatus_.load()) {
    answer(connection, status, "oauth_token=" + settings_.accessToken + "&error=refused");
    return;
  }
  if (stepOne) {
    ++temporary_;
    answer(connection, 200,
           std::string("oauth_token=") + kTemporaryToken + "&oauth_token_secret=" + percentEncode(kTemporarySecret) +
               "&oauth_callback_confirmed=true&padding=" + std::string(padding_.load(), 'p'));
    return;
  }
  ++access_;
  std::string body = "oauth_token=" + percentEncode(settings_.accessToken) +
                     "&oauth_token_secret=&edam_shard=s7&edam_userId=" + settings_.userId +
                     "&edam_expires=1900000000000&edam_noteStoreUrl=" + percentEncode(settings_.noteStoreUrl);
  if (!omitPrefix_) body += "&edam_webApiUrlPrefix=" + percentEncode(settings_.webApiUrlPrefix);
  answer(connection, 200, body);
}

}  // namespace zv::testing
