#include "support/net/RedirectingService.h"

#include <map>

#include "platform/system/ApplicationEnvironment.h"

namespace zv::testing {

RedirectingService::RedirectingService(std::vector<std::string> serviceHosts)
    : serviceHosts_(std::move(serviceHosts)),
      service_(authority_.issueForHosts(serviceHosts_)),
      anotherHost_(authority_.issueForHosts({kAnotherHost})) {
  service_.route("/", [this](const RecordedRequest&, FaultServer::Connection& connection) {
    std::lock_guard lock(mutex_);
    std::string location = target_ == Target::AnotherHost
                               ? std::string("https://") + kAnotherHost + "/caught"
                               : "http://127.0.0.1:" + std::to_string(plain_.port()) + "/caught";
    connection.send("HTTP/1.1 " + std::to_string(status_) + " Moved\r\nLocation: " + location +
                    "\r\nContent-Length: 0\r\n\r\n");
  });
  auto catcher = [this](const RecordedRequest&, FaultServer::Connection& connection) {
    std::lock_guard lock(mutex_);
    connection.send("HTTP/1.1 200 OK\r\nContent-Type: " + caughtType_ +
                    "\r\nContent-Length: " + std::to_string(caughtBody_.size()) + "\r\n\r\n" + caughtBody_);
  };
  anotherHost_.route("/", catcher);
  plain_.route("/", catcher);
}

RedirectingService::~RedirectingService() {
  ApplicationEnvironment::shared().setTestHostMap({});
  ApplicationEnvironment::shared().setExtraTrustAnchor(std::nullopt);
}

bool RedirectingService::start() {
  if (!service_.start() || !anotherHost_.start() || !plain_.start()) return false;
  std::map<std::string, std::uint16_t> hosts{{kAnotherHost, static_cast<std::uint16_t>(anotherHost_.port())}};
  for (const auto& host : serviceHosts_) hosts[host] = static_cast<std::uint16_t>(service_.port());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap(hosts);
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void RedirectingService::redirectWith(int status, Target target) {
  std::lock_guard lock(mutex_);
  status_ = status;
  target_ = target;
}

void RedirectingService::setCaughtReply(std::string contentType, std::string body) {
  std::lock_guard lock(mutex_);
  caughtType_ = std::move(contentType);
  caughtBody_ = std::move(body);
}

std::vector<RecordedRequest> RedirectingService::caught() const {
  auto all = anotherHost_.requests();
  auto plain = plain_.requests();
  all.insert(all.end(), plain.begin(), plain.end());
  return all;
}

}  // namespace zv::testing
