#pragma once
// The Readability sharer: saves a link as a bookmark through the service's REST API, signed with
// OAuth 1.0a. By default the login is xAuth (a user-name and password form whose values go into
// the access-token request); otherwise the service's authorization page. The share form offers
// "Favorite" and "Archive" switches whose last values are remembered per sharer and decide an
// automatic share too.
//
// Outcome: finish only for a successful reply. An unsuccessful one asks for a new login (pending
// action 3) only when the service's error code says "unauthenticated"; anything else is a failure
// with an error (the service's first message, or a general one), however the body reads.
//
// Threads: main thread only; fetches call back on the main run loop and keep the sharer alive.

#include <string>

#include "sharing/core/SXOAuthSharer.h"

namespace zv {

class SXReadability : public SXOAuthSharer {
 public:
  static constexpr const char* kHost = "www.readability.com";
  static constexpr const char* kUserInfoKey = "kSXReadabilityUserInfo";

  void init() override;
  std::string sharerTitle() const override { return "Readability"; }
  bool canShareURL() const override { return true; }

  bool isAuthorized() override;
  // The web login (xAuth off) has no callback address to end at: it fails at once with an alert.
  void promptAuthorization() override;
  void logout() override;
  std::optional<std::string> authorizationFormCaption() const override;
  void tokenAccessModifyRequest(OCMutableURLRequest& request) override;
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type) override;
  void shareFormSave(SXFormController& form) override;
  bool send() override;
  void sendBookmark();
  void handleUnsuccessfulTicket(const Ref<Data>& data);

  bool respondsToSelector(std::string_view selector) const override {
    return NavigationController::respondsToSelector(selector);
  }
  static void registerClass();

 private:
  Ref<URL> serviceURL(const std::string& path) const;
};

}  // namespace zv
