#include "platform/ui/TextField.h"

#include "platform/ui/TextEditing.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Keyboard.h"

namespace zv::ui {

Ref<TextField> TextField::make(const Rect& frame) { return std::make_shared<TextField>(frame); }

TextField::TextField(const Rect& frame)
    : Control(frame), font_(Font::systemFontOfSize(12)), textColor_(Color::blackColor()) {}

void TextField::setText(std::optional<std::string> text) {
  text_ = text.value_or("");
  setNeedsDisplay();
}

bool TextField::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto keep = self();
  auto delegate = delegate_.lock();
  if (delegate && !delegate->textFieldShouldBeginEditing(*this)) return false;
  if (!Responder::becomeFirstResponder()) return false;
  editing_ = true;
  if (clearsOnBeginEditing_) text_.clear();
  textInputDidBeginEditing();
  sendActionsForControlEvents(ControlEventEditingDidBegin);
  if (auto d = delegate_.lock()) d->textFieldDidBeginEditing(*this);
  return true;
}

bool TextField::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto keep = self();
  auto delegate = delegate_.lock();
  if (delegate && !delegate->textFieldShouldEndEditing(*this)) return false;
  if (!Responder::resignFirstResponder()) return false;
  editing_ = false;
  if (auto d = delegate_.lock()) d->textFieldDidEndEditing(*this);
  sendActionsForControlEvents(ControlEventEditingDidEnd);
  textInputDidEndEditing();
  return true;
}

bool TextField::replaceCharactersInRange(TextRange range, const std::string& replacement) {
  // A range the text cannot take is refused before the delegate counts it.
  if (!editing_ || !isCharacterRange(text_, range)) return false;
  auto keep = self();
  if (auto d = delegate_.lock())
    if (!d->textFieldShouldChangeCharactersInRangeReplacementString(*this, range, replacement)) return false;
  if (!replaceUTF16Range(text_, range, replacement)) return false;
  setNeedsDisplay();
  sendActionsForControlEvents(ControlEventEditingChanged);
  NotificationCenter::defaultCenter()->postNotificationName(kTextFieldTextDidChangeNotification, self());
  return true;
}

bool TextField::insertText(const std::string& text) {
  return replaceCharactersInRange({utf16Length(text_), 0}, text);
}

bool TextField::deleteBackward() {
  TextRange last = lastCharacterRange(text_);
  return last.length > 0 && replaceCharactersInRange(last, "");
}

bool TextField::simulateReturn() {
  if (!editing_) return false;
  auto keep = self();
  bool answer = true;
  if (auto d = delegate_.lock()) answer = d->textFieldShouldReturn(*this);
  sendActionsForControlEvents(ControlEventEditingDidEndOnExit);
  return answer;
}

std::string TextField::displayedText() const {
  if (text_.empty()) return placeholder_.value_or("");
  if (!secure_) return text_;
  std::string bullets;
  for (std::size_t i = 0, n = utf16Length(text_); i < n; ++i) bullets += "\u2022";
  return bullets;
}

void TextField::drawRect(BitmapContext& context, const Rect&) {
  if (borderStyle_ != TextBorderStyle::None) {
    context.setStrokeColor(0.6, 0.6, 0.6);
    context.setLineWidth(1);
    context.strokeRect(Rect({0.5, 0.5}, {bounds().width() - 1, bounds().height() - 1}));
  }
  std::string shown = displayedText();
  if (shown.empty()) return;
  Ref<Color> color = text_.empty() ? Color::grayColor() : textColor_ ? textColor_ : Color::blackColor();
  double width = sizeWithFont(shown, *font_).width;
  double x = alignment_ == TextAlignment::Right ? bounds().width() - width
             : alignment_ == TextAlignment::Center ? (bounds().width() - width) / 2 : 0;
  context.saveGState();
  context.clipToRect(Rect({0, 0}, bounds().size));
  context.drawText(shown, {x, bounds().height() / 2 + font_->pointSize() * 0.35}, font_->pointSize(), font_->isBold(),
                   *color, width);
  context.restoreGState();
}

}  // namespace zv::ui
