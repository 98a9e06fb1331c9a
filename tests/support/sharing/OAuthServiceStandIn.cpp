#include "support/sharing/OAuthServiceStandIn.h"

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv::testing {

OAuthServiceStandIn::OAuthServiceStandIn(const std::vector<std::string>& hosts, std::string consumerKey,
                                         std::string consumerSecret, std::string complaintType)
    : hosts_(hosts),
      server_(authority_.issueForHosts(hosts)),
      consumerKey_(std::move(consumerKey)),
      consumerSecret_(std::move(consumerSecret)),
      complaintType_(std::move(complaintType)) {
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

OAuthServiceStandIn::~OAuthServiceStandIn() { stop(); }

bool OAuthServiceStandIn::start() {
  if (!server_.start()) return false;
  const auto port = static_cast<std::uint16_t>(server_.port());
  std::map<std::string, std::uint16_t> hostMap;
  for (const auto& host : hosts_) hostMap[host] = port;
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap(hostMap);
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void OAuthServiceStandIn::stop() {
  server_.stop();
  ApplicationEnvironment::shared().setTestHostMap({});
  ApplicationEnvironment::shared().setExtraTrustAnchor(std::nullopt);
}

void OAuthServiceStandIn::failNext(int status, std::string body) {
  std::lock_guard lock(mutex_);
  nextReply_ = std::make_pair(status, std::move(body));
}

int OAuthServiceStandIn::signatureFailures() const {
  std::lock_guard lock(mutex_);
  return signatureFailures_;
}

std::string OAuthServiceStandIn::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

std::string OAuthServiceStandIn::reply(int status, const std::string& contentType, const std::string& body,
                                       const std::string& extraHeaders) {
  return format("HTTP/1.1 %d Status\r\nContent-Type: %s\r\nContent-Length: %zu\r\n%s\r\n", status,
                contentType.c_str(), body.size(), extraHeaders.c_str()) +
         body;
}

oauth_check::Verdict OAuthServiceStandIn::verify(const RecordedRequest& request) {
  std::map<std::string, std::string> secrets;
  {
    std::lock_guard lock(mutex_);
    secrets = tokenSecrets_;
  }
  auto verdict = oauth_check::verifyRequest(request, consumerKey_, consumerSecret_, secrets);
  if (!verdict.ok && verdict.why != "unknown token") {
    std::lock_guard lock(mutex_);
    ++signatureFailures_;
  }
  return verdict;
}

void OAuthServiceStandIn::complain(FaultServer::Connection& connection, int status, const std::string& why,
                                   const std::string& body) {
  {
    std::lock_guard lock(mutex_);
    lastComplaint_ = why;
  }
  connection.send(reply(status, complaintType_, body));
}

void OAuthServiceStandIn::knowToken(const std::string& token, const std::string& secret) {
  std::lock_guard lock(mutex_);
  tokenSecrets_[token] = secret;
}

std::pair<std::string, std::string> OAuthServiceStandIn::issueToken(const std::string& tokenPrefix,
                                                                    const std::string& secretPrefix) {
  std::lock_guard lock(mutex_);
  const std::string number = std::to_string(++issued_);
  tokenSecrets_[tokenPrefix + number] = secretPrefix + number;
  return {tokenPrefix + number, secretPrefix + number};
}

void OAuthServiceStandIn::revokeTokens(std::string_view prefix) {
  std::lock_guard lock(mutex_);
  std::erase_if(tokenSecrets_, [&](const auto& entry) { return entry.first.starts_with(prefix); });
}

}  // namespace zv::testing
