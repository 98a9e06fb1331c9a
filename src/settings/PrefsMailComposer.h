#pragma once
// A prepared mail shown modally: subject, recipients and body, and a delegate told how it ended.
// The settings screens' stand-in until the user interface layer offers a mail composer; tests end
// it with simulateFinish. Whether the device can send mail is a process-wide switch (YES unless
// set). The delegate is not retained. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/ui/ViewController.h"

namespace zv {

class PrefsMailComposer;

enum class MailComposeResult { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

class PrefsMailComposeDelegate : public Protocol {
 public:
  virtual void mailComposeControllerDidFinishWithResultError(PrefsMailComposer& controller, MailComposeResult result,
                                                             const Ref<Error>& error) = 0;
};

class PrefsMailComposer : public ui::ViewController {
 public:
  static Ref<PrefsMailComposer> make() { return std::make_shared<PrefsMailComposer>(); }
  static bool canSendMail();
  static void setCanSendMail(bool can);

  std::weak_ptr<PrefsMailComposeDelegate> mailComposeDelegate() const { return delegate_; }
  void setMailComposeDelegate(std::weak_ptr<PrefsMailComposeDelegate> delegate) { delegate_ = std::move(delegate); }

  const std::optional<std::string>& subject() const { return subject_; }
  void setSubject(std::optional<std::string> subject) { subject_ = std::move(subject); }
  const std::vector<std::string>& toRecipients() const { return to_; }
  void setToRecipients(std::vector<std::string> to) { to_ = std::move(to); }
  const std::vector<std::string>& ccRecipients() const { return cc_; }
  void setCcRecipients(std::vector<std::string> cc) { cc_ = std::move(cc); }
  const std::vector<std::string>& bccRecipients() const { return bcc_; }
  void setBccRecipients(std::vector<std::string> bcc) { bcc_ = std::move(bcc); }
  const std::optional<std::string>& messageBody() const { return body_; }
  bool isBodyHTML() const { return bodyIsHTML_; }
  void setMessageBody(std::optional<std::string> body, bool isHTML) {
    body_ = std::move(body);
    bodyIsHTML_ = isHTML;
  }
  // The composer's own bar, which takes the presenting screen's look.
  Ref<ui::NavigationBar> navigationBar();

  // The user ended the composer: the delegate hears it (dismissing is the delegate's job).
  void simulateFinish(MailComposeResult result, const Ref<Error>& error = nullptr);

 private:
  std::weak_ptr<PrefsMailComposeDelegate> delegate_;
  std::optional<std::string> subject_;
  std::vector<std::string> to_, cc_, bcc_;
  std::optional<std::string> body_;
  bool bodyIsHTML_ = false;
  Ref<ui::NavigationBar> bar_;
};

}  // namespace zv
