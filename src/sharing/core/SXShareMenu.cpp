#include "sharing/core/SXShareMenu.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/String.h"
#include "platform/graphics/Color.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/TableViewCell.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActionSheet.h"
#include "sharing/core/SXConfiguration.h"

namespace zv {

namespace {

constexpr const char* kClassNameKey = "className";
constexpr const char* kNameKey = "name";
constexpr const char* kSectionKeys[] = {"actions", "services"};

std::string rowClassName(const Ref<Dictionary>& row) {
  return row ? row->stringForKey(kClassNameKey).value_or("") : "";
}

// The class names of the rows, section by section.
std::vector<std::vector<std::string>> rowNames(const Ref<MutableArray>& data) {
  std::vector<std::vector<std::string>> names;
  for (const auto& section : data->objects()) {
    auto& list = names.emplace_back();
    if (auto rows = dyn<Array>(section))
      for (const auto& row : rows->objects()) list.push_back(rowClassName(dyn<Dictionary>(row)));
  }
  return names;
}

// Titles in the order of the user's language, case aside ("Éxample" before "Zebra"); the C and
// POSIX locales, which name no language, take the language-neutral order.
void sortTitles(std::vector<std::pair<std::string, std::string>>& found) {
  icu::Locale locale = icu::Locale::getDefault();
  if (std::string_view(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !collator) {
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return;
  }
  collator->setStrength(icu::Collator::SECONDARY);
  std::stable_sort(found.begin(), found.end(), [&](const auto& a, const auto& b) {
    UErrorCode compared = U_ZERO_ERROR;
    return collator->compareUTF8(a.first, b.first, compared) == UCOL_LESS;
  });
}

}  // namespace

SXShareMenu::SXShareMenu(ui::TableViewStyle style) : TableViewController(style), tableData_(MutableArray::make()) {
  setTitle(SXLocalizedText("Share"));
}

Ref<SXShareMenu> SXShareMenu::initWithStyle(ui::TableViewStyle style) {
  return std::make_shared<SXShareMenu>(style);
}

void SXShareMenu::viewDidLoad() {
  TableViewController::viewDidLoad();
  std::weak_ptr<SXShareMenu> weak = selfAs<SXShareMenu>();
  navigationItem()->setLeftBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
        if (auto menu = weak.lock()) menu->cancel();
      }));
  setRightButtonEditing(isEditing());
  tableView()->setSeparatorStyle(ui::TableViewCellSeparatorStyle::SingleLine);
  if (auto color = dyn<graphics::Color>(SXConfigValue("formBackgroundColor"))) {
    auto background = ui::View::make(tableView()->bounds());
    background->setBackgroundColor(color);
    tableView()->setBackgroundView(background);
  }
}

void SXShareMenu::setRightButtonEditing(bool editing) {
  std::weak_ptr<SXShareMenu> weak = selfAs<SXShareMenu>();
  if (editing) {
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done, [weak](ui::BarButtonItem&) {
          if (auto menu = weak.lock()) menu->save();
        }));
  } else {
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Edit, [weak](ui::BarButtonItem&) {
          if (auto menu = weak.lock()) menu->edit();
        }));
  }
}

void SXShareMenu::viewDidDisappear(bool animated) {
  TableViewController::viewDidDisappear(animated);
  SX::currentHelper()->viewWasDismissed();
}

void SXShareMenu::setItem(Ref<SXItem> item) {
  item_ = std::move(item);
  rebuildTableDataAnimated(false);
}

std::vector<std::string> SXShareMenu::storedExclusions() {
  std::vector<std::string> names;
  auto stored = UserDefaults::standardUserDefaults()->objectForKey(kSXExcludedKey);
  if (auto array = dyn<Array>(stored)) {
    for (const auto& value : array->objects()) {
      if (auto name = dyn<String>(value)) names.push_back(name->utf8());
    }
  } else if (auto dictionary = dyn<Dictionary>(stored)) {
    dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
      if (auto name = dyn<String>(key)) names.push_back(name->utf8());
      return true;
    });
  }
  return names;
}

bool SXShareMenu::isExcluded(const std::string& className) const {
  return std::find(exclusions_.begin(), exclusions_.end(), className) != exclusions_.end();
}

Ref<MutableArray> SXShareMenu::section(const std::string& key) const {
  auto rows = MutableArray::make();
  auto list = SX::sharersDictionary();
  auto names = list ? dyn<Array>(list->objectForKey(key)) : nullptr;
  if (!names) return rows;
  std::int32_t type = item_ ? item_->shareType : SXShareTypeUndefined;
  std::vector<std::pair<std::string, std::string>> found;  // title, class name
  for (const auto& value : names->objects()) {
    auto name = dyn<String>(value);
    auto sharer = name ? SXSharer::sharerNamed(name->utf8()) : nullptr;
    if (!sharer || !sharer->canShare() || !sharer->canShareType(type)) continue;
    found.emplace_back(sharer->sharerTitle(), name->utf8());
  }
  if (!found.empty() && SXConfigBool("shareMenuAlphabeticalOrder")) sortTitles(found);
  for (const auto& [title, className] : found) {
    rows->addObject(Dictionary::make({{kClassNameKey, String::make(className)}, {kNameKey, String::make(title)}}));
  }
  return rows;
}

void SXShareMenu::rebuildTableDataAnimated(bool animated) {
  auto table = tableView();
  table->setAllowsSelectionDuringEditing(true);
  const auto shown = rowNames(tableData_);
  tableData_ = MutableArray::make();
  for (const char* key : kSectionKeys) tableData_->addObject(section(key));
  // While editing, the switches are the working copy; otherwise the stored choice counts.
  if (!isEditing()) exclusions_ = storedExclusions();
  if (isEditing() && !animated) {
    table->reloadData();
    return;
  }
  std::vector<Ref<IndexPath>> noted;
  for (std::size_t s = 0; s < tableData_->count(); ++s) {
    auto rows = dyn<MutableArray>(tableData_->objectAtIndex(s));
    for (std::size_t r = 0; r < rows->count(); ++r) {
      if (isExcluded(rowClassName(dyn<Dictionary>(rows->objectAtIndex(r))))) noted.push_back(IndexPath::forRow(r, s));
    }
  }
  // The rows the switched-off ones are inserted into (or deleted from) must be the rows shown:
  // a service that came or went since they were loaded (an account added, a permission changed)
  // makes a batch of the switched-off rows alone wrong, and then the table is simply reloaded.
  auto before = rowNames(tableData_);
  if (isEditing()) {
    for (auto it = noted.rbegin(); it != noted.rend(); ++it)
      before[(*it)->section()].erase(before[(*it)->section()].begin() + static_cast<std::ptrdiff_t>((*it)->row()));
  }
  const bool batchFits = before == shown;
  if (!isEditing()) {
    for (auto it = noted.rbegin(); it != noted.rend(); ++it) {
      dyn<MutableArray>(tableData_->objectAtIndex((*it)->section()))->removeObjectAtIndex((*it)->row());
    }
  }
  if (!animated || noted.empty() || !batchFits) {
    table->reloadData();
    return;
  }
  table->beginUpdates();
  if (isEditing()) {
    table->insertRowsAtIndexPaths(noted, ui::TableViewRowAnimation::Fade);
  } else {
    table->deleteRowsAtIndexPaths(noted, ui::TableViewRowAnimation::Fade);
  }
  table->endUpdates();
  // Switches and headers follow the new mode.
  table->reloadData();
}

Ref<Dictionary> SXShareMenu::rowDataAtIndexPath(const Ref<IndexPath>& indexPath) const {
  if (!indexPath || indexPath->section() >= tableData_->count()) return nullptr;
  auto rows = dyn<Array>(tableData_->objectAtIndex(indexPath->section()));
  if (!rows || indexPath->row() >= rows->count()) return nullptr;
  return dyn<Dictionary>(rows->objectAtIndex(indexPath->row()));
}

std::size_t SXShareMenu::numberOfSectionsInTableView(ui::TableView&) { return tableData_->count(); }

std::size_t SXShareMenu::tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) {
  if (section >= tableData_->count()) return 0;
  return dyn<Array>(tableData_->objectAtIndex(section))->count();
}

Ref<ui::TableViewCell> SXShareMenu::tableViewCellForRowAtIndexPath(ui::TableView& tableView,
                                                                  const Ref<IndexPath>& indexPath) {
  auto cell = tableView.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) {
    if (auto name = SXConfigString("SXShareMenuCellSubclass")) {
      if (const ClassInfo* info = classNamed(*name)) cell = dyn<ui::TableViewCell>(info->create());
    }
    if (!cell) cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, std::string("Cell"));
  }
  auto row = rowDataAtIndexPath(indexPath);
  cell->textLabel()->setText(row ? row->stringForKey(kNameKey) : std::nullopt);
  cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
  if (isEditing()) {
    auto toggle = ui::Switch::make();
    toggle->setUserInteractionEnabled(false);  // the row's tap flips it
    toggle->setOn(!isExcluded(rowClassName(row)));
    cell->setAccessoryView(toggle);
  } else {
    cell->setAccessoryView(nullptr);
  }
  return cell;
}

std::optional<std::string> SXShareMenu::tableViewTitleForHeaderInSection(ui::TableView& tableView,
                                                                         std::size_t section) {
  if (tableViewNumberOfRowsInSection(tableView, section) == 0) return std::nullopt;
  return SXLocalizedText(section == 0 ? "Actions" : "Services");
}

ui::TableViewCellEditingStyle SXShareMenu::tableViewEditingStyleForRowAtIndexPath(ui::TableView&,
                                                                                  const Ref<IndexPath>&) {
  return ui::TableViewCellEditingStyle::None;
}

bool SXShareMenu::tableViewShouldIndentWhileEditingRowAtIndexPath(ui::TableView&, const Ref<IndexPath>&) {
  return false;
}

void SXShareMenu::tableViewDidSelectRowAtIndexPath(ui::TableView& tableView, const Ref<IndexPath>& indexPath) {
  auto row = rowDataAtIndexPath(indexPath);
  if (!row) return;
  std::string className = rowClassName(row);
  if (isEditing()) {
    bool nowOn = isExcluded(className);
    if (nowOn) {
      exclusions_.erase(std::remove(exclusions_.begin(), exclusions_.end(), className), exclusions_.end());
    } else {
      exclusions_.push_back(className);
    }
    if (auto cell = tableView.cellForRowAtIndexPath(indexPath)) {
      if (auto toggle = dyn<ui::Switch>(cell->accessoryView())) toggle->setOn(nowOn, true);
    }
    tableView.deselectRowAtIndexPath(indexPath, true);
    return;
  }
  tableView.deselectRowAtIndexPath(indexPath, true);
  startSharerForItem(SXSharer::sharerNamed(className), item_, shareDelegate_);
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
}

void SXShareMenu::edit() {
  exclusionsBeforeEditing_ = exclusions_;
  setEditing(true, true);
  rebuildTableDataAnimated(true);
  setRightButtonEditing(true);
}

void SXShareMenu::save() {
  auto array = MutableArray::make();
  for (const auto& name : exclusions_) array->addObject(String::make(name));
  UserDefaults::standardUserDefaults()->setObject(array, kSXExcludedKey);
  // Only now, with the choice confirmed, are the services switched off logged out.
  for (const auto& name : exclusions_) {
    if (std::find(exclusionsBeforeEditing_.begin(), exclusionsBeforeEditing_.end(), name) ==
        exclusionsBeforeEditing_.end()) {
      SX::logoutOfService(name);
    }
  }
  exclusionsBeforeEditing_ = exclusions_;
  setEditing(false, true);
  rebuildTableDataAnimated(true);
  setRightButtonEditing(false);
}

void SXShareMenu::cancel() {
  if (isEditing()) {
    exclusions_ = exclusionsBeforeEditing_;
    setEditing(false, false);
    rebuildTableDataAnimated(false);
    setRightButtonEditing(false);
  }
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
}

void registerSXMenuClasses() {
  auto& registry = ClassRegistry::shared();
  registry.registerClass<SXShareMenu>("TableViewController");
  registry.registerClass<SXActionSheet>("ActionSheet");
}

}  // namespace zv
