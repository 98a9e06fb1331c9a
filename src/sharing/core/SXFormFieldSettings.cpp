#include "sharing/core/SXFormFieldSettings.h"

#include <charconv>

namespace zv {

Ref<SXFormFieldSettings> SXFormFieldSettings::make(std::string label, std::string key, SXFormFieldType type,
                                                   std::optional<std::string> start,
                                                   Ref<MutableDictionary> optionPickerInfo,
                                                   std::optional<std::string> optionDetailLabelDefault) {
  auto row = std::make_shared<SXFormFieldSettings>();
  row->label = std::move(label);
  row->key = std::move(key);
  row->type = type;
  row->value = start;
  row->start = std::move(start);
  row->optionPickerInfo = std::move(optionPickerInfo);
  row->optionDetailLabelDefault = std::move(optionDetailLabelDefault);
  return row;
}

std::string SXFormFieldSettings::optionPickerValueForIndexes(std::string_view indexes) const {
  if (indexes == "-1") return "-1";
  auto options = optionPickerInfo ? optionPickerInfo->objectForKeyAs<Array>("itemsList") : nullptr;
  std::string joined;
  bool any = false;
  std::size_t from = 0;
  while (from <= indexes.size()) {
    std::size_t comma = indexes.find(',', from);
    if (comma == std::string_view::npos) comma = indexes.size();
    std::string_view piece = indexes.substr(from, comma - from);
    std::size_t index = 0;
    auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), index);
    if (ec == std::errc() && end == piece.data() + piece.size() && options && index < options->count()) {
      if (auto text = stringValueOf(options->objectAtIndex(index))) {
        joined += (any ? "," : "") + *text;
        any = true;
      }
    }
    from = comma + 1;
  }
  return any ? joined : "-1";
}

}  // namespace zv
