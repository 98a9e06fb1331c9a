#pragma once
// A loopback stand-in of the Foursquare API (api.foursquare.com, TLS with a leaf from the test
// CA, reached through the test host map). It checks what it receives, so a wrong request fails
// the test (the reason is kept in lastComplaint()):
//   GET  /v2/venues/search   oauth_token (a known token), v=20110927, ll "lat,lng" with five
//                            decimals, llAcc/alt/altAcc with two, an optional query; answers the
//                            places set with setVenues (filtered by name when there is a query)
//   GET  /oauth2/authenticate (foursquare.com) client id, response_type=token, the redirect URI;
//                            a login form whose button "allow" (POST /oauth2/grant) redirects to
//                            the redirect URI with "#access_token=" the first token added (no
//                            fragment at all after setOmitFragment(true))
//   POST /v2/checkins/add    the same, venueId of a known place, an optional shout; records it
// An unknown token gets the service's 401 ({"meta": {"code": 401, "errorType": "invalid_auth"}});
// failNext(path, status, body) answers the next call to a path with anything. holdSearches(query)
// keeps the answers to searches for that query until releaseHeldSearches() (or the server stops);
// setCallbackSpelling(url) redirects the login to another spelling of the redirect URI.
//
// Threads: the server answers on its own threads; every accessor locks.

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class FoursquareService {
 public:
  struct Place {
    std::string id, name, address;
  };

  static constexpr const char* kClientId = "FSQ-CLIENT-1";
  static constexpr const char* kRedirectURI = "https://zerivudor.example.org/foursquare-callback";

  FoursquareService();
  ~FoursquareService();
  bool start();

  void addToken(const std::string& token);
  void setOmitFragment(bool omit);
  void setVenues(std::vector<Place> places);
  void failNext(const std::string& path, int status, const std::string& body);
  void setCallbackSpelling(std::string url);
  void holdSearches(std::string query);
  void releaseHeldSearches();
  // Held searches answered since the server started.
  int heldSearchesAnswered() const;

  // Decoded query fields of each request to a path.
  std::vector<std::map<std::string, std::string>> calls(const std::string& path) const;
  std::string lastComplaint() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  void complain(FaultServer::Connection& connection, const std::string& why);

  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::vector<std::string> tokens_;
  std::vector<Place> places_;
  std::map<std::string, std::pair<int, std::string>> nextFailure_;
  std::map<std::string, std::vector<std::map<std::string, std::string>>> calls_;
  std::string lastComplaint_;
  bool omitFragment_ = false;
  std::string callbackSpelling_ = kRedirectURI;
  std::optional<std::string> heldQuery_;
  bool stopping_ = false;
  int heldAnswered_ = 0;
  std::condition_variable released_;
};

}  // namespace zv::testing
