#pragma once
// Draws a view tree into a bitmap, for tests and for people to look at: each visible view's
// background (with its corner radius), its own drawing (drawRect), then its subviews, each with
// its position, transform, alpha and clipping. Main thread only.

#include <filesystem>

#include "platform/foundation/Error.h"
#include "platform/graphics/Image.h"
#include "platform/ui/View.h"

namespace zv::ui {

// The view at `scale` pixels per point; nullptr for an empty view.
Ref<graphics::Image> renderView(const Ref<View>& view, double scale = 1.0);
// Draws the view's tree into a context whose origin is the view's top-left corner.
void renderViewInContext(const Ref<View>& view, graphics::BitmapContext& context);
// Renders and writes a PNG file atomically; the error says why it could not.
Ref<Error> renderViewToPNG(const Ref<View>& view, const std::filesystem::path& path, double scale = 1.0);

}  // namespace zv::ui
