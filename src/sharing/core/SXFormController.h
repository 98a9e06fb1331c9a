#pragma once
// A sharer's form: a grouped table with one editable cell per SXFormFieldSettings row, a Cancel
// button on the left and a done-style button on the right. The entered values go back to the
// form's delegate (the sharer) through three callbacks: validate (right button; the sharer
// checks and calls saveForm), save (then the hub hides the form) and cancel (after it is hidden).
// An option-picker row opens an SXFormOptionController over the form. Taken away by the hub
// before it was saved, cancelled or closed, the form runs its cancel callback (once).
//
// Made by class name (configuration key "SXFormControllerSubclass"), so construction is two-step:
// a default-constructed object, then initWithStyle.
//
// Threads: main thread. Ownership: the form owns its sections and rows; the delegate (the sharer,
// which holds the form in its navigation stack) is not retained, and the callbacks capture it weakly.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/TableViewController.h"
#include "platform/ui/TextField.h"
#include "sharing/core/SXFormFieldSettings.h"
#include "sharing/core/SXShareScreen.h"

namespace zv {

class SXFormController;
class SXFormOptionController;

// The form's side of its cells.
class SXFormFieldCellDelegate : public Protocol {
 public:
  virtual void setActiveTextField(const Ref<ui::TextField>& field) = 0;
};

// The form's side of an option picker.
class SXFormOptionControllerClient : public Protocol {
 public:
  virtual void SXFormOptionControllerDidFinish(SXFormOptionController& picker) = 0;
};

struct SXFormSection {
  std::vector<Ref<SXFormFieldSettings>> rows;
  std::optional<std::string> header;
  std::optional<std::string> footer;
};

class SXFormController : public ui::TableViewController, public SXFormFieldCellDelegate,
                         public SXFormOptionControllerClient, public SXShareScreen {
 public:
  using FormAction = std::function<void(SXFormController& form)>;

  SXFormController();
  // A form of the class registered under `className` (nullptr when none, or not a form).
  static Ref<SXFormController> makeNamed(std::string_view className);
  void initWithStyle(ui::TableViewStyle style, std::optional<std::string> title, std::string rightButtonTitle);

  void addSection(std::vector<Ref<SXFormFieldSettings>> rows, std::optional<std::string> header = std::nullopt,
                  std::optional<std::string> footer = std::nullopt);
  const std::vector<SXFormSection>& sections() const { return sections_; }
  // Key -> value of the rows of the section that have a value (rows without one are absent).
  Ref<Dictionary> formValuesForSection(std::size_t section) const;
  Ref<Dictionary> formValues() const { return formValuesForSection(0); }
  Ref<SXFormFieldSettings> rowSettingsForIndexPath(const Ref<IndexPath>& indexPath) const;

  void validateForm();
  void saveForm();
  void cancel();
  // Hides the form through the hub; the user is done with it.
  void close();
  bool finished() const { return finished_; }
  void shareScreenTakenAway() override;

  const std::weak_ptr<Object>& delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<Object> delegate) { delegate_ = std::move(delegate); }
  void setValidateSelector(FormAction action) { validateSelector_ = std::move(action); }
  void setSaveSelector(FormAction action) { saveSelector_ = std::move(action); }
  void setCancelSelector(FormAction action) { cancelSelector_ = std::move(action); }
  bool autoSelect() const { return autoSelect_; }
  void setAutoSelect(bool autoSelect) { autoSelect_ = autoSelect; }
  const Ref<ui::TextField>& activeField() const { return activeField_; }
  void setActiveTextField(const Ref<ui::TextField>& field) override { activeField_ = field; }

  void SXFormOptionControllerDidFinish(SXFormOptionController& picker) override;

  // Screen and table.
  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  std::size_t numberOfSectionsInTableView(ui::TableView&) override { return sections_.size(); }
  std::size_t tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) override;
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) override;
  std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, std::size_t section) override;
  std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, std::size_t section) override;
  void tableViewDidSelectRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) override;
  bool respondsToSelector(std::string_view selector) const override {
    return TableViewController::respondsToSelector(selector);
  }

 private:
  std::weak_ptr<Object> delegate_;
  FormAction validateSelector_;
  FormAction saveSelector_;
  FormAction cancelSelector_;
  std::vector<SXFormSection> sections_;
  Ref<ui::TextField> activeField_;
  bool autoSelect_ = false;
  bool finished_ = false;
  std::string rightButtonTitle_;
};

}  // namespace zv
