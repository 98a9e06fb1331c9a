#include "bench/json/Corpus.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <typeinfo>

#include "platform/foundation/Values.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JCDictionary.h"

namespace zv::bench {

std::string corpusFolder() {
  if (const char* env = std::getenv("ZV_JSON_DATA")) return env;
  return ZV_JSON_DATA_DIR;
}

std::optional<std::string> readCorpus(const std::string& name) {
  std::ifstream in(corpusFolder() + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::vector<std::string>& corpusNames() {
  static const std::vector<std::string> names = {"twitter.json", "citm_catalog.json", "geo_numbers.json"};
  return names;
}

std::size_t walkObjects(const ObjectPtr& value) {
  const Object* o = value.get();
  // Exact classes first: one type comparison each, as the peers' walks test a type tag.
  const std::type_info& type = typeid(*o);
  if (type == typeid(Number)) return 1 + static_cast<std::size_t>(static_cast<const Number*>(o)->doubleValue() != 0);
  if (type == typeid(String)) return 1 + static_cast<const String*>(o)->utf8().size();
  if (auto* a = dynamic_cast<const JCArray*>(o)) {
    std::size_t n = 1;
    for (const auto& e : a->storage()) n += walkObjects(e);
    return n;
  }
  if (auto* d = dynamic_cast<const JCDictionary*>(o)) {
    std::size_t n = 1;
    d->visitPairs([&](const ObjectPtr& key, const ObjectPtr& object) {
      n += walkObjects(key) + walkObjects(object);
      return true;
    });
    return n;
  }
  if (auto* a = dynamic_cast<const Array*>(o)) {
    std::size_t n = 1;
    const std::size_t count = a->count();
    for (std::size_t i = 0; i < count; ++i) n += walkObjects(a->objectAtIndex(i));
    return n;
  }
  if (auto* d = dynamic_cast<const Dictionary*>(o)) {
    std::size_t n = 1;
    d->enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
      n += walkObjects(key) + walkObjects(object);
      return true;
    });
    return n;
  }
  if (auto* s = dynamic_cast<const String*>(o)) return 1 + s->utf8().size();
  if (auto* number = dynamic_cast<const Number*>(o)) return 1 + static_cast<std::size_t>(number->doubleValue() != 0);
  return 1;
}

}  // namespace zv::bench
