#pragma once
// One row of a sharer's form: label, key, kind, start value and current value, and for option
// pickers the picker's description. Sharers build their login and share forms from these rows;
// the form's cells write the user's entries into `value`.
//
// Option-picker description keys: "title" (picker title), "itemsList" (array of option texts),
// "curIndexes" (chosen indexes joined by ",", or "-1"), "allowMultiple" and "static" (boolean
// numbers), "SXFormOptionControllerOptionProvider" (an object adopting
// SXFormOptionControllerOptionProvider, used when the list is not static; a sharer naming itself
// stores a WeakReference, since its own form holds these rows).
//
// Threads: main thread. Ownership: the row owns its texts and the description.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Values.h"

namespace zv {

enum SXFormFieldType : std::int32_t {
  SXFormFieldTypeText = 0,
  SXFormFieldTypeTextNoCorrect = 1,  // user names: no autocapitalisation, no autocorrection
  SXFormFieldTypePassword = 2,
  SXFormFieldTypeSwitch = 3,  // value "1" or "0"
  SXFormFieldTypeOptionPicker = 4,
};

class SXFormFieldSettings : public Object {
 public:
  static Ref<SXFormFieldSettings> make(std::string label, std::string key, SXFormFieldType type,
                                       std::optional<std::string> start,
                                       Ref<MutableDictionary> optionPickerInfo = nullptr,
                                       std::optional<std::string> optionDetailLabelDefault = std::nullopt);

  // The chosen option texts for an index list ("0,2") joined by ","; "-1" when none is taken.
  std::string optionPickerValueForIndexes(std::string_view indexes) const;

  std::string label;
  std::string key;
  SXFormFieldType type = SXFormFieldTypeText;
  std::optional<std::string> start;
  std::optional<std::string> value;
  Ref<MutableDictionary> optionPickerInfo;
  std::optional<std::string> optionDetailLabelDefault;
};

}  // namespace zv
