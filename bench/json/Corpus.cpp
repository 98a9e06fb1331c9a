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
  // Exact classes first, one address comparison of type_info each, as the peers' walks test a type
  // tag (type_info's operator== compares the names with strcmp when the addresses differ). A class
  // seen under another type_info address still takes the dynamic_cast path below.
  const std::type_info* type = &typeid(*o);
  if (type == &typeid(Number)) return 1 + static_cast<std::size_t>(static_cast<const Number*>(o)->doubleValue() != 0);
  if (type == &typeid(String)) return 1 + static_cast<const String*>(o)->utf8().size();
  const JCArray* a = type == &typeid(JCArray) ? static_cast<const JCArray*>(o) : nullptr;
  const JCDictionary* d = type == &typeid(JCDictionary) ? static_cast<const JCDictionary*>(o) : nullptr;
  if (!a && !d) {
    a = dynamic_cast<const JCArray*>(o);
    if (!a) d = dynamic_cast<const JCDictionary*>(o);
  }
  if (a) {
    std::size_t n = 1;
    for (const auto& e : a->storage()) n += walkObjects(e);
    return n;
  }
  if (d) {
    std::size_t n = 1;
    d->visitPairs([&](const ObjectPtr& key, const ObjectPtr& object) {
      n += walkObjects(key) + walkObjects(object);
      return true;
    });
    return n;
  }
  if (auto* array = dynamic_cast<const Array*>(o)) {
    std::size_t n = 1;
    const std::size_t count = array->count();
    for (std::size_t i = 0; i < count; ++i) n += walkObjects(array->objectAtIndex(i));
    return n;
  }
  if (auto* dictionary = dynamic_cast<const Dictionary*>(o)) {
    std::size_t n = 1;
    dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
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
