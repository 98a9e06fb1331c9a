#pragma once
// The base of controls: enabled, selected and highlighted states, and actions bound to control
// events (target–action with the target fixed in the callback). Main thread only.

#include <functional>
#include <vector>

#include "platform/ui/View.h"

namespace zv::ui {

class Control : public View {
 public:
  using Action = std::function<void(Control& sender)>;
  using View::View;

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled) { enabled_ = enabled; }
  bool isSelected() const { return selected_; }
  void setSelected(bool selected) { selected_ = selected; }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

  // Runs `action` for every event in `events` (a mask of ControlEvents). Returns a token for
  // removeAction.
  int addAction(unsigned events, Action action);
  void removeAction(int token);
  // Removes every action bound to any of `events`.
  void removeActionsForControlEvents(unsigned events);
  // Whether an action is bound to any of `events`.
  bool hasActionsForControlEvents(unsigned events) const;
  void sendActionsForControlEvents(unsigned events);

 private:
  struct Binding {
    int token;
    unsigned events;
    Action action;
  };
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
  std::vector<Binding> bindings_;
  int nextToken_ = 1;
};

}  // namespace zv::ui
