#include "support/sharing/LinkedInService.h"

#include <expat.h>


namespace zv::testing {

namespace {

const char* kUnauthorized =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><error><status>401</status>"
    "<message>[unauthorized]. The token used in the OAuth request is not valid.</message></error>";

struct XMLState {
  std::vector<std::string> open;
  std::map<std::string, std::string> texts;
};

}  // namespace

std::optional<std::map<std::string, std::string>> parseXMLElements(const std::string& xml) {
  XMLState state;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char**) {
        auto* s = static_cast<XMLState*>(data);
        s->open.emplace_back(name);
        s->texts[name];
      },
      [](void* data, const XML_Char*) { static_cast<XMLState*>(data)->open.pop_back(); });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
    auto* s = static_cast<XMLState*>(data);
    if (!s->open.empty()) s->texts[s->open.back()].append(text, static_cast<std::size_t>(length));
  });
  bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  if (!ok) return std::nullopt;
  return state.texts;
}

LinkedInService::LinkedInService()
    : OAuthServiceStandIn({"api.linkedin.com", "www.linkedin.com"}, kConsumerKey, kConsumerSecret,
                          "text/xml;charset=UTF-8") {
  knowToken("lrt", "lrs");
}

LinkedInService::~LinkedInService() {
  releaseAccessTokens();
  stop();
}

void LinkedInService::holdAccessTokens() {
  std::lock_guard lock(mutex_);
  holdAccessTokens_ = true;
}

void LinkedInService::releaseAccessTokens() {
  {
    std::lock_guard lock(mutex_);
    holdAccessTokens_ = false;
  }
  accessTokensReleased_.notify_all();
}

int LinkedInService::accessTokensWaiting() const {
  std::lock_guard lock(mutex_);
  return accessTokensWaiting_;
}

// The request token stays known; only the access tokens go.
void LinkedInService::revokeAccessTokens() { revokeTokens("lat"); }

void LinkedInService::refuseEveryShare() {
  std::lock_guard lock(mutex_);
  refuseEveryShare_ = true;
}

std::vector<LinkedInShare> LinkedInService::shares() const {
  std::lock_guard lock(mutex_);
  return shares_;
}

void LinkedInService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const std::string path = request.path();
  auto host = request.header("Host").value_or("");
  if (auto colon = host.find(':'); colon != std::string::npos) host.resize(colon);

  if (host == "www.linkedin.com" && path == "/uas/oauth/authorize" && request.method == "GET") {
    if (request.target.find("oauth_token=lrt") == std::string::npos) {
      complain(connection, 400, "authorize without the request token", "bad token");
      return;
    }
    connection.send(reply(302, "text/html", "",
                          std::string("Location: ") + kCallback + "?oauth_token=lrt&oauth_verifier=84%2B1\r\n"));
    return;
  }
  if (host != "api.linkedin.com") {
    complain(connection, 404, "unknown host " + host, "");
    return;
  }

  // The share post's XML body is not part of the signature.
  RecordedRequest signedPart = request;
  if (path == "/v1/people/~/shares") signedPart.body.clear();
  auto verdict = verify(signedPart);
  if (!verdict.ok) {
    complain(connection, 401, verdict.why, kUnauthorized);
    return;
  }

  if (path == "/uas/oauth/requestToken" && request.method == "POST") {
    connection.send(reply(200, "text/plain", "oauth_token=lrt&oauth_token_secret=lrs&oauth_callback_confirmed=true"));
    return;
  }
  if (path == "/uas/oauth/accessToken" && request.method == "POST") {
    if (verdict.oauth["oauth_token"] != "lrt" || verdict.oauth["oauth_verifier"] != "84+1" ||
        verdict.oauth["oauth_callback"] != kCallback) {
      complain(connection, 401, "access token without request token, verifier or callback", kUnauthorized);
      return;
    }
    {
      std::unique_lock lock(mutex_);
      ++accessTokensWaiting_;
      accessTokensReleased_.wait(lock, [&] { return !holdAccessTokens_; });
      --accessTokensWaiting_;
    }
    auto [token, secret] = issueToken("lat", "las/");
    connection.send(reply(200, "text/plain",
                          "oauth_token=" + token + "&oauth_token_secret=" + oauth_check::encode(secret) +
                              "&oauth_expires_in=5183999"));
    return;
  }
  if (path == "/v1/people/~/shares" && request.method == "POST") {
    bool refused;
    {
      std::lock_guard lock(mutex_);
      refused = refuseEveryShare_;
    }
    if (refused) {
      connection.send(reply(401, "text/xml", kUnauthorized));
      return;
    }
    if (request.header("Content-Type").value_or("") != "text/xml;charset=UTF-8") {
      complain(connection, 400, "wrong content type", "<error><status>400</status></error>");
      return;
    }
    auto elements = parseXMLElements(request.body);
    if (!elements || !elements->count("share") || !elements->count("comment") || !elements->count("code")) {
      complain(connection, 400, "malformed share " + request.body, "<error><status>400</status></error>");
      return;
    }
    auto failure = takeNextReplyOr([&] {
      LinkedInShare share{(*elements)["comment"], std::nullopt, (*elements)["code"]};
      if (elements->count("submitted-url")) share.submittedURL = (*elements)["submitted-url"];
      shares_.push_back(share);
    });
    if (failure) {
      connection.send(reply(failure->first, "text/xml", failure->second));
      return;
    }
    connection.send(reply(201, "text/plain", ""));
    return;
  }
  complain(connection, 404, "unknown route " + path, "<error><status>404</status></error>");
}

}  // namespace zv::testing
