#include "settings/PrefsSpecifierValuesViewController.h"

#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Screen.h"
#include "settings/PrefsAppSettingsViewController.h"
#include "settings/PrefsSettingsStoreUserDefaults.h"

namespace zv {

using namespace ui;

PrefsSpecifierValuesViewController::PrefsSpecifierValuesViewController() : TableViewController(TableViewStyle::Grouped) {}

PrefsSpecifierValuesViewController::~PrefsSpecifierValuesViewController() {
  if (defaultsObservation_) NotificationCenter::defaultCenter()->removeObserver(defaultsObservation_);
}

Ref<PrefsSpecifierValuesViewController> PrefsSpecifierValuesViewController::make() {
  return std::make_shared<PrefsSpecifierValuesViewController>();
}

std::shared_ptr<PrefsSettingsStore> PrefsSpecifierValuesViewController::settingsStore() {
  if (!settingsStore_) settingsStore_ = PrefsSettingsStoreUserDefaults::make();
  return settingsStore_;
}

void PrefsSpecifierValuesViewController::updateCheckedItem() {
  checkedItem_ = nullptr;
  if (!currentSpecifier_) return;
  ObjectPtr value;
  if (auto key = currentSpecifier_->key()) value = settingsStore()->objectForKey(*key);
  if (!value) value = currentSpecifier_->defaultValue();
  auto values = currentSpecifier_->multipleValues();
  if (!values || !value) return;
  if (auto index = values->indexOfObject(value)) checkedItem_ = IndexPath::forRow(*index, 0);
}

void PrefsSpecifierValuesViewController::loadView() {
  auto table = TableView::make(Screen::mainScreen()->applicationFrame(), TableViewStyle::Grouped);
  table->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  table->setDelegate(selfAs<PrefsSpecifierValuesViewController>());
  table->setDataSource(selfAs<PrefsSpecifierValuesViewController>());
  setView(table);
}

void PrefsSpecifierValuesViewController::viewWillAppear(bool animated) {
  if (currentSpecifier_) {
    setTitle(currentSpecifier_->title());
    updateCheckedItem();
  }
  TableViewController::viewWillAppear(animated);
  auto table = tableView();
  table->reloadData();
  if (checkedItem_) table->scrollToRowAtIndexPath(checkedItem_, TableViewScrollPosition::Middle, false);
}

void PrefsSpecifierValuesViewController::viewDidAppear(bool animated) {
  TableViewController::viewDidAppear(animated);
  tableView()->flashScrollIndicators();
  if (defaultsObservation_) return;
  std::weak_ptr<PrefsSpecifierValuesViewController> weak = selfAs<PrefsSpecifierValuesViewController>();
  defaultsObservation_ = NotificationCenter::defaultCenter()->addObserver(
      self(), kUserDefaultsDidChangeNotification, nullptr, [weak](const auto&) {
        if (auto picker = weak.lock()) picker->userDefaultsDidChange();
      });
}

void PrefsSpecifierValuesViewController::viewDidDisappear(bool animated) {
  if (defaultsObservation_) NotificationCenter::defaultCenter()->removeObserver(defaultsObservation_);
  defaultsObservation_ = nullptr;
  TableViewController::viewDidDisappear(animated);
}

Size PrefsSpecifierValuesViewController::contentSizeForViewInPopover() { return view()->sizeThatFits({320, 2000}); }

std::size_t PrefsSpecifierValuesViewController::tableViewNumberOfRowsInSection(TableView&, std::size_t) {
  return currentSpecifier_ ? currentSpecifier_->multipleValuesCount() : 0;
}

std::optional<std::string> PrefsSpecifierValuesViewController::tableViewTitleForFooterInSection(TableView&, std::size_t) {
  return currentSpecifier_ ? currentSpecifier_->footerText() : std::nullopt;
}

Ref<TableViewCell> PrefsSpecifierValuesViewController::tableViewCellForRowAtIndexPath(TableView& tableView,
                                                                                     const Ref<IndexPath>& indexPath) {
  auto cell = tableView.dequeueReusableCellWithIdentifier("kCellValue");
  if (!cell) cell = TableViewCell::make(TableViewCellStyle::Default, "kCellValue");
  cell->textLabel()->setText(std::nullopt);
  // A row with fewer titles than values keeps a cell without text.
  auto titles = currentSpecifier_ ? currentSpecifier_->multipleTitles() : nullptr;
  if (titles && indexPath->row() < titles->count()) {
    if (auto title = stringValueOf(titles->objectAtIndex(indexPath->row())))
      cell->textLabel()->setText(settingsReader_ ? settingsReader_->titleForStringId(*title) : *title);
  }
  if (checkedItem_ && indexPath->isEqual(*checkedItem_))
    selectCell(*cell);
  else
    deselectCell(*cell);
  return cell;
}

void PrefsSpecifierValuesViewController::selectCell(TableViewCell& cell) {
  cell.setAccessoryType(TableViewCellAccessoryType::Checkmark);
  cell.textLabel()->setTextColor(Color::make(0.318, 0.4, 0.569, 1));
}

void PrefsSpecifierValuesViewController::deselectCell(TableViewCell& cell) {
  cell.setAccessoryType(TableViewCellAccessoryType::None);
  cell.textLabel()->setTextColor(Color::darkTextColor());
}

void PrefsSpecifierValuesViewController::tableViewDidSelectRowAtIndexPath(TableView& tableView,
                                                                         const Ref<IndexPath>& indexPath) {
  tableView.deselectRowAtIndexPath(indexPath, true);
  if (checkedItem_ && indexPath->isEqual(*checkedItem_)) return;
  if (checkedItem_)
    if (auto old = tableView.cellForRowAtIndexPath(checkedItem_)) deselectCell(*old);
  if (auto cell = tableView.cellForRowAtIndexPath(indexPath)) selectCell(*cell);
  checkedItem_ = indexPath;

  auto values = currentSpecifier_ ? currentSpecifier_->multipleValues() : nullptr;
  auto key = currentSpecifier_ ? currentSpecifier_->key() : std::nullopt;
  if (!values || !key || indexPath->row() >= values->count()) return;
  ObjectPtr value = values->objectAtIndex(indexPath->row());
  auto store = settingsStore();
  store->setObject(value, *key);
  store->synchronize();
  NotificationCenter::defaultCenter()->postNotificationName(kAppSettingChanged, box(*key),
                                                            Dictionary::make({{*key, value}}));
}

void PrefsSpecifierValuesViewController::userDefaultsDidChange() {
  auto before = checkedItem_;
  updateCheckedItem();
  bool same = before ? (checkedItem_ && before->isEqual(*checkedItem_)) : !checkedItem_;
  if (!same && isViewLoaded()) tableView()->reloadData();
}

}  // namespace zv
