#include "sharing/core/SXSharer.h"

#include <utility>

#include "platform/foundation/Log.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXFormOptionController.h"
#include "sharing/core/SXShareScreen.h"

namespace zv {

namespace {

void showCloseAlert(const std::string& title, const std::string& message) {
  ui::AlertView::make(title, message, {}, SXLocalizedText("Close"))->show();
}

}  // namespace

// --- default delegate ---

void SXDefaultSharerDelegate::sharerStartedSending(const Ref<SXSharer>& sharer) {
  if (!sharer->quiet()) {
    SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Saving to %@", sharer->sharerTitle()));
  }
}

void SXDefaultSharerDelegate::sharerFinishedSending(const Ref<SXSharer>& sharer) {
  if (!sharer->quiet()) SXActivityIndicator::currentIndicator()->displayCompleted(SXLocalizedText("Saved!"));
}

void SXDefaultSharerDelegate::sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>& sharer, const Ref<Error>&,
                                                                 bool shouldRelogin) {
  SXActivityIndicator::currentIndicator()->hide();
  const auto pending = sharer->pendingAction();
  if (!sharer->quiet() && pending != SXPendingActionShare && pending != SXPendingActionSend) {
    std::string message = sharer->lastError() ? sharer->lastError()->localizedDescription()
                                              : SXLocalizedText("There was an error while sharing");
    showCloseAlert(SXLocalizedText("Error"), message);
  }
  if (shouldRelogin) sharer->promptAuthorization();
}

void SXDefaultSharerDelegate::sharerShowBadCredentialsAlert(const Ref<SXSharer>& sharer) {
  showCloseAlert(SXLocalizedText("Login Error"),
                 SXLocalizedText("Sorry, %@ did not accept your credentials. Please try again.", sharer->sharerTitle()));
}

void SXDefaultSharerDelegate::sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>& sharer) {
  showCloseAlert(SXLocalizedText("Login Error"),
                 SXLocalizedText("Sorry, %@ encountered an error. Please try again.", sharer->sharerTitle()));
}

// --- making and entry points ---

SXSharer::SXSharer() = default;

void SXSharer::init() {
  shareDelegate_ = std::make_shared<SXDefaultSharerDelegate>();
  item_ = SXItem::make();
  setModalPresentationStyle(SX::modalPresentationStyle());
  setModalTransitionStyle(SX::modalTransitionStyle());
}

Ref<SXSharer> SXSharer::sharerNamed(std::string_view className) {
  const ClassInfo* info = classNamed(className);
  return info ? dyn<SXSharer>(info->create()) : nullptr;
}

Ref<SXSharer> SXSharer::shareItem(const Ref<SXSharer>& sharer, const Ref<SXItem>& item) {
  if (!sharer) return nullptr;
  sharer->loadItem(item);
  sharer->share();
  return sharer;
}

bool SXSharer::canShareType(std::int32_t type) const {
  switch (type) {
    case SXShareTypeURL: return canShareURL();
    case SXShareTypeText: return canShareText();
    case SXShareTypeImage: return canShareImage();
    case SXShareTypeFile: return canShareFile();
    case SXShareTypeUserInfo: return canGetUserInfo();
    default: return false;
  }
}

std::vector<Ref<SXFormFieldSettings>> SXSharer::authorizationFormFields() const {
  return {SXFormFieldSettings::make(SXLocalizedText("Username"), "username", SXFormFieldTypeTextNoCorrect, std::nullopt),
          SXFormFieldSettings::make(SXLocalizedText("Password"), "password", SXFormFieldTypePassword, std::nullopt)};
}

void SXSharer::logout() {
  for (const auto& field : authorizationFormFields()) {
    Ref<Error> error;
    if (!SX::removeAuthValueForKey(field->key, sharerId(), &error)) {
      log(LogLevel::Error, "SXSharer::logout: " + sharerId() + " keeps \"" + field->key + "\": " + describe(error));
    }
  }
}

bool SXSharer::shouldAutoShare() const {
  return UserDefaults::standardUserDefaults()->boolForKey(sharerId() + "_shouldAutoShare");
}

void SXSharer::setShouldAutoShare(bool shouldAutoShare) {
  UserDefaults::standardUserDefaults()->setBool(shouldAutoShare, sharerId() + "_shouldAutoShare");
}

void SXSharer::loadItem(const Ref<SXItem>& item) {
  SX::pushOnFavorites(sharerId(), item ? item->shareType : SXShareTypeUndefined);
  item_ = item;
}

// --- the share cycle ---

void SXSharer::share() {
  auto hold = selfAs<SXSharer>();
  outcomeReported_ = false;
  if (!authorize()) {
    setPendingAction(SXPendingActionShare);
    return;
  }
  if (SXConfigBool("allowAutoShare") && shouldAutoShare()) {
    bool ended = false;
    // Offline the attempt itself ends the share (kept for later or reported failed): no form.
    if (attemptSend(ended) || ended) return;
  }
  show();
}

bool SXSharer::isAuthorized() {
  if (!requiresAuthentication()) return true;
  for (const auto& field : authorizationFormFields()) {
    if (getAuthValueForKey(field->key)) return true;
  }
  return false;
}

bool SXSharer::authorize() {
  if (isAuthorized()) return true;
  promptAuthorization();
  return false;
}

void SXSharer::promptAuthorization() {
  if (shareRequiresInternetConnection() && !SX::connected()) {
    showAlert(SXLocalizedText("Offline"), SXLocalizedText("You must be online to login to %@", sharerTitle()));
    return;
  }
  authorizationFormShow();
}

std::optional<std::string> SXSharer::getAuthValueForKey(const std::string& key) const {
  return SX::getAuthValueForKey(key, sharerId());
}

Ref<SXFormController> SXSharer::makeForm(std::optional<std::string> title, std::string rightButtonTitle) {
  Ref<SXFormController> form;
  if (auto name = SXConfigString("SXFormControllerSubclass")) form = SXFormController::makeNamed(*name);
  if (!form) form = std::make_shared<SXFormController>();
  form->initWithStyle(ui::TableViewStyle::Grouped, std::move(title), std::move(rightButtonTitle));
  form->setDelegate(self());
  return form;
}

void SXSharer::showAlert(const std::string& title, const std::string& message) {
  if (!quiet()) showCloseAlert(title, message);
}

void SXSharer::authorizationFormShow() {
  auto form = makeForm(SXLocalizedText("Login"), SXLocalizedText("Login"));
  form->addSection(authorizationFormFields(), std::nullopt, authorizationFormCaption());
  std::weak_ptr<SXSharer> weak = selfAs<SXSharer>();
  form->setValidateSelector([weak](SXFormController& f) {
    if (auto me = weak.lock()) me->authorizationFormValidate(f);
  });
  form->setSaveSelector([weak](SXFormController& f) {
    if (auto me = weak.lock()) me->authorizationFormSave(f);
  });
  form->setCancelSelector([weak](SXFormController& f) {
    if (auto me = weak.lock()) me->authorizationFormCancel(f);
  });
  form->setAutoSelect(true);
  pushViewController(form, false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

void SXSharer::authorizationFormValidate(SXFormController&) {}

void SXSharer::authorizationFormSave(SXFormController& form) {
  auto hold = selfAs<SXSharer>();
  // The login counts only once every value is safely stored; the pending action waits for it.
  if (!form.sections().empty()) {
    for (const auto& row : form.sections()[0].rows) {
      if (!row->value) continue;
      Ref<Error> error;
      if (!SX::setAuthValue(row->value, row->key, sharerId(), &error)) {
        log(LogLevel::Debug, "SXSharer::authorizationFormSave: cannot store \"" + row->key + "\" of " + sharerId() +
                                 ": " + describe(error));
        setPendingAction(SXPendingActionNone);
        sendDidFailWithError(SX::error(SXLocalizedText("Could not save your login for %@", sharerTitle())));
        return;
      }
    }
  }
  tryPendingAction();
}

void SXSharer::authorizationFormCancel(SXFormController& form) {
  auto hold = selfAs<SXSharer>();
  endLoginAttempt();
  if (pendingForm_.get() == &form) {
    // The login being checked is abandoned: its answer finds no form and no request of this
    // sharer and is dropped, and nothing waits for it to run again.
    pendingForm_ = nullptr;
    request_ = nullptr;
    SXActivityIndicator::currentIndicator()->hide();
  }
  const bool resendAsked = pendingAction() == SXPendingActionSend;
  setPendingAction(SXPendingActionNone);
  if (resendAsked) {
    // The refused send reported its failure when it asked for this login: the share has ended.
    shareEnded();
    return;
  }
  sendDidCancel();
}

Ref<SXLoginAttempt> SXSharer::beginLoginAttempt(std::function<void(SXSharer&)> abandoned, SXLoginAttempt::Kind kind) {
  endLoginAttempt();
  std::weak_ptr<SXSharer> weak = selfAs<SXSharer>();
  loginAttempt_ = SXLoginAttempt::begin(
      sharerId(),
      [weak, abandoned = std::move(abandoned)] {
        auto me = weak.lock();
        if (me && abandoned) abandoned(*me);
      },
      kind);
  return loginAttempt_;
}

void SXSharer::endLoginAttempt() {
  if (loginAttempt_) loginAttempt_->end();
  loginAttempt_ = nullptr;
}

void SXSharer::screenTakenAway() {
  auto hold = selfAs<SXSharer>();
  const auto screens = viewControllers();
  for (auto it = screens.rbegin(); it != screens.rend(); ++it) {
    if (auto waited = std::dynamic_pointer_cast<SXShareScreen>(*it)) {
      waited->shareScreenTakenAway();
      return;
    }
  }
}

bool SXSharer::loginPageTakenAway() {
  if (!loginAttempt_ || !loginAttempt_->take()) return false;
  auto hold = selfAs<SXSharer>();
  const auto waiting = pendingAction();
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
  if (waiting == SXPendingActionShare) {
    sendDidCancel();
  } else if (waiting == SXPendingActionSend) {
    shareEnded();
  }
  return true;
}

void SXSharer::show() {
  auto fields = shareFormFieldsForType(item_ ? item_->shareType : SXShareTypeUndefined);
  if (fields.empty()) {
    tryToSend();
    return;
  }
  auto form = makeForm(std::nullopt, SXLocalizedText("Send to %@", sharerTitle()));
  std::optional<std::string> footer;
  if (item_ && item_->url) footer = item_->url->absoluteString();
  form->addSection(std::move(fields), std::nullopt, footer);
  if (SXConfigBool("allowAutoShare") && canAutoShare()) {
    form->addSection({SXFormFieldSettings::make(SXLocalizedText("Auto Share"), "autoShare", SXFormFieldTypeSwitch,
                                                shouldAutoShare() ? "1" : "0")},
                     std::nullopt, SXLocalizedText("Enable auto share to skip this step in the future."));
  }
  std::weak_ptr<SXSharer> weak = selfAs<SXSharer>();
  form->setValidateSelector([weak](SXFormController& f) {
    if (auto me = weak.lock()) me->shareFormValidate(f);
  });
  form->setSaveSelector([weak](SXFormController& f) {
    if (auto me = weak.lock()) me->shareFormSave(f);
  });
  form->setCancelSelector([weak](SXFormController& f) {
    if (auto me = weak.lock()) me->shareFormCancel(f);
  });
  form->setAutoSelect(false);
  pushViewController(form, false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

std::vector<Ref<SXFormFieldSettings>> SXSharer::shareFormFieldsForType(std::int32_t type) {
  if (type != SXShareTypeURL) return {};
  return {SXFormFieldSettings::make(SXLocalizedText("Title"), "title", SXFormFieldTypeText, item_->title)};
}

void SXSharer::shareFormValidate(SXFormController& form) { form.saveForm(); }

void SXSharer::shareFormSave(SXFormController& form) {
  auto hold = selfAs<SXSharer>();
  updateItemWithForm(form);
  if (SXConfigBool("allowAutoShare") && canAutoShare()) {
    if (auto value = form.formValuesForSection(1)->stringForKey("autoShare")) setShouldAutoShare(*value == "1");
  }
  tryToSend();
}

void SXSharer::shareFormCancel(SXFormController&) { sendDidCancel(); }

void SXSharer::updateItemWithForm(SXFormController& form) {
  form.formValues()->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    auto name = stringValueOf(key).value_or("");
    auto text = stringValueOf(value);
    if (name == "title") {
      item_->title = text;
    } else if (name == "text") {
      item_->text = text;
    } else if (name == "tags") {
      item_->tags = text;
    } else {
      item_->setCustomValue(text, name);
    }
    return true;
  });
}

bool SXSharer::validateItem() {
  if (!item_) return false;
  switch (item_->shareType) {
    case SXShareTypeURL: return item_->url != nullptr;
    case SXShareTypeText: return item_->text.has_value();
    case SXShareTypeImage: return item_->image != nullptr;
    case SXShareTypeFile: return item_->data != nullptr;
    case SXShareTypeUserInfo: return canGetUserInfo();
    default: return false;
  }
}

bool SXSharer::tryToSend() {
  bool ended = false;
  return attemptSend(ended);
}

bool SXSharer::attemptSend(bool& ended) {
  auto hold = selfAs<SXSharer>();
  outcomeReported_ = false;
  if (!shareRequiresInternetConnection() || SX::connected()) {
    return send();
  }
  // Offline: every road ends in an outcome the user (or the delegate) learns of.
  ended = true;
  if (SXConfigBool("allowOffline") && canShareOffline()) {
    if (SX::addToOfflineQueue(item_, sharerId())) {
      showAlert(SXLocalizedText("Offline"),
                SXLocalizedText("You are offline. The share to %@ is kept and will be sent when you are online.",
                                sharerTitle()));
      return true;
    }
    sendDidFailWithError(SX::error(SXLocalizedText("Could not keep the share to %@ for later", sharerTitle())));
    return false;
  }
  sendDidFailWithError(SX::error(SXLocalizedText("You must be online in order to share with %@", sharerTitle())));
  return false;
}

void SXSharer::tryPendingAction() {
  auto hold = selfAs<SXSharer>();
  switch (pendingAction()) {
    case SXPendingActionShare:
      setPendingAction(SXPendingActionNone);
      share();
      break;
    case SXPendingActionRefreshToken:
    case SXPendingActionSend:
      setPendingAction(SXPendingActionNone);
      tryToSend();
      break;
    default: break;
  }
}

// --- reporting ---

void SXSharer::report(const char* notification, const Ref<Dictionary>& userInfo) {
  NotificationCenter::defaultCenter()->postNotificationName(notification, self(), userInfo);
}

void SXSharer::sendDidStart() {
  auto hold = selfAs<SXSharer>();
  outcomeReported_ = false;
  report(kSXSendDidStartNotification, nullptr);
  if (auto delegate = shareDelegate_) delegate->sharerStartedSending(hold);
}

void SXSharer::sendDidFinish() {
  auto hold = selfAs<SXSharer>();
  outcomeReported_ = true;
  report(kSXSendDidFinish, nullptr);
  if (auto delegate = shareDelegate_) delegate->sharerFinishedSending(hold);
}

void SXSharer::shouldReloginWithPendingAction(std::int32_t action) {
  auto hold = selfAs<SXSharer>();
  if (action == SXPendingActionShare) {
    if (auto picker = curOptionController()) {
      if (topViewController() == picker) popViewControllerAnimated(false);
      curOptionController_.reset();
      if (auto form = dyn<SXFormController>(topViewController())) updateItemWithForm(*form);
    }
  }
  setPendingAction(action);
  sendDidFailWithErrorShouldRelogin(SX::error(SXLocalizedText("Could not authenticate you. Please relogin.")), true);
}

void SXSharer::reloginOnceOrFail(const Ref<Error>& error) {
  if (!reloginAsked_) {
    reloginAsked_ = true;
    shouldReloginWithPendingAction(SXPendingActionSend);
    return;
  }
  reloginAsked_ = false;
  setPendingAction(SXPendingActionNone);
  sendDidFailWithError(error);
}

void SXSharer::sendDidFailWithErrorShouldRelogin(const Ref<Error>& error, bool shouldRelogin) {
  auto hold = selfAs<SXSharer>();
  outcomeReported_ = true;
  lastError_ = error;
  report(kSXSendDidFailWithError, nullptr);
  if (auto delegate = shareDelegate_) delegate->sharerFailedWithErrorShouldRelogin(hold, error, shouldRelogin);
}

void SXSharer::sendDidCancel() {
  // A share that had its outcome is not cancelled after it: the screen taken away after its share
  // failed, the login cancelled after the refused share that asked for it.
  if (std::exchange(outcomeReported_, true)) {
    log(LogLevel::Debug, sharerId() + ": the share had its outcome; a later cancel is dropped");
    return;
  }
  auto hold = selfAs<SXSharer>();
  report(kSXSendDidCancel, nullptr);
  if (auto delegate = shareDelegate_) delegate->sharerCancelledSending(hold);
}

void SXSharer::authDidFinish(bool success) {
  auto hold = selfAs<SXSharer>();
  report(kSXAuthDidFinish, Dictionary::make({{"success", box(success)}}));
  auto delegate = shareDelegate_;
  if (delegate && delegate->respondsToSelector("sharerAuthDidFinishSuccess")) {
    delegate->sharerAuthDidFinishSuccess(hold, success);
  }
}

void SXSharer::authShowBadCredentialsAlert() {
  if (auto delegate = shareDelegate_) delegate->sharerShowBadCredentialsAlert(selfAs<SXSharer>());
}

void SXSharer::authShowOtherAuthorizationErrorAlert() {
  if (auto delegate = shareDelegate_) delegate->sharerShowOtherAuthorizationErrorAlert(selfAs<SXSharer>());
}

void SXSharer::sendShowSimpleErrorAlert() {
  sendDidFailWithError(SX::error(SXLocalizedText("There was a problem saving to %@", sharerTitle())));
}

void SXSharer::viewDidDisappear(bool animated) {
  NavigationController::viewDidDisappear(animated);
  SX::currentHelper()->viewWasDismissed();
}

}  // namespace zv
