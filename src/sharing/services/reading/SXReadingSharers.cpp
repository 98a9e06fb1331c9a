#include "sharing/services/reading/SXReadingSharers.h"

#include <cctype>

#include "platform/foundation/Date.h"
#include "platform/foundation/String.h"
#include "platform/net/HTTPCookie.h"
#include "platform/system/UserDefaults.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/json/JCSerializer.h"
#include "sharing/services/credentials/CredentialHelpers.h"

namespace zv {

using credentials::escape;
using credentials::headerOf;
using credentials::statusOf;

namespace {

constexpr const char* kInstapaperHost = "www.instapaper.com";
constexpr const char* kReadItLaterHost = "readitlaterlist.com";
constexpr const char* kAccountHost = "www.google.com";
constexpr const char* kAccountCookieDomain = "google.com";
constexpr double kCookieLifetime = 1600000000.0;

std::string serviceErrorText() { return SXLocalizedText("The service encountered an error. Please try again later."); }

Ref<URL> httpsURL(const char* host, const std::string& path) {
  return URL::make(std::string("https://") + host + path);
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string jsonText(const ObjectPtr& object) {
  Ref<Error> error;
  auto text = dyn<String>(
      JCSerializer::serializeObject(object, JCSerializeOptionNone, JCEncodeAsString, nullptr, nullptr, {}, &error));
  return text ? text->utf8() : std::string("{}");
}

// {"0": {key: value, key2: value2}}
std::string indexedObject(const char* key, const std::string& value, const char* key2, const std::string& value2) {
  auto entry = MutableDictionary::make();
  entry->setObject(box(value), key);
  entry->setObject(box(value2), key2);
  auto outer = MutableDictionary::make();
  outer->setObject(entry, "0");
  return jsonText(outer);
}

}  // namespace

// Instapaper.

void SXInstapaper::registerClass() { SXSharer::registerSharerClass<SXInstapaper>(); }

std::optional<std::string> SXInstapaper::authorizationFormCaption() const {
  return SXLocalizedText("Create a free account at %@", "https://www.instapaper.com");
}

void SXInstapaper::authorizationFormValidate(SXFormController& form) {
  auto values = form.formValues();
  auto body =
      "username=" + escape(values->stringForKey("username")) + "&password=" + escape(values->stringForKey("password"));
  auto self = selfAs<SXInstapaper>();
  credentials::startFormLoginCheck(*this, form, httpsURL(kInstapaperHost, "/api/authenticate"), body,
                                   [self](const Ref<SXRequest>& request) {
                                     if (statusOf(request) == 403) {
                                       self->authShowBadCredentialsAlert();
                                     } else {
                                       self->authShowOtherAuthorizationErrorAlert();
                                     }
                                   });
}

bool SXInstapaper::send() {
  if (!validateItem()) return false;
  std::optional<std::string> selection;
  if (item()->text) selection = SXStripHTML(*item()->text, true);
  auto body = "url=" + SXURLEscape(item()->url) + "&title=" + escape(item()->title) +
              "&selection=" + escape(selection) + "&username=" + escape(getAuthValueForKey("username")) +
              "&password=" + escape(getAuthValueForKey("password"));
  auto self = selfAs<SXInstapaper>();
  return credentials::startFormSend(*this, httpsURL(kInstapaperHost, "/api/add"), body,
                                    [self](const Ref<SXRequest>& r) { self->sendFinished(r); });
}

void SXInstapaper::sendFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXInstapaper>();
  setRequest(nullptr);
  const int status = statusOf(request);
  if (request->success()) {
    sendDidFinish();
  } else if (status == 403) {
    shouldReloginWithPendingAction(SXPendingActionSend);
  } else if (status == 500) {
    sendDidFailWithError(SX::error(serviceErrorText()));
  } else {
    sendShowSimpleErrorAlert();
  }
}

// Read It Later.

void SXReadItLater::registerClass() { SXSharer::registerSharerClass<SXReadItLater>(); }

void SXReadItLater::init() {
  SXSharer::init();
  // Pocket keeps links without asking anything more: always share at once.
  if (!shouldAutoShare()) setShouldAutoShare(true);
}

std::optional<std::string> SXReadItLater::authorizationFormCaption() const {
  return SXLocalizedText("Create a free account at %@", "https://getpocket.com");
}

void SXReadItLater::authorizationFormValidate(SXFormController& form) {
  auto values = form.formValues();
  auto body = "apikey=" + escape(SXConfigString("readItLaterKey")) +
              "&username=" + escape(values->stringForKey("username")) +
              "&password=" + escape(values->stringForKey("password"));
  auto self = selfAs<SXReadItLater>();
  credentials::startFormLoginCheck(*this, form, httpsURL(kReadItLaterHost, "/v2/auth"), body,
                                   [self](const Ref<SXRequest>& request) {
                                     self->showAlert(SXLocalizedText("Login Error"),
                                                     headerOf(request, "X-Error").value_or(serviceErrorText()));
                                   });
}

std::vector<Ref<SXFormFieldSettings>> SXReadItLater::shareFormFieldsForType(std::int32_t type) {
  if (type != SXShareTypeURL) return {};
  return {SXFormFieldSettings::make(SXLocalizedText("Title"), "title", SXFormFieldTypeText, item()->title),
          SXFormFieldSettings::make(SXLocalizedText("Tags"), "tags", SXFormFieldTypeText, item()->tags)};
}

std::string SXReadItLater::itemFields() const {
  const std::string url = item()->url ? item()->url->absoluteString() : std::string();
  // The service shows titles as HTML text, where a double quote must be an
  // entity.
  const std::string title = replaceAll(item()->title.value_or(""), "\"", "&quot;");
  std::string fields = "&new=" + escape(indexedObject("url", url, "title", title));
  if (item()->tags && !item()->tags->empty()) {
    fields += "&update_tags=" + escape(indexedObject("url", url, "tags", *item()->tags));
  }
  return fields;
}

bool SXReadItLater::send() {
  if (!validateItem()) return false;
  auto body = "apikey=" + escape(SXConfigString("readItLaterKey")) +
              "&username=" + escape(getAuthValueForKey("username")) +
              "&password=" + escape(getAuthValueForKey("password")) + itemFields();
  auto self = selfAs<SXReadItLater>();
  return credentials::startFormSend(*this, httpsURL(kReadItLaterHost, "/v2/send"), body,
                                    [self](const Ref<SXRequest>& r) { self->sendFinished(r); });
}

void SXReadItLater::sendFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXReadItLater>();
  setRequest(nullptr);
  if (request->success()) {
    sendDidFinish();
  } else if (statusOf(request) == 401) {
    shouldReloginWithPendingAction(SXPendingActionSend);
  } else {
    sendDidFailWithError(SX::error(headerOf(request, "X-Error").value_or(serviceErrorText())));
  }
}

// Google Reader.

void SXGoogleReader::registerClass() { SXSharer::registerSharerClass<SXGoogleReader>(); }

std::optional<std::string> SXGoogleReader::authorizationFormCaption() const {
  return SXLocalizedText("Create a free account at %@", "https://www.google.com/reader");
}

std::vector<Ref<SXFormFieldSettings>> SXGoogleReader::authorizationFormFields() const {
  return credentials::emailLoginFields();
}

void SXGoogleReader::authorizationFormValidate(SXFormController& form) {
  setPendingForm(std::dynamic_pointer_cast<SXFormController>(form.self()));
  auto values = form.formValues();
  getSession(values->stringForKey("email"), values->stringForKey("password"));
}

void SXGoogleReader::getSession(const std::optional<std::string>& email, const std::optional<std::string>& password,
                                SXLoginAttempt::Kind kind) {
  auto source = "Sharing-" + escape(SXConfigString("appName")) + "-0.2.1";
  auto body = "service=reader&source=" + source + "&Email=" + escape(email) + "&Passwd=" + escape(password) +
              "&accountType=GOOGLE";
  auto self = selfAs<SXGoogleReader>();
  if (!quiet()) SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Logging In..."));
  // The form's login is the service's interactive login; the one a send makes by itself from the
  // stored login is silent, so shares sending at once (two links in a row, a replay of the offline
  // queue) each keep theirs. A logout drops either with its answer.
  auto attempt = beginLoginAttempt([](SXSharer& sharer) {
    auto& me = static_cast<SXGoogleReader&>(sharer);
    auto hold = me.selfAs<SXGoogleReader>();
    SXActivityIndicator::currentIndicator()->hide();
    me.setRequest(nullptr);
    const bool sending = !me.pendingForm() && me.pendingAction() == SXPendingActionSend;
    me.setPendingAction(SXPendingActionNone);
    me.authDidFinish(false);
    if (sending) me.sendDidFailWithError(SX::error(SXLocalizedText("There was an error logging into Google Reader")));
  }, kind);
  setRequest(credentials::postForm(httpsURL(kAccountHost, "/accounts/ClientLogin"), body, self,
                                   [self, attempt](const Ref<SXRequest>& r) {
                                     if (self->request() == r && attempt->take()) self->authFinished(r);
                                   }));
}

std::map<std::string, std::string> SXGoogleReader::parseSession(std::string_view reply) {
  std::map<std::string, std::string> session;
  while (!reply.empty()) {
    auto end = reply.find('\n');
    auto line = reply.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0) session[std::string(line.substr(0, eq))] = line.substr(eq + 1);
    if (end == std::string_view::npos) break;
    reply.remove_prefix(end + 1);
  }
  return session;
}

void SXGoogleReader::authFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXGoogleReader>();
  if (this->request() != request) return;  // a login the user cancelled meanwhile: dropped
  SXActivityIndicator::currentIndicator()->hide();
  setRequest(nullptr);
  session_ = parseSession(request->getResult());
  const bool success = request->success();
  if (session_->contains("Auth") && !session_->at("Auth").empty()) {
    if (auto form = pendingForm()) {
      form->saveForm();
    } else {
      tryPendingAction();
    }
    authDidFinish(success);
    return;
  }
  std::optional<std::string> error;
  if (auto found = session_->find("Error"); found != session_->end()) error = found->second;
  session_.reset();  // no usable session: the next share logs in again
  if (error && *error == "BadAuthentication" && pendingAction() == SXPendingActionSend) {
    shouldReloginWithPendingAction(SXPendingActionSend);
    return;
  }
  std::string message;
  if (error && *error == "BadAuthentication") {
    message = SXLocalizedText("Incorrect username and password");
  } else if (error) {
    message = *error;
  } else {
    message = SXLocalizedText("There was an error logging into Google Reader");
  }
  showAlert(SXLocalizedText("Login Error"), message);
  authDidFinish(success);
}

std::vector<Ref<SXFormFieldSettings>> SXGoogleReader::shareFormFieldsForType(std::int32_t type) {
  if (type != SXShareTypeURL) return {};
  return {SXFormFieldSettings::make(SXLocalizedText("Note"), "text", SXFormFieldTypeText, item()->text),
          SXFormFieldSettings::make(SXLocalizedText("Public"), "share", SXFormFieldTypeSwitch, "0")};
}

void SXGoogleReader::shareFormSave(SXFormController& form) {
  SXSharer::shareFormSave(form);
  auto share = form.formValues()->stringForKey("share");
  UserDefaults::standardUserDefaults()->setBool(share && *share == "1", sharerId() + "_isPublic");
}

void SXGoogleReader::signRequest(SXRequest& request) const {
  std::vector<Ref<net::HTTPCookie>> cookies;
  auto expires = Date::now()->dateByAddingTimeInterval(kCookieLifetime);
  if (session_) {
    for (const auto& [name, value] : *session_) {
      net::HTTPCookie::Fields fields;
      fields.name = name;
      fields.value = value;
      fields.domain = kAccountCookieDomain;
      fields.hostOnly = false;
      fields.path = "/";
      fields.expiresDate = expires;
      cookies.push_back(net::HTTPCookie::make(std::move(fields)));
    }
  }
  auto headers = MutableDictionary::make();
  if (request.headerFields()) headers->addEntriesFromDictionary(*request.headerFields());
  if (auto cookieFields = net::HTTPCookie::requestHeaderFieldsWithCookies(cookies)) {
    headers->addEntriesFromDictionary(*cookieFields);
  }
  std::string auth = session_ && session_->contains("Auth") ? session_->at("Auth") : std::string();
  headers->setObject(box("GoogleLogin auth=" + auth), "Authorization");
  request.setHeaderFields(headers);
}

bool SXGoogleReader::send() {
  if (!validateItem()) return false;
  if (!session_) {
    setPendingAction(SXPendingActionSend);
    getSession(getAuthValueForKey("email"), getAuthValueForKey("password"), SXLoginAttempt::Kind::Silent);
    return true;
  }
  auto self = selfAs<SXGoogleReader>();
  auto path = "/reader/api/0/token?ck=" + std::to_string(static_cast<long long>(Date::now()->timeIntervalSince1970()));
  auto request = SXRequest::make(
      httpsURL(kAccountHost, path), std::nullopt, self, [self](const Ref<SXRequest>& r) { self->tokenFinished(r); },
      "GET", false);
  signRequest(*request);
  setRequest(request);
  request->start();
  sendDidStart();
  return true;
}

void SXGoogleReader::tokenFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXGoogleReader>();
  setRequest(nullptr);
  if (request->success()) {
    auto token = request->getResult();
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
    sendWithToken(token);
  } else if (statusOf(request) == 401) {
    shouldReloginWithPendingAction(SXPendingActionNone);
  } else {
    sendDidFailWithError(SX::error(headerOf(request, "X-Error").value_or(serviceErrorText())));
  }
}

void SXGoogleReader::sendWithToken(const std::string& token) {
  bool share = item()->customBoolForSwitchKey("share");
  if (shouldAutoShare()) share = UserDefaults::standardUserDefaults()->boolForKey(sharerId() + "_isPublic");
  auto body = "T=" + escape(token) + "&linkify=false&snippet=" + escape(item()->text) +
              "&srcTitle=" + escape(SXConfigString("appName")) + "&srcUrl=" + escape(SXConfigString("appURL")) +
              "&title=" + escape(item()->title) + "&url=" + SXURLEscape(item()->url) +
              "&share=" + (share ? "true" : "");
  auto self = selfAs<SXGoogleReader>();
  auto request = credentials::postForm(
      httpsURL(kAccountHost, "/reader/api/0/item/edit"), body, self,
      [self](const Ref<SXRequest>& r) { self->sendFinished(r); }, false);
  signRequest(*request);
  setRequest(request);
  request->start();
}

void SXGoogleReader::sendFinished(const Ref<SXRequest>& request) {
  auto hold = selfAs<SXGoogleReader>();
  setRequest(nullptr);
  if (request->success()) {
    sendDidFinish();
  } else if (statusOf(request) == 401) {
    shouldReloginWithPendingAction(SXPendingActionNone);
  } else {
    sendDidFailWithError(SX::error(headerOf(request, "X-Error").value_or(serviceErrorText())));
  }
}

}  // namespace zv
