#include "settings/PrefsSpecifier.h"

#include "settings/PrefsSettingsReader.h"

namespace zv {

PrefsSpecifier::PrefsSpecifier(Ref<Dictionary> specifierDict) : specifierDict_(std::move(specifierDict)) {
  if (!specifierDict_) specifierDict_ = Dictionary::make();
  if (isType(kPrefsPSMultiValueSpecifier) || isType(kPrefsPSTitleValueSpecifier)) {
    auto values = MutableDictionary::make();
    if (auto v = specifierDict_->objectForKey("Values")) values->setObject(v->copy(), "Values");
    if (auto t = specifierDict_->objectForKey("Titles")) values->setObject(t->copy(), "Titles");
    multipleValuesDict_ = values;
  }
}

Ref<PrefsSpecifier> PrefsSpecifier::make(Ref<Dictionary> specifierDict) {
  return std::make_shared<PrefsSpecifier>(std::move(specifierDict));
}

std::optional<std::string> PrefsSpecifier::localizedObjectForKey(std::string_view key) const {
  auto entry = specifierDict_->stringForKey(key);
  if (!entry) return std::nullopt;
  if (auto reader = settingsReader()) return reader->titleForStringId(*entry);
  return entry;
}

std::optional<std::string> PrefsSpecifier::defaultStringValue() const { return stringValueOf(defaultValue()); }

bool PrefsSpecifier::defaultBoolValue() const {
  ObjectPtr value = defaultValue();
  if (value && zv::isEqual(value, trueValue())) return true;
  if (value && zv::isEqual(value, falseValue())) return false;
  return boolValueOf(value);
}

Ref<Array> PrefsSpecifier::multipleValues() const {
  return multipleValuesDict_ ? multipleValuesDict_->objectForKeyAs<Array>("Values") : nullptr;
}

Ref<Array> PrefsSpecifier::multipleTitles() const {
  return multipleValuesDict_ ? multipleValuesDict_->objectForKeyAs<Array>("Titles") : nullptr;
}

std::size_t PrefsSpecifier::multipleValuesCount() const {
  auto values = multipleValues();
  return values ? values->count() : 0;
}

std::optional<std::string> PrefsSpecifier::titleForCurrentValue(const ObjectPtr& value) const {
  auto values = multipleValues();
  auto titles = multipleTitles();
  std::size_t valueCount = values ? values->count() : 0;
  std::size_t titleCount = titles ? titles->count() : 0;
  if (valueCount != titleCount || !value || !values) return std::nullopt;
  auto index = values->indexOfObject(value);
  if (!index) return std::nullopt;
  auto title = dyn<String>(titles->objectAtIndex(*index));
  if (!title) return std::nullopt;
  if (auto reader = settingsReader()) return reader->titleForStringId(title->utf8());
  return title->utf8();
}

PrefsKeyboardType PrefsSpecifier::keyboardType() const {
  auto value = specifierDict_->stringForKey("KeyboardType");
  if (!value) return PrefsKeyboardType::Default;
  if (*value == "Alphabet") return PrefsKeyboardType::Default;
  if (*value == "NumbersAndPunctuation") return PrefsKeyboardType::NumbersAndPunctuation;
  if (*value == "NumberPad") return PrefsKeyboardType::NumberPad;
  if (*value == "PhonePad") return PrefsKeyboardType::PhonePad;
  if (*value == "NamePhonePad") return PrefsKeyboardType::NamePhonePad;
  if (*value == "AsciiCapable") return PrefsKeyboardType::ASCIICapable;
  // Every platform this runs on has the decimal pad.
  if (*value == "DecimalPad") return PrefsKeyboardType::DecimalPad;
  if (*value == "URL") return PrefsKeyboardType::URL;
  if (*value == "EmailAddress") return PrefsKeyboardType::EmailAddress;
  return PrefsKeyboardType::Default;
}

PrefsAutocapitalizationType PrefsSpecifier::autocapitalizationType() const {
  auto value = specifierDict_->stringForKey("AutocapitalizationType");
  if (value == "Sentences") return PrefsAutocapitalizationType::Sentences;
  if (value == "Words") return PrefsAutocapitalizationType::Words;
  if (value == "AllCharacters") return PrefsAutocapitalizationType::AllCharacters;
  return PrefsAutocapitalizationType::None;
}

PrefsAutocorrectionType PrefsSpecifier::autoCorrectionType() const {
  auto value = specifierDict_->stringForKey("AutocorrectionType");
  if (value == "No") return PrefsAutocorrectionType::No;
  if (value == "Yes") return PrefsAutocorrectionType::Yes;
  return PrefsAutocorrectionType::Default;
}

PrefsTextAlignment PrefsSpecifier::textAlignment() const {
  auto value = specifierDict_->stringForKey("PrefsTextAlignment");
  if (value == "PrefsUITextAlignmentLeft") return PrefsTextAlignment::Left;
  if (value == "PrefsUITextAlignmentCenter") return PrefsTextAlignment::Center;
  if (value == "PrefsUITextAlignmentRight") return PrefsTextAlignment::Right;
  if (isType(kPrefsButtonSpecifier) && !cellImageName()) return PrefsTextAlignment::Center;
  if (isType(kPrefsPSMultiValueSpecifier) || isType(kPrefsPSTitleValueSpecifier)) return PrefsTextAlignment::Right;
  return PrefsTextAlignment::Left;
}

bool PrefsSpecifier::adjustsFontSizeToFitWidth() const {
  auto value = specifierDict_->objectForKey("PrefsAdjustsFontSizeToFitWidth");
  return value ? boolValueOf(value) : true;
}

std::optional<std::string> PrefsSpecifier::highlightedCellImageName() const {
  auto name = cellImageName();
  if (!name) return std::nullopt;
  return *name + "Highlighted";
}

const ClassInfo* PrefsSpecifier::viewControllerClass() const {
  auto name = specifierDict_->stringForKey("PrefsViewControllerClass");
  return name ? classNamed(*name) : nullptr;
}

const ClassInfo* PrefsSpecifier::buttonClass() const {
  auto name = specifierDict_->stringForKey("PrefsButtonClass");
  return name ? classNamed(*name) : nullptr;
}

}  // namespace zv
