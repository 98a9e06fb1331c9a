#pragma once
// How a request reaches the login dialog without depending on the user interface: the dialog
// registers a presenter here (HTTPAuthenticationDialog::registerPresenter), the way the status bar
// shows the network-activity indicator the client sets. Without a presenter no dialog can appear,
// and a request that would show one fails as when nobody can be asked (code 3).
//
// Threads: the presenter is registered and read from any thread; its calls run on the main thread
// only, so it may read the window list and its own state without locks.

#include <memory>

#include "platform/foundation/Protocol.h"
#include "platform/foundation/Values.h"

namespace zv {

class HTTPRequest;

class HTTPAuthenticationPresenter : public Protocol {
 public:
  // Whether a dialog could appear at all (the application has a window).
  virtual bool canPresentDialog() = 0;
  // Shows a dialog for the request, or lets it wait for the one on screen.
  virtual void presentAuthenticationDialogForRequest(const Ref<HTTPRequest>& request) = 0;
  // The request ended (time-out, cancel, failure) while waiting for credentials: it leaves the
  // dialog and the waiting list.
  virtual void requestNoLongerNeedsCredentials(const Ref<HTTPRequest>& request) = 0;

  static std::shared_ptr<HTTPAuthenticationPresenter> shared();
  // nullptr removes the presenter.
  static void setShared(std::shared_ptr<HTTPAuthenticationPresenter> presenter);
};

}  // namespace zv
