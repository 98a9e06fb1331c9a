#pragma once
// A fixture for sharing-framework tests: the test thread as the main thread, a temporary
// application home (user defaults and keychain inside it), the repository's resources as the main
// bundle (Sharing.bundle with its texts and sharers list), the sharing classes registered, and a
// TestSXConfigurator installed whose keys a test may override one by one.
//
// UI scenarios use a manual clock and advance() it; network scenarios keep the real clock and
// pump the run loop until their callbacks arrived (pumpRunLoopUntil with a generous time-out).

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Values.h"
#include "platform/net/ReachabilityProvider.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Responder.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "sharing/core/SXConfiguration.h"
#include "support/TestSupport.h"

#ifndef ZV_SOURCE_DIR
#error "sharing tests need ZV_SOURCE_DIR (the repository root)"
#endif

namespace zv::testing {

// The defaults, with any key overridable by the test.
class TestSXConfigurator : public DefaultSXConfigurator {
 public:
  void set(const std::string& key, ObjectPtr value) {
    std::lock_guard lock(mutex_);
    overrides_[key] = std::move(value);
  }
  ObjectPtr valueForKey(std::string_view key, const ObjectPtr& object) override {
    {
      std::lock_guard lock(mutex_);
      if (auto found = overrides_.find(std::string(key)); found != overrides_.end()) return found->second;
    }
    return DefaultSXConfigurator::valueForKey(key, object);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, ObjectPtr> overrides_;
};

void registerSharingTestClasses();

class SharingTest : public ::testing::Test {
 protected:
  // `manualClock`: UI scenarios drive time themselves.
  explicit SharingTest(bool manualClock = true) : manualClock_(manualClock) {}

  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    if (manualClock_) {
      clock_ = std::make_shared<ManualClock>(1000.0);
      Clock::install(clock_);
    }
    auto& environment = ApplicationEnvironment::shared();
    environment.setHomeDirectory(home.path());
    environment.setPreferredLanguages({"en"});
    UserDefaults::resetStandardUserDefaults();
    Bundle::setMainBundlePath(std::filesystem::path(ZV_SOURCE_DIR) / "resources");
    ui::Application::sharedApplication()->reset();
    ui::Device::currentDevice()->reset();
    reachability = std::make_shared<net::FakeReachabilityProvider>();
    net::ReachabilityProvider::install(reachability);
    registerSharingTestClasses();
    resetHub();
    SXConfiguration::resetForTesting();
    configurator = std::make_shared<TestSXConfigurator>();
    SXConfiguration::sharedInstanceWithConfigurator(configurator);
  }

  void TearDown() override {
    for (const auto& panel : ui::ButtonPanel::visiblePanels()) panel->dismissWithClickedButtonIndex(-1, false);
    if (auto first = ui::Responder::currentFirstResponder()) first->Responder::resignFirstResponder();
    if (manualClock_) settle();
    // Work left on the main queue (a dismissal's end notification) runs now, not in the next test.
    pumpRunLoopUntil([] { return OperationQueue::mainQueue()->operationCount() == 0; }, 10.0);
    resetHub();
    window_.reset();
    ui::Application::sharedApplication()->reset();
    net::ReachabilityProvider::install(nullptr);
    SXConfiguration::resetForTesting();
    Bundle::setMainBundlePath(std::nullopt);
    UserDefaults::resetStandardUserDefaults();
    ApplicationEnvironment::shared().reset();
    if (manualClock_) Clock::install(nullptr);
  }

  // Forgets what the hub presented, so the next test starts clean.
  void resetHub();

  void setOffline(bool offline) {
    reachability->setDefaultFlags(offline ? 0u : static_cast<std::uint32_t>(net::kReachabilityFlagReachable));
  }

  // Lets `seconds` pass on the manual clock and runs what became due, in order.
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
  // Lets every transition end and the work they leave on the main queue run.
  void settleAll() {
    for (int i = 0; i < 3; ++i) {
      settle();
      pumpRunLoopUntil([] { return OperationQueue::mainQueue()->operationCount() == 0; }, 10.0);
    }
  }
  // A plain screen the hub shows, up once this returns.
  Ref<ui::ViewController> showThroughHub();

  // A key window showing `root`.
  Ref<ui::Window> showRoot(const Ref<ui::ViewController>& root) {
    window_ = ui::Window::make(ui::Rect(0, 0, 320, 480));
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    return window_;
  }

  // The alert shown last, or nullptr.
  static Ref<ui::AlertView> topAlert() {
    auto panels = ui::ButtonPanel::visiblePanels();
    for (auto it = panels.rbegin(); it != panels.rend(); ++it) {
      if (auto alert = dyn<ui::AlertView>(*it)) return alert;
    }
    return nullptr;
  }

  TemporaryDirectory home;
  std::shared_ptr<TestSXConfigurator> configurator;
  std::shared_ptr<net::FakeReachabilityProvider> reachability;

 private:
  bool manualClock_;
  std::shared_ptr<ManualClock> clock_;
  Ref<ui::Window> window_;
};

}  // namespace zv::testing
