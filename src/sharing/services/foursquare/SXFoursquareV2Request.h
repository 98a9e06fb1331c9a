#pragma once
// The Foursquare API calls (place search, check-in, user profile) as small web requests with JSON
// replies, the place read from a reply, and the service's errors. Every value put into an address
// (token, user id, place id, query, message) is percent-escaped.
//
// Threads: main thread (a request calls back on the starting thread's run loop). Ownership: a
// request keeps its delegate until it has finished (as every SXRequest does).

#include <optional>
#include <string>

#include "platform/ui/LocationManager.h"
#include "sharing/core/SXRequest.h"

namespace zv {

inline constexpr const char* kSXFoursquareV2ErrorDomain = "SXFoursquareV2ErrorDomain";
inline constexpr const char* kSXFoursquareV2ErrorTypeKey = "SXFoursquareV2ErrorTypeKey";
inline constexpr const char* kSXFoursquareV2MetaKey = "SXFoursquareV2MetaKey";
inline constexpr const char* kSXFoursquareV2APIVersion = "20110927";

// The service's error for a reply's "meta" (nullptr meta: code 0).
Ref<Error> SXFoursquareV2ErrorWithMeta(const Ref<Dictionary>& meta);
// Whether the error asks for a new login (the service's domain, code 401).
bool SXFoursquareV2ErrorNeedsRelogin(const Ref<Error>& error);

class SXFoursquareV2Venue : public Object {
 public:
  // nullptr unless the dictionary has an id and a name.
  static Ref<SXFoursquareV2Venue> venueFromDictionary(const Ref<Dictionary>& dictionary);

  std::string venueId;
  std::string name;
  std::optional<std::string> address;
  std::optional<std::string> icon;
};

class SXFoursquareV2Request : public SXRequest {
 public:
  static std::string apiBase();

  static Ref<SXFoursquareV2Request> requestProfileForUserId(const std::string& userId, ObjectPtr delegate,
                                                            SXRequestFinishedCallback finished,
                                                            const std::string& accessToken, bool autostart);
  static Ref<SXFoursquareV2Request> requestVenuesSearchLocation(const Ref<ui::Location>& location,
                                                                const std::optional<std::string>& query,
                                                                ObjectPtr delegate, SXRequestFinishedCallback finished,
                                                                const std::string& accessToken, bool autostart);
  static Ref<SXFoursquareV2Request> requestCheckinLocation(const Ref<ui::Location>& location,
                                                           const Ref<SXFoursquareV2Venue>& venue,
                                                           const std::string& message, ObjectPtr delegate,
                                                           SXRequestFinishedCallback finished,
                                                           const std::string& accessToken, bool autostart);
  // "&ll=..,..&llAcc=..&alt=..&altAcc=.." (zeros without a location).
  static std::string locationParameters(const Ref<ui::Location>& location);

  using SXRequest::SXRequest;

  // Forgets the decoded reply and error, then starts.
  void restart();
  // The reply when it is a JSON object, else nullptr; its "meta" and "response".
  Ref<Dictionary> getFoursquareResult();
  Ref<Dictionary> getFoursquareMeta();
  Ref<Dictionary> getFoursquareResponse();
  // nullptr for a successful request, else the service's error (made once).
  Ref<Error> getFoursquareError();

 private:
  static Ref<SXFoursquareV2Request> make(const std::string& url, std::optional<std::string> params, ObjectPtr delegate,
                                         SXRequestFinishedCallback finished, std::optional<std::string> method,
                                         bool autostart);
  bool decoded_ = false;
  Ref<Dictionary> result_;
  Ref<Error> error_;
};

}  // namespace zv
