#pragma once
// A fixture for user-interface scenarios: a manual clock, the test thread as the main thread, a
// fresh application with a key window, and a way to let time pass on the run loop.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace zv::ui::testing {

class UITest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    clock_ = std::make_shared<ManualClock>(1000.0);
    Clock::install(clock_);
    Application::sharedApplication()->reset();
    Device::currentDevice()->reset();
  }
  void TearDown() override {
    for (const auto& panel : ButtonPanel::visiblePanels()) panel->dismissWithClickedButtonIndex(-1, false);
    if (auto first = Responder::currentFirstResponder()) first->Responder::resignFirstResponder();
    settle();
    Application::sharedApplication()->reset();
    Clock::install(nullptr);
  }

  // Lets `seconds` pass and runs what became due, in order.
  void advance(double seconds) {
    // Small steps so that work scheduled by work runs when it is due; a hair past the end so
    // that what is due exactly then runs too.
    const double target = clock_->monotonic() + seconds + 1e-7;
    while (clock_->monotonic() < target) {
      clock_->advance(std::min(0.01, target - clock_->monotonic()));
      while (RunLoop::current()->fireDueTimers(kDefaultRunLoopMode) > 0) {
      }
    }
    while (RunLoop::current()->fireDueTimers(kDefaultRunLoopMode) > 0) {
    }
  }
  // Lets every pending transition and animation end.
  void settle() { advance(2.0); }

  Ref<Window> makeKeyWindow(const Ref<ViewController>& root) {
    auto window = Window::make(Rect(0, 0, 320, 480));
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    return window;
  }

  std::shared_ptr<ManualClock> clock_;
};

// A screen that writes its appearance calls into a shared journal.
class JournalScreen : public ViewController {
 public:
  JournalScreen(std::string name, std::vector<std::string>* journal) : name_(std::move(name)), journal_(journal) {}
  void viewDidLoad() override { journal_->push_back(name_ + " load"); }
  void viewWillAppear(bool) override { journal_->push_back(name_ + " willAppear"); }
  void viewDidAppear(bool) override { journal_->push_back(name_ + " didAppear"); }
  void viewWillDisappear(bool) override { journal_->push_back(name_ + " willDisappear"); }
  void viewDidDisappear(bool) override { journal_->push_back(name_ + " didDisappear"); }

 private:
  std::string name_;
  std::vector<std::string>* journal_;
};

}  // namespace zv::ui::testing
