#include <gtest/gtest.h>

#include "UITestSupport.h"
#include "platform/foundation/Exception.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/TableViewController.h"

namespace zv::ui::testing {
namespace {

// A table screen over a mutable model of sections of row titles.
class ListScreen : public TableViewController {
 public:
  explicit ListScreen(std::vector<std::vector<std::string>> model, TableViewStyle style = TableViewStyle::Plain)
      : TableViewController(style), model(std::move(model)) {}

  std::size_t numberOfSectionsInTableView(TableView&) override { return model.size(); }
  std::size_t tableViewNumberOfRowsInSection(TableView&, std::size_t s) override { return model[s].size(); }
  Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table, const Ref<IndexPath>& p) override {
    ++cellRequests;
    auto cell = table.dequeueReusableCellWithIdentifier("Row");
    if (!cell) {
      ++cellsMade;
      cell = TableViewCell::make(TableViewCellStyle::Value1, "Row");
    }
    cell->textLabel()->setText(model[p->section()][p->row()]);
    return cell;
  }
  std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, std::size_t s) override {
    return "Section " + std::to_string(s);
  }
  Ref<IndexPath> tableViewWillSelectRowAtIndexPath(TableView&, const Ref<IndexPath>& p) override {
    journal.push_back("will " + std::to_string(p->row()));
    if (model[p->section()][p->row()] == "locked") return nullptr;
    if (model[p->section()][p->row()] == "redirect") return IndexPath::forRow(0, p->section());
    return p;
  }
  void tableViewDidSelectRowAtIndexPath(TableView&, const Ref<IndexPath>& p) override {
    journal.push_back("did " + std::to_string(p->row()));
  }
  void tableViewDidDeselectRowAtIndexPath(TableView&, const Ref<IndexPath>& p) override {
    journal.push_back("deselected " + std::to_string(p->row()));
  }

  std::vector<std::vector<std::string>> model;
  int cellRequests = 0;
  int cellsMade = 0;
  std::vector<std::string> journal;
};

std::vector<std::string> numbered(int n) {
  std::vector<std::string> rows;
  for (int i = 0; i < n; ++i) rows.push_back("row " + std::to_string(i));
  return rows;
}

class TableViewTest : public UITest {};

TEST_F(TableViewTest, AsksOnlyForVisibleRowsAndReusesCellsWhileScrolling) {
  auto screen = std::make_shared<ListScreen>(std::vector<std::vector<std::string>>{numbered(100)});
  screen->setTitle("List");
  makeKeyWindow(screen);
  auto table = screen->tableView();
  table->setFrame(Rect(0, 0, 320, 440));
  table->layoutIfNeeded();
  // A 22-point header and 44-point rows: rows 0 to 9 show in 440 points.
  EXPECT_EQ(table->visibleCells().size(), 10u);
  EXPECT_EQ(screen->cellsMade, 10);
  ASSERT_TRUE(table->cellForRowAtIndexPath(IndexPath::forRow(3, 0)));
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath::forRow(3, 0))->textLabel()->text(), std::optional<std::string>("row 3"));
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath::forRow(50, 0)), nullptr);

  table->scrollToRowAtIndexPath(IndexPath::forRow(99, 0), TableViewScrollPosition::Bottom, false);
  auto last = table->cellForRowAtIndexPath(IndexPath::forRow(99, 0));
  ASSERT_TRUE(last);
  EXPECT_EQ(last->textLabel()->text(), std::optional<std::string>("row 99"));
  EXPECT_LE(screen->cellsMade, 11);  // the rest came from the reuse queue
  EXPECT_EQ(table->contentOffset().y, table->contentSize().height - 440);

  table->scrollToRowAtIndexPath(IndexPath::forRow(50, 0), TableViewScrollPosition::Middle, false);
  EXPECT_EQ(table->contentOffset().y, 22 + 50 * 44 + 22 - 220);
  table->setContentOffset({0, 0});
  EXPECT_TRUE(table->cellForRowAtIndexPath(IndexPath::forRow(0, 0)));
}

TEST_F(TableViewTest, InconsistentBatchUpdatesRaiseAsThePlatformDoes) {
  auto screen = std::make_shared<ListScreen>(std::vector<std::vector<std::string>>{numbered(3), numbered(2)});
  makeKeyWindow(screen);
  auto table = screen->tableView();
  table->layoutIfNeeded();

  struct Case {
    const char* name;
    std::function<void()> change;
    const char* reason;
  };
  std::vector<Case> cases = {
      {"row added to the model without an insert",
       [&] {
         screen->model[0].push_back("extra");
         table->beginUpdates();
         table->endUpdates();
       },
       "Invalid update: invalid number of rows in section 0.  The number of rows contained in an existing section "
       "after the update (4) must be equal to the number of rows contained in that section before the update (3), "
       "plus or minus the number of rows inserted or deleted from that section (0 inserted, 0 deleted)."},
      {"delete without removing from the model",
       [&] { table->deleteRowsAtIndexPaths({IndexPath::forRow(1, 1)}); },
       "Invalid update: invalid number of rows in section 1.  The number of rows contained in an existing section "
       "after the update (2) must be equal to the number of rows contained in that section before the update (2), "
       "plus or minus the number of rows inserted or deleted from that section (0 inserted, 1 deleted)."},
      {"delete past the end",
       [&] { table->deleteRowsAtIndexPaths({IndexPath::forRow(7, 0)}); },
       "attempt to delete row 7 from section 0 which only contains 3 rows before the update"},
      {"section inserted without the model",
       [&] { table->insertSections({2}); },
       "attempt to insert section 2 but there are only 2 sections after the update"},
      {"section deleted without the model",
       [&] { table->deleteSections({0}); },
       "Invalid update: invalid number of sections.  The number of sections contained in the table view after the "
       "update (2) must be equal to the number of sections contained in the table view before the update (2), plus "
       "or minus the number of sections inserted or deleted (0 inserted, 1 deleted)."},
  };
  for (const auto& c : cases) {
    auto saved = screen->model;
    try {
      c.change();
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.name(), kInternalInconsistencyException) << c.name;
      EXPECT_EQ(e.reason(), c.reason) << c.name;
    }
    screen->model = saved;
    // The table keeps its last consistent counts and takes later updates.
    EXPECT_EQ(table->numberOfRowsInSection(0), 3u) << c.name;
  }
}

TEST_F(TableViewTest, ConsistentUpdatesMoveVisibleCellsToTheirNewRows) {
  auto screen = std::make_shared<ListScreen>(std::vector<std::vector<std::string>>{numbered(5)});
  makeKeyWindow(screen);
  auto table = screen->tableView();
  auto cellOfRow3 = table->cellForRowAtIndexPath(IndexPath::forRow(3, 0));
  ASSERT_TRUE(cellOfRow3);
  int requests = screen->cellRequests;

  table->beginUpdates();
  screen->model[0].erase(screen->model[0].begin() + 1);
  screen->model[0].insert(screen->model[0].begin(), "new");
  screen->model.push_back({"a", "b"});
  table->deleteRowsAtIndexPaths({IndexPath::forRow(1, 0)});
  table->insertRowsAtIndexPaths({IndexPath::forRow(0, 0)});
  table->insertSections({1});
  table->endUpdates();

  EXPECT_EQ(table->numberOfSections(), 2u);
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath::forRow(3, 0)), cellOfRow3);  // row 3 stayed row 3
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath::forRow(0, 0))->textLabel()->text(), std::optional<std::string>("new"));
  // Only the inserted rows were asked for.
  EXPECT_EQ(screen->cellRequests - requests, 3);

  screen->model[0][2] = "changed";
  table->reloadRowsAtIndexPaths({IndexPath::forRow(2, 0)});
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath::forRow(2, 0))->textLabel()->text(),
            std::optional<std::string>("changed"));
}

TEST_F(TableViewTest, SelectionFollowsItsRowThroughUpdatesAndGoesWithIt) {
  auto screen = std::make_shared<ListScreen>(std::vector<std::vector<std::string>>{numbered(3), numbered(4)});
  makeKeyWindow(screen);
  auto table = screen->tableView();
  auto selectedTitle = [&]() -> std::optional<std::string> {
    auto p = table->indexPathForSelectedRow();
    if (!p) return std::nullopt;
    return screen->model[p->section()][p->row()];
  };
  table->layoutIfNeeded();
  table->simulateTapOnRow(IndexPath::forRow(2, 1));
  ASSERT_EQ(selectedTitle(), "row 2");

  // Rows inserted and deleted above it in its own section, in one batch.
  table->beginUpdates();
  screen->model[1].erase(screen->model[1].begin());
  screen->model[1].insert(screen->model[1].begin(), {"new a", "new b"});
  table->deleteRowsAtIndexPaths({IndexPath::forRow(0, 1)});
  table->insertRowsAtIndexPaths({IndexPath::forRow(0, 1), IndexPath::forRow(1, 1)});
  table->endUpdates();
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(3, 1)));
  EXPECT_EQ(selectedTitle(), "row 2");

  // A section deleted above it, then one inserted there.
  screen->model.erase(screen->model.begin());
  table->deleteSections({0});
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(3, 0)));
  screen->model.insert(screen->model.begin(), numbered(1));
  table->insertSections({0});
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(3, 1)));
  EXPECT_EQ(selectedTitle(), "row 2");
  // Its cell shows it selected, and no other does.
  table->layoutIfNeeded();
  for (const auto& p : table->indexPathsForVisibleRows())
    EXPECT_EQ(table->cellForRowAtIndexPath(p)->isSelected(), p->isEqual(*IndexPath::forRow(3, 1)));

  // Changes below it leave it alone; a reload of its row keeps it.
  screen->model[1].push_back("last");
  table->insertRowsAtIndexPaths({IndexPath::forRow(5, 1)});
  table->reloadRowsAtIndexPaths({IndexPath::forRow(3, 1)});
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(3, 1)));

  // Its row deleted: no selection.
  screen->model[1].erase(screen->model[1].begin() + 3);
  table->deleteRowsAtIndexPaths({IndexPath::forRow(3, 1)});
  EXPECT_EQ(table->indexPathForSelectedRow(), nullptr);
  // Its section deleted: no selection either.
  table->simulateTapOnRow(IndexPath::forRow(0, 0));
  screen->model.erase(screen->model.begin());
  table->deleteSections({0});
  EXPECT_EQ(table->indexPathForSelectedRow(), nullptr);
}

TEST_F(TableViewTest, MovedRowsAndSectionsTakeTheirCellsAndTheSelectionAlong) {
  auto screen = std::make_shared<ListScreen>(std::vector<std::vector<std::string>>{{"a0", "a1", "a2"}, {"b0", "b1"}});
  makeKeyWindow(screen);
  auto table = screen->tableView();
  table->layoutIfNeeded();
  table->simulateTapOnRow(IndexPath::forRow(2, 0));
  auto selectedTitle = [&]() -> std::optional<std::string> {
    auto p = table->indexPathForSelectedRow();
    if (!p) return std::nullopt;
    return screen->model[p->section()][p->row()];
  };
  auto titleAt = [&](std::size_t section, std::size_t row) {
    return table->cellForRowAtIndexPath(IndexPath::forRow(row, section))->textLabel()->text();
  };
  auto move = [&](std::size_t fromSection, std::size_t fromRow, std::size_t toSection, std::size_t toRow) {
    auto title = screen->model[fromSection][fromRow];
    screen->model[fromSection].erase(screen->model[fromSection].begin() + static_cast<long>(fromRow));
    screen->model[toSection].insert(screen->model[toSection].begin() + static_cast<long>(toRow), title);
  };
  int requests = screen->cellRequests;

  // The selected row itself moves to the top; then a row of the other section moves above it.
  move(0, 2, 0, 0);
  table->moveRowAtIndexPath(IndexPath::forRow(2, 0), IndexPath::forRow(0, 0));
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(0, 0)));
  move(1, 1, 0, 0);
  table->moveRowAtIndexPath(IndexPath::forRow(1, 1), IndexPath::forRow(0, 0));
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(1, 0)));
  EXPECT_EQ(selectedTitle(), "a2");
  // The sections change places.
  std::swap(screen->model[0], screen->model[1]);
  table->beginUpdates();
  table->moveSection(0, 1);
  table->moveSection(1, 0);
  table->endUpdates();
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(1, 1)));
  EXPECT_EQ(selectedTitle(), "a2");

  // Every cell went along with its row: none was asked for again.
  table->layoutIfNeeded();
  for (const auto& p : table->indexPathsForVisibleRows())
    EXPECT_EQ(titleAt(p->section(), p->row()), screen->model[p->section()][p->row()]);
  EXPECT_EQ(screen->cellRequests, requests);
  EXPECT_TRUE(table->cellForRowAtIndexPath(IndexPath::forRow(1, 1))->isSelected());

  // A move the model does not follow raises like any other inconsistent update, and changes nothing.
  try {
    table->moveRowAtIndexPath(IndexPath::forRow(1, 1), IndexPath::forRow(0, 0));
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.reason(),
              "Invalid update: invalid number of rows in section 0.  The number of rows contained in an existing "
              "section after the update (1) must be equal to the number of rows contained in that section before the "
              "update (1), plus or minus the number of rows inserted or deleted from that section (0 inserted, 0 "
              "deleted), plus or minus the number of rows moved into or out of that section (1 moved in, 0 moved out).");
  }
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(1, 1)));
}

TEST_F(TableViewTest, TapsGoThroughWillSelectAndSelection) {
  auto screen = std::make_shared<ListScreen>(std::vector<std::vector<std::string>>{{"plain", "locked", "redirect"}});
  makeKeyWindow(screen);
  auto table = screen->tableView();
  EXPECT_TRUE(table->simulateTapOnRow(IndexPath::forRow(0, 0)));
  EXPECT_FALSE(table->simulateTapOnRow(IndexPath::forRow(1, 0)));
  EXPECT_TRUE(table->indexPathForSelectedRow()->isEqual(*IndexPath::forRow(0, 0)));
  EXPECT_TRUE(table->cellForRowAtIndexPath(IndexPath::forRow(0, 0))->isSelected());
  auto chosen = table->simulateTapOnRow(IndexPath::forRow(2, 0));
  EXPECT_TRUE(chosen->isEqual(*IndexPath::forRow(0, 0)));
  EXPECT_EQ(screen->journal, (std::vector<std::string>{"will 0", "did 0", "will 1", "will 2", "did 0"}));
  table->deselectRowAtIndexPath(IndexPath::forRow(0, 0), true);
  EXPECT_EQ(table->indexPathForSelectedRow(), nullptr);
  EXPECT_FALSE(table->cellForRowAtIndexPath(IndexPath::forRow(0, 0))->isSelected());
  table->setEditing(true);
  EXPECT_EQ(table->simulateTapOnRow(IndexPath::forRow(0, 0)), nullptr);
}

TEST_F(TableViewTest, CellStylesLayOutLabelsAroundTheAccessory) {
  auto cell = TableViewCell::make(TableViewCellStyle::Value1, "c");
  cell->setFrame(Rect(0, 0, 320, 44));
  cell->textLabel()->setText("Title");
  cell->detailTextLabel()->setText("Value");
  cell->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
  cell->layoutIfNeeded();
  EXPECT_EQ(cell->contentView()->frame(), Rect(0, 0, 290, 44));
  EXPECT_EQ(cell->textLabel()->frame(), Rect(10, 0, 5 * 0.6 * 17, 44));
  EXPECT_EQ(cell->detailTextLabel()->frame(), Rect(290 - 10 - 5 * 0.5 * 17, 0, 5 * 0.5 * 17, 44));

  auto grouped = TableViewCell::make(TableViewCellStyle::Default, "g");
  grouped->setGrouped(true);
  grouped->setFrame(Rect(0, 0, 320, 44));
  grouped->setAccessoryView(Switch::make());
  grouped->layoutIfNeeded();
  EXPECT_EQ(grouped->detailTextLabel(), nullptr);
  EXPECT_EQ(grouped->contentView()->frame(), Rect(10, 0, 320 - 20 - 99, 44));
  EXPECT_EQ(grouped->accessoryView()->frame(), Rect(320 - 10 - 10 - 79, 8.5, 79, 27));
  EXPECT_EQ(grouped->accessoryView()->superview(), grouped);
}

}  // namespace
}  // namespace zv::ui::testing
