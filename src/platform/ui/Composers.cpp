#include "platform/ui/Composers.h"

#include "platform/foundation/String.h"

namespace zv::ui {

namespace {
bool canSendMailFlag = true;
bool canSendTextFlag = true;
bool printingAvailableFlag = true;
bool tweetSheetAvailable = false;
bool canSendTweetFlag = true;
constexpr std::size_t kTweetLimit = 140;
constexpr std::size_t kTweetAttachmentLength = 21;
}  // namespace

static std::function<void(ViewController&)>& disappearHook() {
  static std::function<void(ViewController&)> hook;
  return hook;
}

void MailComposeViewController::setDidDisappearHook(std::function<void(ViewController&)> hook) {
  disappearHook() = std::move(hook);
}

void MailComposeViewController::viewDidDisappear(bool animated) {
  NavigationController::viewDidDisappear(animated);
  if (auto hook = disappearHook()) hook(*this);
}

void MessageComposeViewController::viewDidDisappear(bool animated) {
  NavigationController::viewDidDisappear(animated);
  if (auto hook = disappearHook()) hook(*this);
}

Ref<MailComposeViewController> MailComposeViewController::make() {
  if (!canSendMailFlag) return nullptr;
  auto composer = std::make_shared<MailComposeViewController>();
  composer->pushViewController(std::make_shared<ViewController>(), false);
  return composer;
}

bool MailComposeViewController::canSendMail() { return canSendMailFlag; }
void MailComposeViewController::setCanSendMail(bool canSend) { canSendMailFlag = canSend; }

void MailComposeViewController::setMessageBody(std::optional<std::string> body, bool isHTML) {
  body_ = std::move(body);
  bodyIsHTML_ = isHTML;
}

void MailComposeViewController::addAttachmentData(Ref<Data> data, std::string mimeType, std::string fileName) {
  if (!data) return;
  attachments_.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
}

void MailComposeViewController::simulateFinish(MailComposeResult result, const Ref<Error>& error) {
  auto keep = self();
  if (auto d = delegate_.lock()) d->mailComposeControllerDidFinishWithResultError(*this, result, error);
}

Ref<MessageComposeViewController> MessageComposeViewController::make() {
  if (!canSendTextFlag) return nullptr;
  auto composer = std::make_shared<MessageComposeViewController>();
  composer->pushViewController(std::make_shared<ViewController>(), false);
  return composer;
}

bool MessageComposeViewController::canSendText() { return canSendTextFlag; }
void MessageComposeViewController::setCanSendText(bool canSend) { canSendTextFlag = canSend; }

void MessageComposeViewController::simulateFinish(MessageComposeResult result) {
  auto keep = self();
  if (auto d = delegate_.lock()) d->messageComposeViewControllerDidFinishWithResult(*this, result);
}

Ref<PrintInteractionController> PrintInteractionController::sharedPrintController() {
  static Ref<PrintInteractionController> shared = std::make_shared<PrintInteractionController>();
  return shared;
}

bool PrintInteractionController::isPrintingAvailable() { return printingAvailableFlag; }
void PrintInteractionController::setPrintingAvailable(bool available) { printingAvailableFlag = available; }

bool PrintInteractionController::presentAnimated(bool, Completion completion) {
  if (!printingAvailableFlag || presented_) return false;
  presented_ = true;
  fromRect_ = {};
  completion_ = std::move(completion);
  return true;
}

bool PrintInteractionController::presentFromRectInView(const Rect& rect, const Ref<View>&, bool animated,
                                                       Completion completion) {
  if (!presentAnimated(animated, std::move(completion))) return false;
  fromRect_ = rect;
  return true;
}

void PrintInteractionController::simulateFinish(bool completed, const Ref<Error>& error) {
  if (!presented_) return;
  presented_ = false;
  auto completion = std::move(completion_);
  completion_ = nullptr;
  auto keep = self();
  if (completion) completion(*this, completed, error);
}

void PrintInteractionController::reset() {
  printInfo_ = nullptr;
  printingItem_ = nullptr;
  showsPageRange_ = false;
  presented_ = false;
  completion_ = nullptr;
}

bool TweetComposeViewController::isAvailable() { return tweetSheetAvailable; }
void TweetComposeViewController::setAvailable(bool available) { tweetSheetAvailable = available; }
bool TweetComposeViewController::canSendTweet() { return tweetSheetAvailable && canSendTweetFlag; }
void TweetComposeViewController::setCanSendTweet(bool canSend) { canSendTweetFlag = canSend; }

Ref<TweetComposeViewController> TweetComposeViewController::make() {
  if (!tweetSheetAvailable) return nullptr;
  return std::make_shared<TweetComposeViewController>();
}

std::size_t TweetComposeViewController::usedLength(std::size_t textLength) const {
  return textLength + kTweetAttachmentLength * (images_.size() + urls_.size());
}

bool TweetComposeViewController::setInitialText(const std::string& text) {
  if (usedLength(String::make(text)->length()) > kTweetLimit) return false;
  text_ = text;
  return true;
}

bool TweetComposeViewController::addImage(const Ref<graphics::Image>& image) {
  if (!image || usedLength(String::make(text_)->length()) + kTweetAttachmentLength > kTweetLimit) return false;
  images_.push_back(image);
  return true;
}

bool TweetComposeViewController::addURL(const Ref<URL>& url) {
  if (!url || usedLength(String::make(text_)->length()) + kTweetAttachmentLength > kTweetLimit) return false;
  urls_.push_back(url);
  return true;
}

void TweetComposeViewController::simulateFinish(TweetComposeResult result) {
  auto keep = self();
  if (completion_) completion_(result);
}

}  // namespace zv::ui
