#include <gtest/gtest.h>

#include "SettingsUITest.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/GestureRecognizer.h"
#include "settings/PrefsPSTextFieldSpecifierViewCell.h"
#include "settings/PrefsPSSliderSpecifierViewCell.h"
#include "settings/PrefsSettingsStoreUserDefaults.h"
#include "settings/PrefsSpecifierValuesViewController.h"

namespace zv::testing {
namespace {

using ui::TableView;

class SettingsScreenTest : public SettingsUITest {
 protected:
  void SetUp() override {
    SettingsUITest::SetUp();
    writeDescription(
        "Root",
        {group("Switches", "switches_group"),
         row({{"Type", box(kPrefsPSToggleSwitchSpecifier)}, {"Key", box("mode")}, {"Title", box("Mode")},
              {"TrueValue", box("FAST")}, {"FalseValue", box("SLOW")}, {"DefaultValue", box("SLOW")}}),
         toggle("plain", "Plain"),
         group("Texts", "texts_group", "About texts"),
         row({{"Type", box(kPrefsPSTextFieldSpecifier)}, {"Key", box("name")}, {"Title", box("Name")},
              {"DefaultValue", box("")}, {"KeyboardType", box("DecimalPad")}, {"AutocapitalizationType", box("Words")}}),
         row({{"Type", box(kPrefsPSMultiValueSpecifier)}, {"Key", box("colour")}, {"Title", box("Colour")},
              {"Values", Array::make({box(1), box(2), box(3)})},
              {"Titles", Array::make({box("Red"), box("Green"), box("Blue")})}, {"DefaultValue", box(1)}}),
         row({{"Type", box(kPrefsPSChildPaneSpecifier)}, {"File", box("Child")}, {"Title", box("More")}}),
         row({{"Type", box(kPrefsPSSliderSpecifier)}, {"Key", box("volume")}, {"MinimumValue", box(0)},
              {"MaximumValue", box(10)}, {"DefaultValue", box(5)}}),
         group("Last", "last_group", "The end"),
         row({{"Type", box(kPrefsButtonSpecifier)}, {"Key", box("action")}, {"Title", box("Do it")}})});
    writeDescription("Child", {group("Child group", "child_group", "Child footer"), toggle("child_toggle", "Child")});
  }

  Ref<PrefsAppSettingsViewController> screen = PrefsAppSettingsViewController::make();
  Ref<TableView> table() { return screen->tableView(); }
  Ref<ui::TableViewCell> cell(std::size_t section, std::size_t row) {
    table()->scrollToRowAtIndexPath(path(section, row), ui::TableViewScrollPosition::None, false);
    layout(screen);
    return table()->cellForRowAtIndexPath(path(section, row));
  }
  Ref<PrefsSwitch> switchAt(std::size_t section, std::size_t row) {
    return dyn<PrefsSwitch>(cell(section, row)->accessoryView());
  }
};

TEST_F(SettingsScreenTest, TogglesStoreTheirOwnValuesAndAnnounceWhatWasStored) {
  show(screen);
  // Nothing stored: the row's default decides, compared with its true and false values.
  EXPECT_FALSE(switchAt(0, 0)->isOn());
  switchAt(0, 0)->simulateToggle();
  EXPECT_EQ(defaults()->stringForKey("mode"), "FAST");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].key, "mode");
  EXPECT_TRUE(zv::isEqual(changes[0].value, box("FAST")));
  switchAt(0, 0)->simulateToggle();
  EXPECT_EQ(defaults()->stringForKey("mode"), "SLOW");

  // Without true and false values a boolean is stored.
  switchAt(0, 1)->simulateToggle();
  auto stored = dyn<Number>(defaults()->objectForKey("plain"));
  ASSERT_NE(stored, nullptr);
  EXPECT_TRUE(stored->boolValue());
  EXPECT_TRUE(zv::isEqual(changes.back().value, box(true)));

  // A stored value equal to neither reads as its boolean value.
  defaults()->setObject(box("1"), "mode");
  EXPECT_TRUE(switchAt(0, 0)->isOn());
  defaults()->setObject(box("nonsense"), "mode");
  EXPECT_FALSE(switchAt(0, 0)->isOn());
}

TEST_F(SettingsScreenTest, TypingStoresEveryChangeAndAnOutsideWriteWaitsForTheEditToEnd) {
  show(screen);
  auto field = dyn<PrefsPSTextFieldSpecifierViewCell>(cell(1, 0))->textField();
  table()->simulateTapOnRow(path(1, 0));
  ASSERT_TRUE(field->isEditing());
  EXPECT_EQ(screen->currentFirstResponder(), field);
  EXPECT_EQ(field->keyboardType(), ui::KeyboardType::DecimalPad);
  EXPECT_EQ(field->autocapitalizationType(), ui::TextAutocapitalizationType::Words);
  field->insertText("a");
  field->insertText("b");
  field->insertText("c");
  EXPECT_EQ(defaults()->stringForKey("name"), "abc");
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_TRUE(zv::isEqual(changes[2].value, box("abc")));

  // Another writer changes the value: the row being edited keeps what the user types...
  defaults()->setObject(box("from elsewhere"), "name");
  EXPECT_EQ(field->text(), "abc");
  // A tap anywhere on the table ends editing, as return does.
  ASSERT_EQ(table()->gestureRecognizers().size(), 1u);
  auto tap = dyn<ui::TapGestureRecognizer>(table()->gestureRecognizers()[0]);
  ASSERT_NE(tap, nullptr);
  EXPECT_FALSE(tap->cancelsTouchesInView());
  tap->recognizeTap();
  EXPECT_FALSE(field->isEditing());
  table()->simulateTapOnRow(path(1, 0));
  ASSERT_TRUE(field->isEditing());
  // ...and shows the new value once editing ended.
  field->simulateReturn();
  EXPECT_EQ(screen->currentFirstResponder(), nullptr);
  defaults()->setObject(box("later"), "name");
  auto shown = dyn<PrefsPSTextFieldSpecifierViewCell>(cell(1, 0))->textField();
  EXPECT_EQ(shown->text(), "later");
}

TEST_F(SettingsScreenTest, SlidersStoreFloatsWhenTheFingerLifts) {
  show(screen);
  auto sliderCell = dyn<PrefsPSSliderSpecifierViewCell>(cell(1, 3));
  ASSERT_NE(sliderCell, nullptr);
  EXPECT_DOUBLE_EQ(sliderCell->slider()->value(), 5);
  EXPECT_DOUBLE_EQ(sliderCell->slider()->maximumValue(), 10);
  sliderCell->slider()->simulateSlide(7.5);
  EXPECT_FLOAT_EQ(defaults()->floatForKey("volume"), 7.5f);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(zv::isEqual(changes[0].value, box(7.5f)));
  // Toggle and slider rows cannot be selected.
  EXPECT_EQ(table()->simulateTapOnRow(path(1, 3)), nullptr);
  EXPECT_EQ(table()->simulateTapOnRow(path(0, 0)), nullptr);
}

TEST_F(SettingsScreenTest, FootersCarryTheCreditOnlyOnTheLastSectionOfTheRootScreen) {
  show(screen);
  EXPECT_EQ(screen->tableViewTitleForFooterInSection(*table(), 1), "About texts");
  EXPECT_EQ(screen->tableViewTitleForFooterInSection(*table(), 0), std::nullopt);
  EXPECT_EQ(screen->tableViewTitleForFooterInSection(*table(), 2), "The end\n\nPowered by PrefsKit");
  EXPECT_EQ(screen->tableViewTitleForHeaderInSection(*table(), 1), "Texts");
  // A 17-point bold title fits one 21-point line, plus 15.
  EXPECT_DOUBLE_EQ(screen->tableViewHeightForHeaderInSection(*table(), 1), 36);
  ASSERT_NE(screen->navigationItem()->rightBarButtonItem(), nullptr);
  EXPECT_EQ(screen->title(), "Settings");
}

TEST_F(SettingsScreenTest, ValuePickerChecksTheCurrentValueStoresTapsAndFollowsOutsideChanges) {
  auto navigation = show(screen);
  EXPECT_EQ(cell(1, 1)->detailTextLabel()->text(), "Red");
  table()->simulateTapOnRow(path(1, 1));
  settle();
  auto picker = dyn<PrefsSpecifierValuesViewController>(navigation->topViewController());
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker, screen->cachedValuePicker());
  // Appearing, it shows that the list scrolls.
  EXPECT_EQ(picker->tableView()->indicatorFlashes(), 1);
  EXPECT_EQ(picker->title(), "Colour");
  layout(picker);
  auto pickerTable = picker->tableView();
  auto checked = [&] {
    std::vector<bool> marks;
    for (std::size_t r = 0; r < 3; ++r)
      marks.push_back(pickerTable->cellForRowAtIndexPath(path(0, r))->accessoryType() ==
                      ui::TableViewCellAccessoryType::Checkmark);
    return marks;
  };
  EXPECT_EQ(checked(), (std::vector<bool>{true, false, false}));

  // The checked title again: nothing stored, nothing posted.
  pickerTable->simulateTapOnRow(path(0, 0));
  EXPECT_EQ(defaults()->objectForKey("colour"), nullptr);
  EXPECT_TRUE(changes.empty());

  pickerTable->simulateTapOnRow(path(0, 2));
  EXPECT_EQ(defaults()->integerForKey("colour"), 3);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(zv::isEqual(changes[0].value, box(3)));
  EXPECT_EQ(checked(), (std::vector<bool>{false, false, true}));

  // Another writer: the check mark moves.
  defaults()->setObject(box(2), "colour");
  layout(picker);
  EXPECT_EQ(checked(), (std::vector<bool>{false, true, false}));

  // Back on the screen the row shows the new title.
  navigation->simulateBackTap();
  settle();
  EXPECT_EQ(cell(1, 1)->detailTextLabel()->text(), "Green");
}

TEST_F(SettingsScreenTest, ChildPanesShareOneScreenTheStoreAndTheDelegate) {
  auto navigation = show(screen);
  table()->simulateTapOnRow(path(1, 2));
  settle();
  auto child = dyn<PrefsAppSettingsViewController>(navigation->topViewController());
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child, screen->cachedChildPane());
  EXPECT_EQ(child->file(), "Child");
  EXPECT_EQ(child->title(), "More");
  EXPECT_EQ(child->settingsStore(), screen->settingsStore());
  EXPECT_FALSE(child->showDoneButton());
  EXPECT_EQ(child->navigationItem()->rightBarButtonItem(), nullptr);
  // Child panes never show the credit line.
  EXPECT_EQ(child->tableViewTitleForFooterInSection(*child->tableView(), 0), "Child footer");
  layout(child);
  dyn<PrefsSwitch>(child->tableView()->cellForRowAtIndexPath(path(0, 0))->accessoryView())->simulateToggle();
  EXPECT_TRUE(defaults()->boolForKey("child_toggle"));
  navigation->simulateBackTap();
  settle();
  table()->simulateTapOnRow(path(1, 2));
  settle();
  EXPECT_EQ(navigation->topViewController(), child);
  // Hidden keys reach the child pane too.
  auto hidden = Set::makeWithStrings({"child_toggle"});
  screen->setHiddenKeys(hidden);
  EXPECT_EQ(child->hiddenKeys(), hidden);
  EXPECT_EQ(child->tableView()->numberOfRowsInSection(0), 0u);
}

TEST_F(SettingsScreenTest, OddRowsAndOddValuesShowWithoutHarm) {
  writeDescription("Root", {row({{"Type", box("PSNoSuchSpecifier")}, {"Title", box("Odd")}}),
                            row({{"Type", box(kPrefsPSSliderSpecifier)}, {"Key", box("level")},
                                 {"MinimumValue", box("low")}, {"MaximumValue", box(4)}}),
                            row({{"Type", box(kPrefsPSTitleValueSpecifier)}, {"Key", box("shown")},
                                 {"Title", box("Shown")}, {"Values", Array::make({box(1), box(2)})},
                                 {"Titles", Array::make({box("One")})}, {"DefaultValue", box(2)}})});
  defaults()->setObject(box("not a number"), "level");
  show(screen);
  EXPECT_EQ(cell(0, 0)->textLabel()->text(), "Odd");
  EXPECT_NE(table()->simulateTapOnRow(path(0, 0)), nullptr);  // selectable, does nothing
  auto slider = dyn<PrefsPSSliderSpecifierViewCell>(cell(0, 1))->slider();
  EXPECT_EQ(slider->value(), 0);
  EXPECT_EQ(slider->minimumValue(), 0);
  // More values than titles: no title for the value, and the row takes no touches.
  EXPECT_EQ(cell(0, 2)->detailTextLabel()->text(), std::nullopt);
  EXPECT_FALSE(cell(0, 2)->isUserInteractionEnabled());
}

// Two screens over the same key: a change made while one of them does not watch (it is covered)
// still shows on it next, whatever the other screen saw meanwhile.
TEST_F(SettingsScreenTest, EveryScreenShowsTheLatestValueNotAStaleSharedSnapshot) {
  auto other = PrefsAppSettingsViewController::make();
  auto navigation = show(screen);
  // `other` is pushed over `screen`, so `screen` stops watching the defaults.
  navigation->pushViewController(other, false);
  settle();
  layout(other);
  dyn<PrefsSwitch>(other->tableView()->cellForRowAtIndexPath(path(0, 1))->accessoryView())->simulateToggle();
  EXPECT_TRUE(defaults()->boolForKey("plain"));
  EXPECT_TRUE(dyn<PrefsSwitch>(other->tableView()->cellForRowAtIndexPath(path(0, 1))->accessoryView())->isOn());
  navigation->popViewControllerAnimated(false);
  settle();
  EXPECT_TRUE(switchAt(0, 1)->isOn());

  // Both visible at once (one in the window, one driven by hand): both follow a third writer.
  other->beginAppearanceTransition(true, false);
  other->endAppearanceTransition();
  defaults()->setBool(false, "plain");
  EXPECT_FALSE(switchAt(0, 1)->isOn());
  layout(other);
  EXPECT_FALSE(dyn<PrefsSwitch>(other->tableView()->cellForRowAtIndexPath(path(0, 1))->accessoryView())->isOn());
}

TEST_F(SettingsScreenTest, AnimatedHiddenKeysKeepTheTableConsistent) {
  show(screen);
  ASSERT_EQ(table()->numberOfSections(), 3u);
  // Every row of a section hidden but not its group: the section stays, empty.
  screen->setHiddenKeys(Set::makeWithStrings({"mode", "plain"}), true);
  EXPECT_EQ(table()->numberOfSections(), 3u);
  EXPECT_EQ(table()->numberOfRowsInSection(0), 0u);
  // An empty section stays put while rows elsewhere change, and comes back filled.
  screen->setHiddenKeys(Set::makeWithStrings({"mode", "plain", "name"}), true);
  EXPECT_EQ(table()->numberOfRowsInSection(1), 3u);
  screen->setHiddenKeys(Set::makeWithStrings({"name"}), true);
  EXPECT_EQ(table()->numberOfRowsInSection(0), 2u);
  // A group and its rows hidden: the section goes as a whole.
  screen->setHiddenKeys(Set::makeWithStrings({"switches_group", "mode", "plain"}), true);
  EXPECT_EQ(table()->numberOfSections(), 2u);
  EXPECT_EQ(screen->tableViewTitleForHeaderInSection(*table(), 0), "Texts");
  // A hidden group lets its rows join the section before it.
  screen->setHiddenKeys(Set::makeWithStrings({"last_group"}), true);
  EXPECT_EQ(table()->numberOfSections(), 2u);
  EXPECT_EQ(table()->numberOfRowsInSection(1), 5u);
  // And back to everything.
  screen->setHiddenKeys(nullptr, true);
  EXPECT_EQ(table()->numberOfSections(), 3u);
  EXPECT_EQ(table()->numberOfRowsInSection(1), 4u);
  EXPECT_EQ(table()->numberOfRowsInSection(2), 1u);
}

// A row's value list is open while rows above the row go away: back on the screen, the row that
// was tapped is the one reloaded, wherever it is now.
TEST_F(SettingsScreenTest, RowsHiddenAboveTheTappedRowWhileItsValueListShowsReloadOnlyThatRow) {
  auto navigation = show(screen);
  struct Case {
    Ref<Set> hiddenFirst;
    Ref<IndexPath> tapped;
    Ref<Set> hidden;
    Ref<IndexPath> after;
  };
  // A row above it in its group (the old index path now names another row); then, on a screen of
  // two groups, the first group (the old index path names no row).
  for (const auto& c :
       {Case{nullptr, path(1, 1), Set::makeWithStrings({"name"}), path(1, 0)},
        Case{Set::makeWithStrings({"last_group"}), path(1, 1),
             Set::makeWithStrings({"last_group", "switches_group", "mode", "plain"}), path(0, 1)}}) {
    screen->setHiddenKeys(c.hiddenFirst);
    layout(screen);
    table()->simulateTapOnRow(c.tapped);
    settle();
    ASSERT_NE(dyn<PrefsSpecifierValuesViewController>(navigation->topViewController()), nullptr);
    screen->setHiddenKeys(c.hidden, true);
    layout(screen);
    // Marks on the shown cells: a row reloaded loses its mark.
    auto shown = table()->indexPathsForVisibleRows();
    ASSERT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const auto& p) { return p->isEqual(*c.after); }));
    for (const auto& p : shown) table()->cellForRowAtIndexPath(p)->textLabel()->setText("mark");
    navigation->simulateBackTap();
    settle();
    layout(screen);
    for (const auto& p : shown) {
      bool reloaded = table()->cellForRowAtIndexPath(p)->textLabel()->text() != "mark";
      EXPECT_EQ(reloaded, p->isEqual(*c.after)) << p->section() << "," << p->row();
    }
    EXPECT_EQ(cell(c.after->section(), c.after->row())->textLabel()->text(), "Colour");
  }
}

TEST_F(SettingsScreenTest, AnimatedHiddenKeysAddingAGroupWithoutRowsInsertsOnlyThatSection) {
  writeDescription("Root", {group("Empty", "empty_group"), group("Full", "full_group"), toggle("a", "A")});
  show(screen);
  ASSERT_EQ(table()->numberOfSections(), 2u);
  screen->setHiddenKeys(Set::makeWithStrings({"empty_group"}), true);
  EXPECT_EQ(table()->numberOfSections(), 1u);
  screen->setHiddenKeys(Set::makeWithStrings({"a"}), true);
  EXPECT_EQ(table()->numberOfSections(), 2u);
  EXPECT_EQ(table()->numberOfRowsInSection(1), 0u);
}

class ButtonDelegate : public Object, public PrefsSettingsDelegate {
 public:
  explicit ButtonDelegate(bool bySpecifier) : bySpecifier_(bySpecifier) {}
  void settingsViewControllerDidEnd(PrefsAppSettingsViewController&) override { ++ended; }
  void settingsViewControllerButtonTappedForKey(PrefsAppSettingsViewController&, const std::string& key) override {
    taps.push_back("key " + key);
  }
  void settingsViewControllerButtonTappedForSpecifier(PrefsAppSettingsViewController&,
                                                      const Ref<PrefsSpecifier>& specifier) override {
    taps.push_back("specifier " + specifier->key().value_or(""));
  }
  bool respondsToSelector(std::string_view selector) const override {
    if (selector == "settingsViewControllerButtonTappedForSpecifier") return bySpecifier_;
    return selector == "settingsViewControllerButtonTappedForKey";
  }
  std::vector<std::string> taps;
  int ended = 0;

 private:
  bool bySpecifier_;
};

TEST_F(SettingsScreenTest, ButtonTapsPreferTheSpecifierCallThenTheKeyCallWithAWarning) {
  auto bySpecifier = std::make_shared<ButtonDelegate>(true);
  auto byKey = std::make_shared<ButtonDelegate>(false);
  screen->setDelegate(bySpecifier);
  show(screen);
  LogCapture log;
  table()->simulateTapOnRow(path(2, 0));
  EXPECT_EQ(bySpecifier->taps, (std::vector<std::string>{"specifier action"}));
  EXPECT_FALSE(log.contains("deprecated"));
  screen->setDelegate(byKey);
  table()->simulateTapOnRow(path(2, 0));
  EXPECT_EQ(byKey->taps, (std::vector<std::string>{"key action"}));
  EXPECT_TRUE(log.contains("PrefsKit Warning: -settingsViewController:buttonTappedForKey: is deprecated."));
  EXPECT_EQ(table()->indexPathForSelectedRow(), nullptr);

  // A stored text under the button's key is its title; Done synchronizes and ends.
  defaults()->setObject(box("Custom"), "action");
  EXPECT_EQ(cell(2, 0)->textLabel()->text(), "Custom");
  screen->navigationItem()->rightBarButtonItem()->simulateTap();
  EXPECT_EQ(byKey->ended, 1);
}

TEST_F(SettingsScreenTest, ButtonWithoutDelegateCallsTheNamedClassMethod) {
  // The registration outlives the test, so it records into storage that does too.
  static std::vector<std::string> calls;
  calls.clear();
  ClassRegistry::shared().registerClass("SettingsTestButtonTarget").addClassMethod("run:key:", [](const auto& args) {
    calls.push_back(stringValueOf(args.at(1)).value_or(""));
    return ObjectPtr();
  });
  writeDescription("Root", {row({{"Type", box(kPrefsButtonSpecifier)}, {"Key", box("go")}, {"Title", box("Go")},
                                 {"PrefsButtonClass", box("SettingsTestButtonTarget")},
                                 {"PrefsButtonAction", box("run:key:")}})});
  show(screen);
  LogCapture log;
  table()->simulateTapOnRow(path(0, 0));
  EXPECT_EQ(calls, (std::vector<std::string>{"go"}));
  EXPECT_TRUE(log.contains("Using PrefsButtonSpecifier without implementing the delegate method is deprecated"));
}

TEST_F(SettingsScreenTest, MailRowsPrepareAComposerOrExplainThatMailIsNotSetUp) {
  writeDescription(
      "Root", {row({{"Type", box(kPrefsMailComposeSpecifier)}, {"Title", box("Write")}, {"DefaultValue", box("us")},
                    {"PrefsMailComposeSubject", box("Hi")}, {"PrefsMailComposeBody", box("<b>Body</b>")},
                    {"PrefsMailComposeBodyIsHTML", box(true)},
                    {"PrefsMailComposeToRecipents", Array::make({box("a@example.org")})},
                    {"PrefsMailComposeCcRecipents", Array::make({box("c@example.org")})}}),
               row({{"Type", box(kPrefsOpenURLSpecifier)}, {"Title", box("Site")},
                    {"File", box("https://example.org/x")}})});
  show(screen);
  EXPECT_EQ(cell(0, 0)->detailTextLabel()->text(), "us");
  table()->simulateTapOnRow(path(0, 0));
  settle();
  auto composer = dyn<ui::MailComposeViewController>(screen->presentedViewController()
                                             ? screen->presentedViewController()
                                             : screen->navigationController()->presentedViewController());
  ASSERT_NE(composer, nullptr);
  EXPECT_EQ(composer->subject(), "Hi");
  EXPECT_EQ(composer->toRecipients(), (std::vector<std::string>{"a@example.org"}));
  EXPECT_EQ(composer->ccRecipients(), (std::vector<std::string>{"c@example.org"}));
  EXPECT_EQ(composer->messageBody(), "<b>Body</b>");
  EXPECT_TRUE(composer->isBodyHTML());
  composer->simulateFinish(ui::MailComposeResult::Sent);
  settle();
  EXPECT_EQ(screen->navigationController()->presentedViewController(), nullptr);

  ui::MailComposeViewController::setCanSendMail(false);
  table()->simulateTapOnRow(path(0, 0));
  auto panels = ui::ButtonPanel::visiblePanels();
  ASSERT_EQ(panels.size(), 1u);
  auto alert = dyn<ui::AlertView>(panels[0]);
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), "Mail not configured");
  EXPECT_EQ(alert->buttonTitleAtIndex(0), "OK");
  alert->simulateTapButtonAtIndex(0);
  EXPECT_EQ(screen->navigationController()->presentedViewController(), nullptr);

  table()->simulateTapOnRow(path(0, 1));
  ASSERT_EQ(ui::Application::sharedApplication()->openedURLs().size(), 1u);
  EXPECT_EQ(ui::Application::sharedApplication()->openedURLs()[0]->absoluteString(), "https://example.org/x");
}

// Counts the saves the screen asks for.
class CountingStore : public PrefsSettingsStoreUserDefaults {
 public:
  CountingStore() : PrefsSettingsStoreUserDefaults(UserDefaults::standardUserDefaults()) {}
  bool synchronize() override {
    ++synchronizations;
    return PrefsSettingsStoreUserDefaults::synchronize();
  }
  int synchronizations = 0;
};

TEST_F(SettingsScreenTest, GoingToTheBackgroundSynchronizesAndForegroundReloadsLater) {
  auto store = std::make_shared<CountingStore>();
  screen->setSettingsStore(store);
  show(screen);
  switchAt(0, 1)->simulateToggle();
  int reloads = table()->reloadCount();
  int saves = store->synchronizations;
  auto application = ui::Application::sharedApplication();
  application->simulateEnterBackground();
  EXPECT_EQ(store->synchronizations, saves + 1);
  EXPECT_EQ(table()->reloadCount(), reloads);
  // The change made before is in the file now, not half a second later.
  auto saved = dyn<Dictionary>(storage::readPropertyList(defaults()->filePath()));
  ASSERT_NE(saved, nullptr);
  EXPECT_TRUE(boolValueOf(saved->objectForKey("plain")));

  application->simulateEnterForeground();
  EXPECT_EQ(table()->reloadCount(), reloads);
  advance(0.5);
  EXPECT_EQ(table()->reloadCount(), reloads + 1);
  EXPECT_EQ(store->synchronizations, saves + 1);

  // Terminating saves too; a screen that has gone away no longer listens.
  application->simulateTerminate();
  EXPECT_EQ(store->synchronizations, saves + 2);
  screen->viewDidDisappear(false);
  application->simulateEnterBackground();
  EXPECT_EQ(store->synchronizations, saves + 2);
}

// A delegate that supplies the custom-view rows.
class CustomRowDelegate : public Object, public PrefsSettingsDelegate {
 public:
  void settingsViewControllerDidEnd(PrefsAppSettingsViewController&) override {}
  double tableViewHeightForSpecifier(ui::TableView&, const Ref<PrefsSpecifier>& specifier) override {
    return specifier->key() == "tall" ? 120 : 60;
  }
  Ref<ui::TableViewCell> tableViewCellForSpecifier(ui::TableView&, const Ref<PrefsSpecifier>& specifier) override {
    cellRequests.push_back(specifier->key().value_or(""));
    if (!giveCells) return nullptr;
    auto cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, std::string("custom"));
    cell->textLabel()->setText("custom " + specifier->key().value_or(""));
    return cell;
  }
  void settingsViewControllerTableViewDidSelectCustomViewSpecifier(PrefsAppSettingsViewController&, ui::TableView&,
                                                                   const Ref<PrefsSpecifier>& specifier) override {
    selections.push_back(specifier->key().value_or(""));
  }
  bool respondsToSelector(std::string_view selector) const override {
    if (selector == "tableViewCellForSpecifier" || selector == "tableViewHeightForSpecifier") return answersCells;
    if (selector == "settingsViewControllerTableViewDidSelectCustomViewSpecifier") return answersSelection;
    return Object::respondsToSelector(selector);
  }

  bool answersCells = true;
  bool answersSelection = true;
  bool giveCells = true;
  std::vector<std::string> cellRequests;
  std::vector<std::string> selections;
};

class SettingsCustomRowsTest : public SettingsUITest {
 protected:
  void SetUp() override {
    SettingsUITest::SetUp();
    writeDescription("Root", {group("Custom"),
                              row({{"Type", box(kPrefsCustomViewSpecifier)}, {"Key", box("tall")}}),
                              row({{"Type", box(kPrefsCustomViewSpecifier)}, {"Key", box("short")}}),
                              toggle("plain", "Plain")});
    screen->setDelegate(delegate);
  }
  Ref<PrefsAppSettingsViewController> screen = PrefsAppSettingsViewController::make();
  std::shared_ptr<CustomRowDelegate> delegate = std::make_shared<CustomRowDelegate>();
};

TEST_F(SettingsCustomRowsTest, TheDelegateGivesTheCellAndTheHeight) {
  show(screen);
  // Showing the table asked for both custom cells.
  EXPECT_EQ(delegate->cellRequests, (std::vector<std::string>{"tall", "short"}));
  delegate->cellRequests.clear();
  auto table = screen->tableView();
  auto tall = screen->tableViewCellForRowAtIndexPath(*table, path(0, 0));
  EXPECT_EQ(tall->textLabel()->text(), "custom tall");
  EXPECT_EQ(tall->reuseIdentifier(), "custom");
  EXPECT_EQ(delegate->cellRequests, (std::vector<std::string>{"tall"}));
  EXPECT_DOUBLE_EQ(screen->tableViewHeightForRowAtIndexPath(*table, path(0, 0)), 120);
  EXPECT_DOUBLE_EQ(screen->tableViewHeightForRowAtIndexPath(*table, path(0, 1)), 60);
  // Other rows keep the table's height and their own cells.
  EXPECT_DOUBLE_EQ(screen->tableViewHeightForRowAtIndexPath(*table, path(0, 2)), table->rowHeight());
  EXPECT_NE(dyn<PrefsSwitch>(screen->tableViewCellForRowAtIndexPath(*table, path(0, 2))->accessoryView()), nullptr);

  // Without the delegate's calls a custom row has no height and a plain cell.
  delegate->answersCells = false;
  EXPECT_DOUBLE_EQ(screen->tableViewHeightForRowAtIndexPath(*table, path(0, 0)), 0);
  auto plain = screen->tableViewCellForRowAtIndexPath(*table, path(0, 0));
  ASSERT_NE(plain, nullptr);
  EXPECT_NE(plain->textLabel()->text(), "custom tall");
  EXPECT_EQ(delegate->cellRequests.size(), 1u);  // not asked again
}

TEST_F(SettingsCustomRowsTest, ADelegateThatGivesNoCellIsAProgrammingError) {
  show(screen);
  delegate->giveCells = false;
  auto table = screen->tableView();
  try {
    screen->tableViewCellForRowAtIndexPath(*table, path(0, 1));
    FAIL() << "a custom row without a cell was accepted";
  } catch (const Exception& exception) {
    EXPECT_EQ(exception.name(), "NSInternalInconsistencyException");
    EXPECT_EQ(exception.reason(), "delegate must return a UITableViewCell for custom cell types");
  }
}

TEST_F(SettingsCustomRowsTest, SelectingACustomRowGoesToTheDelegateOrIsUndone) {
  show(screen);
  auto table = screen->tableView();
  table->simulateTapOnRow(path(0, 1));
  EXPECT_EQ(delegate->selections, (std::vector<std::string>{"short"}));
  // The delegate decides what the selection means, so it stays.
  EXPECT_TRUE(isEqual(table->indexPathForSelectedRow(), path(0, 1)));
  table->deselectRowAtIndexPath(path(0, 1), false);

  delegate->answersSelection = false;
  table->simulateTapOnRow(path(0, 0));
  EXPECT_EQ(delegate->selections.size(), 1u);
  EXPECT_EQ(table->indexPathForSelectedRow(), nullptr);
  // Changes to a custom row's key never reload its row (the delegate owns what it shows).
  int before = static_cast<int>(delegate->cellRequests.size());
  defaults()->setObject(box("changed"), "tall");
  settle();
  EXPECT_EQ(static_cast<int>(delegate->cellRequests.size()), before);
}

TEST_F(SettingsScreenTest, InitializersSetTheFlagsAsDocumented) {
  LogCapture log;
  auto plain = PrefsAppSettingsViewController::makeWithStyle(ui::TableViewStyle::Plain);
  EXPECT_TRUE(log.contains("only UITableViewStyleGrouped style is supported, forcing it."));
  EXPECT_EQ(plain->tableViewStyle(), ui::TableViewStyle::Grouped);
  EXPECT_TRUE(plain->showDoneButton());
  auto fromNil = PrefsAppSettingsViewController::makeWithNibName(std::nullopt);
  EXPECT_FALSE(fromNil->showDoneButton());
  EXPECT_FALSE(fromNil->showCreditsFooter());
  auto fromNib = PrefsAppSettingsViewController::makeWithNibName("Nib");
  EXPECT_TRUE(log.contains("initWithNibName:bundle: is now deprecated, we are moving away from nibs."));
  EXPECT_TRUE(fromNib->showCreditsFooter());
  EXPECT_EQ(fromNib->file(), "Root");
}

}  // namespace
}  // namespace zv::testing
