#pragma once
// The base of views and view controllers: the responder chain and the one first responder of the
// application (the text field or text view being edited). Main thread only.

#include "platform/foundation/Object.h"

namespace zv::ui {

class Responder : public Object {
 public:
  // The next object up the chain: a view's controller or superview, a controller's view's
  // superview. nullptr at the top.
  virtual Ref<Responder> nextResponder() const { return nullptr; }

  virtual bool canBecomeFirstResponder() const { return false; }
  virtual bool canResignFirstResponder() const { return true; }
  // Makes this the first responder after the current one resigned; false when either refuses.
  virtual bool becomeFirstResponder();
  // Gives up first-responder status; false when refused. true when it was not first responder.
  virtual bool resignFirstResponder();
  bool isFirstResponder() const;

  // The application's first responder, nullptr when none.
  static Ref<Responder> currentFirstResponder();

 protected:
  // Hooks for text inputs: called once the status changed.
  virtual void didBecomeFirstResponder() {}
  virtual void didResignFirstResponder() {}
};

}  // namespace zv::ui
