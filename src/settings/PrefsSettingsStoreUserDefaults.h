#pragma once
// The store every settings screen uses unless given another: values live in a user-defaults
// object (the standard user defaults by default). Every call forwards to the same call of the
// user defaults, so two stores over the standard defaults see each other's writes at once.

#include "platform/system/UserDefaults.h"
#include "settings/PrefsSettingsStore.h"

namespace zv {

class PrefsSettingsStoreUserDefaults : public Object, public PrefsSettingsStore {
 public:
  // `init`: over the standard user defaults.
  static Ref<PrefsSettingsStoreUserDefaults> make();
  static Ref<PrefsSettingsStoreUserDefaults> make(Ref<UserDefaults> defaults);

  void setBool(bool value, std::string_view key) override { defaults_->setBool(value, key); }
  void setFloat(float value, std::string_view key) override { defaults_->setFloat(value, key); }
  void setDouble(double value, std::string_view key) override { defaults_->setDouble(value, key); }
  void setInteger(std::int32_t value, std::string_view key) override { defaults_->setInteger(value, key); }
  void setObject(ObjectPtr value, std::string_view key) override { defaults_->setObject(value, key); }
  bool boolForKey(std::string_view key) override { return defaults_->boolForKey(key); }
  float floatForKey(std::string_view key) override { return defaults_->floatForKey(key); }
  double doubleForKey(std::string_view key) override { return defaults_->doubleForKey(key); }
  std::int32_t integerForKey(std::string_view key) override;
  ObjectPtr objectForKey(std::string_view key) override { return defaults_->objectForKey(key); }
  bool synchronize() override { return defaults_->synchronize(); }

  const Ref<UserDefaults>& defaults() const { return defaults_; }
  void setDefaults(Ref<UserDefaults> defaults) { defaults_ = std::move(defaults); }

  bool respondsToSelector(std::string_view selector) const override { return Object::respondsToSelector(selector); }

  explicit PrefsSettingsStoreUserDefaults(Ref<UserDefaults> defaults) : defaults_(std::move(defaults)) {}

 private:
  Ref<UserDefaults> defaults_;
};

}  // namespace zv
