// The worked example through the pickers and the offline queue: the share menu and the action
// sheet starting the echo sharer, the menu's edit mode, and an echo share queued while offline and
// replayed once online.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/Pasteboard.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Composers.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActionSheet.h"
#include "sharing/core/SXOfflineQueue.h"
#include "sharing/core/SXShareMenu.h"
#include "support/sharing/EchoService.h"
#include "support/sharing/EchoSharer.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class DecliningDelegate : public Object, public SXShareItemDelegate {
 public:
  bool aboutToShareItemWithSharer(const Ref<SXItem>&, const Ref<SXSharer>& sharer) override {
    asked.push_back(sharer->sharerId());
    return false;
  }
  std::vector<std::string> asked;
};

// Services that only lend the menu their titles.
class TitledSharer : public SXSharer {
 public:
  bool canShareText() const override { return true; }
  bool requiresAuthentication() const override { return false; }
};
class ZebraSharer : public TitledSharer {
 public:
  std::string sharerTitle() const override { return "Zebra"; }
};
class AccentSharer : public TitledSharer {
 public:
  std::string sharerTitle() const override { return "\xC3\x89xample"; }  // "Éxample"
};
class LowerSharer : public TitledSharer {
 public:
  std::string sharerTitle() const override { return "apple"; }
};

class EchoMenuAndQueueTest : public SharingTest {
 protected:
  EchoMenuAndQueueTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    EchoSharer::registerClass();
    ASSERT_TRUE(service.start());
    configurator->set("echoServiceURL", box(service.baseURL()));
    writeFile(home / "sharers.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
              "<key>actions</key><array><string>SXMail</string><string>SXCopy</string></array>"
              "<key>services</key><array><string>EchoSharer</string><string>NoSuchSharer</string></array>"
              "</dict></plist>");
    configurator->set("sharersPlistName", box((home / "sharers.plist").string()));
    configurator->set("shareMenuAlphabeticalOrder", box(true));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
  }
  void TearDown() override {
    ui::MailComposeViewController::setCanSendMail(true);
    pumpRunLoopFor(0.5);  // let the last dismissal end
    SharingTest::TearDown();
  }

  void logIn() {
    ASSERT_TRUE(SX::setAuthValue("alice", "username", "EchoSharer"));
    ASSERT_TRUE(SX::setAuthValue("s3cret", "password", "EchoSharer"));
  }

  // The menu, presented through the hub and on screen.
  Ref<SXShareMenu> showMenu(const Ref<SXItem>& item) {
    auto menu = SXShareMenu::initWithStyle(ui::TableViewStyle::Grouped);
    menu->setItem(item);
    SX::currentHelper()->showViewController(menu, [] {});
    EXPECT_TRUE(pumpRunLoopUntil([&] { return menu->isVisible(); }, 20.0));
    return menu;
  }

  static std::vector<std::string> titles(const Ref<SXShareMenu>& menu, std::size_t section) {
    std::vector<std::string> names;
    auto table = menu->tableView();
    for (std::size_t row = 0; row < table->numberOfRowsInSection(section); ++row) {
      auto cell = table->cellForRowAtIndexPath(IndexPath::forRow(row, section));
      names.push_back(cell ? cell->textLabel()->text().value_or("") : "<none>");
    }
    return names;
  }

  static std::size_t rowOf(const Ref<SXShareMenu>& menu, std::size_t section, const std::string& title) {
    auto names = titles(menu, section);
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), title) - names.begin());
  }

  static std::vector<std::string> storedExcluded() { return SXShareMenu::storedExclusions(); }

  EchoService service{"alice", "s3cret"};
  Ref<ui::ViewController> root;
};

TEST_F(EchoMenuAndQueueTest, PickingEchoInTheMenuSharesThroughItsForm) {
  logIn();
  auto item = SXItem::makeURL(URL::make("https://example.org/r/7"), "Seven");
  auto menu = showMenu(item);
  menu->tableView()->setNeedsLayout();
  menu->tableView()->layoutIfNeeded();
  EXPECT_EQ(titles(menu, 0), (std::vector<std::string>{"Copy", "Email"}));
  EXPECT_EQ(titles(menu, 1), std::vector<std::string>{"Echo"});
  EXPECT_EQ(menu->tableView()->headerViewForSection(1) != nullptr, true);
  renderKeyWindow("sharing-share-menu");

  menu->tableView()->simulateTapOnRow(IndexPath::forRow(0, 1));
  // The menu goes and the echo sharer's share form comes in its place.
  Ref<SXFormController> form;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto sharer = dyn<SXSharer>(SX::currentHelper()->currentView());
    form = sharer ? dyn<SXFormController>(sharer->topViewController()) : nullptr;
    return form && form->isVisible() && !SX::currentHelper()->isDismissingView();
  }, 20.0));
  EXPECT_FALSE(menu->isVisible());
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeURL).front(), "EchoSharer");
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.acceptedPosts() == 1; }, 20.0));
  auto fields = EchoService::formFields(service.requests().back());
  EXPECT_EQ(fields["title"], "Seven");
  EXPECT_EQ(fields["url"], "https://example.org/r/7");
}

// A second row tapped while the menu is leaving starts nothing.
TEST_F(EchoMenuAndQueueTest, ARowTappedWhileTheMenuLeavesStartsNoSecondSharer) {
  logIn();
  Pasteboard::generalPasteboard()->setString("before");
  auto menu = showMenu(SXItem::makeText("second row"));
  ASSERT_TRUE(menu->tableView()->simulateTapOnRow(IndexPath::forRow(rowOf(menu, 1, "Echo"), 1)));
  EXPECT_FALSE(menu->tableView()->simulateTapOnRow(IndexPath::forRow(rowOf(menu, 0, "Copy"), 0)));
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    return !menu->view()->window() && !ui::Application::sharedApplication()->isIgnoringInteractionEvents();
  }, 20.0));
  EXPECT_EQ(Pasteboard::generalPasteboard()->string(), "before") << "the copy action ran as well";
}

TEST_F(EchoMenuAndQueueTest, SwitchingAServiceOffLogsItOutOnlyOnDoneAndCancelRestores) {
  logIn();
  auto menu = showMenu(SXItem::makeText("t"));
  ASSERT_TRUE(pressRight(menu));  // Edit
  ASSERT_TRUE(menu->isEditing());
  std::size_t echo = rowOf(menu, 1, "Echo");
  menu->tableView()->simulateTapOnRow(IndexPath::forRow(echo, 1));
  auto toggle = dyn<ui::Switch>(menu->tableView()->cellForRowAtIndexPath(IndexPath::forRow(echo, 1))->accessoryView());
  ASSERT_TRUE(toggle);
  EXPECT_FALSE(toggle->isOn());
  EXPECT_EQ(SX::getAuthValueForKey("password", "EchoSharer"), "s3cret");  // not before Done

  ASSERT_TRUE(pressLeft(menu));  // Cancel
  EXPECT_TRUE(storedExcluded().empty());
  EXPECT_EQ(SX::getAuthValueForKey("password", "EchoSharer"), "s3cret");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !SX::currentHelper()->currentView(); }, 20.0));

  menu = showMenu(SXItem::makeText("t"));
  EXPECT_EQ(titles(menu, 1), std::vector<std::string>{"Echo"});
  ASSERT_TRUE(pressRight(menu));
  menu->tableView()->simulateTapOnRow(IndexPath::forRow(rowOf(menu, 1, "Echo"), 1));
  ASSERT_TRUE(pressRight(menu));  // Done
  EXPECT_FALSE(menu->isEditing());
  EXPECT_EQ(storedExcluded(), std::vector<std::string>{"EchoSharer"});
  EXPECT_EQ(SX::getAuthValueForKey("password", "EchoSharer"), std::nullopt);
  EXPECT_EQ(SX::getAuthValueForKey("username", "EchoSharer"), std::nullopt);
  EXPECT_TRUE(titles(menu, 1).empty());
  EXPECT_EQ(menu->tableView()->numberOfRowsInSection(1), 0u);

  // Edit mode shows it again, switched off; switching it on and Done brings it back.
  ASSERT_TRUE(pressRight(menu));
  ASSERT_EQ(titles(menu, 1), std::vector<std::string>{"Echo"});
  menu->tableView()->simulateTapOnRow(IndexPath::forRow(0, 1));
  ASSERT_TRUE(pressRight(menu));
  EXPECT_TRUE(storedExcluded().empty());
  EXPECT_EQ(titles(menu, 1), std::vector<std::string>{"Echo"});
}

// A service that came or went while the menu was open (here mail, as an account is removed and
// added again) is shown by Edit and Done as it is now, beside the switched-off one.
TEST_F(EchoMenuAndQueueTest, EditAndDoneShowWhatCanShareNowAfterAvailabilityChanged) {
  UserDefaults::standardUserDefaults()->setObject(Array::make({box("EchoSharer")}), kSXExcludedKey);
  auto menu = showMenu(SXItem::makeText("t"));
  ASSERT_EQ(titles(menu, 0), (std::vector<std::string>{"Copy", "Email"}));
  ASSERT_TRUE(titles(menu, 1).empty());

  ui::MailComposeViewController::setCanSendMail(false);
  EXPECT_NO_THROW(EXPECT_TRUE(pressRight(menu)));  // Edit
  EXPECT_TRUE(menu->isEditing());
  EXPECT_EQ(titles(menu, 0), std::vector<std::string>{"Copy"});
  EXPECT_EQ(titles(menu, 1), std::vector<std::string>{"Echo"});

  ui::MailComposeViewController::setCanSendMail(true);
  EXPECT_NO_THROW(EXPECT_TRUE(pressRight(menu)));  // Done
  EXPECT_FALSE(menu->isEditing());
  EXPECT_EQ(titles(menu, 0), (std::vector<std::string>{"Copy", "Email"}));
  EXPECT_TRUE(titles(menu, 1).empty());
  EXPECT_EQ(storedExcluded(), std::vector<std::string>{"EchoSharer"});
}

TEST_F(EchoMenuAndQueueTest, TitlesSortAsWordsAndTheOlderExclusionDictionaryIsRead) {
  SXSharer::registerSharerClass<ZebraSharer>();
  SXSharer::registerSharerClass<AccentSharer>();
  SXSharer::registerSharerClass<LowerSharer>();
  writeFile(home / "sharers.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
            "<key>actions</key><array/><key>services</key><array><string>ZebraSharer</string>"
            "<string>EchoSharer</string><string>AccentSharer</string><string>LowerSharer</string></array>"
            "</dict></plist>");
  // An exclusion list kept by an older version: a dictionary whose keys are the class names.
  UserDefaults::standardUserDefaults()->setObject(Dictionary::make({{"EchoSharer", box(true)}}), kSXExcludedKey);
  auto menu = showMenu(SXItem::makeText("t"));
  // Accents and case aside, "Éxample" comes between "apple" and "Zebra"; Echo stays off.
  EXPECT_EQ(titles(menu, 1), (std::vector<std::string>{"apple", "\xC3\x89xample", "Zebra"}));
  ASSERT_TRUE(pressRight(menu));  // Edit: Echo is listed, switched off
  std::size_t echo = rowOf(menu, 1, "Echo");
  ASSERT_LT(echo, titles(menu, 1).size());
  auto toggle = dyn<ui::Switch>(menu->tableView()->cellForRowAtIndexPath(IndexPath::forRow(echo, 1))->accessoryView());
  ASSERT_TRUE(toggle);
  EXPECT_FALSE(toggle->isOn());
  menu->tableView()->simulateTapOnRow(IndexPath::forRow(echo, 1));
  ASSERT_TRUE(pressRight(menu));  // Done: back on, and the list is stored in the current form
  EXPECT_TRUE(storedExcluded().empty());
  EXPECT_TRUE(dyn<Array>(UserDefaults::standardUserDefaults()->objectForKey(kSXExcludedKey)));
  EXPECT_LT(rowOf(menu, 1, "Echo"), titles(menu, 1).size());
}

TEST_F(EchoMenuAndQueueTest, TheActionSheetOffersFavouritesThatCanShare) {
  logIn();
  ui::MailComposeViewController::setCanSendMail(false);
  configurator->set("defaultFavoriteURLSharers", Array::make({box("SXMail"), box("EchoSharer"), box("SXCopy")}));
  configurator->set("showActionSheetMoreButton", box(false));
  auto item = SXItem::makeURL(URL::make("https://example.org/s"), "S");
  auto sheet = SXActionSheet::actionSheetForItem(item);
  EXPECT_EQ(sheet->sharers(), (std::vector<std::string>{"EchoSharer", "SXCopy"}));
  ASSERT_EQ(sheet->numberOfButtons(), 3);
  EXPECT_EQ(sheet->buttonTitleAtIndex(0), "Echo");
  EXPECT_EQ(sheet->buttonTitleAtIndex(2), "Cancel");
  EXPECT_EQ(sheet->cancelButtonIndex(), 2);
  sheet->showInView(root->view());
  sheet->simulateTapButtonAtIndex(2);  // the button after the sharers is Cancel: nothing starts
  EXPECT_FALSE(SX::currentHelper()->currentView());

  // A declining share delegate stops the chosen sharer; "More..." opens the menu.
  configurator->set("showActionSheetMoreButton", box(true));
  auto declining = std::make_shared<DecliningDelegate>();
  sheet = SXActionSheet::actionSheetForItem(item);
  sheet->setShareDelegate(declining);
  ASSERT_EQ(sheet->buttonTitleAtIndex(2), "More...");
  sheet->showInView(root->view());
  sheet->simulateTapButtonAtIndex(0);
  EXPECT_EQ(declining->asked, std::vector<std::string>{"EchoSharer"});
  EXPECT_FALSE(SX::currentHelper()->currentView());
  sheet = SXActionSheet::actionSheetForItem(item);
  sheet->showInView(root->view());
  sheet->simulateTapButtonAtIndex(2);
  // The hub wraps the menu in a navigation controller.
  Ref<SXShareMenu> shown;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto navigation = dyn<ui::NavigationController>(SX::currentHelper()->currentView());
    shown = navigation ? dyn<SXShareMenu>(navigation->topViewController()) : nullptr;
    return shown != nullptr;
  }, 20.0));
  EXPECT_EQ(shown->item(), item);
  EXPECT_EQ(service.acceptedPosts(), 0);
}

TEST_F(EchoMenuAndQueueTest, AnEchoShareMadeOfflineIsReplayedOnceOnline) {
  logIn();
  setOffline(true);
  auto sharer = SXSharer::make<EchoSharer>();
  sharer->setItem(SXItem::makeText("sent later"));
  EXPECT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Offline");
  topAlert()->simulateTapButtonAtIndex(0);
  EXPECT_TRUE(service.requests().empty());
  ASSERT_TRUE(SXOfflineQueue::getOfflineQueueList());

  SX::flushOfflineQueue();  // the next launch, still offline: nothing happens
  EXPECT_TRUE(service.requests().empty());
  setOffline(false);
  SX::flushOfflineQueue();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.acceptedPosts() == 1; }, 20.0));
  EXPECT_EQ(EchoService::formFields(service.requests().back())["text"], "sent later");
  auto queue = SX::currentHelper()->offlineQueue();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return queue->operations().empty(); }, 20.0));
  EXPECT_FALSE(SXOfflineQueue::getOfflineQueueList());
  EXPECT_EQ(topAlert(), nullptr);  // the replay is quiet
}

}  // namespace
}  // namespace zv::testing
