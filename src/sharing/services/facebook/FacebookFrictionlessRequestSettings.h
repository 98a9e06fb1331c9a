#pragma once
// The users to whom application requests may go without showing the request dialog
// ("frictionless" requests): the list comes from the Graph API (reloaded after every login) and
// from the request dialog's success redirect; the client asks it whether a set of recipients is
// covered. Entries of the service's reply that are not ids are skipped.
//
// Threads: the list and the active request are guarded (readable from any thread); requests are
// started and answered on the main thread. Ownership: owns its list and the reload request.

#include <mutex>
#include <string>
#include <vector>

#include "sharing/services/facebook/FacebookRequest.h"

namespace zv {

class FacebookClient;

class FacebookFrictionlessRequestSettings : public Object, public FacebookRequestDelegate {
 public:
  FacebookFrictionlessRequestSettings() = default;

  // Once only: switches the feature on and reloads the list.
  void enableWithFacebook(FacebookClient& facebook);
  // Asks the Graph API for the list ("me/apprequestformerrecipients").
  void reloadRecipientCacheWithFacebook(FacebookClient& facebook);
  // Drops the reload under way (its late reply is not taken); the list becomes `recipients`
  // (strings), or empty.
  void updateRecipientCacheWithRecipients(const std::vector<std::string>* recipients);
  void updateRecipientCacheWithRecipients(const std::vector<std::string>& recipients) {
    updateRecipientCacheWithRecipients(&recipients);
  }
  // The id, trimmed of surrounding white space, is listed.
  bool isFrictionlessEnabledForRecipient(std::string_view fbid) const;
  // Every element (a String, or a Number compared by its decimal text) is listed; an empty
  // array answers YES. Any other element raises "NSInvalidArgumentException".
  bool isFrictionlessEnabledForRecipients(const Ref<Array>& fbids) const;

  bool enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
  }
  std::vector<std::string> allowedRecipients() const;
  Ref<FacebookRequest> activeRequest() const;

  void requestDidLoad(FacebookRequest& request, const ObjectPtr& result) override;
  void requestDidFailWithError(FacebookRequest& request, const Ref<Error>& error) override;
  bool respondsToSelector(std::string_view selector) const override {
    return selector == "requestDidLoad" || selector == "requestDidFailWithError";
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> allowedRecipients_;
  Ref<FacebookRequest> activeRequest_;
  bool enabled_ = false;
};

}  // namespace zv
