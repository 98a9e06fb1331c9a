#include "settings/PrefsAppSettingsWebViewController.h"

#include <algorithm>
#include <filesystem>

#include "platform/foundation/Log.h"
#include "platform/system/Bundle.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

namespace zv {

using namespace ui;

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    auto at = text.find(separator, start);
    pieces.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return pieces;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// A malformed escape leaves the text as written rather than dropping the field.
std::string decoded(std::string_view text) { return percentDecode(text).value_or(std::string(text)); }

}  // namespace

Ref<PrefsAppSettingsWebViewController> PrefsAppSettingsWebViewController::make(std::string_view file,
                                                                               std::string_view key) {
  auto pane = std::make_shared<PrefsAppSettingsWebViewController>();
  pane->initWithFileKey(file, key);
  return pane;
}

void PrefsAppSettingsWebViewController::initWithFileKey(std::string_view file, std::string_view) {
  url_ = URL::make(file);
  if (!url_ || !url_->scheme()) {
    std::filesystem::path name{std::string(file)};
    std::string extension = name.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    url_ = Bundle::mainBundle()->URLForResource(name.stem().string(), extension);
  }
}

void PrefsAppSettingsWebViewController::loadView() {
  webView_ = WebView::make(Screen::mainScreen()->applicationFrame());
  webView_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  webView_->setDelegate(selfAs<PrefsAppSettingsWebViewController>());
  setView(webView_);
}

void PrefsAppSettingsWebViewController::viewWillAppear(bool animated) {
  ViewController::viewWillAppear(animated);
  view();
  if (url_) webView_->loadRequest(net::URLRequest::requestWithURL(url_));
}

void PrefsAppSettingsWebViewController::viewDidUnload() {
  ViewController::viewDidUnload();
  webView_ = nullptr;
  setView(nullptr);
}

void PrefsAppSettingsWebViewController::webViewDidFinishLoad(WebView& webView) {
  navigationItem()->setTitle(webView.stringByEvaluatingJavaScriptFromString("document.title"));
}

bool PrefsAppSettingsWebViewController::isInsideResources(const URL& url) const {
  std::error_code ec;
  auto resources = std::filesystem::weakly_canonical(Bundle::mainBundle()->resourcePath(), ec);
  if (ec) return false;
  auto file = std::filesystem::weakly_canonical(url.path(), ec);
  if (ec) return false;
  auto relative = file.lexically_relative(resources);
  return !relative.empty() && *relative.begin() != ".." && relative.is_relative();
}

bool PrefsAppSettingsWebViewController::webViewShouldStartLoadWithRequestNavigationType(
    WebView&, const Ref<net::URLRequest>& request, WebViewNavigationType) {
  auto target = request ? request->url() : nullptr;
  if (!target) return false;
  std::string scheme = target->lowercaseScheme().value_or("");
  if (scheme == "mailto") {
    composeMail(*target);
    return false;
  }
  if (scheme == "javascript" || scheme == "data") {
    log(LogLevel::Warning, "PrefsAppSettingsWebViewController: refused a " + scheme + " URL");
    return false;
  }
  if (scheme == "file") {
    if (isInsideResources(*target)) return true;
    log(LogLevel::Warning, "PrefsAppSettingsWebViewController: refused a file outside the resources");
    return false;
  }
  // A URL without a host ("about:blank", a scheme of the application) stays in the pane, as does
  // one on the pane's own host.
  auto host = target->lowercaseHost();
  if (!host || host->empty()) return true;
  if (url_ && url_->lowercaseHost() && *host == *url_->lowercaseHost()) return true;
  Application::sharedApplication()->openURL(target);
  return false;
}

void PrefsAppSettingsWebViewController::composeMail(const URL& url) {
  auto pieces = split(url.resourceSpecifier(), '?');
  if (pieces.size() > 2) return;
  auto composer = ui::MailComposeViewController::make();
  if (!composer) {
    log(LogLevel::Warning, "PrefsAppSettingsWebViewController: this device cannot send mail");
    return;
  }
  composer->setMailComposeDelegate(selfAs<PrefsAppSettingsWebViewController>());
  std::vector<std::string> to;
  if (!pieces[0].empty()) to.push_back(decoded(pieces[0]));
  if (pieces.size() == 2) {
    for (const auto& field : split(pieces[1], '&')) {
      auto parts = split(field, '=');
      if (parts.size() != 2) continue;
      std::string name = lower(parts[0]);
      std::string value = decoded(parts[1]);
      if (name == "subject") {
        composer->setSubject(value);
      } else if (name == "body") {
        composer->setMessageBody(value, false);
      } else if (name == "to") {
        for (auto& address : split(value, ',')) to.push_back(address);
      } else if (name == "cc") {
        composer->setCcRecipients(split(value, ','));
      } else if (name == "bcc") {
        composer->setBccRecipients(split(value, ','));
      }
    }
  }
  composer->setToRecipients(std::move(to));
  presentViewController(composer, true);
}

void PrefsAppSettingsWebViewController::mailComposeControllerDidFinishWithResultError(ui::MailComposeViewController&,
                                                                                     ui::MailComposeResult,
                                                                                     const Ref<Error>&) {
  dismissViewControllerAnimated(true);
}

}  // namespace zv
