#pragma once
// A table of sections and rows fed by a data source and steered by a delegate (neither
// retained). Cells are asked for only while their rows are visible, and cells that scroll away or
// are reloaded go to a reuse queue by identifier.
//
// Updates: inserts, deletes and reloads of sections and rows, inside beginUpdates/endUpdates or
// one by one, are checked against the data source's new counts when the (outermost) batch ends,
// the way the platform checks them; a mismatch raises "NSInternalInconsistencyException" with the
// platform's "Invalid update" reasons, and the table keeps its previous counts. The selected row
// follows its row through inserts, deletes and moves of rows and sections, and is cleared when its
// row or section is deleted.
//
// Users' touches are simulated with simulateTapOnRow (will-select, select, did-select) and
// simulateAccessoryTap. Main thread only.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/IndexPath.h"
#include "platform/foundation/Protocol.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

namespace zv::ui {

class TableView;

class TableViewDataSource : public Protocol {
 public:
  virtual std::size_t numberOfSectionsInTableView(TableView&) { return 1; }
  virtual std::size_t tableViewNumberOfRowsInSection(TableView& tableView, std::size_t section) = 0;
  virtual Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView& tableView, const Ref<IndexPath>& indexPath) = 0;
  virtual std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, std::size_t) { return std::nullopt; }
  virtual std::optional<std::string> tableViewTitleForFooterInSection(TableView&, std::size_t) { return std::nullopt; }
  virtual bool tableViewCanEditRowAtIndexPath(TableView&, const Ref<IndexPath>&) { return true; }
  virtual void tableViewCommitEditingStyleForRowAtIndexPath(TableView&, TableViewCellEditingStyle, const Ref<IndexPath>&) {}
};

// Answers of -1 for heights mean "the table's own height".
class TableViewDelegate : public Protocol {
 public:
  virtual double tableViewHeightForRowAtIndexPath(TableView&, const Ref<IndexPath>&) { return -1; }
  virtual double tableViewHeightForHeaderInSection(TableView&, std::size_t) { return -1; }
  virtual double tableViewHeightForFooterInSection(TableView&, std::size_t) { return -1; }
  virtual Ref<View> tableViewViewForHeaderInSection(TableView&, std::size_t) { return nullptr; }
  virtual Ref<View> tableViewViewForFooterInSection(TableView&, std::size_t) { return nullptr; }
  virtual void tableViewWillDisplayCellForRowAtIndexPath(TableView&, const Ref<TableViewCell>&, const Ref<IndexPath>&) {}
  // The row to select instead, or nullptr to refuse the selection.
  virtual Ref<IndexPath> tableViewWillSelectRowAtIndexPath(TableView&, const Ref<IndexPath>& indexPath) {
    return indexPath;
  }
  virtual void tableViewDidSelectRowAtIndexPath(TableView&, const Ref<IndexPath>&) {}
  virtual void tableViewDidDeselectRowAtIndexPath(TableView&, const Ref<IndexPath>&) {}
  virtual void tableViewAccessoryButtonTappedForRowWithIndexPath(TableView&, const Ref<IndexPath>&) {}
  virtual TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(TableView&, const Ref<IndexPath>&) {
    return TableViewCellEditingStyle::Delete;
  }
  virtual bool tableViewShouldIndentWhileEditingRowAtIndexPath(TableView&, const Ref<IndexPath>&) { return true; }
};

class TableView : public ScrollView {
 public:
  static Ref<TableView> make(const Rect& frame, TableViewStyle style);
  TableView(const Rect& frame, TableViewStyle style);

  TableViewStyle style() const { return style_; }
  std::weak_ptr<TableViewDataSource> dataSource() const { return dataSource_; }
  void setDataSource(std::weak_ptr<TableViewDataSource> dataSource) { dataSource_ = std::move(dataSource); }
  std::weak_ptr<TableViewDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<TableViewDelegate> delegate) { delegate_ = std::move(delegate); }

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height) { rowHeight_ = height; }
  double sectionHeaderHeight() const { return sectionHeaderHeight_; }
  void setSectionHeaderHeight(double height) { sectionHeaderHeight_ = height; }
  double sectionFooterHeight() const { return sectionFooterHeight_; }
  void setSectionFooterHeight(double height) { sectionFooterHeight_ = height; }
  TableViewCellSeparatorStyle separatorStyle() const { return separatorStyle_; }
  void setSeparatorStyle(TableViewCellSeparatorStyle style) { separatorStyle_ = style; }
  const Ref<View>& backgroundView() const { return backgroundView_; }
  void setBackgroundView(Ref<View> view) { backgroundView_ = std::move(view); }
  const Ref<View>& tableHeaderView() const { return tableHeaderView_; }
  void setTableHeaderView(Ref<View> view);
  const Ref<View>& tableFooterView() const { return tableFooterView_; }
  void setTableFooterView(Ref<View> view);
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool allows) { allowsSelection_ = allows; }
  bool allowsSelectionDuringEditing() const { return allowsSelectionDuringEditing_; }
  void setAllowsSelectionDuringEditing(bool allows) { allowsSelectionDuringEditing_ = allows; }
  bool isEditing() const { return editing_; }
  void setEditing(bool editing, bool animated = false);

  // Data.
  void reloadData();
  // How many times the table reloaded all its data (tests).
  int reloadCount() const { return reloadCount_; }
  std::size_t numberOfSections();
  std::size_t numberOfRowsInSection(std::size_t section);
  void beginUpdates();
  void endUpdates();
  void insertSections(const std::set<std::size_t>& sections, TableViewRowAnimation animation = TableViewRowAnimation::Automatic);
  void deleteSections(const std::set<std::size_t>& sections, TableViewRowAnimation animation = TableViewRowAnimation::Automatic);
  void reloadSections(const std::set<std::size_t>& sections, TableViewRowAnimation animation = TableViewRowAnimation::Automatic);
  void insertRowsAtIndexPaths(const std::vector<Ref<IndexPath>>& paths, TableViewRowAnimation animation = TableViewRowAnimation::Automatic);
  void deleteRowsAtIndexPaths(const std::vector<Ref<IndexPath>>& paths, TableViewRowAnimation animation = TableViewRowAnimation::Automatic);
  void reloadRowsAtIndexPaths(const std::vector<Ref<IndexPath>>& paths, TableViewRowAnimation animation = TableViewRowAnimation::Automatic);
  // A section or row moved from its index before the update to its index after it; its cells and
  // its selection go with it.
  void moveSection(std::size_t section, std::size_t newSection);
  void moveRowAtIndexPath(const Ref<IndexPath>& indexPath, const Ref<IndexPath>& newIndexPath);

  // Cells.
  Ref<TableViewCell> dequeueReusableCellWithIdentifier(std::string_view identifier);
  // The cell of a visible row; nullptr when the row is not visible.
  Ref<TableViewCell> cellForRowAtIndexPath(const Ref<IndexPath>& indexPath);
  std::vector<Ref<TableViewCell>> visibleCells();
  std::vector<Ref<IndexPath>> indexPathsForVisibleRows();
  Ref<IndexPath> indexPathForCell(const TableViewCell* cell);
  Rect rectForRowAtIndexPath(const Ref<IndexPath>& indexPath);
  Rect rectForSection(std::size_t section);
  // The header or footer shown for a visible section (the delegate's view or a title label).
  Ref<View> headerViewForSection(std::size_t section);
  Ref<View> footerViewForSection(std::size_t section);

  // Selection.
  Ref<IndexPath> indexPathForSelectedRow() const { return selected_; }
  void selectRowAtIndexPath(const Ref<IndexPath>& indexPath, bool animated, TableViewScrollPosition position);
  void deselectRowAtIndexPath(const Ref<IndexPath>& indexPath, bool animated);
  void scrollToRowAtIndexPath(const Ref<IndexPath>& indexPath, TableViewScrollPosition position, bool animated);
  void setContentOffset(Point offset, bool animated = false) override;

  // A user's tap on a row: will-select (which may redirect or refuse), deselection of the old
  // row, selection, did-select. Returns the row selected, nullptr when none.
  Ref<IndexPath> simulateTapOnRow(const Ref<IndexPath>& indexPath);
  void simulateAccessoryTap(const Ref<IndexPath>& indexPath);

  void layoutSubviews() override;

 private:
  struct Update {
    std::set<std::size_t> insertedSections, deletedSections, reloadedSections;
    std::vector<Ref<IndexPath>> insertedRows, deletedRows, reloadedRows;
    std::vector<std::pair<std::size_t, std::size_t>> movedSections;
    std::vector<std::pair<std::pair<std::size_t, std::size_t>, std::pair<std::size_t, std::size_t>>> movedRows;
  };
  struct Geometry {
    std::vector<double> sectionTops, headerHeights, footerHeights;
    std::vector<std::vector<double>> rowTops, rowHeights;
    double height = 0;
  };
  void ensureCounts();
  void applyUpdate();
  void dropAllCells();
  void enqueue(const Ref<TableViewCell>& cell);
  Geometry computeGeometry();
  double headerHeight(std::size_t section);
  double footerHeight(std::size_t section);
  std::optional<std::string> headerTitle(std::size_t section);
  std::optional<std::string> footerTitle(std::size_t section);
  Ref<TableViewCell> makeCell(const Ref<IndexPath>& indexPath, const Rect& frame);
  bool isValid(const Ref<IndexPath>& indexPath);

  TableViewStyle style_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> delegate_;
  double rowHeight_ = 44;
  double sectionHeaderHeight_ = 22;
  double sectionFooterHeight_ = 22;
  TableViewCellSeparatorStyle separatorStyle_ = TableViewCellSeparatorStyle::SingleLine;
  Ref<View> backgroundView_;
  Ref<View> tableHeaderView_;
  Ref<View> tableFooterView_;
  bool allowsSelection_ = true;
  bool allowsSelectionDuringEditing_ = false;
  bool editing_ = false;

  bool countsKnown_ = false;
  std::vector<std::size_t> counts_;
  int reloadCount_ = 0;
  int updateDepth_ = 0;
  Update pending_;
  std::map<std::pair<std::size_t, std::size_t>, Ref<TableViewCell>> visible_;
  std::map<std::size_t, Ref<View>> headers_, footers_;
  std::map<std::string, std::vector<Ref<TableViewCell>>, std::less<>> reusable_;
  Ref<IndexPath> selected_;
};

}  // namespace zv::ui
