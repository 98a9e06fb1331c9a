#pragma once
// The Twitter sharer: posts a status (text, link or image) or fetches the user's own profile.
//
// When the platform's tweet sheet exists (and the configuration does not force it off) a share
// is handed to SXiOS5Twitter, which needs no login of its own, and any stored OAuth login is
// dropped. Otherwise this is an OAuth 1.0a sharer: the authorization web page or, with xAuth, a
// credential form (with an optional "Follow" switch for the configured account), then an edit
// form limited to 140 characters. A link is shortened first when the shortening service is
// configured; an image goes to the image host with OAuth Echo and its address is appended to the
// status. Every service is reached over https only.
//
// Outcome: each send reports sendDidStart once and then exactly one of finish, failure (always
// with an error) or a new login (pending action 3); a send that fails to authenticate again right
// after a new login reports a failure rather than asking for yet another login.
//
// Threads: main thread only; fetches call back on the main run loop and keep the sharer alive.

#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/graphics/Image.h"
#include "sharing/core/SXFormControllerLargeTextField.h"
#include "sharing/core/SXOAuthSharer.h"
#include "sharing/core/SXRequest.h"

namespace zv {

class SXTwitter : public SXOAuthSharer, public SXFormControllerLargeTextFieldDelegate {
 public:
  static constexpr const char* kAPIHost = "api.twitter.com";
  static constexpr const char* kImageHost = "upload.twitter.com";
  static constexpr const char* kShortenHost = "api-ssl.bitly.com";
  static constexpr const char* kUserInfoKey = "kSXTwitterUserInfo";
  static constexpr std::size_t kStatusLimit = 140;
  static constexpr std::size_t kImageTextLength = 25;
  static constexpr std::size_t kImageUploadLimit = 700000;
  // The stem of the upload's multipart boundary; a random part follows it.
  static constexpr const char* kBoundary = "0xKhTmLbOuNdArY";

  void init() override;
  std::string sharerTitle() const override { return "Twitter"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canGetUserInfo() const override { return true; }
  bool canAutoShare() const override { return false; }
  bool shouldAutoShare() const override { return false; }

  void share() override;
  static bool twitterFrameworkAvailable();
  // Sets "status" for text and image items; starts the shortening of a link (NO while it runs).
  bool prepareItem();
  bool isAuthorized() override;
  void promptAuthorization() override;
  void logout() override;
  std::optional<std::string> authorizationFormCaption() const override;
  std::vector<Ref<SXFormFieldSettings>> authorizationFormFields() const override;
  void tokenAccessModifyRequest(OCMutableURLRequest& request) override;
  void tokenAccessTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) override;

  void show() override;
  void showTwitterForm();
  void sendForm(SXFormControllerLargeTextField& form) override;
  void sendDidCancel() override { SXSharer::sendDidCancel(); }

  void shortenURL();
  void shortenURLFinished(const Ref<SXRequest>& request);
  bool validateItem() override;
  bool validateItemAfterUserEdit();
  bool send() override;
  void followMe();
  void handleUnsuccessfulTicket(const Ref<Data>& data);

  // The image as JPEG at quality 0.9, 0.8, ... 0.1 (whole tenths), the first encoding of at most
  // `limit` bytes; nullptr with `error` set when none fits (or the image cannot be encoded).
  static Ref<Data> uploadJPEG(const Ref<graphics::Image>& image, std::size_t limit, Ref<Error>* error);
  // The multipart body of the image upload, framed by a boundary that neither the picture nor the
  // message holds (returned in `boundary`, for the request's Content-Type).
  static std::string uploadBody(const Data& jpeg, const std::string& message, std::string* boundary);
  // "status" counted as the edit form counts it (UTF-16 units).
  static std::size_t statusLength(const std::string& status);

  bool respondsToSelector(std::string_view selector) const override {
    return NavigationController::respondsToSelector(selector);
  }
  static void registerClass();

 private:
  void sendStatus();
  void sendUserInfo();
  bool sendImage();
  void statusFinished(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data);
  void userInfoFinished(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data);
  void imageFinished(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data);
  void transportFailed(const Ref<Error>& error);
  std::string statusWithLink(const std::string& link) const;
  Ref<URL> apiURL(const std::string& path) const;
};

}  // namespace zv
