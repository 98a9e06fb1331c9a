#pragma once
// A read-only text: font, colours, alignment, line breaking, number of lines and shrinking to fit.
// Sizes come from the fixed-metric font model (Font.h). Main thread only.

#include <optional>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace zv::ui {

class Label : public View {
 public:
  static Ref<Label> make(const Rect& frame = {});
  explicit Label(const Rect& frame = {});

  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text);
  const Ref<Font>& font() const { return font_; }
  void setFont(Ref<Font> font);
  const Ref<Color>& textColor() const { return textColor_; }
  void setTextColor(Ref<Color> color) { textColor_ = std::move(color); }
  const Ref<Color>& highlightedTextColor() const { return highlightedTextColor_; }
  void setHighlightedTextColor(Ref<Color> color) { highlightedTextColor_ = std::move(color); }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted) { highlighted_ = highlighted; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
  LineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(LineBreakMode mode) { lineBreakMode_ = mode; }
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int lines) { numberOfLines_ = lines; }
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSizeToFitWidth_; }
  void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSizeToFitWidth_ = adjusts; }
  double minimumFontSize() const { return minimumFontSize_; }
  void setMinimumFontSize(double size) { minimumFontSize_ = size; }
  const Ref<Color>& shadowColor() const { return shadowColor_; }
  void setShadowColor(Ref<Color> color) { shadowColor_ = std::move(color); }
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size offset) { shadowOffset_ = offset; }

  // One line: the text's natural size. Several lines (0: any number): wrapped to size.width.
  Size sizeThatFits(Size size) const override;
  // The font size the text is drawn at (smaller when shrinking to fit the width).
  double effectiveFontSize() const;
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  std::optional<std::string> text_;
  Ref<Font> font_;
  Ref<Color> textColor_;
  Ref<Color> highlightedTextColor_;
  bool highlighted_ = false;
  TextAlignment alignment_ = TextAlignment::Left;
  LineBreakMode lineBreakMode_ = LineBreakMode::TruncateTail;
  int numberOfLines_ = 1;
  bool adjustsFontSizeToFitWidth_ = false;
  double minimumFontSize_ = 0;
  Ref<Color> shadowColor_;
  Size shadowOffset_{0, -1};
};

}  // namespace zv::ui
