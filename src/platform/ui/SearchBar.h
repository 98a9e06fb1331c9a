#pragma once
// A search field over a table, and the controller that shows search results in a table of its
// own. The bar holds the text and placeholder; typing, the search key and the cancel button are
// simulated as a user would press them and reach the bar's delegate. The display controller
// watches its bar: editing makes it active (the results table lies over the contents screen's
// view), each text change asks its delegate whether to reload the results table, and cancel
// makes it inactive again (text cleared, results table removed).
//
// Threads: main thread only. Ownership: delegates, data sources and the contents screen are not
// retained; the display controller retains its bar and its results table.

#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/ui/TableView.h"
#include "platform/ui/View.h"

namespace zv::ui {

class SearchBar;
class SearchDisplayController;
class ViewController;

class SearchBarDelegate : public Protocol {
 public:
  virtual bool searchBarShouldBeginEditing(SearchBar&) { return true; }
  virtual void searchBarTextDidBeginEditing(SearchBar&) {}
  virtual void searchBarTextDidChange(SearchBar&, const std::string& searchText) { (void)searchText; }
  virtual void searchBarSearchButtonClicked(SearchBar&) {}
  virtual void searchBarCancelButtonClicked(SearchBar&) {}
};

class SearchBar : public View {
 public:
  static Ref<SearchBar> make(const Rect& frame = Rect(0, 0, 320, 44));
  explicit SearchBar(const Rect& frame);

  std::weak_ptr<SearchBarDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<SearchBarDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::string& text() const { return text_; }
  // Sets the text without telling the delegate (as a program does).
  void setText(std::string text) { text_ = std::move(text); }
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> placeholder) { placeholder_ = std::move(placeholder); }
  bool showsCancelButton() const { return showsCancelButton_; }
  void setShowsCancelButton(bool shows) { showsCancelButton_ = shows; }
  bool isEditing() const { return editing_; }

  // What a user does: tap the field (refused when the delegate says no), type (each character
  // is a change), erase, press the search key or the cancel button.
  bool simulateTap();
  void simulateTyping(const std::string& text);
  void simulateClear();
  void simulateSearchButton();
  void simulateCancelButton();

  // The display controller watching this bar (set by it).
  std::weak_ptr<SearchDisplayController> displayController() const { return displayController_; }

  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  friend class SearchDisplayController;
  void changed();

  std::weak_ptr<SearchBarDelegate> delegate_;
  std::weak_ptr<SearchDisplayController> displayController_;
  std::string text_;
  std::optional<std::string> placeholder_;
  bool showsCancelButton_ = false;
  bool editing_ = false;
};

class SearchDisplayDelegate : public Protocol {
 public:
  virtual bool searchDisplayControllerShouldReloadTableForSearchString(SearchDisplayController&,
                                                                       const std::string& searchString) {
    (void)searchString;
    return true;
  }
  virtual bool searchDisplayControllerShouldReloadTableForSearchScope(SearchDisplayController&, long scope) {
    (void)scope;
    return true;
  }
  virtual void searchDisplayControllerDidBeginSearch(SearchDisplayController&) {}
  virtual void searchDisplayControllerDidEndSearch(SearchDisplayController&) {}
};

class SearchDisplayController : public Object {
 public:
  static Ref<SearchDisplayController> make(const Ref<SearchBar>& searchBar, const Ref<ViewController>& contents);

  const Ref<SearchBar>& searchBar() const { return searchBar_; }
  Ref<ViewController> searchContentsController() const { return contents_.lock(); }
  std::weak_ptr<SearchDisplayDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<SearchDisplayDelegate> delegate) { delegate_ = std::move(delegate); }
  std::weak_ptr<TableViewDataSource> searchResultsDataSource() const { return resultsDataSource_; }
  void setSearchResultsDataSource(std::weak_ptr<TableViewDataSource> dataSource);
  std::weak_ptr<TableViewDelegate> searchResultsDelegate() const { return resultsDelegate_; }
  void setSearchResultsDelegate(std::weak_ptr<TableViewDelegate> delegate);
  // Made on first use, with the data source and delegate given.
  Ref<TableView> searchResultsTableView();

  bool isActive() const { return active_; }
  void setActive(bool active, bool animated = false);

 private:
  friend class SearchBar;
  void barBeganEditing();
  void barTextChanged();
  void barCancelled();

  Ref<SearchBar> searchBar_;
  std::weak_ptr<ViewController> contents_;
  std::weak_ptr<SearchDisplayDelegate> delegate_;
  std::weak_ptr<TableViewDataSource> resultsDataSource_;
  std::weak_ptr<TableViewDelegate> resultsDelegate_;
  Ref<TableView> resultsTable_;
  bool active_ = false;
};

}  // namespace zv::ui
