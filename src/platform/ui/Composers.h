#pragma once
// The system's composer screens, headless: a mail composer and a message composer that record
// what the caller put in them and report the user's choice (`simulateFinish`) to their delegates;
// the print controller; and the optional tweet sheet, absent unless a test makes it available.
// Both composers are navigation controllers, as on the platform. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/graphics/Image.h"
#include "platform/ui/NavigationController.h"

namespace zv::ui {

class MailComposeViewController;
class MessageComposeViewController;

enum class MailComposeResult { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };
enum class MessageComposeResult { Cancelled = 0, Sent = 1, Failed = 2 };

class MailComposeViewControllerDelegate : public Protocol {
 public:
  virtual void mailComposeControllerDidFinishWithResultError(MailComposeViewController& controller,
                                                             MailComposeResult result, const Ref<Error>& error) = 0;
};

class MailComposeViewController : public NavigationController {
 public:
  struct Attachment {
    Ref<Data> data;
    std::string mimeType;
    std::string fileName;
  };

  // nullptr when the device cannot send mail (no account set up).
  static Ref<MailComposeViewController> make();
  static bool canSendMail();
  // Whether the device has a mail account (YES unless a test says otherwise).
  static void setCanSendMail(bool canSend);

  std::weak_ptr<MailComposeViewControllerDelegate> mailComposeDelegate() const { return delegate_; }
  void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::optional<std::string>& subject() const { return subject_; }
  void setSubject(std::optional<std::string> subject) { subject_ = std::move(subject); }
  const std::vector<std::string>& toRecipients() const { return to_; }
  void setToRecipients(std::vector<std::string> recipients) { to_ = std::move(recipients); }
  const std::vector<std::string>& ccRecipients() const { return cc_; }
  void setCcRecipients(std::vector<std::string> recipients) { cc_ = std::move(recipients); }
  const std::vector<std::string>& bccRecipients() const { return bcc_; }
  void setBccRecipients(std::vector<std::string> recipients) { bcc_ = std::move(recipients); }
  const std::optional<std::string>& messageBody() const { return body_; }
  bool isBodyHTML() const { return bodyIsHTML_; }
  void setMessageBody(std::optional<std::string> body, bool isHTML);
  void addAttachmentData(Ref<Data> data, std::string mimeType, std::string fileName);
  const std::vector<Attachment>& attachments() const { return attachments_; }

  // The user's choice: the delegate hears it (the composer does not dismiss itself).
  void simulateFinish(MailComposeResult result, const Ref<Error>& error = nullptr);

  // A process-wide hook run after every mail or message composer's viewDidDisappear (the place
  // where a caller that cannot subclass the composer learns it went away); nullptr removes it.
  static void setDidDisappearHook(std::function<void(ViewController& composer)> hook);
  void viewDidDisappear(bool animated) override;

 private:
  std::weak_ptr<MailComposeViewControllerDelegate> delegate_;
  std::optional<std::string> subject_;
  std::vector<std::string> to_, cc_, bcc_;
  std::optional<std::string> body_;
  bool bodyIsHTML_ = false;
  std::vector<Attachment> attachments_;
};

class MessageComposeViewControllerDelegate : public Protocol {
 public:
  virtual void messageComposeViewControllerDidFinishWithResult(MessageComposeViewController& controller,
                                                               MessageComposeResult result) = 0;
};

class MessageComposeViewController : public NavigationController {
 public:
  // nullptr when the device cannot send text messages.
  static Ref<MessageComposeViewController> make();
  static bool canSendText();
  static void setCanSendText(bool canSend);

  std::weak_ptr<MessageComposeViewControllerDelegate> messageComposeDelegate() const { return delegate_; }
  void setMessageComposeDelegate(std::weak_ptr<MessageComposeViewControllerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  const std::optional<std::string>& body() const { return body_; }
  void setBody(std::optional<std::string> body) { body_ = std::move(body); }
  const std::vector<std::string>& recipients() const { return recipients_; }
  void setRecipients(std::vector<std::string> recipients) { recipients_ = std::move(recipients); }
  void simulateFinish(MessageComposeResult result);
  // Runs the hook set with MailComposeViewController::setDidDisappearHook.
  void viewDidDisappear(bool animated) override;

 private:
  std::weak_ptr<MessageComposeViewControllerDelegate> delegate_;
  std::optional<std::string> body_;
  std::vector<std::string> recipients_;
};

enum class PrintInfoOutputType { General = 0, Photo = 1, Grayscale = 2 };

class PrintInfo : public Object {
 public:
  static Ref<PrintInfo> printInfo() { return std::make_shared<PrintInfo>(); }
  PrintInfoOutputType outputType() const { return outputType_; }
  void setOutputType(PrintInfoOutputType type) { outputType_ = type; }
  const std::string& jobName() const { return jobName_; }
  void setJobName(std::string name) { jobName_ = std::move(name); }

 private:
  PrintInfoOutputType outputType_ = PrintInfoOutputType::General;
  std::string jobName_;
};

class PrintInteractionController : public Object {
 public:
  using Completion = std::function<void(PrintInteractionController& controller, bool completed, const Ref<Error>& error)>;

  static Ref<PrintInteractionController> sharedPrintController();
  // Whether a printer is reachable (YES unless a test says otherwise).
  static bool isPrintingAvailable();
  static void setPrintingAvailable(bool available);

  const Ref<PrintInfo>& printInfo() const { return printInfo_; }
  void setPrintInfo(Ref<PrintInfo> info) { printInfo_ = std::move(info); }
  const ObjectPtr& printingItem() const { return printingItem_; }
  void setPrintingItem(ObjectPtr item) { printingItem_ = std::move(item); }
  bool showsPageRange() const { return showsPageRange_; }
  void setShowsPageRange(bool shows) { showsPageRange_ = shows; }

  // Shows the print options; false when printing is unavailable or they already show.
  bool presentAnimated(bool animated, Completion completion);
  bool presentFromRectInView(const Rect& rect, const Ref<View>& view, bool animated, Completion completion);
  bool isPresented() const { return presented_; }
  // Where the options were shown from (tablets).
  const Rect& presentedFromRect() const { return fromRect_; }
  // The user printed (completed) or cancelled, or printing failed with `error`.
  void simulateFinish(bool completed, const Ref<Error>& error = nullptr);
  void reset();

 private:
  Ref<PrintInfo> printInfo_;
  ObjectPtr printingItem_;
  bool showsPageRange_ = false;
  bool presented_ = false;
  Rect fromRect_;
  Completion completion_;
};

enum class TweetComposeResult { Cancelled = 0, Done = 1 };

// The system tweet sheet. The class is absent (isAvailable NO, make nullptr) unless a test
// installs it. Text, images and links must fit 140 characters together: a link takes 21 and an
// image 21; setInitialText refuses a text that would not fit.
class TweetComposeViewController : public ViewController {
 public:
  static bool isAvailable();
  static void setAvailable(bool available);
  static bool canSendTweet();
  static void setCanSendTweet(bool canSend);
  static Ref<TweetComposeViewController> make();

  bool setInitialText(const std::string& text);
  bool addImage(const Ref<graphics::Image>& image);
  bool addURL(const Ref<URL>& url);
  void removeAllImages() { images_.clear(); }
  void removeAllURLs() { urls_.clear(); }
  const std::string& initialText() const { return text_; }
  const std::vector<Ref<graphics::Image>>& images() const { return images_; }
  const std::vector<Ref<URL>>& urls() const { return urls_; }
  void setCompletionHandler(std::function<void(TweetComposeResult)> handler) { completion_ = std::move(handler); }
  void simulateFinish(TweetComposeResult result);

 private:
  std::size_t usedLength(std::size_t textLength) const;
  std::string text_;
  std::vector<Ref<graphics::Image>> images_;
  std::vector<Ref<URL>> urls_;
  std::function<void(TweetComposeResult)> completion_;
};

}  // namespace zv::ui
