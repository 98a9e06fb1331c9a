#include "platform/ui/Bars.h"

#include "platform/ui/Font.h"

namespace zv::ui {

namespace {
// Text centred vertically in `box`, aligned as asked.
void drawLine(BitmapContext& context, const std::string& text, const Rect& box, const Font& font, const Color& color,
              TextAlignment alignment) {
  double width = sizeWithFont(text, font).width;
  double x = alignment == TextAlignment::Center  ? box.midX() - width / 2
             : alignment == TextAlignment::Right ? box.maxX() - width
                                                 : box.x();
  context.drawText(text, {x, box.midY() + font.pointSize() * 0.35}, font.pointSize(), font.isBold(), color, width);
}
}  // namespace

Ref<Color> Bar::barColor() const {
  if (tintColor_) return tintColor_;
  switch (barStyle_) {
    case BarStyle::Black:
      return Color::white(0.1);
    case BarStyle::BlackTranslucent:
      return Color::white(0.1, 0.7);
    case BarStyle::Default:
      break;
  }
  return Color::make(0.43, 0.52, 0.64);
}

Ref<Color> Bar::textColor() const { return Color::whiteColor(); }

void Bar::drawRect(BitmapContext& context, const Rect&) {
  Rect local({0, 0}, bounds().size);
  context.setFillColor(*barColor());
  context.fillRect(local);
  context.setFillColor(1, 1, 1, 0.15);
  context.fillRect(Rect(0, 0, local.width(), local.height() / 2));
  context.setStrokeColor(0, 0, 0, 0.5);
  context.setLineWidth(1);
  context.strokeLineSegments({{0, local.height() - 0.5}, {local.width(), local.height() - 0.5}});
}

std::vector<Rect> Bar::itemBoxes(const std::vector<Ref<BarButtonItem>>& items) const {
  auto font = Font::boldSystemFontOfSize(12);
  auto widthOf = [&](const Ref<BarButtonItem>& item) -> double {
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace) return 0;
    if (item->systemItem() == BarButtonSystemItem::FixedSpace) return item->width();
    if (item->customView()) return item->customView()->frame().width();
    if (item->title()) return sizeWithFont(*item->title(), *font).width + 20;
    return 30;
  };
  double fixed = 0;
  int flexible = 0;
  for (const auto& item : items) {
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace)
      ++flexible;
    else
      fixed += widthOf(item) + 10;
  }
  double spare = flexible ? std::max(0.0, bounds().width() - 10 - fixed) / flexible : 0;
  std::vector<Rect> boxes;
  double x = 10;
  for (const auto& item : items) {
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace) {
      boxes.emplace_back(x, 7, spare, bounds().height() - 14);
      x += spare;
      continue;
    }
    double w = widthOf(item);
    boxes.emplace_back(x, 7, w, bounds().height() - 14);
    x += w + 10;
  }
  return boxes;
}

void Bar::drawItems(BitmapContext& context, const std::vector<Ref<BarButtonItem>>& items) {
  auto font = Font::boldSystemFontOfSize(12);
  auto boxes = itemBoxes(items);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& item = items[i];
    const Rect& box = boxes[i];
    if (item->isSpace() || item->customView()) continue;
    if (item->style() != BarButtonItemStyle::Plain) {
      context.setFillColor(0, 0, 0, item->style() == BarButtonItemStyle::Done ? 0.35 : 0.2);
      context.beginPath();
      context.addRoundedRect(box, 5);
      context.fillPath();
    }
    std::string label = item->title().value_or(item->image() ? "\u25A3" : "\u2022");
    auto color = item->isEnabled() ? textColor() : textColor()->colorWithAlphaComponent(0.4);
    drawLine(context, label, box, *font, *color, TextAlignment::Center);
  }
}

void Toolbar::layoutSubviews() {
  auto boxes = itemBoxes(items_);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (auto view = items_[i]->customView()) {
      Rect f = view->frame();
      view->setFrame(Rect(boxes[i].x(), (bounds().height() - f.height()) / 2, f.width(), f.height()));
    }
  }
}

void NavigationBar::drawRect(BitmapContext& context, const Rect& rect) {
  Bar::drawRect(context, rect);
  auto top = topItem();
  if (!top) return;
  std::vector<Ref<BarButtonItem>> left, right;
  if (top->leftBarButtonItem()) {
    left.push_back(top->leftBarButtonItem());
  } else if (auto back = backItem(); back && !top->hidesBackButton()) {
    left.push_back(back->backBarButtonItem() ? back->backBarButtonItem()
                                             : BarButtonItem::withTitle(back->title().value_or("Back"),
                                                                        BarButtonItemStyle::Bordered));
  }
  left.push_back(BarButtonItem::flexibleSpace());
  if (top->rightBarButtonItem()) left.push_back(top->rightBarButtonItem());
  drawItems(context, left);
  if (top->title()) {
    auto font = Font::boldSystemFontOfSize(20);
    drawLine(context, *top->title(), Rect({0, 0}, bounds().size), *font, *textColor(), TextAlignment::Center);
  }
}

void Toolbar::drawRect(BitmapContext& context, const Rect& rect) {
  Bar::drawRect(context, rect);
  drawItems(context, items_);
}

void TabBar::drawRect(BitmapContext& context, const Rect&) {
  Rect local({0, 0}, bounds().size);
  context.setFillColor(0.1, 0.1, 0.1);
  context.fillRect(local);
  if (items_.empty()) return;
  double w = local.width() / items_.size();
  auto font = Font::boldSystemFontOfSize(10);
  auto selected = selectedItem();
  for (std::size_t i = 0; i < items_.size(); ++i) {
    Rect box(i * w, 0, w, local.height());
    bool on = items_[i] == selected;
    if (on) {
      context.setFillColor(1, 1, 1, 0.15);
      context.beginPath();
      context.addRoundedRect(box.insetBy(3, 2), 4);
      context.fillPath();
    }
    auto color = on ? Color::make(0.3, 0.6, 1.0) : Color::grayColor();
    context.setFillColor(*color);
    context.fillEllipseInRect(Rect(box.midX() - 9, 6, 18, 18));
    drawLine(context, items_[i]->title().value_or(""), Rect(box.x(), 30, box.width(), 16), *font, *color,
             TextAlignment::Center);
  }
}

Ref<NavigationBar> NavigationBar::make(const Rect& frame) { return std::make_shared<NavigationBar>(frame); }

void NavigationBar::setItems(std::vector<Ref<NavigationItem>> items, bool) {
  items_ = std::move(items);
  setNeedsDisplay();
}

void NavigationBar::pushNavigationItem(const Ref<NavigationItem>& item, bool) {
  if (item) items_.push_back(item);
  setNeedsDisplay();
}

Ref<NavigationItem> NavigationBar::popNavigationItemAnimated(bool) {
  if (items_.empty()) return nullptr;
  auto top = items_.back();
  items_.pop_back();
  setNeedsDisplay();
  return top;
}

Ref<Toolbar> Toolbar::make(const Rect& frame) { return std::make_shared<Toolbar>(frame); }

void Toolbar::setItems(std::vector<Ref<BarButtonItem>> items, bool) {
  for (const auto& item : items_)
    if (item->customView() && item->customView()->superview().get() == this) item->customView()->removeFromSuperview();
  items_ = std::move(items);
  for (const auto& item : items_)
    if (item->customView()) addSubview(item->customView());
  setNeedsLayout();
  setNeedsDisplay();
}

Ref<TabBarItem> TabBarItem::make(std::optional<std::string> title, Ref<graphics::Image> image, int tag) {
  auto item = std::make_shared<TabBarItem>();
  item->title_ = std::move(title);
  item->image_ = std::move(image);
  item->tag_ = tag;
  return item;
}

Ref<TabBar> TabBar::make(const Rect& frame) { return std::make_shared<TabBar>(frame); }

void TabBar::setItems(std::vector<Ref<TabBarItem>> items, bool) {
  items_ = std::move(items);
  setNeedsDisplay();
}

}  // namespace zv::ui
