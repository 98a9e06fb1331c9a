#pragma once
// The program's one connection to the note service: host and OAuth consumer key and secret, the
// three-step OAuth 1.0a login (temporary token, the login page, the access token), the stored
// credentials, and the service's two clients, made anew on every call. The login page is
// presented over the caller's screen and counts as up until it has left the screen for good (its
// viewDidLeave); the login completes only after that. A page taken away before it answered (with
// the screen it was shown over, also while still sliding in) ends its login as a cancel does: the
// login completes with nullptr and its late callback is nobody's. A page that can be neither
// shown nor taken away ends its login too, so a next login is never refused for good.
//
// Threads: the login runs on the main thread (its connection and page call back there) and its
// completion runs exactly once there. Host, keys and credentials may be read from any thread
// (the call wrappers read the token on the session's serial queue); they are guarded.
// Ownership: the session owns its credential store, its queue and, for one login, the
// presenting screen and the completion; the login page holds the session weakly.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/ui/ViewController.h"
#include "sharing/services/notes/NCCredentials.h"
#include "sharing/services/notes/NCOAuthViewController.h"

namespace zv {
namespace notes {
class NoteStoreClient;
class UserStoreClient;
}  // namespace notes

// The error domain of the login and of the call wrappers.
inline constexpr const char* kNoteServiceErrorDomain = "com.tervoplan.noteservice";
inline constexpr std::int64_t kNoteServiceErrorNoViewController = -3001;
inline constexpr std::int64_t kNoteServiceErrorTransport = -3000;
inline constexpr std::int64_t kNoteServiceErrorMissingCredential = 4;
inline constexpr std::int64_t kNoteServiceErrorUnknown = 1;
// The keychain refused to keep the token: the login is not usable.
inline constexpr std::int64_t kNoteServiceErrorKeychain = 5;
// The name of the exception raised for an unusable consumer key or secret.
inline constexpr const char* kInvalidNoteServiceSessionException = "Invalid NoteServiceSession";

class NoteServiceSession : public Object,
                           public NCOAuthViewControllerDelegate,
                           public net::URLConnectionDelegate {
 public:
  using CompletionHandler = std::function<void(const Ref<Error>& error)>;

  static Ref<NoteServiceSession> sharedSession();
  static void setSharedSessionHost(std::string host, std::string consumerKey, std::string consumerSecret);

  NoteServiceSession();
  NoteServiceSession(std::string host, std::string consumerKey, std::string consumerSecret);
  ~NoteServiceSession() override;

  void setHost(std::string host, std::string consumerKey, std::string consumerSecret);
  std::string host() const;

  // Runs `completion` exactly once on the main thread with nullptr or an error. nullptr does not
  // mean logged in (a cancelled login completes with nullptr): callers ask isAuthenticated().
  // Raises "Invalid NoteServiceSession" when the consumer key or secret is unusable.
  void authenticateWithViewController(const Ref<ui::ViewController>& viewController, CompletionHandler completion);
  // Takes the login's callback as an opened URL; NO (and the login left alone) for any other URL,
  // and for a callback no login page of this session is waiting for (one is taken only once).
  bool handleOpenURL(const Ref<URL>& url);

  Ref<NCCredentials> credentials() const;
  std::optional<std::string> authenticationToken() const;
  bool isAuthenticated() const;
  std::string userStoreUrl() const;
  std::string noteStoreUrl() const;
  std::string webApiUrlPrefix() const;

  // New clients on every call (binary protocol over HTTP on the stored addresses).
  std::shared_ptr<notes::NoteStoreClient> noteStore() const;
  std::shared_ptr<notes::UserStoreClient> userStore() const;
  const Ref<DispatchQueue>& queue() const { return queue_; }
  // How long one service call may go without progress (seconds).
  void setCallTimeout(double seconds);
  double callTimeout() const;

  // Forgets every stored login, the stored archive and the service's cookies. A login under way
  // ends (completed with nullptr, not logged in); its late replies are dropped.
  void logout();

  const Ref<NCCredentialStore>& credentialStore() const { return credentialStore_; }
  std::string oauthCallback() const;
  // The login page on screen, if any (tests drive it).
  const Ref<NCOAuthViewController>& loginPage() const { return loginPage_; }

  static std::string queryStringFromParameters(const Dictionary& parameters);
  static Ref<Dictionary> parametersFromQueryString(std::string_view query);
  // Whether a cookie domain is `host` or one of its subdomains (a leading dot ignored, no case).
  static bool cookieDomainMatchesHost(std::string_view cookieDomain, std::string_view host);

  // NCOAuthViewControllerDelegate
  void oauthViewControllerDidCancel(NCOAuthViewController& controller) override;
  void oauthViewControllerDidFailWithError(NCOAuthViewController& controller, const Ref<Error>& error) override;
  void oauthViewControllerReceivedOAuthCallbackURL(NCOAuthViewController& controller,
                                                   const Ref<URL>& callbackURL) override;
  // The page has left the screen for good: a login still waiting for its answer ends as a cancel
  // would; one that ended meanwhile completes now.
  void oauthViewControllerLeftTheScreen(NCOAuthViewController& controller) override;
  // URLConnectionDelegate
  void connectionDidReceiveResponse(net::URLConnection& connection, const Ref<net::URLResponse>& response) override;
  void connectionDidReceiveData(net::URLConnection& connection, const Ref<Data>& data) override;
  void connectionDidFinishLoading(net::URLConnection& connection) override;
  void connectionDidFailWithError(net::URLConnection& connection, const Ref<Error>& error) override;
  bool respondsToSelector(std::string_view selector) const override { return Object::respondsToSelector(selector); }

 private:
  void setUp();
  void startTokenRequest(const Ref<Dictionary>& parameters, const std::optional<std::string>& token,
                         const std::optional<std::string>& tokenSecret);
  void handleTokenReply(const Ref<net::URLResponse>& response, const std::string& body);
  void showLoginPage(const std::string& token);
  void dismissLoginPage();
  void loginPageCameUp(const Ref<ui::ViewController>& screen);
  void loginPageLeft();
  void completeAuthentication(const Ref<Error>& error);
  void startAccessTokenRequest(const Ref<URL>& callbackURL);

  mutable std::mutex mutex_;
  std::string host_;
  std::string consumerKey_;
  std::string consumerSecret_;
  double callTimeout_ = 60;

  Ref<ui::ViewController> viewController_;
  Ref<NCOAuthViewController> loginPage_;
  // The screen presented for the login page (its navigation) and the page in it, until the page
  // has left the screen for good.
  Ref<ui::ViewController> pageScreen_;
  const NCOAuthViewController* shownPage_ = nullptr;
  bool presentationDone_ = false;
  bool dismissWanted_ = false;
  bool completionDeferred_ = false;
  Ref<Error> deferredError_;
  Ref<net::URLConnection> connection_;
  Ref<net::URLResponse> response_;
  Ref<MutableData> receivedData_;
  Ref<NCCredentialStore> credentialStore_;
  std::string tokenSecret_;
  // The login page is up and its callback not yet taken.
  bool awaitingCallback_ = false;
  CompletionHandler completionHandler_;
  Ref<DispatchQueue> queue_;
};

}  // namespace zv
