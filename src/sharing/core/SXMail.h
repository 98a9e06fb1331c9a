#pragma once
// The e-mail action: shows the platform mail composer filled from the item (subject = title; the
// configured mail body, or text, link and "Attached: ..." joined by the separator; the data and
// the image as attachments) and reports the user's choice: cancelled, saved or sent, failed.
// With isMailHTML the inserted texts are HTML-escaped and joined by "<br/><br/>". Without a mail
// composer (no account) the send fails at once with an error.
//
// Ownership: the sharer keeps itself alive from send until the composer reports, or until the hub
// lets the composer go before that (another screen came): then the share ends as cancelled.
// One outcome per send. Main thread only.
#include <string>
#include "platform/ui/Composers.h"
#include "sharing/core/SXActions.h"

namespace zv {

class SXMail : public SXActionSharer, public ui::MailComposeViewControllerDelegate {
 public:
  std::string sharerTitle() const override;
  bool canShareText() const override { return true; }
  bool canShareURL() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShareFile() const override { return true; }
  bool canShare() const override { return ui::MailComposeViewController::canSendMail(); }

  bool send() override;
  bool sendMail();
  // The body the composer gets when the item has no configured mail body.
  std::string composedBody() const;

  void mailComposeControllerDidFinishWithResultError(ui::MailComposeViewController& controller,
                                                     ui::MailComposeResult result, const Ref<Error>& error) override;
  // The hub let the composer go: cancelled, unless the user's choice was already reported.
  void composerTakenAway();
  bool respondsToSelector(std::string_view selector) const override { return SXActionSharer::respondsToSelector(selector); }

 private:
  Ref<SXMail> keptUntilFinished_;
};

}  // namespace zv
