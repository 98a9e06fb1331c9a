#include "platform/ui/Font.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/foundation/Format.h"
#include "platform/foundation/String.h"

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

// Widths (in characters) of the wrapped lines of one paragraph.
void wrap(std::string_view paragraph, std::size_t maxChars, bool byWord, std::vector<std::size_t>& out) {
  if (maxChars == 0) maxChars = 1;
  std::size_t length = units(paragraph);
  if (length <= maxChars) {
    out.push_back(length);
    return;
  }
  if (!byWord) {
    for (std::size_t done = 0; done < length; done += maxChars) out.push_back(std::min(maxChars, length - done));
    return;
  }
  // Greedy word wrap; a word longer than a line is broken by characters.
  std::vector<std::size_t> words;
  std::size_t start = 0;
  while (start <= paragraph.size()) {
    auto end = paragraph.find(' ', start);
    if (end == std::string_view::npos) end = paragraph.size();
    words.push_back(units(paragraph.substr(start, end - start)));
    start = end + 1;
  }
  std::size_t line = 0;
  bool lineHasWord = false;
  for (std::size_t word : words) {
    std::size_t needed = lineHasWord ? line + 1 + word : word;
    if (needed <= maxChars) {
      line = needed;
      lineHasWord = true;
      continue;
    }
    if (lineHasWord) out.push_back(line);
    while (word > maxChars) {
      out.push_back(maxChars);
      word -= maxChars;
    }
    line = word;
    lineHasWord = true;
  }
  out.push_back(line);
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
  auto maxChars = static_cast<std::size_t>(std::max(0.0, std::floor(constraint.width / font.characterWidth() + 1e-9)));
  bool wraps = mode == LineBreakMode::WordWrap || mode == LineBreakMode::CharacterWrap;
  std::vector<std::size_t> lines;
  for (auto paragraph : splitLines(text)) {
    if (wraps)
      wrap(paragraph, maxChars, mode == LineBreakMode::WordWrap, lines);
    else
      lines.push_back(std::min(units(paragraph), maxChars));
  }
  auto maxLines = static_cast<std::size_t>(std::floor(constraint.height / font.lineHeight() + 1e-9));
  if (maxLines == 0) maxLines = 1;
  if (lines.size() > maxLines) lines.resize(maxLines);
  std::size_t widest = *std::max_element(lines.begin(), lines.end());
  return {widest * font.characterWidth(), lines.size() * font.lineHeight()};
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
