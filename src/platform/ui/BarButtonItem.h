#pragma once
// A button of a navigation bar or toolbar: a title, an image, a system item (Done, Cancel, Edit,
// Action, the fixed and flexible spaces...), or a caller's custom view; an action runs when it is
// tapped (tests tap it with `simulateTap`). Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Types.h"

namespace zv::ui {

class View;

class BarButtonItem : public Object {
 public:
  using Action = std::function<void(BarButtonItem& sender)>;

  static Ref<BarButtonItem> withTitle(std::string title, BarButtonItemStyle style, Action action = nullptr);
  static Ref<BarButtonItem> withImage(Ref<graphics::Image> image, BarButtonItemStyle style, Action action = nullptr);
  static Ref<BarButtonItem> withSystemItem(BarButtonSystemItem item, Action action = nullptr);
  static Ref<BarButtonItem> withCustomView(Ref<View> view);
  // A fixed space of `width` points.
  static Ref<BarButtonItem> fixedSpace(double width);
  static Ref<BarButtonItem> flexibleSpace();

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const Ref<graphics::Image>& image() const { return image_; }
  void setImage(Ref<graphics::Image> image) { image_ = std::move(image); }
  BarButtonItemStyle style() const { return style_; }
  void setStyle(BarButtonItemStyle style) { style_ = style; }
  std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }
  const Ref<View>& customView() const { return customView_; }
  void setCustomView(Ref<View> view) { customView_ = std::move(view); }
  double width() const { return width_; }
  void setWidth(double width) { width_ = width; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  const Ref<graphics::Color>& tintColor() const { return tintColor_; }
  void setTintColor(Ref<graphics::Color> color) { tintColor_ = std::move(color); }
  void setAction(Action action) { action_ = std::move(action); }
  bool hasAction() const { return static_cast<bool>(action_); }

  bool isSpace() const {
    return systemItem_ == BarButtonSystemItem::FixedSpace || systemItem_ == BarButtonSystemItem::FlexibleSpace;
  }
  // The tap of a user: runs the action when the item is enabled. Returns whether it ran.
  bool simulateTap();

  std::string description() const override;

 private:
  std::optional<std::string> title_;
  Ref<graphics::Image> image_;
  BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
  std::optional<BarButtonSystemItem> systemItem_;
  Ref<View> customView_;
  double width_ = 0;
  bool enabled_ = true;
  int tag_ = 0;
  Ref<graphics::Color> tintColor_;
  Action action_;
};

}  // namespace zv::ui
