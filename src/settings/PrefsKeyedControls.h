#pragma once
// Controls that carry the settings key they edit, so one action handler serves every row of a
// kind: it reads the key from the control that sent the event. Main thread only.

#include <optional>
#include <string>

#include "platform/ui/SimpleControls.h"
#include "platform/ui/TextField.h"

namespace zv {

class PrefsSwitch : public ui::Switch {
 public:
  static Ref<PrefsSwitch> make(const ui::Rect& frame = {0, 0, 79, 27}) { return std::make_shared<PrefsSwitch>(frame); }
  using ui::Switch::Switch;
  const std::optional<std::string>& key() const { return key_; }
  void setKey(std::optional<std::string> key) { key_ = std::move(key); }

 private:
  std::optional<std::string> key_;
};

class PrefsSlider : public ui::Slider {
 public:
  static Ref<PrefsSlider> make(const ui::Rect& frame = {}) { return std::make_shared<PrefsSlider>(frame); }
  using ui::Slider::Slider;
  const std::optional<std::string>& key() const { return key_; }
  void setKey(std::optional<std::string> key) { key_ = std::move(key); }

 private:
  std::optional<std::string> key_;
};

class PrefsTextField : public ui::TextField {
 public:
  static Ref<PrefsTextField> make(const ui::Rect& frame = {}) { return std::make_shared<PrefsTextField>(frame); }
  using ui::TextField::TextField;
  const std::optional<std::string>& key() const { return key_; }
  void setKey(std::optional<std::string> key) { key_ = std::move(key); }

 private:
  std::optional<std::string> key_;
};

}  // namespace zv
