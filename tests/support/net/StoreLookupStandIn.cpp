#include "support/net/StoreLookupStandIn.h"

#include "platform/system/ApplicationEnvironment.h"

namespace zv::testing {

namespace {

std::string reply(int status, const std::string& reason, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: text/javascript; charset=utf-8\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

StoreLookupStandIn::StoreLookupStandIn(std::string host)
    : host_(std::move(host)), server_(authority_.issueForHosts({host_})) {}

StoreLookupStandIn::~StoreLookupStandIn() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  server_.stop();
}

bool StoreLookupStandIn::start() {
  // Every path comes here, so wrong ones are seen and refused.
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
  return server_.start();
}

void StoreLookupStandIn::install() const {
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{host_, static_cast<std::uint16_t>(server_.port())}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
}

void StoreLookupStandIn::setAnswer(Answer answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
  isReleased_ = false;
}

void StoreLookupStandIn::setResult(std::string bundleID, std::string trackID, std::string version,
                                   std::string genreID) {
  std::lock_guard lock(mutex_);
  bundleID_ = std::move(bundleID);
  trackID_ = std::move(trackID);
  version_ = std::move(version);
  genreID_ = std::move(genreID);
}

void StoreLookupStandIn::release() {
  {
    std::lock_guard lock(mutex_);
    isReleased_ = true;
  }
  released_.notify_all();
}

int StoreLookupStandIn::lookupCount() const {
  std::lock_guard lock(mutex_);
  return lookups_;
}

int StoreLookupStandIn::badRequestCount() const {
  std::lock_guard lock(mutex_);
  return badRequests_;
}

std::string StoreLookupStandIn::body() const {
  // The last member of the result is "version", as the real service may order it.
  return "{\n \"resultCount\":1,\n \"results\": [\n{\"kind\":\"software\", \"trackName\":\"Zerivudor, \\\"the app\\\"\", "
         "\"trackId\":" + trackID_ + ", \"primaryGenreId\":" + genreID_ + ", \"bundleId\":\"" + bundleID_ +
         "\", \"version\":\"" + version_ + "\"}]\n}\n";
}

void StoreLookupStandIn::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const std::string path = request.path();
  const std::string& target = request.target;
  auto query = target.find('?') == std::string::npos ? std::string() : target.substr(target.find('?') + 1);
  bool wellFormed = request.method == "GET" && path.size() > 8 && path.ends_with("/lookup") &&
                    (query.starts_with("bundleId=") || query.starts_with("id=")) &&
                    request.header("Host") == host_;
  std::unique_lock lock(mutex_);
  if (!wellFormed) {
    ++badRequests_;
    lock.unlock();
    connection.send(reply(400, "Bad Request", "{}"));
    return;
  }
  ++lookups_;
  switch (answer_) {
    case Answer::Found: break;
    case Answer::NotFound: {
      lock.unlock();
      connection.send(reply(200, "OK", "{\n \"resultCount\":0,\n \"results\": []\n}\n"));
      return;
    }
    case Answer::Malformed: {
      lock.unlock();
      connection.send(reply(200, "OK", "<html><body>Service unavailable, \"bundleId\"</body></html>"));
      return;
    }
    case Answer::Huge: {
      lock.unlock();
      connection.send(reply(200, "OK", std::string(50u * 1024 * 1024, '[')));
      return;
    }
    case Answer::Slow:
      released_.wait(lock, [this] { return isReleased_ || stopping_; });
      if (stopping_) return;
      break;
  }
  std::string answer = body();
  lock.unlock();
  connection.send(reply(200, "OK", answer));
}

}  // namespace zv::testing
