#pragma once
// One row of a settings description: typed, defaulted access to the row dictionary's entries.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Values.h"

namespace zv {

class PrefsSettingsReader;

// The row types ("Type") the settings screens know.
inline constexpr const char* kPrefsPSGroupSpecifier = "PSGroupSpecifier";
inline constexpr const char* kPrefsPSToggleSwitchSpecifier = "PSToggleSwitchSpecifier";
inline constexpr const char* kPrefsPSMultiValueSpecifier = "PSMultiValueSpecifier";
inline constexpr const char* kPrefsPSTitleValueSpecifier = "PSTitleValueSpecifier";
inline constexpr const char* kPrefsPSTextFieldSpecifier = "PSTextFieldSpecifier";
inline constexpr const char* kPrefsPSSliderSpecifier = "PSSliderSpecifier";
inline constexpr const char* kPrefsPSChildPaneSpecifier = "PSChildPaneSpecifier";
inline constexpr const char* kPrefsOpenURLSpecifier = "PrefsOpenURLSpecifier";
inline constexpr const char* kPrefsButtonSpecifier = "PrefsButtonSpecifier";
inline constexpr const char* kPrefsMailComposeSpecifier = "PrefsMailComposeSpecifier";
inline constexpr const char* kPrefsCustomViewSpecifier = "PrefsCustomViewSpecifier";

// The numeric values of the text-input traits and alignments rows ask for.
enum class PrefsKeyboardType {
  Default = 0,
  ASCIICapable = 1,
  NumbersAndPunctuation = 2,
  URL = 3,
  NumberPad = 4,
  PhonePad = 5,
  NamePhonePad = 6,
  EmailAddress = 7,
  DecimalPad = 8,
};
enum class PrefsAutocapitalizationType { None = 0, Words = 1, Sentences = 2, AllCharacters = 3 };
enum class PrefsAutocorrectionType { Default = 0, No = 1, Yes = 2 };
enum class PrefsTextAlignment { Left = 0, Center = 1, Right = 2 };

class PrefsSpecifier : public Object {
 public:
  // initWithSpecifier: keeps the row; multi-value and title-value rows also get
  // multipleValuesDict with whichever of "Values" and "Titles" the row holds.
  static Ref<PrefsSpecifier> make(Ref<Dictionary> specifierDict);

  // Raw entries.
  std::optional<std::string> key() const { return specifierDict_->stringForKey("Key"); }
  std::optional<std::string> type() const { return specifierDict_->stringForKey("Type"); }
  std::optional<std::string> file() const { return specifierDict_->stringForKey("File"); }
  ObjectPtr defaultValue() const { return specifierDict_->objectForKey("DefaultValue"); }
  ObjectPtr trueValue() const { return specifierDict_->objectForKey("TrueValue"); }
  ObjectPtr falseValue() const { return specifierDict_->objectForKey("FalseValue"); }
  std::optional<std::string> minimumValueImage() const { return specifierDict_->stringForKey("MinimumValueImage"); }
  std::optional<std::string> maximumValueImage() const { return specifierDict_->stringForKey("MaximumValueImage"); }
  bool isType(std::string_view rowType) const { return type() == rowType; }

  // Localized entries (through the reader that handed the row out).
  std::optional<std::string> title() const { return localizedObjectForKey("Title"); }
  std::optional<std::string> footerText() const { return localizedObjectForKey("FooterText"); }
  std::optional<std::string> localizedObjectForKey(std::string_view key) const;

  // The text form of "DefaultValue" (nullopt when absent).
  std::optional<std::string> defaultStringValue() const;
  // YES when "DefaultValue" equals "TrueValue"; else NO when it equals "FalseValue"; else the
  // boolean reading of "DefaultValue".
  bool defaultBoolValue() const;
  float minimumValue() const { return floatValueOf(specifierDict_->objectForKey("MinimumValue")); }
  float maximumValue() const { return floatValueOf(specifierDict_->objectForKey("MaximumValue")); }

  Ref<Array> multipleValues() const;
  Ref<Array> multipleTitles() const;
  std::size_t multipleValuesCount() const;
  // The localized title of `value`; nullopt when the counts of values and titles differ, the value
  // is not among the values, or the lookup fails.
  std::optional<std::string> titleForCurrentValue(const ObjectPtr& value) const;

  bool isSecure() const { return boolValueOf(specifierDict_->objectForKey("IsSecure")); }
  PrefsKeyboardType keyboardType() const;
  PrefsAutocapitalizationType autocapitalizationType() const;
  PrefsAutocorrectionType autoCorrectionType() const;
  PrefsTextAlignment textAlignment() const;
  // YES when "PrefsAdjustsFontSizeToFitWidth" is absent.
  bool adjustsFontSizeToFitWidth() const;
  // The image names of "PrefsCellImage" (and with "Highlighted" appended); nullopt when absent.
  std::optional<std::string> cellImageName() const { return specifierDict_->stringForKey("PrefsCellImage"); }
  std::optional<std::string> highlightedCellImageName() const;

  // Classes and selectors named by the row (nullptr / nullopt when absent or unknown).
  const ClassInfo* viewControllerClass() const;
  const ClassInfo* buttonClass() const;
  std::optional<std::string> viewControllerSelector() const {
    return specifierDict_->stringForKey("PrefsViewControllerSelector");
  }
  std::optional<std::string> buttonAction() const { return specifierDict_->stringForKey("PrefsButtonAction"); }

  const Ref<Dictionary>& specifierDict() const { return specifierDict_; }
  void setSpecifierDict(Ref<Dictionary> dict) { specifierDict_ = std::move(dict); }
  const Ref<Dictionary>& multipleValuesDict() const { return multipleValuesDict_; }
  void setMultipleValuesDict(Ref<Dictionary> dict) { multipleValuesDict_ = std::move(dict); }
  // The reader that last handed the row out (not retained).
  Ref<PrefsSettingsReader> settingsReader() const { return settingsReader_.lock(); }
  void setSettingsReader(const Ref<PrefsSettingsReader>& reader) { settingsReader_ = reader; }

  explicit PrefsSpecifier(Ref<Dictionary> specifierDict);

 private:
  Ref<Dictionary> specifierDict_;
  Ref<Dictionary> multipleValuesDict_;
  std::weak_ptr<PrefsSettingsReader> settingsReader_;
};

}  // namespace zv
