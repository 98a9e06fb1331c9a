#pragma once
// The base of every sharer: the object that takes one SXItem to one destination. A sharer is a
// navigation controller: its login form and share form are pushed onto it and the hub (SX)
// presents it. The base fixes the order of a share (authorize, optionally a form, check
// connectivity, queue offline or send) and how the outcome is reported: first a notification on
// the default centre with the sharer as object, then the share delegate.
//
// A concrete sharer overrides the capability queries (the "class operations": asked of an
// instance, as C++ has no virtual statics; classNamed(name)->create() gives one for a name) and
// send(). send() validates, starts the work, calls sendDidStart() and later exactly one of
// sendDidFinish(), sendDidFailWithError...() / shouldReloginWithPendingAction(), sendDidCancel().
//
// A share ends once: after its outcome (finish, failure or cancel) a cancel (a screen taken away
// after its share failed, a login cancelled after the refused share that asked for it) is dropped
// with a log line, until the sharer starts again: share(), tryToSend() or sendDidStart() (a send,
// also the resend after a new login).
//
// Making one: SXSharer::make<T>() (or the registry's factory, which registerSharerClass<T>()
// installs) runs init(), which needs the installed SXConfiguration.
//
// Ownership: the sharer owns its item, share delegate, pending form and request. It lives while
// the hub presents it, or while the work it started holds it (a URL connection or request
// retains its delegate until it ends, a composer its sharer); a caller that drops it otherwise
// ends it. The option picker waiting for it is not retained.
//
// Threads: main thread only, except that an offline replay makes and drives a sharer through
// work it performs on the main thread. quiet and pendingAction are atomic.

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SXFormController.h"
#include "sharing/core/SXFormFieldSettings.h"
#include "sharing/core/SXItem.h"
#include "sharing/core/SXLoginAttempt.h"

namespace zv {

class SXSharer;
class SXFormOptionController;

enum SXPendingAction : std::int32_t {
  SXPendingActionNone = 0,
  SXPendingActionShare = 1,         // run share() again
  SXPendingActionRefreshToken = 2,  // set by an OAuth sharer's refreshToken
  SXPendingActionSend = 3,          // a send failed and asked for a new login
};

// Notifications (object: the sharer).
inline constexpr const char* kSXSendDidStartNotification = "SXSendDidStartNotification";
inline constexpr const char* kSXSendDidFinish = "SXSendDidFinish";
inline constexpr const char* kSXSendDidFailWithError = "SXSendDidFailWithError";
inline constexpr const char* kSXSendDidCancel = "SXSendDidCancel";
inline constexpr const char* kSXAuthDidFinish = "SXAuthDidFinish";  // userInfo {"success": boolean}

// The receiver of a sharer's send cycle. Every call is asked with respondsToSelector before it is
// made; sharerAuthDidFinishSuccess is optional.
class SXSharerDelegate : public Protocol {
 public:
  virtual void sharerStartedSending(const Ref<SXSharer>& sharer) = 0;
  virtual void sharerFinishedSending(const Ref<SXSharer>& sharer) = 0;
  virtual void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>& sharer, const Ref<Error>& error,
                                                  bool shouldRelogin) = 0;
  virtual void sharerCancelledSending(const Ref<SXSharer>& sharer) = 0;
  virtual void sharerShowBadCredentialsAlert(const Ref<SXSharer>& sharer) = 0;
  virtual void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>& sharer) = 0;
  virtual void sharerAuthDidFinishSuccess(const Ref<SXSharer>& sharer, bool success) {
    (void)sharer, (void)success;
  }
  bool respondsToSelector(std::string_view selector) const override {
    return selector != "sharerAuthDidFinishSuccess" || Protocol::respondsToSelector(selector);
  }
};

// Asked by the action sheet and the share menu before they start a chosen sharer.
class SXShareItemDelegate : public Protocol {
 public:
  virtual bool aboutToShareItemWithSharer(const Ref<SXItem>& item, const Ref<SXSharer>& sharer) = 0;
};

// The default share delegate (the class the platform named "SXSharerDelegate"): the outcome as a
// heads-up display and alerts, none of them while the sharer is quiet.
class SXDefaultSharerDelegate : public Object, public SXSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>& sharer) override;
  void sharerFinishedSending(const Ref<SXSharer>& sharer) override;
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>& sharer, const Ref<Error>& error,
                                          bool shouldRelogin) override;
  void sharerCancelledSending(const Ref<SXSharer>&) override {}
  void sharerShowBadCredentialsAlert(const Ref<SXSharer>& sharer) override;
  void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>& sharer) override;
  bool respondsToSelector(std::string_view selector) const override {
    return SXSharerDelegate::respondsToSelector(selector);
  }
};

class SXSharer : public ui::NavigationController {
 public:
  SXSharer();

  // A new sharer of class T, initialised.
  template <class T>
  static Ref<T> make() {
    auto sharer = std::make_shared<T>();
    sharer->init();
    return sharer;
  }
  // Registers T (default-constructible) under its class name with a factory that initialises it.
  template <class T>
  static ClassInfo& registerSharerClass(const std::string& superclassName = "SXSharer") {
    ClassInfo& info = ClassRegistry::shared().registerClass(demangledClassName(typeid(T)), superclassName);
    info.setFactory([] { return ObjectPtr(make<T>()); });
    return info;
  }
  // A new sharer of the class registered under `className`; nullptr when there is none.
  static Ref<SXSharer> sharerNamed(std::string_view className);

  // Entry points ("class operations"). Each returns the sharer, which lives on while shown or
  // sending. shareItem and loadItem push the sharer onto the item type's favourites; the typed
  // entries do not.
  static Ref<SXSharer> shareItem(const Ref<SXSharer>& sharer, const Ref<SXItem>& item);
  template <class T>
  static Ref<T> shareItem(const Ref<SXItem>& item) {
    auto sharer = make<T>();
    shareItem(sharer, item);
    return sharer;
  }
  template <class T>
  static Ref<T> shareURL(const Ref<URL>& url, std::optional<std::string> title = std::nullopt) {
    auto sharer = make<T>();
    sharer->item()->shareType = SXShareTypeURL;
    sharer->item()->url = url;
    sharer->item()->title = std::move(title);
    sharer->share();
    return sharer;
  }
  template <class T>
  static Ref<T> shareImage(const Ref<graphics::Image>& image, std::optional<std::string> title = std::nullopt) {
    auto sharer = make<T>();
    sharer->item()->shareType = SXShareTypeImage;
    sharer->item()->image = image;
    sharer->item()->title = std::move(title);
    sharer->share();
    return sharer;
  }
  template <class T>
  static Ref<T> shareText(std::string text) {
    auto sharer = make<T>();
    sharer->item()->shareType = SXShareTypeText;
    sharer->item()->text = std::move(text);
    sharer->share();
    return sharer;
  }
  template <class T>
  static Ref<T> shareFile(const Ref<Data>& data, std::optional<std::string> filename,
                          std::optional<std::string> mimeType, std::optional<std::string> title) {
    auto sharer = make<T>();
    auto item = sharer->item();
    item->shareType = SXShareTypeFile;
    item->data = data;
    item->filename = std::move(filename);
    item->mimeType = std::move(mimeType);
    item->title = std::move(title);
    sharer->share();
    return sharer;
  }
  template <class T>
  static Ref<T> getUserInfo() {
    auto sharer = make<T>();
    sharer->item()->shareType = SXShareTypeUserInfo;
    sharer->share();
    return sharer;
  }
  template <class T>
  static bool isServiceAuthorized() {
    return make<T>()->isAuthorized();
  }

  // Capabilities ("class operations"), with the base answers.
  virtual std::string sharerTitle() const { return ""; }
  virtual std::string sharerId() const { return className(); }
  virtual bool canShareText() const { return false; }
  virtual bool canShareURL() const { return false; }
  virtual bool canShareImage() const { return false; }
  virtual bool canShareFile() const { return false; }
  virtual bool canGetUserInfo() const { return false; }
  virtual bool shareRequiresInternetConnection() const { return true; }
  virtual bool canShareOffline() const { return true; }
  virtual bool requiresAuthentication() const { return true; }
  bool canShareType(std::int32_t type) const;
  virtual bool canAutoShare() const { return true; }
  virtual bool canShare() const { return true; }
  // Login form rows: "Username"/"username" (no correction) and "Password"/"password".
  virtual std::vector<Ref<SXFormFieldSettings>> authorizationFormFields() const;
  virtual std::optional<std::string> authorizationFormCaption() const { return std::nullopt; }
  // Removes the stored value of every login field of this sharer.
  virtual void logout();

  // Set-up after construction: default delegate, empty item, presentation styles.
  virtual void init();

  // The user's stored choice; a sharer that always (or never) shares without a form overrides it.
  virtual bool shouldAutoShare() const;
  void setShouldAutoShare(bool shouldAutoShare);
  void loadItem(const Ref<SXItem>& item);

  // The share cycle.
  virtual void share();
  virtual bool isAuthorized();
  virtual bool authorize();
  virtual void promptAuthorization();
  std::optional<std::string> getAuthValueForKey(const std::string& key) const;
  virtual void authorizationFormShow();
  // The base accepts nothing by itself: a subclass checks the values and calls form.saveForm().
  virtual void authorizationFormValidate(SXFormController& form);
  virtual void authorizationFormSave(SXFormController& form);
  // Cancel wins over a login check under way: the sharer's login attempt ends, the pending form,
  // the request and the pending action are let go, then the cancel is reported. Cancelling the
  // new login a refused send asked for ends that share, whose failure was reported already: the
  // resend is dropped and nothing more is reported.
  virtual void authorizationFormCancel(SXFormController& form);
  virtual void show();
  virtual std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type);
  virtual void shareFormValidate(SXFormController& form);
  virtual void shareFormSave(SXFormController& form);
  virtual void shareFormCancel(SXFormController& form);
  virtual void updateItemWithForm(SXFormController& form);
  virtual bool validateItem();
  virtual bool tryToSend();
  virtual bool send() { return false; }
  void tryPendingAction();

  // Starts this sharer's login attempt for its service (SXLoginAttempt::begin with sharerId()); an
  // earlier attempt of this sharer ends first without its handler. `abandoned` runs (with the
  // sharer, while it lives) when a logout or (interactive attempts only) a newer interactive login
  // of the service ends the attempt. A login the sharer makes by itself from stored credentials is
  // Silent: it neither ends nor is ended by another share's login.
  Ref<SXLoginAttempt> beginLoginAttempt(std::function<void(SXSharer&)> abandoned,
                                        SXLoginAttempt::Kind kind = SXLoginAttempt::Kind::Interactive);
  // Ends this sharer's attempt, if it is still current, without running its handler.
  void endLoginAttempt();

  // The hub let the sharer's own screen go unfinished (another screen came): the topmost screen
  // of its stack that the share waits on (SXShareScreen: a form, an editor) ends the share once,
  // as its Cancel would; a screen the user had finished with reports nothing more.
  virtual void screenTakenAway();
  // A login page of this sharer went before it answered (the hub took it away): while the
  // sharer's attempt is current, it ends, the login is reported not made and the share waiting
  // for it is cancelled (a resend that a refused send asked for reported its failure already).
  // false when no login waited on the page any more.
  bool loginPageTakenAway();
  const Ref<SXLoginAttempt>& loginAttempt() const { return loginAttempt_; }

  // Reporting, called by subclasses while sending.
  void sendDidStart();
  void sendDidFinish();
  void shouldReloginWithPendingAction(std::int32_t action);
  void sendDidFailWithError(const Ref<Error>& error) { sendDidFailWithErrorShouldRelogin(error, false); }
  void sendDidFailWithErrorShouldRelogin(const Ref<Error>& error, bool shouldRelogin);
  virtual void sendDidCancel();
  void authDidFinish(bool success);
  void authShowBadCredentialsAlert();
  void authShowOtherAuthorizationErrorAlert();
  void sendShowSimpleErrorAlert();

  // Fields.
  const std::shared_ptr<SXSharerDelegate>& shareDelegate() const { return shareDelegate_; }
  void setShareDelegate(std::shared_ptr<SXSharerDelegate> delegate) { shareDelegate_ = std::move(delegate); }
  const Ref<SXItem>& item() const { return item_; }
  void setItem(Ref<SXItem> item) { item_ = std::move(item); }
  const Ref<SXFormController>& pendingForm() const { return pendingForm_; }
  void setPendingForm(Ref<SXFormController> form) { pendingForm_ = std::move(form); }
  Ref<SXFormOptionController> curOptionController() const { return curOptionController_.lock(); }
  void setCurOptionController(const Ref<SXFormOptionController>& picker) { curOptionController_ = picker; }
  // The sharer's current web request (an SXRequest).
  const ObjectPtr& request() const { return request_; }
  void setRequest(ObjectPtr request) { request_ = std::move(request); }
  const Ref<Error>& lastError() const { return lastError_; }
  void setLastError(Ref<Error> error) { lastError_ = std::move(error); }
  bool quiet() const { return quiet_.load(); }
  void setQuiet(bool quiet) { quiet_.store(quiet); }
  std::int32_t pendingAction() const { return pendingAction_.load(); }
  void setPendingAction(std::int32_t action) { pendingAction_.store(action); }

  // Screen.
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }
  void viewDidDisappear(bool animated) override;

 protected:
  // A new form of the configured form class (SXFormController when none is configured).
  Ref<SXFormController> makeForm(std::optional<std::string> title, std::string rightButtonTitle);
  // Shows a one-button alert unless quiet.
  void showAlert(const std::string& title, const std::string& message);
  // The service refused the login while sending: one new login is asked for (the send runs again
  // after it); a refusal after that login, in the same share, ends the send with `error`, so a
  // service that refuses every login cannot loop. shareEnded() lets the next share ask again.
  void reloginOnceOrFail(const Ref<Error>& error);
  void shareEnded() { reloginAsked_ = false; }

 private:
  void report(const char* notification, const Ref<Dictionary>& userInfo);
  // tryToSend, telling through `ended` whether the attempt itself ended the share offline (kept
  // for later, or reported failed) so that no form may follow.
  bool attemptSend(bool& ended);

  std::shared_ptr<SXSharerDelegate> shareDelegate_;
  Ref<SXItem> item_;
  Ref<SXFormController> pendingForm_;
  std::weak_ptr<SXFormOptionController> curOptionController_;
  ObjectPtr request_;
  Ref<Error> lastError_;
  std::atomic<bool> quiet_{false};
  std::atomic<std::int32_t> pendingAction_{SXPendingActionNone};
  bool reloginAsked_ = false;
  bool outcomeReported_ = false;
  Ref<SXLoginAttempt> loginAttempt_;
};

}  // namespace zv
