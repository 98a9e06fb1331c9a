#pragma once
// The note-service login page: a web view on the authorization address with a cancel button.
// Every load whose address begins with the callback prefix is refused and handed to the
// delegate; cancelled or interrupted loads are ignored, other load errors stop the page and go to
// the delegate. Cancel tells the delegate once. When the page has left the screen for good
// (viewDidLeave: dismissed after its answer, or taken down with the screen it was shown over, also
// while it was still sliding in) it stops loading and tells the delegate so, then drops it: a
// delegate still waiting for the page's answer ends what the page was for, and one that was
// dismissing the page knows it is gone. A page only covered by another screen tells nothing.
//
// Threads: main thread. Ownership: the delegate (the session) is not retained.

#include <memory>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace zv {

class NCOAuthViewController;

class NCOAuthViewControllerDelegate : public Protocol {
 public:
  virtual void oauthViewControllerDidCancel(NCOAuthViewController& controller) = 0;
  virtual void oauthViewControllerDidFailWithError(NCOAuthViewController& controller, const Ref<Error>& error) = 0;
  virtual void oauthViewControllerReceivedOAuthCallbackURL(NCOAuthViewController& controller,
                                                           const Ref<URL>& callbackURL) = 0;
  virtual void oauthViewControllerLeftTheScreen(NCOAuthViewController& controller) = 0;
};

class NCOAuthViewController : public ui::ViewController, public ui::WebViewDelegate {
 public:
  static Ref<NCOAuthViewController> initWithAuthorizationURL(Ref<URL> authorizationURL, std::string oauthCallbackPrefix,
                                                              std::weak_ptr<NCOAuthViewControllerDelegate> delegate);

  void loadView() override;
  void viewDidLoad() override;
  void cancel();
  void viewDidLeave() override;
  // The page turns with the device, whichever way it is held.
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }

  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView& webView, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
  void webViewDidFailLoadWithError(ui::WebView& webView, const Ref<Error>& error) override;

  const Ref<ui::WebView>& webView() const { return webView_; }
  const Ref<URL>& authorizationURL() const { return authorizationURL_; }

 private:
  std::weak_ptr<NCOAuthViewControllerDelegate> delegate_;
  Ref<URL> authorizationURL_;
  std::string oauthCallbackPrefix_;
  Ref<ui::WebView> webView_;
  bool cancelled_ = false;
};

}  // namespace zv
