#include "sharing/services/facebook/SXFacebook.h"

#include <filesystem>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/json/SJsonWriter.h"

namespace zv {

namespace {

constexpr const char* kSharerId = "SXFacebook";

std::mutex sessionMutex;
Ref<FacebookClient>& sessionSlot() {
  static Ref<FacebookClient>& session = *new Ref<FacebookClient>;
  return session;
}

Ref<UserDefaults> defaults() { return UserDefaults::standardUserDefaults(); }

std::string dateText(const Ref<Date>& date) { return format("%.3f", date->timeIntervalSince1970()); }

void storeToken(const std::string& token, const Ref<Date>& expiresAt) {
  Ref<Error> error;
  if (!SX::setAuthValue(token, kSXFacebookTokenAccount, kSharerId, &error) ||
      !SX::setAuthValue(dateText(expiresAt ? expiresAt : Date::distantFuture()), kSXFacebookExpiryAccount, kSharerId,
                        &error)) {
    logDebug("SXFacebook: cannot keep the access token: " + describe(error));
  }
}

// The service's own words for a failure, when its reply carried any.
std::optional<std::string> serviceMessage(const Ref<Error>& error) {
  auto info = error ? error->userInfo() : nullptr;
  if (!info) return std::nullopt;
  if (auto inner = info->objectForKeyAs<Dictionary>("error")) {
    if (auto message = inner->stringForKey("message")) return message;
  }
  return info->stringForKey("error_msg");
}

// The service's code inside a Graph error ({"error": {"code": 190}}), when it is a number.
std::optional<std::int64_t> graphErrorCode(const Ref<Error>& error) {
  auto info = error ? error->userInfo() : nullptr;
  auto inner = info ? info->objectForKeyAs<Dictionary>("error") : nullptr;
  auto code = inner ? inner->objectForKey("code") : nullptr;
  if (dyn<Number>(code) || dyn<String>(code)) return integerValueOf(code);
  return std::nullopt;
}

}  // namespace

// --- the shared session and stored values ---

Ref<FacebookClient> SXFacebook::facebook() {
  std::lock_guard lock(sessionMutex);
  auto& session = sessionSlot();
  if (!session) {
    session = FacebookClient::make(SXConfigString("facebookAppId").value_or(""), SXConfigString("facebookLocalAppId"),
                                   std::weak_ptr<FacebookSessionDelegate>());
    // Every token the session gets is kept, also one extended for a token read from storage,
    // when no sharer is listening.
    session->setTokenHandler(storeToken);
  }
  return session;
}

void SXFacebook::resetSharedSessionForTesting() {
  std::lock_guard lock(sessionMutex);
  sessionSlot() = nullptr;
}

void SXFacebook::flushAccessToken() {
  auto session = facebook();
  session->setAccessToken(std::nullopt);
  session->setExpirationDate(nullptr);
  SX::removeAuthValueForKey(kSXFacebookTokenAccount, kSharerId);
  SX::removeAuthValueForKey(kSXFacebookExpiryAccount, kSharerId);
  auto store = defaults();
  store->removeObjectForKey(kSXFacebookLegacyAccessTokenKey);
  store->removeObjectForKey(kSXFacebookLegacyExpiryDateKey);
  store->removeObjectForKey(kSXFacebookUserInfoKey);
  store->synchronize();
}

void SXFacebook::saveFBAccessToken(const std::string& token, const Ref<Date>& expiresAt) {
  storeToken(token, expiresAt);
}

std::optional<std::string> SXFacebook::storedImagePath(const Ref<graphics::Image>& image) {
  auto png = graphics::imagePNGRepresentation(image);
  if (!png) return std::nullopt;
  const auto random = crypto::randomBytes(4);
  const std::uint32_t number = static_cast<std::uint32_t>(random[0]) | static_cast<std::uint32_t>(random[1]) << 8 |
                               static_cast<std::uint32_t>(random[2]) << 16 | static_cast<std::uint32_t>(random[3]) << 24;
  const auto folder = ApplicationEnvironment::shared().cachesDirectory() / "SXImage";
  const auto path = folder / format("img-%f-%i", Date::now()->timeIntervalSince1970(), static_cast<int>(number));
  // The user's picture, kept for a login that may come back after a restart: the user's alone,
  // in a folder made 0700 (and one an earlier version left open closed).
  std::error_code ignored;
  storage::createPrivateFolders(folder, ignored);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                               ignored);
  if (auto error = storage::writeFileAtomically(path, png->view(), std::filesystem::perms::owner_read |
                                                                       std::filesystem::perms::owner_write)) {
    logDebug("SXFacebook: cannot park the image: " + describe(error));
    return std::nullopt;
  }
  return path.string();
}

Ref<graphics::Image> SXFacebook::storedImage(const std::string& path) {
  auto bytes = storage::readFile(path);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  if (!bytes) return nullptr;
  return graphics::Image::imageWithData(*Data::make(*bytes));
}

void SXFacebook::removeStrayImages() {
  const auto folder = ApplicationEnvironment::shared().cachesDirectory() / "SXImage";
  std::optional<std::string> kept;
  if (auto parked = defaults()->dictionaryForKey(kSXStoredItemKey)) kept = parked->stringForKey("imagePath");
  std::error_code failure;
  std::vector<std::filesystem::path> strays;
  for (std::filesystem::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure)) {
    if (!kept || it->path() != std::filesystem::path(*kept)) strays.push_back(it->path());
  }
  for (const auto& stray : strays) std::filesystem::remove_all(stray, failure);
}

void SXFacebook::dropParkedItem() {
  auto store = defaults();
  if (auto parked = store->dictionaryForKey(kSXStoredItemKey)) {
    if (auto path = parked->stringForKey("imagePath")) {
      std::error_code ignored;
      std::filesystem::remove(*path, ignored);
    }
  }
  store->removeObjectForKey(kSXStoredItemKey);
  store->removeObjectForKey(kSXFacebookLoginStartedKey);
  store->synchronize();
}

bool SXFacebook::handleOpenURL(const Ref<URL>& url) {
  auto session = facebook();
  Ref<SXFacebook> created;
  if (!session->sessionDelegate().lock()) {
    // The application was started again while the user was away logging in.
    created = SXSharer::make<SXFacebook>();
    // Only a login that left from here, not long ago, is waited for: the session judges the time.
    auto started = defaults()->objectForKey(kSXFacebookLoginStartedKey);
    if (defaults()->objectForKey(kSXStoredItemKey) && dyn<Number>(started)) {
      created->setPendingAction(SXPendingActionShare);
      session->setLoginStartedAt(Date::fromUnixTime(doubleValueOf(started)));
    }
    session->setSessionDelegate(std::dynamic_pointer_cast<FacebookSessionDelegate>(created));
    created->beginLogin();
    created->holdUntilLoginEnds();
  }
  const bool handled = session->handleOpenURL(url);
  if (!handled && created) {
    session->setSessionDelegate({});
    created->endLoginAttempt();
    created->letGoAfterLogin();
  }
  return handled;
}

void SXFacebook::logoutOfFacebook() {
  dropParkedItem();
  flushAccessToken();
  facebook()->logout();
}

void SXFacebook::registerClass() {
  removeStrayImages();
  SXSharer::registerSharerClass<SXFacebook>()
      .addClassMethod("flushAccessToken",
                      [](const ClassInfo::Arguments&) -> ObjectPtr {
                        flushAccessToken();
                        return nullptr;
                      })
      .addClassMethod("handleOpenURL",
                      [](const ClassInfo::Arguments& arguments) -> ObjectPtr {
                        auto url = arguments.empty() ? nullptr : dyn<URL>(arguments.front());
                        return box(url && handleOpenURL(url));
                      })
      .addClassMethod("logout", [](const ClassInfo::Arguments&) -> ObjectPtr {
        logoutOfFacebook();
        return nullptr;
      });
}

// --- authorization ---

bool SXFacebook::isAuthorized() {
  auto session = facebook();
  if (session->isSessionValid()) return true;
  auto store = defaults();
  if (auto legacyToken = store->stringForKey(kSXFacebookLegacyAccessTokenKey)) {
    // An earlier version kept the token in plain user defaults: move it, once. One without an
    // expiry cannot be trusted to be valid: it is dropped, and the next share logs in again.
    auto legacyExpiry = dyn<Date>(store->objectForKey(kSXFacebookLegacyExpiryDateKey));
    if (legacyExpiry) saveFBAccessToken(*legacyToken, legacyExpiry);
    store->removeObjectForKey(kSXFacebookLegacyAccessTokenKey);
    store->removeObjectForKey(kSXFacebookLegacyExpiryDateKey);
    store->synchronize();
  }
  auto token = SX::getAuthValueForKey(kSXFacebookTokenAccount, kSharerId);
  auto expiry = SX::getAuthValueForKey(kSXFacebookExpiryAccount, kSharerId);
  session->setAccessToken(token);
  session->setExpirationDate(expiry ? Date::fromUnixTime(String::make(*expiry)->doubleValue()) : nullptr);
  return session->isSessionValid();
}

void SXFacebook::promptAuthorization() {
  // This login replaces the one still waiting (the user came back without logging in): that
  // share ends now, and lets go of its item.
  beginLogin();
  // A share parked by an earlier login that never came back gives way to this one, with its file.
  dropParkedItem();
  auto store = defaults();
  if (auto item = this->item()) {
    // A share parked before (a login that never came back) gives way, its picture with it.
    if (auto earlier = store->dictionaryForKey(kSXStoredItemKey)) {
      if (auto path = earlier->stringForKey("imagePath")) {
        std::error_code ignored;
        std::filesystem::remove(*path, ignored);
      }
    }
    auto parked = dyn<MutableDictionary>(item->dictionaryRepresentation()->mutableCopy());
    if (item->image) {
      if (auto path = storedImagePath(item->image)) parked->setObject(box(*path), "imagePath");
    }
    store->setObject(parked, kSXStoredItemKey);
  }
  store->synchronize();
  auto session = facebook();
  session->setSessionDelegate(std::dynamic_pointer_cast<FacebookSessionDelegate>(self()));
  holdUntilLoginEnds();
  session->authorize(SXConfigStringList("facebookListOfPermissions"));
  // A login that left for another application may come back after a restart: remember when it
  // left, so a reply much later (or one nobody asked for) is not taken.
  if (session->isLoginInProgress() && session->loginStartedAt()) {
    store->setObject(box(session->loginStartedAt()->timeIntervalSince1970()), kSXFacebookLoginStartedKey);
  } else {
    store->removeObjectForKey(kSXFacebookLoginStartedKey);
  }
  store->synchronize();
}

void SXFacebook::beginLogin() {
  beginLoginAttempt([](SXSharer& sharer) { static_cast<SXFacebook&>(sharer).loginAbandoned(); });
}

bool SXFacebook::takeLoginOutcome() {
  if (loginAttempt() && loginAttempt()->take()) return true;
  // The login ended already (replaced, logged out): its share had its outcome.
  letGoAfterLogin();
  return false;
}

void SXFacebook::loginAbandoned() {
  auto hold = selfAs<SXFacebook>();
  auto session = facebook();
  // The session's waiting login is this share's: it ends too, so a reply that comes later is not
  // taken for it.
  if (session->sessionDelegate().lock() == std::dynamic_pointer_cast<FacebookSessionDelegate>(self())) {
    session->cancelLogin();
  }
  dropParkedItem();
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
  letGoAfterLogin();
}

void SXFacebook::facebookDidLogin() {
  auto hold = selfAs<SXFacebook>();
  if (!takeLoginOutcome()) return;
  // The session has handed the token to storage already.
  auto store = defaults();
  if (auto parked = store->dictionaryForKey(kSXStoredItemKey)) {
    if (auto restored = SXItem::itemFromDictionary(parked)) {
      if (auto path = parked->stringForKey("imagePath")) restored->image = storedImage(*path);
      setItem(restored);
    }
  }
  store->removeObjectForKey(kSXStoredItemKey);
  store->removeObjectForKey(kSXFacebookLoginStartedKey);
  store->synchronize();
  authDidFinish(true);
  if (item()) tryPendingAction();
  letGoAfterLogin();
}

void SXFacebook::facebookDidNotLogin(bool cancelled) {
  auto hold = selfAs<SXFacebook>();
  if (!takeLoginOutcome()) return;
  if (!cancelled) {
    ui::AlertView::make(SXLocalizedText("Authorize Error"), SXLocalizedText("There was an error while authorizing"), {},
                        SXLocalizedText("Close"))
        ->show();
  }
  // The share this login was for will not happen: nothing may run it later by surprise.
  dropParkedItem();
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
  letGoAfterLogin();
}

void SXFacebook::facebookDidExtendTokenExpiresAt(const std::string&, const Ref<Date>&) {
  // The session has handed the new token to storage already.
}

// --- showing and sending ---

void SXFacebook::show() {
  const auto type = item() ? item()->shareType : SXShareTypeUndefined;
  if (type == SXShareTypeText || type == SXShareTypeImage) {
    showFacebookForm();
  } else {
    tryToSend();
  }
}

void SXFacebook::showFacebookForm() {
  auto form = std::make_shared<SXCustomFormControllerLargeTextField>(
      std::dynamic_pointer_cast<SXFormControllerLargeTextFieldDelegate>(self()));
  if (item()->shareType == SXShareTypeImage) {
    form->setImage(item()->image);
    form->setText(item()->title);
  } else {
    form->setText(item()->text);
  }
  if (auto tint = dyn<graphics::Color>(SXConfigValue("barTintForView:", self()))) navigationBar()->setTintColor(tint);
  pushViewController(form, false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

void SXFacebook::sendForm(SXFormControllerLargeTextField& form) {
  auto hold = selfAs<SXFacebook>();
  const auto text = form.textView()->text();
  if (item()->shareType == SXShareTypeImage) {
    item()->title = text;
  } else if (item()->shareType == SXShareTypeText) {
    item()->text = text;
  }
  tryToSend();
}

bool SXFacebook::send() {
  if (!validateItem()) return false;
  auto item = this->item();
  auto session = facebook();
  auto delegate = std::dynamic_pointer_cast<FacebookRequestDelegate>(self());

  auto actionsObject = Dictionary::make(
      {{"name", box(SXLocalizedText("Get") + " " + SXConfigString("appName").value_or(""))},
       {"link", box(SXConfigString("appURL").value_or(""))}});
  auto actions = std::make_shared<SJsonWriter>()->stringWithObject(actionsObject);
  auto params = MutableDictionary::make({{"actions", actions}});

  switch (item->shareType) {
    case SXShareTypeURL: {
      const auto& link = item->url->absoluteString();
      params->setObject(box(link), "link");
      params->setObject(box(item->title.value_or(link)), "name");
      if (item->text) params->setObject(box(*item->text), "message");
      if (item->facebookURLSharePictureURI) params->setObject(box(*item->facebookURLSharePictureURI), "picture");
      if (item->facebookURLShareDescription) {
        params->setObject(box(*item->facebookURLShareDescription), "description");
      }
      dialogOutcome_ = DialogOutcome::Posted;
      dialogError_ = nullptr;
      holdUntilSendEnds();
      session->dialog("feed", params, std::dynamic_pointer_cast<FacebookDialogDelegate>(self()));
      return true;
    }
    case SXShareTypeText:
      params->setObject(box(*item->text), "message");
      holdUntilSendEnds();
      session->requestWithGraphPath("me/feed", params, "POST", delegate);
      return true;
    case SXShareTypeImage:
      if (item->title) params->setObject(box(*item->title), "caption");
      if (item->text) params->setObject(box(*item->text), "message");
      params->setObject(item->image, "picture");
      holdUntilSendEnds();
      session->requestWithGraphPath("me/photos", params, "POST", delegate);
      return true;
    case SXShareTypeUserInfo:
      setQuiet(true);
      holdUntilSendEnds();
      session->requestWithGraphPath("me", delegate);
      return true;
    default: return false;
  }
}

void SXFacebook::tokenRefused() {
  // The token is no longer good: log in again and send again afterwards (once per share).
  flushAccessToken();
  reloginOnceOrFail(SX::error(SXLocalizedText("Could not authenticate you. Please relogin.")));
}

// --- feed dialog ---

void SXFacebook::dialogCompleteWithUrl(const Ref<URL>& url) {
  const auto address = url ? url->absoluteString() : std::string();
  if (address == kFacebookRedirectURI) {
    // The dialog closed without a post being made.
    setQuiet(true);
    dialogOutcome_ = DialogOutcome::NothingPosted;
  } else if (address.find("error_code=190") != std::string::npos) {
    dialogOutcome_ = DialogOutcome::TokenRefused;
  } else if (auto code = FacebookDialog::getStringFromUrl(address, "error_code=")) {
    auto message = FacebookDialog::getStringFromUrl(address, "error_msg=");
    dialogOutcome_ = DialogOutcome::Failed;
    dialogError_ = Error::make(kFacebookErrorDomain, String::make(*code)->integerValue(),
                               message ? *message : SXLocalizedText("There was a problem saving to %@", sharerTitle()));
  } else {
    dialogOutcome_ = DialogOutcome::Posted;
  }
}

void SXFacebook::dialogDidComplete(FacebookDialog&) {
  auto hold = selfAs<SXFacebook>();
  switch (dialogOutcome_) {
    case DialogOutcome::Posted:
      shareEnded();
      sendDidFinish();
      break;
    case DialogOutcome::NothingPosted: sendDidCancel(); break;
    case DialogOutcome::TokenRefused: tokenRefused(); break;
    case DialogOutcome::Failed: sendDidFailWithError(dialogError_); break;
  }
  letGoAfterSend();
}

void SXFacebook::dialogDidNotComplete(FacebookDialog&) {
  auto hold = selfAs<SXFacebook>();
  sendDidCancel();
  letGoAfterSend();
}

void SXFacebook::dialogDidFailWithError(FacebookDialog&, const Ref<Error>& error) {
  auto hold = selfAs<SXFacebook>();
  if (error && error->code() == -999) {
    sendDidCancel();  // the page load was called off: no failure to show
  } else {
    sendDidFailWithError(error);
  }
  letGoAfterSend();
}

bool SXFacebook::dialogShouldOpenURLInExternalBrowser(FacebookDialog&, const Ref<URL>&) { return true; }

// --- Graph requests ---

void SXFacebook::requestLoading(FacebookRequest&) { sendDidStart(); }

void SXFacebook::requestDidLoad(FacebookRequest& request, const ObjectPtr& result) {
  auto hold = selfAs<SXFacebook>();
  auto reply = dyn<Dictionary>(result);
  if (request.url().ends_with("/me") && reply && reply->objectForKey("id")) {
    auto info = dyn<MutableDictionary>(reply->mutableCopy());
    convertNullsToEmptyStrings(*info);
    defaults()->setObject(info, kSXFacebookUserInfoKey);
    defaults()->synchronize();
  }
  shareEnded();
  sendDidFinish();
  letGoAfterSend();
}

void SXFacebook::requestDidFailWithError(FacebookRequest& request, const Ref<Error>& error) {
  auto hold = selfAs<SXFacebook>();
  const bool facebookError = error && error->domain() == kFacebookErrorDomain;
  if (facebookError && (graphErrorCode(error) == kFacebookExpiredSessionErrorCode || request.sessionDidExpire())) {
    tokenRefused();
  } else if (auto message = serviceMessage(error)) {
    auto info = error->userInfo() ? dyn<MutableDictionary>(error->userInfo()->mutableCopy()) : MutableDictionary::make();
    info->setObject(box(*message), kLocalizedDescriptionKey);
    sendDidFailWithError(Error::make(error->domain(), error->code(), info));
  } else {
    sendDidFailWithError(error);
  }
  letGoAfterSend();
}

bool SXFacebook::respondsToSelector(std::string_view selector) const {
  static constexpr std::string_view answered[] = {
      "dialogDidComplete",      "dialogCompleteWithUrl", "dialogDidNotComplete",    "dialogDidFailWithError",
      "dialogShouldOpenURLInExternalBrowser",              "requestLoading",          "requestDidLoad",
      "requestDidFailWithError"};
  for (auto name : answered) {
    if (selector == name) return true;
  }
  return NavigationController::respondsToSelector(selector);
}

}  // namespace zv
