#include "platform/ui/GestureRecognizer.h"

#include "platform/ui/View.h"

namespace zv::ui {

GestureRecognizer::GestureRecognizer(Action action) {
  if (action) actions_.push_back(std::move(action));
}

void GestureRecognizer::addAction(Action action) {
  if (action) actions_.push_back(std::move(action));
}

graphics::Point GestureRecognizer::locationInView(const View* view) const {
  auto mine = this->view();
  if (!mine || !view || view == mine.get()) return location_;
  return mine->convertPointToView(location_, view);
}

void GestureRecognizer::recognize(graphics::Point location) {
  location_ = location;
  state_ = GestureRecognizerState::Ended;
  auto keep = self();
  for (const auto& action : std::vector<Action>(actions_)) action(*this);
  state_ = GestureRecognizerState::Possible;
}

void TapGestureRecognizer::recognizeTap(graphics::Point location) {
  if (!isEnabled() || !view()) return;
  recognize(location);
}

}  // namespace zv::ui
