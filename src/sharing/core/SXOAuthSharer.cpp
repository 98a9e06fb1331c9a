#include "sharing/core/SXOAuthSharer.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"
#include "platform/net/CookieStore.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/oauth/OAuthEncoding.h"
#include "sharing/core/oauth/OCAsynchronousDataFetcher.h"
#include "sharing/core/oauth/OCParameterAdditions.h"

namespace zv {

namespace {

constexpr const char* kAccessKey = "accessKey";
constexpr const char* kAccessSecret = "accessSecret";
constexpr const char* kSessionHandle = "sessionHandle";

// A token reply is usable only with both a key and a secret.
Ref<OCToken> usableToken(const Ref<Data>& data) {
  if (!data) return nullptr;
  auto text = String::fromUTF8(data->view());
  if (!text) return nullptr;
  auto token = OCToken::initWithHTTPResponseBody(text->utf8());
  if (!token || !token->key() || token->key()->empty() || !token->secret()) return nullptr;
  return token;
}

// At most a few short lines of a service's reply: a whole reply body is no message for an alert.
std::string briefReplyText(std::string_view reply) {
  constexpr std::size_t kMostLines = 3;
  constexpr std::size_t kMostBytes = 240;
  std::string brief;
  std::size_t lines = 0;
  bool cut = false;
  while (!reply.empty()) {
    auto end = reply.find('\n');
    auto line = reply.substr(0, end);
    reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (lines == kMostLines) {
      cut = true;
      break;
    }
    if (!brief.empty()) brief += '\n';
    brief.append(line);
    ++lines;
  }
  if (brief.size() > kMostBytes) {
    std::size_t at = kMostBytes;
    // Never in the middle of a character.
    while (at > 0 && (static_cast<unsigned char>(brief[at]) & 0xC0) == 0x80) --at;
    brief.resize(at);
    cut = true;
  }
  if (cut) brief += "...";
  return brief;
}

std::string describeOr(const Ref<Error>& error, const char* fallback) {
  return error ? error->localizedDescription() : SXLocalizedText(fallback);
}

}  // namespace

SXOAuthSharer::SXOAuthSharer() = default;

bool SXOAuthSharer::isAuthorized() { return restoreAccessToken(); }

void SXOAuthSharer::promptAuthorization() {
  if (xAuth()) {
    authorizationFormShow();
  } else if (loginStep_ == LoginStep::None) {
    tokenRequest();
  }
  // Otherwise a web login is under way already: it resumes the share when it ends.
}

void SXOAuthSharer::loginFailed() {
  if (loginStep_ == LoginStep::None) return;
  loginStep_ = LoginStep::None;
  endLoginAttempt();
  // Nothing waits for this login any more: no later login resumes the share it was for.
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
}

void SXOAuthSharer::beginLogin(SXLoginAttempt::Kind kind) {
  beginLoginAttempt([](SXSharer& sharer) { static_cast<SXOAuthSharer&>(sharer).loginAbandoned(); }, kind);
}

void SXOAuthSharer::loginAbandoned() {
  auto hold = selfAs<SXOAuthSharer>();
  // Every fetch still on its way is dropped; the page, if it shows, goes without a word.
  ++fetchNumber_;
  SXActivityIndicator::currentIndicator()->hide();
  if (loginStep_ == LoginStep::Authorizing) SXOAuthView::dismissPageOf(*this);
  if (loginStep_ == LoginStep::None) {
    // An xAuth login or a refresh: its form (if any) stays for another try.
    const bool refreshing = pendingAction() == SXPendingActionRefreshToken;
    setPendingAction(SXPendingActionNone);
    if (refreshing) {
      sendDidFailWithError(SX::error(SXLocalizedText("Could not authenticate you. Please relogin.")));
    } else {
      authDidFinish(false);
    }
    return;
  }
  loginFailed();
}

void SXOAuthSharer::authorizationFormValidate(SXFormController& form) {
  setPendingForm(std::dynamic_pointer_cast<SXFormController>(form.self()));
  tokenAccess();
}

void SXOAuthSharer::authorizationFormCancel(SXFormController& form) {
  if (pendingForm().get() == &form) ++fetchNumber_;
  endLoginAttempt();
  SXSharer::authorizationFormCancel(form);
}

void SXOAuthSharer::tokenRequest() {
  SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Connecting..."));
  auto request = OCMutableURLRequest::make(requestURL_, consumer(), nullptr, std::nullopt, signatureProvider());
  request->setHTTPMethod("POST");
  tokenRequestModifyRequest(*request);
  auto self = selfAs<SXOAuthSharer>();
  beginLogin();
  loginStep_ = LoginStep::RequestToken;
  const auto number = ++fetchNumber_;
  auto attempt = loginAttempt();
  auto waited = [self, number, attempt] {
    return self->fetchNumber_ == number && self->loginStep_ == LoginStep::RequestToken && attempt->isCurrent();
  };
  auto fetcher = OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, self,
      [self, waited](const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
        if (waited()) self->tokenRequestTicketDidFinishWithData(ticket, data);
      },
      [self, waited](const Ref<OCServiceTicket>& ticket, const Ref<Error>& error) {
        if (waited()) self->tokenRequestTicketDidFailWithError(ticket, error);
      });
  fetcher->start();
}

void SXOAuthSharer::tokenRequestModifyRequest(OCMutableURLRequest&) {}

void SXOAuthSharer::tokenRequestTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  SXActivityIndicator::currentIndicator()->hide();
  auto token = ticket && ticket->didSucceed() ? usableToken(data) : nullptr;
  if (!token) {
    tokenRequestTicketDidFailWithError(
        ticket, SX::error(SXLocalizedText("There was a problem requesting authorization from %@", sharerTitle())));
    return;
  }
  setRequestToken(token);
  tokenAuthorize();
}

void SXOAuthSharer::tokenRequestTicketDidFailWithError(const Ref<OCServiceTicket>&, const Ref<Error>& error) {
  auto hold = selfAs<SXOAuthSharer>();
  SXActivityIndicator::currentIndicator()->hide();
  showAlert(SXLocalizedText("Request Error"), describeOr(error, "There was an error while sharing"));
  loginFailed();
}

void SXOAuthSharer::tokenAuthorize() {
  auto token = requestToken();
  if (!token || !token->key() || token->key()->empty() || !authorizeURL_) {
    // Never open "oauth_token=(null)": without a request token there is nothing to authorize.
    showAlert(SXLocalizedText("Authorize Error"), SXLocalizedText("There was an error while authorizing"));
    loginStep_ = LoginStep::None;
    endLoginAttempt();
    setPendingAction(SXPendingActionNone);
    authDidFinish(false);
    return;
  }
  auto address = URL::make(authorizeURL_->absoluteString() + "?oauth_token=" +
                           oauth_encoding::URLEncodedString(*token->key()));
  auto view = SXOAuthView::initWithURL(address, selfAs<SXOAuthSharer>());
  loginStep_ = LoginStep::Authorizing;
  auto hub = SX::currentHelper();
  hub->showViewController(view, [view] { view->takenAway(); });
  // Shown, or waiting for the screen before it to go; with no screen to show it on, the page
  // would never report, so the login ends here.
  auto holder = view->navigationController();
  const bool shown = hub->pendingView() == view || (holder && hub->currentView() == holder);
  if (!shown) {
    showAlert(SXLocalizedText("Authorize Error"), SXLocalizedText("There was an error while authorizing"));
    loginFailed();
  }
}

void SXOAuthSharer::tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView&, bool success,
                                                                           const Ref<Dictionary>& queryParams,
                                                                           const Ref<Error>& error) {
  // Only the page of the login waiting for it may answer, and only once.
  if (loginStep_ != LoginStep::Authorizing || !loginAttempt() || !loginAttempt()->isCurrent()) return;
  auto hold = selfAs<SXOAuthSharer>();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  if (success && !(queryParams && queryParams->objectForKey("oauth_problem"))) {
    setAuthorizeResponseQueryVars(queryParams);
    tokenAccess();
    return;
  }
  showAlert(SXLocalizedText("Authorize Error"), describeOr(error, "There was an error while authorizing"));
  loginFailed();
}

void SXOAuthSharer::tokenAuthorizeCancelledView(SXOAuthView&) {
  if (loginStep_ != LoginStep::Authorizing) return;
  auto hold = selfAs<SXOAuthSharer>();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  loginFailed();
}

void SXOAuthSharer::tokenAuthorizeTakenAwayView(SXOAuthView&) {
  if (loginStep_ != LoginStep::Authorizing) return;
  auto hold = selfAs<SXOAuthSharer>();
  loginStep_ = LoginStep::None;
  loginPageTakenAway();
}

void SXOAuthSharer::tokenAccess(bool refresh) {
  if (!refresh) SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Authenticating..."));
  auto request = OCMutableURLRequest::make(accessURL_, consumer(), refresh ? accessToken() : requestToken(),
                                           std::nullopt, signatureProvider());
  request->setHTTPMethod("POST");
  tokenAccessModifyRequest(*request);
  auto self = selfAs<SXOAuthSharer>();
  // A web login waits for this answer now; a refresh or an xAuth login is no web login.
  const bool webLogin = !refresh && !xAuth();
  if (webLogin) {
    loginStep_ = LoginStep::AccessToken;
    if (!loginAttempt() || !loginAttempt()->isCurrent()) beginLogin();
  } else {
    // The web login's attempt goes on; these are attempts of their own. A refresh renews the
    // stored token by itself (nothing shown, nothing asked): it ends no other share's login.
    beginLogin(refresh ? SXLoginAttempt::Kind::Silent : SXLoginAttempt::Kind::Interactive);
  }
  const auto number = ++fetchNumber_;
  auto attempt = loginAttempt();
  // The token's answer is the attempt's last: taken once, and only while it is current.
  auto waited = [self, number, webLogin, attempt] {
    return self->fetchNumber_ == number && (!webLogin || self->loginStep_ == LoginStep::AccessToken) && attempt &&
           attempt->take();
  };
  auto fetcher = OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, self,
      [self, waited](const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
        if (waited()) self->tokenAccessTicketDidFinishWithData(ticket, data);
      },
      [self, waited](const Ref<OCServiceTicket>& ticket, const Ref<Error>& error) {
        if (!waited()) return;
        self->tokenAccessTicketDidFailWithError(ticket, error);
        self->loginFailed();
      });
  fetcher->start();
}

void SXOAuthSharer::tokenAccessModifyRequest(OCMutableURLRequest& request) {
  if (!xAuth()) return;
  auto values = pendingForm() ? pendingForm()->formValues() : Dictionary::make();
  oauth_parameters::setParameters(
      request,
      {OCRequestParameter::requestParameterWithName("x_auth_username", values->stringForKey("username").value_or("")),
       OCRequestParameter::requestParameterWithName("x_auth_password", values->stringForKey("password").value_or("")),
       OCRequestParameter::requestParameterWithName("x_auth_mode", "client_auth")});
}

void SXOAuthSharer::addAuthorizeVerifier(OCMutableURLRequest& request) const {
  if (auto vars = authorizeResponseQueryVars()) {
    if (auto verifier = vars->stringForKey("oauth_verifier")) request.setOAuthParameterName("oauth_verifier", *verifier);
  }
}

void SXOAuthSharer::tokenAccessTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  auto hold = selfAs<SXOAuthSharer>();
  if (xAuth()) {
    if (!ticket || !ticket->didSucceed()) {
      // The service says in its reply why it refused the user name or password; a few lines of
      // it are enough for an alert.
      auto reply = data ? String::fromUTF8(data->view()) : nullptr;
      std::string text = reply ? briefReplyText(reply->utf8()) : std::string();
      if (text.empty()) text = SXLocalizedText("There was a problem requesting access from %@", sharerTitle());
      tokenAccessTicketDidFailWithError(ticket, SX::error(text));
      return;
    }
    if (auto form = pendingForm()) {
      form->close();
      setPendingForm(nullptr);
    }
  }
  SXActivityIndicator::currentIndicator()->hide();
  loginStep_ = LoginStep::None;
  auto token = ticket && ticket->didSucceed() ? usableToken(data) : nullptr;
  if (token) {
    setAccessToken(token);
    if (!storeAccessToken()) {
      // A login that is not stored would be lost with this sharer, or half of it kept: it failed.
      const bool refreshing = pendingAction() == SXPendingActionRefreshToken;
      setAccessToken(nullptr);
      setPendingAction(SXPendingActionNone);
      const auto message = SXLocalizedText("Could not save your login for %@", sharerTitle());
      if (refreshing) {
        sendDidFailWithError(SX::error(message));  // the send waiting for the refresh ends here
      } else {
        showAlert(SXLocalizedText("Access Error"), message);
      }
      authDidFinish(false);
      return;
    }
    tryPendingAction();
  } else {
    tokenAccessTicketDidFailWithError(
        ticket, SX::error(SXLocalizedText("There was a problem requesting access from %@", sharerTitle())));
  }
  authDidFinish(token != nullptr);
}

void SXOAuthSharer::tokenAccessTicketDidFailWithError(const Ref<OCServiceTicket>&, const Ref<Error>& error) {
  SXActivityIndicator::currentIndicator()->hide();
  showAlert(SXLocalizedText("Access Error"), describeOr(error, "There was an error while sharing"));
}

bool SXOAuthSharer::storeAccessToken(Ref<Error>* error) {
  auto token = accessToken();
  if (!token) return false;
  std::string id = sharerId();
  const auto oldKey = SX::getAuthValueForKey(kAccessKey, id);
  const auto oldSecret = SX::getAuthValueForKey(kAccessSecret, id);
  Ref<Error> failure;
  if (!SX::setAuthValue(token->key().value_or(""), kAccessKey, id, &failure) ||
      !SX::setAuthValue(token->secret().value_or(""), kAccessSecret, id, &failure)) {
    // Key and secret are one login: the earlier pair goes back, or neither stays.
    log(LogLevel::Debug, "SXOAuthSharer: cannot store the login of " + id + ": " + describe(failure));
    const bool restored = oldKey && oldSecret && SX::setAuthValue(oldKey, kAccessKey, id) &&
                          SX::setAuthValue(oldSecret, kAccessSecret, id);
    if (!restored) deleteStoredAccessToken(id);
    if (error) *error = failure;
    return false;
  }
  if (token->sessionHandle() && !token->sessionHandle()->empty()) {
    SX::setAuthValue(*token->sessionHandle(), kSessionHandle, id);
  } else {
    // A handle of an earlier login belongs to an earlier token.
    SX::removeAuthValueForKey(kSessionHandle, id);
  }
  return true;
}

bool SXOAuthSharer::restoreAccessToken() {
  setConsumer(OCConsumer::make(consumerKey_, secretKey_));
  if (accessToken()) return true;
  std::string id = sharerId();
  auto key = SX::getAuthValueForKey(kAccessKey, id);
  auto secret = SX::getAuthValueForKey(kAccessSecret, id);
  if (!key || !secret || key->empty()) return false;
  auto token = OCToken::make(*key, *secret);
  if (auto handle = SX::getAuthValueForKey(kSessionHandle, id); handle && !handle->empty()) {
    token->setSessionHandle(*handle);
  }
  setAccessToken(token);
  return true;
}

void SXOAuthSharer::refreshToken() {
  setPendingAction(SXPendingActionRefreshToken);
  tokenAccess(true);
}

void SXOAuthSharer::deleteStoredAccessToken(const std::string& sharerId) {
  SX::removeAuthValueForKey(kAccessKey, sharerId);
  SX::removeAuthValueForKey(kAccessSecret, sharerId);
  SX::removeAuthValueForKey(kSessionHandle, sharerId);
}

void SXOAuthSharer::logout() {
  // A login still waiting ends as failed; answers still on their way belong to no login now.
  loginFailed();
  ++fetchNumber_;
  deleteStoredAccessToken(sharerId());
  setAccessToken(nullptr);
  if (authorizeURL_) deleteCookiesForURL(authorizeURL_);
}

void SXOAuthSharer::accessTokenRefused(const Ref<Error>& error) {
  auto hold = selfAs<SXOAuthSharer>();
  // The stored token is spent: the next login must not hand it back.
  deleteStoredAccessToken(sharerId());
  setAccessToken(nullptr);
  reloginOnceOrFail(error);
}

void SXOAuthSharer::showAlert(const std::string& title, const std::string& message) {
  ui::AlertView::make(title, message, {}, SXLocalizedText("Close"))->show();
}

}  // namespace zv
