#include "sharing/core/SXMail.h"

#include "platform/foundation/URL.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"

namespace zv {

namespace {

// Texts put into an HTML body are text, not markup.
std::string escapedForHTML(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string SXMail::sharerTitle() const { return SXLocalizedText("Email"); }

bool SXMail::send() {
  setQuiet(true);
  if (!validateItem()) return false;
  return sendMail();
}

std::string SXMail::composedBody() const {
  const auto& item = *this->item();
  const bool html = item.isMailHTML;
  const std::string separator = html ? "<br/><br/>" : "\n\n";
  auto text = [html](std::string_view plain) { return html ? escapedForHTML(plain) : std::string(plain); };
  std::string body;
  auto add = [&](const std::string& part) {
    if (!body.empty()) body += separator;
    body += part;
  };
  if (item.text && !item.text->empty()) add(text(*item.text));
  // The link goes in exactly as written: decoding its escapes would change where it leads.
  if (item.url) add(text(item.url->absoluteString()));
  if (item.data) {
    auto name = item.title ? item.title : item.filename;
    add(text(SXLocalizedText("Attached: %@", name)));
  }
  if (item.mailShareWithAppSignature) {
    body += separator + text(SXLocalizedText("Sent from %@", SXConfigString("appName")));
  }
  return body;
}

bool SXMail::sendMail() {
  auto composer = ui::MailComposeViewController::make();
  if (!composer) {
    SX::currentHelper()->hideCurrentViewControllerAnimated(true);
    sendDidFailWithError(SX::error(SXLocalizedText("No mail account is set up on this device.")));
    return true;
  }
  keptUntilFinished_ = selfAs<SXMail>();
  composer->setMailComposeDelegate(std::weak_ptr<ui::MailComposeViewControllerDelegate>(keptUntilFinished_));
  if (auto tint = dyn<graphics::Color>(SXConfigValue("barTintForView:", composer))) {
    composer->navigationBar()->setTintColor(tint);
  }
  const auto& item = *this->item();
  composer->setMessageBody(item.mailBody ? *item.mailBody : composedBody(), item.isMailHTML);
  if (item.data) {
    composer->addAttachmentData(item.data, item.mimeType.value_or("application/octet-stream"),
                                item.filename.value_or(item.title.value_or("Attachment")));
  }
  if (item.image) {
    if (auto jpeg = graphics::imageJPEGRepresentation(item.image, item.mailJPGQuality)) {
      composer->addAttachmentData(jpeg, "image/jpeg", "Image.jpg");
    }
  }
  if (item.hasMailToRecipients) composer->setToRecipients(item.mailToRecipients);
  composer->setSubject(item.title);
  std::weak_ptr<SXMail> weak = keptUntilFinished_;
  SX::currentHelper()->showViewController(composer, [weak] {
    if (auto mail = weak.lock()) mail->composerTakenAway();
  });
  return true;
}

void SXMail::composerTakenAway() {
  // The hub let the composer go (another screen came) before the user chose: the share ends as
  // cancelled, and the sharer no longer keeps itself.
  auto self = std::move(keptUntilFinished_);
  if (self) sendDidCancel();
}

void SXMail::mailComposeControllerDidFinishWithResultError(ui::MailComposeViewController&,
                                                           ui::MailComposeResult result, const Ref<Error>& error) {
  auto self = std::move(keptUntilFinished_);
  if (!self) return;  // already ended: the composer was taken away
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  switch (result) {
    case ui::MailComposeResult::Cancelled:
      sendDidCancel();
      break;
    case ui::MailComposeResult::Saved:
    case ui::MailComposeResult::Sent:
      sendDidFinish();
      break;
    case ui::MailComposeResult::Failed:
      sendDidFailWithError(error);
      break;
  }
}

}  // namespace zv
