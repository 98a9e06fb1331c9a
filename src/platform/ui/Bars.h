#pragma once
// The bars: a navigation bar (a stack of navigation items, the top one shown), a toolbar (a row
// of bar button items) and a tab bar (one item per tab). Each has a bar style and a tint colour.
// Main thread only.

#include <vector>

#include "platform/ui/NavigationItem.h"
#include "platform/ui/View.h"

namespace zv::ui {

class Bar : public View {
 public:
  using View::View;
  BarStyle barStyle() const { return barStyle_; }
  void setBarStyle(BarStyle style) { barStyle_ = style; }
  const Ref<Color>& tintColor() const { return tintColor_; }
  void setTintColor(Ref<Color> color) { tintColor_ = std::move(color); }
  bool isTranslucent() const { return barStyle_ == BarStyle::BlackTranslucent; }
  void drawRect(BitmapContext& context, const Rect& rect) override;

 protected:
  // The colour of the bar and of the text on it.
  Ref<Color> barColor() const;
  Ref<Color> textColor() const;
  // Draws the titles of items spread over the bar (flexible spaces share what is left).
  void drawItems(BitmapContext& context, const std::vector<Ref<BarButtonItem>>& items);
  // Where each item goes on the bar.
  std::vector<Rect> itemBoxes(const std::vector<Ref<BarButtonItem>>& items) const;

 private:
  BarStyle barStyle_ = BarStyle::Default;
  Ref<Color> tintColor_;
};

class NavigationBar : public Bar {
 public:
  static Ref<NavigationBar> make(const Rect& frame = {0, 0, 320, 44});
  using Bar::Bar;

  const std::vector<Ref<NavigationItem>>& items() const { return items_; }
  void setItems(std::vector<Ref<NavigationItem>> items, bool animated = false);
  void pushNavigationItem(const Ref<NavigationItem>& item, bool animated = false);
  Ref<NavigationItem> popNavigationItemAnimated(bool animated = false);
  Ref<NavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
  Ref<NavigationItem> backItem() const { return items_.size() < 2 ? nullptr : items_[items_.size() - 2]; }
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  std::vector<Ref<NavigationItem>> items_;
};

class Toolbar : public Bar {
 public:
  static Ref<Toolbar> make(const Rect& frame = {0, 0, 320, 44});
  using Bar::Bar;

  const std::vector<Ref<BarButtonItem>>& items() const { return items_; }
  void setItems(std::vector<Ref<BarButtonItem>> items, bool animated = false);
  void drawRect(BitmapContext& context, const Rect& rect) override;
  // Places the items' custom views.
  void layoutSubviews() override;

 private:
  std::vector<Ref<BarButtonItem>> items_;
};

class TabBarItem : public Object {
 public:
  static Ref<TabBarItem> make(std::optional<std::string> title = std::nullopt, Ref<graphics::Image> image = nullptr,
                              int tag = 0);
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const Ref<graphics::Image>& image() const { return image_; }
  void setImage(Ref<graphics::Image> image) { image_ = std::move(image); }
  const std::optional<std::string>& badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::optional<std::string> value) { badgeValue_ = std::move(value); }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }

 private:
  std::optional<std::string> title_;
  Ref<graphics::Image> image_;
  std::optional<std::string> badgeValue_;
  int tag_ = 0;
};

class TabBar : public Bar {
 public:
  static Ref<TabBar> make(const Rect& frame = {0, 0, 320, 49});
  using Bar::Bar;
  const std::vector<Ref<TabBarItem>>& items() const { return items_; }
  void setItems(std::vector<Ref<TabBarItem>> items, bool animated = false);
  Ref<TabBarItem> selectedItem() const { return selected_.lock(); }
  void setSelectedItem(const Ref<TabBarItem>& item) { selected_ = item; }
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  std::vector<Ref<TabBarItem>> items_;
  std::weak_ptr<TabBarItem> selected_;
};

}  // namespace zv::ui
