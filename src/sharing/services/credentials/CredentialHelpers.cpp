#include "sharing/services/credentials/CredentialHelpers.h"

#include <cctype>

#include "platform/net/URLResponse.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXText.h"
#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv::credentials {

std::string escape(std::string_view text) { return oauth_encoding::URLEncodedString(text); }

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
  sharer.setPendingForm(std::dynamic_pointer_cast<SXFormController>(form.self()));
  auto request = makeRequest([finished = std::move(finished)](const Ref<SXRequest>& done) {
    SXActivityIndicator::currentIndicator()->hide();
    finished(done);
  });
  sharer.setRequest(request);
}

}  // namespace zv::credentials
