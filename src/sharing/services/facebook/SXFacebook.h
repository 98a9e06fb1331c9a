#pragma once
// The Facebook sharer: a link through the web feed dialog, a text status and a photo through the
// Graph API, and the user-information request. It drives the one Facebook session of the
// process (facebook()), keeps the session's access token and expiry in the keychain (a plain
// user-defaults copy left by an earlier version is moved there once), and parks the item being
// shared in the user defaults while the user logs in in another application or the browser, so
// the share goes on when the login reply brings the application back, even after a restart.
// A login that fails drops the parked item.
//
// Each login is the service's interactive SXLoginAttempt: a newer login (another share while the
// user has not come back from the last one) ends the one waiting before it, and a logout, however
// it is made, ends the one waiting; that share then ends once, as not logged in, without an alert,
// and lets go of its sharer and its item. A login outcome the session reports for an attempt
// that is over is dropped.
//
// Threads: main thread only. Ownership: the sharer keeps itself alive from a login, a dialog or a
// request until the matching outcome; the session does not retain its delegate (this sharer).

#include <mutex>
#include <optional>
#include <string>

#include "sharing/core/SXFormControllerLargeTextField.h"
#include "sharing/core/SXSharer.h"
#include "sharing/services/facebook/FacebookClient.h"

namespace zv {

inline constexpr const char* kSXFacebookUserInfoKey = "kSXFacebookUserInfo";
inline constexpr const char* kSXStoredItemKey = "kSXStoredItem";
// When the login the parked item waits for left the application (seconds since 1970).
inline constexpr const char* kSXFacebookLoginStartedKey = "kSXFacebookLoginStarted";
// Plain user-defaults entries of earlier versions; read once, moved to the keychain, deleted.
inline constexpr const char* kSXFacebookLegacyAccessTokenKey = "kSXFacebookAccessToken";
inline constexpr const char* kSXFacebookLegacyExpiryDateKey = "kSXFacebookExpiryDate";
// Keychain accounts under the sharer's service ("SX_AUTH_SXFacebook").
inline constexpr const char* kSXFacebookTokenAccount = "accessToken";
inline constexpr const char* kSXFacebookExpiryAccount = "expirationDate";

class SXFacebook : public SXSharer,
                   public FacebookSessionDelegate,
                   public FacebookDialogDelegate,
                   public FacebookRequestDelegate,
                   public SXFormControllerLargeTextFieldDelegate {
 public:
  // The one session of the process, made on first use from the configuration ("facebookAppId",
  // "facebookLocalAppId").
  static Ref<FacebookClient> facebook();
  // Forgets the session (tests that install another configuration).
  static void resetSharedSessionForTesting();
  // Drops the token (session, keychain and any plain copy) and the stored user information.
  static void flushAccessToken();
  // Writes the image as PNG under <caches>/SXImage; the path, or nullopt when it cannot be written.
  static std::optional<std::string> storedImagePath(const Ref<graphics::Image>& image);
  // Reads and deletes the file (deleted even when it is not an image).
  static Ref<graphics::Image> storedImage(const std::string& path);
  // Removes every parked picture of Caches/SXImage but the one the parked share names (pictures a
  // killed process or an abandoned login left). Run at start, when the class is registered.
  static void removeStrayImages();
  // A login reply URL for the session (see FacebookClient::handleOpenURL); after a restart a new
  // sharer becomes the session's delegate and carries on with the parked share.
  static bool handleOpenURL(const Ref<URL>& url);
  // Drops the parked item, the token and the session's login.
  static void logoutOfFacebook();
  static void registerClass();

  std::string sharerTitle() const override { return "Facebook"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShareOffline() const override { return false; }
  bool canGetUserInfo() const override { return true; }
  bool canAutoShare() const override { return false; }
  bool shouldAutoShare() const override { return false; }
  void logout() override { logoutOfFacebook(); }

  bool isAuthorized() override;
  void promptAuthorization() override;
  void show() override;
  bool send() override;
  void showFacebookForm();
  void sendForm(SXFormControllerLargeTextField& form) override;
  void sendDidCancel() override { SXSharer::sendDidCancel(); }
  void saveFBAccessToken(const std::string& token, const Ref<Date>& expiresAt);

  // Feed dialog.
  void dialogDidComplete(FacebookDialog& dialog) override;
  void dialogCompleteWithUrl(const Ref<URL>& url) override;
  void dialogDidNotComplete(FacebookDialog& dialog) override;
  void dialogDidFailWithError(FacebookDialog& dialog, const Ref<Error>& error) override;
  bool dialogShouldOpenURLInExternalBrowser(FacebookDialog& dialog, const Ref<URL>& url) override;
  // Session.
  void facebookDidLogin() override;
  void facebookDidNotLogin(bool cancelled) override;
  void facebookDidExtendTokenExpiresAt(const std::string& accessToken, const Ref<Date>& expiresAt) override;
  void facebookDidLogout() override {}
  void facebookSessionInvalidated() override {}
  // Graph requests.
  void requestLoading(FacebookRequest& request) override;
  void requestDidLoad(FacebookRequest& request, const ObjectPtr& result) override;
  void requestDidFailWithError(FacebookRequest& request, const Ref<Error>& error) override;

  bool respondsToSelector(std::string_view selector) const override;

 private:
  enum class DialogOutcome { Posted, NothingPosted, TokenRefused, Failed };
  static void dropParkedItem();
  // Starts this sharer's login attempt; loginAbandoned() runs when a newer login or a logout ends it.
  void beginLogin();
  void loginAbandoned();
  // The session reported the login's outcome: true once, while this sharer's attempt is current.
  bool takeLoginOutcome();
  // The service refused the token while sending.
  void tokenRefused();
  void holdUntilLoginEnds() { loginHold_ = selfAs<SXFacebook>(); }
  void letGoAfterLogin() { loginHold_.reset(); }
  // The dialog and the requests do not retain their delegate: the sharer holds itself from a
  // send until its outcome.
  void holdUntilSendEnds() { sendHold_ = selfAs<SXFacebook>(); }
  void letGoAfterSend() { sendHold_.reset(); }

  Ref<SXFacebook> loginHold_;
  Ref<SXFacebook> sendHold_;
  DialogOutcome dialogOutcome_ = DialogOutcome::Posted;
  Ref<Error> dialogError_;
};

}  // namespace zv
