#include "platform/graphics/BitmapContext.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

namespace zv::graphics {

namespace {

std::uint32_t* row32(cairo_surface_t* surface, int y) {
  return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                          static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface));
}

std::uint8_t luminance(std::uint32_t word) {
  double r = (word >> 16) & 0xff, g = (word >> 8) & 0xff, b = word & 0xff;
  return static_cast<std::uint8_t>(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
}

cairo_filter_t filterFor(InterpolationQuality quality) {
  switch (quality) {
    case InterpolationQuality::None:
      return CAIRO_FILTER_NEAREST;
    case InterpolationQuality::Low:
      return CAIRO_FILTER_FAST;
    case InterpolationQuality::High:
      return CAIRO_FILTER_BEST;
    case InterpolationQuality::Default:
    case InterpolationQuality::Medium:
      break;
  }
  return CAIRO_FILTER_GOOD;
}

}  // namespace

BitmapContext::BitmapContext(int width, int height, BitmapColorSpace space)
    : width_(width), height_(height), space_(space) {
  surface_ = cairo_image_surface_create(space == BitmapColorSpace::RGBA ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                        width, height);
  cr_ = cairo_create(surface_);
  if (space != BitmapColorSpace::RGBA) {
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_paint(cr_);
  }
  cairo_new_path(cr_);
}

std::unique_ptr<BitmapContext> BitmapContext::make(int width, int height, BitmapColorSpace space) {
  if (width <= 0 || height <= 0 || static_cast<std::uint64_t>(width) * height > kMaximumImagePixels) return nullptr;
  std::unique_ptr<BitmapContext> context(new BitmapContext(width, height, space));
  // Out of memory shows as a surface in an error state, which has no pixels to draw on.
  if (cairo_surface_status(context->surface_) != CAIRO_STATUS_SUCCESS || cairo_status(context->cr_) != CAIRO_STATUS_SUCCESS)
    return nullptr;
  return context;
}

std::unique_ptr<BitmapContext> BitmapContext::makeOver(std::uint8_t* data, int width, int height, int bytesPerRow,
                                                       BitmapColorSpace space) {
  int pixelBytes = space == BitmapColorSpace::Grey ? 1 : 4;
  if (!data || bytesPerRow < width * pixelBytes) return nullptr;
  auto context = make(width, height, space);
  if (!context) return nullptr;
  context->external_ = data;
  context->externalBytesPerRow_ = bytesPerRow;
  cairo_surface_flush(context->surface_);
  for (int y = 0; y < height; ++y) {
    std::uint32_t* out = row32(context->surface_, y);
    const std::uint8_t* in = data + static_cast<std::ptrdiff_t>(y) * bytesPerRow;
    for (int x = 0; x < width; ++x) {
      if (space == BitmapColorSpace::Grey) {
        std::uint32_t v = in[x];
        out[x] = 0xff000000u | v << 16 | v << 8 | v;
      } else {
        std::uint32_t word;
        std::memcpy(&word, in + x * 4, 4);
        out[x] = space == BitmapColorSpace::RGB ? (word | 0xff000000u) : word;
      }
    }
  }
  cairo_surface_mark_dirty(context->surface_);
  return context;
}

BitmapContext::~BitmapContext() {
  flush();
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

void BitmapContext::flush() {
  cairo_surface_flush(surface_);
  if (!external_) return;
  for (int y = 0; y < height_; ++y) {
    const std::uint32_t* in = row32(surface_, y);
    std::uint8_t* out = external_ + static_cast<std::ptrdiff_t>(y) * externalBytesPerRow_;
    for (int x = 0; x < width_; ++x) {
      if (space_ == BitmapColorSpace::Grey)
        out[x] = luminance(in[x]);
      else
        std::memcpy(out + x * 4, &in[x], 4);
    }
  }
}

void BitmapContext::saveGState() {
  cairo_save(cr_);
  saved_.push_back(state_);
}

void BitmapContext::restoreGState() {
  if (saved_.empty()) return;
  cairo_restore(cr_);
  state_ = saved_.back();
  saved_.pop_back();
}

void BitmapContext::translateCTM(double tx, double ty) { cairo_translate(cr_, tx, ty); }
void BitmapContext::scaleCTM(double sx, double sy) { cairo_scale(cr_, sx, sy); }
void BitmapContext::rotateCTM(double radians) { cairo_rotate(cr_, radians); }
void BitmapContext::concatCTM(const AffineTransform& t) {
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  cairo_transform(cr_, &m);
}

void BitmapContext::setFillColor(const Color& c) { setFillColor(c.red(), c.green(), c.blue(), c.alpha()); }
void BitmapContext::setFillColor(double r, double g, double b, double a) { state_.fill = {r, g, b, a}; }
void BitmapContext::setStrokeColor(const Color& c) { setStrokeColor(c.red(), c.green(), c.blue(), c.alpha()); }
void BitmapContext::setStrokeColor(double r, double g, double b, double a) { state_.stroke = {r, g, b, a}; }
void BitmapContext::setLineWidth(double width) { cairo_set_line_width(cr_, std::max(0.0, width)); }
void BitmapContext::setLineCap(LineCap cap) {
  cairo_set_line_cap(cr_, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                          : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                   : CAIRO_LINE_CAP_BUTT);
}
void BitmapContext::setAlpha(double alpha) { state_.alpha = std::clamp(alpha, 0.0, 1.0); }
void BitmapContext::setShouldAntialias(bool antialias) {
  state_.antialias = antialias;
  cairo_set_antialias(cr_, antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}
void BitmapContext::setInterpolationQuality(InterpolationQuality quality) { state_.quality = quality; }
InterpolationQuality BitmapContext::interpolationQuality() const { return state_.quality; }

void BitmapContext::clipToRect(const Rect& rect) {
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
  cairo_clip(cr_);
}

void BitmapContext::beginPath() { cairo_new_path(cr_); }
void BitmapContext::moveToPoint(double x, double y) { cairo_move_to(cr_, x, y); }
void BitmapContext::addLineToPoint(double x, double y) {
  if (cairo_has_current_point(cr_))
    cairo_line_to(cr_, x, y);
  else
    cairo_move_to(cr_, x, y);
}
void BitmapContext::addRect(const Rect& r) { cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height()); }

void BitmapContext::addEllipseInRect(const Rect& r) {
  if (r.isEmpty()) return;
  cairo_new_sub_path(cr_);
  cairo_save(cr_);
  cairo_translate(cr_, r.midX(), r.midY());
  cairo_scale(cr_, r.width() / 2, r.height() / 2);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * std::numbers::pi);
  cairo_restore(cr_);
  cairo_close_path(cr_);
}

void BitmapContext::addArc(double x, double y, double radius, double start, double end, bool clockwise) {
  if (clockwise)
    cairo_arc_negative(cr_, x, y, radius, start, end);
  else
    cairo_arc(cr_, x, y, radius, start, end);
}

void BitmapContext::addArcToPoint(double x1, double y1, double x2, double y2, double radius) {
  double x0, y0;
  if (!cairo_has_current_point(cr_)) {
    cairo_move_to(cr_, x1, y1);
    return;
  }
  cairo_get_current_point(cr_, &x0, &y0);
  // The arc is tangent to the lines (p0, p1) and (p1, p2).
  double ax = x0 - x1, ay = y0 - y1, bx = x2 - x1, by = y2 - y1;
  double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
  double cross = ax * by - ay * bx;
  if (la == 0 || lb == 0 || radius <= 0 || std::fabs(cross) < 1e-12) {
    cairo_line_to(cr_, x1, y1);
    return;
  }
  ax /= la, ay /= la, bx /= lb, by /= lb;
  double angle = std::acos(std::clamp(ax * bx + ay * by, -1.0, 1.0));
  double tangent = radius / std::tan(angle / 2);
  double t1x = x1 + ax * tangent, t1y = y1 + ay * tangent;
  double t2x = x1 + bx * tangent, t2y = y1 + by * tangent;
  double bisx = ax + bx, bisy = ay + by, bl = std::hypot(bisx, bisy);
  double centreDistance = radius / std::sin(angle / 2);
  double cx = x1 + bisx / bl * centreDistance, cy = y1 + bisy / bl * centreDistance;
  double a1 = std::atan2(t1y - cy, t1x - cx), a2 = std::atan2(t2y - cy, t2x - cx);
  cairo_line_to(cr_, t1x, t1y);
  if (cross > 0)
    cairo_arc_negative(cr_, cx, cy, radius, a1, a2);
  else
    cairo_arc(cr_, cx, cy, radius, a1, a2);
}

void BitmapContext::addRoundedRect(const Rect& r, double radius) {
  radius = std::max(0.0, std::min({radius, r.width() / 2, r.height() / 2}));
  const double pi = std::numbers::pi;
  cairo_new_sub_path(cr_);
  cairo_move_to(cr_, r.minX() + radius, r.minY());
  cairo_arc(cr_, r.maxX() - radius, r.minY() + radius, radius, 3 * pi / 2, 0);
  cairo_arc(cr_, r.maxX() - radius, r.maxY() - radius, radius, 0, pi / 2);
  cairo_arc(cr_, r.minX() + radius, r.maxY() - radius, radius, pi / 2, pi);
  cairo_arc(cr_, r.minX() + radius, r.minY() + radius, radius, pi, 3 * pi / 2);
  cairo_close_path(cr_);
}

void BitmapContext::closePath() {
  if (cairo_has_current_point(cr_)) cairo_close_path(cr_);
}

void BitmapContext::applySource(const Components& c) {
  if (space_ == BitmapColorSpace::Grey) {
    double grey = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    cairo_set_source_rgba(cr_, grey, grey, grey, c.a * state_.alpha);
  } else {
    cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a * state_.alpha);
  }
}

void BitmapContext::drawPath(PathDrawingMode mode) {
  switch (mode) {
    case PathDrawingMode::Fill:
    case PathDrawingMode::EOFill:
      cairo_set_fill_rule(cr_, mode == PathDrawingMode::EOFill ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      applySource(state_.fill);
      cairo_fill(cr_);
      break;
    case PathDrawingMode::Stroke:
      applySource(state_.stroke);
      cairo_stroke(cr_);
      break;
    case PathDrawingMode::FillStroke:
      cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
      applySource(state_.fill);
      cairo_fill_preserve(cr_);
      applySource(state_.stroke);
      cairo_stroke(cr_);
      break;
  }
  cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
}

void BitmapContext::fillRect(const Rect& rect) {
  cairo_new_path(cr_);
  addRect(rect);
  fillPath();
}

void BitmapContext::strokeRect(const Rect& rect) {
  cairo_new_path(cr_);
  addRect(rect);
  strokePath();
}

void BitmapContext::clearRect(const Rect& rect) {
  cairo_save(cr_);
  cairo_new_path(cr_);
  addRect(rect);
  if (space_ == BitmapColorSpace::RGBA) {
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
  } else {
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgb(cr_, 0, 0, 0);
  }
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void BitmapContext::fillEllipseInRect(const Rect& rect) {
  cairo_new_path(cr_);
  addEllipseInRect(rect);
  fillPath();
}

void BitmapContext::strokeEllipseInRect(const Rect& rect) {
  cairo_new_path(cr_);
  addEllipseInRect(rect);
  strokePath();
}

void BitmapContext::strokeLineSegments(const std::vector<Point>& points) {
  cairo_new_path(cr_);
  for (std::size_t i = 0; i + 1 < points.size(); i += 2) {
    cairo_move_to(cr_, points[i].x, points[i].y);
    cairo_line_to(cr_, points[i + 1].x, points[i + 1].y);
  }
  strokePath();
}

void BitmapContext::drawImage(const Rect& rect, const Image& image) {
  if (rect.isEmpty()) return;
  const Bitmap& bitmap = image.bitmap();
  cairo_surface_t* source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height);
  if (cairo_surface_status(source) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(source);
    return;
  }
  cairo_surface_flush(source);
  for (int y = 0; y < bitmap.height; ++y) {
    std::uint32_t* out = row32(source, y);
    for (int x = 0; x < bitmap.width; ++x) {
      const std::uint8_t* p = bitmap.pixel(x, y);
      std::uint32_t a = p[3];
      auto pre = [a](std::uint32_t v) { return (v * a + 127) / 255; };
      out[x] = a << 24 | pre(p[0]) << 16 | pre(p[1]) << 8 | pre(p[2]);
    }
  }
  cairo_surface_mark_dirty(source);
  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
  cairo_clip(cr_);
  cairo_translate(cr_, rect.x(), rect.y());
  cairo_scale(cr_, rect.width() / bitmap.width, rect.height() / bitmap.height);
  cairo_set_source_surface(cr_, source, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr_), filterFor(state_.quality));
  cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
  cairo_paint_with_alpha(cr_, state_.alpha);
  cairo_restore(cr_);
  cairo_surface_destroy(source);
}

void BitmapContext::drawText(std::string_view text, Point baseline, double size, bool bold, const Color& color,
                             double fitWidth) {
  // Fonts come through cairo's caches; they are handed back at exit so leak checkers see none.
  static const bool releaseAtExit = [] { return std::atexit([] {
    cairo_debug_reset_static_data();
    FcFini();
  }) == 0; }();
  (void)releaseAtExit;
  std::string line(text);
  cairo_save(cr_);
  cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, size);
  applySource({color.red(), color.green(), color.blue(), color.alpha()});
  cairo_translate(cr_, baseline.x, baseline.y);
  if (fitWidth > 0) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, line.c_str(), &extents);
    if (extents.x_advance > 0) cairo_scale(cr_, fitWidth / extents.x_advance, 1);
  }
  cairo_move_to(cr_, 0, 0);
  cairo_show_text(cr_, line.c_str());
  cairo_new_path(cr_);
  cairo_restore(cr_);
}

RGBA8 BitmapContext::pixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
  cairo_surface_flush(surface_);
  std::uint32_t w = row32(surface_, y)[x];
  std::uint32_t a = space_ == BitmapColorSpace::RGBA ? w >> 24 : 255;
  auto un = [a](std::uint32_t v) { return static_cast<std::uint8_t>(a ? std::min(255u, (v * 255 + a / 2) / a) : 0); };
  if (space_ == BitmapColorSpace::Grey) {
    std::uint8_t g = luminance(w);
    return {g, g, g, 255};
  }
  return {un((w >> 16) & 0xff), un((w >> 8) & 0xff), un(w & 0xff), static_cast<std::uint8_t>(a)};
}

std::uint8_t BitmapContext::greyAt(int x, int y) const {
  RGBA8 p = pixelAt(x, y);
  return static_cast<std::uint8_t>(std::lround(0.299 * p.r + 0.587 * p.g + 0.114 * p.b));
}

Bitmap BitmapContext::bitmap() const {
  Bitmap out;
  out.width = width_;
  out.height = height_;
  out.rgba.resize(static_cast<std::size_t>(width_) * height_ * 4);
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) {
      RGBA8 p = pixelAt(x, y);
      std::uint8_t* o = out.pixel(x, y);
      o[0] = p.r, o[1] = p.g, o[2] = p.b, o[3] = p.a;
    }
  return out;
}

Ref<Image> BitmapContext::makeImage(double scale) const { return Image::make(bitmap(), scale); }

}  // namespace zv::graphics
