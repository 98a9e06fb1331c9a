#pragma once
// The sharing framework's heads-up display: one rounded, translucent 160 x 160 square in the
// middle of the key window showing a spinner with a message ("Saving to ...", "Connecting...")
// or a check mark with a message ("Saved!"), fading itself out 0.6 s after a completion.
//
// A process-wide singleton made on first currentIndicator(). It adds itself to the key window
// when shown and leaves it when a hide's fade ends with its alpha still 0 (so a display shown
// again meanwhile stays). Delayed hides are run-loop performs that a show or persist cancels.
//
// Threads: main thread only. Ownership: the singleton lives for the process; its labels and
// spinner are its subviews.

#include <optional>
#include <string>

#include "platform/ui/Label.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/View.h"

namespace zv {

class SXActivityIndicator : public ui::View {
 public:
  static Ref<SXActivityIndicator> currentIndicator();

  void show();
  void hide();
  void hideAfterDelay();
  void persist();
  // The end of a hide's fade: leaves the window when still transparent.
  void hidden();
  void displayActivity(const std::string& message);
  void displayCompleted(const std::string& message);
  void setCenterMessage(const std::optional<std::string>& message);
  void setSubMessage(const std::optional<std::string>& message);
  void showSpinner();
  void hideSpinner();
  void setProperRotation(bool animated = true);

  const Ref<ui::Label>& centerMessageLabel() const { return centerMessageLabel_; }
  const Ref<ui::Label>& subMessageLabel() const { return subMessageLabel_; }
  const Ref<ui::ActivityIndicatorView>& spinner() const { return spinner_; }

  // Tests only: takes the display out of its window and forgets its parts.
  static void resetForTesting();

  SXActivityIndicator();

 private:
  void placeInKeyWindow();
  ObjectPtr orientationObserver_;
  Ref<ui::Label> centerMessageLabel_;
  Ref<ui::Label> subMessageLabel_;
  Ref<ui::ActivityIndicatorView> spinner_;
};

}  // namespace zv
