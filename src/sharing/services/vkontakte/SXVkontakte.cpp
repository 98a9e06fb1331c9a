#include "sharing/services/vkontakte/SXVkontakte.h"

#include "platform/crypto/Digest.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/graphics/Image.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLResponse.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextField.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXRequest.h"
#include "sharing/core/SXText.h"
#include "sharing/json/JSONDecoder.h"

namespace zv {

namespace {

constexpr const char* kSharerId = "SXVkontakte";
constexpr const char* kMethodBase = "https://api.vk.com";
constexpr double kTokenLife = 86400;
constexpr double kCallTimeout = 60;
constexpr const char* kCaptchaNeeded = "Captcha needed";

Ref<UserDefaults> defaults() { return UserDefaults::standardUserDefaults(); }

// A value of a reply as text: strings as they stand, numbers written out.
std::optional<std::string> textOf(const ObjectPtr& value) {
  if (auto text = dyn<String>(value)) return text->utf8();
  if (auto number = dyn<Number>(value)) return std::to_string(integerValueOf(number));
  return std::nullopt;
}

ObjectPtr decodeReply(const Ref<Data>& data, std::string* failure) {
  if (!data || data->length() == 0) {
    *failure = "The service sent no reply";
    return nullptr;
  }
  auto decoded = JSONDecoder::decoder()->objectWithData(data);
  if (!dyn<Dictionary>(decoded)) {
    *failure = "The service's reply could not be read";
    return nullptr;
  }
  return decoded;
}

}  // namespace

void SXVkontakte::registerClass() {
  SXSharer::registerSharerClass<SXVkontakte>()
      .addClassMethod("flushAccessToken",
                      [](const ClassInfo::Arguments&) -> ObjectPtr {
                        flushAccessToken();
                        return nullptr;
                      })
      .addClassMethod("logout", [](const ClassInfo::Arguments&) -> ObjectPtr {
        flushAccessToken();
        return nullptr;
      });
}

void SXVkontakte::flushAccessToken() {
  SX::removeAuthValueForKey(kSXVkontakteUserIdAccount, kSharerId);
  SX::removeAuthValueForKey(kSXVkontakteTokenAccount, kSharerId);
  SX::removeAuthValueForKey(kSXVkontakteExpiryAccount, kSharerId);
  auto store = defaults();
  store->removeObjectForKey(kSXVkontakteLegacyUserIdKey);
  store->removeObjectForKey(kSXVkontakteLegacyAccessTokenKey);
  store->removeObjectForKey(kSXVkontakteLegacyExpiryDateKey);
  store->synchronize();
  // The login pages' session would sign the same account in again without asking.
  deleteCookiesForURL(URL::make(SXVkontakteOAuthView::loginURLString("")));
}

std::string SXVkontakte::URLEncodedString(std::string_view text) { return percentEncode(text); }

std::string SXVkontakte::methodURL(const std::string& pathAndQuery) const { return kMethodBase + pathAndQuery; }

// --- authorization ---

bool SXVkontakte::isAuthorized() {
  auto store = defaults();
  if (auto legacyToken = store->stringForKey(kSXVkontakteLegacyAccessTokenKey)) {
    // An earlier version kept the login in plain user defaults: move it, once.
    auto legacyExpiry = dyn<Date>(store->objectForKey(kSXVkontakteLegacyExpiryDateKey));
    auto legacyUser = store->stringForKey(kSXVkontakteLegacyUserIdKey);
    if (legacyExpiry && legacyUser) {
      SX::setAuthValue(*legacyToken, kSXVkontakteTokenAccount, kSharerId);
      SX::setAuthValue(*legacyUser, kSXVkontakteUserIdAccount, kSharerId);
      SX::setAuthValue(format("%.3f", legacyExpiry->timeIntervalSince1970()), kSXVkontakteExpiryAccount, kSharerId);
    }
  }
  if (store->objectForKey(kSXVkontakteLegacyAccessTokenKey) || store->objectForKey(kSXVkontakteLegacyUserIdKey) ||
      store->objectForKey(kSXVkontakteLegacyExpiryDateKey)) {
    store->removeObjectForKey(kSXVkontakteLegacyUserIdKey);
    store->removeObjectForKey(kSXVkontakteLegacyAccessTokenKey);
    store->removeObjectForKey(kSXVkontakteLegacyExpiryDateKey);
    store->synchronize();
  }
  accessToken_ = SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId);
  accessUserId_ = SX::getAuthValueForKey(kSXVkontakteUserIdAccount, kSharerId);
  auto expiry = SX::getAuthValueForKey(kSXVkontakteExpiryAccount, kSharerId);
  expirationDate_ = expiry ? Date::fromUnixTime(String::make(*expiry)->doubleValue()) : nullptr;
  return accessToken_ && accessUserId_ && expirationDate_ && expirationDate_->compare(*Date::now()) > 0;
}

void SXVkontakte::promptAuthorization() {
  // The page is the service's current login: a logout (or a newer login) drops its answer.
  beginLoginAttempt([](SXSharer& sharer) {
    auto& me = static_cast<SXVkontakte&>(sharer);
    auto hold = me.selfAs<SXVkontakte>();
    SXVkontakteOAuthView::dismissPageOf(me);
    me.setPendingAction(SXPendingActionNone);
    me.authDidFinish(false);
  });
  auto login = std::make_shared<SXVkontakteOAuthView>();
  login->setAppID(SXConfigString("vkontakteAppId"));
  login->setDelegate(std::dynamic_pointer_cast<SXVkontakteOAuthViewDelegate>(self()));
  // The login page is a screen of its own (tinted for it by the hub); the sharer's screens follow
  // it once the login has ended. Taken away before it answered, the page ends the login and the
  // share waiting for it; the hub keeps both until then.
  auto sharer = selfAs<SXVkontakte>();
  SX::currentHelper()->showViewController(login, [sharer, login] {
    if (login->takenAway()) sharer->loginPageTakenAway();
  });
  login->view();
}

void SXVkontakte::authComplete(const std::string& accessToken, const std::string& userId) {
  if (!loginAttempt() || !loginAttempt()->take()) return;  // a login dropped meanwhile
  auto hold = selfAs<SXVkontakte>();
  const auto expiry = Date::now()->dateByAddingTimeInterval(kTokenLife);
  Ref<Error> error;
  if (!SX::setAuthValue(accessToken, kSXVkontakteTokenAccount, kSharerId, &error) ||
      !SX::setAuthValue(userId, kSXVkontakteUserIdAccount, kSharerId, &error) ||
      !SX::setAuthValue(format("%.3f", expiry->timeIntervalSince1970()), kSXVkontakteExpiryAccount, kSharerId,
                        &error)) {
    // A login that cannot be kept would be read back as none by the share that follows, which
    // would then ask for the login again, and again: say so once and stop here.
    logError("SXVkontakte: cannot keep the login: " + describe(error));
    flushAccessToken();
    accessToken_.reset();
    accessUserId_.reset();
    expirationDate_ = nullptr;
    setPendingAction(SXPendingActionNone);
    ui::AlertView::make(SXLocalizedText("Authorize Error"),
                        error ? error->localizedDescription() : SXLocalizedText("There was an error while authorizing"),
                        {}, SXLocalizedText("Close"))
        ->show();
    authDidFinish(false);
    return;
  }
  accessToken_ = accessToken;
  accessUserId_ = userId;
  expirationDate_ = expiry;
  authDidFinish(true);
  if (item()) share();
}

void SXVkontakte::authFailed(bool malformed) {
  if (!loginAttempt() || !loginAttempt()->take()) return;
  auto hold = selfAs<SXVkontakte>();
  if (malformed) {
    logDebug("SXVkontakte: the login page's redirect carried no usable token and user id");
    ui::AlertView::make(SXLocalizedText("Authorize Error"), SXLocalizedText("There was an error while authorizing"), {},
                        SXLocalizedText("Close"))
        ->show();
  }
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
}

// --- showing and sending ---

void SXVkontakte::show() {
  if (item() && item()->shareType == SXShareTypeText) {
    showVkontakteForm();
  } else {
    tryToSend();
  }
}

void SXVkontakte::showVkontakteForm() {
  auto form = std::make_shared<SXCustomFormControllerLargeTextField>(
      std::dynamic_pointer_cast<SXFormControllerLargeTextFieldDelegate>(self()));
  form->setText(item()->text);
  if (auto tint = dyn<graphics::Color>(SXConfigValue("barTintForView:", self()))) navigationBar()->setTintColor(tint);
  pushViewController(form, false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

void SXVkontakte::sendForm(SXFormControllerLargeTextField& form) {
  auto hold = selfAs<SXVkontakte>();
  item()->text = form.textView()->text();
  tryToSend();
}

bool SXVkontakte::send() {
  if (!validateItem()) return false;
  setQuiet(false);
  auto item = this->item();
  if (!accessToken_ || !accessUserId_) isAuthorized();
  if (!accessToken_ || !accessUserId_) return false;
  captchaRounds_ = 0;
  if (item->shareType == SXShareTypeURL && item->url) {
    sendDidStart();
    sendTextAndLink();
  } else if (item->shareType == SXShareTypeText && item->text) {
    sendDidStart();
    sendText();
  } else if (item->shareType == SXShareTypeImage && item->image) {
    sendDidStart();
    sendImageAction();
  } else {
    return false;
  }
  return true;
}

void SXVkontakte::sendText() {
  call(Step::WallPost, methodURL("/method/wall.post?owner_id=" + URLEncodedString(*accessUserId_) +
                                 "&access_token=" + URLEncodedString(*accessToken_) +
                                 "&message=" + URLEncodedString(item()->text.value_or(""))));
}

void SXVkontakte::sendTextAndLink() {
  const auto link = item()->url->absoluteString();
  call(Step::WallPost, methodURL("/method/wall.post?owner_id=" + URLEncodedString(*accessUserId_) +
                                 "&access_token=" + URLEncodedString(*accessToken_) +
                                 "&message=" + URLEncodedString(item()->text.value_or(link)) +
                                 "&attachment=" + URLEncodedString(link)));
}

void SXVkontakte::sendImageAction() {
  call(Step::UploadServer, methodURL("/method/photos.getWallUploadServer?owner_id=" +
                                     URLEncodedString(*accessUserId_) +
                                     "&access_token=" + URLEncodedString(*accessToken_)));
}

void SXVkontakte::call(Step step, const std::string& url) {
  step_ = step;
  std::string failure;
  bool captcha = false;
  auto reply = sendRequest(url, false, &failure, &captcha);
  if (captcha) return;  // the answer to the captcha goes on
  if (!reply) return fail(failure);
  advance(step, reply);
}

void SXVkontakte::advance(Step step, const ObjectPtr& reply) {
  auto hold = selfAs<SXVkontakte>();
  auto dictionary = dyn<Dictionary>(reply);
  switch (step) {
    case Step::UploadServer: {
      auto response = dictionary->objectForKeyAs<Dictionary>("response");
      auto uploadURL = response ? response->stringForKey("upload_url") : std::nullopt;
      auto parsed = uploadURL ? URL::make(*uploadURL) : nullptr;
      if (!parsed || parsed->scheme() != std::optional<std::string>("https")) return fail("The service gave no upload address");
      auto jpeg = graphics::imageJPEGRepresentation(item()->image, 1.0);
      if (!jpeg) return fail("The photo could not be prepared");
      std::string failure;
      step_ = Step::Upload;
      auto uploaded = dyn<Dictionary>(sendPOSTRequest(*uploadURL, jpeg, &failure));
      if (!uploaded) return fail(failure);
      return advance(Step::Upload, uploaded);
    }
    case Step::Upload: {
      auto server = textOf(dictionary->objectForKey("server"));
      auto photo = textOf(dictionary->objectForKey("photo"));
      auto hash = textOf(dictionary->objectForKey("hash"));
      if (!server || !photo || !hash || photo->empty() || *photo == "[]") {
        return fail("The service did not take the photo");
      }
      return call(Step::SavePhoto, methodURL("/method/photos.saveWallPhoto?owner_id=" +
                                             URLEncodedString(*accessUserId_) +
                                             "&access_token=" + URLEncodedString(*accessToken_) +
                                             "&server=" + URLEncodedString(*server) +
                                             "&photo=" + URLEncodedString(*photo) + "&hash=" + URLEncodedString(*hash)));
    }
    case Step::SavePhoto: {
      auto saved = dictionary->objectForKeyAs<Array>("response");
      auto last = saved && !saved->empty() ? dyn<Dictionary>(saved->objectAtIndex(saved->count() - 1)) : nullptr;
      auto attachment = last ? textOf(last->objectForKey("id")) : std::nullopt;
      if (!attachment) return fail("The service did not save the photo");
      return call(Step::WallPost, methodURL("/method/wall.post?owner_id=" + URLEncodedString(*accessUserId_) +
                                            "&access_token=" + URLEncodedString(*accessToken_) +
                                            "&message=" + URLEncodedString(item()->title.value_or("")) +
                                            "&attachment=" + URLEncodedString(*attachment)));
    }
    case Step::WallPost:
      if (!dictionary->objectForKey("response")) return fail("The service did not post to the wall");
      step_ = Step::None;
      sendDidFinish();
      return;
    case Step::None: return;
  }
}

void SXVkontakte::fail(const std::string& why, std::int64_t code) {
  step_ = Step::None;
  sendDidFailWithError(Error::make(why, code, Dictionary::make()));
}

ObjectPtr SXVkontakte::sendRequest(const std::string& url, bool withCaptcha, std::string* failure, bool* captchaShown) {
  *captchaShown = false;
  auto address = url;
  if (withCaptcha) {
    address += "&captcha_sid=" + URLEncodedString(captchaSid_) + "&captcha_key=" +
               URLEncodedString(defaults()->stringForKey("captcha_user").value_or(""));
  }
  auto parsed = URL::make(address);
  if (!parsed) {
    *failure = "The request could not be made";
    return nullptr;
  }
  auto request = net::URLRequest::requestWithURL(parsed, net::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData,
                                                 kCallTimeout);
  Ref<net::URLResponse> response;
  Ref<Error> error;
  auto data = SXRequest::sendSynchronousRequest(request, &response, &error);
  auto decoded = decodeReply(data, failure);
  if (!decoded) return nullptr;
  auto serviceError = dyn<Dictionary>(decoded)->objectForKeyAs<Dictionary>("error");
  if (!serviceError) return decoded;
  const auto message = serviceError->stringForKey("error_msg").value_or("The service refused the request");
  if (message == kCaptchaNeeded && ++captchaRounds_ <= kSXVkontakteMostCaptchaRounds) {
    *captchaShown = true;
    getCaptcha(serviceError, url);
    return nullptr;
  }
  *failure = message;
  return nullptr;
}

ObjectPtr SXVkontakte::sendPOSTRequest(const std::string& url, const Ref<Data>& jpeg, std::string* failure) {
  auto request = net::MutableURLRequest::requestWithURL(
      URL::make(url), net::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData, kCallTimeout);
  request->setHTTPMethod("POST");
  request->setValueForHTTPHeaderField("8bit", "Content-Transfer-Encoding");
  const auto boundary = "0xKhTmLbOuNdArY-" + crypto::makeUUIDString();
  request->setValueForHTTPHeaderField("multipart/form-data;  boundary=" + boundary, "Content-Type");
  std::string body = "--" + boundary + "\r\n";
  body += "Content-Disposition: form-data; name=\"photo\"; filename=\"photo.jpg\"\r\n";
  body += "Content-Type: image/jpg\r\n\r\n";
  body.append(jpeg->view());
  body += "\r\n--" + boundary + "--\r\n";
  request->setHTTPBody(Data::make(body));
  Ref<net::URLResponse> response;
  Ref<Error> error;
  auto data = SXRequest::sendSynchronousRequest(request, &response, &error);
  auto decoded = decodeReply(data, failure);
  if (decoded && dyn<Dictionary>(decoded)->objectForKey("error")) {
    *failure = "The service did not take the photo";
    return nullptr;
  }
  return decoded;
}

// --- captcha ---

void SXVkontakte::getCaptcha(const Ref<Dictionary>& error, const std::string& request) {
  isCaptcha_ = true;
  captchaSid_ = textOf(error->objectForKey("captcha_sid")).value_or("");
  captchaRequest_ = request;
  const auto imageAddress = error->stringForKey("captcha_img").value_or("");
  auto store = defaults();
  store->setObject(box(imageAddress), "captcha_img");
  store->setObject(box(captchaSid_), "captcha_sid");
  store->synchronize();

  captchaAlert_ = ui::AlertView::make("Введите код:\n\n\n\n\n", "\n",
                                      std::dynamic_pointer_cast<ui::AlertViewDelegate>(self()), "Cancel", {"OK"});
  Ref<graphics::Image> image;
  auto imageURL = URL::make(imageAddress);
  if (imageURL && (imageURL->scheme().value_or("") == "https" || imageURL->scheme().value_or("") == "http")) {
    auto data = net::URLConnection::sendSynchronousRequest(
        net::URLRequest::requestWithURL(imageURL, net::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData,
                                        kCallTimeout),
        nullptr, nullptr);
    if (data) image = graphics::Image::imageWithData(*data);
  }
  // The alert lays out its own content when it is shown; the image and the field go on top of it.
  captchaHold_ = selfAs<SXVkontakte>();
  captchaAlert_->show();
  auto imageView = ui::ImageView::make(ui::Rect(12, 45, 130, 50));
  imageView->setImage(image);
  captchaAlert_->addSubview(imageView);
  auto field = ui::TextField::make(ui::Rect(12, 110, 260, 25));
  field->setBackgroundColor(graphics::Color::whiteColor());
  field->setAutocorrectionType(ui::TextAutocorrectionType::No);
  field->setAutocapitalizationType(ui::TextAutocapitalizationType::None);
  field->setTag(kSXVkontakteCaptchaFieldTag);
  captchaAlert_->addSubview(field);
}

void SXVkontakte::alertViewClickedButtonAtIndex(ui::AlertView& alert, long buttonIndex) {
  if (!isCaptcha_) return;
  auto hold = captchaHold_ ? captchaHold_ : selfAs<SXVkontakte>();
  captchaHold_.reset();
  captchaAlert_.reset();
  isCaptcha_ = false;
  if (buttonIndex != 1) {
    fail(kCaptchaNeeded);
    return;
  }
  auto field = dyn<ui::TextField>(alert.viewWithTag(kSXVkontakteCaptchaFieldTag));
  auto store = defaults();
  store->setObject(box(field ? field->text() : std::string()), "captcha_user");
  store->synchronize();
  const auto step = step_;
  std::string failure;
  bool captcha = false;
  auto reply = sendRequest(captchaRequest_, true, &failure, &captcha);
  if (captcha) return;
  if (!reply) return fail(failure);
  advance(step, reply);
}

}  // namespace zv
