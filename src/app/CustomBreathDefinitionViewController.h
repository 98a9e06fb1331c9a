#pragma once
// The editor of the custom breathing pattern: four percentages of the breathing period (inhale,
// hold, exhale, hold), shown from the user defaults and stored back by Done, which then dismisses
// the editor (animated). Text that is not a number keeps the value stored before. Main thread
// only.

#include <array>

#include "platform/system/UserDefaults.h"
#include "platform/ui/Button.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace zv {

inline constexpr const char* kCustomBreathIn = "customBreathIn";
inline constexpr const char* kCustomBreathHoldIn = "customBreathHoldIn";
inline constexpr const char* kCustomBreathOut = "customBreathOut";
inline constexpr const char* kCustomBreathHoldOut = "customBreathHoldOut";

class CustomBreathDefinitionViewController : public ui::ViewController {
 public:
  static constexpr const char* kStoryboardIdentifier = "CustomBreathDefinitionViewController";
  static constexpr std::array<const char*, 4> kKeys{kCustomBreathIn, kCustomBreathHoldIn, kCustomBreathOut,
                                                    kCustomBreathHoldOut};
  static constexpr std::array<double, 4> kDefaults{23.53, 5.88, 47.06, 23.53};

  static Ref<CustomBreathDefinitionViewController> make(Ref<UserDefaults> defaults = nullptr);
  // Over the standard user defaults unless given others.
  explicit CustomBreathDefinitionViewController(Ref<UserDefaults> defaults = nullptr);

  // The four inputs, in the order of kKeys (the view is loaded on first use).
  const std::array<Ref<ui::TextField>, 4>& percentageFields();
  const Ref<ui::Button>& doneButton();
  // The stored percentage of one phase, or its default.
  double storedPercentage(std::size_t phase) const;

  void loadView() override;
  void viewWillAppear(bool animated) override;
  // Stores the four percentages and dismisses the editor, animated.
  void done();

 private:
  Ref<UserDefaults> defaults() const;

  Ref<UserDefaults> defaults_;
  std::array<Ref<ui::TextField>, 4> fields_;
  Ref<ui::Button> done_;
};

}  // namespace zv
