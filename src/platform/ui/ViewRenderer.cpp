#include "platform/ui/ViewRenderer.h"

#include <cmath>

#include "platform/storage/AtomicFile.h"

namespace zv::ui {

namespace {

void drawTree(View& view, graphics::BitmapContext& context, double alpha) {
  if (view.isHidden() || view.alpha() <= 0.01) return;
  alpha *= view.alpha();
  view.layoutIfNeeded();
  context.saveGState();
  Rect bounds = view.bounds();
  if (!view.transform().isIdentity()) {
    context.translateCTM(bounds.width() / 2, bounds.height() / 2);
    AffineTransform t = view.transform();
    context.concatCTM(t);
    context.translateCTM(-bounds.width() / 2, -bounds.height() / 2);
  }
  context.setAlpha(alpha);
  Rect local({0, 0}, bounds.size);
  if (auto color = view.backgroundColor(); color && color->alpha() > 0) {
    context.setFillColor(*color);
    context.beginPath();
    if (view.cornerRadius() > 0)
      context.addRoundedRect(local, view.cornerRadius());
    else
      context.addRect(local);
    context.fillPath();
  }
  if (view.clipsToBounds()) context.clipToRect(local);
  context.translateCTM(-bounds.x(), -bounds.y());
  context.saveGState();
  view.drawRect(context, bounds);
  context.restoreGState();
  for (const auto& subview : std::vector<Ref<View>>(view.subviews())) {
    Rect f = subview->frame();
    Rect sb = subview->bounds();
    context.saveGState();
    // Position the subview's own bounds around its centre (its frame is the transformed box).
    Point c = subview->center();
    context.translateCTM(c.x - sb.width() / 2, c.y - sb.height() / 2);
    (void)f;
    drawTree(*subview, context, alpha);
    context.restoreGState();
  }
  context.restoreGState();
}

}  // namespace

void renderViewInContext(const Ref<View>& view, graphics::BitmapContext& context) {
  if (view) drawTree(*view, context, 1.0);
}

Ref<graphics::Image> renderView(const Ref<View>& view, double scale) {
  if (!view) return nullptr;
  int width = static_cast<int>(std::ceil(view->bounds().width() * scale));
  int height = static_cast<int>(std::ceil(view->bounds().height() * scale));
  auto context = graphics::BitmapContext::make(width, height, graphics::BitmapColorSpace::RGBA);
  if (!context) return nullptr;
  context->scaleCTM(scale, scale);
  renderViewInContext(view, *context);
  return context->makeImage(scale);
}

Ref<Error> renderViewToPNG(const Ref<View>& view, const std::filesystem::path& path, double scale) {
  auto image = renderView(view, scale);
  auto png = graphics::imagePNGRepresentation(image);
  if (!png) return Error::make(graphics::kImageErrorDomain, graphics::ImageErrorEncode, "The view has nothing to draw.");
  const auto& bytes = png->bytes();
  return storage::writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace zv::ui
