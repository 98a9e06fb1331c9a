#include "sharing/services/facebook/FacebookFrictionlessRequestSettings.h"

#include <algorithm>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "sharing/services/facebook/FacebookClient.h"

namespace zv {

namespace {

std::string_view trimmed(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

void FacebookFrictionlessRequestSettings::enableWithFacebook(FacebookClient& facebook) {
  {
    std::lock_guard lock(mutex_);
    if (enabled_) return;
    enabled_ = true;
  }
  reloadRecipientCacheWithFacebook(facebook);
}

void FacebookFrictionlessRequestSettings::reloadRecipientCacheWithFacebook(FacebookClient& facebook) {
  auto request = facebook.requestWithGraphPath("me/apprequestformerrecipients",
                                               std::dynamic_pointer_cast<FacebookRequestDelegate>(self()));
  std::lock_guard lock(mutex_);
  activeRequest_ = request;
}

void FacebookFrictionlessRequestSettings::updateRecipientCacheWithRecipients(const std::vector<std::string>* recipients) {
  std::lock_guard lock(mutex_);
  activeRequest_ = nullptr;
  allowedRecipients_ = recipients ? *recipients : std::vector<std::string>{};
}

bool FacebookFrictionlessRequestSettings::isFrictionlessEnabledForRecipient(std::string_view fbid) const {
  const auto id = trimmed(fbid);
  std::lock_guard lock(mutex_);
  return std::find(allowedRecipients_.begin(), allowedRecipients_.end(), id) != allowedRecipients_.end();
}

bool FacebookFrictionlessRequestSettings::isFrictionlessEnabledForRecipients(const Ref<Array>& fbids) const {
  if (!fbids) return true;
  for (const auto& element : *fbids) {
    if (auto text = dyn<String>(element)) {
      if (!isFrictionlessEnabledForRecipient(text->utf8())) return false;
    } else if (auto number = dyn<Number>(element)) {
      if (!isFrictionlessEnabledForRecipient(number->stringValue())) return false;
    } else {
      throw Exception("NSInvalidArgumentException", "items in fbids must be NSString or NSNumber",
                      Dictionary::make({{"invalid class", box(element ? element->className() : "nil")}}));
    }
  }
  return true;
}

std::vector<std::string> FacebookFrictionlessRequestSettings::allowedRecipients() const {
  std::lock_guard lock(mutex_);
  return allowedRecipients_;
}

Ref<FacebookRequest> FacebookFrictionlessRequestSettings::activeRequest() const {
  std::lock_guard lock(mutex_);
  return activeRequest_;
}

void FacebookFrictionlessRequestSettings::requestDidLoad(FacebookRequest& request, const ObjectPtr& result) {
  {
    // A reply to a reload dropped since (a logout emptied the list) belongs to nobody now.
    std::lock_guard lock(mutex_);
    if (activeRequest_.get() != &request) return;
  }
  auto dictionary = dyn<Dictionary>(result);
  auto data = dictionary ? dictionary->objectForKeyAs<Array>("data") : nullptr;
  if (!data) {
    // Not the shape asked for: keep what is known.
    logDebug("FacebookFrictionlessRequestSettings: the recipients reply has no \"data\" list");
    std::lock_guard lock(mutex_);
    activeRequest_ = nullptr;
    return;
  }
  std::vector<std::string> recipients;
  for (const auto& entry : *data) {
    auto fields = dyn<Dictionary>(entry);
    auto id = fields ? fields->objectForKey("recipient_id") : nullptr;
    if (auto text = dyn<String>(id)) {
      recipients.push_back(text->utf8());
    } else if (auto number = dyn<Number>(id)) {
      recipients.push_back(number->stringValue());
    }
    // Anything else in the reply is not an id: skipped.
  }
  updateRecipientCacheWithRecipients(recipients);
}

void FacebookFrictionlessRequestSettings::requestDidFailWithError(FacebookRequest& request, const Ref<Error>&) {
  std::lock_guard lock(mutex_);
  if (activeRequest_.get() == &request) activeRequest_ = nullptr;
}

}  // namespace zv
