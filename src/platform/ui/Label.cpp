#include "platform/ui/Label.h"

#include <algorithm>
#include <cmath>

namespace zv::ui {

Ref<Label> Label::make(const Rect& frame) { return std::make_shared<Label>(frame); }

Label::Label(const Rect& frame)
    : View(frame), font_(Font::systemFontOfSize(Font::labelFontSize())), textColor_(Color::blackColor()) {
  setUserInteractionEnabled(false);
}

void Label::setText(std::optional<std::string> text) {
  text_ = std::move(text);
  setNeedsDisplay();
}

void Label::setFont(Ref<Font> font) {
  font_ = font ? std::move(font) : Font::systemFontOfSize(Font::labelFontSize());
  setNeedsDisplay();
}

Size Label::sizeThatFits(Size size) const {
  if (!text_ || text_->empty()) return {0, 0};
  if (numberOfLines_ == 1) return sizeWithFont(*text_, *font_);
  double maxHeight = numberOfLines_ > 0 ? numberOfLines_ * font_->lineHeight() : 1e9;
  double width = size.width > 0 ? size.width : 1e9;
  return sizeWithFont(*text_, *font_, Size{width, maxHeight}, LineBreakMode::WordWrap);
}

double Label::effectiveFontSize() const {
  if (!text_ || !adjustsFontSizeToFitWidth_ || numberOfLines_ != 1) return font_->pointSize();
  return fittingFontSize(*text_, *font_, bounds().width(), minimumFontSize_);
}

void Label::drawRect(BitmapContext& context, const Rect&) {
  if (!text_ || text_->empty()) return;
  auto font = font_->fontWithSize(effectiveFontSize());
  Ref<Color> color = highlighted_ && highlightedTextColor_ ? highlightedTextColor_ : textColor_;
  if (!color) color = Color::blackColor();
  std::vector<std::string> lines;
  if (numberOfLines_ == 1) {
    lines.push_back(text_->substr(0, text_->find('\n')));
  } else {
    lines = wrapText(*text_, *font, bounds().width(), LineBreakMode::WordWrap);
    if (numberOfLines_ > 0 && lines.size() > static_cast<std::size_t>(numberOfLines_)) lines.resize(numberOfLines_);
  }
  double lineHeight = font->lineHeight();
  double total = std::min(lines.size() * lineHeight, bounds().height());
  double y = (bounds().height() - total) / 2 + lineHeight * 0.8;
  context.saveGState();
  context.clipToRect(Rect({0, 0}, bounds().size));
  for (const auto& line : lines) {
    double width = sizeWithFont(line, *font).width;
    double shown = std::min(width, bounds().width());
    double x = alignment_ == TextAlignment::Center  ? (bounds().width() - shown) / 2
               : alignment_ == TextAlignment::Right ? bounds().width() - shown
                                                    : 0;
    context.drawText(line, {x, y}, font->pointSize(), font->isBold(), *color, width);
    y += lineHeight;
  }
  context.restoreGState();
}

}  // namespace zv::ui
