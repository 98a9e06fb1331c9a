#pragma once
// What a screen shows in a navigation bar: a title or title view, left and right buttons and the
// back button offered to the screen pushed above it. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.h"

namespace zv::ui {

class NavigationItem : public Object {
 public:
  static Ref<NavigationItem> make(std::optional<std::string> title = std::nullopt);

  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
  const std::optional<std::string>& prompt() const { return prompt_; }
  void setPrompt(std::optional<std::string> prompt) { prompt_ = std::move(prompt); }
  const Ref<View>& titleView() const { return titleView_; }
  void setTitleView(Ref<View> view) { titleView_ = std::move(view); }
  const Ref<BarButtonItem>& leftBarButtonItem() const { return left_; }
  void setLeftBarButtonItem(Ref<BarButtonItem> item, bool animated = false);
  const Ref<BarButtonItem>& rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(Ref<BarButtonItem> item, bool animated = false);
  const Ref<BarButtonItem>& backBarButtonItem() const { return back_; }
  void setBackBarButtonItem(Ref<BarButtonItem> item) { back_ = std::move(item); }
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool hides, bool animated = false);

 private:
  std::optional<std::string> title_;
  std::optional<std::string> prompt_;
  Ref<View> titleView_;
  Ref<BarButtonItem> left_;
  Ref<BarButtonItem> right_;
  Ref<BarButtonItem> back_;
  bool hidesBackButton_ = false;
};

}  // namespace zv::ui
