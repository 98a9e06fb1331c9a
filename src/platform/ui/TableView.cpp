#include "platform/ui/TableView.h"

#include <algorithm>
#include <iterator>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/ui/Application.h"

namespace zv::ui {

namespace {
using Key = std::pair<std::size_t, std::size_t>;
Key keyOf(const Ref<IndexPath>& p) { return {p->section(), p->row()}; }
[[noreturn]] void inconsistency(const std::string& reason) { Exception::raise(kInternalInconsistencyException, reason); }
}  // namespace

Ref<TableView> TableView::make(const Rect& frame, TableViewStyle style) {
  return std::make_shared<TableView>(frame, style);
}

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) {
  if (style == TableViewStyle::Grouped) {
    sectionHeaderHeight_ = 10;
    sectionFooterHeight_ = 10;
    setBackgroundColor(Color::groupTableViewBackgroundColor());
  } else {
    setBackgroundColor(Color::whiteColor());
  }
}

void TableView::setTableHeaderView(Ref<View> view) {
  if (tableHeaderView_) tableHeaderView_->removeFromSuperview();
  tableHeaderView_ = std::move(view);
  setNeedsLayout();
}

void TableView::setTableFooterView(Ref<View> view) {
  if (tableFooterView_) tableFooterView_->removeFromSuperview();
  tableFooterView_ = std::move(view);
  setNeedsLayout();
}

void TableView::setEditing(bool editing, bool animated) {
  editing_ = editing;
  for (auto& [key, cell] : visible_) cell->setEditing(editing, animated);
  setNeedsLayout();
}

// ---- Data ----

void TableView::ensureCounts() {
  if (countsKnown_) return;
  countsKnown_ = true;
  counts_.clear();
  auto source = dataSource_.lock();
  if (!source) return;
  std::size_t sections = source->numberOfSectionsInTableView(*this);
  for (std::size_t s = 0; s < sections; ++s) counts_.push_back(source->tableViewNumberOfRowsInSection(*this, s));
}

void TableView::reloadData() {
  ++reloadCount_;
  dropAllCells();
  countsKnown_ = false;
  selected_ = nullptr;
  ensureCounts();
  setNeedsLayout();
}

std::size_t TableView::numberOfSections() {
  ensureCounts();
  return counts_.size();
}

std::size_t TableView::numberOfRowsInSection(std::size_t section) {
  ensureCounts();
  return section < counts_.size() ? counts_[section] : 0;
}

bool TableView::isValid(const Ref<IndexPath>& p) {
  return p && p->length() >= 2 && p->section() < numberOfSections() && p->row() < counts_[p->section()];
}

void TableView::beginUpdates() {
  ensureCounts();
  ++updateDepth_;
}

void TableView::endUpdates() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  applyUpdate();
}

#define ZV_TABLE_UPDATE(statement) \
  do {                             \
    beginUpdates();                \
    statement;                     \
    endUpdates();                  \
  } while (false)

void TableView::insertSections(const std::set<std::size_t>& s, TableViewRowAnimation) {
  ZV_TABLE_UPDATE(pending_.insertedSections.insert(s.begin(), s.end()));
}
void TableView::deleteSections(const std::set<std::size_t>& s, TableViewRowAnimation) {
  ZV_TABLE_UPDATE(pending_.deletedSections.insert(s.begin(), s.end()));
}
void TableView::reloadSections(const std::set<std::size_t>& s, TableViewRowAnimation) {
  ZV_TABLE_UPDATE(pending_.reloadedSections.insert(s.begin(), s.end()));
}
void TableView::insertRowsAtIndexPaths(const std::vector<Ref<IndexPath>>& p, TableViewRowAnimation) {
  ZV_TABLE_UPDATE(pending_.insertedRows.insert(pending_.insertedRows.end(), p.begin(), p.end()));
}
void TableView::deleteRowsAtIndexPaths(const std::vector<Ref<IndexPath>>& p, TableViewRowAnimation) {
  ZV_TABLE_UPDATE(pending_.deletedRows.insert(pending_.deletedRows.end(), p.begin(), p.end()));
}
void TableView::reloadRowsAtIndexPaths(const std::vector<Ref<IndexPath>>& p, TableViewRowAnimation) {
  ZV_TABLE_UPDATE(pending_.reloadedRows.insert(pending_.reloadedRows.end(), p.begin(), p.end()));
}
void TableView::moveSection(std::size_t section, std::size_t newSection) {
  ZV_TABLE_UPDATE(pending_.movedSections.emplace_back(section, newSection));
}
void TableView::moveRowAtIndexPath(const Ref<IndexPath>& indexPath, const Ref<IndexPath>& newIndexPath) {
  if (!indexPath || indexPath->length() < 2 || !newIndexPath || newIndexPath->length() < 2) return;
  ZV_TABLE_UPDATE(pending_.movedRows.emplace_back(keyOf(indexPath), keyOf(newIndexPath)));
}

#undef ZV_TABLE_UPDATE

void TableView::applyUpdate() {
  Update u = std::move(pending_);
  pending_ = {};
  auto source = dataSource_.lock();
  if (!source) return;
  const std::vector<std::size_t> old = counts_;
  const std::size_t oldSections = old.size();

  // Reloaded sections count as deleted and inserted at the same index.
  std::set<std::size_t> deletedSections = u.deletedSections, insertedSections = u.insertedSections;
  for (auto s : u.reloadedSections) {
    if (s >= oldSections)
      inconsistency(format("attempt to delete section %zu, but there are only %zu sections before the update", s,
                           oldSections));
  }
  for (auto s : deletedSections)
    if (s >= oldSections)
      inconsistency(format("attempt to delete section %zu, but there are only %zu sections before the update", s,
                           oldSections));

  std::size_t newSections = source->numberOfSectionsInTableView(*this);
  for (auto s : insertedSections)
    if (s >= newSections)
      inconsistency(format("attempt to insert section %zu but there are only %zu sections after the update", s,
                           newSections));
  // A moved section leaves its old index and takes its new one; the count of sections is unchanged.
  std::map<std::size_t, std::size_t> movedSections;
  std::set<std::size_t> sectionsMovedInto;
  for (auto [from, to] : u.movedSections) {
    if (from >= oldSections || deletedSections.count(from))
      inconsistency(format("attempt to move section %zu, but there are only %zu sections before the update", from,
                           oldSections));
    if (to >= newSections || insertedSections.count(to))
      inconsistency(format("attempt to move section %zu to section %zu, but there are only %zu sections after the "
                           "update",
                           from, to, newSections));
    movedSections[from] = to;
    sectionsMovedInto.insert(to);
  }
  if (newSections != oldSections - deletedSections.size() + insertedSections.size())
    inconsistency(format("Invalid update: invalid number of sections.  The number of sections contained in the table "
                         "view after the update (%zu) must be equal to the number of sections contained in the table "
                         "view before the update (%zu), plus or minus the number of sections inserted or deleted (%zu "
                         "inserted, %zu deleted).",
                         newSections, oldSections, insertedSections.size(), deletedSections.size()));
  std::vector<std::size_t> fresh;
  for (std::size_t s = 0; s < newSections; ++s) fresh.push_back(source->tableViewNumberOfRowsInSection(*this, s));

  // Old sections that stay, in order, become the new sections that were not inserted, in order.
  std::map<std::size_t, std::size_t> sectionMap;
  {
    std::size_t t = 0;
    for (std::size_t s = 0; s < oldSections; ++s) {
      if (deletedSections.count(s)) continue;
      if (auto moved = movedSections.find(s); moved != movedSections.end()) {
        sectionMap[s] = moved->second;
        continue;
      }
      while (insertedSections.count(t) || sectionsMovedInto.count(t)) ++t;
      sectionMap[s] = t++;
    }
  }

  std::map<std::size_t, std::set<std::size_t>> deletedRows, insertedRows, reloadedRows;
  for (const auto& p : u.deletedRows) {
    if (!p || p->length() < 2) continue;
    std::size_t s = p->section(), r = p->row();
    if (s >= oldSections || r >= old[s])
      inconsistency(format("attempt to delete row %zu from section %zu which only contains %zu rows before the update",
                           r, s, s < oldSections ? old[s] : 0));
    if (!deletedSections.count(s)) deletedRows[s].insert(r);
  }
  for (const auto& p : u.reloadedRows) {
    if (!p || p->length() < 2) continue;
    std::size_t s = p->section(), r = p->row();
    if (s >= oldSections || r >= old[s])
      inconsistency(format("attempt to delete row %zu from section %zu which only contains %zu rows before the update",
                           r, s, s < oldSections ? old[s] : 0));
    if (!deletedSections.count(s)) reloadedRows[s].insert(r);
  }
  for (const auto& p : u.insertedRows) {
    if (!p || p->length() < 2) continue;
    std::size_t s = p->section(), r = p->row();
    if (s >= newSections || r >= fresh[s])
      inconsistency(format("attempt to insert row %zu into section %zu, but there are only %zu rows in section %zu "
                           "after the update",
                           r, s, s < newSections ? fresh[s] : 0, s));
    if (!insertedSections.count(s)) insertedRows[s].insert(r);
  }
  // A moved row leaves its old index path and takes its new one. Rows that go (deleted or moved
  // out) and slots that are taken (inserted or moved in) are gathered per section.
  std::map<Key, Key> movedRows;
  std::map<std::size_t, std::set<std::size_t>> gone = deletedRows, taken = insertedRows, movedOut, movedIn;
  for (const auto& [from, to] : u.movedRows) {
    if (from.first >= oldSections || from.second >= old[from.first])
      inconsistency(format("attempt to move row %zu from section %zu which only contains %zu rows before the update",
                           from.second, from.first, from.first < oldSections ? old[from.first] : 0));
    if (to.first >= newSections || to.second >= fresh[to.first])
      inconsistency(format("attempt to move a row to row %zu of section %zu, which only contains %zu rows after the "
                           "update",
                           to.second, to.first, to.first < newSections ? fresh[to.first] : 0));
    movedRows[from] = to;
    if (!deletedSections.count(from.first)) {
      gone[from.first].insert(from.second);
      movedOut[from.first].insert(from.second);
    }
    if (!insertedSections.count(to.first)) {
      taken[to.first].insert(to.second);
      movedIn[to.first].insert(to.second);
    }
  }
  for (const auto& [s, t] : sectionMap) {
    std::size_t inserted = insertedRows.count(t) ? insertedRows[t].size() : 0;
    std::size_t deleted = deletedRows.count(s) ? deletedRows[s].size() : 0;
    std::size_t in = movedIn.count(t) ? movedIn[t].size() : 0;
    std::size_t out = movedOut.count(s) ? movedOut[s].size() : 0;
    if (fresh[t] + deleted + out != old[s] + inserted + in) {
      std::string moves = u.movedRows.empty()
                              ? std::string()
                              : format(", plus or minus the number of rows moved into or out of that section (%zu "
                                       "moved in, %zu moved out)",
                                       in, out);
      inconsistency(format("Invalid update: invalid number of rows in section %zu.  The number of rows contained in "
                           "an existing section after the update (%zu) must be equal to the number of rows contained "
                           "in that section before the update (%zu), plus or minus the number of rows inserted or "
                           "deleted from that section (%zu inserted, %zu deleted)%s.",
                           t, fresh[t], old[s], inserted, deleted, moves.c_str()));
    }
  }

  // Consistent. Where an old row is now: a moved row where it was moved to; otherwise the r-th old
  // row, less the rows before it that went, is the k-th staying row of its section, and it takes
  // the k-th new row whose slot was not taken. Rows of deleted sections and deleted rows are nowhere.
  auto follow = [&](std::size_t s, std::size_t r) -> std::optional<Key> {
    if (auto moved = movedRows.find({s, r}); moved != movedRows.end()) return moved->second;
    auto it = sectionMap.find(s);
    if (it == sectionMap.end()) return std::nullopt;
    if (deletedRows.count(s) && deletedRows[s].count(r)) return std::nullopt;
    std::size_t k = r;
    if (auto left = gone.find(s); left != gone.end())
      k -= static_cast<std::size_t>(std::distance(left->second.begin(), left->second.lower_bound(r)));
    const std::size_t t = it->second;
    std::size_t newRow = k;
    if (auto slots = taken.find(t); slots != taken.end())
      for (auto i : slots->second) {
        if (i > newRow) break;
        ++newRow;
      }
    return Key{t, newRow};
  };

  // Visible cells of surviving rows move to their new index paths; the others go to the reuse
  // queue. Reloaded sections' rows all get new cells.
  std::map<Key, Ref<TableViewCell>> moved;
  for (auto& [key, cell] : visible_) {
    auto [s, r] = key;
    auto to = follow(s, r);
    if (!to || u.reloadedSections.count(s) || (reloadedRows.count(s) && reloadedRows[s].count(r))) {
      enqueue(cell);
      continue;
    }
    moved[*to] = cell;
  }
  visible_ = std::move(moved);
  // The selection follows its row, and goes with it.
  if (selected_) {
    auto to = follow(selected_->section(), selected_->row());
    selected_ = to ? IndexPath::forRow(to->second, to->first) : nullptr;
  }
  counts_ = std::move(fresh);
  countsKnown_ = true;
  for (auto& [s, header] : headers_) header->removeFromSuperview();
  for (auto& [s, footer] : footers_) footer->removeFromSuperview();
  headers_.clear();
  footers_.clear();
  setNeedsLayout();
}

// ---- Cells ----

void TableView::enqueue(const Ref<TableViewCell>& cell) {
  cell->removeFromSuperview();
  if (cell->reuseIdentifier()) reusable_[*cell->reuseIdentifier()].push_back(cell);
}

void TableView::dropAllCells() {
  for (auto& [key, cell] : visible_) enqueue(cell);
  visible_.clear();
  for (auto& [s, header] : headers_) header->removeFromSuperview();
  for (auto& [s, footer] : footers_) footer->removeFromSuperview();
  headers_.clear();
  footers_.clear();
}

Ref<TableViewCell> TableView::dequeueReusableCellWithIdentifier(std::string_view identifier) {
  auto it = reusable_.find(identifier);
  if (it == reusable_.end() || it->second.empty()) return nullptr;
  auto cell = it->second.back();
  it->second.pop_back();
  cell->prepareForReuse();
  return cell;
}

std::optional<std::string> TableView::headerTitle(std::size_t section) {
  auto source = dataSource_.lock();
  return source ? source->tableViewTitleForHeaderInSection(*this, section) : std::nullopt;
}

std::optional<std::string> TableView::footerTitle(std::size_t section) {
  auto source = dataSource_.lock();
  return source ? source->tableViewTitleForFooterInSection(*this, section) : std::nullopt;
}

double TableView::headerHeight(std::size_t section) {
  if (auto delegate = delegate_.lock()) {
    double h = delegate->tableViewHeightForHeaderInSection(*this, section);
    if (h >= 0) return h;
  }
  auto title = headerTitle(section);
  if (title && !title->empty()) return style_ == TableViewStyle::Grouped ? 46 : sectionHeaderHeight_;
  return style_ == TableViewStyle::Grouped ? sectionHeaderHeight_ : 0;
}

double TableView::footerHeight(std::size_t section) {
  if (auto delegate = delegate_.lock()) {
    double h = delegate->tableViewHeightForFooterInSection(*this, section);
    if (h >= 0) return h;
  }
  auto title = footerTitle(section);
  if (title && !title->empty()) {
    if (style_ == TableViewStyle::Plain) return sectionFooterHeight_;
    auto font = Font::systemFontOfSize(15);
    return sizeWithFont(*title, *font, Size{bounds().width() - 40, 1e9}, LineBreakMode::WordWrap).height + 20;
  }
  return style_ == TableViewStyle::Grouped ? sectionFooterHeight_ : 0;
}

TableView::Geometry TableView::computeGeometry() {
  ensureCounts();
  Geometry g;
  double y = tableHeaderView_ ? tableHeaderView_->frame().height() : 0;
  auto delegate = delegate_.lock();
  for (std::size_t s = 0; s < counts_.size(); ++s) {
    g.sectionTops.push_back(y);
    double header = headerHeight(s);
    g.headerHeights.push_back(header);
    y += header;
    g.rowTops.emplace_back();
    g.rowHeights.emplace_back();
    for (std::size_t r = 0; r < counts_[s]; ++r) {
      double h = delegate ? delegate->tableViewHeightForRowAtIndexPath(*this, IndexPath::forRow(r, s)) : -1;
      if (h < 0) h = rowHeight_;
      g.rowTops[s].push_back(y);
      g.rowHeights[s].push_back(h);
      y += h;
    }
    double footer = footerHeight(s);
    g.footerHeights.push_back(footer);
    y += footer;
  }
  if (tableFooterView_) y += tableFooterView_->frame().height();
  g.height = y;
  return g;
}

Rect TableView::rectForRowAtIndexPath(const Ref<IndexPath>& p) {
  if (!isValid(p)) return {};
  auto g = computeGeometry();
  return {0, g.rowTops[p->section()][p->row()], bounds().width(), g.rowHeights[p->section()][p->row()]};
}

Rect TableView::rectForSection(std::size_t section) {
  auto g = computeGeometry();
  if (section >= g.sectionTops.size()) return {};
  double end = section + 1 < g.sectionTops.size() ? g.sectionTops[section + 1] : g.height;
  return {0, g.sectionTops[section], bounds().width(), end - g.sectionTops[section]};
}

Ref<TableViewCell> TableView::makeCell(const Ref<IndexPath>& p, const Rect& frame) {
  auto source = dataSource_.lock();
  if (!source) return nullptr;
  auto cell = source->tableViewCellForRowAtIndexPath(*this, p);
  if (!cell)
    inconsistency(format("The table view's data source must return a cell for row %zu of section %zu", p->row(),
                         p->section()));
  cell->setGrouped(style_ == TableViewStyle::Grouped);
  cell->setFrame(frame);
  cell->setEditing(editing_, false);
  bool selected = selected_ && selected_->isEqual(*p);
  if (cell->isSelected() != selected) cell->setSelected(selected, false);
  if (auto delegate = delegate_.lock()) delegate->tableViewWillDisplayCellForRowAtIndexPath(*this, cell, p);
  return cell;
}

void TableView::layoutSubviews() {
  if (updateDepth_ > 0) return;
  auto g = computeGeometry();
  setContentSize({bounds().width(), g.height});
  double top = contentOffset().y, bottom = top + bounds().height();
  if (tableHeaderView_) {
    tableHeaderView_->setFrame(Rect(0, 0, bounds().width(), tableHeaderView_->frame().height()));
    if (tableHeaderView_->superview().get() != this) addSubview(tableHeaderView_);
  }
  if (tableFooterView_) {
    tableFooterView_->setFrame(Rect(0, g.height - tableFooterView_->frame().height(), bounds().width(),
                                    tableFooterView_->frame().height()));
    if (tableFooterView_->superview().get() != this) addSubview(tableFooterView_);
  }
  auto shows = [&](double y, double h) { return h > 0 && y < bottom && y + h > top; };
  // Rows that scrolled away go to the reuse queue first, so that new rows can take their cells.
  for (auto it = visible_.begin(); it != visible_.end();) {
    auto [s, r] = it->first;
    bool keep = s < counts_.size() && r < counts_[s] && shows(g.rowTops[s][r], g.rowHeights[s][r]);
    if (keep) {
      ++it;
    } else {
      enqueue(it->second);
      it = visible_.erase(it);
    }
  }
  auto delegate = delegate_.lock();
  for (std::size_t s = 0; s < counts_.size(); ++s) {
    // Headers and footers of visible sections.
    auto place = [&](std::map<std::size_t, Ref<View>>& views, bool header, double y, double h) {
      if (!shows(y, h)) {
        if (auto it = views.find(s); it != views.end()) {
          it->second->removeFromSuperview();
          views.erase(it);
        }
        return;
      }
      Ref<View> view = views.count(s) ? views[s] : nullptr;
      if (!view) {
        view = delegate ? (header ? delegate->tableViewViewForHeaderInSection(*this, s)
                                  : delegate->tableViewViewForFooterInSection(*this, s))
                        : nullptr;
        if (!view) {
          auto title = header ? headerTitle(s) : footerTitle(s);
          if (!title || title->empty()) return;
          auto label = Label::make();
          label->setText(title);
          label->setNumberOfLines(0);
          if (style_ == TableViewStyle::Grouped) {
            label->setFont(header ? Font::boldSystemFontOfSize(17) : Font::systemFontOfSize(15));
            label->setTextColor(Color::make(0.3, 0.34, 0.42));
            if (!header) label->setTextAlignment(TextAlignment::Center);
          } else {
            label->setFont(Font::boldSystemFontOfSize(18));
            label->setBackgroundColor(Color::make(0.6, 0.65, 0.7));
            label->setTextColor(Color::whiteColor());
          }
          view = label;
        }
        views[s] = view;
      }
      double inset = style_ == TableViewStyle::Grouped ? 19 : 0;
      view->setFrame(Rect(inset, y, bounds().width() - 2 * inset, h));
      if (view->superview().get() != this) addSubview(view);
    };
    place(headers_, true, g.sectionTops[s], g.headerHeights[s]);
    for (std::size_t r = 0; r < counts_[s]; ++r) {
      Rect frame(0, g.rowTops[s][r], bounds().width(), g.rowHeights[s][r]);
      if (!shows(frame.y(), frame.height())) continue;
      auto it = visible_.find({s, r});
      if (it != visible_.end()) {
        it->second->setFrame(frame);
        if (it->second->superview().get() != this) addSubview(it->second);
        continue;
      }
      auto cell = makeCell(IndexPath::forRow(r, s), frame);
      if (!cell) continue;
      visible_[{s, r}] = cell;
      insertSubviewAtIndex(cell, 0);
      cell->layoutIfNeeded();
    }
    double footerTop = g.rowTops[s].empty() ? g.sectionTops[s] + g.headerHeights[s]
                                            : g.rowTops[s].back() + g.rowHeights[s].back();
    place(footers_, false, footerTop, g.footerHeights[s]);
  }
  if (backgroundView_) {
    backgroundView_->setFrame(bounds());
    if (backgroundView_->superview().get() != this) insertSubviewAtIndex(backgroundView_, 0);
  }
}

Ref<TableViewCell> TableView::cellForRowAtIndexPath(const Ref<IndexPath>& p) {
  if (!p || p->length() < 2) return nullptr;
  layoutIfNeeded();
  auto it = visible_.find(keyOf(p));
  return it == visible_.end() ? nullptr : it->second;
}

std::vector<Ref<TableViewCell>> TableView::visibleCells() {
  layoutIfNeeded();
  std::vector<Ref<TableViewCell>> cells;
  for (auto& [key, cell] : visible_) cells.push_back(cell);
  return cells;
}

std::vector<Ref<IndexPath>> TableView::indexPathsForVisibleRows() {
  layoutIfNeeded();
  std::vector<Ref<IndexPath>> paths;
  for (auto& [key, cell] : visible_) paths.push_back(IndexPath::forRow(key.second, key.first));
  return paths;
}

Ref<IndexPath> TableView::indexPathForCell(const TableViewCell* cell) {
  for (auto& [key, visible] : visible_)
    if (visible.get() == cell) return IndexPath::forRow(key.second, key.first);
  return nullptr;
}

Ref<View> TableView::headerViewForSection(std::size_t section) {
  layoutIfNeeded();
  auto it = headers_.find(section);
  return it == headers_.end() ? nullptr : it->second;
}

Ref<View> TableView::footerViewForSection(std::size_t section) {
  layoutIfNeeded();
  auto it = footers_.find(section);
  return it == footers_.end() ? nullptr : it->second;
}

// ---- Selection and scrolling ----

void TableView::selectRowAtIndexPath(const Ref<IndexPath>& p, bool animated, TableViewScrollPosition position) {
  if (selected_ && (!p || !selected_->isEqual(*p))) deselectRowAtIndexPath(selected_, false);
  if (!isValid(p)) return;
  selected_ = IndexPath::forRow(p->row(), p->section());
  if (auto cell = cellForRowAtIndexPath(p)) cell->setSelected(true, animated);
  if (position != TableViewScrollPosition::None) scrollToRowAtIndexPath(p, position, animated);
}

void TableView::deselectRowAtIndexPath(const Ref<IndexPath>& p, bool animated) {
  if (!p || p->length() < 2) return;
  if (selected_ && selected_->isEqual(*p)) selected_ = nullptr;
  auto it = visible_.find(keyOf(p));
  if (it != visible_.end()) it->second->setSelected(false, animated);
}

void TableView::setContentOffset(Point offset, bool animated) {
  ScrollView::setContentOffset(offset, animated);
  setNeedsLayout();
}

void TableView::scrollToRowAtIndexPath(const Ref<IndexPath>& p, TableViewScrollPosition position, bool animated) {
  if (!isValid(p)) return;
  Rect row = rectForRowAtIndexPath(p);
  setContentSize({bounds().width(), computeGeometry().height});
  double h = bounds().height(), y = contentOffset().y;
  switch (position) {
    case TableViewScrollPosition::Top:
      y = row.minY();
      break;
    case TableViewScrollPosition::Middle:
      y = row.midY() - h / 2;
      break;
    case TableViewScrollPosition::Bottom:
      y = row.maxY() - h;
      break;
    case TableViewScrollPosition::None:
      if (row.minY() < y)
        y = row.minY();
      else if (row.maxY() > y + h)
        y = row.maxY() - h;
      break;
  }
  y = std::clamp(y, 0.0, maximumContentOffset().y);
  setContentOffset({contentOffset().x, y}, animated);
}

Ref<IndexPath> TableView::simulateTapOnRow(const Ref<IndexPath>& p) {
  if (!isValid(p) || !allowsSelection_ || (editing_ && !allowsSelectionDuringEditing_) ||
      Application::sharedApplication()->isIgnoringInteractionEvents())
    return nullptr;
  auto keep = self();
  auto delegate = delegate_.lock();
  Ref<IndexPath> target = IndexPath::forRow(p->row(), p->section());
  if (delegate) target = delegate->tableViewWillSelectRowAtIndexPath(*this, target);
  if (!isValid(target)) return nullptr;
  if (selected_ && !selected_->isEqual(*target)) {
    auto old = selected_;
    deselectRowAtIndexPath(old, false);
    if (delegate) delegate->tableViewDidDeselectRowAtIndexPath(*this, old);
  }
  selectRowAtIndexPath(target, false, TableViewScrollPosition::None);
  if (auto d = delegate_.lock()) d->tableViewDidSelectRowAtIndexPath(*this, target);
  return target;
}

void TableView::simulateAccessoryTap(const Ref<IndexPath>& p) {
  if (!isValid(p) || Application::sharedApplication()->isIgnoringInteractionEvents()) return;
  if (auto delegate = delegate_.lock()) delegate->tableViewAccessoryButtonTappedForRowWithIndexPath(*this, p);
}

}  // namespace zv::ui
