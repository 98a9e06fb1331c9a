#pragma once
// The delegate of a settings screen: told when editing ends and when a button row is tapped, and
// asked for custom rows, header views and mail details. Only settingsViewControllerDidEnd is
// required; the screen asks respondsToSelector (by these method names) before the others.

#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Composers.h"
#include "settings/PrefsSpecifier.h"

namespace zv {

class PrefsAppSettingsViewController;

class PrefsSettingsDelegate : public Protocol {
 public:
  virtual void settingsViewControllerDidEnd(PrefsAppSettingsViewController& sender) = 0;

  virtual double settingsViewControllerTableViewHeightForHeaderForSection(PrefsAppSettingsViewController&,
                                                                          ui::TableView&, std::size_t) {
    return 0;
  }
  virtual Ref<ui::View> settingsViewControllerTableViewViewForHeaderForSection(PrefsAppSettingsViewController&,
                                                                               ui::TableView&, std::size_t) {
    return nullptr;
  }
  virtual double tableViewHeightForSpecifier(ui::TableView&, const Ref<PrefsSpecifier>&) { return 0; }
  virtual Ref<ui::TableViewCell> tableViewCellForSpecifier(ui::TableView&, const Ref<PrefsSpecifier>&) { return nullptr; }
  virtual std::optional<std::string> settingsViewControllerMailComposeBodyForSpecifier(PrefsAppSettingsViewController&,
                                                                                       const Ref<PrefsSpecifier>&) {
    return std::nullopt;
  }
  virtual Ref<ui::ViewController> settingsViewControllerViewControllerForMailComposeViewForSpecifier(
      PrefsAppSettingsViewController&, const Ref<PrefsSpecifier>&) {
    return nullptr;
  }
  virtual void settingsViewControllerMailComposeControllerDidFinishWithResultError(PrefsAppSettingsViewController&,
                                                                                   ui::MailComposeViewController&,
                                                                                   ui::MailComposeResult,
                                                                                   const Ref<Error>&) {}
  virtual void settingsViewControllerButtonTappedForKey(PrefsAppSettingsViewController&, const std::string&) {}
  virtual void settingsViewControllerButtonTappedForSpecifier(PrefsAppSettingsViewController&,
                                                              const Ref<PrefsSpecifier>&) {}
  virtual void settingsViewControllerTableViewDidSelectCustomViewSpecifier(PrefsAppSettingsViewController&,
                                                                           ui::TableView&,
                                                                           const Ref<PrefsSpecifier>&) {}
};

}  // namespace zv
