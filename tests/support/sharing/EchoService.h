#pragma once
// The loopback "echo" web service that the worked-example sharer (EchoSharer) posts to: a
// FaultServer on 127.0.0.1 with one route, checking what it receives so that a wrong request
// fails the test.
//   POST /post   form body (application/x-www-form-urlencoded) with "title" and one of "text" or
//                "url", and "Authorization: Basic" of the service's account.
//                200 "echo: <title>|<text or url>" when all is well; 401 for a missing or wrong
//                account; 400 for another method, content type or missing fields.
// Any other path answers 404. Every request is recorded.

#include <map>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"

namespace zv::testing {

class EchoService {
 public:
  EchoService(std::string user, std::string password);
  bool start() { return server_.start(); }
  // http://127.0.0.1:<port>
  std::string baseURL() const;
  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  // The decoded form fields of a recorded request.
  static std::map<std::string, std::string> formFields(const RecordedRequest& request);
  // How many posts were answered 200.
  int acceptedPosts() const;

 private:
  std::string user_;
  std::string password_;
  FaultServer server_;
};

}  // namespace zv::testing
