#include "platform/ui/TableViewController.h"

#include "platform/ui/Screen.h"

namespace zv::ui {

TableViewController::TableViewController(TableViewStyle style) : style_(style) {}

Ref<TableView> TableViewController::tableView() { return std::dynamic_pointer_cast<TableView>(view()); }

void TableViewController::setTableView(const Ref<TableView>& tableView) { setView(tableView); }

void TableViewController::loadView() {
  auto table = TableView::make(Screen::mainScreen()->applicationFrame(), style_);
  table->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  table->setDataSource(selfAs<TableViewController>());
  table->setDelegate(selfAs<TableViewController>());
  setView(table);
}

void TableViewController::viewWillAppear(bool animated) {
  auto table = tableView();
  if (!table) return;
  if (!loadedOnce_) {
    loadedOnce_ = true;
    table->reloadData();
  }
  if (clearsSelection_)
    if (auto selected = table->indexPathForSelectedRow()) table->deselectRowAtIndexPath(selected, animated);
}

void TableViewController::setEditing(bool editing, bool animated) {
  ViewController::setEditing(editing, animated);
  if (auto table = tableView()) table->setEditing(editing, animated);
}

}  // namespace zv::ui
