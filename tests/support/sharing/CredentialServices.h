#pragma once
// A loopback stand-in of the services whose sharers send the user's own
// credentials: one TLS FaultServer on 127.0.0.1 posing as every host below
// (certificate from the test CA, reached through the test host map). It accepts
// exactly one account per service (kUser / kPassword, both full of URL-special
// characters) and checks what it receives, so a wrong request fails the test:
//
// Bookmark APIs, behind HTTP Basic authentication (a request without
// credentials gets a 401 challenge; wrong credentials a 401):
//   secure.diigo.com  GET  /api/v2/bookmarks?key&count=1&user   POST
//   /api/v2/bookmarks (form) api.pinboard.in   POST /v1/posts/get (no body) GET
//   /v1/posts/add?url&description... api.del.icio.us   GET  /v1/posts/get GET
//   /v1/posts/add?... -> XML <code>done</code>
// Reading lists, credentials as form fields (POST,
// application/x-www-form-urlencoded):
//   www.instapaper.com   /api/authenticate (200, 403), /api/add (201, 403)
//   readitlaterlist.com  /v2/auth, /v2/send, apikey kApiKey (200, 401 with
//   "X-Error") www.google.com       /accounts/ClientLogin ->
//   "SID=..\nLSID=..\nAuth=<kAuth>" or
//                        "Error=BadAuthentication"; GET /reader/api/0/token and
//                        POST /reader/api/0/item/edit need "Authorization:
//                        GoogleLogin auth=<kAuth>" and the session as cookies;
//                        the edit needs T=<kEditToken>
// Tumblr (www.tumblr.com): /api/authenticate (form; 200 or 403), /api/write
// (form or
//   multipart/form-data; 201, 403; a body over 10 MB is refused with 413).
//
// failNext(host, ...) makes the next call to that host answer as given (status,
// header lines, body). Threads: the server answers on its own threads; every
// accessor locks.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"
#include "support/sharing/FacebookService.h"

namespace zv::testing {

struct CredentialCall {
  std::string host;
  std::string method;
  std::string path;  // without the query
  std::string rawQuery;
  std::string rawBody;
  std::map<std::string, std::string> fields;  // query and form (or multipart) fields, decoded
  std::vector<MultipartPart> parts;           // multipart bodies only
  std::optional<std::string> basicUser;       // from the Authorization field
  std::optional<std::string> basicPassword;
  std::optional<std::string> header(const std::string& name) const;
  std::vector<std::pair<std::string, std::string>> headers;
  int status = 0;  // what the stand-in answered
};

class CredentialServices {
 public:
  static constexpr const char* kUser = "ada/?@&=+ #x";
  static constexpr const char* kPassword = "p/a?s:s@w&o=r+d #%";
  static constexpr const char* kApiKey = "key/+=?&1";
  static constexpr const char* kAuth = "DQAAA/b+c==";
  static constexpr const char* kEditToken = "tok/en+1=";

  CredentialServices();
  ~CredentialServices();
  // Starts the server and points every host above at it (test host map, trusted
  // test CA).
  bool start();
  // Stops answering: later calls find nobody listening.
  void stop() { server_.stop(); }

  void failNext(const std::string& host, int status, std::vector<std::string> headerLines, std::string body);
  std::vector<CredentialCall> calls() const;
  std::vector<CredentialCall> callsTo(const std::string& path) const;
  // Why the last request was refused as malformed; empty when none was.
  std::string lastComplaint() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  // The answer as (status, header lines, body).
  struct Answer {
    int status = 200;
    std::vector<std::string> headers;
    std::string body;
  };
  Answer answer(CredentialCall& call);
  Answer complain(const std::string& why);

  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::vector<CredentialCall> calls_;
  std::map<std::string, Answer> failures_;
  std::string lastComplaint_;
};

}  // namespace zv::testing
