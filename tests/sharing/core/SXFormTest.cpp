#include <gtest/gtest.h>

#include "platform/graphics/Color.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXFormController.h"
#include "sharing/core/SXFormOptionController.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

Ref<MutableDictionary> pickerInfo(std::vector<std::string> options, bool multiple, bool fixed,
                                  std::string chosen = "-1") {
  std::vector<ObjectPtr> items;
  for (auto& o : options) items.push_back(box(o));
  return MutableDictionary::make({{"title", box("Groups")},
                                  {"itemsList", Array::make(std::move(items))},
                                  {"curIndexes", box(chosen)},
                                  {"allowMultiple", box(multiple)},
                                  {"static", box(fixed)}});
}

// Answers when the test says so. Like a sharer, it keeps the waiting picker weakly: the row's
// description holds the provider.
class ManualProvider : public Object, public SXFormOptionControllerOptionProvider {
 public:
  void SXFormOptionControllerEnumerateOptions(SXFormOptionController& picker) override {
    asked = picker.selfAs<SXFormOptionController>();
  }
  void SXFormOptionControllerCancelEnumerateOptions(SXFormOptionController&) override { cancelled = true; }
  bool respondsToSelector(std::string_view selector) const override { return Object::respondsToSelector(selector); }
  std::weak_ptr<SXFormOptionController> asked;
  bool cancelled = false;
};

class SXFormTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    form = std::make_shared<SXFormController>();
    form->initWithStyle(ui::TableViewStyle::Grouped, "Form", "Save");
    form->setValidateSelector([this](SXFormController& f) {
      validatedValues = f.formValues();
      f.saveForm();
    });
    form->setSaveSelector([this](SXFormController&) { ++saves; });
    form->setCancelSelector([this](SXFormController&) { ++cancels; });
  }
  void show() {
    navigation = ui::NavigationController::make(form);
    showRoot(navigation);
    settle();
  }
  Ref<SXFormOptionController> openPicker(std::size_t row) {
    form->tableView()->simulateTapOnRow(IndexPath::forRow(row, 0));
    settle();
    auto picker = dyn<SXFormOptionController>(navigation->topViewController());
    EXPECT_TRUE(picker);
    if (picker) {
      picker->view();
      picker->tableView()->setNeedsLayout();
      picker->tableView()->layoutIfNeeded();
    }
    return picker;
  }
  void tapOption(const Ref<SXFormOptionController>& picker, std::size_t row) {
    picker->tableView()->simulateTapOnRow(IndexPath::forRow(row, 0));
  }

  Ref<SXFormController> form;
  Ref<ui::NavigationController> navigation;
  Ref<Dictionary> validatedValues;
  int saves = 0;
  int cancels = 0;
};

TEST_F(SXFormTest, ValuesOmitUntouchedRowsAndTheTypedTextIsStoredBeforeValidation) {
  form->addSection({SXFormFieldSettings::make("Name", "name", SXFormFieldTypeText, std::nullopt),
                    SXFormFieldSettings::make("Note", "note", SXFormFieldTypeText, "start"),
                    SXFormFieldSettings::make("Secret", "secret", SXFormFieldTypePassword, std::nullopt)});
  show();
  EXPECT_EQ(form->formValues()->count(), 1u);
  auto secret = dyn<SXFormFieldCellText>(formCell(form, 0, 2));
  ASSERT_TRUE(secret);
  EXPECT_TRUE(secret->textField()->isSecureTextEntry());
  EXPECT_EQ(secret->textField()->autocorrectionType(), ui::TextAutocorrectionType::No);
  typeInto(form, 0, "Ada");
  // Still typing when the button is pressed.
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(validatedValues);
  EXPECT_EQ(validatedValues->stringForKey("name"), "Ada");
  EXPECT_EQ(validatedValues->stringForKey("note"), "start");
  EXPECT_FALSE(validatedValues->objectForKey("secret"));
  EXPECT_EQ(saves, 1);
}

TEST_F(SXFormTest, ConfiguredColoursReachTheTableAndTheLabels) {
  configurator->set("formBackgroundColor", graphics::Color::make(0.2, 0.2, 0.2));
  configurator->set("formFontColor", graphics::Color::redColor());
  form->addSection({SXFormFieldSettings::make("Public", "public", SXFormFieldTypeSwitch, "1")});
  show();
  EXPECT_TRUE(form->tableView()->backgroundColor()->isEqual(*graphics::Color::make(0.2, 0.2, 0.2)));
  auto cell = dyn<SXFormFieldCellSwitch>(formCell(form, 0, 0));
  ASSERT_TRUE(cell);
  EXPECT_TRUE(cell->textLabel()->textColor()->isEqual(*graphics::Color::redColor()));
  EXPECT_TRUE(cell->mySwitch()->isOn());
  flipSwitch(form, 0, 0);
  EXPECT_EQ(form->formValues()->stringForKey("public"), "0");
}

TEST_F(SXFormTest, CancelClosesThenReports) {
  form->addSection({SXFormFieldSettings::make("Name", "name", SXFormFieldTypeText, std::nullopt)});
  show();
  ASSERT_TRUE(pressLeft(form));
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(saves, 0);
}

TEST_F(SXFormTest, SingleChoiceCommitsAtOnceAndCancelKeepsTheValue) {
  auto row = SXFormFieldSettings::make("Group", "group", SXFormFieldTypeOptionPicker, std::nullopt,
                                       pickerInfo({"a", "b", "c"}, false, true), "None");
  form->addSection({row});
  show();
  auto cell = formCell(form, 0, 0);
  EXPECT_EQ(cell->detailTextLabel()->text(), "None");
  auto picker = openPicker(0);
  ASSERT_TRUE(picker);
  EXPECT_EQ(picker->title(), "Groups");
  tapOption(picker, 1);
  settle();
  EXPECT_EQ(row->value, "b");
  EXPECT_EQ(navigation->topViewController(), form);
  EXPECT_EQ(formCell(form, 0, 0)->detailTextLabel()->text(), "b");

  picker = openPicker(0);
  ASSERT_TRUE(pressLeft(picker));
  settle();
  EXPECT_EQ(row->value, "b");
}

TEST_F(SXFormTest, AFixedMultipleChoiceListCanCommitItsChoice) {
  auto row = SXFormFieldSettings::make("Tags", "tags", SXFormFieldTypeOptionPicker, std::nullopt,
                                       pickerInfo({"red", "green", "blue"}, true, true));
  form->addSection({row});
  show();
  auto picker = openPicker(0);
  ASSERT_TRUE(picker);
  tapOption(picker, 2);
  tapOption(picker, 0);
  EXPECT_EQ(row->optionPickerInfo->stringForKey("curIndexes"), "2,0");
  renderKeyWindow("sharing-option-picker");
  ASSERT_TRUE(pressRight(picker)) << "no Done button on a fixed multiple-choice list";
  settle();
  EXPECT_EQ(row->value, "blue,red");
  EXPECT_EQ(navigation->topViewController(), form);
}

// Options listed with ids: the value names the ticked options by id, whatever their texts or
// ids hold, while the cell shows the texts.
TEST_F(SXFormTest, OptionsWithIdsCarryTheIdsAndShowTheTexts) {
  auto provider = std::make_shared<ManualProvider>();
  auto info = pickerInfo({}, true, false);
  info->setObject(provider, "SXFormOptionControllerOptionProvider");
  auto row = SXFormFieldSettings::make("Sets", "sets", SXFormFieldTypeOptionPicker, std::nullopt, info, "None");
  form->addSection({row});
  show();
  auto picker = openPicker(0);
  picker->optionsEnumerated({"Cats, Dogs", "Cats", "Cats"}, {"7,1", "50%", "9"});
  tapOption(picker, 2);
  tapOption(picker, 0);
  ASSERT_TRUE(pressRight(picker));
  settle();
  ASSERT_TRUE(row->value);
  EXPECT_EQ(SXFormFieldSettings::splitOptionIds(*row->value), (std::vector<std::string>{"9", "7,1"}));
  EXPECT_EQ(formCell(form, 0, 0)->detailTextLabel()->text(), "Cats,Cats, Dogs");
  EXPECT_EQ(SXFormFieldSettings::splitOptionIds(*row->optionPickerIdsForIndexes("1")),
            std::vector<std::string>{"50%"});
  EXPECT_EQ(row->optionPickerIdsForIndexes("-1"), "-1");
  // Without ids (or with a list of another length) the value stays the texts.
  EXPECT_FALSE(SXFormFieldSettings::make("L", "k", SXFormFieldTypeOptionPicker, std::nullopt,
                                         pickerInfo({"a"}, true, true))->optionPickerIdsForIndexes("0"));
}

TEST_F(SXFormTest, DeselectingTheOnlyChoiceClearsTheValue) {
  auto row = SXFormFieldSettings::make("Tags", "tags", SXFormFieldTypeOptionPicker, "green",
                                       pickerInfo({"red", "green"}, true, true, "1"));
  form->addSection({row});
  show();
  auto picker = openPicker(0);
  tapOption(picker, 1);
  EXPECT_EQ(row->optionPickerInfo->stringForKey("curIndexes"), "-1");
  picker->done();
  EXPECT_EQ(row->value, std::nullopt);
}

TEST_F(SXFormTest, EnumeratedOptionsArriveFromTheProvider) {
  auto provider = std::make_shared<ManualProvider>();
  auto info = pickerInfo({}, true, false, "5");
  info->setObject(provider, "SXFormOptionControllerOptionProvider");
  auto row = SXFormFieldSettings::make("Sets", "sets", SXFormFieldTypeOptionPicker, std::nullopt, info);
  form->addSection({row});
  show();
  auto picker = openPicker(0);
  ASSERT_TRUE(provider->asked.lock());
  EXPECT_EQ(provider->asked.lock(), picker);
  EXPECT_FALSE(picker->navigationItem()->rightBarButtonItem());
  picker->optionsEnumerated({"one", "two"});
  // Index 5 is gone from the new list.
  EXPECT_EQ(info->stringForKey("curIndexes"), "-1");
  EXPECT_TRUE(picker->didLoad());
  EXPECT_EQ(picker->tableView()->numberOfRowsInSection(0), 2u);
  tapOption(picker, 1);
  ASSERT_TRUE(pressRight(picker));
  EXPECT_EQ(row->value, "two");
}

TEST_F(SXFormTest, AFailedEnumerationAlertsAndClosesUnchanged) {
  auto provider = std::make_shared<ManualProvider>();
  auto info = pickerInfo({}, false, false);
  info->setObject(provider, "SXFormOptionControllerOptionProvider");
  auto row = SXFormFieldSettings::make("Sets", "sets", SXFormFieldTypeOptionPicker, "kept", info);
  form->addSection({row});
  show();
  auto picker = openPicker(0);
  picker->optionsEnumerationFailedWithError(SX::error("no"));
  auto alert = topAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title(), "No Options");
  EXPECT_EQ(alert->message(), "Could not find any Groups");
  alert->simulateTapButtonAtIndex(0);
  settle();
  EXPECT_EQ(row->value, "kept");
  EXPECT_EQ(navigation->topViewController(), form);
}

TEST_F(SXFormTest, CancellingWhileLoadingStopsTheProvider) {
  auto provider = std::make_shared<ManualProvider>();
  auto info = pickerInfo({}, false, false);
  info->setObject(provider, "SXFormOptionControllerOptionProvider");
  form->addSection({SXFormFieldSettings::make("Sets", "sets", SXFormFieldTypeOptionPicker, std::nullopt, info)});
  show();
  auto picker = openPicker(0);
  ASSERT_TRUE(pressLeft(picker));
  EXPECT_TRUE(provider->cancelled);
}

TEST(SXFormFieldSettingsTest, OptionValuesForIndexes) {
  auto row = SXFormFieldSettings::make("L", "k", SXFormFieldTypeOptionPicker, std::nullopt, pickerInfo({"a", "b", "c"}, true, true));
  EXPECT_EQ(row->optionPickerValueForIndexes("-1"), "-1");
  EXPECT_EQ(row->optionPickerValueForIndexes("2,0"), "c,a");
  EXPECT_EQ(row->optionPickerValueForIndexes("7"), "-1");
  EXPECT_EQ(row->optionPickerValueForIndexes("x,1"), "b");
  EXPECT_EQ(row->value, std::nullopt);
  EXPECT_EQ(SXFormFieldSettings::make("L", "k", SXFormFieldTypeText, "s")->value, "s");
}

}  // namespace
}  // namespace zv::testing
