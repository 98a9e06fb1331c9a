#pragma once
// The Vkontakte sharer: text, a link or a photo on the user's wall. It logs in through its own
// web view (SXVkontakteOAuthView), keeps the token and the user id in the keychain for 24 hours
// (a plain user-defaults copy left by an earlier version is moved there once and deleted), and
// calls the service's methods over HTTPS with JSON replies, synchronously on the main thread. A
// photo goes through the upload address, the multipart upload and the save before the wall post;
// each reply is checked before the next step. When the service asks for a captcha, the sharer
// shows the image in an alert and repeats the call with the answer; the share is reported once,
// after the repeated call (or as failed when the user cancels the captcha).
//
// Threads: main thread only. Ownership: the hub keeps the sharer while its screens are shown;
// the captcha alert keeps it (through `captchaHold_`) until it is answered.

#include <optional>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SXFormControllerLargeTextField.h"
#include "sharing/core/SXSharer.h"
#include "sharing/services/vkontakte/SXVkontakteOAuthView.h"

namespace zv {

// Plain user-defaults entries of earlier versions; read once, moved to the keychain, deleted.
inline constexpr const char* kSXVkontakteLegacyUserIdKey = "kSXVkontakteUserId";
inline constexpr const char* kSXVkontakteLegacyAccessTokenKey = "kSXVkontakteAccessToken";
inline constexpr const char* kSXVkontakteLegacyExpiryDateKey = "kSXVkontakteExpiryDate";
// Keychain accounts under the sharer's service.
inline constexpr const char* kSXVkontakteUserIdAccount = "userId";
inline constexpr const char* kSXVkontakteTokenAccount = "accessToken";
inline constexpr const char* kSXVkontakteExpiryAccount = "expiryDate";
// Tag of the captcha alert's answer field.
inline constexpr int kSXVkontakteCaptchaFieldTag = 33;
// How many captchas in a row one share answers before it gives up.
inline constexpr int kSXVkontakteMostCaptchaRounds = 3;

class SXVkontakte : public SXSharer,
                    public SXFormControllerLargeTextFieldDelegate,
                    public ui::AlertViewDelegate,
                    public SXVkontakteOAuthViewDelegate {
 public:
  static void registerClass();
  static void flushAccessToken();
  // Percent-escapes everything but unreserved characters (UTF-8).
  static std::string URLEncodedString(std::string_view text);

  std::string sharerTitle() const override { return "Vkontakte"; }
  bool canShareText() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShareURL() const override { return true; }
  bool canShareOffline() const override { return false; }
  bool canGetUserInfo() const override { return false; }
  bool canAutoShare() const override { return false; }
  void logout() override { flushAccessToken(); }

  bool isAuthorized() override;
  void promptAuthorization() override;
  void show() override;
  bool send() override;
  void showVkontakteForm();
  void sendForm(SXFormControllerLargeTextField& form) override;
  void sendDidCancel() override { SXSharer::sendDidCancel(); }

  void authComplete(const std::string& accessToken, const std::string& userId) override;
  void authFailed(bool malformed) override;
  void alertViewClickedButtonAtIndex(ui::AlertView& alert, long buttonIndex) override;

  // One method call: the decoded reply, or nullptr (with `failure` saying why) when nothing
  // usable came back. A captcha request shows the captcha alert and answers nullptr with
  // `captchaShown` set.
  ObjectPtr sendRequest(const std::string& url, bool withCaptcha, std::string* failure, bool* captchaShown);
  // The multipart photo upload: the decoded reply, or nullptr with `failure`.
  ObjectPtr sendPOSTRequest(const std::string& url, const Ref<Data>& jpeg, std::string* failure);

  const std::optional<std::string>& accessUserId() const { return accessUserId_; }
  const std::optional<std::string>& accessToken() const { return accessToken_; }
  const Ref<Date>& expirationDate() const { return expirationDate_; }
  bool isCaptcha() const { return isCaptcha_; }
  const Ref<ui::AlertView>& captchaAlert() const { return captchaAlert_; }

 private:
  // Where a share stands; a captcha repeats the call of the current step.
  enum class Step { None, UploadServer, Upload, SavePhoto, WallPost };

  void sendText();
  void sendTextAndLink();
  void sendImageAction();
  // Goes on from `step` with its reply; reports the outcome when the share has ended.
  void advance(Step step, const ObjectPtr& reply);
  void call(Step step, const std::string& url);
  void fail(const std::string& why, std::int64_t code = 1);
  void getCaptcha(const Ref<Dictionary>& error, const std::string& request);
  std::string methodURL(const std::string& pathAndQuery) const;

  bool isCaptcha_ = false;
  std::optional<std::string> accessUserId_;
  std::optional<std::string> accessToken_;
  Ref<Date> expirationDate_;

  Step step_ = Step::None;
  int captchaRounds_ = 0;
  std::string captchaSid_;
  std::string captchaRequest_;
  Ref<ui::AlertView> captchaAlert_;
  Ref<SXVkontakte> captchaHold_;
};

}  // namespace zv
