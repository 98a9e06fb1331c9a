#pragma once
// The base of a store of one's own: the typed calls are built on two primitives, setObject and
// objectForKey, which a subclass must override (the base raises "Unimplemented").

#include "settings/PrefsSettingsStore.h"

namespace zv {

class PrefsAbstractSettingsStore : public Object, public PrefsSettingsStore {
 public:
  void setObject(ObjectPtr value, std::string_view key) override;
  ObjectPtr objectForKey(std::string_view key) override;
  void setBool(bool value, std::string_view key) override;
  void setFloat(float value, std::string_view key) override;
  void setInteger(std::int32_t value, std::string_view key) override;
  void setDouble(double value, std::string_view key) override;
  // NO / 0 when nothing is stored; a stored text reads as its number.
  bool boolForKey(std::string_view key) override;
  float floatForKey(std::string_view key) override;
  std::int32_t integerForKey(std::string_view key) override;
  double doubleForKey(std::string_view key) override;
  // Stores without a backing file have nothing to write: NO.
  bool synchronize() override { return false; }

  bool respondsToSelector(std::string_view selector) const override { return Object::respondsToSelector(selector); }
};

}  // namespace zv
