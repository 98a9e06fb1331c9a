#include "platform/ui/ImageView.h"

#include <algorithm>

namespace zv::ui {

Ref<ImageView> ImageView::make(Ref<graphics::Image> image) {
  Rect frame = image ? Rect({0, 0}, image->size()) : Rect();
  auto view = std::make_shared<ImageView>(frame);
  view->image_ = std::move(image);
  view->setUserInteractionEnabled(false);
  return view;
}

Ref<ImageView> ImageView::make(const Rect& frame) {
  auto view = std::make_shared<ImageView>(frame);
  view->setUserInteractionEnabled(false);
  return view;
}

void ImageView::setImage(Ref<graphics::Image> image) {
  image_ = std::move(image);
  setNeedsDisplay();
}

Size ImageView::sizeThatFits(Size) const { return image_ ? image_->size() : Size{}; }

void ImageView::drawRect(BitmapContext& context, const Rect&) {
  const auto& image = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
  if (!image) return;
  Rect target({0, 0}, bounds().size);
  Size s = image->size();
  if (contentMode() == ViewContentMode::ScaleAspectFit || contentMode() == ViewContentMode::ScaleAspectFill) {
    double sx = bounds().width() / s.width, sy = bounds().height() / s.height;
    double k = contentMode() == ViewContentMode::ScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
    target = Rect((bounds().width() - s.width * k) / 2, (bounds().height() - s.height * k) / 2, s.width * k,
                  s.height * k);
  } else if (contentMode() == ViewContentMode::Center) {
    target = Rect((bounds().width() - s.width) / 2, (bounds().height() - s.height) / 2, s.width, s.height);
  }
  context.drawImage(target, *image);
}

}  // namespace zv::ui
