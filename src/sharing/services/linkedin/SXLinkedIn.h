#pragma once
// The LinkedIn sharer: shares a link (with the item's title as comment) or a text as one XML
// "share" post to the people API, after an OAuth 1.0a login through the service's authorization
// page. The access-token request signs the verifier and the configured callback address. The
// comment is edited in a 700-character form.
//
// Every text in the post, the visibility code included, is escaped for XML, and every request
// goes over https. Outcome: finish; a new login (pending action 3) when the service answers with
// status 401; otherwise a failure with an error.
//
// Threads: main thread only; fetches call back on the main run loop and keep the sharer alive.

#include <string>

#include "sharing/core/SXFormControllerLargeTextField.h"
#include "sharing/core/SXOAuthSharer.h"

namespace zv {

class SXLinkedIn : public SXOAuthSharer, public SXFormControllerLargeTextFieldDelegate {
 public:
  static constexpr const char* kAPIHost = "api.linkedin.com";
  static constexpr const char* kWebHost = "www.linkedin.com";
  static constexpr std::size_t kCommentLimit = 700;

  void init() override;
  std::string sharerTitle() const override { return "LinkedIn"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }
  bool canAutoShare() const override { return false; }

  void tokenAccessModifyRequest(OCMutableURLRequest& request) override;
  void show() override;
  void showSXTextForm();
  void sendForm(SXFormControllerLargeTextField& form) override;
  void sendDidCancel() override { SXSharer::sendDidCancel(); }
  bool validateItem() override;
  bool send() override;
  void sendTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data);
  void sendTicketDidFailWithError(const Ref<OCServiceTicket>& ticket, const Ref<Error>& error);

  // Text for the share XML: "&", "<", ">", "\"" and "'" as XML entities, characters XML cannot carry
  // left out (see html::xml_stringByEscaping).
  static std::string escapeXML(const std::string& text);
  // The body of the share post for the item.
  std::string shareBody() const;

  bool respondsToSelector(std::string_view selector) const override {
    return NavigationController::respondsToSelector(selector);
  }
  static void registerClass();
};

}  // namespace zv
