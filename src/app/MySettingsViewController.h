#pragma once
// The screen of the application's "Settings" tab: the settings screen over "Root" and the
// standard user defaults, acting as its own delegate. Its button row "settings_custom_breath1"
// opens the custom-breath editor from the application's storyboard; every change announced with
// "kAppSettingChanged" is traced in the log while the screen shows (the observation is renewed on
// each appearance, as the base screen ends all observations when it disappears). Main thread
// only.

#include "platform/system/Notification.h"
#include "settings/PrefsAppSettingsViewController.h"

namespace zv {

inline constexpr const char* kCustomBreathButtonKey = "settings_custom_breath1";
// The application's storyboard, where the editor is found when the screen was not made by one.
inline constexpr const char* kApplicationStoryboardName = "MainStoryboard";

class MySettingsViewController : public PrefsAppSettingsViewController, public PrefsSettingsDelegate {
 public:
  // initWithNibName:bundle: — the nib name given is ignored.
  static Ref<MySettingsViewController> make(std::optional<std::string> nibName = std::nullopt,
                                            Ref<Bundle> bundle = nullptr);
  MySettingsViewController(std::optional<std::string> nibName, Ref<Bundle> bundle);

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) override {
    return orientation == ui::InterfaceOrientation::Portrait;
  }

  void settingsViewControllerDidEnd(PrefsAppSettingsViewController&) override {}
  void settingsViewControllerButtonTappedForKey(PrefsAppSettingsViewController& sender, const std::string& key) override;
  void settingDidChange(const Ref<Notification>& notification);

  // Answers for the one optional delegate call it implements.
  bool respondsToSelector(std::string_view selector) const override;
};

// Registers the application's storyboard with the screens made by identifier, and this screen's
// class by name (its child panes are made as screens of its class).
void registerApplicationStoryboard();

}  // namespace zv
