#include "platform/ui/TextView.h"

#include "platform/ui/TextEditing.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Keyboard.h"

namespace zv::ui {

Ref<TextView> TextView::make(const Rect& frame) { return std::make_shared<TextView>(frame); }

TextView::TextView(const Rect& frame)
    : ScrollView(frame), font_(Font::systemFontOfSize(12)), textColor_(Color::blackColor()) {}

void TextView::setText(std::optional<std::string> text) {
  text_ = text.value_or("");
  setNeedsDisplay();
}

bool TextView::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto keep = self();
  if (auto d = delegate_.lock())
    if (!d->textViewShouldBeginEditing(*this)) return false;
  if (!Responder::becomeFirstResponder()) return false;
  editing_ = true;
  textInputDidBeginEditing();
  if (auto d = delegate_.lock()) d->textViewDidBeginEditing(*this);
  return true;
}

bool TextView::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto keep = self();
  if (auto d = delegate_.lock())
    if (!d->textViewShouldEndEditing(*this)) return false;
  if (!Responder::resignFirstResponder()) return false;
  editing_ = false;
  if (auto d = delegate_.lock()) d->textViewDidEndEditing(*this);
  textInputDidEndEditing();
  return true;
}

bool TextView::replaceCharactersInRange(TextRange range, const std::string& replacement) {
  // A range the text cannot take is refused before the delegate counts it.
  if (!editing_ || !isCharacterRange(text_, range)) return false;
  auto keep = self();
  if (auto d = delegate_.lock())
    if (!d->textViewShouldChangeTextInRangeReplacementText(*this, range, replacement)) return false;
  if (!replaceUTF16Range(text_, range, replacement)) return false;
  setNeedsDisplay();
  if (auto d = delegate_.lock()) d->textViewDidChange(*this);
  NotificationCenter::defaultCenter()->postNotificationName(kTextViewTextDidChangeNotification, self());
  return true;
}

bool TextView::insertText(const std::string& text) {
  return replaceCharactersInRange({utf16Length(text_), 0}, text);
}

bool TextView::deleteBackward() {
  TextRange last = lastCharacterRange(text_);
  return last.length > 0 && replaceCharactersInRange(last, "");
}

void TextView::drawRect(BitmapContext& context, const Rect&) {
  if (text_.empty()) return;
  context.saveGState();
  context.clipToRect(Rect({0, 0}, bounds().size));
  double y = contentInset().top + font_->pointSize();
  std::size_t start = 0;
  while (start <= text_.size()) {
    auto end = text_.find('\n', start);
    std::string line = text_.substr(start, end == std::string::npos ? std::string::npos : end - start);
    context.drawText(line, {contentInset().left + 3, y}, font_->pointSize(), font_->isBold(),
                     textColor_ ? *textColor_ : *Color::blackColor());
    y += font_->lineHeight();
    if (end == std::string::npos || y > bounds().height()) break;
    start = end + 1;
  }
  context.restoreGState();
}

}  // namespace zv::ui
