// Authentication: credentials sent before a challenge, answering a 401 or 407 from the session
// stores, the URL, the request's fields or the keychain, asking the delegate, callback or login
// dialog and waiting (never longer than the request's time-out), and the class-wide session
// credential stores.
//
// Credentials stay with the origin they were meant for: the caller's user name and password (or
// those a delegate, callback or the dialog gave for the origin that asked), and credentials that
// already worked, never follow a redirect to another scheme, host or port.

#include "http/HTTPAuthenticationPresenter.h"
#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"
#include "platform/net/NetErrors.h"
#include "platform/runloop/Perform.h"
#include "platform/system/URLCredentialStorage.h"

namespace zv {

namespace {

struct CredentialStores {
  std::recursive_mutex sessionCredentialLock;
  std::recursive_mutex credentialPromptLock;
  std::vector<Ref<Dictionary>> server;
  std::vector<Ref<Dictionary>> proxy;
};

CredentialStores& stores() {
  static CredentialStores* state = new CredentialStores();  // lives as long as the process
  return *state;
}

Ref<MutableDictionary> makeCredentials(const std::string& user, const std::string& password) {
  auto credentials = MutableDictionary::make();
  credentials->setObject(box(user), net::kHTTPAuthenticationUsername);
  credentials->setObject(box(password), net::kHTTPAuthenticationPassword);
  return credentials;
}

Ref<Dictionary> fromStoredCredential(const std::optional<URLCredential>& credential) {
  if (!credential) return nullptr;
  return makeCredentials(credential->user, credential->password);
}

URLCredential permanentCredential(const Ref<Dictionary>& credentials) {
  return URLCredential{credentials->stringForKey(net::kHTTPAuthenticationUsername).value_or(""),
                       credentials->stringForKey(net::kHTTPAuthenticationPassword).value_or(""),
                       URLCredentialPersistence::Permanent};
}

// The credentials a search found (nullptr without both values), with the account domain when the
// scheme wants one.
Ref<MutableDictionary> foundCredentials(const std::optional<std::string>& user, const std::optional<std::string>& pass,
                                        const std::optional<std::string>& accountDomain) {
  if (!user || !pass) return nullptr;
  auto credentials = makeCredentials(*user, *pass);
  if (accountDomain) credentials->setObject(box(*accountDomain), net::kHTTPAuthenticationAccountDomain);
  return credentials;
}

bool samePort(const Ref<URL>& a, const Ref<URL>& b) { return a->port() == b->port(); }

Ref<Error> applyFailure(bool proxy) {
  return makeRequestError(RequestErrorApplyingCredentials,
                          proxy ? "Failed to apply proxy credentials to request" : "Failed to apply credentials to request");
}

Ref<Error> unreadableChallenge() {
  return makeRequestError(RequestErrorApplyingCredentials, "Failed to get authentication object from response headers");
}

bool isBadCredentialsReason(const Ref<Error>& reason) {
  return reason && reason->domain() == net::kHTTPStreamErrorDomain &&
         (reason->code() == net::kHTTPAuthenticationBadUsername || reason->code() == net::kHTTPAuthenticationBadPassword);
}

void removeRecordWithCredentials(std::vector<Ref<Dictionary>>& store, const Ref<Dictionary>& credentials) {
  if (!credentials) return;
  auto found = std::find_if(store.begin(), store.end(), [&](const Ref<Dictionary>& record) {
    return record->objectForKey("Credentials") == credentials;
  });
  if (found != store.end()) store.erase(found);
}

// Whether two records are for the same thing: the same origin and realm (a server's), or the same
// proxy host and port.
bool sameRecordKey(const Ref<Dictionary>& a, const Ref<Dictionary>& b) {
  auto urlA = a->objectForKeyAs<URL>("URL");
  auto urlB = b->objectForKeyAs<URL>("URL");
  if (urlA || urlB) {
    return urlA && urlB && isSameOrigin(*urlA, *urlB) &&
           a->stringForKey("AuthenticationRealm") == b->stringForKey("AuthenticationRealm");
  }
  return a->stringForKey("Host") == b->stringForKey("Host") &&
         intValueOf(a->objectForKey("Port")) == intValueOf(b->objectForKey("Port"));
}

// One record per origin and realm (or proxy): a new one replaces the old.
void storeRecord(std::vector<Ref<Dictionary>>& store, const Ref<Dictionary>& record) {
  auto credentials = record->objectForKey("Credentials");
  std::erase_if(store, [&](const Ref<Dictionary>& old) {
    return old->objectForKey("Credentials") == credentials || sameRecordKey(old, record);
  });
  store.push_back(record);
}

bool sameUserAndPassword(const Ref<Dictionary>& a, const Ref<Dictionary>& b) {
  return a && b && a->stringForKey(net::kHTTPAuthenticationUsername) == b->stringForKey(net::kHTTPAuthenticationUsername) &&
         a->stringForKey(net::kHTTPAuthenticationPassword) == b->stringForKey(net::kHTTPAuthenticationPassword);
}

}  // namespace

// --- Class-level stores. ---

std::vector<Ref<Dictionary>> HTTPRequest::sessionCredentialsStore() {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  return stores().server;
}
std::vector<Ref<Dictionary>> HTTPRequest::sessionProxyCredentialsStore() {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  return stores().proxy;
}
void HTTPRequest::storeAuthenticationCredentialsInSessionStore(const Ref<Dictionary>& record) {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  storeRecord(stores().server, record);
}
void HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(const Ref<Dictionary>& record) {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  storeRecord(stores().proxy, record);
}
void HTTPRequest::removeAuthenticationCredentialsFromSessionStore(const Ref<Dictionary>& credentials) {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  removeRecordWithCredentials(stores().server, credentials);
}
void HTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore(const Ref<Dictionary>& credentials) {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  removeRecordWithCredentials(stores().proxy, credentials);
}
void HTTPRequest::clearSessionCredentials() {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  stores().server.clear();
}
void HTTPRequest::clearProxySessionCredentials() {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  stores().proxy.clear();
}

void HTTPRequest::saveCredentials(const Ref<Dictionary>& credentials, const std::string& host, int port,
                                  const std::string& protocol, const std::optional<std::string>& realm) {
  URLCredentialStorage::shared().setDefaultCredential(permanentCredential(credentials),
                                                      URLProtectionSpace::server(host, port, protocol, realm));
}
void HTTPRequest::saveCredentialsForProxy(const Ref<Dictionary>& credentials, const std::string& host, int port,
                                          const std::optional<std::string>& realm) {
  URLCredentialStorage::shared().setDefaultCredential(permanentCredential(credentials),
                                                      URLProtectionSpace::proxy(host, port, realm));
}
Ref<Dictionary> HTTPRequest::savedCredentials(const std::string& host, int port, const std::string& protocol,
                                              const std::optional<std::string>& realm) {
  return fromStoredCredential(
      URLCredentialStorage::shared().defaultCredential(URLProtectionSpace::server(host, port, protocol, realm)));
}
Ref<Dictionary> HTTPRequest::savedCredentialsForProxy(const std::string& host, int port,
                                                      const std::optional<std::string>& realm) {
  return fromStoredCredential(URLCredentialStorage::shared().defaultCredential(URLProtectionSpace::proxy(host, port, realm)));
}
void HTTPRequest::removeCredentials(const std::string& host, int port, const std::string& protocol,
                                    const std::optional<std::string>& realm) {
  URLCredentialStorage::shared().removeCredential(URLProtectionSpace::server(host, port, protocol, realm));
}
void HTTPRequest::removeCredentialsForProxy(const std::string& host, int port, const std::optional<std::string>& realm) {
  URLCredentialStorage::shared().removeCredential(URLProtectionSpace::proxy(host, port, realm));
}

Ref<net::HTTPAuthentication> HTTPRequest::requestAuthentication() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return requestAuthentication_;
}
Ref<net::HTTPAuthentication> HTTPRequest::proxyAuthentication() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  return proxyAuthentication_;
}

// --- Before a challenge. ---

void HTTPRequest::addBasicAuthenticationHeader(const std::string& user, const std::string& password) {
  addRequestHeader("Authorization", "Basic " + base64forData(Data::make(user + ":" + password)));
}

bool HTTPRequest::callerCredentialsApply() const {
  Ref<URL> origin;
  {
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    origin = credentialsOrigin_;
  }
  if (!origin) origin = originalURL();
  auto target = url();
  return !origin || !target || isSameOrigin(*origin, *target);
}

void HTTPRequest::applyAuthorizationHeader() {
  bool sameOrigin = callerCredentialsApply();
  if (!sameOrigin) {
    // A redirect that kept its headers carries none of the old origin's credentials.
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    if (requestHeaders_) {
      requestHeaders_->removeObjectForKey("Authorization");
      requestHeaders_->removeObjectForKey("Proxy-Authorization");
    }
  }
  presentedCredentials_ = nullptr;
  presentedProxyCredentials_ = nullptr;
  if (!shouldPresentCredentialsBeforeChallenge()) return;
  Ref<Dictionary> record = useSessionPersistence() ? findSessionAuthenticationCredentials() : nullptr;
  auto user = username();
  auto pass = password();
  if (sameOrigin && user && pass && !domain()) {
    if (!record || record->stringForKey("AuthenticationScheme") == std::string(net::kHTTPAuthenticationSchemeBasic)) {
      addBasicAuthenticationHeader(*user, *pass);
      presentedCredentials_ = makeCredentials(*user, *pass);
    }
  }
  auto headers = requestHeaders();
  if (record && (!headers || !headers->objectForKey("Authorization"))) {
    auto credentials = record->objectForKeyAs<Dictionary>("Credentials");
    if (auto authentication = record->objectForKeyAs<net::HTTPAuthentication>("Authentication")) {
      if (!credentials || !request_ || !authentication->applyCredentials(*credentials, *request_)) {
        removeAuthenticationCredentialsFromSessionStore(credentials);
      } else {
        presentedCredentials_ = credentials;
      }
    } else if (credentials) {
      addBasicAuthenticationHeader(credentials->stringForKey(net::kHTTPAuthenticationUsername).value_or(""),
                                   credentials->stringForKey(net::kHTTPAuthenticationPassword).value_or(""));
      presentedCredentials_ = credentials;
    }
  }
  if (useSessionPersistence()) {
    if (auto proxyRecord = findSessionProxyAuthenticationCredentials()) {
      auto credentials = proxyRecord->objectForKeyAs<Dictionary>("Credentials");
      auto authentication = proxyRecord->objectForKeyAs<net::HTTPAuthentication>("Authentication");
      if (!credentials || !authentication || !request_ || !authentication->applyCredentials(*credentials, *request_)) {
        removeProxyAuthenticationCredentialsFromSessionStore(credentials);
      } else {
        presentedProxyCredentials_ = credentials;
      }
    }
  }
}

void HTTPRequest::rememberPresentedCredentials() {
  // Credentials sent before any challenge and accepted are remembered for the origin.
  if (!useSessionPersistence() || requestAuthentication_ || !shouldPresentCredentialsBeforeChallenge()) return;
  auto user = username();
  auto pass = password();
  if (!user || !pass || domain() || !callerCredentialsApply()) return;
  if (!request_ || !request_->headerField("Authorization")) return;
  auto record = MutableDictionary::make();
  record->setObject(makeCredentials(*user, *pass), "Credentials");
  record->setObject(url(), "URL");
  record->setObject(box(net::kHTTPAuthenticationSchemeBasic), "AuthenticationScheme");
  storeAuthenticationCredentialsInSessionStore(record);
}

// --- Finding credentials. ---

Ref<Dictionary> HTTPRequest::findSessionAuthenticationCredentials() {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  auto target = url();
  if (!target) return nullptr;
  auto realm = authenticationRealm();
  auto realmAccepts = [&](const Ref<Dictionary>& record) {
    auto recorded = record->stringForKey("AuthenticationRealm");
    return responseStatusCode() == 0 || !recorded || recorded == realm;
  };
  for (const auto& record : stores().server) {
    if (zv::isEqual(record->objectForKeyAs<URL>("URL"), target) && realmAccepts(record)) return record;
  }
  for (const auto& record : stores().server) {
    auto recorded = record->objectForKeyAs<URL>("URL");
    if (recorded && recorded->host() == target->host() && samePort(recorded, target) &&
        recorded->scheme() == target->scheme() && realmAccepts(record)) {
      return record;
    }
  }
  return nullptr;
}

Ref<Dictionary> HTTPRequest::findSessionProxyAuthenticationCredentials() {
  std::lock_guard<std::recursive_mutex> guard(stores().sessionCredentialLock);
  auto host = proxyHost();
  if (!host) return nullptr;
  for (const auto& record : stores().proxy) {
    if (record->stringForKey("Host") == *host && intValueOf(record->objectForKey("Port")) == proxyPort()) return record;
  }
  return nullptr;
}

Ref<MutableDictionary> HTTPRequest::findCredentials() {
  auto target = url();
  std::optional<std::string> user = target->user();
  std::optional<std::string> pass = target->password();
  std::optional<std::string> accountDomain;
  if (requestAuthentication_ && requestAuthentication_->requiresAccountDomain()) {
    if (!domain()) setDomain(std::string());
    accountDomain = domain();
  }
  // The caller's credentials (a HEAD copy holds its request's) go only where they were meant for:
  // judged against the address this request is sending to.
  if ((!user || !pass) && username() && password() && callerCredentialsApply()) {
    user = username();
    pass = password();
  }
  if ((!user || !pass) && useKeychainPersistence()) {
    if (auto saved = savedCredentials(target->host().value_or(""), target->port().value_or(0),
                                      target->scheme().value_or(""), authenticationRealm())) {
      user = saved->stringForKey(net::kHTTPAuthenticationUsername);
      pass = saved->stringForKey(net::kHTTPAuthenticationPassword);
    }
  }
  return foundCredentials(user, pass, accountDomain);
}

Ref<MutableDictionary> HTTPRequest::findProxyCredentials() {
  std::optional<std::string> user, pass, accountDomain;
  if (proxyAuthentication_ && proxyAuthentication_->requiresAccountDomain()) {
    if (!proxyDomain()) setProxyDomain(std::string());
    accountDomain = proxyDomain();
  }
  auto main = mainRequest().lock();
  if (main && main->proxyUsername() && main->proxyPassword()) {
    user = main->proxyUsername();
    pass = main->proxyPassword();
  } else if (proxyUsername() && proxyPassword()) {
    user = proxyUsername();
    pass = proxyPassword();
  } else if (auto saved = savedCredentialsForProxy(proxyHost().value_or(""), proxyPort(), proxyAuthenticationRealm())) {
    user = saved->stringForKey(net::kHTTPAuthenticationUsername);
    pass = saved->stringForKey(net::kHTTPAuthenticationPassword);
  }
  return foundCredentials(user, pass, accountDomain);
}

// --- The two sides of a challenge. ---

// Which end of the exchange challenged: the origin server (401) or the proxy (407). Answering
// either goes the same way; this says which state, stores and askers each step uses.
struct HTTPRequest::ChallengeSide {
  bool isProxy;
  Ref<net::HTTPAuthentication> HTTPRequest::*authentication;
  // What went out before the challenge (applyAuthorizationHeader), if anything.
  Ref<Dictionary> HTTPRequest::*presented;
  void (HTTPRequest::*setScheme)(std::optional<std::string>);
  void (HTTPRequest::*setRealm)(std::optional<std::string>);
  Ref<Dictionary> (HTTPRequest::*credentials)() const;
  void (HTTPRequest::*setCredentials)(Ref<Dictionary>);
  int (HTTPRequest::*retryCount)() const;
  void (HTTPRequest::*setRetryCount)(int);
  void (*removeFromSessionStore)(const Ref<Dictionary>&);
  void (*storeInSessionStore)(const Ref<Dictionary>&);
  // Adds to a session-store record what it is for: the URL and realm, or the proxy's host and port.
  void (*recordOrigin)(const HTTPRequest&, MutableDictionary&);
  Ref<Dictionary> (HTTPRequest::*findInSession)();
  Ref<MutableDictionary> (HTTPRequest::*find)();
  void (HTTPRequest::*saveToKeychain)(const Ref<Dictionary>&);
  // Asking: the delegate's (or queue's) selector, the delegate call, the block and the dialog switch.
  const char* selector;
  void (HTTPRequestDelegate::*delegateCall)(const Ref<HTTPRequest>&);
  Block Callbacks::*block;
  bool (HTTPRequest::*presentsDialog)() const;

  static const ChallengeSide& server() {
    static const ChallengeSide side{false,
                                    &HTTPRequest::requestAuthentication_,
                                    &HTTPRequest::presentedCredentials_,
                                    &HTTPRequest::setAuthenticationScheme,
                                    &HTTPRequest::setAuthenticationRealm,
                                    &HTTPRequest::requestCredentials,
                                    &HTTPRequest::setRequestCredentials,
                                    &HTTPRequest::authenticationRetryCount,
                                    &HTTPRequest::setAuthenticationRetryCount,
                                    &HTTPRequest::removeAuthenticationCredentialsFromSessionStore,
                                    &HTTPRequest::storeAuthenticationCredentialsInSessionStore,
                                    [](const HTTPRequest& request, MutableDictionary& record) {
                                      record.setObject(request.url(), "URL");
                                      if (auto realm = request.authenticationRealm()) {
                                        record.setObject(box(*realm), "AuthenticationRealm");
                                      }
                                    },
                                    &HTTPRequest::findSessionAuthenticationCredentials,
                                    &HTTPRequest::findCredentials,
                                    &HTTPRequest::saveCredentialsToKeychain,
                                    "authenticationNeededForRequest",
                                    &HTTPRequestDelegate::authenticationNeededForRequest,
                                    &Callbacks::authenticationNeeded,
                                    &HTTPRequest::shouldPresentAuthenticationDialog};
    return side;
  }
  static const ChallengeSide& proxy() {
    static const ChallengeSide side{true,
                                    &HTTPRequest::proxyAuthentication_,
                                    &HTTPRequest::presentedProxyCredentials_,
                                    &HTTPRequest::setProxyAuthenticationScheme,
                                    &HTTPRequest::setProxyAuthenticationRealm,
                                    &HTTPRequest::proxyCredentials,
                                    &HTTPRequest::setProxyCredentials,
                                    &HTTPRequest::proxyAuthenticationRetryCount,
                                    &HTTPRequest::setProxyAuthenticationRetryCount,
                                    &HTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore,
                                    &HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore,
                                    [](const HTTPRequest& request, MutableDictionary& record) {
                                      record.setObject(box(request.proxyHost().value_or("")), "Host");
                                      record.setObject(box(request.proxyPort()), "Port");
                                    },
                                    &HTTPRequest::findSessionProxyAuthenticationCredentials,
                                    &HTTPRequest::findProxyCredentials,
                                    &HTTPRequest::saveProxyCredentialsToKeychain,
                                    "proxyAuthenticationNeededForRequest",
                                    &HTTPRequestDelegate::proxyAuthenticationNeededForRequest,
                                    &Callbacks::proxyAuthenticationNeeded,
                                    &HTTPRequest::shouldPresentProxyAuthenticationDialog};
    return side;
  }
};

// --- Applying. ---

bool HTTPRequest::applyCredentials(const ChallengeSide& side, const Ref<Dictionary>& credentials) {
  (this->*side.setRetryCount)((this->*side.retryCount)() + 1);
  auto& authentication = this->*side.authentication;
  if (!credentials || !authentication || !request_) return false;
  if (!authentication->applyCredentials(*credentials, *request_)) {
    side.removeFromSessionStore(credentials);
    return false;
  }
  if (useKeychainPersistence()) (this->*side.saveToKeychain)(credentials);
  if (useSessionPersistence()) {
    auto record = MutableDictionary::make();
    record->setObject(authentication, "Authentication");
    record->setObject(credentials, "Credentials");
    record->setObject(box(authentication->method()), "AuthenticationScheme");
    side.recordOrigin(*this, *record);
    side.storeInSessionStore(record);
  }
  (this->*side.setCredentials)(credentials);
  return true;
}

void HTTPRequest::saveCredentialsToKeychain(const Ref<Dictionary>& credentials) {
  auto target = url();
  saveCredentials(credentials, target->host().value_or(""), target->port().value_or(0), target->scheme().value_or(""),
                  authenticationRealm());
}

void HTTPRequest::saveProxyCredentialsToKeychain(const Ref<Dictionary>& credentials) {
  saveCredentialsForProxy(credentials, proxyHost().value_or(""), proxyPort(), proxyAuthenticationRealm());
}

// --- Asking. ---

namespace {
// The delegate, or without one the queue, when it answers `selector`.
ObjectPtr credentialsAnswerer(const HTTPRequest& request, const char* selector) {
  if (auto delegate = request.delegate()) return delegate->respondsToSelector(selector) ? delegate : nullptr;
  if (auto queue = request.queue(); queue && queue->respondsToSelector(selector)) return queue;
  return nullptr;
}
}  // namespace

bool HTTPRequest::willAskForCredentials(const ChallengeSide& side) {
  auto self = selfAs<HTTPRequest>();
  if (credentialsAnswerer(*this, side.selector) || callback(side.block)) {
    performOnMainThread([self, &side] { self->askDelegateForCredentials(side); }, false);
    return true;
  }
  // A dialog needs a presenter and somewhere to appear; without a window nobody could answer it.
  // The presenter judges that on the main thread, where the window list lives, and has the
  // request fail there when it cannot show the dialog.
  auto presenter = (this->*side.presentsDialog)() ? HTTPAuthenticationPresenter::shared() : nullptr;
  if (!presenter) return false;
  if (RunLoop::isMainThread()) {
    if (!presenter->canPresentDialog()) return false;
    waitingOnDialog_ = true;
    presenter->presentAuthenticationDialogForRequest(self);
    return true;
  }
  waitingOnDialog_ = true;
  performOnMainThread(
      [self, presenter] {
        if (presenter->canPresentDialog()) {
          presenter->presentAuthenticationDialogForRequest(self);
        } else {
          self->waitingOnDialog_ = false;
          self->cancelAuthentication();
        }
      },
      false);
  return true;
}

void HTTPRequest::leaveAuthenticationDialog() {
  if (!waitingOnDialog_.exchange(false)) return;
  auto presenter = HTTPAuthenticationPresenter::shared();
  if (!presenter) return;
  auto self = selfAs<HTTPRequest>();
  performOnMainThread([presenter, self] { presenter->requestNoLongerNeedsCredentials(self); }, false);
}

void HTTPRequest::askDelegateForCredentials(const ChallengeSide& side) {
  auto self = selfAs<HTTPRequest>();
  if (auto answerer = credentialsAnswerer(*this, side.selector)) {
    if (auto typed = dyn<HTTPRequestDelegate>(answerer)) return (typed.get()->*side.delegateCall)(self);
    answerer->performSelector(side.selector, {self});
    return;
  }
  if (auto block = callback(side.block)) block();
}

// --- Answers (any thread). ---

void HTTPRequest::retryUsingSuppliedCredentials() {
  auto self = selfAs<HTTPRequest>();
  performOnRequestThread([self] {
    std::lock_guard<std::recursive_mutex> lock(self->cancelledLock_);
    if (self->credentialWaitTimer_) self->credentialWaitTimer_->invalidate();
    self->credentialWaitTimer_ = nullptr;
    if (self->error() || self->isCancelled() || self->isFinished()) return;
    self->suppliedCredentials_ = true;
    self->waitingOnDialog_ = false;
    {
      // What was just supplied answers this origin's challenge, and goes nowhere else.
      std::lock_guard<std::recursive_mutex> guard(self->propertyLock_);
      self->credentialsOrigin_ = self->url_;
    }
    if (self->request_) {
      self->attemptToApplyCredentialsAndResume();
    } else {
      self->main();
    }
  });
}

void HTTPRequest::cancelAuthentication() {
  auto self = selfAs<HTTPRequest>();
  performOnRequestThread([self] {
    std::lock_guard<std::recursive_mutex> lock(self->cancelledLock_);
    self->failAuthentication();
  });
}

void HTTPRequest::failAuthentication() {
  if (credentialWaitTimer_) credentialWaitTimer_->invalidate();
  credentialWaitTimer_ = nullptr;
  failWithError(authenticationError());
}

// --- Answering a challenge. ---

Ref<net::HTTPMessage> HTTPRequest::challengeResponse(bool proxy) {
  auto& kept = proxy ? proxyChallenge_ : serverChallenge_;
  if (readStream_ && readStream_->responseHeader()) {
    int status = readStream_->responseHeader()->statusCode();
    if (status == (proxy ? 407 : 401)) kept = readStream_->responseHeader();
  }
  return kept;
}

void HTTPRequest::waitForCredentials() {
  // The wait keeps to the request's time-out, so nobody's silence holds a request forever.
  setComplete(true);
  stopStatusTimer();
  if (credentialWaitTimer_) credentialWaitTimer_->invalidate();
  double limit = timeOutSeconds();
  if (limit <= 0) return;
  WeakRef<HTTPRequest> weak = selfAs<HTTPRequest>();
  credentialWaitTimer_ = Timer::create(limit, false, [weak](Timer&) {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard<std::recursive_mutex> lock(self->cancelledLock_);
    self->credentialWaitTimer_ = nullptr;
    if (self->error() || self->isCancelled() || self->isFinished() || self->authenticationNeeded() == 0) return;
    self->failWithError(timedOutError());
  });
  RunLoop::current()->addTimer(credentialWaitTimer_, runLoopMode());
}

void HTTPRequest::attemptToApplyCredentialsAndResume() {
  if (error() || isCancelled()) return;
  answerChallenge(authenticationNeeded() == 2 ? ChallengeSide::proxy() : ChallengeSide::server());
}

void HTTPRequest::answerChallenge(const ChallengeSide& side) {
  bool supplied = suppliedCredentials_;
  suppliedCredentials_ = false;
  auto response = challengeResponse(side.isProxy);
  // A request that carried credentials and is challenged again had them refused; credentials
  // just supplied by the delegate or dialog start afresh.
  const net::HTTPMessage* sent = supplied ? nullptr : request_.get();
  if (!response) {
    cancelLoad();
    failWithError(unreadableChallenge());
    return;
  }
  auto& authentication = this->*side.authentication;
  auto takeChallenge = [&](const net::HTTPMessage* drawnBy) {
    if (!authentication || !authentication->updateFromResponse(*response, drawnBy)) {
      Ref<Error> unreadable;
      authentication = net::HTTPAuthentication::fromResponse(*response, drawnBy, &unreadable);
      if (!authentication) return false;
    }
    (this->*side.setScheme)(authentication->method());
    (this->*side.setRealm)(std::nullopt);
    if (!authentication->requiresAccountDomain()) (this->*side.setRealm)(authentication->realm());
    return true;
  };
  if (!takeChallenge(sent)) {
    cancelLoad();
    failWithError(unreadableChallenge());
    return;
  }

  Ref<Error> reason;
  auto presented = std::exchange(this->*side.presented, nullptr);
  // What was refused when this request's own credentials did not go out: the caller's header.
  Ref<Dictionary> callersOwn;
  if (!presented && sent && !(this->*side.credentials)()) {
    if (auto field = sent->headerField(side.isProxy ? "Proxy-Authorization" : "Authorization")) {
      auto basic = net::basicCredentialsOfField(*field);
      callersOwn = basic ? makeCredentials(basic->first, basic->second) : Ref<Dictionary>(MutableDictionary::make());
    }
  }
  if ((presented || callersOwn) && !authentication->isValid(&reason) && isBadCredentialsReason(reason)) {
    // Credentials sent before the challenge were refused. Remembered ones are forgotten; and
    // unless the search would only give the same ones again (a wrong password), the challenge
    // is answered afresh: the URL's, the request's or the keychain's credentials get their turn.
    std::lock_guard<std::recursive_mutex> prompt(stores().credentialPromptLock);
    if (presented) side.removeFromSessionStore(presented);
    const Ref<Dictionary>& refused = presented ? presented : callersOwn;
    Ref<Dictionary> again;
    if (useSessionPersistence()) {
      if (auto record = (this->*side.findInSession)()) again = record->objectForKeyAs<Dictionary>("Credentials");
    }
    if (!again) again = (this->*side.find)();
    if (!sameUserAndPassword(refused, again)) {
      authentication = nullptr;
      if (!takeChallenge(nullptr)) {
        cancelLoad();
        failWithError(unreadableChallenge());
        return;
      }
    }
  }
  if (!authentication->isValid(&reason)) {
    authentication = nullptr;
    if (isBadCredentialsReason(reason)) {
      std::unique_lock<std::recursive_mutex> prompt(stores().credentialPromptLock);
      side.removeFromSessionStore((this->*side.credentials)());
      (this->*side.setCredentials)(nullptr);
      if (error() || isCancelled()) return;
      cancelLoad();
      setLastActivityTime(nullptr);
      if (willAskForCredentials(side)) {
        prompt.unlock();
        waitForCredentials();
        return;
      }
    }
    cancelLoad();
    failWithError(authenticationError());
    return;
  }

  cancelLoad();
  bool ntlm = authentication->method() == net::kHTTPAuthenticationSchemeNTLM;
  if (auto credentials = (this->*side.credentials)()) {
    int retries = (this->*side.retryCount)();
    if (!(ntlm && retries >= 2)) {
      if (applyCredentials(side, credentials)) {
        startRequest();
      } else {
        failWithError(applyFailure(side.isProxy));
      }
    } else if (retries == 2) {
      failWithError(authenticationError());
    } else {
      failWithError(applyFailure(side.isProxy));
    }
    return;
  }
  if (!authentication->requiresUsernameAndPassword()) return;

  std::unique_lock<std::recursive_mutex> prompt(stores().credentialPromptLock);
  if (error() || isCancelled()) return;
  if (useSessionPersistence()) {
    if (auto record = (this->*side.findInSession)()) {
      if (applyCredentials(side, record->objectForKeyAs<Dictionary>("Credentials"))) {
        prompt.unlock();
        startRequest();
        return;
      }
    }
  }
  if (auto credentials = (this->*side.find)()) {
    bool applied = applyCredentials(side, credentials);
    prompt.unlock();
    if (applied) {
      startRequest();
    } else {
      failWithError(applyFailure(side.isProxy));
    }
    return;
  }
  setLastActivityTime(nullptr);
  if (willAskForCredentials(side)) {
    prompt.unlock();
    waitForCredentials();
    return;
  }
  prompt.unlock();
  failWithError(authenticationError());
}

}  // namespace zv
