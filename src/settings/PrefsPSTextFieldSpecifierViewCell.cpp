#include "settings/PrefsPSTextFieldSpecifierViewCell.h"

#include <algorithm>

namespace zv {

using namespace ui;

PrefsPSTextFieldSpecifierViewCell::PrefsPSTextFieldSpecifierViewCell(TableViewCellStyle style,
                                                                     std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  textLabel()->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleRightMargin |
                                   ViewAutoresizingFlexibleBottomMargin);
  textField_ = PrefsTextField::make(Rect(0, 0, 200, 21));
  textField_->setAutoresizingMask(ViewAutoresizingFlexibleLeftMargin | ViewAutoresizingFlexibleWidth |
                                  ViewAutoresizingFlexibleBottomMargin);
  textField_->setFont(Font::systemFontOfSize(17));
  textField_->setMinimumFontSize(12);
  textField_->setTextColor(Color::make(0.275, 0.376, 0.522, 1));
  contentView()->addSubview(textField_);
  setSelectionStyle(TableViewCellSelectionStyle::None);
}

Ref<PrefsPSTextFieldSpecifierViewCell> PrefsPSTextFieldSpecifierViewCell::make(
    TableViewCellStyle style, std::optional<std::string> reuseIdentifier) {
  return std::make_shared<PrefsPSTextFieldSpecifierViewCell>(style, std::move(reuseIdentifier));
}

void PrefsPSTextFieldSpecifierViewCell::layoutSubviews() {
  TableViewCell::layoutSubviews();
  double imageOffset = imageView()->image() ? imageView()->bounds().width() + 9 : 0;
  auto label = textLabel();
  double titleWidth = std::max(label->sizeThatFits({}).width, kMinimumTitleWidth - imageOffset);
  // A long title is cut at the cap for every alignment, so the field after it keeps room.
  titleWidth = std::min(titleWidth, kMaximumTitleWidth);
  Rect titleFrame = label->frame();
  titleFrame.size.width = titleWidth;
  label->setFrame(titleFrame);

  Rect field = textField_->frame();
  auto superview = textField_->superview();
  double superWidth = superview ? superview->bounds().width() : contentView()->bounds().width();
  field.origin.y = contentView()->bounds().height() / 2 - field.height() / 2;
  bool hasTitle = label->text() && !label->text()->empty();
  if (hasTitle) {
    if (textField_->textAlignment() == TextAlignment::Right)
      field.origin.x = titleFrame.x() + titleWidth + 5;
    else
      field.origin.x = titleFrame.x() + std::max(kMinimumTitleWidth - imageOffset, titleFrame.width()) + 5;
    field.size.width = superWidth - field.x() - 10;
  } else {
    field.origin.x = imageOffset + 9;
    field.size.width = contentView()->bounds().width() - 18 - imageOffset;
  }
  field.size.width = std::max(0.0, field.width());
  textField_->setFrame(field);
}

}  // namespace zv
