#pragma once
// Drives a sharer's form as a user would: waits for it to be on screen, taps a row, types into its
// field, flips a switch, presses the bar buttons; and renders the key window to a PNG for people
// to look at.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/ViewRenderer.h"
#include "platform/ui/Window.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXSharer.h"
#include "sharing/core/SXFormController.h"
#include "sharing/core/SXFormFieldCell.h"
#include "support/TestSupport.h"

namespace zv::testing {

// The `Screen` on top of `sharer` once the hub shows the sharer settled (presented, no dismissal
// running) and `accepts` (when given) agrees; nullptr, with a test failure naming `what`, when none
// came within 20 seconds.
template <class Screen>
Ref<Screen> waitForScreen(const Ref<SXSharer>& sharer, const std::string& what,
                          const std::function<bool(const Screen&)>& accepts = nullptr) {
  Ref<Screen> screen;
  bool shown = pumpRunLoopUntil(
      [&] {
        screen = dyn<Screen>(sharer->topViewController());
        return screen && screen->isVisible() && (!accepts || accepts(*screen)) &&
               SX::currentHelper()->currentView() == sharer && !SX::currentHelper()->isDismissingView();
      },
      20.0);
  EXPECT_TRUE(shown) << "no " << what << " on screen";
  return shown ? screen : nullptr;
}

// The form titled `title` (the login form is "Login", a share form "").
inline Ref<SXFormController> waitForForm(const Ref<SXSharer>& sharer, const std::string& title) {
  return waitForScreen<SXFormController>(sharer, "form \"" + title + "\"", [&](const SXFormController& form) {
    return form.title().value_or("") == title;
  });
}

inline Ref<ui::TableViewCell> formCell(const Ref<SXFormController>& form, std::size_t section, std::size_t row) {
  auto table = form->tableView();
  table->setNeedsLayout();
  table->layoutIfNeeded();
  return table->cellForRowAtIndexPath(IndexPath::forRow(row, section));
}

// Taps the row and types `text` into its field (after what it already holds).
inline void typeInto(const Ref<SXFormController>& form, std::size_t row, const std::string& text,
                     std::size_t section = 0) {
  form->tableView()->simulateTapOnRow(IndexPath::forRow(row, section));
  auto cell = dyn<SXFormFieldCellText>(formCell(form, section, row));
  ASSERT_TRUE(cell) << "row " << row << " is not a text row";
  ASSERT_TRUE(cell->textField()->isEditing()) << "tapping the row did not start editing";
  cell->textField()->insertText(text);
}

// Taps the row and replaces its field's text.
inline void replaceIn(const Ref<SXFormController>& form, std::size_t row, const std::string& text,
                      std::size_t section = 0) {
  form->tableView()->simulateTapOnRow(IndexPath::forRow(row, section));
  auto cell = dyn<SXFormFieldCellText>(formCell(form, section, row));
  ASSERT_TRUE(cell);
  while (!cell->textField()->text().empty()) cell->textField()->deleteBackward();
  cell->textField()->insertText(text);
}

inline void flipSwitch(const Ref<SXFormController>& form, std::size_t section, std::size_t row) {
  auto cell = dyn<SXFormFieldCellSwitch>(formCell(form, section, row));
  ASSERT_TRUE(cell) << "not a switch row";
  cell->mySwitch()->simulateToggle();
}

inline bool pressRight(const Ref<ui::ViewController>& screen) {
  auto button = screen->navigationItem()->rightBarButtonItem();
  return button && button->simulateTap();
}

inline bool pressLeft(const Ref<ui::ViewController>& screen) {
  auto button = screen->navigationItem()->leftBarButtonItem();
  return button && button->simulateTap();
}

// Renders the key window into the test output folder.
inline void renderKeyWindow(const std::string& name) {
  auto window = ui::Application::sharedApplication()->keyWindow();
  ASSERT_TRUE(window);
  window->setNeedsLayout();
  window->layoutIfNeeded();
  auto error = ui::renderViewToPNG(window, testOutputDirectory() / (name + ".png"));
  EXPECT_EQ(error, nullptr) << describe(error);
}

}  // namespace zv::testing
