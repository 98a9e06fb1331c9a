#include "sharing/services/bookmarks/SXBookmarkSharers.h"

#include "platform/foundation/String.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/core/SXXMLResponseParser.h"
#include "sharing/services/credentials/CredentialHelpers.h"

namespace zv {

using credentials::escape;
using credentials::statusOf;

std::optional<std::string> SXBookmarkSharer::authorizationFormCaption() const {
  return SXLocalizedText("Create an account at %@", webAddress());
}

std::string SXBookmarkSharer::credentialedBase(const std::optional<std::string>& user,
                                               const std::optional<std::string>& password) const {
  return "https://" + escape(user) + ":" + escape(password) + "@" + apiHost();
}

void SXBookmarkSharer::authorizationFormValidate(SXFormController& form) {
  auto values = form.formValues();
  auto user = values->stringForKey("username");
  auto password = values->stringForKey("password");
  auto self = selfAs<SXBookmarkSharer>();
  credentials::startLoginCheck(
      *this, form,
      [&](SXRequestFinishedCallback finished) {
        return makeCheckRequest(credentialedBase(user, password), user.value_or(""), std::move(finished));
      },
      [self](const Ref<SXRequest>& request) { self->authFinished(request); });
}

void SXBookmarkSharer::authFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXBookmarkSharer>();
  setRequest(nullptr);
  const bool success = request->success();
  if (success) {
    if (auto form = pendingForm()) form->saveForm();
  } else {
    loginFailed(request);
  }
  authDidFinish(success);
}

void SXBookmarkSharer::loginFailed(const Ref<SXRequest>& request) {
  if (statusOf(request) == 401) {
    authShowBadCredentialsAlert();
  } else {
    authShowOtherAuthorizationErrorAlert();
  }
}

std::vector<Ref<SXFormFieldSettings>> SXBookmarkSharer::shareFormFieldsForType(std::int32_t type) {
  if (type != SXShareTypeURL) return {};
  return {SXFormFieldSettings::make(SXLocalizedText("Title"), "title", SXFormFieldTypeText, item()->title),
          SXFormFieldSettings::make(SXLocalizedText("Tags"), "tags", SXFormFieldTypeText, item()->tags),
          SXFormFieldSettings::make(SXLocalizedText("Notes"), "text", SXFormFieldTypeText, item()->text),
          SXFormFieldSettings::make(SXLocalizedText("Shared"), "shared", SXFormFieldTypeSwitch, "0")};
}

bool SXBookmarkSharer::send() {
  if (!validateItem()) return false;
  auto self = selfAs<SXBookmarkSharer>();
  auto request = makeBookmarkRequest(credentialedBase(getAuthValueForKey("username"), getAuthValueForKey("password")),
                                     [self](const Ref<SXRequest>& done) { self->sendFinished(done); });
  setRequest(request);
  sendDidStart();
  return true;
}

void SXBookmarkSharer::sendFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXBookmarkSharer>();
  setRequest(nullptr);
  if (bookmarkSaved(request)) {
    sendDidFinish();
  } else if (statusOf(request) == 401) {
    shouldReloginWithPendingAction(SXPendingActionSend);
  } else {
    bookmarkFailed(request);
  }
}

void SXBookmarkSharer::bookmarkFailed(const Ref<SXRequest>&) { sendShowSimpleErrorAlert(); }

std::string SXBookmarkSharer::escapedURL() const { return SXURLEscape(item()->url); }
std::string SXBookmarkSharer::escapedTitle() const { return escape(item()->title); }
std::string SXBookmarkSharer::escapedTags() const { return escape(item()->tags); }
std::string SXBookmarkSharer::escapedNotes() const { return escape(item()->text); }
std::string SXBookmarkSharer::sharedValue() const { return item()->customBoolForSwitchKey("shared") ? "yes" : "no"; }

// Diigo: the API key goes with every call; the bookmark is a form post.

void SXDiigo::registerClass() { SXSharer::registerSharerClass<SXDiigo>(); }

Ref<SXRequest> SXDiigo::makeCheckRequest(const std::string& base, const std::string& user,
                                         SXRequestFinishedCallback finished) {
  auto url = base + "/api/v2/bookmarks?key=" + escape(SXConfigString("diigoKey")) + "&count=1&user=" + escape(user);
  return SXRequest::make(URL::make(url), std::nullopt, self(), std::move(finished), "GET", true);
}

Ref<SXRequest> SXDiigo::makeBookmarkRequest(const std::string& base, SXRequestFinishedCallback finished) {
  auto body = "key=" + escape(SXConfigString("diigoKey")) + "&url=" + escapedURL() + "&title=" + escapedTitle() +
              "&tags=" + escapedTags() + "&desc=" + escapedNotes() + "&shared=" + sharedValue();
  return credentials::postForm(URL::make(base + "/api/v2/bookmarks"), body, self(), std::move(finished));
}

// Pinboard: the check is a POST without a body; failures have their own texts.

void SXPinboard::registerClass() { SXSharer::registerSharerClass<SXPinboard>(); }

Ref<SXRequest> SXPinboard::makeCheckRequest(const std::string& base, const std::string&,
                                            SXRequestFinishedCallback finished) {
  return credentials::postForm(URL::make(base + "/v1/posts/get"), std::string(), self(), std::move(finished));
}

Ref<SXRequest> SXPinboard::makeBookmarkRequest(const std::string& base, SXRequestFinishedCallback finished) {
  auto url = base + "/v1/posts/add?url=" + escapedURL() + "&description=" + escapedTitle() + "&tags=" + escapedTags() +
             "&extended=" + escapedNotes() + "&shared=" + sharedValue();
  return SXRequest::make(URL::make(url), std::nullopt, self(), std::move(finished), "GET", true);
}

void SXPinboard::loginFailed(const Ref<SXRequest>& request) {
  showAlert(SXLocalizedText("Login Error"),
            statusOf(request) == 401 ? SXLocalizedText("Invalid email or password.")
                                     : SXLocalizedText("The service encountered an error. Please try again later."));
}

void SXPinboard::bookmarkFailed(const Ref<SXRequest>&) {
  sendDidFailWithError(SX::error(SXLocalizedText("There was an error saving to Pinboard")));
}

// Delicious: the outcome is in the XML reply.

void SXDelicious::registerClass() { SXSharer::registerSharerClass<SXDelicious>(); }

Ref<SXRequest> SXDelicious::makeCheckRequest(const std::string& base, const std::string&,
                                             SXRequestFinishedCallback finished) {
  return SXRequest::make(URL::make(base + "/v1/posts/get"), std::nullopt, self(), std::move(finished), "GET", true);
}

Ref<SXRequest> SXDelicious::makeBookmarkRequest(const std::string& base, SXRequestFinishedCallback finished) {
  auto url = base + "/v1/posts/add?url=" + escapedURL() + "&description=" + escapedTitle() + "&tags=" + escapedTags() +
             "&extended=" + escapedNotes() + "&shared=" + sharedValue();
  return SXRequest::make(URL::make(url), std::nullopt, self(), std::move(finished), "GET", true);
}

bool SXDelicious::bookmarkSaved(const Ref<SXRequest>& request) {
  if (!request->data()) return false;
  auto code = dyn<String>(SXXMLResponseParser::getValueForElement("code", request->data()));
  return code && code->utf8() == "done";
}

}  // namespace zv
