#include "sharing/services/notes/NoteServiceSession.h"

#include <algorithm>
#include <climits>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocolException.h>

#include "notes_thrift/NoteStore.h"
#include "notes_thrift/UserStore.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HTTPCookie.h"
#include "platform/ui/Device.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/oauth/OAuthBuilder.h"
#include "sharing/core/oauth/OAuthEncoding.h"
#include "sharing/services/notes/NoteServiceHTTPTransport.h"

namespace zv {

namespace {

std::string lowercase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::protocol::TType;

// The binary protocol over one HTTP reply, believing no length or count beyond the reply: a
// string never claims more bytes than the reply holds, and a container never more elements than
// the bytes left (each element takes at least one byte), so a claim is refused with a protocol
// error before anything is allocated for it. Fields skipped as unknown are held to the same
// string and container limits (the reply's size).
class ReplyBoundedProtocol : public TBinaryProtocol {
 public:
  explicit ReplyBoundedProtocol(const std::shared_ptr<NoteServiceHTTPTransport>& transport)
      : TBinaryProtocol(transport), reply_(transport.get()) {}

  uint32_t readMessageBegin_virt(std::string& name, TMessageType& type, int32_t& seqid) override {
    // The reply has arrived by now: at least 1, since a limit of 0 means none.
    auto limit = static_cast<int32_t>(std::clamp<std::size_t>(reply_->replyBytesLeft(), 1, INT32_MAX));
    setStringSizeLimit(limit);
    setContainerSizeLimit(limit);
    return TBinaryProtocol::readMessageBegin_virt(name, type, seqid);
  }

  uint32_t readString_virt(std::string& text) override { return readBoundedString(text); }
  uint32_t readBinary_virt(std::string& bytes) override { return readBoundedString(bytes); }

  uint32_t readListBegin_virt(TType& elementType, uint32_t& size) override {
    uint32_t read = TBinaryProtocol::readListBegin_virt(elementType, size);
    requireLeft(size);
    return read;
  }
  uint32_t readSetBegin_virt(TType& elementType, uint32_t& size) override {
    uint32_t read = TBinaryProtocol::readSetBegin_virt(elementType, size);
    requireLeft(size);
    return read;
  }
  uint32_t readMapBegin_virt(TType& keyType, TType& valueType, uint32_t& size) override {
    uint32_t read = TBinaryProtocol::readMapBegin_virt(keyType, valueType, size);
    requireLeft(2 * static_cast<std::size_t>(size));
    return read;
  }

 private:
  void requireLeft(std::size_t bytes) const {
    if (bytes > reply_->replyBytesLeft()) {
      throw TProtocolException(TProtocolException::SIZE_LIMIT, "Exceeded size limit: a length or count beyond the reply");
    }
  }

  uint32_t readBoundedString(std::string& text) {
    int32_t size = 0;
    uint32_t read = readI32(size);
    if (size < 0) throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
    requireLeft(static_cast<std::size_t>(size));
    return read + readStringBody(text, size);
  }

  NoteServiceHTTPTransport* reply_;  // owned by the base class
};

template <class Client>
std::shared_ptr<Client> makeClient(const std::string& url, double timeout) {
  auto transport = std::make_shared<NoteServiceHTTPTransport>(url, timeout);
  auto protocol = std::make_shared<ReplyBoundedProtocol>(transport);
  return std::make_shared<Client>(protocol);
}

}  // namespace

Ref<NoteServiceSession> NoteServiceSession::sharedSession() {
  static DispatchOnceToken once;
  static Ref<NoteServiceSession>& shared = *new Ref<NoteServiceSession>;
  dispatchOnce(once, [] { shared = std::make_shared<NoteServiceSession>(); });
  return shared;
}

void NoteServiceSession::setSharedSessionHost(std::string host, std::string consumerKey, std::string consumerSecret) {
  sharedSession()->setHost(std::move(host), std::move(consumerKey), std::move(consumerSecret));
}

NoteServiceSession::NoteServiceSession() { setUp(); }

NoteServiceSession::NoteServiceSession(std::string host, std::string consumerKey, std::string consumerSecret)
    : host_(std::move(host)), consumerKey_(std::move(consumerKey)), consumerSecret_(std::move(consumerSecret)) {
  setUp();
}

NoteServiceSession::~NoteServiceSession() {
  if (connection_) connection_->cancel();
}

void NoteServiceSession::setUp() {
  credentialStore_ = NCCredentialStore::load();
  if (!credentialStore_) {
    credentialStore_ = std::make_shared<NCCredentialStore>();
    credentialStore_->save();
  }
  queue_ = DispatchQueue::createSerial("com.tervoplan.noteservice.calls");
}

void NoteServiceSession::setHost(std::string host, std::string consumerKey, std::string consumerSecret) {
  std::lock_guard lock(mutex_);
  host_ = std::move(host);
  consumerKey_ = std::move(consumerKey);
  consumerSecret_ = std::move(consumerSecret);
}

std::string NoteServiceSession::host() const {
  std::lock_guard lock(mutex_);
  return host_;
}

void NoteServiceSession::setCallTimeout(double seconds) {
  std::lock_guard lock(mutex_);
  callTimeout_ = seconds;
}

double NoteServiceSession::callTimeout() const {
  std::lock_guard lock(mutex_);
  return callTimeout_;
}

Ref<NCCredentials> NoteServiceSession::credentials() const { return credentialStore_->credentialsForHost(host()); }

std::optional<std::string> NoteServiceSession::authenticationToken() const {
  auto entry = credentials();
  return entry ? entry->authenticationToken() : std::nullopt;
}

bool NoteServiceSession::isAuthenticated() const { return authenticationToken().has_value(); }

std::string NoteServiceSession::userStoreUrl() const {
  // Every call carries the token: https, whatever port the host names.
  return "https://" + host() + "/edam/user";
}

std::string NoteServiceSession::noteStoreUrl() const {
  auto entry = credentials();
  return entry ? entry->noteStoreUrl() : std::string();
}

std::string NoteServiceSession::webApiUrlPrefix() const {
  auto entry = credentials();
  return entry ? entry->webApiUrlPrefix() : std::string();
}

std::shared_ptr<notes::NoteStoreClient> NoteServiceSession::noteStore() const {
  return makeClient<notes::NoteStoreClient>(noteStoreUrl(), callTimeout());
}

std::shared_ptr<notes::UserStoreClient> NoteServiceSession::userStore() const {
  return makeClient<notes::UserStoreClient>(userStoreUrl(), callTimeout());
}

std::string NoteServiceSession::oauthCallback() const {
  std::lock_guard lock(mutex_);
  return "en-" + consumerKey_ + "://response";
}

std::string NoteServiceSession::queryStringFromParameters(const Dictionary& parameters) {
  std::string query;
  parameters.enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    auto name = std::dynamic_pointer_cast<String>(key);
    auto text = std::dynamic_pointer_cast<String>(value);
    if (!name || !text) return true;
    if (!query.empty()) query += '&';
    query += oauth_encoding::URLEncodedString(name->utf8()) + "=" + oauth_encoding::URLEncodedString(text->utf8());
    return true;
  });
  return query;
}

Ref<Dictionary> NoteServiceSession::parametersFromQueryString(std::string_view query) {
  return oauth_encoding::parametersFromQueryString(query);
}

bool NoteServiceSession::cookieDomainMatchesHost(std::string_view cookieDomain, std::string_view host) {
  // The host may carry a port; cookies never do.
  std::string hostName = lowercase(host.substr(0, host.find(':')));
  std::string domain = lowercase(cookieDomain);
  if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
  if (domain.empty() || hostName.empty()) return false;
  if (domain == hostName) return true;
  return domain.size() > hostName.size() && domain.compare(domain.size() - hostName.size(), hostName.size(), hostName) == 0 &&
         domain[domain.size() - hostName.size() - 1] == '.';
}

void NoteServiceSession::authenticateWithViewController(const Ref<ui::ViewController>& viewController,
                                                        CompletionHandler completion) {
  if (completionHandler_) {
    // A login is already running: the new caller learns at once that it was not started.
    if (completion) {
      DispatchQueue::mainQueue()->async([completion] {
        completion(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorTransport, "A login is already running."));
      });
    }
    return;
  }
  viewController_ = viewController;
  completionHandler_ = std::move(completion);
  if (isAuthenticated()) {
    completeAuthentication(nullptr);
    return;
  }
  std::string key, secret;
  {
    std::lock_guard lock(mutex_);
    key = consumerKey_;
    secret = consumerSecret_;
  }
  if (key.empty() || secret.empty() || key == "your key" || secret == "your secret") {
    completionHandler_ = nullptr;
    viewController_ = nullptr;
    throw Exception(kInvalidNoteServiceSessionException, "Please use a valid consumerKey and consumerSecret.");
  }
  if (!viewController_) {
    completeAuthentication(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorNoViewController,
                                       "There is no screen to show the login on."));
    return;
  }
  startTokenRequest(Dictionary::make({{"oauth_callback", String::make(oauthCallback())}}), std::nullopt, std::nullopt);
}

void NoteServiceSession::startTokenRequest(const Ref<Dictionary>& parameters, const std::optional<std::string>& token,
                                           const std::optional<std::string>& tokenSecret) {
  std::string host, key, secret;
  {
    std::lock_guard lock(mutex_);
    host = host_;
    key = consumerKey_;
    secret = consumerSecret_;
  }
  // Always over https, a host with a port included: the reply carries tokens.
  auto request = OAuthBuilder::URLRequestForPathGETParametersSchemeHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      std::string("/oauth"), parameters, "https", host, key, secret, token, tokenSecret);
  response_ = nullptr;
  receivedData_ = nullptr;
  connection_ = request ? net::URLConnection::make(request, selfAs<NoteServiceSession>()) : nullptr;
  // A token reply is a short form: a longer one is no reply of the service's.
  if (connection_) connection_->setMaximumBodyLength(std::size_t{1} << 20);
  if (!connection_) {
    completeAuthentication(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorTransport,
                                       "The login request could not be started."));
  }
}

void NoteServiceSession::connectionDidReceiveResponse(net::URLConnection& connection,
                                                      const Ref<net::URLResponse>& response) {
  if (&connection != connection_.get()) return;  // a connection this session has let go
  response_ = response;
  receivedData_ = MutableData::make();
}

void NoteServiceSession::connectionDidReceiveData(net::URLConnection& connection, const Ref<Data>& data) {
  if (&connection != connection_.get()) return;
  if (!receivedData_) receivedData_ = MutableData::make();
  receivedData_->append(data->view());
}

void NoteServiceSession::connectionDidFailWithError(net::URLConnection& connection, const Ref<Error>& error) {
  if (&connection != connection_.get()) return;
  connection_ = nullptr;
  response_ = nullptr;
  receivedData_ = nullptr;
  completeAuthentication(error);
}

void NoteServiceSession::connectionDidFinishLoading(net::URLConnection& connection) {
  if (&connection != connection_.get()) return;
  connection_ = nullptr;
  auto response = response_;
  std::string body = receivedData_ ? std::string(receivedData_->view()) : std::string();
  response_ = nullptr;
  receivedData_ = nullptr;
  handleTokenReply(response, body);
}

void NoteServiceSession::handleTokenReply(const Ref<net::URLResponse>& response, const std::string& body) {
  auto http = std::dynamic_pointer_cast<net::HTTPURLResponse>(response);
  if (http && http->statusCode() != 200) {
    // The body may hold tokens: only its size is logged.
    logError("Received error HTTP response code: " + std::to_string(http->statusCode()) + " (" +
             std::to_string(body.size()) + " bytes)");
    completeAuthentication(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorTransport,
                                       "The service refused the login request."));
    return;
  }
  auto parameters = parametersFromQueryString(body);
  if (parameters->objectForKey("oauth_callback_confirmed")) {
    tokenSecret_ = parameters->stringForKey("oauth_token_secret").value_or("");
    showLoginPage(parameters->stringForKey("oauth_token").value_or(""));
    return;
  }
  auto token = parameters->stringForKey("oauth_token");
  auto noteStoreUrl = parameters->stringForKey("edam_noteStoreUrl");
  auto userId = parameters->stringForKey("edam_userId");
  auto webApiUrlPrefix = parameters->stringForKey("edam_webApiUrlPrefix");
  if (!token || !noteStoreUrl || !userId || !webApiUrlPrefix) {
    completeAuthentication(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorMissingCredential,
                                       "The login reply lacks a credential."));
    return;
  }
  auto entry = std::make_shared<NCCredentials>(host(), *userId, *noteStoreUrl, *webApiUrlPrefix, *token);
  auto keychainError = credentialStore_->addCredentials(entry);
  if (keychainError) {
    completeAuthentication(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorKeychain,
                                       "The login could not be kept in the keychain."));
    return;
  }
  completeAuthentication(nullptr);
}

void NoteServiceSession::showLoginPage(const std::string& token) {
  auto page = URL::make("https://" + host() + "/OAuth.action?" +
                        queryStringFromParameters(*Dictionary::make({{"oauth_token", String::make(token)}})));
  loginPage_ = NCOAuthViewController::initWithAuthorizationURL(page, oauthCallback(),
                                                               selfAs<NoteServiceSession>());
  auto navigation = ui::NavigationController::make(loginPage_);
  if (ui::Device::currentDevice()->userInterfaceIdiom() == UserInterfaceIdiom::Pad) {
    loginPage_->setModalPresentationStyle(ui::ModalPresentationStyle::FormSheet);
    navigation->setModalPresentationStyle(ui::ModalPresentationStyle::FormSheet);
  }
  if (viewController_) {
    awaitingCallback_ = true;
    pageScreen_ = navigation;
    shownPage_ = loginPage_.get();
    presentationDone_ = false;
    dismissWanted_ = false;
    std::weak_ptr<NoteServiceSession> weak = selfAs<NoteServiceSession>();
    std::weak_ptr<ui::ViewController> weakScreen = navigation;
    viewController_->presentViewController(navigation, true, [weak, weakScreen] {
      auto self = weak.lock();
      auto screen = weakScreen.lock();
      if (self && screen) self->loginPageCameUp(screen);
    });
    if (navigation->presentingViewController()) return;
  }
  // The presenter is busy with another screen (or gone): the login ends here, so the next one
  // can start.
  awaitingCallback_ = false;
  loginPage_ = nullptr;
  pageScreen_ = nullptr;
  shownPage_ = nullptr;
  completeAuthentication(Error::make(kNoteServiceErrorDomain, kNoteServiceErrorNoViewController,
                                     "The login page could not be shown."));
}

void NoteServiceSession::loginPageCameUp(const Ref<ui::ViewController>& screen) {
  if (screen != pageScreen_) return;  // taken away already, or another login's page
  presentationDone_ = true;
  // The login may have ended while the page was still coming up.
  if (dismissWanted_) dismissLoginPage();
}

void NoteServiceSession::dismissLoginPage() {
  loginPage_ = nullptr;
  if (!pageScreen_) return;
  if (!presentationDone_) {
    dismissWanted_ = true;
    return;
  }
  dismissWanted_ = false;
  auto screen = pageScreen_;
  // Already on its way out (with the screen under it): it reports when it is gone.
  if (screen->isBeingDismissed()) return;
  if (auto presenter = screen->presentingViewController()) presenter->dismissViewControllerAnimated(true);
  if (!screen->isBeingDismissed()) {
    // Nothing can take the page away: the login does not wait for it.
    log(LogLevel::Warning, "NoteServiceSession: the login page could not be dismissed");
    loginPageLeft();
  }
}

void NoteServiceSession::loginPageLeft() {
  pageScreen_ = nullptr;
  shownPage_ = nullptr;
  loginPage_ = nullptr;
  presentationDone_ = false;
  dismissWanted_ = false;
  if (awaitingCallback_) {
    // Gone before it answered: the login is not made.
    awaitingCallback_ = false;
    completeAuthentication(nullptr);
    return;
  }
  // A login that ended while the page was leaving completes now, so whatever the caller shows
  // next is not refused by a screen still in motion.
  if (completionDeferred_) {
    completionDeferred_ = false;
    auto error = std::move(deferredError_);
    deferredError_ = nullptr;
    completeAuthentication(error);
  }
}

void NoteServiceSession::oauthViewControllerDidCancel(NCOAuthViewController&) {
  if (!awaitingCallback_) return;
  awaitingCallback_ = false;
  dismissLoginPage();
  completeAuthentication(nullptr);
}

void NoteServiceSession::oauthViewControllerDidFailWithError(NCOAuthViewController&, const Ref<Error>& error) {
  if (!awaitingCallback_) return;
  awaitingCallback_ = false;
  dismissLoginPage();
  completeAuthentication(error);
}

void NoteServiceSession::oauthViewControllerReceivedOAuthCallbackURL(NCOAuthViewController&,
                                                                     const Ref<URL>& callbackURL) {
  if (!awaitingCallback_) return;
  awaitingCallback_ = false;
  dismissLoginPage();
  startAccessTokenRequest(callbackURL);
}

void NoteServiceSession::oauthViewControllerLeftTheScreen(NCOAuthViewController& controller) {
  if (&controller != shownPage_) return;  // another login's page
  loginPageLeft();
}

void NoteServiceSession::startAccessTokenRequest(const Ref<URL>& callbackURL) {
  auto query = parametersFromQueryString(callbackURL && callbackURL->query() ? *callbackURL->query() : "");
  auto parameters = MutableDictionary::make();
  if (auto verifier = query->stringForKey("oauth_verifier")) parameters->setObject(String::make(*verifier), "oauth_verifier");
  startTokenRequest(parameters, query->stringForKey("oauth_token"), tokenSecret_);
}

bool NoteServiceSession::handleOpenURL(const Ref<URL>& url) {
  std::string prefix = oauthCallback();
  if (!url || !awaitingCallback_ || url->absoluteString().compare(0, prefix.size(), prefix) != 0) return false;
  awaitingCallback_ = false;
  dismissLoginPage();
  startAccessTokenRequest(url);
  return true;
}

void NoteServiceSession::completeAuthentication(const Ref<Error>& error) {
  if (pageScreen_) {
    completionDeferred_ = true;
    deferredError_ = error;
    return;
  }
  auto completion = std::move(completionHandler_);
  completionHandler_ = nullptr;
  viewController_ = nullptr;
  if (completion) completion(error);
}

void NoteServiceSession::logout() {
  if (completionHandler_) {
    // The login under way ends here; what it still receives belongs to nobody.
    if (connection_) connection_->cancel();
    connection_ = nullptr;
    response_ = nullptr;
    receivedData_ = nullptr;
    awaitingCallback_ = false;
    dismissLoginPage();
    completeAuthentication(nullptr);
  }
  credentialStore_->clearAllCredentials();
  NCCredentialStore::deleteStored();
  auto cookies = net::CookieStore::sharedInstance();
  std::string host = this->host();
  for (const auto& cookie : cookies->cookies()) {
    if (cookieDomainMatchesHost(cookie->domain(), host)) cookies->deleteCookie(*cookie);
  }
}

}  // namespace zv
