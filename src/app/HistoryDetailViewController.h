#pragma once
// The history detail screen as far as sharing goes: it shares the shown record's result through
// the Twitter or the Facebook sharer, passing itself to the hub as the root to present from right
// before it starts the sharer, and it answers the share menus as their share-item delegate.
//
// The sharers are made by class name ("SXTwitter", "SXFacebook"); while no such class is
// registered, sharing answers nullptr and logs.
//
// Threads: main thread. Ownership: the hub does not retain the screen; the screen does not retain
// the sharers it starts (they live while shown or sending).

#include <optional>
#include <string>

#include "platform/graphics/Image.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class HistoryDetailViewController : public ui::ViewController, public SXShareItemDelegate {
 public:
  // The record shown: its average coherence score (0 to 1), the result picture (posted to
  // Twitter) and the address of the picture for Facebook posts.
  void setRecord(double averageScore, Ref<graphics::Image> picture, std::optional<std::string> pictureAddress);

  // The item shared for the record: the application's address as a web-page link titled with the
  // average score.
  Ref<SXItem> makeShareItem() const;
  Ref<SXSharer> shareOnTwitter();
  Ref<SXSharer> shareOnFacebook();

  // Always YES, with no other effect.
  bool aboutToShareItemWithSharer(const Ref<SXItem>& item, const Ref<SXSharer>& sharer) override;
  bool respondsToSelector(std::string_view selector) const override { return ViewController::respondsToSelector(selector); }

 private:
  Ref<SXSharer> share(const char* sharerClass, const Ref<SXItem>& item);

  double averageScore_ = 0;
  Ref<graphics::Image> picture_;
  std::optional<std::string> pictureAddress_;
};

}  // namespace zv
