#pragma once
// The reading-list sharers whose services take the user's credentials as form
// fields: SXInstapaper and SXReadItLater (titled "Pocket") send the stored user
// name and password with every call; SXGoogleReader logs in once per sharer
// object through the account service's client login, keeps the reply's session
// values, asks for an edit token and posts the item with the session as cookies
// and an authorization header.
//
// Credentials and tokens go over https only; every value in a URL or body is
// percent-escaped; JSON bodies are written by the serializer. Client-login
// reply lines are split at their first
// "=", so values holding "=" stay whole.
//
// Threads: main thread; requests call back on the main run loop. Ownership: the
// running request keeps its sharer alive until it has finished.

#include <map>
#include <optional>
#include <string>

#include "sharing/core/SXRequest.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class SXInstapaper : public SXSharer {
 public:
  std::string sharerTitle() const override { return "Instapaper"; }
  bool canShareURL() const override { return true; }
  bool canShare() const override { return true; }
  std::optional<std::string> authorizationFormCaption() const override;

  void authorizationFormValidate(SXFormController& form) override;
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t) override { return {}; }
  bool send() override;
  void sendFinished(const Ref<SXRequest>& request);

  static void registerClass();
};

class SXReadItLater : public SXSharer {
 public:
  std::string sharerTitle() const override { return "Pocket"; }
  bool canShareURL() const override { return true; }
  std::optional<std::string> authorizationFormCaption() const override;

  void init() override;
  void authorizationFormValidate(SXFormController& form) override;
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type) override;
  bool send() override;
  void sendFinished(const Ref<SXRequest>& request);

  // The "new" (and, with tags, "update_tags") fields of an add call,
  // form-escaped.
  std::string itemFields() const;

  static void registerClass();
};

class SXGoogleReader : public SXSharer {
 public:
  std::string sharerTitle() const override { return "Google Reader"; }
  bool canShareURL() const override { return true; }
  std::optional<std::string> authorizationFormCaption() const override;
  std::vector<Ref<SXFormFieldSettings>> authorizationFormFields() const override;

  void authorizationFormValidate(SXFormController& form) override;
  // Logs in: from the login form (interactive), or from the stored login before a send (silent).
  void getSession(const std::optional<std::string>& email, const std::optional<std::string>& password,
                  SXLoginAttempt::Kind kind = SXLoginAttempt::Kind::Interactive);
  void authFinished(const Ref<SXRequest>& request);
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type) override;
  void signRequest(SXRequest& request) const;
  bool send() override;
  void tokenFinished(const Ref<SXRequest>& request);
  void sendWithToken(const std::string& token);
  void sendFinished(const Ref<SXRequest>& request);
  void shareFormSave(SXFormController& form) override;

  // The name=value pairs of the last client-login reply; nullopt before the
  // first login.
  const std::optional<std::map<std::string, std::string>>& session() const { return session_; }
  void setSession(std::optional<std::map<std::string, std::string>> session) { session_ = std::move(session); }

  // The name=value lines of a client-login reply (each split at its first "=").
  static std::map<std::string, std::string> parseSession(std::string_view reply);

  static void registerClass();

 private:
  std::optional<std::map<std::string, std::string>> session_;
};

}  // namespace zv
