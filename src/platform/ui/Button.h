#pragma once
// A push button: titles, title colours and images per control state, a title label and an image
// view. A user's tap (`simulateTap`) sends touch-up-inside when the button is enabled.
// Main thread only.

#include <map>
#include <optional>
#include <string>

#include "platform/graphics/Image.h"
#include "platform/ui/Control.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace zv::ui {

class Button : public Control {
 public:
  static Ref<Button> buttonWithType(ButtonType type);
  explicit Button(ButtonType type = ButtonType::Custom);

  ButtonType buttonType() const { return type_; }
  // The state's value, falling back to the normal state's.
  std::optional<std::string> titleForState(unsigned state) const;
  void setTitle(std::optional<std::string> title, unsigned state);
  Ref<Color> titleColorForState(unsigned state) const;
  void setTitleColor(Ref<Color> color, unsigned state);
  Ref<graphics::Image> imageForState(unsigned state) const;
  void setImage(Ref<graphics::Image> image, unsigned state);
  Ref<graphics::Image> backgroundImageForState(unsigned state) const;
  void setBackgroundImage(Ref<graphics::Image> image, unsigned state);
  std::optional<std::string> currentTitle() const { return titleForState(currentState()); }
  unsigned currentState() const;

  Ref<Label> titleLabel();
  Ref<ImageView> imageView();
  bool showsTouchWhenHighlighted() const { return showsTouch_; }
  void setShowsTouchWhenHighlighted(bool shows) { showsTouch_ = shows; }

  bool simulateTap();
  void drawRect(BitmapContext& context, const Rect& rect) override;
  Size sizeThatFits(Size size) const override;
  void layoutSubviews() override;

 private:
  template <class T>
  static T lookup(const std::map<unsigned, T>& table, unsigned state) {
    auto it = table.find(state);
    if (it != table.end()) return it->second;
    it = table.find(ControlStateNormal);
    return it != table.end() ? it->second : T{};
  }
  void refresh();

  ButtonType type_;
  std::map<unsigned, std::optional<std::string>> titles_;
  std::map<unsigned, Ref<Color>> titleColors_;
  std::map<unsigned, Ref<graphics::Image>> images_;
  std::map<unsigned, Ref<graphics::Image>> backgroundImages_;
  Ref<Label> titleLabel_;
  Ref<ImageView> imageView_;
  bool showsTouch_ = false;
};

}  // namespace zv::ui
