#include "sharing/services/facebook/FacebookClient.h"

#include <cmath>

#include "platform/foundation/Log.h"
#include "platform/net/CookieStore.h"
#include "platform/ui/Application.h"
#include "sharing/json/SJsonParser.h"

namespace zv {

Ref<FacebookClient> FacebookClient::make(std::string appId, std::optional<std::string> urlSchemeSuffix,
                                         std::weak_ptr<FacebookSessionDelegate> delegate) {
  auto client = std::make_shared<FacebookClient>();
  client->appId_ = std::move(appId);
  if (urlSchemeSuffix && !urlSchemeSuffix->empty()) client->urlSchemeSuffix_ = std::move(urlSchemeSuffix);
  client->sessionDelegate_ = std::move(delegate);
  return client;
}

FacebookClient::FacebookClient()
    : lastAccessTokenUpdate_(Date::distantPast()),
      frictionlessRequestSettings_(std::make_shared<FacebookFrictionlessRequestSettings>()) {}

namespace {

// A dialog that is replaced or outlived by its session ends (as not completed) and leaves the
// screen: the window would otherwise keep it, and its page, for good.
void endDialog(Ref<FacebookDialog>& dialog) {
  if (dialog && !dialog->isDismissed()) dialog->dismissWithSuccess(false, false);
  dialog = nullptr;
}

}  // namespace

FacebookClient::~FacebookClient() {
  if (loginLifetimeTimer_) loginLifetimeTimer_->invalidate();
  endDialog(loginDialog_);
  endDialog(facebookDialog_);
  for (const auto& [request, token] : requests_) request->removeStateObserver(token);
  if (auto extending = requestExtendingAccessToken_.lock()) extending->setDelegate({});
}

std::string FacebookClient::ownBaseURL() const {
  return "fb" + appId_ + urlSchemeSuffix_.value_or("") + "://authorize";
}

// --- login ---

void FacebookClient::authorize(std::vector<std::string> permissions) {
  permissions_ = std::move(permissions);
  authorizeWithFBAppAuthSafariAuth(true, true);
}

void FacebookClient::authorizeWithFBAppAuthSafariAuth(bool tryFBAppAuth, bool trySafariAuth) {
  auto params = MutableDictionary::make({{"client_id", box(appId_)},
                                         {"type", box("user_agent")},
                                         {"redirect_uri", box(kFacebookRedirectURI)},
                                         {"display", box("touch")},
                                         {"sdk", box("ios")}});
  if (!permissions_.empty()) {
    std::string scope;
    for (const auto& permission : permissions_) scope += (scope.empty() ? "" : ",") + permission;
    params->setObject(box(scope), "scope");
  }
  if (urlSchemeSuffix_) params->setObject(box(*urlSchemeSuffix_), "local_client_id");
  const std::string loginDialogURL = std::string(kFacebookDialogBaseURL) + kFacebookLoginAction;

  auto application = ui::Application::sharedApplication();
  bool opened = false;
  if (tryFBAppAuth) {
    const std::string scheme = urlSchemeSuffix_ ? "fbauth2" : "fbauth";
    auto url = URL::make(FacebookRequest::serializeURL(scheme + "://authorize", params));
    opened = url && application->openURL(url);
  }
  if (trySafariAuth && !opened) {
    params->setObject(box(ownBaseURL()), "redirect_uri");
    auto url = URL::make(FacebookRequest::serializeURL(loginDialogURL, params));
    opened = url && application->openURL(url);
  }
  if (opened) {
    setLoginInProgress(true);
    return;
  }
  // The login happens here, in the page: no reply by URL is awaited any more.
  setLoginInProgress(false);
  // The page in the application can only end at the address it watches; a browser's redirect
  // address (set above when the browser could not be opened) would leave it stranded.
  params->setObject(box(kFacebookRedirectURI), "redirect_uri");
  endDialog(loginDialog_);
  auto dialog = FacebookLoginDialog::make(loginDialogURL, params,
                                          std::dynamic_pointer_cast<FacebookLoginDialogDelegate>(self()));
  dialog->setLoadTimeout(dialogLoadTimeout_);
  loginDialog_ = dialog;
  dialog->show();
}

Ref<MutableDictionary> FacebookClient::parseURLParams(std::string_view query) {
  auto params = MutableDictionary::make();
  while (!query.empty()) {
    const auto amp = query.find('&');
    const auto pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    const auto eq = pair.find('=');
    if (eq == std::string_view::npos) continue;  // not a parameter
    auto key = percentDecode(pair.substr(0, eq));
    auto value = percentDecode(pair.substr(eq + 1));
    if (!key || !value) return nullptr;
    if (params->objectForKey(*key)) return nullptr;  // which one would be meant?
    params->setObject(box(*value), *key);
  }
  return params;
}

void FacebookClient::setLoginInProgress(bool inProgress) {
  if (loginLifetimeTimer_) loginLifetimeTimer_->invalidate();
  loginLifetimeTimer_ = nullptr;
  loginStartedAt_ = inProgress ? Date::now() : nullptr;
  if (!inProgress) return;
  std::weak_ptr<FacebookClient> weak = selfAs<FacebookClient>();
  auto startedAt = loginStartedAt_;
  loginLifetimeTimer_ = Timer::scheduledTimer(kLoginReplyLifetime, false, [weak, startedAt](Timer&) {
    auto me = weak.lock();
    if (me && me->loginStartedAt_ == startedAt) me->loginReplyLifetimeEnded();
  });
}

void FacebookClient::loginReplyLifetimeEnded() {
  auto hold = self();
  logDebug("FacebookClient: the login's reply did not come within its lifetime; the login ended");
  facebookDialogNotLogin(false);
}

bool FacebookClient::handleOpenURL(const Ref<URL>& url) {
  if (!url || !url->absoluteString().starts_with(ownBaseURL())) return false;
  if (loginStartedAt_ && !isLoginInProgress()) {
    // A login waited for this reply, but its lifetime is over: it ends now (once), unanswered.
    loginReplyLifetimeEnded();
    return false;
  }
  if (!isLoginInProgress()) {
    logDebug("FacebookClient: a login reply came while no login was waiting for one; ignored");
    setLoginInProgress(false);
    return false;
  }
  setLoginInProgress(false);
  auto hold = self();
  const auto& text = url->fragment() ? url->fragment() : url->query();
  auto params = parseURLParams(text.value_or(""));
  if (!params) {
    logDebug("FacebookClient: the login reply is malformed");
    facebookDialogNotLogin(false);
    return true;
  }
  if (auto token = params->stringForKey("access_token")) {
    Ref<Date> expiry = Date::distantFuture();
    if (auto expiresIn = params->stringForKey("expires_in")) {
      const auto seconds = String::make(*expiresIn)->integerValue();
      if (seconds != 0) expiry = Date::now()->dateByAddingTimeInterval(static_cast<double>(seconds));
    }
    facebookDialogLoginExpirationDate(*token, expiry);
    return true;
  }
  auto error = params->stringForKey("error");
  if (error == "service_disabled_use_browser") {
    authorizeWithFBAppAuthSafariAuth(false, true);
    return true;
  }
  if (error == "service_disabled") {
    authorizeWithFBAppAuthSafariAuth(false, false);
    return true;
  }
  const bool cancelled = !params->objectForKey("error_code") && (!error || *error == "access_denied");
  facebookDialogNotLogin(cancelled);
  return true;
}

void FacebookClient::facebookDialogLoginExpirationDate(const std::string& token, const Ref<Date>& expirationDate) {
  auto hold = self();
  if (token.empty() || !expirationDate || expirationDate->timeIntervalSinceNow() <= 0) {
    // No token, or one that is over already: nothing to share with, so the login failed.
    logDebug("FacebookClient: the login reply carries no usable token");
    facebookDialogNotLogin(false);
    return;
  }
  setLoginInProgress(false);
  // An extension still on its way extends the token this login replaces (maybe another
  // account's): it must never overwrite the new one.
  cancelTokenExtension();
  accessToken_ = token;
  expirationDate_ = expirationDate;
  lastAccessTokenUpdate_ = Date::now();
  if (tokenHandler_) tokenHandler_(token, expirationDate);
  reloadFrictionlessRecipientCache();
  if (auto delegate = liveSessionDelegate()) delegate->facebookDidLogin();
}

void FacebookClient::facebookDialogNotLogin(bool cancelled) {
  auto hold = self();
  setLoginInProgress(false);
  if (auto delegate = liveSessionDelegate()) delegate->facebookDidNotLogin(cancelled);
}

void FacebookClient::cancelLogin() {
  auto hold = self();
  endDialog(loginDialog_);
  setLoginInProgress(false);
}

void FacebookClient::logout() {
  auto hold = self();
  // A login still waiting ends here as cancelled: a reply that comes after the logout is not taken.
  const bool waiting = isLoginInProgress() || (loginDialog_ && !loginDialog_->isDismissed());
  cancelLogin();
  if (waiting) facebookDialogNotLogin(true);
  // An extension answered after the logout would log the user in again.
  cancelTokenExtension();
  invalidateSession();
  if (auto delegate = liveSessionDelegate()) delegate->facebookDidLogout();
}

void FacebookClient::logout(const std::shared_ptr<FacebookSessionDelegate>& delegate) {
  logout();
  if (delegate && delegate != liveSessionDelegate()) delegate->facebookDidLogout();
}

bool FacebookClient::isLoginInProgress() const {
  if (!loginStartedAt_) return false;
  const double elapsed = Date::now()->timeIntervalSinceDate(*loginStartedAt_);
  return elapsed >= 0 && elapsed < kLoginReplyLifetime;
}

bool FacebookClient::isSessionValid() const {
  return accessToken_ && expirationDate_ && expirationDate_->timeIntervalSinceNow() > 0;
}

void FacebookClient::invalidateSession() {
  accessToken_ = std::nullopt;
  expirationDate_ = nullptr;
  auto store = net::CookieStore::sharedInstance();
  for (const char* scheme : {"http://", "https://"}) {
    auto url = URL::make(std::string(scheme) + kFacebookLoginCookieHost);
    for (const auto& cookie : store->cookiesForURL(*url)) store->deleteCookie(*cookie);
  }
  frictionlessRequestSettings_->updateRecipientCacheWithRecipients(nullptr);
}

// --- requests ---

Ref<FacebookRequest> FacebookClient::requestWithParams(const Ref<MutableDictionary>& params,
                                                       std::weak_ptr<FacebookRequestDelegate> delegate) {
  auto method = params ? params->stringForKey("method") : std::nullopt;
  if (!method) {
    logDebug("API Method must be specified");
    return nullptr;
  }
  params->removeObjectForKey("method");
  return requestWithMethodName(*method, params, "GET", std::move(delegate));
}

Ref<FacebookRequest> FacebookClient::requestWithMethodName(const std::string& methodName,
                                                           Ref<MutableDictionary> params, const std::string& httpMethod,
                                                           std::weak_ptr<FacebookRequestDelegate> delegate) {
  return openUrl(kFacebookRestBaseURL + methodName, std::move(params), httpMethod, std::move(delegate));
}

Ref<FacebookRequest> FacebookClient::requestWithGraphPath(const std::string& graphPath,
                                                          std::weak_ptr<FacebookRequestDelegate> delegate) {
  return requestWithGraphPath(graphPath, MutableDictionary::make(), "GET", std::move(delegate));
}

Ref<FacebookRequest> FacebookClient::requestWithGraphPath(const std::string& graphPath, Ref<MutableDictionary> params,
                                                          std::weak_ptr<FacebookRequestDelegate> delegate) {
  return requestWithGraphPath(graphPath, std::move(params), "GET", std::move(delegate));
}

Ref<FacebookRequest> FacebookClient::requestWithGraphPath(const std::string& graphPath, Ref<MutableDictionary> params,
                                                          const std::string& httpMethod,
                                                          std::weak_ptr<FacebookRequestDelegate> delegate) {
  return openUrl(kFacebookGraphBaseURL + graphPath, std::move(params), httpMethod, std::move(delegate));
}

Ref<FacebookRequest> FacebookClient::openUrl(const std::string& url, Ref<MutableDictionary> params,
                                             const std::string& httpMethod,
                                             std::weak_ptr<FacebookRequestDelegate> delegate) {
  if (!params) params = MutableDictionary::make();
  params->setObject(box("json"), "format");
  params->setObject(box("ios"), "sdk");
  params->setObject(box("2"), "sdk_version");
  if (isSessionValid()) params->setObject(box(*accessToken_), "access_token");
  extendAccessTokenIfNeeded();

  auto request = FacebookRequest::getRequestWithParams(params, httpMethod, std::move(delegate), url);
  std::weak_ptr<FacebookClient> weak = selfAs<FacebookClient>();
  const int token = request->addStateObserver([weak](FacebookRequest& finished) {
    if (finished.state() != FacebookRequestStateFinished) return;
    if (auto me = weak.lock()) me->requestFinished(finished);
  });
  requests_.emplace_back(request, token);
  request->connect();
  return request;
}

void FacebookClient::requestFinished(FacebookRequest& request) {
  auto hold = self();
  // A late answer about a token that has since been replaced says nothing about the new one.
  const auto sentToken = request.params() ? request.params()->stringForKey("access_token") : std::nullopt;
  if (request.sessionDidExpire() && sentToken && sentToken == accessToken_) {
    invalidateSession();
    if (auto delegate = liveSessionDelegate()) delegate->facebookSessionInvalidated();
  }
  for (auto it = requests_.begin(); it != requests_.end(); ++it) {
    if (it->first.get() == &request) {
      request.removeStateObserver(it->second);
      requests_.erase(it);
      break;
    }
  }
}

// --- token extension ---

bool FacebookClient::shouldExtendAccessToken() const {
  if (!isSessionValid()) return false;
  const double hours = std::floor(Date::now()->timeIntervalSinceDate(*lastAccessTokenUpdate_) / 3600.0);
  return hours > 23;
}

void FacebookClient::extendAccessTokenIfNeeded() {
  if (shouldExtendAccessToken()) extendAccessToken();
}

void FacebookClient::extendAccessToken() {
  if (isExtendingAccessToken_) return;
  isExtendingAccessToken_ = true;
  auto request = requestWithParams(MutableDictionary::make({{"method", box("auth.extendSSOAccessToken")}}),
                                   std::dynamic_pointer_cast<FacebookRequestDelegate>(self()));
  requestExtendingAccessToken_ = request;
}

void FacebookClient::cancelTokenExtension() {
  if (auto extending = requestExtendingAccessToken_.lock()) {
    extending->setDelegate({});
    extending->cancel();
  }
  requestExtendingAccessToken_.reset();
  isExtendingAccessToken_ = false;
}

void FacebookClient::requestDidLoad(FacebookRequest& request, const ObjectPtr& result) {
  auto hold = self();
  // Only the extension under way counts, and only for the token it extended: a logout or a new
  // login since then leaves it without a say.
  if (!isExtendingAccessToken_) return;
  isExtendingAccessToken_ = false;
  requestExtendingAccessToken_.reset();
  const auto extended = request.params() ? request.params()->stringForKey("access_token") : std::nullopt;
  if (!extended || extended != accessToken_) return;
  auto reply = dyn<Dictionary>(result);
  auto token = reply ? reply->objectForKeyAs<String>("access_token") : nullptr;
  auto expiresAt = reply ? reply->objectForKey("expires_at") : nullptr;
  // Anything but a text token and a number of seconds is not an answer to rely on.
  if (!token || token->utf8().empty() || !dyn<Number>(expiresAt)) return;
  accessToken_ = token->utf8();
  const double seconds = doubleValueOf(expiresAt);
  expirationDate_ = seconds != 0 ? Date::fromUnixTime(seconds) : Date::distantFuture();
  lastAccessTokenUpdate_ = Date::now();
  if (tokenHandler_) tokenHandler_(*accessToken_, expirationDate_);
  if (auto delegate = liveSessionDelegate()) delegate->facebookDidExtendTokenExpiresAt(*accessToken_, expirationDate_);
}

void FacebookClient::requestDidFailWithError(FacebookRequest&, const Ref<Error>&) {
  if (!isExtendingAccessToken_) return;
  // The old token stays; the next request tries again.
  isExtendingAccessToken_ = false;
  requestExtendingAccessToken_.reset();
}

// --- dialogs ---

void FacebookClient::dialog(const std::string& action, std::weak_ptr<FacebookDialogDelegate> delegate) {
  dialog(action, MutableDictionary::make(), std::move(delegate));
}

void FacebookClient::dialog(const std::string& action, Ref<MutableDictionary> params,
                            std::weak_ptr<FacebookDialogDelegate> delegate) {
  endDialog(facebookDialog_);
  if (!params) params = MutableDictionary::make();
  const std::string url = kFacebookDialogBaseURL + action;
  params->setObject(box("touch"), "display");
  params->setObject(box("2"), "sdk");
  params->setObject(box(kFacebookRedirectURI), "redirect_uri");

  Ref<FacebookDialog> made;
  if (action == kFacebookLoginAction) {
    params->setObject(box("user_agent"), "type");
    made = FacebookLoginDialog::make(url, params, std::dynamic_pointer_cast<FacebookLoginDialogDelegate>(self()));
  } else {
    params->setObject(box(appId_), "app_id");
    if (isSessionValid()) {
      params->setObject(box(percentDecode(*accessToken_).value_or(*accessToken_)), "access_token");
      extendAccessTokenIfNeeded();
    }
    bool invisible = false;
    if (action == "apprequests") {
      if (isFrictionlessRequestsEnabled()) {
        params->setObject(box("1"), "frictionless");
        params->setObject(box("1"), "get_frictionless_recipients");
      }
      if (auto to = params->stringForKey("to")) {
        auto parser = std::make_shared<SJsonParser>();
        auto recipients = dyn<Array>(parser->objectWithString(String::make(*to)));
        if (!recipients) {
          auto split = MutableArray::make();
          std::string_view rest = *to;
          while (true) {
            const auto comma = rest.find(',');
            split->addObject(box(rest.substr(0, comma)));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
          }
          recipients = split;
        }
        try {
          invisible = isFrictionlessEnabledForRecipients(recipients);
        } catch (const Exception&) {
          // Recipients that are not ids: the dialog shows, and the service judges them.
          invisible = false;
        }
      }
    }
    made = FacebookDialog::make(url, params, invisible, frictionlessRequestSettings_, std::move(delegate));
  }
  made->setLoadTimeout(dialogLoadTimeout_);
  facebookDialog_ = made;
  made->show();
}

}  // namespace zv
