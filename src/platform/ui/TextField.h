#pragma once
// A one-line editable text with a delegate. Editing starts when the field becomes first
// responder (the delegate may refuse), every change is offered to the delegate first and then
// sends editing-changed, and return asks the delegate. Tests type with `insertText`,
// `replaceCharactersInRange` and `deleteBackward`, and press return with `simulateReturn`.
//
// Delegate calls, in the platform's order: textFieldShouldBeginEditing, (editing-did-begin
// event), textFieldDidBeginEditing; per change textFieldShouldChangeCharactersInRangeReplacementString,
// then the editing-changed event; textFieldShouldReturn; textFieldShouldEndEditing,
// textFieldDidEndEditing, (editing-did-end event). The delegate is not retained. Main thread only.

#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/ui/Control.h"
#include "platform/ui/Font.h"

namespace zv::ui {

class TextField;

inline constexpr const char* kTextFieldTextDidChangeNotification = "TextFieldTextDidChangeNotification";

class TextFieldDelegate : public Protocol {
 public:
  virtual bool textFieldShouldBeginEditing(TextField&) { return true; }
  virtual void textFieldDidBeginEditing(TextField&) {}
  virtual bool textFieldShouldEndEditing(TextField&) { return true; }
  virtual void textFieldDidEndEditing(TextField&) {}
  virtual bool textFieldShouldChangeCharactersInRangeReplacementString(TextField&, TextRange range,
                                                                       const std::string& replacement) {
    (void)range, (void)replacement;
    return true;
  }
  virtual bool textFieldShouldClear(TextField&) { return true; }
  virtual bool textFieldShouldReturn(TextField&) { return true; }
};

class TextField : public Control {
 public:
  static Ref<TextField> make(const Rect& frame = {});
  explicit TextField(const Rect& frame = {});

  // The text; the empty string when none.
  std::string text() const { return text_; }
  void setText(std::optional<std::string> text);
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> placeholder) { placeholder_ = std::move(placeholder); }
  const Ref<Font>& font() const { return font_; }
  void setFont(Ref<Font> font) { font_ = font ? std::move(font) : Font::systemFontOfSize(12); }
  const Ref<Color>& textColor() const { return textColor_; }
  void setTextColor(Ref<Color> color) { textColor_ = std::move(color); }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
  TextBorderStyle borderStyle() const { return borderStyle_; }
  void setBorderStyle(TextBorderStyle style) { borderStyle_ = style; }
  bool clearsOnBeginEditing() const { return clearsOnBeginEditing_; }
  void setClearsOnBeginEditing(bool clears) { clearsOnBeginEditing_ = clears; }
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSizeToFitWidth_; }
  void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSizeToFitWidth_ = adjusts; }
  double minimumFontSize() const { return minimumFontSize_; }
  void setMinimumFontSize(double size) { minimumFontSize_ = size; }

  // Keyboard traits.
  bool isSecureTextEntry() const { return secure_; }
  void setSecureTextEntry(bool secure) { secure_ = secure; }
  KeyboardType keyboardType() const { return keyboardType_; }
  void setKeyboardType(KeyboardType type) { keyboardType_ = type; }
  TextAutocapitalizationType autocapitalizationType() const { return autocapitalization_; }
  void setAutocapitalizationType(TextAutocapitalizationType type) { autocapitalization_ = type; }
  TextAutocorrectionType autocorrectionType() const { return autocorrection_; }
  void setAutocorrectionType(TextAutocorrectionType type) { autocorrection_ = type; }
  ReturnKeyType returnKeyType() const { return returnKeyType_; }
  void setReturnKeyType(ReturnKeyType type) { returnKeyType_ = type; }

  std::weak_ptr<TextFieldDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<TextFieldDelegate> delegate) { delegate_ = std::move(delegate); }
  bool isEditing() const { return editing_; }

  bool canBecomeFirstResponder() const override { return isEnabled(); }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;

  // Typing while editing; each returns whether the delegate let the change happen.
  bool replaceCharactersInRange(TextRange range, const std::string& replacement);
  bool insertText(const std::string& text);
  bool deleteBackward();
  // The return key: asks the delegate and sends editing-did-end-on-exit. Returns its answer.
  bool simulateReturn();

  // The text as drawn: bullets for secure entry, else the text or the placeholder.
  std::string displayedText() const;
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  std::string text_;
  std::optional<std::string> placeholder_;
  Ref<Font> font_;
  Ref<Color> textColor_;
  TextAlignment alignment_ = TextAlignment::Left;
  TextBorderStyle borderStyle_ = TextBorderStyle::None;
  bool clearsOnBeginEditing_ = false;
  bool adjustsFontSizeToFitWidth_ = false;
  double minimumFontSize_ = 0;
  bool secure_ = false;
  KeyboardType keyboardType_ = KeyboardType::Default;
  TextAutocapitalizationType autocapitalization_ = TextAutocapitalizationType::None;
  TextAutocorrectionType autocorrection_ = TextAutocorrectionType::Default;
  ReturnKeyType returnKeyType_ = ReturnKeyType::Default;
  std::weak_ptr<TextFieldDelegate> delegate_;
  bool editing_ = false;
};

}  // namespace zv::ui
