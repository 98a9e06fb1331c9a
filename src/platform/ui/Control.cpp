#include "platform/ui/Control.h"

#include <algorithm>

namespace zv::ui {

int Control::addAction(unsigned events, Action action) {
  int token = nextToken_++;
  if (action) bindings_.push_back({token, events, std::move(action)});
  return token;
}

void Control::removeAction(int token) {
  bindings_.erase(std::remove_if(bindings_.begin(), bindings_.end(), [&](const Binding& b) { return b.token == token; }),
                  bindings_.end());
}

void Control::removeActionsForControlEvents(unsigned events) {
  for (auto& b : bindings_) b.events &= ~events;
  bindings_.erase(std::remove_if(bindings_.begin(), bindings_.end(), [](const Binding& b) { return b.events == 0; }),
                  bindings_.end());
}

bool Control::hasActionsForControlEvents(unsigned events) const {
  return std::any_of(bindings_.begin(), bindings_.end(), [&](const Binding& b) { return b.events & events; });
}

void Control::sendActionsForControlEvents(unsigned events) {
  auto keep = self();
  std::vector<Action> due;
  for (const auto& b : bindings_)
    if (b.events & events) due.push_back(b.action);
  for (const auto& action : due) action(*this);
}

}  // namespace zv::ui
