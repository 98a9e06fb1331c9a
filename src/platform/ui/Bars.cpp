#include "platform/ui/Bars.h"

namespace zv::ui {

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
  items_ = std::move(items);
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
