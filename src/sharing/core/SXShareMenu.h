#pragma once
// The full share menu: every sharer of the sharers list that can share the item, in an "Actions"
// and a "Services" section (alphabetical when configured), without the ones the user switched
// off ("SXExcluded" in the user defaults). Picking a row starts that sharer (unless the share
// delegate declines) and hides the menu.
//
// Edit mode shows every row with a switch; tapping a row flips it. Nothing is stored or logged
// out while editing: Done stores the exclusions and logs out the services switched off, Cancel
// leaves the stored state as it was.
//
// Ownership: the menu owns its item and share delegate. Main thread only.
#include <memory>
#include <set>
#include <string>
#include <vector>
#include "platform/foundation/Array.h"
#include "platform/foundation/IndexPath.h"
#include "platform/ui/TableViewController.h"
#include "sharing/core/SXItem.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class SXShareMenu : public ui::TableViewController {
 public:
  explicit SXShareMenu(ui::TableViewStyle style = ui::TableViewStyle::Grouped);
  static Ref<SXShareMenu> initWithStyle(ui::TableViewStyle style);

  // Stores the item and rebuilds the rows without animation.
  void setItem(Ref<SXItem> item);
  const Ref<SXItem>& item() const { return item_; }
  void rebuildTableDataAnimated(bool animated);
  // Rows of the sharers list's "actions" or "services": {"className", "name"} dictionaries.
  Ref<MutableArray> section(const std::string& key) const;
  Ref<Dictionary> rowDataAtIndexPath(const Ref<IndexPath>& indexPath) const;
  void edit();
  void save();
  void cancel();

  const Ref<MutableArray>& tableData() const { return tableData_; }
  // The class names switched off, as edited so far.
  const std::vector<std::string>& exclusions() const { return exclusions_; }
  const std::shared_ptr<SXShareItemDelegate>& shareDelegate() const { return shareDelegate_; }
  void setShareDelegate(std::shared_ptr<SXShareItemDelegate> delegate) { shareDelegate_ = std::move(delegate); }

  void viewDidLoad() override;
  void viewDidDisappear(bool animated) override;
  std::size_t numberOfSectionsInTableView(ui::TableView& tableView) override;
  std::size_t tableViewNumberOfRowsInSection(ui::TableView& tableView, std::size_t section) override;
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView& tableView,
                                                        const Ref<IndexPath>& indexPath) override;
  std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView& tableView, std::size_t section) override;
  ui::TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(ui::TableView& tableView,
                                                                       const Ref<IndexPath>& indexPath) override;
  bool tableViewShouldIndentWhileEditingRowAtIndexPath(ui::TableView& tableView,
                                                       const Ref<IndexPath>& indexPath) override;
  void tableViewDidSelectRowAtIndexPath(ui::TableView& tableView, const Ref<IndexPath>& indexPath) override;

  // The stored exclusions (an array, or an older dictionary read by its keys).
  static std::vector<std::string> storedExclusions();

 private:
  bool isExcluded(const std::string& className) const;
  void setRightButtonEditing(bool editing);

  Ref<SXItem> item_;
  Ref<MutableArray> tableData_;
  std::vector<std::string> exclusions_;
  std::vector<std::string> exclusionsBeforeEditing_;
  std::shared_ptr<SXShareItemDelegate> shareDelegate_;
};

// Registers SXActionSheet and SXShareMenu by name (so configured subclasses can name them).
void registerSXMenuClasses();

}  // namespace zv
