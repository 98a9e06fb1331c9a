#include "platform/ui/Responder.h"

namespace zv::ui {

namespace {
std::weak_ptr<Responder>& firstResponderSlot() {
  static std::weak_ptr<Responder> slot;
  return slot;
}
}  // namespace

Ref<Responder> Responder::currentFirstResponder() { return firstResponderSlot().lock(); }

bool Responder::isFirstResponder() const { return currentFirstResponder().get() == this; }

bool Responder::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  if (auto current = currentFirstResponder())
    if (!current->resignFirstResponder()) return false;
  firstResponderSlot() = selfAs<Responder>();
  didBecomeFirstResponder();
  return true;
}

bool Responder::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  if (!canResignFirstResponder()) return false;
  firstResponderSlot().reset();
  didResignFirstResponder();
  return true;
}

}  // namespace zv::ui
