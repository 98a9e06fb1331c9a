#pragma once
// A view whose layout is done by its owner (the containers lay out their children's views).

#include <functional>

#include "platform/ui/View.h"

namespace zv::ui {

class ContainerView : public View {
 public:
  using View::View;
  void setLayoutHandler(std::function<void()> handler) { handler_ = std::move(handler); }
  void layoutSubviews() override {
    if (handler_) handler_();
  }

 private:
  std::function<void()> handler_;
};

}  // namespace zv::ui
