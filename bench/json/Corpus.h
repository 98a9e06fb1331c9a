#pragma once
// The benchmark corpora (twitter.json, citm_catalog.json, geo_numbers.json), read once, and walks
// over decoded trees so every benchmark builds the whole tree and touches every value.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv::bench {

// The corpus folder: $ZV_JSON_DATA, else the folder configured at build time.
std::string corpusFolder();
// The file's bytes, nullopt when it cannot be read.
std::optional<std::string> readCorpus(const std::string& name);
const std::vector<std::string>& corpusNames();

// Counts every value of a tree of the system's objects (and sums string lengths, so nothing is
// optimised away).
std::size_t walkObjects(const ObjectPtr& value);

}  // namespace zv::bench
