#pragma once
// A platform action sheet listing the favourite sharers of an item's share type that can share on
// this device, optionally a "More..." button that opens the share menu, and "Cancel". A pressed
// sharer button makes that sharer, loads the item into it and starts it, unless the share
// delegate declines. The sheet is its own delegate.
//
// Ownership: the sheet owns its item and share delegate; while shown, the window keeps the sheet.
// Main thread only.
#include <memory>
#include <string>
#include <vector>
#include "platform/ui/AlertView.h"
#include "sharing/core/SXItem.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class SXActionSheet : public ui::ActionSheet {
 public:
  // A sheet of the configured class (SXActionSheetSubclass) for a new, empty item of `type`.
  static Ref<SXActionSheet> actionSheetForType(std::int32_t type);
  // The sheet for the item's type, holding the item.
  static Ref<SXActionSheet> actionSheetForItem(const Ref<SXItem>& item);

  void dismissWithClickedButtonIndex(long index, bool animated) override;

  const std::vector<std::string>& sharers() const { return sharers_; }
  void setSharers(std::vector<std::string> sharers) { sharers_ = std::move(sharers); }
  const Ref<SXItem>& item() const { return item_; }
  void setItem(Ref<SXItem> item) { item_ = std::move(item); }
  const std::shared_ptr<SXShareItemDelegate>& shareDelegate() const { return shareDelegate_; }
  void setShareDelegate(std::shared_ptr<SXShareItemDelegate> delegate) { shareDelegate_ = std::move(delegate); }

 private:
  bool hasMoreButton_ = false;
  std::vector<std::string> sharers_;
  Ref<SXItem> item_;
  std::shared_ptr<SXShareItemDelegate> shareDelegate_;
};

// Makes `sharer` share `item` (loaded, so it moves to the front of the favourites) unless the
// delegate declines.
void startSharerForItem(const Ref<SXSharer>& sharer, const Ref<SXItem>& item,
                        const std::shared_ptr<SXShareItemDelegate>& delegate);

}  // namespace zv
