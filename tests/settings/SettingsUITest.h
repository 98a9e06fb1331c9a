#pragma once
// A fixture for driving settings screens through the user interface: the test thread as the main
// thread on a manual clock, a fresh application, a temporary home (standard user defaults inside
// it), a temporary main bundle holding the descriptions a test writes, and kAppSettingChanged
// posts recorded.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Values.h"
#include "platform/runloop/RunLoop.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Composers.h"
#include "platform/ui/Device.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Storyboard.h"
#include "platform/ui/Window.h"
#include "settings/PrefsAppSettingsViewController.h"
#include "support/TestSupport.h"

namespace zv::testing {

struct Change {
  std::string key;
  ObjectPtr value;
};

class SettingsUITest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    clock_ = std::make_shared<ManualClock>(1000.0);
    Clock::install(clock_);
    auto& environment = ApplicationEnvironment::shared();
    environment.setHomeDirectory(home.path());
    environment.setPreferredLanguages({"en"});
    environment.setUserInterfaceIdiom(UserInterfaceIdiom::Phone);
    UserDefaults::resetStandardUserDefaults();
    Bundle::setMainBundlePath(resourcesPath());
    ui::Application::sharedApplication()->reset();
    ui::Device::currentDevice()->reset();
    ui::MailComposeViewController::setCanSendMail(true);
    registerSettingsClasses();
    changesToken_ = NotificationCenter::defaultCenter()->addObserverForName(
        kAppSettingChanged, nullptr, [this](const Ref<Notification>& n) {
          auto key = stringValueOf(n->object()).value_or("");
          changes.push_back({key, n->userInfo() ? n->userInfo()->objectForKey(key) : nullptr});
        });
  }
  void TearDown() override {
    settle();
    NotificationCenter::defaultCenter()->removeObserver(changesToken_);
    if (auto first = ui::Responder::currentFirstResponder()) first->resignFirstResponder();
    ui::Application::sharedApplication()->reset();
    ui::Storyboard::unregisterAll();
    Bundle::setMainBundlePath(std::nullopt);
    UserDefaults::resetStandardUserDefaults();
    ApplicationEnvironment::shared().reset();
    Clock::install(nullptr);
  }

  // The folder the main bundle reads; tests write descriptions under Settings.bundle there.
  virtual std::filesystem::path resourcesPath() { return resources.path(); }

  void writeDescription(const std::string& name, std::vector<ObjectPtr> rows) {
    auto root = MutableDictionary::make({{"PreferenceSpecifiers", Array::make(std::move(rows))}});
    auto path = resources / ("Settings.bundle/" + name + ".plist");
    std::filesystem::create_directories(path.parent_path());
    ASSERT_TRUE(storage::writePropertyList(path, *root, storage::PropertyListFormat::XML));
  }

  void advance(double seconds) {
    const double target = clock_->monotonic() + seconds + 1e-7;
    while (clock_->monotonic() < target) {
      clock_->advance(std::min(0.01, target - clock_->monotonic()));
      while (RunLoop::current()->fireDueTimers(kDefaultRunLoopMode) > 0) {
      }
    }
    while (RunLoop::current()->fireDueTimers(kDefaultRunLoopMode) > 0) {
    }
  }
  void settle() { advance(2.0); }

  // The screen as the root of a navigation controller in a key window, laid out.
  Ref<ui::NavigationController> show(const Ref<ui::ViewController>& screen) {
    auto navigation = ui::NavigationController::make(screen);
    window_ = ui::Window::make(ui::Rect(0, 0, 320, 480));
    window_->setRootViewController(navigation);
    window_->makeKeyAndVisible();
    settle();
    layout(screen);
    return navigation;
  }
  static void layout(const Ref<ui::ViewController>& screen) {
    screen->view()->setNeedsLayout();
    screen->view()->layoutIfNeeded();
  }
  static Ref<IndexPath> path(std::size_t section, std::size_t row) { return IndexPath::forRow(row, section); }

  Ref<UserDefaults> defaults() { return UserDefaults::standardUserDefaults(); }

  TemporaryDirectory home;
  TemporaryDirectory resources;
  std::vector<Change> changes;

 private:
  std::shared_ptr<ManualClock> clock_;
  ObjectPtr changesToken_;
  Ref<ui::Window> window_;
};

// Row dictionaries.
inline Ref<Dictionary> row(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries) {
  return Dictionary::make(entries);
}
inline Ref<Dictionary> group(const char* title, const char* key = nullptr, const char* footer = nullptr) {
  auto d = MutableDictionary::make({{"Type", box(kPrefsPSGroupSpecifier)}, {"Title", box(title)}});
  if (key) d->setObject(box(key), "Key");
  if (footer) d->setObject(box(footer), "FooterText");
  return d;
}
inline Ref<Dictionary> toggle(const char* key, const char* title) {
  return row({{"Type", box(kPrefsPSToggleSwitchSpecifier)}, {"Key", box(key)}, {"Title", box(title)}});
}

}  // namespace zv::testing
