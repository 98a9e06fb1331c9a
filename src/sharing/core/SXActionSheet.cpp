#include "sharing/core/SXActionSheet.h"

#include "platform/foundation/ClassRegistry.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXShareMenu.h"

namespace zv {

namespace {

// An instance of the class a configuration key names, when it is registered and of kind T.
template <class T>
Ref<T> configuredInstance(const char* key) {
  auto name = SXConfigString(key);
  if (!name) return nullptr;
  const ClassInfo* info = classNamed(*name);
  return info ? dyn<T>(info->create()) : nullptr;
}

}  // namespace

void startSharerForItem(const Ref<SXSharer>& sharer, const Ref<SXItem>& item,
                        const std::shared_ptr<SXShareItemDelegate>& delegate) {
  if (!sharer) return;
  sharer->loadItem(item);
  if (delegate && !delegate->aboutToShareItemWithSharer(item, sharer)) return;
  sharer->share();
}

Ref<SXActionSheet> SXActionSheet::actionSheetForType(std::int32_t type) {
  auto sheet = configuredInstance<SXActionSheet>("SXActionSheetSubclass");
  if (!sheet) sheet = std::make_shared<SXActionSheet>();
  sheet->setTitle(SXLocalizedText("Share"));
  auto item = SXItem::make();
  item->shareType = type;
  sheet->item_ = item;
  sheet->sharers_.clear();
  for (const auto& name : SX::favoriteSharersForType(type)) {
    auto sharer = SXSharer::sharerNamed(name);
    if (!sharer || !sharer->canShare()) continue;
    sheet->addButtonWithTitle(sharer->sharerTitle());
    sheet->sharers_.push_back(name);
  }
  sheet->hasMoreButton_ = SXConfigBool("showActionSheetMoreButton");
  if (sheet->hasMoreButton_) sheet->addButtonWithTitle(SXLocalizedText("More..."));
  sheet->setCancelButtonIndex(sheet->addButtonWithTitle(SXLocalizedText("Cancel")));
  return sheet;
}

Ref<SXActionSheet> SXActionSheet::actionSheetForItem(const Ref<SXItem>& item) {
  auto sheet = actionSheetForType(item ? item->shareType : SXShareTypeUndefined);
  if (item) sheet->setItem(item);
  return sheet;
}

void SXActionSheet::dismissWithClickedButtonIndex(long index, bool animated) {
  auto self = selfAs<SXActionSheet>();  // the window lets go of the sheet while it is dismissed
  if (index >= 0 && static_cast<std::size_t>(index) < sharers_.size()) {
    startSharerForItem(SXSharer::sharerNamed(sharers_[static_cast<std::size_t>(index)]), item_, shareDelegate_);
  } else if (hasMoreButton_ && static_cast<std::size_t>(index) == sharers_.size()) {
    auto menu = configuredInstance<SXShareMenu>("SXShareMenuSubclass");
    if (!menu) menu = SXShareMenu::initWithStyle(ui::TableViewStyle::Grouped);
    menu->setShareDelegate(shareDelegate_);
    menu->setItem(item_);
    // No share has started from the menu yet: taking it away leaves nothing waiting.
    SX::currentHelper()->showViewController(menu, [] {});
  }
  ActionSheet::dismissWithClickedButtonIndex(index, animated);
}

}  // namespace zv
