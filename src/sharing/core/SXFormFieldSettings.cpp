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

namespace {

// The entries of `list` at the indexes of an index list ("0,2"), in that order; indexes that do
// not name a text entry are skipped.
std::vector<std::string> entriesAt(const Ref<Array>& list, std::string_view indexes) {
  std::vector<std::string> out;
  if (indexes == "-1" || !list) return out;
  std::size_t from = 0;
  while (from <= indexes.size()) {
    std::size_t comma = indexes.find(',', from);
    if (comma == std::string_view::npos) comma = indexes.size();
    std::string_view piece = indexes.substr(from, comma - from);
    std::size_t index = 0;
    auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), index);
    if (ec == std::errc() && end == piece.data() + piece.size() && index < list->count()) {
      if (auto text = stringValueOf(list->objectAtIndex(index))) out.push_back(std::move(*text));
    }
    from = comma + 1;
  }
  return out;
}

}  // namespace

std::string SXFormFieldSettings::optionPickerValueForIndexes(std::string_view indexes) const {
  auto texts = entriesAt(optionPickerInfo ? optionPickerInfo->objectForKeyAs<Array>("itemsList") : nullptr, indexes);
  if (texts.empty()) return "-1";
  std::string joined = texts.front();
  for (std::size_t i = 1; i < texts.size(); ++i) joined += "," + texts[i];
  return joined;
}

std::optional<std::string> SXFormFieldSettings::optionPickerIdsForIndexes(std::string_view indexes) const {
  auto ids = optionPickerInfo ? optionPickerInfo->objectForKeyAs<Array>("itemsIds") : nullptr;
  auto texts = optionPickerInfo ? optionPickerInfo->objectForKeyAs<Array>("itemsList") : nullptr;
  if (!ids || !texts || ids->count() != texts->count()) return std::nullopt;
  auto chosen = entriesAt(ids, indexes);
  return chosen.empty() ? std::string("-1") : joinOptionIds(chosen);
}

std::string SXFormFieldSettings::joinOptionIds(const std::vector<std::string>& ids) {
  std::string out;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i) out += ',';
    for (char c : ids[i]) {
      if (c == '%') {
        out += "%25";
      } else if (c == ',') {
        out += "%2C";
      } else {
        out += c;
      }
    }
  }
  return out;
}

std::vector<std::string> SXFormFieldSettings::splitOptionIds(std::string_view value) {
  std::vector<std::string> ids(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == ',') {
      ids.emplace_back();
    } else if (value.compare(i, 3, "%25") == 0) {
      ids.back() += '%';
      i += 2;
    } else if (value.compare(i, 3, "%2C") == 0) {
      ids.back() += ',';
      i += 2;
    } else {
      ids.back() += value[i];
    }
  }
  return ids;
}

}  // namespace zv
