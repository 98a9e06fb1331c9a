#pragma once
// Reading the store lookup service's answer, and comparing version texts. Pure; any thread.
//
// The answer is JSON; only a few scalar members are read ("bundleId", "trackId", "version",
// "primaryGenreId"). valueForKeyInJSON walks the text token by token (no recursion, so any
// nesting depth is fine) and yields the value of the first member named `key` whose value is a
// string, number or boolean: strings unescaped once (\uXXXX to UTF-8, surrogate pairs joined),
// other scalars as written. nullopt when there is no such member or the text breaks off before
// the value ends.

#include <optional>
#include <string>
#include <string_view>

namespace zv {

std::optional<std::string> valueForKeyInJSON(std::string_view key, std::string_view json);

// Compares two texts with their runs of digits taken as numbers ("1.10" > "1.9"); the other
// characters compare one by one. Returns -1, 0 or 1.
int compareNumerically(std::string_view left, std::string_view right);

}  // namespace zv
