#include "sharing/services/foursquare/SXFoursquareV2Request.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/URL.h"
#include "sharing/core/SXText.h"
#include "sharing/json/SJSON.h"

namespace zv {

namespace {

std::string escaped(std::string_view text) { return percentEncode(text); }

std::string tokenAndVersion(const std::string& accessToken) {
  return "oauth_token=" + escaped(accessToken) + "&v=" + kSXFoursquareV2APIVersion;
}

}  // namespace

Ref<Error> SXFoursquareV2ErrorWithMeta(const Ref<Dictionary>& meta) {
  const auto code = meta ? integerValueOf(meta->objectForKey("code")) : 0;
  auto info = MutableDictionary::make();
  if (meta) {
    if (auto type = meta->objectForKey("errorType")) info->setObject(type, kSXFoursquareV2ErrorTypeKey);
    info->setObject(meta, kSXFoursquareV2MetaKey);
  }
  info->setObject(box(code == 401 ? SXLocalizedText("Could not authenticate you. Please relogin.")
                                  : SXLocalizedText("There was an error while sharing")),
                  kLocalizedDescriptionKey);
  return Error::make(kSXFoursquareV2ErrorDomain, code, info);
}

bool SXFoursquareV2ErrorNeedsRelogin(const Ref<Error>& error) {
  return error && error->domain() == kSXFoursquareV2ErrorDomain && error->code() == 401;
}

Ref<SXFoursquareV2Venue> SXFoursquareV2Venue::venueFromDictionary(const Ref<Dictionary>& dictionary) {
  if (!dictionary) return nullptr;
  auto venueId = dictionary->stringForKey("id");
  auto name = dictionary->stringForKey("name");
  if (!venueId || !name) return nullptr;
  auto venue = std::make_shared<SXFoursquareV2Venue>();
  venue->venueId = *venueId;
  venue->name = *name;
  if (auto location = dictionary->objectForKeyAs<Dictionary>("location")) venue->address = location->stringForKey("address");
  if (auto categories = dictionary->objectForKeyAs<Array>("categories")) {
    for (std::size_t i = 0; i < categories->count(); ++i) {
      auto category = dyn<Dictionary>(categories->objectAtIndex(i));
      if (category && boolValueOf(category->objectForKey("primary"))) {
        venue->icon = stringValueOf(category->objectForKey("icon"));
        break;
      }
    }
  }
  return venue;
}

std::string SXFoursquareV2Request::apiBase() { return "https://api.foursquare.com/v2"; }

std::string SXFoursquareV2Request::locationParameters(const Ref<ui::Location>& location) {
  return format("&ll=%.5f,%.5f&llAcc=%.2f&alt=%.2f&altAcc=%.2f", location ? location->latitude() : 0.0,
                location ? location->longitude() : 0.0, location ? location->horizontalAccuracy() : 0.0,
                location ? location->altitude() : 0.0, location ? location->verticalAccuracy() : 0.0);
}

Ref<SXFoursquareV2Request> SXFoursquareV2Request::make(const std::string& url, std::optional<std::string> params,
                                                       ObjectPtr delegate, SXRequestFinishedCallback finished,
                                                       std::optional<std::string> method, bool autostart) {
  auto request = std::make_shared<SXFoursquareV2Request>(URL::make(url), std::move(params), std::move(delegate),
                                                         std::move(finished), std::move(method));
  if (autostart) request->restart();
  return request;
}

Ref<SXFoursquareV2Request> SXFoursquareV2Request::requestProfileForUserId(const std::string& userId, ObjectPtr delegate,
                                                                          SXRequestFinishedCallback finished,
                                                                          const std::string& accessToken,
                                                                          bool autostart) {
  return make(apiBase() + "/users/" + escaped(userId) + "?" + tokenAndVersion(accessToken), std::nullopt,
              std::move(delegate), std::move(finished), "GET", autostart);
}

Ref<SXFoursquareV2Request> SXFoursquareV2Request::requestVenuesSearchLocation(
    const Ref<ui::Location>& location, const std::optional<std::string>& query, ObjectPtr delegate,
    SXRequestFinishedCallback finished, const std::string& accessToken, bool autostart) {
  auto url = apiBase() + "/venues/search?" + tokenAndVersion(accessToken) + locationParameters(location);
  if (query && !query->empty()) url += "&query=" + escaped(*query);
  return make(url, std::nullopt, std::move(delegate), std::move(finished), "GET", autostart);
}

Ref<SXFoursquareV2Request> SXFoursquareV2Request::requestCheckinLocation(
    const Ref<ui::Location>& location, const Ref<SXFoursquareV2Venue>& venue, const std::string& message,
    ObjectPtr delegate, SXRequestFinishedCallback finished, const std::string& accessToken, bool autostart) {
  auto url = apiBase() + "/checkins/add?" + tokenAndVersion(accessToken) +
             "&venueId=" + escaped(venue ? venue->venueId : std::string()) + locationParameters(location);
  if (!message.empty()) url += "&shout=" + escaped(message);
  return make(url, std::string(), std::move(delegate), std::move(finished), "POST", autostart);
}

void SXFoursquareV2Request::restart() {
  decoded_ = false;
  result_ = nullptr;
  error_ = nullptr;
  start();
}

Ref<Dictionary> SXFoursquareV2Request::getFoursquareResult() {
  if (!decoded_) {
    decoded_ = true;
    Ref<Error> ignored;
    result_ = dyn<Dictionary>(std::make_shared<SJSON>()->objectWithString(String::make(getResult()), &ignored));
  }
  return result_;
}

Ref<Dictionary> SXFoursquareV2Request::getFoursquareMeta() {
  auto result = getFoursquareResult();
  return result ? result->objectForKeyAs<Dictionary>("meta") : nullptr;
}

Ref<Dictionary> SXFoursquareV2Request::getFoursquareResponse() {
  auto result = getFoursquareResult();
  return result ? result->objectForKeyAs<Dictionary>("response") : nullptr;
}

Ref<Error> SXFoursquareV2Request::getFoursquareError() {
  if (success()) return nullptr;
  if (!error_) error_ = SXFoursquareV2ErrorWithMeta(getFoursquareMeta());
  return error_;
}

}  // namespace zv
