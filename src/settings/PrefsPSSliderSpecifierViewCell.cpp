#include "settings/PrefsPSSliderSpecifierViewCell.h"

namespace zv {

using namespace ui;

PrefsPSSliderSpecifierViewCell::PrefsPSSliderSpecifierViewCell(TableViewCellStyle style,
                                                               std::optional<std::string> reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {
  slider_ = PrefsSlider::make(Rect(0, 0, 0, 23));
  slider_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleBottomMargin);
  slider_->setContinuous(false);
  minImage_ = ImageView::make(Rect(0, 0, 21, 21));
  minImage_->setAutoresizingMask(ViewAutoresizingFlexibleRightMargin | ViewAutoresizingFlexibleBottomMargin);
  maxImage_ = ImageView::make(Rect(0, 0, 21, 21));
  maxImage_->setAutoresizingMask(ViewAutoresizingFlexibleLeftMargin | ViewAutoresizingFlexibleBottomMargin);
  contentView()->addSubview(slider_);
  contentView()->addSubview(minImage_);
  contentView()->addSubview(maxImage_);
  setSelectionStyle(TableViewCellSelectionStyle::None);
}

Ref<PrefsPSSliderSpecifierViewCell> PrefsPSSliderSpecifierViewCell::make(TableViewCellStyle style,
                                                                         std::optional<std::string> reuseIdentifier) {
  return std::make_shared<PrefsPSSliderSpecifierViewCell>(style, std::move(reuseIdentifier));
}

void PrefsPSSliderSpecifierViewCell::layoutSubviews() {
  TableViewCell::layoutSubviews();
  auto superview = slider_->superview();
  double superWidth = superview ? superview->bounds().width() : bounds().width();
  double centreY = contentView()->bounds().height() / 2;
  Rect sliderBounds = slider_->bounds();
  Point centre{superWidth / 2, centreY};
  double width = superWidth - 22;
  minImage_->setHidden(true);
  maxImage_->setHidden(true);
  if (minImage_->image()) {
    minImage_->setHidden(false);
    centre.x += 16;
    width -= 32;
    minImage_->setCenter({minImage_->bounds().width() / 2 + 9, centreY});
  }
  if (maxImage_->image()) {
    maxImage_->setHidden(false);
    centre.x -= 16;
    width -= 32;
    maxImage_->setCenter({contentView()->bounds().width() - maxImage_->bounds().width() / 2 - 10, centreY});
  }
  sliderBounds.size.width = std::max(0.0, width);
  slider_->setBounds(sliderBounds);
  slider_->setCenter(centre);
}

void PrefsPSSliderSpecifierViewCell::prepareForReuse() {
  TableViewCell::prepareForReuse();
  minImage_->setImage(nullptr);
  maxImage_->setImage(nullptr);
}

}  // namespace zv
