#include "sharing/core/SXFormFieldCell.h"

#include <cmath>

#include "platform/graphics/Color.h"
#include "platform/ui/Font.h"
#include "sharing/core/SXConfiguration.h"

namespace zv {

SXFormFieldCell::SXFormFieldCell(ui::TableViewCellStyle style, std::string reuseIdentifier)
    : TableViewCell(style, std::move(reuseIdentifier)) {}

void SXFormFieldCell::setupLayout() {
  if (auto color = dyn<graphics::Color>(SXConfigValue("formFontColor"))) textLabel()->setTextColor(color);
  setSelectionStyle(ui::TableViewCellSelectionStyle::None);
}

void SXFormFieldCell::setupWithSettings(const Ref<SXFormFieldSettings>& settings) {
  settings_ = settings;
  textLabel()->setText(settings ? std::optional<std::string>(settings->label) : std::nullopt);
}

void SXFormFieldCell::userSetValue(const std::optional<std::string>& value) {
  if (settings_) settings_->value = value;
}

SXFormFieldCellText::SXFormFieldCellText() : SXFormFieldCell(ui::TableViewCellStyle::Default, "textCell") {}

void SXFormFieldCellText::setupLayout() {
  SXFormFieldCell::setupLayout();
  const auto content = contentView()->bounds().size;
  textField_ = ui::TextField::make(
      ui::Rect(10, std::round(content.height / 2 - 12) + 2, content.width - 20, 25));
  textField_->setFont(ui::Font::systemFontOfSize(17));
  textField_->setTextColor(graphics::Color::darkGrayColor());
  textField_->setReturnKeyType(ui::ReturnKeyType::Done);
  textField_->setClearsOnBeginEditing(false);
  textField_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleLeftMargin |
                                  ui::ViewAutoresizingFlexibleRightMargin);
  textField_->setDelegate(std::dynamic_pointer_cast<ui::TextFieldDelegate>(self()));
  contentView()->addSubview(textField_);
}

void SXFormFieldCellText::setupWithSettings(const Ref<SXFormFieldSettings>& settings) {
  settings_ = settings;
  // The label is the field's placeholder: the cell shows no label of its own.
  textLabel()->setText(std::nullopt);
  if (!textField_ || !settings) return;
  textField_->setText(settings->value);
  textField_->setPlaceholder(settings->label);
  textField_->setSecureTextEntry(settings->type == SXFormFieldTypePassword);
  const bool plain = settings->type == SXFormFieldTypeTextNoCorrect || settings->type == SXFormFieldTypePassword;
  textField_->setAutocapitalizationType(plain ? ui::TextAutocapitalizationType::None
                                              : ui::TextAutocapitalizationType::Sentences);
  textField_->setAutocorrectionType(plain ? ui::TextAutocorrectionType::No : ui::TextAutocorrectionType::Default);
}

void SXFormFieldCellText::setSelected(bool selected, bool animated) {
  SXFormFieldCell::setSelected(selected, animated);
  if (!textField_) return;
  if (selected) {
    textField_->becomeFirstResponder();
  } else if (textField_->isEditing()) {
    userSetValue(textField_->text());
    textField_->resignFirstResponder();
  }
}

void SXFormFieldCellText::textFieldDidBeginEditing(ui::TextField&) {
  if (auto form = delegate_.lock()) form->setActiveTextField(textField_);
}

bool SXFormFieldCellText::textFieldShouldEndEditing(ui::TextField& field) {
  userSetValue(field.text());
  return true;
}

bool SXFormFieldCellText::textFieldShouldReturn(ui::TextField& field) {
  userSetValue(field.text());
  if (auto form = delegate_.lock()) form->setActiveTextField(nullptr);
  if (field.isEditing()) field.resignFirstResponder();
  return false;
}

SXFormFieldCellSwitch::SXFormFieldCellSwitch() : SXFormFieldCell(ui::TableViewCellStyle::Default, "switchCell") {}

void SXFormFieldCellSwitch::setupLayout() {
  SXFormFieldCell::setupLayout();
  mySwitch_ = ui::Switch::make();
  std::weak_ptr<SXFormFieldCellSwitch> weak = selfAs<SXFormFieldCellSwitch>();
  mySwitch_->addAction(ui::ControlEventValueChanged, [weak](ui::Control&) {
    if (auto me = weak.lock()) me->userSetValue(me->mySwitch_->isOn() ? "1" : "0");
  });
  setAccessoryView(mySwitch_);
}

void SXFormFieldCellSwitch::setupWithSettings(const Ref<SXFormFieldSettings>& settings) {
  SXFormFieldCell::setupWithSettings(settings);
  if (mySwitch_ && settings) mySwitch_->setOn(settings->value == "1");
}

SXFormFieldCellOptionPicker::SXFormFieldCellOptionPicker()
    : SXFormFieldCell(ui::TableViewCellStyle::Value1, "optionsCell") {
  setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
}

void SXFormFieldCellOptionPicker::setupWithSettings(const Ref<SXFormFieldSettings>& settings) {
  SXFormFieldCell::setupWithSettings(settings);
  if (!settings || !detailTextLabel()) return;
  detailTextLabel()->setText(settings->value ? (settings->valueText ? settings->valueText : settings->value)
                                             : settings->optionDetailLabelDefault);
}

}  // namespace zv
