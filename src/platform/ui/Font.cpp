#include "platform/ui/Font.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/foundation/String.h"
#include "platform/foundation/Unicode.h"

namespace zv::ui {

namespace {

std::size_t units(std::string_view text) { return String::make(text)->length(); }

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (true) {
    auto end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

// Breaks one paragraph into lines of at most maxChars UTF-16 units. The paragraph is converted
// once and each line is cut from that copy, so the work grows with the text, not with the text
// times its lines.
void wrap(std::string_view paragraph, std::size_t maxChars, bool byWord, std::vector<std::string>& out) {
  if (maxChars == 0) maxChars = 1;
  const std::string text = unicode::sanitizeUTF8(paragraph);
  const std::u16string units = unicode::toUTF16(text);
  const std::size_t length = units.size();
  auto piece = [&](std::size_t from, std::size_t count) {
    return unicode::fromUTF16(std::u16string_view(units).substr(from, count));
  };
  if (length <= maxChars) {
    out.push_back(text);
    return;
  }
  if (!byWord) {
    for (std::size_t done = 0; done < length; done += maxChars) out.push_back(piece(done, std::min(maxChars, length - done)));
    return;
  }
  std::size_t lineStart = 0;
  while (lineStart < length) {
    if (length - lineStart <= maxChars) {
      out.push_back(piece(lineStart, length - lineStart));
      break;
    }
    // The last blank within reach ends the line; without one the word is broken.
    std::size_t cut = std::u16string::npos;
    for (std::size_t i = lineStart + maxChars; i > lineStart; --i)
      if (units[i] == u' ') {
        cut = i;
        break;
      }
    if (cut == std::u16string::npos) {
      out.push_back(piece(lineStart, maxChars));
      lineStart += maxChars;
    } else {
      out.push_back(piece(lineStart, cut - lineStart));
      lineStart = cut + 1;
    }
  }
}

}  // namespace

Ref<Font> Font::systemFontOfSize(double size) { return std::make_shared<Font>(size, false); }
Ref<Font> Font::boldSystemFontOfSize(double size) { return std::make_shared<Font>(size, true); }
Ref<Font> Font::fontWithSize(double size) const { return std::make_shared<Font>(size, bold_); }
double Font::lineHeight() const { return std::ceil(pointSize_ * 1.2); }

std::string Font::description() const { return format("<Font %s %g>", fontName().c_str(), pointSize_); }

bool Font::isEqual(const Object& other) const {
  auto* f = dynamic_cast<const Font*>(&other);
  return f && f->pointSize_ == pointSize_ && f->bold_ == bold_;
}

Size sizeWithFont(std::string_view text, const Font& font) {
  if (text.empty()) return {0, 0};
  std::size_t widest = 0, count = 0;
  for (auto line : splitLines(text)) {
    widest = std::max(widest, units(line));
    ++count;
  }
  return {widest * font.characterWidth(), count * font.lineHeight()};
}

Size sizeWithFont(std::string_view text, const Font& font, Size constraint, LineBreakMode mode) {
  if (text.empty()) return {0, 0};
  auto lines = wrapText(text, font, constraint.width, mode);
  auto maxLines = static_cast<std::size_t>(std::floor(constraint.height / font.lineHeight() + 1e-9));
  if (maxLines == 0) maxLines = 1;
  if (lines.size() > maxLines) lines.resize(maxLines);
  std::size_t widest = 0;
  for (const auto& line : lines) widest = std::max(widest, units(line));
  return {widest * font.characterWidth(), lines.size() * font.lineHeight()};
}

std::vector<std::string> wrapText(std::string_view text, const Font& font, double width, LineBreakMode mode) {
  auto maxChars = static_cast<std::size_t>(std::max(0.0, std::floor(width / font.characterWidth() + 1e-9)));
  bool wraps = mode == LineBreakMode::WordWrap || mode == LineBreakMode::CharacterWrap;
  std::vector<std::string> lines;
  for (auto paragraph : splitLines(text)) {
    if (wraps) {
      wrap(paragraph, maxChars, mode == LineBreakMode::WordWrap, lines);
    } else {
      auto string = String::make(paragraph);
      lines.push_back(string->substring(0, std::min(string->length(), maxChars))->utf8());
    }
  }
  return lines;
}

Size sizeWithFont(std::string_view text, const Font& font, double width, LineBreakMode mode) {
  Size natural = sizeWithFont(text, font);
  (void)mode;
  return {std::min(natural.width, std::max(0.0, width)), text.empty() ? 0 : font.lineHeight()};
}

double fittingFontSize(std::string_view text, const Font& font, double width, double minimumSize) {
  std::size_t length = 0;
  for (auto line : splitLines(text)) length = std::max(length, units(line));
  if (length == 0) return font.pointSize();
  double perPoint = font.characterWidth() / font.pointSize();
  double size = width / (length * perPoint);
  return std::clamp(size, std::min(minimumSize, font.pointSize()), font.pointSize());
}

}  // namespace zv::ui
