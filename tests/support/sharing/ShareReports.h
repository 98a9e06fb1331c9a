#pragma once
// Records the send cycle's notifications of every sharer, in order, as the tests compare them:
// the notification name, "<auth name> YES/NO" for the end of a login, and for a failure the name
// followed by the failing error's domain when `withErrorDomain` is set.

#include <algorithm>
#include <string>
#include <vector>

#include "platform/system/NotificationCenter.h"
#include "sharing/core/SXSharer.h"

namespace zv::testing {

class ShareReports {
 public:
  explicit ShareReports(bool withErrorDomain = false) {
    for (const char* name :
         {kSXSendDidStartNotification, kSXSendDidFinish, kSXSendDidFailWithError, kSXSendDidCancel, kSXAuthDidFinish}) {
      tokens_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [this, withErrorDomain](const Ref<Notification>& n) {
            std::string entry = n->name();
            if (entry == kSXAuthDidFinish) entry += boolValueOf(n->userInfo()->objectForKey("success")) ? " YES" : " NO";
            if (entry == kSXSendDidFailWithError && withErrorDomain) {
              auto sharer = dyn<SXSharer>(n->object());
              if (sharer && sharer->lastError()) entry += " " + sharer->lastError()->domain();
            }
            entries.push_back(entry);
          }));
    }
  }
  ~ShareReports() {
    for (const auto& token : tokens_) NotificationCenter::defaultCenter()->removeObserver(token);
  }
  ShareReports(const ShareReports&) = delete;
  ShareReports& operator=(const ShareReports&) = delete;

  std::vector<std::string> entries;

 private:
  std::vector<ObjectPtr> tokens_;
};

}  // namespace zv::testing
