#include "app/HistoryDetailViewController.h"

#include <cmath>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"

namespace zv {

void HistoryDetailViewController::setRecord(double averageScore, Ref<graphics::Image> picture,
                                            std::optional<std::string> pictureAddress) {
  averageScore_ = averageScore;
  picture_ = std::move(picture);
  pictureAddress_ = std::move(pictureAddress);
}

Ref<SXItem> HistoryDetailViewController::makeShareItem() const {
  const auto percent = static_cast<long>(std::lround(averageScore_ * 100));
  auto title = SXLocalizedText("My average coherence score: %ld%%", percent);
  return SXItem::makeURL(URL::make(SXConfigString("appURL").value_or("")), title, SXURLContentTypeWebpage);
}

Ref<SXSharer> HistoryDetailViewController::shareOnTwitter() {
  auto item = makeShareItem();
  item->image = picture_;
  return share("SXTwitter", item);
}

Ref<SXSharer> HistoryDetailViewController::shareOnFacebook() {
  auto item = makeShareItem();
  item->facebookURLSharePictureURI = pictureAddress_;
  item->setCustomValue(pictureAddress_, "picture");
  // A fresh login every time: the stored token is dropped first.
  if (const ClassInfo* info = classNamed("SXFacebook")) {
    if (auto flush = info->classMethod("flushAccessToken")) flush({});
  }
  return share("SXFacebook", item);
}

Ref<SXSharer> HistoryDetailViewController::share(const char* sharerClass, const Ref<SXItem>& item) {
  auto sharer = SXSharer::sharerNamed(sharerClass);
  if (!sharer) {
    log(LogLevel::Debug, std::string("HistoryDetailViewController: no sharer class ") + sharerClass);
    return nullptr;
  }
  SX::setRootViewController(selfAs<ui::ViewController>());
  return SXSharer::shareItem(sharer, item);
}

bool HistoryDetailViewController::aboutToShareItemWithSharer(const Ref<SXItem>&, const Ref<SXSharer>&) { return true; }

}  // namespace zv
