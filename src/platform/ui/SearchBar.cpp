#include "platform/ui/SearchBar.h"

#include "platform/graphics/BitmapContext.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Application.h"

namespace zv::ui {

Ref<SearchBar> SearchBar::make(const Rect& frame) { return std::make_shared<SearchBar>(frame); }

SearchBar::SearchBar(const Rect& frame) : View(frame) {}

bool SearchBar::simulateTap() {
  if (editing_) return true;
  if (Application::sharedApplication()->isIgnoringInteractionEvents()) return false;
  if (auto delegate = delegate_.lock(); delegate && !delegate->searchBarShouldBeginEditing(*this)) return false;
  editing_ = true;
  auto hold = self();
  if (auto delegate = delegate_.lock()) delegate->searchBarTextDidBeginEditing(*this);
  if (auto display = displayController_.lock()) display->barBeganEditing();
  return true;
}

void SearchBar::simulateTyping(const std::string& text) {
  if (!editing_ && !simulateTap()) return;
  for (char c : text) {
    text_ += c;
    changed();
  }
}

void SearchBar::simulateClear() {
  if (!editing_ && !simulateTap()) return;
  text_.clear();
  changed();
}

void SearchBar::changed() {
  auto hold = self();
  if (auto delegate = delegate_.lock()) delegate->searchBarTextDidChange(*this, text_);
  if (auto display = displayController_.lock()) display->barTextChanged();
}

void SearchBar::simulateSearchButton() {
  auto hold = self();
  if (auto delegate = delegate_.lock()) delegate->searchBarSearchButtonClicked(*this);
}

void SearchBar::simulateCancelButton() {
  auto hold = self();
  editing_ = false;
  if (auto delegate = delegate_.lock()) delegate->searchBarCancelButtonClicked(*this);
  if (auto display = displayController_.lock()) display->barCancelled();
}

void SearchBar::drawRect(BitmapContext& context, const Rect& rect) {
  (void)rect;
  // A light bar with a white rounded field; the text itself is left to the field's owner.
  context.setFillColor(0.78, 0.8, 0.84);
  context.fillRect(Rect(0, 0, bounds().size.width, bounds().size.height));
  context.setFillColor(1, 1, 1);
  context.fillRect(Rect(8, 8, bounds().size.width - 16, bounds().size.height - 16));
}

// --- display controller ---

Ref<SearchDisplayController> SearchDisplayController::make(const Ref<SearchBar>& searchBar,
                                                           const Ref<ViewController>& contents) {
  auto controller = std::make_shared<SearchDisplayController>();
  controller->searchBar_ = searchBar;
  controller->contents_ = contents;
  if (searchBar) searchBar->displayController_ = controller;
  return controller;
}

void SearchDisplayController::setSearchResultsDataSource(std::weak_ptr<TableViewDataSource> dataSource) {
  resultsDataSource_ = std::move(dataSource);
  if (resultsTable_) resultsTable_->setDataSource(resultsDataSource_);
}

void SearchDisplayController::setSearchResultsDelegate(std::weak_ptr<TableViewDelegate> delegate) {
  resultsDelegate_ = std::move(delegate);
  if (resultsTable_) resultsTable_->setDelegate(resultsDelegate_);
}

Ref<TableView> SearchDisplayController::searchResultsTableView() {
  if (!resultsTable_) {
    Rect frame(0, 44, 320, 416);
    if (auto contents = contents_.lock(); contents && contents->isViewLoaded()) {
      const auto bounds = contents->view()->bounds();
      const double top = searchBar_ ? searchBar_->frame().size.height : 0;
      frame = Rect(0, top, bounds.size.width, std::max(0.0, bounds.size.height - top));
    }
    resultsTable_ = TableView::make(frame, TableViewStyle::Plain);
    resultsTable_->setDataSource(resultsDataSource_);
    resultsTable_->setDelegate(resultsDelegate_);
  }
  return resultsTable_;
}

void SearchDisplayController::setActive(bool active, bool) {
  if (active == active_) return;
  auto hold = self();
  active_ = active;
  auto table = searchResultsTableView();
  if (active) {
    searchBar_->setShowsCancelButton(true);
    if (auto contents = contents_.lock()) contents->view()->addSubview(table);
    table->reloadData();
    if (auto delegate = delegate_.lock()) delegate->searchDisplayControllerDidBeginSearch(*this);
  } else {
    searchBar_->setShowsCancelButton(false);
    searchBar_->setText("");
    searchBar_->editing_ = false;
    table->removeFromSuperview();
    if (auto delegate = delegate_.lock()) delegate->searchDisplayControllerDidEndSearch(*this);
  }
}

void SearchDisplayController::barBeganEditing() { setActive(true); }

void SearchDisplayController::barTextChanged() {
  if (!active_) setActive(true);
  bool reload = true;
  if (auto delegate = delegate_.lock()) {
    reload = delegate->searchDisplayControllerShouldReloadTableForSearchString(*this, searchBar_->text());
  }
  if (reload) searchResultsTableView()->reloadData();
}

void SearchDisplayController::barCancelled() { setActive(false); }

}  // namespace zv::ui
