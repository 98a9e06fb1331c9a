#pragma once
// Shares through the platform's tweet sheet: text (cut to what fits beside the link and the
// image), the item's image and link; the user's "done" or "cancel" becomes the sharer's outcome.
// It has no login of its own and shares the Twitter sharer's identity ("SXTwitter") for
// favourites and stored settings. A user-information request does nothing (the sheet has no
// such mode).
//
// A sheet that cannot be shown (no screen to show it on) ends the share with a failure; a sheet
// that left the screen for good before it reported (taken down with the screen it was shown over,
// also while still sliding in) ends it as cancelled, once.
//
// Threads: main thread only. Ownership: the sharer keeps itself alive while it waits for the hub
// to finish hiding another screen and while its sheet is on screen, until the sheet reports.

#include <string>

#include "platform/ui/Composers.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class SXiOS5Twitter : public SXSharer {
 public:
  ~SXiOS5Twitter() override;
  std::string sharerTitle() const override { return "Twitter"; }
  std::string sharerId() const override { return "SXTwitter"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }
  bool canShareImage() const override { return true; }
  bool requiresAuthentication() const override { return false; }

  void share() override;
  void callUI();
  void presentUI();

  const Ref<ui::ViewController>& currentTopViewController() const { return currentTopViewController_; }
  const Ref<ui::TweetComposeViewController>& sheet() const { return sheet_; }

 private:
  // The sheet cannot be shown: reports the failure and lets the sharer go.
  void failToShow();

  Ref<ui::ViewController> currentTopViewController_;
  Ref<ui::TweetComposeViewController> sheet_;
  ObjectPtr observer_;
  Ref<SXiOS5Twitter> keepAlive_;
};

}  // namespace zv
