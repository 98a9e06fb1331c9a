#pragma once
// Fonts with deterministic metrics: every character (UTF-16 unit) advances half the point size
// (0.6 of it in bold), and a line is 1.2 times the point size, rounded up. Layout arithmetic on
// text is thereby exact and the same on every machine.

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/Types.h"

namespace zv::ui {

using graphics::Point;
using graphics::Rect;
using graphics::Size;

class Font : public Object {
 public:
  static Ref<Font> systemFontOfSize(double size);
  static Ref<Font> boldSystemFontOfSize(double size);
  static double systemFontSize() { return 14; }
  static double labelFontSize() { return 17; }
  static double buttonFontSize() { return 18; }

  double pointSize() const { return pointSize_; }
  bool isBold() const { return bold_; }
  std::string fontName() const { return bold_ ? "System-Bold" : "System"; }
  Ref<Font> fontWithSize(double size) const;
  // The advance of one character.
  double characterWidth() const { return pointSize_ * (bold_ ? 0.6 : 0.5); }
  double lineHeight() const;

  std::string description() const override;
  bool isEqual(const Object& other) const override;

  Font(double size, bool bold) : pointSize_(size), bold_(bold) {}

 private:
  double pointSize_;
  bool bold_;
};

// Text measurement with the fixed metrics. Without a width limit a text is one line per "\n".
Size sizeWithFont(std::string_view text, const Font& font);
// Wrapped at word boundaries (characters for CharacterWrap) to `constraint.width`, at most as many
// lines as fit in `constraint.height`; the width is that of the widest line.
Size sizeWithFont(std::string_view text, const Font& font, Size constraint, LineBreakMode mode);
// The lines a text breaks into at `width` (words kept whole where they fit, else broken by
// characters; CharacterWrap breaks anywhere). Explicit "\n" always breaks.
std::vector<std::string> wrapText(std::string_view text, const Font& font, double width, LineBreakMode mode);
// One line no wider than `width`.
Size sizeWithFont(std::string_view text, const Font& font, double width, LineBreakMode mode);
// The text shrunk until it fits `width`, no smaller than `minimumSize`; returns the size used.
double fittingFontSize(std::string_view text, const Font& font, double width, double minimumSize);

}  // namespace zv::ui
