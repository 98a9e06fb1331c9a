#pragma once
// Alerts and action sheets: a title, a message (alerts), buttons with cancel, destructive and
// first-other indexes, and a delegate told the index of the button pressed. Alerts can carry text
// fields (plain, secure, or login and password). While shown, an alert or sheet lies in the key
// window, and its parts are ordinary subviews: a title label (tag 1), a message label (tag 2),
// the text fields and one button per index (tag 100 + index), so screens can walk them.
//
// A user's press (`simulateTapButtonAtIndex`) calls the delegate's clicked call and then
// dismissWithClickedButtonIndex (which subclasses may override, as the platform's press goes
// through it); that tells the delegate will-dismiss and did-dismiss. The delegate is not
// retained; a shown alert is kept alive by the window until it is dismissed. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Protocol.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"

namespace zv::ui {

class ActionSheet;
class AlertView;
class BarButtonItem;

// A panel of buttons shown over the key window.
class ButtonPanel : public View {
 public:
  using View::View;

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  // Returns the new button's index.
  long addButtonWithTitle(std::string title);
  std::optional<std::string> buttonTitleAtIndex(long index) const;
  long numberOfButtons() const { return static_cast<long>(buttons_.size()); }
  long cancelButtonIndex() const { return cancelButtonIndex_; }
  void setCancelButtonIndex(long index) { cancelButtonIndex_ = index; }
  // The first button that is neither cancel nor destructive; -1 when none.
  long firstOtherButtonIndex() const;
  bool isVisible() const { return visible_; }

  // A user's press on a button.
  void simulateTapButtonAtIndex(long index);
  virtual void dismissWithClickedButtonIndex(long index, bool animated);
  // The button view of an index (nullptr when not shown).
  Ref<Button> buttonAtIndex(long index) const;

  // The alerts and sheets shown now, oldest first (tests).
  static std::vector<Ref<ButtonPanel>> visiblePanels();
  // Takes every shown panel off the screen without telling its delegate: the application's own
  // reset, which leaves nothing of a previous run on screen.
  static void forgetVisiblePanels();

 protected:
  void presentIn(const Ref<View>& host);
  virtual void willPresent() {}
  virtual void didPresent() {}
  virtual void clicked(long index) { (void)index; }
  virtual void willDismiss(long index) { (void)index; }
  virtual void didDismiss(long index) { (void)index; }
  virtual void buildContent(double& y) { (void)y; }
  long destructiveButtonIndex_ = -1;

 private:
  void build();

  std::optional<std::string> title_;
  std::vector<std::string> buttons_;
  std::vector<Ref<Button>> buttonViews_;
  long cancelButtonIndex_ = -1;
  bool visible_ = false;
};

class AlertViewDelegate : public Protocol {
 public:
  virtual void alertViewClickedButtonAtIndex(AlertView&, long buttonIndex) { (void)buttonIndex; }
  virtual void alertViewCancel(AlertView&) {}
  virtual void willPresentAlertView(AlertView&) {}
  virtual void didPresentAlertView(AlertView&) {}
  virtual void alertViewWillDismissWithButtonIndex(AlertView&, long buttonIndex) { (void)buttonIndex; }
  virtual void alertViewDidDismissWithButtonIndex(AlertView&, long buttonIndex) { (void)buttonIndex; }
  virtual bool alertViewShouldEnableFirstOtherButton(AlertView&) { return true; }
};

class AlertView : public ButtonPanel {
 public:
  // The cancel button, when given, comes first (index 0), then the others in order.
  static Ref<AlertView> make(std::optional<std::string> title, std::optional<std::string> message,
                             std::weak_ptr<AlertViewDelegate> delegate,
                             std::optional<std::string> cancelButtonTitle,
                             std::vector<std::string> otherButtonTitles = {});
  AlertView();

  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
  std::weak_ptr<AlertViewDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { delegate_ = std::move(delegate); }
  AlertViewStyle alertViewStyle() const { return style_; }
  void setAlertViewStyle(AlertViewStyle style);
  // The text fields of the style: index 0 (and 1 for login and password). Another index raises
  // "NSRangeException".
  Ref<TextField> textFieldAtIndex(long index);

  // Shows the alert in the key window.
  void show();
  // Cancelled by the system (the application left the foreground): alertViewCancel when the
  // delegate answers it, else a dismissal with the cancel index.
  void simulateSystemCancel();
  // Re-asks the delegate whether the first other button is enabled (as text changes do).
  void updateFirstOtherButton();

 protected:
  void willPresent() override;
  void didPresent() override;
  void clicked(long index) override;
  void willDismiss(long index) override;
  void didDismiss(long index) override;
  void buildContent(double& y) override;

 private:
  std::optional<std::string> message_;
  std::weak_ptr<AlertViewDelegate> delegate_;
  AlertViewStyle style_ = AlertViewStyle::Default;
  std::vector<Ref<TextField>> fields_;
};

class ActionSheetDelegate : public Protocol {
 public:
  virtual void actionSheetClickedButtonAtIndex(ActionSheet&, long buttonIndex) { (void)buttonIndex; }
  virtual void actionSheetCancel(ActionSheet&) {}
  virtual void willPresentActionSheet(ActionSheet&) {}
  virtual void didPresentActionSheet(ActionSheet&) {}
  virtual void actionSheetWillDismissWithButtonIndex(ActionSheet&, long buttonIndex) { (void)buttonIndex; }
  virtual void actionSheetDidDismissWithButtonIndex(ActionSheet&, long buttonIndex) { (void)buttonIndex; }
};

class ActionSheet : public ButtonPanel {
 public:
  // Buttons in the platform's order: the destructive one, the others, the cancel one last.
  static Ref<ActionSheet> make(std::optional<std::string> title, std::weak_ptr<ActionSheetDelegate> delegate,
                               std::optional<std::string> cancelButtonTitle,
                               std::optional<std::string> destructiveButtonTitle,
                               std::vector<std::string> otherButtonTitles = {});
  ActionSheet();

  std::weak_ptr<ActionSheetDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<ActionSheetDelegate> delegate) { delegate_ = std::move(delegate); }
  long destructiveButtonIndex() const { return destructiveButtonIndex_; }
  void setDestructiveButtonIndex(long index) { destructiveButtonIndex_ = index; }
  ActionSheetStyle actionSheetStyle() const { return style_; }
  void setActionSheetStyle(ActionSheetStyle style) { style_ = style; }

  void showInView(const Ref<View>& view);
  void showFromToolbar(const Ref<View>& toolbar) { showInView(toolbar); }
  void showFromTabBar(const Ref<View>& tabBar) { showInView(tabBar); }
  void showFromBarButtonItem(const Ref<BarButtonItem>& item, bool animated);
  // The view the sheet was shown in (not retained).
  Ref<View> shownInView() const { return shownIn_.lock(); }

 protected:
  void willPresent() override;
  void didPresent() override;
  void clicked(long index) override;
  void willDismiss(long index) override;
  void didDismiss(long index) override;

 private:
  std::weak_ptr<ActionSheetDelegate> delegate_;
  ActionSheetStyle style_ = ActionSheetStyle::Automatic;
  std::weak_ptr<View> shownIn_;
};

}  // namespace zv::ui
