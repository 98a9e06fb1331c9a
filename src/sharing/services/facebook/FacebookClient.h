#pragma once
// The Facebook session: the application id, the user's access token and its expiry; the login
// (single sign-on through the Facebook application, else the system browser, else the
// in-application login dialog) and the reply URL that brings the application back; the daily
// token extension; Graph and REST requests; and the web dialogs.
//
// A reply URL is taken only for this application's own scheme ("fb" + application id + suffix)
// and only while a login this session started is waiting for it, so a URL planted by another
// application cannot set a token. Logging out forgets the token and the service's cookies.
//
// A dialog replaced by the next one, or outlived by the session, ends as not completed.
//
// Threads: main thread only (requests report on the main run loop; dialogs are views).
// Ownership: the session owns its requests in flight, its dialogs and the frictionless settings;
// the session delegate and the delegates of requests and dialogs are not retained.

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/runloop/Timer.h"
#include "sharing/services/facebook/FacebookDialog.h"
#include "sharing/services/facebook/FacebookFrictionlessRequestSettings.h"
#include "sharing/services/facebook/FacebookRequest.h"

namespace zv {

// The service's addresses. Hosts are ours to choose; the paths are the service's.
inline constexpr const char* kFacebookDialogBaseURL = "https://m.facebook.com/dialog/";
inline constexpr const char* kFacebookGraphBaseURL = "https://graph.facebook.com/";
inline constexpr const char* kFacebookRestBaseURL = "https://api.facebook.com/method/";
// The host whose cookies keep a web login (the dialogs' host).
inline constexpr const char* kFacebookLoginCookieHost = "m.facebook.com";
inline constexpr const char* kFacebookLoginAction = "oauth";
inline constexpr const char* kFacebookRedirectURI = "fbconnect://success";

// Told about logins, logouts and tokens. Every call is required.
class FacebookSessionDelegate : public Protocol {
 public:
  virtual void facebookDidLogin() = 0;
  virtual void facebookDidNotLogin(bool cancelled) = 0;
  virtual void facebookDidExtendTokenExpiresAt(const std::string& accessToken, const Ref<Date>& expiresAt) = 0;
  virtual void facebookDidLogout() = 0;
  virtual void facebookSessionInvalidated() = 0;
};

class FacebookClient : public Object, public FacebookLoginDialogDelegate, public FacebookRequestDelegate {
 public:
  static Ref<FacebookClient> make(std::string appId, std::weak_ptr<FacebookSessionDelegate> delegate) {
    return make(std::move(appId), std::nullopt, std::move(delegate));
  }
  static Ref<FacebookClient> make(std::string appId, std::optional<std::string> urlSchemeSuffix,
                                  std::weak_ptr<FacebookSessionDelegate> delegate);
  FacebookClient();
  ~FacebookClient() override;

  // Login.
  void authorize(std::vector<std::string> permissions);
  void authorizeWithFBAppAuthSafariAuth(bool tryFBAppAuth, bool trySafariAuth);
  // A login reply; NO when the URL is not one this session waits for.
  bool handleOpenURL(const Ref<URL>& url);
  // The reply's parameters: "&"-separated pairs split at their first "=", values percent-decoded.
  // Pairs without "=" are skipped; nullptr when a key repeats or an escape is malformed.
  static Ref<MutableDictionary> parseURLParams(std::string_view query);
  void logout();
  void logout(const std::shared_ptr<FacebookSessionDelegate>& delegate);
  // Ends the login under way without telling anyone (its owner reports the outcome itself): the
  // login page goes, and a reply that comes later is not taken.
  void cancelLogin();
  // A token, an expiry, and the expiry after now.
  bool isSessionValid() const;

  // Requests (started at once; nullptr only when a REST call names no method).
  Ref<FacebookRequest> requestWithParams(const Ref<MutableDictionary>& params,
                                         std::weak_ptr<FacebookRequestDelegate> delegate);
  Ref<FacebookRequest> requestWithMethodName(const std::string& methodName, Ref<MutableDictionary> params,
                                             const std::string& httpMethod,
                                             std::weak_ptr<FacebookRequestDelegate> delegate);
  Ref<FacebookRequest> requestWithGraphPath(const std::string& graphPath,
                                            std::weak_ptr<FacebookRequestDelegate> delegate);
  Ref<FacebookRequest> requestWithGraphPath(const std::string& graphPath, Ref<MutableDictionary> params,
                                            std::weak_ptr<FacebookRequestDelegate> delegate);
  Ref<FacebookRequest> requestWithGraphPath(const std::string& graphPath, Ref<MutableDictionary> params,
                                            const std::string& httpMethod,
                                            std::weak_ptr<FacebookRequestDelegate> delegate);
  Ref<FacebookRequest> openUrl(const std::string& url, Ref<MutableDictionary> params, const std::string& httpMethod,
                               std::weak_ptr<FacebookRequestDelegate> delegate);

  // Web dialogs.
  void dialog(const std::string& action, std::weak_ptr<FacebookDialogDelegate> delegate);
  void dialog(const std::string& action, Ref<MutableDictionary> params, std::weak_ptr<FacebookDialogDelegate> delegate);

  // Frictionless requests.
  bool isFrictionlessRequestsEnabled() const { return frictionlessRequestSettings_->enabled(); }
  void enableFrictionlessRequests() { frictionlessRequestSettings_->enableWithFacebook(*this); }
  void reloadFrictionlessRecipientCache() { frictionlessRequestSettings_->reloadRecipientCacheWithFacebook(*this); }
  bool isFrictionlessEnabledForRecipient(std::string_view fbid) const {
    return frictionlessRequestSettings_->isFrictionlessEnabledForRecipient(fbid);
  }
  bool isFrictionlessEnabledForRecipients(const Ref<Array>& fbids) const {
    return frictionlessRequestSettings_->isFrictionlessEnabledForRecipients(fbids);
  }

  // Token extension (at most once a day, on the next request or dialog).
  bool shouldExtendAccessToken() const;
  void extendAccessTokenIfNeeded();
  // A token reply is taken only while the session still holds the token it extends; logout and a
  // new login cancel the extension under way.
  void extendAccessToken();
  // Forgets the token, the service's cookies (http and https) and the frictionless list.
  void invalidateSession();

  // Properties.
  const std::optional<std::string>& accessToken() const { return accessToken_; }
  void setAccessToken(std::optional<std::string> token) { accessToken_ = std::move(token); }
  const Ref<Date>& expirationDate() const { return expirationDate_; }
  void setExpirationDate(Ref<Date> date) { expirationDate_ = std::move(date); }
  std::weak_ptr<FacebookSessionDelegate> sessionDelegate() const { return sessionDelegate_; }
  void setSessionDelegate(std::weak_ptr<FacebookSessionDelegate> delegate) { sessionDelegate_ = std::move(delegate); }
  const std::string& appId() const { return appId_; }
  const std::optional<std::string>& urlSchemeSuffix() const { return urlSchemeSuffix_; }
  const std::vector<std::string>& permissions() const { return permissions_; }
  const Ref<FacebookFrictionlessRequestSettings>& frictionlessRequestSettings() const {
    return frictionlessRequestSettings_;
  }
  const Ref<Date>& lastAccessTokenUpdate() const { return lastAccessTokenUpdate_; }
  bool isExtendingAccessToken() const { return isExtendingAccessToken_; }
  const Ref<FacebookDialog>& loginDialog() const { return loginDialog_; }
  const Ref<FacebookDialog>& facebookDialog() const { return facebookDialog_; }
  std::size_t requestsInFlight() const { return requests_.size(); }
  // "fb" + application id + suffix + "://authorize".
  std::string ownBaseURL() const;
  // Whether a login left for another application or the browser and its reply is awaited: from
  // the moment it left, for kLoginReplyLifetime seconds. A login nobody came back from is
  // abandoned after that, and a reply that comes later is not taken.
  static constexpr double kLoginReplyLifetime = 600;
  bool isLoginInProgress() const;
  // true: a login leaves now; false: none is awaited. A login left waiting for the whole lifetime
  // ends then as failed (facebookDidNotLogin(false)), once; so does one whose reply comes later.
  void setLoginInProgress(bool inProgress);
  // When the awaited login left (nullptr: none). The sharer gives it back after a restart.
  const Ref<Date>& loginStartedAt() const { return loginStartedAt_; }
  void setLoginStartedAt(Ref<Date> startedAt) { loginStartedAt_ = std::move(startedAt); }
  // Called with every token a login or an extension gives the session (the sharer keeps it).
  using TokenHandler = std::function<void(const std::string& token, const Ref<Date>& expiresAt)>;
  void setTokenHandler(TokenHandler handler) { tokenHandler_ = std::move(handler); }
  // Seconds a dialog page may take to load (tests shorten it).
  double dialogLoadTimeout() const { return dialogLoadTimeout_; }
  void setDialogLoadTimeout(double seconds) { dialogLoadTimeout_ = seconds; }

  // Login dialog.
  void facebookDialogLoginExpirationDate(const std::string& token, const Ref<Date>& expirationDate) override;
  void facebookDialogNotLogin(bool cancelled) override;
  // The token extension request.
  void requestDidLoad(FacebookRequest& request, const ObjectPtr& result) override;
  void requestDidFailWithError(FacebookRequest& request, const Ref<Error>& error) override;
  bool respondsToSelector(std::string_view selector) const override {
    return selector == "requestDidLoad" || selector == "requestDidFailWithError" || Object::respondsToSelector(selector);
  }

 private:
  void requestFinished(FacebookRequest& request);
  // Stops the token extension under way; its reply, should one still come, is dropped.
  void cancelTokenExtension();
  // The awaited login's reply lifetime is over: the login ends as failed.
  void loginReplyLifetimeEnded();
  Ref<FacebookSessionDelegate> liveSessionDelegate() const { return sessionDelegate_.lock(); }

  std::optional<std::string> accessToken_;
  Ref<Date> expirationDate_;
  std::weak_ptr<FacebookSessionDelegate> sessionDelegate_;
  std::vector<std::pair<Ref<FacebookRequest>, int>> requests_;  // with their state-observer tokens
  Ref<FacebookDialog> loginDialog_;
  Ref<FacebookDialog> facebookDialog_;
  std::string appId_;
  std::optional<std::string> urlSchemeSuffix_;
  std::vector<std::string> permissions_;
  bool isExtendingAccessToken_ = false;
  std::weak_ptr<FacebookRequest> requestExtendingAccessToken_;
  Ref<Date> lastAccessTokenUpdate_;
  Ref<FacebookFrictionlessRequestSettings> frictionlessRequestSettings_;
  Ref<Date> loginStartedAt_;
  Ref<Timer> loginLifetimeTimer_;
  TokenHandler tokenHandler_;
  double dialogLoadTimeout_ = 60.0;
};

}  // namespace zv
