#pragma once
// A settings pane showing a web page or an HTML file of the application, named by a child-pane
// row ("PrefsViewControllerClass" = this class, initializer "initWithFile:key:").
//
// Inside itself the pane loads pages of its own page's host, URLs without a host ("about:blank",
// an application scheme) and file pages from the application's resources. "mailto:" links open a
// prepared mail (address and fields percent-decoded); links to other hosts go to the system;
// "javascript:" and "data:" URLs and files outside the resources are refused. Main thread only.

#include <optional>
#include <string>

#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Composers.h"

namespace zv {

class PrefsAppSettingsWebViewController : public ui::ViewController,
                                          public ui::WebViewDelegate,
                                          public ui::MailComposeViewControllerDelegate {
 public:
  static Ref<PrefsAppSettingsWebViewController> make(std::string_view file, std::string_view key = {});
  PrefsAppSettingsWebViewController() = default;

  // initWithFile:key: — `file` is a URL with a scheme, or the name (with extension) of a resource
  // of the main bundle; neither leaves the pane empty. The key is not used.
  void initWithFileKey(std::string_view file, std::string_view key);

  const Ref<URL>& url() const { return url_; }
  void setUrl(Ref<URL> url) { url_ = std::move(url); }
  const Ref<ui::WebView>& webView() const { return webView_; }

  void loadView() override;
  void viewWillAppear(bool animated) override;
  void viewDidUnload() override;
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }

  // The navigation title becomes the page's title.
  void webViewDidFinishLoad(ui::WebView& webView) override;
  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView& webView, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
  void mailComposeControllerDidFinishWithResultError(ui::MailComposeViewController& controller, ui::MailComposeResult result,
                                                     const Ref<Error>& error) override;

  bool respondsToSelector(std::string_view selector) const override { return ViewController::respondsToSelector(selector); }

 private:
  void composeMail(const URL& url);
  bool isInsideResources(const URL& url) const;

  Ref<ui::WebView> webView_;
  Ref<URL> url_;
};

}  // namespace zv
