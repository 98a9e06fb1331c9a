#pragma once
// The base of the sharers that log in with OAuth 1.0a in a web page: request token -> the
// service's authorization page in an SXOAuthView -> access token, kept in the keychain (through
// the hub) as "accessKey", "accessSecret" and "sessionHandle" for the sharer id, and restored by
// every later sharer of the class. A service sharer sets the consumer key and secret, the four
// URLs and the signature provider when it is made, and may add parameters to the token requests
// through the two Modify hooks.
//
// With xAuth on, the login is instead the sharer's user-name and password form: its "username" and
// "password" values go into the access-token request, a refused login is reported with the
// first lines of the service's own reply text (the form stays for another try), and an accepted one closes the form.
//
// A reply without a token key and secret is a failure (nothing is stored, and no authorization
// page is opened for a missing request token); an access token without a session handle removes
// a stored handle of an earlier login.
//
// One web login at a time: a login ends with exactly one authDidFinish (a failed token fetch, an
// authorization page that cannot be shown, is cancelled or refuses all included), and that frees
// the next one. Each login (web, xAuth, refresh) is the service's SXLoginAttempt: a reply (a
// fetch's answer, the page's report) is taken only while that attempt is current, and only once.
// A logout of the service (this sharer's, the hub's, any sharer object's) ends a waiting login as
// failed and drops the replies still on their way, so nothing is stored after it. A token that
// cannot be stored (key and secret both, or neither) is a failed login, said in an alert.
//
// Threads: main thread only; the fetches call back on the main run loop. The sharer stays alive
// while a fetch or its authorization screen holds it.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/URL.h"
#include "sharing/core/SXOAuthView.h"
#include "sharing/core/SXSharer.h"
#include "sharing/core/oauth/OCConsumer.h"
#include "sharing/core/oauth/OCMutableURLRequest.h"
#include "sharing/core/oauth/OCServiceTicket.h"
#include "sharing/core/oauth/OCSignatureProviding.h"
#include "sharing/core/oauth/OCToken.h"

namespace zv {

class SXOAuthSharer : public SXSharer, public SXOAuthViewDelegate {
 public:
  SXOAuthSharer();

  bool isAuthorized() override;
  // The login form with xAuth, else tokenRequest().
  void promptAuthorization() override;
  // Keeps the login form pending and asks for the access token.
  void authorizationFormValidate(SXFormController& form) override;
  // Cancelling the form whose login is being fetched drops that fetch's answer when it comes.
  void authorizationFormCancel(SXFormController& form) override;

  bool xAuth() const { return xAuth_.load(); }
  void setXAuth(bool xAuth) { xAuth_.store(xAuth); }

  void tokenRequest();
  virtual void tokenRequestModifyRequest(OCMutableURLRequest& request);
  void tokenRequestTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data);
  void tokenRequestTicketDidFailWithError(const Ref<OCServiceTicket>& ticket, const Ref<Error>& error);
  void tokenAuthorize();
  void tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView& view, bool success,
                                                              const Ref<Dictionary>& queryParams,
                                                              const Ref<Error>& error) override;
  void tokenAuthorizeCancelledView(SXOAuthView& view) override;
  // The page went before it answered: the login is not made and the share waiting is cancelled.
  void tokenAuthorizeTakenAwayView(SXOAuthView& view) override;
  void tokenAccess() { tokenAccess(false); }
  virtual void tokenAccess(bool refresh);
  // Adds the pending form's xAuth parameters with xAuth; nothing otherwise.
  virtual void tokenAccessModifyRequest(OCMutableURLRequest& request);
  // Signs in the verifier the authorization page returned, when it returned one.
  void addAuthorizeVerifier(OCMutableURLRequest& request) const;
  virtual void tokenAccessTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data);
  virtual void tokenAccessTicketDidFailWithError(const Ref<OCServiceTicket>& ticket, const Ref<Error>& error);
  // Stores key and secret both or neither (the earlier pair stays when the new one cannot be
  // stored); false, with the keychain's error, when the token is not stored.
  bool storeAccessToken(Ref<Error>* error = nullptr);
  bool restoreAccessToken();
  void refreshToken();

  const std::string& consumerKey() const { return consumerKey_; }
  void setConsumerKey(std::string key) { consumerKey_ = std::move(key); }
  const std::string& secretKey() const { return secretKey_; }
  void setSecretKey(std::string secret) { secretKey_ = std::move(secret); }
  Ref<URL> authorizeCallbackURL() const override { return authorizeCallbackURL_; }
  void setAuthorizeCallbackURL(Ref<URL> url) { authorizeCallbackURL_ = std::move(url); }
  const Ref<URL>& authorizeURL() const { return authorizeURL_; }
  void setAuthorizeURL(Ref<URL> url) { authorizeURL_ = std::move(url); }
  const Ref<URL>& accessURL() const { return accessURL_; }
  void setAccessURL(Ref<URL> url) { accessURL_ = std::move(url); }
  const Ref<URL>& requestURL() const { return requestURL_; }
  void setRequestURL(Ref<URL> url) { requestURL_ = std::move(url); }
  Ref<OCConsumer> consumer() const { return std::atomic_load(&consumer_); }
  void setConsumer(Ref<OCConsumer> consumer) { std::atomic_store(&consumer_, std::move(consumer)); }
  Ref<OCToken> requestToken() const { return std::atomic_load(&requestToken_); }
  void setRequestToken(Ref<OCToken> token) { std::atomic_store(&requestToken_, std::move(token)); }
  Ref<OCToken> accessToken() const { return std::atomic_load(&accessToken_); }
  void setAccessToken(Ref<OCToken> token) { std::atomic_store(&accessToken_, std::move(token)); }
  Ref<OCSignatureProviding> signatureProvider() const { return std::atomic_load(&signatureProvider_); }
  void setSignatureProvider(Ref<OCSignatureProviding> provider) {
    std::atomic_store(&signatureProvider_, std::move(provider));
  }
  const Ref<Dictionary>& authorizeResponseQueryVars() const { return authorizeResponseQueryVars_; }
  void setAuthorizeResponseQueryVars(Ref<Dictionary> vars) { authorizeResponseQueryVars_ = std::move(vars); }

  // Removes the three stored token values of `sharerId`.
  static void deleteStoredAccessToken(const std::string& sharerId);
  // deleteStoredAccessToken, then the cookies of the authorization page, so the next login shows
  // the service's sign-in page again.
  void logout() override;

 protected:
  // The service refused the access token while sending: the token is forgotten, then
  // reloginOnceOrFail(error).
  void accessTokenRefused(const Ref<Error>& error);

 private:
  void showAlert(const std::string& title, const std::string& message);

  std::string consumerKey_;
  std::string secretKey_;
  Ref<URL> authorizeCallbackURL_;
  Ref<URL> authorizeURL_;
  Ref<URL> accessURL_;
  Ref<URL> requestURL_;
  Ref<OCConsumer> consumer_;
  Ref<OCToken> requestToken_;
  Ref<OCToken> accessToken_;
  Ref<OCSignatureProviding> signatureProvider_;
  Ref<Dictionary> authorizeResponseQueryVars_;
  std::atomic<bool> xAuth_{false};
  // The web login's step, and the number of the last fetch started: an answer to an earlier
  // number, or one that comes in another step, is dropped.
  enum class LoginStep { None, RequestToken, Authorizing, AccessToken };
  LoginStep loginStep_ = LoginStep::None;
  std::uint64_t fetchNumber_ = 0;
  // Ends the web login under way with a failure, once; nothing stays pending for it.
  void loginFailed();
  // Starts this sharer's login attempt (SXLoginAttempt) for a web login, an xAuth form (both
  // interactive) or a refresh (silent).
  void beginLogin(SXLoginAttempt::Kind kind = SXLoginAttempt::Kind::Interactive);
  // A logout or a newer interactive login of the service ended the attempt: answers on their way are dropped
  // and whoever waits for the login hears it failed.
  void loginAbandoned();
};

}  // namespace zv
