#pragma once
// The Vkontakte login screen: a web view on the service's implicit-grant login page. After each
// load it reads the redirect address: "access_token=" and "&user_id=" in its fragment make a
// login (kept by the sharer), an address with "error", the denied address or a failed load close
// the screen as a failed login. The outcome goes to the delegate once. A page the hub takes away
// before it answered reports nothing itself (takenAway): the sharer ends the login it was for.
//
// Only the redirect address itself (https://oauth.vk.com/blank.html: scheme, host, port and path
// as the other web logins match their callbacks) is read; any other page is part of the login.
//
// Threads: main thread only. Ownership: the delegate (the sharer, which holds this screen in its
// navigation stack) is not retained; the web view is, and loses its delegate when the screen
// disappears or goes away.

#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace zv {

class SXVkontakteOAuthViewDelegate : public Protocol {
 public:
  // A login: the token and user id read from the redirect.
  virtual void authComplete(const std::string& accessToken, const std::string& userId) = 0;
  // The screen closed without a login; `showError` when the page failed or its redirect was
  // unusable (not when the user refused).
  virtual void authFailed(bool showError) = 0;
};

class SXVkontakteOAuthView : public ui::ViewController, public ui::WebViewDelegate {
 public:
  // The login page's redirect target and the address the page goes to when the user refuses.
  static std::string redirectURLString();
  static std::string deniedURLString();
  static std::string loginURLString(const std::string& appID);

  // The text between `start` and `end` (or the end of `text`); nullopt when `start` does not
  // occur or nothing follows it.
  static std::optional<std::string> stringBetweenString(std::string_view start, std::string_view end,
                                                        std::string_view text);

  // The login page of `delegate` (shown by the hub or waiting to be) stops and goes without a
  // word: its login was abandoned.
  static void dismissPageOf(const SXVkontakteOAuthViewDelegate& delegate);
  // Stops the page and lets the delegate go; nothing is reported any more.
  void abandon();
  // The hub let the page go: it is abandoned. true when it had not reported yet (the login it
  // was for is left without an answer); false when its outcome went (or goes) to the delegate.
  bool takenAway();

  void viewDidLoad() override;
  void viewDidDisappear(bool animated) override;
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }

  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView&, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
  void webViewDidFinishLoad(ui::WebView& webView) override;
  void webViewDidFailLoadWithError(ui::WebView&, const Ref<Error>& error) override;

  std::weak_ptr<SXVkontakteOAuthViewDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<SXVkontakteOAuthViewDelegate> delegate) { delegate_ = std::move(delegate); }
  const Ref<ui::WebView>& vkWebView() const { return vkWebView_; }
  const std::optional<std::string>& appID() const { return appID_; }
  void setAppID(std::optional<std::string> appID) { appID_ = std::move(appID); }

  ~SXVkontakteOAuthView() override;

 private:
  void closeWhenSettled(int attempt, bool success, bool showError, const std::string& token,
                        const std::string& userId);
  void finish(bool success, bool showError, const std::string& token = {}, const std::string& userId = {});

  std::weak_ptr<SXVkontakteOAuthViewDelegate> delegate_;
  Ref<ui::WebView> vkWebView_;
  std::optional<std::string> appID_;
  bool finished_ = false;

};

}  // namespace zv
