#pragma once
// One row of a sharer's form: label, key, kind, start value and current value, and for option
// pickers the picker's description. Sharers build their login and share forms from these rows;
// the form's cells write the user's entries into `value`.
//
// Option-picker description keys: "title" (picker title), "itemsList" (array of option texts),
// "itemsIds" (optional array of the options' ids, one per text: the row's value then carries the
// chosen ids, see optionPickerIdsForIndexes, and the cell shows the texts),
// "curIndexes" (chosen indexes joined by ",", or "-1"), "allowMultiple" and "static" (boolean
// numbers), "SXFormOptionControllerOptionProvider" (an object adopting
// SXFormOptionControllerOptionProvider, used when the list is not static; a sharer naming itself
// stores a WeakReference, since its own form holds these rows).
//
// Threads: main thread. Ownership: the row owns its texts and the description.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  // With "itemsIds": the chosen options' ids, in the order chosen, joined as joinOptionIds does
  // ("-1" when none is taken). nullopt without ids (or with a list of another length): the value
  // is then the texts. Ids, unlike texts, name one option each whatever the texts hold.
  std::optional<std::string> optionPickerIdsForIndexes(std::string_view indexes) const;
  // Ids joined by "," with "%" and "," inside an id written "%25" and "%2C"; splitOptionIds reads
  // that back (a value always gives at least one id).
  static std::string joinOptionIds(const std::vector<std::string>& ids);
  static std::vector<std::string> splitOptionIds(std::string_view value);

  std::string label;
  std::string key;
  SXFormFieldType type = SXFormFieldTypeText;
  std::optional<std::string> start;
  std::optional<std::string> value;
  // What the form shows for `value` when that differs from it (an option picker carrying ids
  // shows the chosen texts); nullopt shows `value`.
  std::optional<std::string> valueText;
  Ref<MutableDictionary> optionPickerInfo;
  std::optional<std::string> optionDetailLabelDefault;
};

}  // namespace zv
