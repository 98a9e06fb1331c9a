#pragma once
// The value picker of a multi-value row: the row's titles with a check mark on the current value.
// Tapping another title stores its value at once (and synchronizes the store) and posts
// "kAppSettingChanged"; tapping the checked title stores nothing. While shown it follows outside
// changes of the user defaults. Main thread only.

#include "platform/ui/TableViewController.h"
#include "settings/PrefsSpecifier.h"
#include "settings/PrefsViewController.h"

namespace zv {

class PrefsSpecifierValuesViewController : public ui::TableViewController, public PrefsViewController {
 public:
  static Ref<PrefsSpecifierValuesViewController> make();
  PrefsSpecifierValuesViewController();
  ~PrefsSpecifierValuesViewController() override;

  // The checked row for the current value (the store's, else the row's default); nullptr when
  // the value is not among the row's values.
  void updateCheckedItem();
  const Ref<IndexPath>& checkedItem() const { return checkedItem_; }

  const Ref<PrefsSpecifier>& currentSpecifier() const { return currentSpecifier_; }
  void setCurrentSpecifier(Ref<PrefsSpecifier> specifier) { currentSpecifier_ = std::move(specifier); }
  Ref<PrefsSettingsReader> settingsReader() override { return settingsReader_; }
  void setSettingsReader(Ref<PrefsSettingsReader> reader) override { settingsReader_ = std::move(reader); }
  // Made on first use over the standard user defaults when none was given.
  std::shared_ptr<PrefsSettingsStore> settingsStore() override;
  void setSettingsStore(std::shared_ptr<PrefsSettingsStore> store) override { settingsStore_ = std::move(store); }

  void loadView() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }
  ui::Size contentSizeForViewInPopover();

  std::size_t numberOfSectionsInTableView(ui::TableView&) override { return 1; }
  std::size_t tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) override;
  std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, std::size_t section) override;
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView& tableView, const Ref<IndexPath>& indexPath) override;
  void tableViewDidSelectRowAtIndexPath(ui::TableView& tableView, const Ref<IndexPath>& indexPath) override;
  void selectCell(ui::TableViewCell& cell);
  void deselectCell(ui::TableViewCell& cell);
  // Recomputes the checked row and reloads when it moved.
  void userDefaultsDidChange();

  bool respondsToSelector(std::string_view selector) const override { return ViewController::respondsToSelector(selector); }

 private:
  Ref<PrefsSpecifier> currentSpecifier_;
  Ref<IndexPath> checkedItem_;
  Ref<PrefsSettingsReader> settingsReader_;
  std::shared_ptr<PrefsSettingsStore> settingsStore_;
  ObjectPtr defaultsObservation_;
};

}  // namespace zv
