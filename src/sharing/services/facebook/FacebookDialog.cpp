#include "sharing/services/facebook/FacebookDialog.h"

#include <cmath>
#include <numbers>

#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Font.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "sharing/json/SJsonParser.h"
#include "sharing/services/facebook/FacebookFrictionlessRequestSettings.h"
#include "sharing/services/facebook/FacebookRequest.h"

namespace zv {

namespace {

constexpr double kBorderWidth = 10;
constexpr double kPadScale = 0.6;
constexpr double kRevealDelay = 0.05;
constexpr double kKeyboardInset = 10;

Ref<Date> expiryFromSeconds(const std::optional<std::string>& expiresIn) {
  // The service gives long-lived tokens; a reply without a lifetime must not read as "expired".
  if (!expiresIn) return Date::now()->dateByAddingTimeInterval(kFacebookDefaultTokenLifetime);
  const auto seconds = String::make(*expiresIn)->integerValue();
  if (seconds == 0) return Date::distantFuture();
  return Date::now()->dateByAddingTimeInterval(static_cast<double>(seconds));
}

}  // namespace

bool FacebookDialogIsPad() { return ui::Device::currentDevice()->userInterfaceIdiom() == UserInterfaceIdiom::Pad; }

// --- making ---

Ref<FacebookDialog> FacebookDialog::make(std::string url, Ref<MutableDictionary> params, bool isViewInvisible,
                                         Ref<FacebookFrictionlessRequestSettings> frictionlessSettings,
                                         std::weak_ptr<FacebookDialogDelegate> delegate) {
  auto dialog = std::make_shared<FacebookDialog>();
  dialog->init();
  dialog->serverURL_ = std::move(url);
  dialog->params_ = std::move(params);
  dialog->isViewInvisible_ = isViewInvisible;
  dialog->frictionlessSettings_ = std::move(frictionlessSettings);
  dialog->delegate_ = std::move(delegate);
  return dialog;
}

FacebookDialog::FacebookDialog() : View(graphics::Rect()) {}

FacebookDialog::~FacebookDialog() {
  for (const auto& token : observerTokens_) NotificationCenter::defaultCenter()->removeObserver(token);
  if (revealTimer_) revealTimer_->invalidate();
}

void FacebookDialog::init() {
  setBackgroundColor(graphics::Color::clearColor());
  setAutoresizesSubviews(true);
  setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
  setContentMode(ui::ViewContentMode::Redraw);

  webView_ = ui::WebView::make(graphics::Rect(kBorderWidth + 1, kBorderWidth + 1, 480, 480));
  webView_->setDelegate(std::dynamic_pointer_cast<ui::WebViewDelegate>(self()));
  webView_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);

  closeButton_ = ui::Button::buttonWithType(ui::ButtonType::Custom);
  auto closeImage = graphics::Image::imageNamed("Sharing.bundle/FacebookDialog.bundle/images/close.png");
  closeButton_->setImage(closeImage, ui::ControlStateNormal);
  if (!closeImage) closeButton_->setTitle("X", ui::ControlStateNormal);
  closeButton_->setTitleColor(graphics::Color::make(167.0 / 255, 184.0 / 255, 216.0 / 255, 1), ui::ControlStateNormal);
  closeButton_->setTitleColor(graphics::Color::whiteColor(), ui::ControlStateHighlighted);
  closeButton_->titleLabel()->setFont(ui::Font::boldSystemFontOfSize(12));
  closeButton_->setShowsTouchWhenHighlighted(true);
  closeButton_->setAutoresizingMask(ui::ViewAutoresizingFlexibleRightMargin | ui::ViewAutoresizingFlexibleBottomMargin);
  std::weak_ptr<FacebookDialog> weak = selfAs<FacebookDialog>();
  closeButton_->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
    if (auto me = weak.lock()) me->cancel();
  });

  spinner_ = ui::ActivityIndicatorView::make(ui::ActivityIndicatorViewStyle::WhiteLarge);
  spinner_->setColor(graphics::Color::grayColor());
  spinner_->setAutoresizingMask(ui::ViewAutoresizingFlexibleTopMargin | ui::ViewAutoresizingFlexibleBottomMargin |
                                ui::ViewAutoresizingFlexibleLeftMargin | ui::ViewAutoresizingFlexibleRightMargin);

  addSubview(webView_);
  addSubview(closeButton_);
  addSubview(spinner_);
  modalBackgroundView_ = ui::View::make();
}

// --- showing ---

void FacebookDialog::show() {
  load();
  sizeToFitOrientation(false);
  const auto size = bounds().size;
  closeButton_->setFrame(graphics::Rect(2, 2, 29, 29));
  webView_->setFrame(graphics::Rect(kBorderWidth + 1, kBorderWidth + 1, size.width - (1 + kBorderWidth) * 2,
                                    size.height - (1 + kBorderWidth * 2)));
  if (!isViewInvisible_) {
    showSpinner();
    showWebView();
  }
}

void FacebookDialog::load() { loadURLGet(serverURL_, params_); }

void FacebookDialog::loadURLGet(const std::string& url, const Ref<Dictionary>& params) {
  loadingURL_ = generateURL(url, params);
  if (!loadingURL_) {
    logDebug("FacebookDialog: the dialog's address is not a URL");
    auto keep = self();
    ui::scheduleAfter(0, [keep] {
      auto me = std::static_pointer_cast<FacebookDialog>(keep);
      me->dismissWithError(Error::make(kURLErrorDomain, -1000, "bad URL"), false);
    });
    return;
  }
  webView_->loadRequest(net::URLRequest::requestWithURL(loadingURL_, net::URLRequestCachePolicy::UseProtocolCachePolicy,
                                                        loadTimeout_));
}

Ref<URL> FacebookDialog::generateURL(const std::string& base, const Ref<Dictionary>& params) {
  if (!params) return URL::make(base);
  std::string pairs;
  params->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    if (!pairs.empty()) pairs += '&';
    pairs += FacebookRequest::escapeQueryComponent(stringValueOf(key).value_or(""));
    pairs += '=';
    pairs += FacebookRequest::escapeQueryComponent(stringValueOf(value).value_or(""));
    return true;
  });
  return URL::make(base + "?" + pairs);
}

void FacebookDialog::showWebView() {
  auto application = ui::Application::sharedApplication();
  auto window = application->keyWindow();
  if (!window && !application->windows().empty()) window = application->windows().front();
  if (!window || dismissed_) return;
  auto me = selfAs<FacebookDialog>();
  modalBackgroundView_->setFrame(window->frame());
  modalBackgroundView_->addSubview(me);
  window->addSubview(modalBackgroundView_);
  showing_ = true;

  const auto base = transformForOrientation();
  setTransform(base.scaled(0.001, 0.001));
  ui::View::animateWithDuration(0.2, [me, base] { me->setTransform(base.scaled(1.1, 1.1)); }, [me, base](bool) {
    ui::View::animateWithDuration(0.15, [me, base] { me->setTransform(base.scaled(0.9, 0.9)); }, [me, base](bool) {
      ui::View::animateWithDuration(0.15, [me, base] { me->setTransform(base); });
    });
  });
  dialogWillAppear();
  addObservers();
}

void FacebookDialog::showSpinner() {
  spinner_->sizeToFit();
  spinner_->startAnimating();
  spinner_->setCenter(graphics::Point{bounds().width() / 2, bounds().height() / 2});
}

void FacebookDialog::hideSpinner() {
  spinner_->stopAnimating();
  spinner_->setHidden(true);
}

// --- ending ---

Ref<FacebookDialogDelegate> FacebookDialog::delegateAnswering(std::string_view selector) const {
  auto delegate = delegate_.lock();
  return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

void FacebookDialog::dismissWithSuccess(bool success, bool animated) {
  if (dismissed_) return;
  dismissed_ = true;
  auto keep = self();
  if (success) {
    if (auto d = delegateAnswering("dialogDidComplete")) d->dialogDidComplete(*this);
  } else if (auto d = delegateAnswering("dialogDidNotComplete")) {
    d->dialogDidNotComplete(*this);
  }
  dismiss(animated);
}

void FacebookDialog::dismissWithError(const Ref<Error>& error, bool animated) {
  if (dismissed_) return;
  dismissed_ = true;
  auto keep = self();
  if (auto d = delegateAnswering("dialogDidFailWithError")) d->dialogDidFailWithError(*this, error);
  dismiss(animated);
}

void FacebookDialog::dialogDidSucceed(const Ref<URL>& url) {
  if (dismissed_) return;
  auto keep = self();
  if (auto d = delegateAnswering("dialogCompleteWithUrl")) d->dialogCompleteWithUrl(url);
  dismissWithSuccess(true, true);
}

void FacebookDialog::dialogDidCancel(const Ref<URL>& url) {
  if (dismissed_) return;
  auto keep = self();
  if (auto d = delegateAnswering("dialogDidNotCompleteWithUrl")) d->dialogDidNotCompleteWithUrl(url);
  dismissWithSuccess(false, true);
}

void FacebookDialog::dialogDidFail(const Ref<Error>& error) { dismissWithError(error, true); }

void FacebookDialog::cancel() { dialogDidCancel(nullptr); }

void FacebookDialog::dismiss(bool animated) {
  dismissed_ = true;
  dialogWillDisappear();
  if (revealTimer_) {
    revealTimer_->invalidate();
    revealTimer_ = nullptr;
  }
  loadingURL_ = nullptr;
  // Nothing the page does from now on concerns anybody.
  webView_->setDelegate({});
  auto me = selfAs<FacebookDialog>();
  if (animated && showing_) {
    ui::View::animateWithDuration(0.3, [me] { me->setAlpha(0); }, [me](bool) { me->postDismissCleanup(); });
  } else {
    postDismissCleanup();
  }
}

void FacebookDialog::postDismissCleanup() {
  removeObservers();
  removeFromSuperview();
  modalBackgroundView_->removeFromSuperview();
  showing_ = false;
  // Stopped on a later turn: the dismissal may come from inside the page's own load.
  auto webView = webView_;
  ui::scheduleAfter(0, [webView] { webView->stopLoading(); });
}

// --- parameters of redirects ---

std::optional<std::string> FacebookDialog::getStringFromUrl(std::string_view url, std::string_view needle) {
  auto start = url.find(needle);
  if (start == std::string_view::npos) return std::nullopt;
  if (start > 0) {
    const char before = url[start - 1];
    if (before != '?' && before != '&' && before != '#') return std::nullopt;
  }
  auto value = url.substr(start + needle.size());
  value = value.substr(0, value.find('&'));
  return percentDecode(value);
}

bool FacebookDialog::testBoolUrlParam(const Ref<URL>& url, std::string_view needle) {
  if (!url) return false;
  auto value = getStringFromUrl(url->absoluteString(), needle);
  return value && String::make(*value)->boolValue();
}

void FacebookDialog::dialogSuccessHandleFrictionlessResponses(const Ref<URL>& url) {
  auto text = getStringFromUrl(url->absoluteString(), "frictionless_recipients=");
  if (!text) return;
  auto parser = std::make_shared<SJsonParser>();
  auto list = dyn<Array>(parser->objectWithString(String::make(*text)));
  if (!list) return;
  std::vector<std::string> recipients;
  for (const auto& element : *list) recipients.push_back(element ? element->description() : "");
  frictionlessSettings_->updateRecipientCacheWithRecipients(recipients);
}

// --- web view ---

bool FacebookDialog::isIgnoredLoadError(const Ref<Error>& error) {
  if (!error) return true;
  return (error->domain() == kURLErrorDomain && error->code() == ui::kWebErrorCancelled) ||
         (error->domain() == ui::kWebKitErrorDomain && error->code() == ui::kWebErrorFrameLoadInterrupted);
}

bool FacebookDialog::webViewShouldStartLoadWithRequestNavigationType(ui::WebView&, const Ref<net::URLRequest>& request,
                                                                     ui::WebViewNavigationType type) {
  auto keep = self();
  const Ref<URL>& url = request->url();
  if (url->lowercaseScheme().value_or("") == "fbconnect") {
    if (dismissed_) return false;
    const auto& address = url->absoluteString();
    if (url->resourceSpecifier().starts_with("//cancel")) {
      auto code = getStringFromUrl(address, "error_code=");
      if (code) {
        auto message = getStringFromUrl(address, "error_msg=");
        dialogDidFail(Error::make(kFacebookErrorDomain, String::make(*code)->integerValue(),
                                  Dictionary::make({{"error_msg", box(message.value_or(""))}})));
      } else {
        dialogDidCancel(url);
      }
    } else {
      if (frictionlessSettings_ && frictionlessSettings_->enabled()) dialogSuccessHandleFrictionlessResponses(url);
      dialogDidSucceed(url);
    }
    return false;
  }
  if ((loadingURL_ && url->isEqual(*loadingURL_)) || type != ui::WebViewNavigationType::LinkClicked) return true;
  if (auto d = delegateAnswering("dialogShouldOpenURLInExternalBrowser")) {
    if (!d->dialogShouldOpenURLInExternalBrowser(*this, url)) return false;
  }
  ui::Application::sharedApplication()->openURL(url);
  return false;
}

void FacebookDialog::webViewDidFinishLoad(ui::WebView&) {
  if (dismissed_) return;
  if (isViewInvisible_) {
    std::weak_ptr<FacebookDialog> weak = selfAs<FacebookDialog>();
    revealTimer_ = ui::scheduleAfter(kRevealDelay, [weak] {
      if (auto me = weak.lock()) me->showWebView();
    });
  } else {
    hideSpinner();
  }
  updateWebOrientation();
}

void FacebookDialog::webViewDidFailLoadWithError(ui::WebView&, const Ref<Error>& error) {
  if (isIgnoredLoadError(error)) return;
  dismissWithError(error, true);
}

// --- orientation, keyboard and drawing ---

void FacebookDialog::sizeToFitOrientation(bool transform) {
  if (transform) setTransform(graphics::AffineTransform::identity());
  const auto frame = ui::Screen::mainScreen()->applicationFrame();
  const graphics::Point center{frame.x() + std::ceil(frame.width() / 2), frame.y() + std::ceil(frame.height() / 2)};
  const double scale = FacebookDialogIsPad() ? kPadScale : 1.0;
  const double width = std::floor(scale * frame.width());
  const double height = std::floor(scale * frame.height());
  orientation_ = ui::Application::sharedApplication()->statusBarOrientation();
  if (ui::isLandscape(orientation_)) {
    setFrame(graphics::Rect(0, 0, height, width));
  } else {
    setFrame(graphics::Rect(0, 0, width, height));
  }
  setCenter(center);
  if (transform) setTransform(transformForOrientation());
}

graphics::AffineTransform FacebookDialog::transformForOrientation() const {
  switch (ui::Application::sharedApplication()->statusBarOrientation()) {
    case ui::InterfaceOrientation::LandscapeLeft: return graphics::AffineTransform::rotation(std::numbers::pi * 1.5);
    case ui::InterfaceOrientation::LandscapeRight: return graphics::AffineTransform::rotation(std::numbers::pi / 2);
    case ui::InterfaceOrientation::PortraitUpsideDown: return graphics::AffineTransform::rotation(-std::numbers::pi);
    default: return graphics::AffineTransform::identity();
  }
}

bool FacebookDialog::shouldRotateToOrientation(ui::InterfaceOrientation orientation) const {
  if (orientation == orientation_) return false;
  switch (orientation) {
    case ui::InterfaceOrientation::Portrait:
    case ui::InterfaceOrientation::PortraitUpsideDown:
    case ui::InterfaceOrientation::LandscapeLeft:
    case ui::InterfaceOrientation::LandscapeRight: return true;
  }
  return false;
}

void FacebookDialog::updateWebOrientation() {
  if (ui::isLandscape(ui::Application::sharedApplication()->statusBarOrientation())) {
    webView_->stringByEvaluatingJavaScriptFromString("document.body.setAttribute('orientation', 90);");
  } else {
    webView_->stringByEvaluatingJavaScriptFromString("document.body.removeAttribute('orientation');");
  }
}

void FacebookDialog::deviceOrientationDidChange() {
  auto application = ui::Application::sharedApplication();
  if (showingKeyboard_ || !shouldRotateToOrientation(application->statusBarOrientation())) return;
  updateWebOrientation();
  auto me = selfAs<FacebookDialog>();
  ui::View::animateWithDuration(application->statusBarOrientationAnimationDuration(),
                                [me] { me->sizeToFitOrientation(true); });
}

void FacebookDialog::keyboardWillShow() {
  showingKeyboard_ = true;
  if (!FacebookDialogIsPad() && ui::isLandscape(orientation_)) {
    webView_->setFrame(webView_->frame().insetBy(-kKeyboardInset, -kKeyboardInset));
  }
}

void FacebookDialog::keyboardWillHide() {
  showingKeyboard_ = false;
  if (!FacebookDialogIsPad() && ui::isLandscape(orientation_)) {
    webView_->setFrame(webView_->frame().insetBy(kKeyboardInset, kKeyboardInset));
  }
}

void FacebookDialog::addObservers() {
  auto center = NotificationCenter::defaultCenter();
  std::weak_ptr<FacebookDialog> weak = selfAs<FacebookDialog>();
  observerTokens_.push_back(center->addObserverForName(ui::kDeviceOrientationDidChangeNotification, nullptr,
                                                       [weak](const Ref<Notification>&) {
                                                         if (auto me = weak.lock()) me->deviceOrientationDidChange();
                                                       }));
  observerTokens_.push_back(center->addObserverForName(ui::kKeyboardWillShowNotification, nullptr,
                                                       [weak](const Ref<Notification>&) {
                                                         if (auto me = weak.lock()) me->keyboardWillShow();
                                                       }));
  observerTokens_.push_back(center->addObserverForName(ui::kKeyboardWillHideNotification, nullptr,
                                                       [weak](const Ref<Notification>&) {
                                                         if (auto me = weak.lock()) me->keyboardWillHide();
                                                       }));
}

void FacebookDialog::removeObservers() {
  for (const auto& token : observerTokens_) NotificationCenter::defaultCenter()->removeObserver(token);
  observerTokens_.clear();
}

void FacebookDialog::drawRect(graphics::BitmapContext& context, const graphics::Rect&) {
  const auto box = bounds();
  context.setFillColor(0.3, 0.3, 0.3, 0.8);
  context.fillRect(box);
  // The border around the page, on half-point offsets so each line covers one pixel.
  const double x = std::ceil(box.x() + kBorderWidth);
  const double y = std::ceil(box.y() + kBorderWidth) + 1;
  const double width = box.width() - kBorderWidth * 2;
  const double height = webView_->frame().height() + 1;
  context.setStrokeColor(0.3, 0.3, 0.3, 1.0);
  context.setLineWidth(1);
  context.strokeLineSegments({{x - 0.5, y - 0.5}, {x + width + 0.5, y - 0.5},
                              {x + width + 0.5, y - 0.5}, {x + width + 0.5, y + height + 0.5},
                              {x + width + 0.5, y + height + 0.5}, {x - 0.5, y + height + 0.5},
                              {x - 0.5, y + height + 0.5}, {x - 0.5, y - 0.5}});
}

// --- login dialog ---

Ref<FacebookLoginDialog> FacebookLoginDialog::make(std::string url, Ref<MutableDictionary> loginParams,
                                                   std::weak_ptr<FacebookLoginDialogDelegate> delegate) {
  auto dialog = std::make_shared<FacebookLoginDialog>();
  dialog->init();
  dialog->serverURL_ = std::move(url);
  dialog->params_ = std::move(loginParams);
  dialog->loginDelegate_ = std::move(delegate);
  return dialog;
}

void FacebookLoginDialog::dialogDidSucceed(const Ref<URL>& url) {
  if (isDismissed()) return;
  auto keep = self();
  const auto& address = url->absoluteString();
  auto token = getStringFromUrl(address, "access_token=");
  auto expiry = expiryFromSeconds(getStringFromUrl(address, "expires_in="));
  // The session judges the token (an empty or expired one is a failed login); a redirect
  // without one is the user's way out.
  if (token && *token != "(null)") {
    if (auto delegate = loginDelegate_.lock()) delegate->facebookDialogLoginExpirationDate(*token, expiry);
    dismissWithSuccess(true, true);
  } else {
    dialogDidCancel(url);
  }
}

void FacebookLoginDialog::dialogDidCancel(const Ref<URL>&) {
  if (isDismissed()) return;
  auto keep = self();
  dismissWithSuccess(false, true);
  if (auto delegate = loginDelegate_.lock()) delegate->facebookDialogNotLogin(true);
}

void FacebookLoginDialog::dialogDidFail(const Ref<Error>& error) {
  if (isDismissed()) return;
  auto keep = self();
  FacebookDialog::dialogDidFail(error);
  if (auto delegate = loginDelegate_.lock()) delegate->facebookDialogNotLogin(false);
}

void FacebookLoginDialog::webViewDidFailLoadWithError(ui::WebView& webView, const Ref<Error>& error) {
  if (isIgnoredLoadError(error) || isDismissed()) return;
  auto keep = self();
  FacebookDialog::webViewDidFailLoadWithError(webView, error);
  if (auto delegate = loginDelegate_.lock()) delegate->facebookDialogNotLogin(false);
}

}  // namespace zv
