#include <gtest/gtest.h>

#include <sstream>

#include "app/CustomBreathDefinitionViewController.h"
#include "app/MySettingsViewController.h"
#include "app/SettingsCommand.h"
#include "app/SettingsDefaults.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewRenderer.h"
#include "settings/SettingsUITest.h"

namespace zv::testing {
namespace {

class SettingsTabTest : public SettingsUITest {
 protected:
  std::filesystem::path resourcesPath() override { return std::filesystem::path(ZV_SOURCE_DIR) / "resources"; }
  void SetUp() override {
    SettingsUITest::SetUp();
    registerApplicationStoryboard();
  }
  Ref<MySettingsViewController> screen = MySettingsViewController::make();
  Ref<IndexPath> customBreathRow() { return screen->settingsReader()->indexPathForKey(kCustomBreathButtonKey); }
};

TEST_F(SettingsTabTest, TheCustomBreathButtonPresentsTheEditorWhoseDoneStoresAndDismisses) {
  show(screen);
  LogCapture log;
  ASSERT_NE(customBreathRow(), nullptr);
  screen->tableView()->simulateTapOnRow(customBreathRow());
  EXPECT_TRUE(log.contains("-settingsViewController:buttonTappedForKey: is deprecated"));
  auto navigation = dyn<ui::NavigationController>(screen->navigationController()->presentedViewController());
  ASSERT_NE(navigation, nullptr);
  EXPECT_TRUE(navigation->isNavigationBarHidden());
  auto editor = dyn<CustomBreathDefinitionViewController>(navigation->topViewController());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->modalTransitionStyle(), ui::ModalTransitionStyle::CrossDissolve);
  EXPECT_TRUE(navigation->isBeingPresented());  // animated
  settle();

  auto fields = editor->percentageFields();
  EXPECT_EQ(fields[0]->text(), "23.53");
  EXPECT_EQ(fields[1]->text(), "5.88");
  EXPECT_EQ(fields[2]->text(), "47.06");
  EXPECT_EQ(fields[3]->text(), "23.53");
  fields[0]->setText("30");
  fields[1]->setText("10");
  fields[2]->setText("not a number");  // keeps the value stored before
  fields[3]->setText("20,5");
  editor->doneButton()->simulateTap();
  EXPECT_DOUBLE_EQ(defaults()->doubleForKey(kCustomBreathIn), 30);
  EXPECT_DOUBLE_EQ(defaults()->doubleForKey(kCustomBreathHoldIn), 10);
  EXPECT_EQ(defaults()->objectForKey(kCustomBreathOut), nullptr);
  EXPECT_DOUBLE_EQ(defaults()->doubleForKey(kCustomBreathHoldOut), 20.5);
  EXPECT_TRUE(navigation->isBeingDismissed());
  settle();
  EXPECT_EQ(screen->navigationController()->presentedViewController(), nullptr);

  // Without the editor in the storyboard the tap does nothing.
  ui::Storyboard::unregisterAll();
  screen->tableView()->simulateTapOnRow(customBreathRow());
  EXPECT_EQ(screen->navigationController()->presentedViewController(), nullptr);
}

TEST_F(SettingsTabTest, EveryChangeIsTracedAlsoAfterTheScreenCameBack) {
  auto navigation = show(screen);
  LogCapture log;
  auto flash = screen->settingsReader()->indexPathForKey("use_flash_preference");
  auto flip = [&] {
    screen->tableView()->scrollToRowAtIndexPath(flash, ui::TableViewScrollPosition::None, false);
    layout(screen);
    dyn<PrefsSwitch>(screen->tableView()->cellForRowAtIndexPath(flash)->accessoryView())->simulateToggle();
  };
  auto traces = [&] {
    int count = 0;
    for (const auto& line : log.lines())
      count += line == "[TRACE] MysettingsViewController::settingDidchange: use_flash_preference";
    return count;
  };
  flip();
  EXPECT_EQ(traces(), 1);
  // Away to a child pane and back: the screen disappeared and stopped all its observations.
  screen->tableView()->simulateTapOnRow(screen->settingsReader()->indexPathForKey("help_page_preference"));
  settle();
  ASSERT_NE(navigation->topViewController(), screen);
  navigation->simulateBackTap();
  settle();
  flip();
  EXPECT_EQ(traces(), 2);
  // Appearing again does not double the observation.
  navigation->pushViewController(PrefsAppSettingsViewController::make(), false);
  navigation->popViewControllerAnimated(false);
  settle();
  flip();
  EXPECT_EQ(traces(), 3);

  EXPECT_TRUE(screen->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::Portrait));
  EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::LandscapeLeft));
  EXPECT_EQ(screen->hiddenKeys(), nullptr);
}

TEST_F(SettingsTabTest, TheDisplayPaneIsAScreenOfTheTabsOwnClass) {
  auto navigation = show(screen);
  auto reader = screen->settingsReader();
  Ref<IndexPath> displayRow;
  for (std::size_t s = 0; s < reader->numberOfSections() && !displayRow; ++s)
    for (std::size_t r = 0; r < reader->numberOfRowsForSection(s); ++r)
      if (auto row = reader->specifierForIndexPath(*IndexPath::forRow(r, s)); row && row->file() == "Display") {
        displayRow = IndexPath::forRow(r, s);
        break;
      }
  ASSERT_NE(displayRow, nullptr);
  screen->tableView()->scrollToRowAtIndexPath(displayRow, ui::TableViewScrollPosition::None, false);
  layout(screen);
  screen->tableView()->simulateTapOnRow(displayRow);
  settle();
  auto pane = dyn<MySettingsViewController>(navigation->topViewController());
  ASSERT_NE(pane, nullptr);
  EXPECT_NE(pane, screen);
  EXPECT_EQ(pane->file(), "Display");
  // It stays upright ...
  EXPECT_TRUE(pane->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::Portrait));
  EXPECT_FALSE(pane->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::LandscapeLeft));
  // ... is its own delegate ...
  auto delegate = pane->delegate().lock();
  EXPECT_EQ(dynamic_cast<MySettingsViewController*>(delegate.get()), pane.get());
  // ... and traces its edits, once each.
  LogCapture log;
  auto wave = pane->settingsReader()->indexPathForKey("show_heartbeat_wave_preference");
  ASSERT_NE(wave, nullptr);
  layout(pane);
  dyn<PrefsSwitch>(pane->tableView()->cellForRowAtIndexPath(wave)->accessoryView())->simulateToggle();
  int traces = 0;
  for (const auto& line : log.lines())
    traces += line == "[TRACE] MysettingsViewController::settingDidchange: show_heartbeat_wave_preference";
  EXPECT_EQ(traces, 1);
}

TEST_F(SettingsTabTest, TheSettingsTabRendersToAPicture) {
  registerSettingsDefaults(*defaults(), Bundle::mainBundle());
  defaults()->setObject(box("Anna"), "name_preference");
  screen->setTitle("Settings");
  // A screen tall enough for the whole tab in one picture.
  auto mainScreen = ui::Screen::mainScreen();
  auto bounds = mainScreen->bounds();
  mainScreen->setBounds(ui::Rect(0, 0, 320, 1240));
  auto navigation = ui::NavigationController::make(screen);
  auto window = ui::Window::make(mainScreen->bounds());
  window->setRootViewController(navigation);
  window->makeKeyAndVisible();
  settle();
  mainScreen->setBounds(bounds);
  navigation->view()->layoutIfNeeded();
  auto path = testOutputDirectory() / "settings-tab.png";
  auto error = ui::renderViewToPNG(navigation->view(), path, 2.0);
  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  auto image = graphics::Image::imageWithContentsOfFile(path);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixelWidth(), 640);
}

class SettingsCommandTest : public SettingsTabTest {
 protected:
  int run(std::vector<std::string> arguments) {
    out.str("");
    err.str("");
    return runSettingsCommand(arguments, out, err);
  }
  std::ostringstream out, err;
};

TEST_F(SettingsCommandTest, ShowsEveryPaneAndRegistersDefaultsOnlyOnTheFirstRun) {
  EXPECT_EQ(run({}), 0);
  EXPECT_NE(out.str().find("Registered "), std::string::npos);
  EXPECT_NE(out.str().find("Breathing pattern"), std::string::npos);
  EXPECT_NE(out.str().find("Relax"), std::string::npos);
  EXPECT_NE(out.str().find("[Display]"), std::string::npos);
  EXPECT_NE(out.str().find("show_heartbeat_wave_preference"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(defaults()->filePath()));
  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(out.str().find("Registered "), std::string::npos);
}

TEST_F(SettingsCommandTest, SetEditsThroughTheScreenAndRefusesWhatTheRowCannotTake) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* key;
    ObjectPtr stored;
  };
  const Case cases[] = {
      {{"set", "use_simulation_preference", "on"}, 0, "use_simulation_preference", box("YES")},
      {{"set", "use_flash_preference", "off"}, 0, "use_flash_preference", box(false)},
      {{"set", "breath_type_preference", "Balanced"}, 0, "breath_type_preference", box(3)},
      {{"set", "sex_preference", "F"}, 0, "sex_preference", box("F")},
      {{"set", "breath_period_preference", "12.5"}, 0, "breath_period_preference", box(12.5f)},
      {{"set", "name_preference", "Anna"}, 0, "name_preference", box("Anna")},
      {{"set", "show_filtered_data_preference", "yes"}, 0, "show_filtered_data_preference", box(true)},
      {{"set", "sex_preference", "X"}, 1, "sex_preference", box("F")},
      {{"set", "use_flash_preference", "maybe"}, 1, "use_flash_preference", box(false)},
      {{"set", "breath_period_preference", "99"}, 1, "breath_period_preference", box(12.5f)},
      {{"set", "version_preference", "2"}, 1, "version_preference", box("1.0")},
      {{"set", "no_such_preference", "1"}, 2, nullptr, nullptr},
      {{"set", "name_preference"}, 2, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.size() > 1 ? c.arguments[1] + " " + c.arguments.back() : "");
    changes.clear();
    EXPECT_EQ(run(c.arguments), c.status) << err.str();
    if (c.status != 0) {
      EXPECT_FALSE(err.str().empty());
    }
    if (c.status == 0) {
      ASSERT_EQ(changes.size(), 1u);
      EXPECT_EQ(changes[0].key, c.key);
    } else {
      EXPECT_TRUE(changes.empty());
    }
    if (c.key) {
      EXPECT_TRUE(zv::isEqual(defaults()->objectForKey(c.key), c.stored)) << describe(defaults()->objectForKey(c.key));
    }
  }
  // What was set is what the table shows and what the file holds.
  EXPECT_EQ(run({}), 0);
  EXPECT_NE(out.str().find("Balanced"), std::string::npos);
  auto reread = UserDefaults::makeWithFile(defaults()->filePath());
  EXPECT_EQ(reread->stringForKey("name_preference"), "Anna");
}

}  // namespace
}  // namespace zv::testing
