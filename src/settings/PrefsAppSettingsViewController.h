#pragma once
// The settings screen: one settings description shown as a grouped table whose rows edit values
// through a settings store. Every edit is stored at once and announced with "kAppSettingChanged"
// (object: the key; user information: key → the new value). It opens child panes, the value
// picker, screens named by a row, URLs and a prepared mail, and tells its delegate about button
// taps and the end of editing. It follows changes of the user defaults made elsewhere.
//
// Each screen remembers the values it last showed, so a value changed by another screen (or any
// other writer) is what this screen shows next, even when it was not observing at the time.
// Animated changes of the hidden keys compute their row and section updates from the sections
// before and after, so they never leave the table inconsistent.
//
// The delegate is not retained. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/system/Bundle.h"
#include "platform/ui/TableViewController.h"
#include "platform/ui/TextField.h"
#include "settings/PrefsKeyedControls.h"
#include "platform/ui/Composers.h"
#include "settings/PrefsSettingsDelegate.h"
#include "settings/PrefsViewController.h"

namespace zv {

class PrefsSpecifierValuesViewController;

inline constexpr const char* kAppSettingChanged = "kAppSettingChanged";
inline constexpr const char* kPrefsCreditsFooter = "Powered by PrefsKit";

class PrefsAppSettingsViewController : public ui::TableViewController,
                                       public PrefsViewController,
                                       public ui::TextFieldDelegate,
                                       public ui::MailComposeViewControllerDelegate {
 public:
  // init: the grouped screen with the Done button and the credits footer.
  static Ref<PrefsAppSettingsViewController> make();
  // initWithStyle: any style but grouped is logged and replaced by grouped.
  static Ref<PrefsAppSettingsViewController> makeWithStyle(ui::TableViewStyle style);
  // initWithNibName:bundle: a nib name is logged as deprecated and the grouped screen built as
  // by initWithStyle; without one both flags stay off.
  static Ref<PrefsAppSettingsViewController> makeWithNibName(std::optional<std::string> nibName,
                                                             Ref<Bundle> bundle = nullptr);

  explicit PrefsAppSettingsViewController(ui::TableViewStyle style);
  PrefsAppSettingsViewController(std::optional<std::string> nibName, Ref<Bundle> bundle);
  ~PrefsAppSettingsViewController() override;

  // Made on first use for `file` (with the hidden keys).
  Ref<PrefsSettingsReader> settingsReader() override;
  void setSettingsReader(Ref<PrefsSettingsReader> reader) override { settingsReader_ = std::move(reader); }
  // Made on first use over the standard user defaults.
  std::shared_ptr<PrefsSettingsStore> settingsStore() override;
  void setSettingsStore(std::shared_ptr<PrefsSettingsStore> store) override { settingsStore_ = std::move(store); }
  // "Root" while unset.
  std::string file() const { return file_.value_or("Root"); }
  // Scrolls to the top, drops the reader and the hidden keys, reloads.
  void setFile(std::string file);

  std::weak_ptr<PrefsSettingsDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<PrefsSettingsDelegate> delegate) { delegate_ = std::move(delegate); }
  bool showCreditsFooter() const { return showCreditsFooter_; }
  void setShowCreditsFooter(bool show) { showCreditsFooter_ = show; }
  bool showDoneButton() const { return showDoneButton_; }
  void setShowDoneButton(bool show) { showDoneButton_ = show; }
  const Ref<Set>& hiddenKeys() const { return hiddenKeys_; }
  void setHiddenKeys(Ref<Set> keys) { setHiddenKeys(std::move(keys), false); }
  void setHiddenKeys(Ref<Set> keys, bool animated);
  const Ref<ui::TextField>& currentFirstResponder() const { return currentFirstResponder_; }
  bool isPad() const;
  // The cached value picker and child pane (nullptr until first needed).
  Ref<PrefsSpecifierValuesViewController> cachedValuePicker() const;
  Ref<PrefsAppSettingsViewController> cachedChildPane() const;

  // Life cycle.
  void viewDidLoad() override;
  void viewDidUnload() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }
  ui::Size contentSizeForViewInPopover();

  // Actions.
  // The Done button: synchronizes the store and tells the delegate that editing ended.
  void dismiss();
  void toggledValue(PrefsSwitch& sender);
  void sliderChangedValue(PrefsSlider& sender);
  void textChanged(PrefsTextField& sender);
  void synchronizeSettings();
  // Reloads the table 0.5 s later (cancelled when the screen goes away).
  void reload();
  // Reloads the rows whose values changed since this screen last looked, except a text row
  // being edited.
  void userDefaultsDidChange();

  // Table.
  std::size_t numberOfSectionsInTableView(ui::TableView&) override;
  std::size_t tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) override;
  double tableViewHeightForRowAtIndexPath(ui::TableView&, const Ref<IndexPath>& indexPath) override;
  std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, std::size_t section) override;
  Ref<ui::View> tableViewViewForHeaderInSection(ui::TableView&, std::size_t section) override;
  double tableViewHeightForHeaderInSection(ui::TableView&, std::size_t section) override;
  std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, std::size_t section) override;
  // The cell for a row type, configured by cellForRowAtIndexPath.
  Ref<ui::TableViewCell> newCellForIdentifier(const std::string& identifier);
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const Ref<IndexPath>& indexPath) override;
  Ref<IndexPath> tableViewWillSelectRowAtIndexPath(ui::TableView&, const Ref<IndexPath>& indexPath) override;
  void tableViewDidSelectRowAtIndexPath(ui::TableView&, const Ref<IndexPath>& indexPath) override;

  // Text fields and mail.
  bool textFieldShouldBeginEditing(ui::TextField& field) override;
  bool textFieldShouldReturn(ui::TextField& field) override;
  void mailComposeControllerDidFinishWithResultError(ui::MailComposeViewController& controller, ui::MailComposeResult result,
                                                     const Ref<Error>& error) override;

  bool respondsToSelector(std::string_view selector) const override { return ViewController::respondsToSelector(selector); }

 protected:
  // The screen that shows child panes; one serves every child pane of this screen. It is made
  // with the factory registered under this screen's class name (ClassRegistry).
  virtual Ref<PrefsAppSettingsViewController> newChildPane();
  // Observes a notification on behalf of this screen; viewDidDisappear ends every such
  // observation.
  void observe(std::string_view name, const ObjectPtr& object, std::function<void()> action);

 private:
  void setUp(bool withFlags, ui::TableViewStyle style);
  void postChange(const std::string& key, const ObjectPtr& value);
  ObjectPtr currentValue(const PrefsSpecifier& specifier);
  Ref<MutableArray> viewList();
  void openMultiValue(const Ref<PrefsSpecifier>& specifier);
  void openChildPane(ui::TableView& tableView, const Ref<IndexPath>& indexPath, const Ref<PrefsSpecifier>& specifier);
  void tapButton(const Ref<PrefsSpecifier>& specifier);
  void composeMail(const Ref<PrefsSpecifier>& specifier);
  void animateHiddenKeys(const Ref<Set>& keys);
  Ref<Dictionary> defaultsSnapshot();

  std::weak_ptr<PrefsSettingsDelegate> delegate_;
  Ref<MutableArray> viewList_;
  Ref<PrefsSettingsReader> settingsReader_;
  std::shared_ptr<PrefsSettingsStore> settingsStore_;
  std::optional<std::string> file_;
  Ref<ui::TextField> currentFirstResponder_;
  bool showCreditsFooter_ = false;
  bool showDoneButton_ = false;
  Ref<Set> hiddenKeys_;
  // What this screen last showed of the user defaults.
  Ref<Dictionary> shownValues_;
};

// Registers the settings screens that rows may name by class ("PrefsViewControllerClass") with
// their initializers.
void registerSettingsClasses();

}  // namespace zv
