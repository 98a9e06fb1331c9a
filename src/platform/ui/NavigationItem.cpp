#include "platform/ui/NavigationItem.h"

namespace zv::ui {

Ref<NavigationItem> NavigationItem::make(std::optional<std::string> title) {
  auto item = std::make_shared<NavigationItem>();
  item->title_ = std::move(title);
  return item;
}

void NavigationItem::setLeftBarButtonItem(Ref<BarButtonItem> item, bool) { left_ = std::move(item); }
void NavigationItem::setRightBarButtonItem(Ref<BarButtonItem> item, bool) { right_ = std::move(item); }
void NavigationItem::setHidesBackButton(bool hides, bool) { hidesBackButton_ = hides; }

}  // namespace zv::ui
