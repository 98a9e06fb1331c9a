#include "sharing/services/readability/SXReadability.h"

#include "platform/foundation/Array.h"
#include "platform/foundation/String.h"
#include "platform/system/UserDefaults.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/core/oauth/OCAsynchronousDataFetcher.h"
#include "sharing/core/oauth/OCParameterAdditions.h"
#include "sharing/json/JSONDecoder.h"

namespace zv {

namespace {

constexpr const char* kWebAddress = "https://www.readability.com";

std::optional<std::string> firstText(const ObjectPtr& list) {
  auto array = dyn<Array>(list);
  if (!array || array->empty()) return std::nullopt;
  auto text = dyn<String>(array->objectAtIndex(0));
  return text ? std::optional<std::string>(text->utf8()) : std::nullopt;
}

}  // namespace

void SXReadability::registerClass() { SXSharer::registerSharerClass<SXReadability>("SXOAuthSharer"); }

void SXReadability::init() {
  SXOAuthSharer::init();
  setConsumerKey(SXConfigString("readabilityConsumerKey").value_or(""));
  setSecretKey(SXConfigString("readabilitySecret").value_or(""));
  setXAuth(SXConfigBool("readabilityUseXAuth"));
  setAuthorizeURL(serviceURL("/api/rest/v1/oauth/authorize/"));
  setRequestURL(serviceURL("/api/rest/v1/oauth/request_token/"));
  setAccessURL(serviceURL("/api/rest/v1/oauth/access_token/"));
  setSignatureProvider(OCHMAC_SHA1SignatureProvider::make());
}

Ref<URL> SXReadability::serviceURL(const std::string& path) const {
  return URL::make(std::string("https://") + kHost + path);
}

bool SXReadability::isAuthorized() { return restoreAccessToken(); }

void SXReadability::promptAuthorization() {
  if (!xAuth() && !authorizeCallbackURL()) {
    // The authorization page ends only at a callback address, and none is configured for this
    // service: the login would never end, so it fails at once.
    SXSharer::showAlert(SXLocalizedText("Authorize Error"),
                        SXLocalizedText("The web login of %@ has no callback address; use the xAuth login.",
                                        sharerTitle()));
    authDidFinish(false);
    return;
  }
  SXOAuthSharer::promptAuthorization();
}

void SXReadability::logout() {
  UserDefaults::standardUserDefaults()->removeObjectForKey(kUserInfoKey);
  SXOAuthSharer::logout();
}

std::optional<std::string> SXReadability::authorizationFormCaption() const {
  return SXLocalizedText("Create a free account at %@", kWebAddress);
}

void SXReadability::tokenAccessModifyRequest(OCMutableURLRequest& request) {
  if (!xAuth()) addAuthorizeVerifier(request);
  SXOAuthSharer::tokenAccessModifyRequest(request);
}

std::vector<Ref<SXFormFieldSettings>> SXReadability::shareFormFieldsForType(std::int32_t type) {
  if (type != SXShareTypeURL) return {};
  return {SXFormFieldSettings::make(SXLocalizedText("Favorite"), "favorite", SXFormFieldTypeSwitch, "0"),
          SXFormFieldSettings::make(SXLocalizedText("Archive"), "archive", SXFormFieldTypeSwitch, "0")};
}

void SXReadability::shareFormSave(SXFormController& form) {
  // Stored before the base save sends, so this very share uses the switches' values.
  auto values = form.formValues();
  auto defaults = UserDefaults::standardUserDefaults();
  defaults->setBool(values->stringForKey("favorite").value_or("") == "1", sharerId() + "_isFavorite");
  defaults->setBool(values->stringForKey("archive").value_or("") == "1", sharerId() + "_shouldArchive");
  SXOAuthSharer::shareFormSave(form);
}

bool SXReadability::send() {
  if (!validateItem() || item()->shareType != SXShareTypeURL) return false;
  sendBookmark();
  sendDidStart();
  return true;
}

void SXReadability::sendBookmark() {
  auto request = OCMutableURLRequest::make(serviceURL("/api/rest/v1/bookmarks/"), consumer(), accessToken(),
                                           std::nullopt, signatureProvider());
  request->setHTTPMethod("POST");
  auto defaults = UserDefaults::standardUserDefaults();
  oauth_parameters::setParameters(
      *request,
      {OCRequestParameter::requestParameterWithName("url", item()->url->absoluteString()),
       OCRequestParameter::requestParameterWithName("favorite", defaults->boolForKey(sharerId() + "_isFavorite") ? "1" : "0"),
       OCRequestParameter::requestParameterWithName("archive",
                                                    defaults->boolForKey(sharerId() + "_shouldArchive") ? "1" : "0")});
  auto self = selfAs<SXReadability>();
  OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, self,
      [self](const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
        if (ticket && ticket->didSucceed()) {
          self->shareEnded();
          self->sendDidFinish();
        } else {
          self->handleUnsuccessfulTicket(data);
        }
      },
      [self](const Ref<OCServiceTicket>&, const Ref<Error>& error) {
        self->sendDidFailWithError(error ? error : SX::error(SXLocalizedText("There was an error while sharing")));
      })
      ->start();
}

void SXReadability::handleUnsuccessfulTicket(const Ref<Data>& data) {
  auto hold = selfAs<SXReadability>();
  Ref<Error> parseError;
  auto reply = data ? dyn<Dictionary>(JSONDecoder::decoder()->objectWithData(data, &parseError)) : nullptr;
  // Only the service's own error code means the login is gone; the word inside a message (a
  // bookmarked page's address, say) does not.
  if (reply && reply->stringForKey("error") == "unauthenticated") {
    accessTokenRefused(SX::error(SXLocalizedText("Could not authenticate you. Please relogin.")));
    return;
  }
  std::optional<std::string> message;
  if (reply) {
    auto messages = reply->objectForKey("messages");
    message = firstText(messages);
    if (!message) {
      if (auto byField = dyn<Dictionary>(messages)) message = firstText(byField->objectForKey("url"));
    }
  }
  // A failed exchange is a failure, even when its body claims success.
  sendDidFailWithError(Error::make(
      "Readability", 2, message.value_or(SXLocalizedText("The service encountered an error. Please try again later."))));
}

}  // namespace zv
