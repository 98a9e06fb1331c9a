#pragma once
// The cells of a sharer's form, one kind per row kind: text (plain, no-correction, password),
// switch, and option picker (the row's value, or its default text, on the right). Each writes the
// user's entry into its row (userSetValue) as it happens.
//
// Threads: main thread. Ownership: a cell keeps its row; the form (its delegate) is not retained.

#include <string>

#include "platform/ui/SimpleControls.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TextField.h"
#include "sharing/core/SXFormController.h"

namespace zv {

class SXFormFieldCell : public ui::TableViewCell {
 public:
  SXFormFieldCell(ui::TableViewCellStyle style, std::string reuseIdentifier);

  // Once, when made: colours the label with "formFontColor" when configured.
  virtual void setupLayout();
  // Each time shown.
  virtual void setupWithSettings(const Ref<SXFormFieldSettings>& settings);
  // Stores a value as the row's value.
  void userSetValue(const std::optional<std::string>& value);

  const std::weak_ptr<SXFormFieldCellDelegate>& delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<SXFormFieldCellDelegate> delegate) { delegate_ = std::move(delegate); }
  const Ref<SXFormFieldSettings>& settings() const { return settings_; }

 protected:
  std::weak_ptr<SXFormFieldCellDelegate> delegate_;
  Ref<SXFormFieldSettings> settings_;
};

// Kept for applications that customise cells.
class SXCustomFormFieldCell : public SXFormFieldCell {
 public:
  using SXFormFieldCell::SXFormFieldCell;
};

class SXFormFieldCellText : public SXFormFieldCell, public ui::TextFieldDelegate {
 public:
  SXFormFieldCellText();
  void setupLayout() override;
  void setupWithSettings(const Ref<SXFormFieldSettings>& settings) override;
  void setSelected(bool selected, bool animated = false) override;
  const Ref<ui::TextField>& textField() const { return textField_; }

  void textFieldDidBeginEditing(ui::TextField& field) override;
  bool textFieldShouldEndEditing(ui::TextField& field) override;
  bool textFieldShouldReturn(ui::TextField& field) override;
  bool respondsToSelector(std::string_view selector) const override { return View::respondsToSelector(selector); }

 private:
  Ref<ui::TextField> textField_;
};

class SXFormFieldCellSwitch : public SXFormFieldCell {
 public:
  SXFormFieldCellSwitch();
  void setupLayout() override;
  void setupWithSettings(const Ref<SXFormFieldSettings>& settings) override;
  const Ref<ui::Switch>& mySwitch() const { return mySwitch_; }

 private:
  Ref<ui::Switch> mySwitch_;
};

class SXFormFieldCellOptionPicker : public SXFormFieldCell {
 public:
  SXFormFieldCellOptionPicker();
  void setupWithSettings(const Ref<SXFormFieldSettings>& settings) override;
};

}  // namespace zv
