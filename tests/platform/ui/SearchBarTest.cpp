// The search bar and the search display controller: typing reaches the bar's delegate and asks the
// display delegate before each results reload; the results table covers the contents screen only
// while searching; cancel clears the search; a refused tap types nothing.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/SearchBar.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/ViewController.h"

namespace zv::ui {
namespace {

class Recorder : public Object, public SearchBarDelegate, public SearchDisplayDelegate, public TableViewDataSource {
 public:
  bool searchBarShouldBeginEditing(SearchBar&) override { return allowEditing; }
  void searchBarTextDidChange(SearchBar&, const std::string& text) override { changes.push_back(text); }
  void searchBarSearchButtonClicked(SearchBar& bar) override { searches.push_back(bar.text()); }
  void searchBarCancelButtonClicked(SearchBar&) override { ++cancels; }
  bool searchDisplayControllerShouldReloadTableForSearchString(SearchDisplayController&,
                                                               const std::string& text) override {
    asked.push_back(text);
    return reload;
  }
  void searchDisplayControllerDidEndSearch(SearchDisplayController&) override { ++ended; }
  std::size_t tableViewNumberOfRowsInSection(TableView&, std::size_t) override {
    ++rowCountQueries;
    return rows;
  }
  Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const Ref<IndexPath>&) override {
    return TableViewCell::make(TableViewCellStyle::Default, "cell");
  }

  bool allowEditing = true;
  bool reload = true;
  std::size_t rows = 2;
  std::vector<std::string> changes, searches, asked;
  int cancels = 0, ended = 0, rowCountQueries = 0;
};

struct SearchFixture {
  SearchFixture() {
    contents->view()->setFrame(Rect(0, 0, 320, 460));
    bar->setDelegate(recorder);
    display->setDelegate(recorder);
    display->setSearchResultsDataSource(recorder);
  }
  Ref<ViewController> contents = std::make_shared<ViewController>();
  Ref<SearchBar> bar = SearchBar::make();
  Ref<SearchDisplayController> display = SearchDisplayController::make(bar, contents);
  Ref<Recorder> recorder = std::make_shared<Recorder>();
};

TEST(SearchBarTest, TypingAsksBeforeEachReloadAndTheResultsCoverTheContentsOnlyWhileSearching) {
  SearchFixture f;
  f.recorder->reload = false;
  f.bar->simulateTyping("pi");
  EXPECT_TRUE(f.display->isActive());
  EXPECT_EQ(f.recorder->changes, (std::vector<std::string>{"p", "pi"}));
  EXPECT_EQ(f.recorder->asked, (std::vector<std::string>{"p", "pi"}));
  auto table = f.display->searchResultsTableView();
  EXPECT_EQ(table->superview(), f.contents->view());
  const int queriesWithoutReload = f.recorder->rowCountQueries;

  f.recorder->reload = true;
  f.recorder->rows = 5;
  f.bar->simulateTyping("z");
  EXPECT_GT(f.recorder->rowCountQueries, queriesWithoutReload);
  EXPECT_EQ(table->numberOfRowsInSection(0), 5u);

  f.bar->simulateSearchButton();
  EXPECT_EQ(f.recorder->searches, (std::vector<std::string>{"piz"}));

  f.bar->simulateCancelButton();
  EXPECT_FALSE(f.display->isActive());
  EXPECT_EQ(f.recorder->cancels, 1);
  EXPECT_EQ(f.recorder->ended, 1);
  EXPECT_EQ(f.bar->text(), "");
  EXPECT_FALSE(f.bar->isEditing());
  EXPECT_EQ(table->superview(), nullptr);
}

TEST(SearchBarTest, ARefusedTapTypesNothingAndStartsNoSearch) {
  SearchFixture f;
  f.bar->setPlaceholder("Search places");
  f.recorder->allowEditing = false;
  f.bar->simulateTyping("abc");
  EXPECT_EQ(f.bar->text(), "");
  EXPECT_TRUE(f.recorder->changes.empty());
  EXPECT_FALSE(f.display->isActive());
  EXPECT_EQ(f.bar->placeholder(), "Search places");
}

TEST(SearchBarTest, TheResultsTableUsesTheDataSourceSetBeforeOrAfterItIsMade) {
  SearchFixture f;
  auto other = std::make_shared<Recorder>();
  other->rows = 7;
  auto table = f.display->searchResultsTableView();
  f.display->setSearchResultsDataSource(other);
  table->reloadData();
  EXPECT_EQ(table->numberOfRowsInSection(0), 7u);
}

}  // namespace
}  // namespace zv::ui
