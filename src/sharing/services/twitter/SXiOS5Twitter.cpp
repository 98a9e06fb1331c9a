#include "sharing/services/twitter/SXiOS5Twitter.h"

#include <functional>
#include <utility>
#include <vector>

#include "platform/runloop/OperationQueue.h"
#include "platform/system/NotificationCenter.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXText.h"

namespace zv {

namespace {

constexpr std::size_t kSheetTextLimit = 140;

// The byte offsets at which `text` may be cut, each with the number of UTF-16 units before it,
// so a cut never splits a character (nor the two halves of a character outside the BMP).
std::vector<std::pair<std::size_t, std::size_t>> cutPoints(const std::string& text) {
  std::vector<std::pair<std::size_t, std::size_t>> points{{0, 0}};
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    i = std::min(text.size(), i + width);
    units += width == 4 ? 2 : 1;
    points.emplace_back(i, units);
  }
  return points;
}

// The platform sheet, told once when it has left the screen for good: taken down with the screen
// it was shown over (also while still sliding in), or dismissed after its report.
class TweetSheet : public ui::TweetComposeViewController {
 public:
  static Ref<TweetSheet> make() { return isAvailable() ? std::make_shared<TweetSheet>() : nullptr; }
  void setWhenGone(std::function<void()> whenGone) { whenGone_ = std::move(whenGone); }
  void viewDidLeave() override {
    ui::TweetComposeViewController::viewDidLeave();
    auto gone = std::exchange(whenGone_, nullptr);
    if (gone) gone();
  }

 private:
  std::function<void()> whenGone_;
};

}  // namespace

SXiOS5Twitter::~SXiOS5Twitter() {
  if (observer_) NotificationCenter::defaultCenter()->removeObserver(observer_);
}

void SXiOS5Twitter::share() {
  if (SX::currentHelper()->currentView()) {
    // Another sharer screen is still going away; present once it is gone.
    keepAlive_ = selfAs<SXiOS5Twitter>();
    std::weak_ptr<SXiOS5Twitter> weak = keepAlive_;
    observer_ = NotificationCenter::defaultCenter()->addObserverForName(
        kSXHideCurrentViewFinished, nullptr, [weak](const Ref<Notification>&) {
          if (auto me = weak.lock()) me->callUI();
        });
    return;
  }
  presentUI();
}

void SXiOS5Twitter::callUI() {
  auto hold = selfAs<SXiOS5Twitter>();
  if (observer_) NotificationCenter::defaultCenter()->removeObserver(observer_);
  observer_.reset();
  // The wait is over; while the sheet is up, presentUI holds the sharer again.
  keepAlive_.reset();
  presentUI();
}

void SXiOS5Twitter::presentUI() {
  if (item()->shareType == SXShareTypeUserInfo) return;
  auto sheet = TweetSheet::make();
  if (!sheet) {
    failToShow();
    return;
  }
  if (item()->image) sheet->addImage(item()->image);
  if (item()->url) sheet->addURL(item()->url);
  std::string text = (item()->shareType == SXShareTypeText ? item()->text : item()->title).value_or("");
  auto points = cutPoints(text);
  for (auto it = points.rbegin(); it != points.rend(); ++it) {
    if (it->second > kSheetTextLimit) continue;
    if (sheet->setInitialText(text.substr(0, it->first))) break;
  }
  // The sharer keeps itself until the sheet reports; the sheet's handler holds it only weakly,
  // so no cycle outlives the report.
  keepAlive_ = selfAs<SXiOS5Twitter>();
  std::weak_ptr<SXiOS5Twitter> weak = keepAlive_;
  // The sheet may report while it is still coming up; it leaves once it is up. This state
  // outlives the sharer, which lets go of itself when the sheet reports. The sheet's handler holds
  // it, and the presenter holds the sheet, so the sheet is held weakly here.
  // The share ends once: by the sheet's report, or as cancelled when the sheet left the screen
  // for good before it reported.
  struct SheetState {
    std::weak_ptr<ui::ViewController> sheet;
    bool presented = false;
    bool leaveWanted = false;
    bool ended = false;
  };
  auto state = std::make_shared<SheetState>();
  auto leave = [](const std::weak_ptr<ui::ViewController>& weakSheet) {
    auto sheet = weakSheet.lock();
    // Gone, or already going with the screen under it.
    if (!sheet || sheet->isBeingDismissed()) return;
    auto presenter = sheet->presentingViewController();
    if (!presenter) return;
    presenter->dismissViewControllerAnimated(true, [] {
      OperationQueue::mainQueue()->addOperationWithBlock(
          [] { NotificationCenter::defaultCenter()->postNotificationName(kSXHideCurrentViewFinished); });
    });
  };
  sheet->setCompletionHandler([weak, state, leave](ui::TweetComposeResult result) {
    auto self = weak.lock();
    if (!self || std::exchange(state->ended, true)) return;
    if (state->presented) {
      leave(state->sheet);
    } else {
      state->leaveWanted = true;
    }
    if (result == ui::TweetComposeResult::Done) {
      self->sendDidFinish();
    } else {
      self->sendDidCancel();
    }
    self->keepAlive_.reset();
  });
  sheet->setWhenGone([weak, state] {
    auto self = weak.lock();
    if (!self || std::exchange(state->ended, true)) return;
    self->sendDidCancel();
    self->keepAlive_.reset();
  });
  sheet_ = sheet;
  state->sheet = sheet;
  currentTopViewController_ = SX::currentHelper()->rootViewForCustomUIDisplay();
  if (currentTopViewController_) {
    currentTopViewController_->presentViewController(sheet, true, [state, leave] {
      state->presented = true;
      if (state->leaveWanted) leave(state->sheet);
    });
  }
  // No screen to show the sheet on, or one busy with another: the share ends here.
  if (!sheet->presentingViewController()) failToShow();
}

void SXiOS5Twitter::failToShow() {
  auto hold = selfAs<SXiOS5Twitter>();
  currentTopViewController_ = nullptr;
  sheet_ = nullptr;
  keepAlive_.reset();
  sendDidFailWithError(SX::error(SXLocalizedText("There was an error while sharing")));
}

}  // namespace zv
