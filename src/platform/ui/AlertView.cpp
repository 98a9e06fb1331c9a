#include "platform/ui/AlertView.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace zv::ui {

namespace {
std::vector<Ref<ButtonPanel>>& shownPanels() {
  static std::vector<Ref<ButtonPanel>> panels;
  return panels;
}
constexpr double kPanelWidth = 284;
}  // namespace

// ---- ButtonPanel ----

long ButtonPanel::addButtonWithTitle(std::string title) {
  buttons_.push_back(std::move(title));
  return static_cast<long>(buttons_.size()) - 1;
}

std::optional<std::string> ButtonPanel::buttonTitleAtIndex(long index) const {
  if (index < 0 || index >= numberOfButtons()) return std::nullopt;
  return buttons_[static_cast<std::size_t>(index)];
}

long ButtonPanel::firstOtherButtonIndex() const {
  for (long i = 0; i < numberOfButtons(); ++i)
    if (i != cancelButtonIndex_ && i != destructiveButtonIndex_) return i;
  return -1;
}

Ref<Button> ButtonPanel::buttonAtIndex(long index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= buttonViews_.size()) return nullptr;
  return buttonViews_[static_cast<std::size_t>(index)];
}

std::vector<Ref<ButtonPanel>> ButtonPanel::visiblePanels() { return shownPanels(); }

void ButtonPanel::forgetVisiblePanels() {
  std::vector<Ref<ButtonPanel>> panels;
  panels.swap(shownPanels());
  for (const auto& panel : panels) {
    panel->visible_ = false;
    panel->removeFromSuperview();
  }
}

void ButtonPanel::build() {
  for (const auto& subview : std::vector<Ref<View>>(subviews())) subview->removeFromSuperview();
  buttonViews_.clear();
  double y = 10;
  if (title_) {
    auto label = Label::make(Rect(12, y, kPanelWidth - 24, 22));
    label->setFont(Font::boldSystemFontOfSize(18));
    label->setTextColor(Color::whiteColor());
    label->setTextAlignment(TextAlignment::Center);
    label->setText(title_);
    label->setTag(1);
    addSubview(label);
    y += 27;
  }
  buildContent(y);
  std::weak_ptr<ButtonPanel> weak = selfAs<ButtonPanel>();
  bool sideBySide = buttons_.size() == 2 && dynamic_cast<AlertView*>(this);
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    auto button = Button::buttonWithType(ButtonType::RoundedRect);
    button->setTitle(buttons_[i], ControlStateNormal);
    button->setTag(100 + static_cast<int>(i));
    if (sideBySide)
      button->setFrame(Rect(11 + i * 135.0, y, 127, 43));
    else
      button->setFrame(Rect(11, y + i * 51.0, kPanelWidth - 22, 43));
    long index = static_cast<long>(i);
    button->addAction(ControlEventTouchUpInside, [weak, index](Control&) {
      if (auto panel = weak.lock()) panel->simulateTapButtonAtIndex(index);
    });
    addSubview(button);
    buttonViews_.push_back(button);
  }
  y += sideBySide ? 51 : 51.0 * buttons_.size();
  auto screen = Screen::mainScreen()->bounds();
  setFrame(Rect((screen.width() - kPanelWidth) / 2, std::max(0.0, (screen.height() - y) / 2), kPanelWidth, y + 5));
  setBackgroundColor(Color::make(0.1, 0.16, 0.35, 0.9));
  setCornerRadius(8);
}

void ButtonPanel::presentIn(const Ref<View>& host) {
  if (visible_) return;
  auto self = selfAs<ButtonPanel>();
  willPresent();
  build();
  Ref<View> parent = host;
  if (!parent) parent = Application::sharedApplication()->keyWindow();
  if (parent) {
    while (auto up = parent->superview()) parent = up;
    parent->addSubview(self);
  }
  visible_ = true;
  shownPanels().push_back(self);
  didPresent();
}

void ButtonPanel::simulateTapButtonAtIndex(long index) {
  if (!visible_ || index < 0 || index >= numberOfButtons()) return;
  if (auto button = buttonAtIndex(index); button && !button->isEnabled()) return;
  auto keep = self();
  clicked(index);
  dismissWithClickedButtonIndex(index, true);
}

void ButtonPanel::dismissWithClickedButtonIndex(long index, bool) {
  if (!visible_) return;
  auto keep = selfAs<ButtonPanel>();
  willDismiss(index);
  visible_ = false;
  removeFromSuperview();
  auto& panels = shownPanels();
  panels.erase(std::remove(panels.begin(), panels.end(), keep), panels.end());
  didDismiss(index);
}

// ---- AlertView ----

AlertView::AlertView() = default;

Ref<AlertView> AlertView::make(std::optional<std::string> title, std::optional<std::string> message,
                               std::weak_ptr<AlertViewDelegate> delegate, std::optional<std::string> cancelButtonTitle,
                               std::vector<std::string> otherButtonTitles) {
  auto alert = std::make_shared<AlertView>();
  alert->setTitle(std::move(title));
  alert->message_ = std::move(message);
  alert->delegate_ = std::move(delegate);
  if (cancelButtonTitle) alert->setCancelButtonIndex(alert->addButtonWithTitle(*cancelButtonTitle));
  for (auto& other : otherButtonTitles) alert->addButtonWithTitle(std::move(other));
  return alert;
}

void AlertView::setAlertViewStyle(AlertViewStyle style) {
  style_ = style;
  fields_.clear();
  auto addField = [&](bool secure, const char* placeholder) {
    auto field = TextField::make(Rect(16, 0, kPanelWidth - 32, 29));
    field->setSecureTextEntry(secure);
    field->setBorderStyle(TextBorderStyle::Line);
    field->setBackgroundColor(Color::whiteColor());
    if (placeholder) field->setPlaceholder(placeholder);
    fields_.push_back(field);
  };
  switch (style) {
    case AlertViewStyle::Default:
      break;
    case AlertViewStyle::SecureTextInput:
      addField(true, nullptr);
      break;
    case AlertViewStyle::PlainTextInput:
      addField(false, nullptr);
      break;
    case AlertViewStyle::LoginAndPasswordInput:
      addField(false, "Login");
      addField(true, "Password");
      break;
  }
}

Ref<TextField> AlertView::textFieldAtIndex(long index) {
  if (index < 0 || static_cast<std::size_t>(index) >= fields_.size())
    Exception::raise(kRangeException, format("textFieldIndex (%ld) is outside of the bounds of the array of text fields",
                                             index));
  return fields_[static_cast<std::size_t>(index)];
}

void AlertView::show() { presentIn(nullptr); }

void AlertView::buildContent(double& y) {
  if (message_) {
    auto font = Font::systemFontOfSize(16);
    double height = sizeWithFont(*message_, *font, Size{kPanelWidth - 24, 1e9}, LineBreakMode::WordWrap).height;
    auto label = Label::make(Rect(12, y, kPanelWidth - 24, height));
    label->setFont(font);
    label->setNumberOfLines(0);
    label->setTextColor(Color::whiteColor());
    label->setTextAlignment(TextAlignment::Center);
    label->setText(message_);
    label->setTag(2);
    addSubview(label);
    y += height + 8;
  }
  std::weak_ptr<AlertView> weak = selfAs<AlertView>();
  for (const auto& field : fields_) {
    Rect f = field->frame();
    field->setFrame(Rect(f.x(), y, f.width(), f.height()));
    field->removeActionsForControlEvents(ControlEventEditingChanged);
    field->addAction(ControlEventEditingChanged, [weak](Control&) {
      if (auto alert = weak.lock()) alert->updateFirstOtherButton();
    });
    addSubview(field);
    y += f.height() + 6;
  }
  y += 4;
}

void AlertView::updateFirstOtherButton() {
  auto button = buttonAtIndex(firstOtherButtonIndex());
  auto delegate = delegate_.lock();
  if (button && delegate) button->setEnabled(delegate->alertViewShouldEnableFirstOtherButton(*this));
}

void AlertView::simulateSystemCancel() {
  if (!isVisible()) return;
  auto delegate = delegate_.lock();
  if (delegate && delegate->respondsToSelector("alertViewCancel"))
    delegate->alertViewCancel(*this);
  else
    dismissWithClickedButtonIndex(cancelButtonIndex(), false);
}

void AlertView::willPresent() {
  if (auto d = delegate_.lock()) d->willPresentAlertView(*this);
}
void AlertView::didPresent() {
  updateFirstOtherButton();
  if (!fields_.empty()) fields_.front()->becomeFirstResponder();
  if (auto d = delegate_.lock()) d->didPresentAlertView(*this);
}
void AlertView::clicked(long index) {
  if (auto d = delegate_.lock()) d->alertViewClickedButtonAtIndex(*this, index);
}
void AlertView::willDismiss(long index) {
  for (const auto& field : fields_) field->resignFirstResponder();
  if (auto d = delegate_.lock()) d->alertViewWillDismissWithButtonIndex(*this, index);
}
void AlertView::didDismiss(long index) {
  if (auto d = delegate_.lock()) d->alertViewDidDismissWithButtonIndex(*this, index);
}

// ---- ActionSheet ----

ActionSheet::ActionSheet() = default;

Ref<ActionSheet> ActionSheet::make(std::optional<std::string> title, std::weak_ptr<ActionSheetDelegate> delegate,
                                   std::optional<std::string> cancelButtonTitle,
                                   std::optional<std::string> destructiveButtonTitle,
                                   std::vector<std::string> otherButtonTitles) {
  auto sheet = std::make_shared<ActionSheet>();
  sheet->setTitle(std::move(title));
  sheet->delegate_ = std::move(delegate);
  if (destructiveButtonTitle) sheet->destructiveButtonIndex_ = sheet->addButtonWithTitle(*destructiveButtonTitle);
  for (auto& other : otherButtonTitles) sheet->addButtonWithTitle(std::move(other));
  if (cancelButtonTitle) sheet->setCancelButtonIndex(sheet->addButtonWithTitle(*cancelButtonTitle));
  return sheet;
}

void ActionSheet::showInView(const Ref<View>& view) {
  shownIn_ = view;
  presentIn(view);
}

void ActionSheet::showFromBarButtonItem(const Ref<BarButtonItem>&, bool) { presentIn(nullptr); }

void ActionSheet::willPresent() {
  if (auto d = delegate_.lock()) d->willPresentActionSheet(*this);
}
void ActionSheet::didPresent() {
  if (auto d = delegate_.lock()) d->didPresentActionSheet(*this);
}
void ActionSheet::clicked(long index) {
  if (auto d = delegate_.lock()) d->actionSheetClickedButtonAtIndex(*this, index);
}
void ActionSheet::willDismiss(long index) {
  if (auto d = delegate_.lock()) d->actionSheetWillDismissWithButtonIndex(*this, index);
}
void ActionSheet::didDismiss(long index) {
  if (auto d = delegate_.lock()) d->actionSheetDidDismissWithButtonIndex(*this, index);
}

}  // namespace zv::ui
