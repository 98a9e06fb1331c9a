#include "sharing/services/tumblr/SXTumblr.h"

#include <utility>

#include "platform/crypto/Digest.h"
#include "platform/graphics/Image.h"
#include "platform/net/NetErrors.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/services/credentials/CredentialHelpers.h"

namespace zv {

using credentials::escape;
using credentials::statusOf;

namespace {

constexpr const char* kAuthenticateURL = "https://www.tumblr.com/api/authenticate";
constexpr const char* kWriteURL = "https://www.tumblr.com/api/write";

std::string serviceErrorText() { return SXLocalizedText("The service encountered an error. Please try again later."); }
std::string postErrorText() { return SXLocalizedText("There was an error sending your post to Tumblr."); }

}  // namespace

void SXTumblr::registerClass() { SXSharer::registerSharerClass<SXTumblr>(); }

std::optional<std::string> SXTumblr::authorizationFormCaption() const {
  return SXLocalizedText("Create a free account at %@", "https://www.tumblr.com");
}

std::vector<Ref<SXFormFieldSettings>> SXTumblr::authorizationFormFields() const {
  return credentials::emailLoginFields();
}

void SXTumblr::authorizationFormValidate(SXFormController& form) {
  auto values = form.formValues();
  auto body =
      "email=" + escape(values->stringForKey("email")) + "&password=" + escape(values->stringForKey("password"));
  auto self = selfAs<SXTumblr>();
  credentials::startFormLoginCheck(
      *this, form, URL::make(kAuthenticateURL), body, [self](const Ref<SXRequest>& request) {
        self->showAlert(SXLocalizedText("Login Error"),
                        statusOf(request) == 403 ? SXLocalizedText("Invalid email or password.") : serviceErrorText());
      });
}

std::vector<Ref<SXFormFieldSettings>> SXTumblr::shareFormFieldsForType(std::int32_t type) {
  const bool image = type == SXShareTypeImage;
  return {SXFormFieldSettings::make(SXLocalizedText(image ? "Caption" : "Title"), image ? "caption" : "title",
                                    SXFormFieldTypeText, item()->title),
          SXFormFieldSettings::make(SXLocalizedText("Tag,Tag"), "tags", SXFormFieldTypeText, item()->tags),
          SXFormFieldSettings::make(SXLocalizedText("Slug"), "slug", SXFormFieldTypeText, std::nullopt),
          SXFormFieldSettings::make(SXLocalizedText("Private"), "private", SXFormFieldTypeSwitch, "0"),
          SXFormFieldSettings::make(SXLocalizedText("Send to Twitter"), "twitter", SXFormFieldTypeSwitch, "0")};
}

std::string SXTumblr::formBody() const {
  const auto& shared = *item();
  std::string body =
      "email=" + escape(getAuthValueForKey("email")) + "&password=" + escape(getAuthValueForKey("password"));
  if (auto generator = SXConfigString("appName"); generator && !generator->empty()) {
    body += "&generator=" + escape(generator);
  }
  body += shared.customBoolForSwitchKey("twitter") ? "&send-to-twitter=auto" : "&send-to-twitter=no";
  if (shared.tags && !shared.tags->empty()) body += "&tags=" + escape(shared.tags);
  if (auto slug = shared.customValueForKey("slug")) body += "&slug=" + escape(slug);
  body += shared.customBoolForSwitchKey("private") ? "&private=1" : "&private=0";
  if (shared.shareType == SXShareTypeText) {
    body += "&type=regular";
    if (shared.title) body += "&title=" + escape(shared.title);
    body += "&body=" + escape(shared.text);
  } else {
    const std::string link = SXURLEscape(shared.url);
    switch (shared.URLContentType) {
      case SXURLContentTypeAudio:
        body += "&type=audio&externally-hosted-url=" + link;
        if (shared.title) body += "&caption=" + escape(shared.title);
        break;
      case SXURLContentTypeVideo:
        body += "&type=video&embed=" + link;
        if (shared.title) body += "&caption=" + escape(shared.title);
        break;
      default:
        body += "&type=link&url=" + link;
        if (shared.title) body += "&name=" + escape(shared.title);
        break;
    }
  }
  return body;
}

bool SXTumblr::send() {
  if (!validateItem()) return false;
  if (item()->shareType == SXShareTypeImage) return sendPhoto();
  auto self = selfAs<SXTumblr>();
  return credentials::startFormSend(*this, URL::make(kWriteURL), formBody(),
                                    [self](const Ref<SXRequest>& r) { self->sendFinished(r); });
}

void SXTumblr::sendFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXTumblr>();
  setRequest(nullptr);
  const int status = statusOf(request);
  if (request->success()) {
    sendDidFinish();
  } else if (status == 403) {
    shouldReloginWithPendingAction(SXPendingActionSend);
  } else {
    sendDidFailWithError(SX::error(status == 500 ? serviceErrorText() : postErrorText()));
  }
}

Ref<Data> SXTumblr::generateImageData() const { return graphics::imageJPEGRepresentation(item()->image, 0.9); }

std::string SXTumblr::multipartBody(const Data& jpeg, std::string* boundaryOut) const {
  std::vector<std::pair<std::string, std::string>> fields;
  fields.emplace_back("email", getAuthValueForKey("email").value_or(""));
  fields.emplace_back("password", getAuthValueForKey("password").value_or(""));
  fields.emplace_back("type", "photo");
  if (auto generator = SXConfigString("appName"); generator && !generator->empty()) {
    fields.emplace_back("generator", *generator);
  }
  if (item()->tags && !item()->tags->empty()) fields.emplace_back("tags", *item()->tags);
  if (auto caption = item()->customValueForKey("caption")) fields.emplace_back("caption", *caption);
  if (auto slug = item()->customValueForKey("slug")) fields.emplace_back("slug", *slug);
  fields.emplace_back("private", item()->customBoolForSwitchKey("private") ? "1" : "0");
  fields.emplace_back("twitter", item()->customBoolForSwitchKey("twitter") ? "auto" : "no");

  // A value (or the picture) holding the boundary would end its part early and
  // could smuggle in parts of its own. A random boundary cannot be foreseen by
  // whoever wrote the values; it is checked once (and drawn again in the
  // unlikely case that something holds it).
  std::string boundary;
  auto held = [&](const std::string& candidate) {
    if (jpeg.view().find(candidate) != std::string_view::npos) return true;
    for (const auto& field : fields) {
      if (field.second.find(candidate) != std::string::npos) return true;
    }
    return false;
  };
  do {
    boundary = std::string(kBoundary) + "-" + crypto::makeUUIDString();
  } while (held(boundary));

  std::string body;
  for (const auto& [name, value] : fields) {
    body += "\r\n--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    body += value;
  }
  body += "\r\n--" + boundary + "\r\n";
  body +=
      "Content-Disposition: form-data; name=\"data\"; "
      "filename=\"upload.jpg\"\r\n";
  body += "Content-Type: image/jpeg\r\n";
  // The service reads this line (not a standard header value) to accept the
  // picture.
  body += "Content-Transfer-Encoding: image/jpg\r\n\r\n";
  body.append(jpeg.view());
  body += "\r\n--" + boundary + "--\r\n";
  if (boundaryOut) *boundaryOut = boundary;
  return body;
}

bool SXTumblr::sendPhoto() {
  auto jpeg = generateImageData();
  if (!jpeg) return false;
  std::string boundary;
  auto body = multipartBody(*jpeg, &boundary);
  auto request = net::MutableURLRequest::requestWithURL(URL::make(kWriteURL));
  request->setHTTPMethod("POST");
  request->setValueForHTTPHeaderField("multipart/form-data; boundary=" + boundary, "Content-Type");
  request->setHTTPBody(Data::make(std::move(body)));
  data_ = MutableData::make();
  response_ = nullptr;
  redirectRefused_ = false;
  connection_ = net::URLConnection::make(request, std::dynamic_pointer_cast<net::URLConnectionDelegate>(self()));
  if (!connection_) return false;
  sendDidStart();
  return true;
}

Ref<net::URLRequest> SXTumblr::connectionWillSendRequestRedirectResponse(net::URLConnection&,
                                                                        const Ref<net::URLRequest>& request,
                                                                        const Ref<net::URLResponse>& redirectResponse) {
  if (!redirectResponse || !request || !request->url()) return request;
  if (SXRequest::mayFollowRedirect(*URL::make(kWriteURL), *request->url())) return request;
  redirectRefused_ = true;  // the redirect answer ends the load, and the post fails
  return nullptr;
}

void SXTumblr::connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) {
  response_ = dyn<net::HTTPURLResponse>(response);
  data_ = MutableData::make();
}

void SXTumblr::connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) {
  if (data && data_) data_->append(data->data(), data->length());
}

void SXTumblr::connectionDidFinishLoading(net::URLConnection&) { finish(); }

void SXTumblr::connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) {
  // A load that failed is no post, whatever status its answer began with.
  loadFailed_ = true;
  tooLong_ = error && error->domain() == kURLErrorDomain && error->code() == net::kURLErrorDataLengthExceedsMaximum;
  finish();
}

void SXTumblr::finish() {
  auto hold = selfAs<SXTumblr>();
  connection_ = nullptr;
  const bool loadFailed = std::exchange(loadFailed_, false);
  const bool tooLong = std::exchange(tooLong_, false);
  const int status = response_ && !loadFailed ? response_->statusCode() : 0;
  if (redirectRefused_) {
    redirectRefused_ = false;
    sendDidFailWithError(SXRequest::redirectRefusedError());
  } else if (tooLong) {
    sendDidFailWithError(SX::error("The service's answer is larger than the most allowed."));
  } else if (status == 200 || status == 201) {
    sendDidFinish();
  } else if (status == 403) {
    sendDidFailWithErrorShouldRelogin(SX::error(SXLocalizedText("Invalid email or password.")), true);
  } else {
    sendDidFailWithError(SX::error(status == 500 ? serviceErrorText() : postErrorText()));
  }
}

}  // namespace zv
