#pragma once
// The text-message action: shows the platform message composer with the item's custom value
// "body", or the text and the link joined by a blank line (plain text: no HTML breaks), stores the
// body built back as "body", and reports the user's choice.
//
// Ownership: the sharer keeps itself alive from send until the composer reports, or until the hub
// lets the composer go before that (another screen came): then the share ends as cancelled.
// One outcome per send. Main thread only.
#include <string>
#include "platform/ui/Composers.h"
#include "sharing/core/SXActions.h"

namespace zv {

class SXTextMessage : public SXActionSharer, public ui::MessageComposeViewControllerDelegate {
 public:
  std::string sharerTitle() const override { return "SMS"; }
  bool canShareText() const override { return true; }
  bool canShareURL() const override { return true; }
  bool canShare() const override { return ui::MessageComposeViewController::canSendText(); }

  bool send() override;
  bool sendText();

  void messageComposeViewControllerDidFinishWithResult(ui::MessageComposeViewController& controller,
                                                       ui::MessageComposeResult result) override;
  // The hub let the composer go: cancelled, unless the user's choice was already reported.
  void composerTakenAway();
  bool respondsToSelector(std::string_view selector) const override { return SXActionSharer::respondsToSelector(selector); }

 private:
  Ref<SXTextMessage> keptUntilFinished_;
};

}  // namespace zv
