#pragma once
// A scrolling, multi-line editable text with a delegate, edited like a text field (first
// responder, changes offered to the delegate, `insertText`/`replaceCharactersInRange`).
// The delegate is not retained. Main thread only.

#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/ui/Font.h"
#include "platform/ui/ScrollView.h"

namespace zv::ui {

class TextView;

inline constexpr const char* kTextViewTextDidChangeNotification = "TextViewTextDidChangeNotification";

class TextViewDelegate : public Protocol {
 public:
  virtual bool textViewShouldBeginEditing(TextView&) { return true; }
  virtual void textViewDidBeginEditing(TextView&) {}
  virtual bool textViewShouldEndEditing(TextView&) { return true; }
  virtual void textViewDidEndEditing(TextView&) {}
  virtual bool textViewShouldChangeTextInRangeReplacementText(TextView&, TextRange range, const std::string& text) {
    (void)range, (void)text;
    return true;
  }
  virtual void textViewDidChange(TextView&) {}
};

class TextView : public ScrollView {
 public:
  static Ref<TextView> make(const Rect& frame = {});
  explicit TextView(const Rect& frame = {});

  std::string text() const { return text_; }
  // Setting the text in code does not call the delegate.
  void setText(std::optional<std::string> text);
  bool hasText() const { return !text_.empty(); }
  const Ref<Font>& font() const { return font_; }
  void setFont(Ref<Font> font) { font_ = font ? std::move(font) : Font::systemFontOfSize(12); }
  const Ref<Color>& textColor() const { return textColor_; }
  void setTextColor(Ref<Color> color) { textColor_ = std::move(color); }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }
  KeyboardType keyboardType() const { return keyboardType_; }
  void setKeyboardType(KeyboardType type) { keyboardType_ = type; }
  ReturnKeyType returnKeyType() const { return returnKeyType_; }
  void setReturnKeyType(ReturnKeyType type) { returnKeyType_ = type; }

  std::weak_ptr<TextViewDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<TextViewDelegate> delegate) { delegate_ = std::move(delegate); }
  bool isEditing() const { return editing_; }

  bool canBecomeFirstResponder() const override { return editable_; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  bool replaceCharactersInRange(TextRange range, const std::string& replacement);
  bool insertText(const std::string& text);
  bool deleteBackward();

  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  std::string text_;
  Ref<Font> font_;
  Ref<Color> textColor_;
  TextAlignment alignment_ = TextAlignment::Left;
  bool editable_ = true;
  KeyboardType keyboardType_ = KeyboardType::Default;
  ReturnKeyType returnKeyType_ = ReturnKeyType::Default;
  std::weak_ptr<TextViewDelegate> delegate_;
  bool editing_ = false;
};

}  // namespace zv::ui
