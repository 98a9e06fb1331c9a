#include "sharing/services/twitter/SXTwitter.h"

#include <algorithm>
#include <cctype>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/String.h"
#include "platform/foundation/Values.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/core/SXXMLResponseParser.h"
#include "sharing/core/oauth/OAuthEncoding.h"
#include "sharing/core/oauth/OCAsynchronousDataFetcher.h"
#include "sharing/core/oauth/OCParameterAdditions.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/services/twitter/SXiOS5Twitter.h"

namespace zv {

namespace {

constexpr const char* kUserInfoPath = "/1/account/verify_credentials.json";
constexpr const char* kStatusPath = "/1/statuses/update.json";
constexpr const char* kWebAddress = "https://twitter.com";
constexpr int kJPEGFirstTenths = 9;  // quality 0.9
constexpr int kJPEGLastTenths = 1;   // quality 0.1

// Null values become empty strings, in nested containers too, so the profile can be stored as a
// property list.
ObjectPtr withoutNulls(const ObjectPtr& value) {
  if (dyn<Null>(value)) return box("");
  if (auto dictionary = dyn<Dictionary>(value)) {
    auto copy = MutableDictionary::make();
    dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
      copy->setObject(withoutNulls(object), key);
      return true;
    });
    return copy;
  }
  if (auto array = dyn<Array>(value)) {
    std::vector<ObjectPtr> items;
    for (std::size_t i = 0; i < array->count(); ++i) items.push_back(withoutNulls(array->objectAtIndex(i)));
    return Array::make(std::move(items));
  }
  return value;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmedLines(const std::string& text) {
  auto first = text.find_first_not_of("\r\n");
  if (first == std::string::npos) return "";
  auto last = text.find_last_not_of("\r\n");
  return text.substr(first, last - first + 1);
}

// The link as written: decoding it would give another link ("%26" becoming a separator) or cut
// it at a decoded blank.
std::string linkText(const Ref<URL>& url) { return url->absoluteString(); }

}  // namespace

void SXTwitter::registerClass() {
  SXSharer::registerSharerClass<SXTwitter>("SXOAuthSharer");
  SXSharer::registerSharerClass<SXiOS5Twitter>();
}

void SXTwitter::init() {
  SXOAuthSharer::init();
  setConsumerKey(SXConfigString("twitterConsumerKey").value_or(""));
  setSecretKey(SXConfigString("twitterSecret").value_or(""));
  if (auto callback = SXConfigString("twitterCallbackUrl"); callback && !callback->empty()) {
    setAuthorizeCallbackURL(URL::make(*callback));
  }
  setXAuth(SXConfigBool("twitterUseXAuth"));
  setAuthorizeURL(apiURL("/oauth/authorize"));
  setRequestURL(apiURL("/oauth/request_token"));
  setAccessURL(apiURL("/oauth/access_token"));
  setSignatureProvider(OCHMAC_SHA1SignatureProvider::make());
}

Ref<URL> SXTwitter::apiURL(const std::string& path) const { return URL::make(std::string("https://") + kAPIHost + path); }

bool SXTwitter::twitterFrameworkAvailable() {
  if (SXConfigBool("forcePreIOS5TwitterAccess")) return false;
  return ui::TweetComposeViewController::isAvailable();
}

void SXTwitter::share() {
  auto hold = selfAs<SXTwitter>();
  if (twitterFrameworkAvailable()) {
    auto sheet = SXSharer::make<SXiOS5Twitter>();
    sheet->setQuiet(quiet());
    sheet->setShareDelegate(shareDelegate());
    SXSharer::shareItem(sheet, item());
    logout();
    return;
  }
  if (prepareItem()) SXOAuthSharer::share();
}

bool SXTwitter::prepareItem() {
  switch (item()->shareType) {
    case SXShareTypeURL:
      // Shortened once per share: a share resumed after the login keeps the status it has.
      if (!item()->url || item()->customValueForKey("status")) return true;
      shortenURL();
      return request() == nullptr;
    case SXShareTypeImage: item()->setCustomValue(item()->title, "status"); break;
    case SXShareTypeText: item()->setCustomValue(item()->text, "status"); break;
    default: break;
  }
  return true;
}

bool SXTwitter::isAuthorized() {
  if (twitterFrameworkAvailable()) {
    logout();
    return false;
  }
  return restoreAccessToken();
}

void SXTwitter::promptAuthorization() {
  if (twitterFrameworkAvailable()) return;
  SXOAuthSharer::promptAuthorization();
}

void SXTwitter::logout() {
  UserDefaults::standardUserDefaults()->removeObjectForKey(kUserInfoKey);
  SXOAuthSharer::logout();
}

std::optional<std::string> SXTwitter::authorizationFormCaption() const {
  return SXLocalizedText("Create a free account at %@", kWebAddress);
}

std::vector<Ref<SXFormFieldSettings>> SXTwitter::authorizationFormFields() const {
  auto fields = SXSharer::authorizationFormFields();
  auto username = SXConfigString("twitterUsername").value_or("");
  if (!username.empty()) {
    fields.push_back(
        SXFormFieldSettings::make(SXLocalizedText("Follow %@", username), "followMe", SXFormFieldTypeSwitch, "1"));
  }
  return fields;
}

void SXTwitter::tokenAccessModifyRequest(OCMutableURLRequest& request) {
  // The service issues an access token only against the verifier its authorization page gave.
  if (!xAuth()) addAuthorizeVerifier(request);
  SXOAuthSharer::tokenAccessModifyRequest(request);
}

void SXTwitter::tokenAccessTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  // An accepted xAuth login keeps the form's "Follow" choice for after the share.
  if (xAuth() && ticket && ticket->didSucceed()) {
    if (auto form = pendingForm()) item()->setCustomValue(form->formValues()->stringForKey("followMe"), "followMe");
  }
  SXOAuthSharer::tokenAccessTicketDidFinishWithData(ticket, data);
}

void SXTwitter::show() {
  switch (item()->shareType) {
    case SXShareTypeURL:
    case SXShareTypeText:
    case SXShareTypeImage: showTwitterForm(); break;
    case SXShareTypeUserInfo:
      setQuiet(true);
      tryToSend();
      break;
    default: break;
  }
}

void SXTwitter::showTwitterForm() {
  auto form = std::make_shared<SXCustomFormControllerLargeTextField>(
      std::dynamic_pointer_cast<SXFormControllerLargeTextFieldDelegate>(self()));
  form->setText(item()->customValueForKey("status"));
  form->setMaxTextLength(kStatusLimit);
  form->setImage(item()->image);
  form->setImageTextLength(kImageTextLength);
  navigationBar()->setTintColor(dyn<graphics::Color>(SXConfigValue("barTintForView:", self())));
  pushViewController(form, false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

void SXTwitter::sendForm(SXFormControllerLargeTextField& form) {
  item()->setCustomValue(form.textView() ? std::optional<std::string>(form.textView()->text()) : form.text(), "status");
  tryToSend();
}

void SXTwitter::shortenURL() {
  auto login = SXConfigString("bitLyLogin").value_or("");
  auto key = SXConfigString("bitLyKey").value_or("");
  if (login.empty() || key.empty() || !SX::connected()) {
    item()->setCustomValue(statusWithLink(linkText(item()->url)), "status");
    setRequest(nullptr);
    return;
  }
  if (!quiet()) SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Shortening URL..."));
  auto address = std::string("https://") + kShortenHost + "/v3/shorten?login=" + oauth_encoding::URLEncodedString(login) +
                 "&apikey=" + oauth_encoding::URLEncodedString(key) + "&longUrl=" + SXURLEscape(item()->url) +
                 "&format=txt";
  auto self = selfAs<SXTwitter>();
  setRequest(SXRequest::make(
      URL::make(address), std::nullopt, self, [self](const Ref<SXRequest>& request) { self->shortenURLFinished(request); },
      "GET", true));
}

void SXTwitter::shortenURLFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXTwitter>();
  SXActivityIndicator::currentIndicator()->hide();
  setRequest(nullptr);
  std::string reply = request && request->success() ? trimmedLines(request->getResult()) : std::string();
  std::string link;
  auto shortURL = reply.empty() ? nullptr : URL::make(reply);
  if (shortURL && shortURL->host() && !shortURL->host()->empty() && reply.find(' ') == std::string::npos) {
    link = reply;
  } else {
    if (reply != "ALREADY_A_BITLY_LINK") {
      ui::AlertView::make(SXLocalizedText("Shorten URL Error"), SXLocalizedText("We could not shorten the URL."), {},
                          SXLocalizedText("Continue"))
          ->show();
    }
    link = linkText(item()->url);
  }
  item()->setCustomValue(statusWithLink(link), "status");
  SXOAuthSharer::share();
}

std::string SXTwitter::statusWithLink(const std::string& link) const {
  auto text = item()->title ? item()->title : item()->text;
  return text.value_or("") + " " + link;
}

std::size_t SXTwitter::statusLength(const std::string& status) { return String::make(status)->length(); }

bool SXTwitter::validateItem() {
  if (!item()) return false;
  if (item()->shareType == SXShareTypeUserInfo) return true;
  return item()->customValueForKey("status").has_value();
}

bool SXTwitter::validateItemAfterUserEdit() {
  if (!validateItem()) return false;
  if (item()->shareType == SXShareTypeUserInfo) return true;
  return statusLength(*item()->customValueForKey("status")) <= kStatusLimit;
}

bool SXTwitter::send() {
  auto hold = selfAs<SXTwitter>();
  if (xAuth() && item()->customBoolForSwitchKey("followMe")) followMe();
  if (!validateItemAfterUserEdit()) return false;
  sendDidStart();
  if (item()->shareType == SXShareTypeUserInfo) {
    sendUserInfo();
  } else if (item()->shareType == SXShareTypeImage) {
    sendImage();
  } else {
    sendStatus();
  }
  return true;
}

void SXTwitter::sendStatus() {
  auto request = OCMutableURLRequest::make(apiURL(kStatusPath), consumer(), accessToken(), std::nullopt,
                                           signatureProvider());
  request->setHTTPMethod("POST");
  oauth_parameters::setParameters(
      *request, {OCRequestParameter::requestParameterWithName("status", item()->customValueForKey("status").value_or(""))});
  auto self = selfAs<SXTwitter>();
  OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, self, [self](const Ref<OCServiceTicket>& t, const Ref<Data>& d) { self->statusFinished(t, d); },
      [self](const Ref<OCServiceTicket>&, const Ref<Error>& e) { self->transportFailed(e); })
      ->start();
}

void SXTwitter::statusFinished(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  if (ticket && ticket->didSucceed()) {
    shareEnded();
    sendDidFinish();
  } else {
    handleUnsuccessfulTicket(data);
  }
}

void SXTwitter::transportFailed(const Ref<Error>& error) {
  sendDidFailWithError(error ? error : SX::error(SXLocalizedText("There was an error while sharing")));
}

void SXTwitter::sendUserInfo() {
  auto request = OCMutableURLRequest::make(apiURL(kUserInfoPath), consumer(), accessToken(), std::nullopt,
                                           signatureProvider());
  request->setHTTPMethod("GET");
  auto self = selfAs<SXTwitter>();
  OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, self, [self](const Ref<OCServiceTicket>& t, const Ref<Data>& d) { self->userInfoFinished(t, d); },
      [self](const Ref<OCServiceTicket>&, const Ref<Error>& e) { self->transportFailed(e); })
      ->start();
}

void SXTwitter::userInfoFinished(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  if (!ticket || !ticket->didSucceed()) {
    handleUnsuccessfulTicket(data);
    return;
  }
  Ref<Error> error;
  auto profile = dyn<Dictionary>(JSONDecoder::decoder()->mutableObjectWithData(data, &error));
  if (!profile) {
    sendDidFailWithError(SX::error(SXLocalizedText("The service encountered an error. Please try again later.")));
    return;
  }
  UserDefaults::standardUserDefaults()->setObject(withoutNulls(profile), kUserInfoKey);
  shareEnded();
  sendDidFinish();
}

Ref<Data> SXTwitter::uploadJPEG(const Ref<graphics::Image>& image, std::size_t limit, Ref<Error>* error) {
  // Whole tenths, so the last attempt is exactly 0.1 and none is skipped or repeated.
  for (int tenths = kJPEGFirstTenths; tenths >= kJPEGLastTenths; --tenths) {
    auto jpeg = graphics::imageJPEGRepresentation(image, tenths / 10.0);
    if (!jpeg) break;
    if (jpeg->length() <= limit) return jpeg;
  }
  if (error) *error = SX::error(SXLocalizedText("The image is too large to upload."));
  return nullptr;
}

std::string SXTwitter::uploadBody(const Data& jpeg, const std::string& message, std::string* boundaryOut) {
  // A message (or picture) holding the boundary would end its part early and could add parts of
  // its own. A random boundary cannot be foreseen by whoever wrote the message; it is drawn again
  // in the unlikely case that something holds it.
  std::string boundary;
  do {
    boundary = std::string(kBoundary) + "-" + crypto::makeUUIDString();
  } while (message.find(boundary) != std::string::npos || jpeg.view().find(boundary) != std::string_view::npos);
  std::string body = "--" + boundary + "\r\n";
  body += "Content-Disposition: form-data; name=\"media\"; filename=\"upload.jpg\"\r\n";
  body += "Content-Type: image/jpg\r\n\r\n";
  body += jpeg.view();
  body += "\r\n--" + boundary + "\r\n";
  body += "Content-Disposition: form-data; name=\"message\"\r\n\r\n";
  body += message;
  body += "\r\n--" + boundary + "--\r\n";
  if (boundaryOut) *boundaryOut = boundary;
  return body;
}

bool SXTwitter::sendImage() {
  Ref<Error> error;
  auto jpeg = uploadJPEG(item()->image, kImageUploadLimit, &error);
  if (!jpeg) {
    sendDidFailWithError(error);
    return false;
  }
  const std::string realm = std::string("https://") + kAPIHost + "/";
  auto credentials = OCMutableURLRequest::make(apiURL(kUserInfoPath), consumer(), accessToken(), realm,
                                               signatureProvider());
  credentials->setHTTPMethod("GET");
  credentials->prepare();

  auto upload = OCMutableURLRequest::make(URL::make(std::string("https://") + kImageHost + "/api/2/upload.xml"),
                                          consumer(), accessToken(), realm, signatureProvider());
  upload->setHTTPMethod("POST");
  upload->setValueForHTTPHeaderField(apiURL(kUserInfoPath)->absoluteString(), "X-Auth-Service-Provider");
  upload->setValueForHTTPHeaderField(credentials->valueForHTTPHeaderField("Authorization").value_or(""),
                                     "X-Verify-Credentials-Authorization");
  std::string boundary;
  auto body = uploadBody(*jpeg, item()->customValueForKey("status").value_or(""), &boundary);
  upload->setValueForHTTPHeaderField("multipart/form-data; boundary=" + boundary, "Content-Type");
  upload->setHTTPBody(Data::make(std::move(body)));
  auto self = selfAs<SXTwitter>();
  OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      upload, self, [self](const Ref<OCServiceTicket>& t, const Ref<Data>& d) { self->imageFinished(t, d); },
      [self](const Ref<OCServiceTicket>&, const Ref<Error>& e) { self->transportFailed(e); })
      ->start();
  return true;
}

void SXTwitter::imageFinished(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  if (!ticket || !ticket->didSucceed()) {
    handleUnsuccessfulTicket(data);
    return;
  }
  std::string body = data ? std::string(data->view()) : std::string();
  std::string folded = lowered(body);
  auto open = folded.find("<url>");
  auto close = open == std::string::npos ? std::string::npos : folded.find("</url>", open + 5);
  if (close == std::string::npos) {
    handleUnsuccessfulTicket(data);
    return;
  }
  std::string link = body.substr(open + 5, close - open - 5);
  item()->setCustomValue(item()->customValueForKey("status").value_or("") + " " + link, "status");
  sendStatus();
}

void SXTwitter::followMe() {
  item()->setCustomValue(std::nullopt, "followMe");
  auto username = SXConfigString("twitterUsername").value_or("");
  if (username.empty()) return;
  auto request = OCMutableURLRequest::make(
      apiURL("/1/friendships/create/" + oauth_encoding::URLEncodedString(username) + ".json"), consumer(),
      accessToken(), std::nullopt, signatureProvider());
  request->setHTTPMethod("POST");
  // Its outcome is not looked at: following is a courtesy, the share goes on either way.
  OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, nullptr, [](const Ref<OCServiceTicket>&, const Ref<Data>&) {},
      [](const Ref<OCServiceTicket>&, const Ref<Error>&) {})
      ->start();
}

void SXTwitter::handleUnsuccessfulTicket(const Ref<Data>& data) {
  auto hold = selfAs<SXTwitter>();
  std::string body = data ? std::string(data->view()) : std::string();
  std::string message = "Unknown Error";
  const std::string marker = "\"error\":\"";
  if (auto at = body.find(marker); at != std::string::npos) {
    auto start = at + marker.size();
    auto end = body.find('"', start);
    if (end != std::string::npos) message = body.substr(start, end - start);
  }
  bool lostLogin = message == "Invalid / used nonce" || message == "Could not authenticate with OAuth.";
  if (!lostLogin) {
    auto code = dyn<String>(SXXMLResponseParser::getValueForElement("code", data));
    lostLogin = code && code->utf8() == "401";
  }
  if (lostLogin) {
    accessTokenRefused(Error::make("Twitter", 2, message));
    return;
  }
  shareEnded();
  sendDidFailWithError(Error::make("Twitter", 2, message));
}

}  // namespace zv
