#include "settings/PrefsAppSettingsViewController.h"

#include <algorithm>
#include <set>
#include <vector>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/Perform.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/NavigationController.h"
#include "platform/graphics/Image.h"
#include "settings/PrefsAppSettingsWebViewController.h"
#include "settings/PrefsPSSliderSpecifierViewCell.h"
#include "settings/PrefsPSTextFieldSpecifierViewCell.h"
#include "settings/PrefsPSTitleValueSpecifierViewCell.h"
#include "settings/PrefsSettingsStoreUserDefaults.h"
#include "settings/PrefsSpecifierValuesViewController.h"

namespace zv {

using namespace ui;

namespace {

constexpr const char* kViewName = "ViewName";
constexpr const char* kViewControllerEntry = "viewController";

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

TextAlignment uiAlignment(PrefsTextAlignment alignment) { return static_cast<TextAlignment>(alignment); }

KeyboardType uiKeyboard(PrefsKeyboardType type) { return static_cast<KeyboardType>(type); }

// A section or a row as the hidden-keys animation tells them apart: by the row dictionary of
// the description (the group row for a section, nullptr for a section without heading).
struct SectionShape {
  const Object* id = nullptr;
  std::vector<const Object*> rows;
};

std::vector<SectionShape> shapeOf(const PrefsSettingsReader& reader) {
  std::vector<SectionShape> shapes;
  if (!reader.dataSource()) return shapes;
  for (const auto& item : *reader.dataSource()) {
    SectionShape shape;
    auto section = dyn<Array>(item);
    if (!section) continue;
    for (const auto& element : *section) {
      if (auto specifier = dyn<PrefsSpecifier>(element))
        shape.rows.push_back(specifier->specifierDict().get());
      else
        shape.id = element.get();
    }
    shapes.push_back(std::move(shape));
  }
  return shapes;
}

std::optional<std::size_t> findSection(const std::vector<SectionShape>& shapes, const Object* id) {
  for (std::size_t i = 0; i < shapes.size(); ++i)
    if (shapes[i].id == id) return i;
  return std::nullopt;
}

}  // namespace

PrefsAppSettingsViewController::PrefsAppSettingsViewController(TableViewStyle style)
    : TableViewController(TableViewStyle::Grouped) {
  setUp(true, style);
}

PrefsAppSettingsViewController::PrefsAppSettingsViewController(std::optional<std::string> nibName, Ref<Bundle>)
    : TableViewController(TableViewStyle::Grouped) {
  if (nibName) {
    log(LogLevel::Warning, std::string("initWithNibName:bundle:") + " is now deprecated, we are moving away from nibs.");
    setUp(true, TableViewStyle::Grouped);
  }
}

void PrefsAppSettingsViewController::setUp(bool withFlags, TableViewStyle style) {
  if (style != TableViewStyle::Grouped)
    log(LogLevel::Warning, "only UITableViewStyleGrouped style is supported, forcing it.");
  showDoneButton_ = withFlags;
  showCreditsFooter_ = withFlags;
}

PrefsAppSettingsViewController::~PrefsAppSettingsViewController() {
  // Delayed reloads hold the screen weakly; observations die with it.
}

Ref<PrefsAppSettingsViewController> PrefsAppSettingsViewController::make() {
  return makeWithStyle(TableViewStyle::Grouped);
}

Ref<PrefsAppSettingsViewController> PrefsAppSettingsViewController::makeWithStyle(TableViewStyle style) {
  return std::make_shared<PrefsAppSettingsViewController>(style);
}

Ref<PrefsAppSettingsViewController> PrefsAppSettingsViewController::makeWithNibName(std::optional<std::string> nibName,
                                                                                   Ref<Bundle> bundle) {
  return std::make_shared<PrefsAppSettingsViewController>(std::move(nibName), std::move(bundle));
}

Ref<PrefsSettingsReader> PrefsAppSettingsViewController::settingsReader() {
  if (!settingsReader_) {
    settingsReader_ = PrefsSettingsReader::makeWithFile(file());
    if (hiddenKeys_) settingsReader_->setHiddenKeys(hiddenKeys_);
  }
  return settingsReader_;
}

std::shared_ptr<PrefsSettingsStore> PrefsAppSettingsViewController::settingsStore() {
  if (!settingsStore_) settingsStore_ = PrefsSettingsStoreUserDefaults::make();
  return settingsStore_;
}

void PrefsAppSettingsViewController::setFile(std::string file) {
  file_ = std::move(file);
  if (isViewLoaded()) tableView()->setContentOffset({0, 0}, false);
  settingsReader_ = nullptr;
  hiddenKeys_ = nullptr;
  shownValues_ = nullptr;
  if (isViewLoaded()) tableView()->reloadData();
}

bool PrefsAppSettingsViewController::isPad() const {
  return ApplicationEnvironment::shared().userInterfaceIdiom() == UserInterfaceIdiom::Pad;
}

Ref<MutableArray> PrefsAppSettingsViewController::viewList() {
  if (!viewList_) {
    viewList_ = MutableArray::make();
    viewList_->addObject(Dictionary::make({{kViewName, box("PrefsSpecifierValuesView")}}));
    viewList_->addObject(Dictionary::make({{kViewName, box("PrefsAppSettingsView")}}));
  }
  return viewList_;
}

Ref<PrefsSpecifierValuesViewController> PrefsAppSettingsViewController::cachedValuePicker() const {
  if (!viewList_) return nullptr;
  return dyn<PrefsSpecifierValuesViewController>(viewList_->objectAtIndexAs<Dictionary>(0)->objectForKey(kViewControllerEntry));
}

Ref<PrefsAppSettingsViewController> PrefsAppSettingsViewController::cachedChildPane() const {
  if (!viewList_) return nullptr;
  return dyn<PrefsAppSettingsViewController>(viewList_->objectAtIndexAs<Dictionary>(1)->objectForKey(kViewControllerEntry));
}

Ref<PrefsAppSettingsViewController> PrefsAppSettingsViewController::newChildPane() {
  // A new screen of this screen's own class, so that a subclass's behaviour (orientation, logging,
  // its own delegate) holds in its panes too; a class not made by name falls back to this one.
  if (const ClassInfo* info = ClassRegistry::shared().classNamed(className()); info && info->hasFactory())
    if (auto child = dyn<PrefsAppSettingsViewController>(info->create())) return child;
  return PrefsAppSettingsViewController::make();
}

void PrefsAppSettingsViewController::observe(std::string_view name, const ObjectPtr& object,
                                             std::function<void()> action) {
  NotificationCenter::defaultCenter()->addObserver(self(), name, object,
                                                   [action = std::move(action)](const auto&) { action(); });
}

// Life cycle ------------------------------------------------------------------------------

void PrefsAppSettingsViewController::viewDidLoad() {
  TableViewController::viewDidLoad();
  auto table = tableView();
  if (isPad()) table->setSeparatorStyle(TableViewCellSeparatorStyle::SingleLineEtched);
  std::weak_ptr<TableView> weakTable = table;
  auto tap = TapGestureRecognizer::make([weakTable](GestureRecognizer&) {
    if (auto t = weakTable.lock()) t->endEditing(true);
  });
  tap->setCancelsTouchesInView(false);
  table->addGestureRecognizer(tap);
}

void PrefsAppSettingsViewController::viewDidUnload() {
  TableViewController::viewDidUnload();
  setView(nullptr);
  viewList_ = nullptr;
}

void PrefsAppSettingsViewController::viewWillAppear(bool animated) {
  auto table = tableView();
  if (auto selected = table->indexPathForSelectedRow()) {
    table->reloadRowsAtIndexPaths({selected}, TableViewRowAnimation::None);
    table->selectRowAtIndexPath(selected, false, TableViewScrollPosition::None);
  }
  TableViewController::viewWillAppear(animated);
  navigationItem()->setRightBarButtonItem(nullptr);
  if (showDoneButton_) {
    std::weak_ptr<PrefsAppSettingsViewController> weak = selfAs<PrefsAppSettingsViewController>();
    navigationItem()->setRightBarButtonItem(BarButtonItem::withSystemItem(BarButtonSystemItem::Done, [weak](auto&) {
      if (auto screen = weak.lock()) screen->dismiss();
    }));
  }
  if (!title()) setTitle(Bundle::mainBundle()->localizedStringForKey("Settings", "Settings"));
  if (dyn<PrefsSettingsStoreUserDefaults>(std::dynamic_pointer_cast<Object>(settingsStore()))) {
    std::weak_ptr<PrefsAppSettingsViewController> weak = selfAs<PrefsAppSettingsViewController>();
    NotificationCenter::defaultCenter()->removeObserver(self(), kUserDefaultsDidChangeNotification, nullptr);
    observe(kUserDefaultsDidChangeNotification, nullptr, [weak] {
      if (auto screen = weak.lock()) screen->userDefaultsDidChange();
    });
    userDefaultsDidChange();
  }
}

void PrefsAppSettingsViewController::viewDidAppear(bool animated) {
  TableViewController::viewDidAppear(animated);
  auto center = NotificationCenter::defaultCenter();
  ObjectPtr application = Application::sharedApplication();
  std::weak_ptr<PrefsAppSettingsViewController> weak = selfAs<PrefsAppSettingsViewController>();
  for (const char* name : {kApplicationDidEnterBackgroundNotification, kApplicationWillEnterForegroundNotification,
                           kApplicationWillTerminateNotification})
    center->removeObserver(self(), name, application);
  observe(kApplicationDidEnterBackgroundNotification, application, [weak] {
    if (auto screen = weak.lock()) screen->synchronizeSettings();
  });
  observe(kApplicationWillEnterForegroundNotification, application, [weak] {
    if (auto screen = weak.lock()) screen->reload();
  });
  observe(kApplicationWillTerminateNotification, application, [weak] {
    if (auto screen = weak.lock()) screen->synchronizeSettings();
  });
}

void PrefsAppSettingsViewController::viewWillDisappear(bool animated) {
  cancelPreviousPerformRequests(this);
  TableViewController::viewWillDisappear(animated);
}

void PrefsAppSettingsViewController::viewDidDisappear(bool animated) {
  NotificationCenter::defaultCenter()->removeObserver(self());
  if (currentFirstResponder_) currentFirstResponder_->resignFirstResponder();
  TableViewController::viewDidDisappear(animated);
}

Size PrefsAppSettingsViewController::contentSizeForViewInPopover() { return view()->sizeThatFits({320, 2000}); }

// Actions ------------------------------------------------------------------------------

void PrefsAppSettingsViewController::dismiss() {
  settingsStore()->synchronize();
  if (auto delegate = delegate_.lock()) delegate->settingsViewControllerDidEnd(*this);
}

void PrefsAppSettingsViewController::synchronizeSettings() { settingsStore()->synchronize(); }

void PrefsAppSettingsViewController::reload() {
  std::weak_ptr<PrefsAppSettingsViewController> weak = selfAs<PrefsAppSettingsViewController>();
  performAfterDelay(0.5, [weak] {
    if (auto screen = weak.lock(); screen && screen->isViewLoaded()) screen->tableView()->reloadData();
  }, {kDefaultRunLoopMode}, this);
}

void PrefsAppSettingsViewController::postChange(const std::string& key, const ObjectPtr& value) {
  auto info = MutableDictionary::make();
  if (value) info->setObject(value, key);
  NotificationCenter::defaultCenter()->postNotificationName(kAppSettingChanged, box(key), info);
}

void PrefsAppSettingsViewController::toggledValue(PrefsSwitch& sender) {
  if (!sender.key()) return;
  const std::string key = *sender.key();
  auto specifier = settingsReader()->specifierForKey(key);
  auto store = settingsStore();
  ObjectPtr chosen = specifier ? (sender.isOn() ? specifier->trueValue() : specifier->falseValue()) : nullptr;
  if (chosen)
    store->setObject(chosen, key);
  else
    store->setBool(sender.isOn(), key);
  postChange(key, store->objectForKey(key));
}

void PrefsAppSettingsViewController::sliderChangedValue(PrefsSlider& sender) {
  if (!sender.key()) return;
  float value = static_cast<float>(sender.value());
  settingsStore()->setFloat(value, *sender.key());
  postChange(*sender.key(), box(value));
}

void PrefsAppSettingsViewController::textChanged(PrefsTextField& sender) {
  if (!sender.key()) return;
  auto text = box(sender.text());
  settingsStore()->setObject(text, *sender.key());
  postChange(*sender.key(), text);
}

Ref<Dictionary> PrefsAppSettingsViewController::defaultsSnapshot() {
  auto store = dyn<PrefsSettingsStoreUserDefaults>(std::dynamic_pointer_cast<Object>(settingsStore()));
  auto defaults = store ? store->defaults() : UserDefaults::standardUserDefaults();
  return defaults->dictionaryRepresentation();
}

void PrefsAppSettingsViewController::userDefaultsDidChange() {
  auto snapshot = defaultsSnapshot();
  auto previous = shownValues_;
  shownValues_ = snapshot;
  // Without an earlier look the table is loading every row afresh.
  if (!previous || !isViewLoaded()) return;
  auto reader = settingsReader();
  std::set<std::pair<std::size_t, std::size_t>> seen;
  std::vector<Ref<IndexPath>> paths;
  auto consider = [&](const ObjectPtr& key) {
    auto name = stringValueOf(key);
    if (!name || zv::isEqual(snapshot->objectForKey(*key), previous->objectForKey(*key))) return;
    auto path = reader->indexPathForKey(*name);
    if (!path) return;
    auto specifier = reader->specifierForKey(*name);
    if (specifier && specifier->isType(kPrefsCustomViewSpecifier)) return;
    if (seen.insert({path->section(), path->row()}).second) paths.push_back(path);
  };
  // Keys removed since count as changed too: their rows fall back to the defaults.
  for (const auto& [key, value] : snapshot->entries()) consider(key);
  for (const auto& [key, value] : previous->entries()) consider(key);

  auto table = tableView();
  std::erase_if(paths, [&](const Ref<IndexPath>& path) {
    auto cell = dyn<PrefsPSTextFieldSpecifierViewCell>(table->cellForRowAtIndexPath(path));
    return cell && cell->textField()->isEditing();
  });
  if (!paths.empty()) table->reloadRowsAtIndexPaths(paths, TableViewRowAnimation::None);
}

// Hidden keys ------------------------------------------------------------------------------

void PrefsAppSettingsViewController::setHiddenKeys(Ref<Set> keys, bool animated) {
  if (keys == hiddenKeys_) return;
  hiddenKeys_ = keys;
  if (!animated || !isViewLoaded()) {
    if (settingsReader_ || isViewLoaded()) settingsReader()->setHiddenKeys(keys);
    if (isViewLoaded()) tableView()->reloadData();
  } else {
    animateHiddenKeys(keys);
  }
  if (auto child = cachedChildPane()) child->setHiddenKeys(keys, animated);
}

void PrefsAppSettingsViewController::animateHiddenKeys(const Ref<Set>& keys) {
  auto table = tableView();
  auto reader = settingsReader();
  table->beginUpdates();  // the table takes its counts before the sections change
  auto before = shapeOf(*reader);
  reader->setHiddenKeys(keys);
  auto after = shapeOf(*reader);

  std::set<std::size_t> deletedSections, insertedSections;
  std::vector<Ref<IndexPath>> deletedRows, insertedRows;
  for (std::size_t i = 0; i < before.size(); ++i) {
    auto j = findSection(after, before[i].id);
    if (!j) {
      deletedSections.insert(i);
      continue;
    }
    const auto& newRows = after[*j].rows;
    const auto& oldRows = before[i].rows;
    for (std::size_t r = 0; r < oldRows.size(); ++r)
      if (std::find(newRows.begin(), newRows.end(), oldRows[r]) == newRows.end())
        deletedRows.push_back(IndexPath::forRow(r, i));
    for (std::size_t r = 0; r < newRows.size(); ++r)
      if (std::find(oldRows.begin(), oldRows.end(), newRows[r]) == oldRows.end())
        insertedRows.push_back(IndexPath::forRow(r, *j));
  }
  for (std::size_t j = 0; j < after.size(); ++j)
    if (!findSection(before, after[j].id)) insertedSections.insert(j);

  if (!deletedSections.empty()) table->deleteSections(deletedSections, TableViewRowAnimation::Top);
  if (!deletedRows.empty()) table->deleteRowsAtIndexPaths(deletedRows, TableViewRowAnimation::Top);
  if (!insertedSections.empty()) table->insertSections(insertedSections, TableViewRowAnimation::Top);
  if (!insertedRows.empty()) table->insertRowsAtIndexPaths(insertedRows, TableViewRowAnimation::Top);
  table->endUpdates();
}

// Table ------------------------------------------------------------------------------

std::size_t PrefsAppSettingsViewController::numberOfSectionsInTableView(TableView&) {
  return settingsReader()->numberOfSections();
}

std::size_t PrefsAppSettingsViewController::tableViewNumberOfRowsInSection(TableView&, std::size_t section) {
  return settingsReader()->numberOfRowsForSection(section);
}

double PrefsAppSettingsViewController::tableViewHeightForRowAtIndexPath(TableView& tableView,
                                                                        const Ref<IndexPath>& indexPath) {
  auto specifier = settingsReader()->specifierForIndexPath(*indexPath);
  if (specifier && specifier->isType(kPrefsCustomViewSpecifier)) {
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("tableViewHeightForSpecifier"))
      return delegate->tableViewHeightForSpecifier(tableView, specifier);
    return 0;
  }
  return tableView.rowHeight();
}

std::optional<std::string> PrefsAppSettingsViewController::tableViewTitleForHeaderInSection(TableView&,
                                                                                          std::size_t section) {
  auto title = settingsReader()->titleForSection(section);
  return nonEmpty(title) ? title : std::nullopt;
}

Ref<View> PrefsAppSettingsViewController::tableViewViewForHeaderInSection(TableView& tableView, std::size_t section) {
  auto delegate = delegate_.lock();
  if (delegate && delegate->respondsToSelector("settingsViewControllerTableViewViewForHeaderForSection"))
    return delegate->settingsViewControllerTableViewViewForHeaderForSection(*this, tableView, section);
  return nullptr;
}

double PrefsAppSettingsViewController::tableViewHeightForHeaderInSection(TableView& tableView, std::size_t section) {
  auto delegate = delegate_.lock();
  if (tableViewViewForHeaderInSection(tableView, section) && delegate &&
      delegate->respondsToSelector("settingsViewControllerTableViewHeightForHeaderForSection")) {
    double height = delegate->settingsViewControllerTableViewHeightForHeaderForSection(*this, tableView, section);
    if (height != 0) return height;
  }
  auto title = tableViewTitleForHeaderInSection(tableView, section);
  if (!title) return 0;
  Size size = sizeWithFont(*title, *Font::boldSystemFontOfSize(Font::labelFontSize()),
                           Size{tableView.bounds().width() - 38, 1e9}, LineBreakMode::WordWrap);
  return size.height + 15;
}

std::optional<std::string> PrefsAppSettingsViewController::tableViewTitleForFooterInSection(TableView&,
                                                                                          std::size_t section) {
  auto reader = settingsReader();
  auto footer = reader->footerTextForSection(section);
  if (showCreditsFooter_ && section + 1 == reader->numberOfSections()) {
    if (nonEmpty(footer)) return *footer + "\n\n" + kPrefsCreditsFooter;
    return std::string(kPrefsCreditsFooter);
  }
  return nonEmpty(footer) ? footer : std::nullopt;
}

Ref<TableViewCell> PrefsAppSettingsViewController::newCellForIdentifier(const std::string& identifier) {
  Ref<TableViewCell> cell;
  std::weak_ptr<PrefsAppSettingsViewController> weak = selfAs<PrefsAppSettingsViewController>();
  if (identifier == kPrefsPSToggleSwitchSpecifier) {
    cell = TableViewCell::make(TableViewCellStyle::Default, identifier);
    auto toggle = PrefsSwitch::make(Rect(0, 0, 79, 27));
    toggle->addAction(ControlEventValueChanged, [weak](Control& sender) {
      if (auto screen = weak.lock()) screen->toggledValue(dynamic_cast<PrefsSwitch&>(sender));
    });
    cell->setAccessoryView(toggle);
    cell->setSelectionStyle(TableViewCellSelectionStyle::None);
  } else if (identifier == kPrefsPSMultiValueSpecifier || identifier == kPrefsPSChildPaneSpecifier ||
             identifier == kPrefsMailComposeSpecifier) {
    cell = PrefsPSTitleValueSpecifierViewCell::make(TableViewCellStyle::Value1, identifier);
    cell->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
  } else if (identifier == kPrefsPSTitleValueSpecifier) {
    cell = PrefsPSTitleValueSpecifierViewCell::make(TableViewCellStyle::Value1, identifier);
  } else if (identifier == kPrefsPSTextFieldSpecifier) {
    auto textCell = PrefsPSTextFieldSpecifierViewCell::make(TableViewCellStyle::Default, identifier);
    textCell->textField()->addAction(ControlEventEditingChanged, [weak](Control& sender) {
      if (auto screen = weak.lock()) screen->textChanged(dynamic_cast<PrefsTextField&>(sender));
    });
    cell = textCell;
  } else if (identifier == kPrefsPSSliderSpecifier) {
    auto sliderCell = PrefsPSSliderSpecifierViewCell::make(TableViewCellStyle::Default, identifier);
    sliderCell->slider()->addAction(ControlEventValueChanged, [weak](Control& sender) {
      if (auto screen = weak.lock()) screen->sliderChangedValue(dynamic_cast<PrefsSlider&>(sender));
    });
    cell = sliderCell;
  } else {
    cell = TableViewCell::make(TableViewCellStyle::Default, identifier);
  }
  cell->textLabel()->setMinimumFontSize(12);
  if (cell->detailTextLabel()) cell->detailTextLabel()->setMinimumFontSize(12);
  return cell;
}

ObjectPtr PrefsAppSettingsViewController::currentValue(const PrefsSpecifier& specifier) {
  ObjectPtr value;
  if (auto key = specifier.key()) value = settingsStore()->objectForKey(*key);
  return value ? value : specifier.defaultValue();
}

Ref<TableViewCell> PrefsAppSettingsViewController::tableViewCellForRowAtIndexPath(TableView& tableView,
                                                                                const Ref<IndexPath>& indexPath) {
  auto specifier = settingsReader()->specifierForIndexPath(*indexPath);
  if (!specifier) return TableViewCell::make(TableViewCellStyle::Default, std::nullopt);
  const std::string type = specifier->type().value_or("");
  if (type == kPrefsCustomViewSpecifier) {
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("tableViewCellForSpecifier")) {
      auto cell = delegate->tableViewCellForSpecifier(tableView, specifier);
      if (!cell) Exception::raise("NSInternalInconsistencyException", "delegate must return a UITableViewCell for custom cell types");
      return cell;
    }
  }
  auto cell = tableView.dequeueReusableCellWithIdentifier(type);
  if (!cell) cell = newCellForIdentifier(type);
  auto title = cell->textLabel();
  auto detail = cell->detailTextLabel();
  auto key = specifier->key();
  cell->setUserInteractionEnabled(true);
  if (detail) detail->setText(std::nullopt);

  if (type == kPrefsPSToggleSwitchSpecifier) {
    title->setText(specifier->title());
    bool on;
    if (ObjectPtr stored = key ? settingsStore()->objectForKey(*key) : nullptr) {
      if (zv::isEqual(stored, specifier->trueValue()))
        on = true;
      else if (zv::isEqual(stored, specifier->falseValue()))
        on = false;
      else
        on = boolValueOf(stored);
    } else {
      on = specifier->defaultBoolValue();
    }
    if (auto toggle = dyn<PrefsSwitch>(cell->accessoryView())) {
      toggle->setOn(on);
      toggle->setKey(key);
    }
  } else if (type == kPrefsPSMultiValueSpecifier) {
    title->setText(specifier->title());
    if (detail) detail->setText(specifier->titleForCurrentValue(currentValue(*specifier)));
  } else if (type == kPrefsPSTitleValueSpecifier) {
    title->setText(specifier->title());
    ObjectPtr value = currentValue(*specifier);
    bool listed = specifier->multipleValues() || specifier->multipleTitles();
    if (detail) detail->setText(listed ? specifier->titleForCurrentValue(value) : stringValueOf(value));
    cell->setUserInteractionEnabled(false);
  } else if (type == kPrefsPSTextFieldSpecifier) {
    title->setText(specifier->title());
    auto field = dyn<PrefsPSTextFieldSpecifierViewCell>(cell)->textField();
    ObjectPtr stored = key ? settingsStore()->objectForKey(*key) : nullptr;
    field->setText(stored ? stringValueOf(stored) : specifier->defaultStringValue());
    field->setKey(key);
    field->setDelegate(selfAs<PrefsAppSettingsViewController>());
    field->setSecureTextEntry(specifier->isSecure());
    field->setKeyboardType(uiKeyboard(specifier->keyboardType()));
    field->setAutocapitalizationType(static_cast<TextAutocapitalizationType>(specifier->autocapitalizationType()));
    field->setAutocorrectionType(specifier->isSecure() ? TextAutocorrectionType::No
                                                       : static_cast<TextAutocorrectionType>(specifier->autoCorrectionType()));
    field->setTextAlignment(uiAlignment(specifier->textAlignment()));
    field->setAdjustsFontSizeToFitWidth(specifier->adjustsFontSizeToFitWidth());
  } else if (type == kPrefsPSSliderSpecifier) {
    auto sliderCell = dyn<PrefsPSSliderSpecifierViewCell>(cell);
    auto reader = settingsReader();
    if (nonEmpty(specifier->minimumValueImage()))
      sliderCell->minImage()->setImage(graphics::Image::imageWithContentsOfFile(reader->pathForImageNamed(*specifier->minimumValueImage())));
    if (nonEmpty(specifier->maximumValueImage()))
      sliderCell->maxImage()->setImage(graphics::Image::imageWithContentsOfFile(reader->pathForImageNamed(*specifier->maximumValueImage())));
    auto slider = sliderCell->slider();
    slider->setMinimumValue(specifier->minimumValue());
    slider->setMaximumValue(specifier->maximumValue());
    slider->setValue(floatValueOf(currentValue(*specifier)));
    slider->setKey(key);
    sliderCell->setNeedsLayout();
  } else if (type == kPrefsOpenURLSpecifier || type == kPrefsMailComposeSpecifier) {
    title->setText(specifier->title());
    if (detail) detail->setText(specifier->defaultStringValue());
  } else if (type == kPrefsButtonSpecifier) {
    ObjectPtr stored = key ? settingsStore()->objectForKey(*key) : nullptr;
    if (auto text = dyn<String>(stored))
      title->setText(settingsReader()->titleForStringId(text->utf8()));
    else
      title->setText(specifier->title());
  } else {
    title->setText(specifier->title());
  }

  if (auto name = specifier->cellImageName()) {
    cell->imageView()->setImage(graphics::Image::imageNamed(*name));
    cell->imageView()->setHighlightedImage(graphics::Image::imageNamed(*specifier->highlightedCellImageName()));
  } else {
    cell->imageView()->setImage(nullptr);
    cell->imageView()->setHighlightedImage(nullptr);
  }
  auto alignment = uiAlignment(specifier->textAlignment());
  if (type != kPrefsPSMultiValueSpecifier && type != kPrefsPSTitleValueSpecifier && type != kPrefsPSTextFieldSpecifier)
    title->setTextAlignment(alignment);
  if (detail) detail->setTextAlignment(alignment);
  title->setAdjustsFontSizeToFitWidth(specifier->adjustsFontSizeToFitWidth());
  if (detail) detail->setAdjustsFontSizeToFitWidth(specifier->adjustsFontSizeToFitWidth());
  return cell;
}

Ref<IndexPath> PrefsAppSettingsViewController::tableViewWillSelectRowAtIndexPath(TableView&,
                                                                               const Ref<IndexPath>& indexPath) {
  auto specifier = settingsReader()->specifierForIndexPath(*indexPath);
  if (specifier && (specifier->isType(kPrefsPSToggleSwitchSpecifier) || specifier->isType(kPrefsPSSliderSpecifier)))
    return nullptr;
  return indexPath;
}

void PrefsAppSettingsViewController::tableViewDidSelectRowAtIndexPath(TableView& tableView,
                                                                    const Ref<IndexPath>& indexPath) {
  auto specifier = settingsReader()->specifierForIndexPath(*indexPath);
  if (!specifier) return;
  const std::string type = specifier->type().value_or("");
  if (type == kPrefsPSMultiValueSpecifier) {
    openMultiValue(specifier);
  } else if (type == kPrefsPSTextFieldSpecifier) {
    if (auto cell = dyn<PrefsPSTextFieldSpecifierViewCell>(tableView.cellForRowAtIndexPath(indexPath)))
      cell->textField()->becomeFirstResponder();
  } else if (type == kPrefsPSChildPaneSpecifier) {
    openChildPane(tableView, indexPath, specifier);
  } else if (type == kPrefsOpenURLSpecifier) {
    tableView.deselectRowAtIndexPath(indexPath, true);
    if (auto url = URL::make(specifier->file().value_or(""))) Application::sharedApplication()->openURL(url);
  } else if (type == kPrefsButtonSpecifier) {
    tableView.deselectRowAtIndexPath(indexPath, true);
    tapButton(specifier);
  } else if (type == kPrefsMailComposeSpecifier) {
    tableView.deselectRowAtIndexPath(indexPath, true);
    composeMail(specifier);
  } else if (type == kPrefsCustomViewSpecifier) {
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToSelector("settingsViewControllerTableViewDidSelectCustomViewSpecifier"))
      delegate->settingsViewControllerTableViewDidSelectCustomViewSpecifier(*this, tableView, specifier);
    else
      tableView.deselectRowAtIndexPath(indexPath, true);
  } else {
    tableView.deselectRowAtIndexPath(indexPath, true);
  }
}

void PrefsAppSettingsViewController::openMultiValue(const Ref<PrefsSpecifier>& specifier) {
  auto list = viewList();
  auto picker = cachedValuePicker();
  if (!picker) {
    picker = PrefsSpecifierValuesViewController::make();
    auto entry = dyn<MutableDictionary>(list->objectAtIndexAs<Dictionary>(0)->mutableCopy());
    entry->setObject(picker, kViewControllerEntry);
    list->replaceObjectAtIndex(0, entry);
  }
  picker->setCurrentSpecifier(specifier);
  picker->setSettingsReader(settingsReader());
  picker->setSettingsStore(settingsStore());
  if (auto navigation = navigationController()) navigation->pushViewController(picker, true);
}

void PrefsAppSettingsViewController::openChildPane(TableView& tableView, const Ref<IndexPath>& indexPath,
                                                   const Ref<PrefsSpecifier>& specifier) {
  auto navigation = navigationController();
  if (specifier->specifierDict()->stringForKey("PrefsViewControllerClass")) {
    const ClassInfo* info = specifier->viewControllerClass();
    if (!info) {
      log(LogLevel::Warning, "PrefsAppSettingsViewController: no screen class " +
                                 *specifier->specifierDict()->stringForKey("PrefsViewControllerClass"));
      tableView.deselectRowAtIndexPath(indexPath, true);
      return;
    }
    ObjectPtr instance = info->create();
    std::string selector = specifier->viewControllerSelector().value_or("init");
    if (instance && selector != "init") {
      auto initializer = info->instanceMethod(selector);
      if (!initializer) {
        log(LogLevel::Warning, "PrefsAppSettingsViewController: " + info->name() + " does not answer " + selector);
        tableView.deselectRowAtIndexPath(indexPath, true);
        return;
      }
      ObjectPtr initialized = initializer(*instance, {box(specifier->file().value_or("")), box(specifier->key().value_or(""))});
      if (initialized) instance = initialized;
    }
    auto screen = dyn<ViewController>(instance);
    if (!screen) {
      tableView.deselectRowAtIndexPath(indexPath, true);
      return;
    }
    if (auto settingsScreen = dyn<PrefsAppSettingsViewController>(screen)) settingsScreen->setDelegate(delegate_);
    if (auto prefsScreen = std::dynamic_pointer_cast<PrefsViewController>(screen)) prefsScreen->setSettingsStore(settingsStore());
    if (navigation) navigation->pushViewController(screen, true);
    return;
  }
  auto file = specifier->file();
  if (!file) {
    tableView.deselectRowAtIndexPath(indexPath, true);
    return;
  }
  auto list = viewList();
  auto child = cachedChildPane();
  if (!child) {
    child = newChildPane();
    child->setShowDoneButton(false);
    child->setSettingsStore(settingsStore());
    child->setDelegate(delegate_);
    auto entry = dyn<MutableDictionary>(list->objectAtIndexAs<Dictionary>(1)->mutableCopy());
    entry->setObject(child, kViewControllerEntry);
    list->replaceObjectAtIndex(1, entry);
  }
  child->setFile(*file);
  child->setHiddenKeys(hiddenKeys_);
  child->setTitle(specifier->title());
  child->setShowCreditsFooter(false);
  if (navigation) navigation->pushViewController(child, true);
}

void PrefsAppSettingsViewController::tapButton(const Ref<PrefsSpecifier>& specifier) {
  auto delegate = delegate_.lock();
  const std::string key = specifier->key().value_or("");
  if (delegate && delegate->respondsToSelector("settingsViewControllerButtonTappedForSpecifier")) {
    delegate->settingsViewControllerButtonTappedForSpecifier(*this, specifier);
  } else if (delegate && delegate->respondsToSelector("settingsViewControllerButtonTappedForKey")) {
    log(LogLevel::Warning,
        "PrefsKit Warning: -settingsViewController:buttonTappedForKey: is deprecated. Please use "
        "-settingsViewController:buttonTappedForSpecifier:");
    delegate->settingsViewControllerButtonTappedForKey(*this, key);
  } else if (const ClassInfo* info = specifier->buttonClass()) {
    auto action = specifier->buttonAction();
    if (action && info->respondsToSelector(*action)) {
      info->classMethod(*action)({self(), box(key)});
      log(LogLevel::Warning, "PrefsKit Warning: Using PrefsButtonSpecifier without implementing the delegate method is deprecated");
    }
  }
}

void PrefsAppSettingsViewController::composeMail(const Ref<PrefsSpecifier>& specifier) {
  auto bundle = Bundle::mainBundle();
  if (!ui::MailComposeViewController::canSendMail()) {
    auto alert = AlertView::make(
        bundle->localizedStringForKey("Mail not configured", "Mail not configured"),
        bundle->localizedStringForKey(
            "This device is not configured for sending Email. Please configure the Mail settings in the Settings app.",
            "This device is not configured for sending Email. Please configure the Mail settings in the Settings app."),
        {}, bundle->localizedStringForKey("OK", "OK"));
    alert->show();
    return;
  }
  auto composer = ui::MailComposeViewController::make();
  if (!composer) return;
  if (auto navigation = navigationController()) {
    composer->navigationBar()->setBarStyle(navigation->navigationBar()->barStyle());
    composer->navigationBar()->setTintColor(navigation->navigationBar()->tintColor());
  }
  const auto& row = *specifier->specifierDict();
  if (row.objectForKey("PrefsMailComposeSubject")) composer->setSubject(specifier->localizedObjectForKey("PrefsMailComposeSubject"));
  auto list = [&](const char* name) {
    std::vector<std::string> out;
    if (auto array = row.objectForKeyAs<Array>(name))
      for (const auto& item : *array)
        if (auto text = stringValueOf(item)) out.push_back(*text);
    return out;
  };
  if (row.objectForKey("PrefsMailComposeToRecipents")) composer->setToRecipients(list("PrefsMailComposeToRecipents"));
  if (row.objectForKey("PrefsMailComposeCcRecipents")) composer->setCcRecipients(list("PrefsMailComposeCcRecipents"));
  if (row.objectForKey("PrefsMailComposeBccRecipents")) composer->setBccRecipients(list("PrefsMailComposeBccRecipents"));
  auto delegate = delegate_.lock();
  if (auto body = specifier->localizedObjectForKey("PrefsMailComposeBody")) {
    std::optional<std::string> text = body;
    if (delegate && delegate->respondsToSelector("settingsViewControllerMailComposeBodyForSpecifier"))
      text = delegate->settingsViewControllerMailComposeBodyForSpecifier(*this, specifier);
    composer->setMessageBody(text, boolValueOf(row.objectForKey("PrefsMailComposeBodyIsHTML")));
  }
  Ref<ViewController> presenter;
  if (delegate && delegate->respondsToSelector("settingsViewControllerViewControllerForMailComposeViewForSpecifier"))
    presenter = delegate->settingsViewControllerViewControllerForMailComposeViewForSpecifier(*this, specifier);
  if (!presenter) presenter = selfAs<ViewController>();
  composer->setMailComposeDelegate(std::dynamic_pointer_cast<ui::MailComposeViewControllerDelegate>(presenter));
  presenter->presentViewController(composer, true);
}

void PrefsAppSettingsViewController::mailComposeControllerDidFinishWithResultError(ui::MailComposeViewController& controller,
                                                                                  ui::MailComposeResult result,
                                                                                  const Ref<Error>& error) {
  auto delegate = delegate_.lock();
  if (delegate && delegate->respondsToSelector("settingsViewControllerMailComposeControllerDidFinishWithResultError"))
    delegate->settingsViewControllerMailComposeControllerDidFinishWithResultError(*this, controller, result, error);
  dismissViewControllerAnimated(true);
}

// Text fields ------------------------------------------------------------------------------

bool PrefsAppSettingsViewController::textFieldShouldBeginEditing(TextField& field) {
  currentFirstResponder_ = field.selfAs<TextField>();
  return true;
}

bool PrefsAppSettingsViewController::textFieldShouldReturn(TextField& field) {
  field.resignFirstResponder();
  currentFirstResponder_ = nullptr;
  return true;
}

// Registration ------------------------------------------------------------------------------

void registerSettingsClasses() {
  auto& registry = ClassRegistry::shared();
  registry.registerClass("PrefsAppSettingsViewController", "TableViewController")
      .setFactory([] { return PrefsAppSettingsViewController::make(); });
  registry.registerClass("PrefsSpecifierValuesViewController", "TableViewController")
      .setFactory([] { return PrefsSpecifierValuesViewController::make(); });
  registry.registerClass("PrefsAppSettingsWebViewController", "ViewController")
      .setFactory([] { return std::make_shared<PrefsAppSettingsWebViewController>(); })
      .addMethod<PrefsAppSettingsWebViewController>("initWithFile:key:", [](PrefsAppSettingsWebViewController& self,
                                                                             const ClassInfo::Arguments& args) {
        self.initWithFileKey(args.size() > 0 ? stringValueOf(args[0]).value_or("") : std::string(),
                             args.size() > 1 ? stringValueOf(args[1]).value_or("") : std::string());
        return self.self();
      });
}

}  // namespace zv
