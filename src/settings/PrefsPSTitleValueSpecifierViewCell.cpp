#include "settings/PrefsPSTitleValueSpecifierViewCell.h"

#include <algorithm>
#include <cmath>

namespace zv {

using namespace ui;

Ref<PrefsPSTitleValueSpecifierViewCell> PrefsPSTitleValueSpecifierViewCell::make(
    TableViewCellStyle style, std::optional<std::string> reuseIdentifier) {
  return std::make_shared<PrefsPSTitleValueSpecifierViewCell>(style, std::move(reuseIdentifier));
}

void PrefsPSTitleValueSpecifierViewCell::layoutSubviews() {
  TableViewCell::layoutSubviews();
  auto title = textLabel();
  auto detail = detailTextLabel();
  if (!detail) return;
  auto titleSuper = title->superview();
  Size area = titleSuper ? titleSuper->bounds().size : bounds().size;
  double offset = imageView()->image() ? std::floor(imageView()->bounds().width() + imageView()->frame().x()) : 0;
  bool hasDetail = detail->text() && !detail->text()->empty();
  double minimumValueWidth = hasDetail ? 40 : 0;
  double titleWidth = hasDetail ? std::min(title->sizeThatFits({}).width, area.width - minimumValueWidth - 9 - 10 - offset)
                                : area.width - 9 - 10 - offset;
  // A value laid out at the right keeps the title from running under it.
  if (hasDetail && detail->textAlignment() != TextAlignment::Left)
    titleWidth = std::min(titleWidth, detail->frame().x() - (offset + 9) - 5);
  titleWidth = std::max(0.0, titleWidth);
  title->setFrame(Rect(offset + 9, 0, titleWidth, area.height - 2));

  bool hasTitle = title->text() && !title->text()->empty();
  auto detailSuper = detail->superview();
  Size detailArea = detailSuper ? detailSuper->bounds().size : area;
  if (!hasTitle) {
    detail->setFrame(Rect(offset + 9, 0, std::max(0.0, detailArea.width - 19 - offset), detailArea.height - 2));
  } else if (detail->textAlignment() == TextAlignment::Left) {
    Rect frame = detail->frame();
    frame.origin.x = offset + 9 + std::max(97 - offset, titleWidth) + 5;
    frame.size.width = std::max(0.0, detailArea.width - frame.x() - 10);
    detail->setFrame(frame);
  }
}

}  // namespace zv
