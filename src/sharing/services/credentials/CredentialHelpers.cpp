#include "sharing/services/credentials/CredentialHelpers.h"

#include <cctype>

#include "platform/net/URLResponse.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXText.h"
#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv::credentials {

std::string escape(std::string_view text) { return oauth_encoding::URLEncodedString(text); }

std::vector<Ref<SXFormFieldSettings>> emailLoginFields() {
  return {SXFormFieldSettings::make(SXLocalizedText("Email"), "email", SXFormFieldTypeTextNoCorrect, std::nullopt),
          SXFormFieldSettings::make(SXLocalizedText("Password"), "password", SXFormFieldTypePassword, std::nullopt)};
}

Ref<SXRequest> postForm(Ref<URL> url, std::string body, ObjectPtr delegate, SXRequestFinishedCallback finished,
                        bool autostart) {
  auto request =
      SXRequest::make(std::move(url), std::move(body), std::move(delegate), std::move(finished), "POST", false);
  auto fields = MutableDictionary::make();
  fields->setObject(box("application/x-www-form-urlencoded"), "Content-Type");
  request->setHeaderFields(fields);
  if (autostart) request->start();
  return request;
}

int statusOf(const Ref<SXRequest>& request) {
  return request && request->response() ? request->response()->statusCode() : 0;
}

std::optional<std::string> headerOf(const Ref<SXRequest>& request, std::string_view name) {
  if (!request || !request->response()) return std::nullopt;
  return request->response()->headerFields().get(name);
}

void startLoginCheck(SXSharer& sharer, SXFormController& form,
                     const std::function<Ref<SXRequest>(SXRequestFinishedCallback)>& makeRequest,
                     std::function<void(const Ref<SXRequest>&)> finished) {
  if (!sharer.quiet()) SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Logging In..."));
  auto pending = std::dynamic_pointer_cast<SXFormController>(form.self());
  sharer.setPendingForm(pending);
  std::weak_ptr<SXSharer> weakSharer = std::dynamic_pointer_cast<SXSharer>(sharer.self());
  std::weak_ptr<SXFormController> weakForm = pending;
  // The check is the service's current login: a logout meanwhile drops its answer (the form stays
  // for another try) and the login is reported failed.
  auto attempt = sharer.beginLoginAttempt([](SXSharer& owner) {
    auto hold = std::dynamic_pointer_cast<SXSharer>(owner.self());
    SXActivityIndicator::currentIndicator()->hide();
    owner.setRequest(nullptr);
    owner.authDidFinish(false);
  });
  auto request = makeRequest([weakSharer, weakForm, attempt,
                              finished = std::move(finished)](const Ref<SXRequest>& done) {
    // The answer counts only while this check is still the sharer's: a Cancel meanwhile let go of
    // its form and request (and hid the indicator), and a newer check replaced the request.
    auto owner = weakSharer.lock();
    auto form = weakForm.lock();
    if (!owner || !form || owner->pendingForm() != form) return;
    if (owner->request() && owner->request() != done) return;
    if (!attempt->take()) return;
    SXActivityIndicator::currentIndicator()->hide();
    finished(done);
  });
  sharer.setRequest(request);
}

void startFormLoginCheck(SXSharer& sharer, SXFormController& form, Ref<URL> url, std::string body,
                         std::function<void(const Ref<SXRequest>&)> refused) {
  auto self = std::dynamic_pointer_cast<SXSharer>(sharer.self());
  startLoginCheck(
      sharer, form,
      [&](SXRequestFinishedCallback finished) {
        return postForm(std::move(url), std::move(body), self, std::move(finished));
      },
      [self, refused = std::move(refused)](const Ref<SXRequest>& request) {
        auto hold = self;  // letting the request go must not end the sharer mid-report
        hold->setRequest(nullptr);
        if (request->success()) {
          if (auto pending = hold->pendingForm()) pending->saveForm();
        } else {
          refused(request);
        }
        hold->authDidFinish(request->success());
      });
}

bool startFormSend(SXSharer& sharer, Ref<URL> url, std::string body, SXRequestFinishedCallback finished) {
  sharer.setRequest(postForm(std::move(url), std::move(body), sharer.self(), std::move(finished)));
  sharer.sendDidStart();
  return true;
}

}  // namespace zv::credentials
