#include "sharing/core/SXTextMessage.h"

#include "platform/foundation/URL.h"
#include "sharing/core/SX.h"

namespace zv {

bool SXTextMessage::send() {
  setQuiet(true);
  if (!validateItem()) return false;
  return sendText();
}

bool SXTextMessage::sendText() {
  auto composer = ui::MessageComposeViewController::make();
  if (!composer) {
    sendDidFailWithError(SX::error(SXLocalizedText("This device cannot send text messages.")));
    return true;
  }
  auto item = this->item();
  auto body = item->customValueForKey("body");
  if (!body) {
    // A text message is plain text: the link goes on a line of its own.
    std::string text = item->text.value_or("");
    std::string link;
    if (item->url) link = item->url->absoluteString();  // as written: decoding would change the link
    body = text.empty() ? link : link.empty() ? text : text + "\n\n" + link;
    item->setCustomValue(body, "body");
  }
  keptUntilFinished_ = selfAs<SXTextMessage>();
  composer->setMessageComposeDelegate(std::weak_ptr<ui::MessageComposeViewControllerDelegate>(keptUntilFinished_));
  composer->setBody(body);
  std::weak_ptr<SXTextMessage> weak = keptUntilFinished_;
  SX::currentHelper()->showViewController(composer, [weak] {
    if (auto message = weak.lock()) message->composerTakenAway();
  });
  return true;
}

void SXTextMessage::composerTakenAway() {
  // The hub let the composer go (another screen came) before the user chose: the share ends as
  // cancelled, and the sharer no longer keeps itself.
  auto self = std::move(keptUntilFinished_);
  if (self) sendDidCancel();
}

void SXTextMessage::messageComposeViewControllerDidFinishWithResult(ui::MessageComposeViewController&,
                                                                    ui::MessageComposeResult result) {
  auto self = std::move(keptUntilFinished_);
  if (!self) return;  // already ended: the composer was taken away
  switch (result) {
    case ui::MessageComposeResult::Cancelled:
      sendDidCancel();
      break;
    case ui::MessageComposeResult::Sent:
      sendDidFinish();
      break;
    case ui::MessageComposeResult::Failed:
      sendDidFailWithError(nullptr);
      break;
  }
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
}

}  // namespace zv
