#pragma once
// A stand-in for the store's lookup service on 127.0.0.1 (TLS with a certificate for the real
// lookup host, signed by its own test CA). It serves "GET /<country>/lookup?bundleId=<id>" or
// "?id=<trackId>" with the answer the test chose, and records what it was asked; any other
// method or path, or a query without either parameter, gets 400 and counts as a bad request.
// `install()` points the lookup host at it through the application environment's test host map
// and trusts its CA.
//
// Answers: Found (one result with the configured bundle id, track id, version and genre),
// NotFound (no results), Malformed (not JSON), Huge (a 50 MB body that is not JSON), Slow (Found,
// but only once `release()` is called).

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class StoreLookupStandIn {
 public:
  enum class Answer { Found, NotFound, Malformed, Huge, Slow };

  explicit StoreLookupStandIn(std::string host);
  ~StoreLookupStandIn();

  bool start();
  // Maps the host to this server and trusts its CA (ApplicationEnvironment::reset undoes it).
  void install() const;

  void setAnswer(Answer answer);
  void setResult(std::string bundleID, std::string trackID, std::string version, std::string genreID);
  // Lets a Slow answer go out.
  void release();
  // Requests that have arrived at the lookup path (answered or still held).
  int lookupCount() const;
  int badRequestCount() const;
  std::vector<RecordedRequest> requests() const { return server_.requests(); }

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  std::string body() const;

  std::string host_;
  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool isReleased_ = false;
  bool stopping_ = false;
  Answer answer_ = Answer::Found;
  std::string bundleID_, trackID_, version_, genreID_;
  int lookups_ = 0;
  int badRequests_ = 0;
};

}  // namespace zv::testing
