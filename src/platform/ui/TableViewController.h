#pragma once
// A screen whose view is a table, serving as the table's data source and delegate. On its first
// appearance the table loads its data; on every appearance the selected row is deselected (when
// clearsSelectionOnViewWillAppear). Editing follows the screen's. Main thread only.

#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace zv::ui {

class TableViewController : public ViewController, public TableViewDataSource, public TableViewDelegate {
 public:
  explicit TableViewController(TableViewStyle style = TableViewStyle::Plain);

  TableViewStyle tableViewStyle() const { return style_; }
  Ref<TableView> tableView();
  void setTableView(const Ref<TableView>& tableView);
  bool clearsSelectionOnViewWillAppear() const { return clearsSelection_; }
  void setClearsSelectionOnViewWillAppear(bool clears) { clearsSelection_ = clears; }

  void loadView() override;
  void viewWillAppear(bool animated) override;
  void setEditing(bool editing, bool animated) override;

  std::size_t tableViewNumberOfRowsInSection(TableView&, std::size_t) override { return 0; }
  Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const Ref<IndexPath>&) override { return nullptr; }

  bool respondsToSelector(std::string_view selector) const override { return ViewController::respondsToSelector(selector); }

 protected:
  TableViewStyle style_;

 private:
  bool clearsSelection_ = true;
  bool loadedOnce_ = false;
};

}  // namespace zv::ui
