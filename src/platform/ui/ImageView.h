#pragma once
// Shows an image (or its highlighted variant), scaled by the content mode. Main thread only.

#include "platform/graphics/Image.h"
#include "platform/ui/View.h"

namespace zv::ui {

class ImageView : public View {
 public:
  // A view the size of the image (empty without one).
  static Ref<ImageView> make(Ref<graphics::Image> image = nullptr);
  static Ref<ImageView> make(const Rect& frame);
  using View::View;

  const Ref<graphics::Image>& image() const { return image_; }
  void setImage(Ref<graphics::Image> image);
  const Ref<graphics::Image>& highlightedImage() const { return highlightedImage_; }
  void setHighlightedImage(Ref<graphics::Image> image) { highlightedImage_ = std::move(image); }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

  Size sizeThatFits(Size size) const override;
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  Ref<graphics::Image> image_;
  Ref<graphics::Image> highlightedImage_;
  bool highlighted_ = false;
};

}  // namespace zv::ui
