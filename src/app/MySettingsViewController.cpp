#include "app/MySettingsViewController.h"

#include "app/CustomBreathDefinitionViewController.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Storyboard.h"

namespace zv {

using namespace ui;

MySettingsViewController::MySettingsViewController(std::optional<std::string>, Ref<Bundle> bundle)
    : PrefsAppSettingsViewController(std::string("PrefsAppSettingsView"), std::move(bundle)) {}

Ref<MySettingsViewController> MySettingsViewController::make(std::optional<std::string> nibName, Ref<Bundle> bundle) {
  return std::make_shared<MySettingsViewController>(std::move(nibName), std::move(bundle));
}

bool MySettingsViewController::respondsToSelector(std::string_view selector) const {
  return selector == "settingsViewControllerButtonTappedForKey" || PrefsAppSettingsViewController::respondsToSelector(selector);
}

void MySettingsViewController::viewDidLoad() {
  PrefsAppSettingsViewController::viewDidLoad();
  setDelegate(selfAs<MySettingsViewController>());
}

void MySettingsViewController::viewWillAppear(bool animated) {
  PrefsAppSettingsViewController::viewWillAppear(animated);
  setHiddenKeys(nullptr);
  // Renewed on every appearance: leaving the screen ends all of its observations.
  std::weak_ptr<MySettingsViewController> weak = selfAs<MySettingsViewController>();
  NotificationCenter::defaultCenter()->removeObserver(self(), kAppSettingChanged, nullptr);
  NotificationCenter::defaultCenter()->addObserver(self(), kAppSettingChanged, nullptr,
                                                   [weak](const Ref<Notification>& notification) {
                                                     if (auto screen = weak.lock()) screen->settingDidChange(notification);
                                                   });
}

void MySettingsViewController::settingsViewControllerButtonTappedForKey(PrefsAppSettingsViewController&,
                                                                        const std::string& key) {
  if (key != kCustomBreathButtonKey) return;
  auto board = storyboard();
  if (!board) board = Storyboard::storyboardWithName(kApplicationStoryboardName);
  auto editor = board ? board->instantiateViewControllerWithIdentifier(CustomBreathDefinitionViewController::kStoryboardIdentifier)
                      : nullptr;
  if (!editor) return;
  auto navigation = NavigationController::make(editor);
  navigation->setNavigationBarHidden(true);
  editor->setModalTransitionStyle(ModalTransitionStyle::CrossDissolve);
  presentViewController(navigation, true);
}

void MySettingsViewController::settingDidChange(const Ref<Notification>& notification) {
  log(LogLevel::Trace, "MysettingsViewController::settingDidchange: " + describe(notification->object()));
}

void registerApplicationStoryboard() {
  // Made by name too: the settings screen opens its child panes as screens of its own class.
  ClassRegistry::shared()
      .registerClass("MySettingsViewController", "PrefsAppSettingsViewController")
      .setFactory([] { return MySettingsViewController::make(); });
  auto board = Storyboard::make(kApplicationStoryboardName);
  board->registerViewController(CustomBreathDefinitionViewController::kStoryboardIdentifier,
                                [] { return CustomBreathDefinitionViewController::make(); });
  board->registerViewController("MySettingsViewController", [] { return MySettingsViewController::make(); });
  Storyboard::registerStoryboard(board);
}

}  // namespace zv
