#include "platform/foundation/Set.h"

#include "platform/foundation/Array.h"
#include "platform/foundation/CollectionComparison.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/KeyedHash.h"
#include "platform/foundation/PropertyListDescription.h"
#include "platform/foundation/String.h"

namespace zv {

Ref<Set> Set::make(std::vector<ObjectPtr> objects) {
  auto set = std::make_shared<Set>();
  for (auto& o : objects) set->add(std::move(o));
  return set;
}

Ref<Set> Set::makeWithStrings(std::initializer_list<std::string_view> texts) {
  auto set = std::make_shared<Set>();
  for (auto text : texts) set->add(String::make(text));
  return set;
}

void Set::add(ObjectPtr object) {
  if (!object) Exception::raise(kInvalidArgumentException, "*** -[Set addObject:]: object cannot be nil");
  if (table_.find(*object)) return;
  table_.put(object->copy(), nullptr);
}

ObjectPtr Set::member(const Object& object) const {
  auto index = table_.find(object);
  return index ? table_.entry(*index).key : nullptr;
}

ObjectPtr Set::anyObject() const {
  for (const auto& e : table_.entries())
    if (e.key) return e.key;
  return nullptr;
}

std::vector<ObjectPtr> Set::allObjects() const {
  std::vector<ObjectPtr> result;
  result.reserve(count());
  for (const auto& e : table_.entries())
    if (e.key) result.push_back(e.key);
  return result;
}

void Set::enumerate(const std::function<bool(const ObjectPtr&)>& visit) const {
  const auto& entries = table_.entries();
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].key && !visit(entries[i].key)) return;
}

std::string Set::description() const { return describePropertyList(*Array::make(allObjects())); }

bool Set::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* s = dynamic_cast<const Set*>(&other);
  if (s == nullptr || s->count() != count()) return false;
  if (count() == 0) return true;
  detail::CollectionComparison comparison(*this, other);
  if (auto verdict = comparison.known()) return *verdict;
  for (const auto& e : table_.entries())
    if (e.key && !s->containsObject(*e.key)) return comparison.finish(false);
  return comparison.finish(true);
}

std::size_t Set::hash() const {
  // The count and the members, in an order-independent sum as equality compares them; a member
  // collection counts by its size only, so hashing never descends below the members.
  std::size_t h = detail::scrambleHash(count());
  for (const auto& e : table_.entries())
    if (e.key) h += detail::scrambleHash(detail::memberHash(*e.key));
  return h;
}

ObjectPtr Set::copy() const {
  if (!isMutable()) return self();
  return make(allObjects());
}

ObjectPtr Set::mutableCopy() const { return MutableSet::make(allObjects()); }

Ref<MutableSet> MutableSet::make(std::vector<ObjectPtr> objects) {
  auto set = std::make_shared<MutableSet>();
  for (auto& o : objects) set->addObject(std::move(o));
  return set;
}

}  // namespace zv
