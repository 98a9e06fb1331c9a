#include "sharing/core/SXFormControllerLargeTextField.h"

#include "platform/foundation/Values.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GeometryValue.h"
#include "platform/system/Notification.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Font.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "sharing/core/SX.h"

namespace zv {

namespace {

const ui::EdgeInsets kTextInsets{5, 5, 5, 0};
const ui::EdgeInsets kTextInsetsWithCounter{5, 5, 32, 0};

}  // namespace

SXFormControllerLargeTextField::SXFormControllerLargeTextField(
    std::weak_ptr<SXFormControllerLargeTextFieldDelegate> delegate)
    : delegate_(std::move(delegate)) {}

void SXFormControllerLargeTextField::loadView() {
  auto root = ui::View::make(ui::Screen::mainScreen()->applicationFrame());
  root->setBackgroundColor(graphics::Color::whiteColor());
  textView_ = ui::TextView::make(root->bounds());
  textView_->setDelegate(std::dynamic_pointer_cast<ui::TextViewDelegate>(self()));
  textView_->setFont(ui::Font::systemFontOfSize(15));
  textView_->setContentInset(kTextInsets);
  textView_->setBackgroundColor(graphics::Color::whiteColor());
  textView_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
  root->addSubview(textView_);
  setView(root);
}

void SXFormControllerLargeTextField::viewWillAppear(bool animated) {
  ViewController::viewWillAppear(animated);
  textView_->setText(text_);
  setupBarButtonItems();
  updateCounter();
}

void SXFormControllerLargeTextField::setupBarButtonItems() {
  std::weak_ptr<SXFormControllerLargeTextField> weak = selfAs<SXFormControllerLargeTextField>();
  navigationItem()->setLeftBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
        if (auto me = weak.lock()) me->cancel();
      }));
  auto delegate = delegate_.lock();
  const std::string title = SXLocalizedText("Send to %@", delegate ? delegate->sharerTitle() : std::string());
  navigationItem()->setRightBarButtonItem(
      ui::BarButtonItem::withTitle(title, ui::BarButtonItemStyle::Done, [weak](ui::BarButtonItem&) {
        if (auto me = weak.lock()) me->save();
      }));
}

void SXFormControllerLargeTextField::viewDidAppear(bool animated) {
  ViewController::viewDidAppear(animated);
  std::weak_ptr<SXFormControllerLargeTextField> weak = selfAs<SXFormControllerLargeTextField>();
  keyboardObserver_ = NotificationCenter::defaultCenter()->addObserverForName(
      ui::kKeyboardWillShowNotification, nullptr, [weak](const Ref<Notification>& notification) {
        if (auto me = weak.lock()) me->keyboardWillShow(notification);
      });
  textView_->becomeFirstResponder();
}

void SXFormControllerLargeTextField::viewDidDisappear(bool animated) {
  ViewController::viewDidDisappear(animated);
  if (keyboardObserver_) NotificationCenter::defaultCenter()->removeObserver(keyboardObserver_);
  keyboardObserver_.reset();
  if (shareIsCancelled_) SX::currentHelper()->viewWasDismissed();
}

void SXFormControllerLargeTextField::keyboardWillShow(const Ref<Notification>& notification) {
  auto info = notification ? notification->userInfo() : nullptr;
  auto value = info ? dyn<graphics::RectValue>(info->objectForKey(ui::kKeyboardFrameEndUserInfoKey)) : nullptr;
  if (!value) return;
  auto application = ui::Application::sharedApplication();
  const auto orientation = application->statusBarOrientation();
  const bool landscape = !ui::isPortrait(orientation);
  const bool flipped = orientation == ui::InterfaceOrientation::PortraitUpsideDown ||
                       orientation == ui::InterfaceOrientation::LandscapeRight;
  const auto keyboard = value->rect();
  const double K = landscape ? keyboard.size.width : keyboard.size.height;
  const auto frame = ui::Screen::mainScreen()->applicationFrame();
  const double A = landscape ? frame.size.width : frame.size.height;
  const auto origin = view()->convertPointToView({0, 0}, nullptr);
  const double P = landscape ? origin.x : origin.y;
  const double H = view()->bounds().size.height;
  const double S = application->isStatusBarHidden() || flipped ? 0 : 20;
  const double height = A - ((flipped ? A - P : P) + H) + S + (H - K);
  textView_->setFrame(ui::Rect(0, 0, view()->bounds().size.width, height));
  layoutCounter();
}

bool SXFormControllerLargeTextField::shouldShowCounter() const {
  return maxTextLength_ > 0 || image_ != nullptr || hasLink_;
}

void SXFormControllerLargeTextField::ifNoTextDisableSendButton() {
  if (auto send = navigationItem()->rightBarButtonItem()) send->setEnabled(textView_ && textView_->hasText());
}

void SXFormControllerLargeTextField::updateCounter() {
  ifNoTextDisableSendButton();
  if (!shouldShowCounter() || !textView_) return;
  if (!counter_) {
    counter_ = ui::Label::make();
    counter_->setBackgroundColor(graphics::Color::clearColor());
    counter_->setFont(ui::Font::boldSystemFontOfSize(14));
    counter_->setTextAlignment(ui::TextAlignment::Right);
    counter_->setAutoresizingMask(ui::ViewAutoresizingFlexibleLeftMargin | ui::ViewAutoresizingFlexibleTopMargin);
    view()->addSubview(counter_);
  }
  layoutCounter();

  long long remaining = 0;
  if (maxTextLength_ > 0) {
    remaining = static_cast<long long>(maxTextLength_) - static_cast<long long>(String::make(textView_->text())->length());
    if (image_) remaining -= static_cast<long long>(imageTextLength_);
  }
  std::string label;
  if (image_) label = SXLocalizedText("Image %@ ", std::string(remaining >= 1 ? "+" : ""));
  if (maxTextLength_ > 0) label += std::to_string(remaining);
  counter_->setText(label);
  auto send = navigationItem()->rightBarButtonItem();
  if (remaining < 0) {
    counter_->setTextColor(graphics::Color::redColor());
    if (send) send->setEnabled(false);
  } else {
    counter_->setTextColor(graphics::Color::blackColor());
    if (send && textView_->hasText()) send->setEnabled(true);
  }
}

void SXFormControllerLargeTextField::layoutCounter() {
  if (!shouldShowCounter() || !counter_ || !textView_) return;
  const auto size = textView_->bounds().size;
  counter_->setFrame(ui::Rect(size.width - 165, size.height - 24, 150, 15));
  textView_->setContentInset(kTextInsetsWithCounter);
}

void SXFormControllerLargeTextField::cancel() {
  finished_ = true;
  auto keepAlive = self();
  shareIsCancelled_ = true;
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  if (auto delegate = delegate_.lock()) delegate->sendDidCancel();
}

void SXFormControllerLargeTextField::save() {
  finished_ = true;
  auto keepAlive = self();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  if (auto delegate = delegate_.lock()) delegate->sendForm(*this);
}

void SXFormControllerLargeTextField::shareScreenTakenAway() {
  if (finished_) return;
  finished_ = true;
  auto keepAlive = self();
  shareIsCancelled_ = true;
  if (auto delegate = delegate_.lock()) delegate->sendDidCancel();
}

}  // namespace zv
