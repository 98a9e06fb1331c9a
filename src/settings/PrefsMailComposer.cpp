#include "settings/PrefsMailComposer.h"

#include <atomic>

namespace zv {

namespace {
std::atomic<bool> gCanSendMail{true};
}

bool PrefsMailComposer::canSendMail() { return gCanSendMail.load(); }

void PrefsMailComposer::setCanSendMail(bool can) { gCanSendMail.store(can); }

Ref<ui::NavigationBar> PrefsMailComposer::navigationBar() {
  if (!bar_) bar_ = ui::NavigationBar::make();
  return bar_;
}

void PrefsMailComposer::simulateFinish(MailComposeResult result, const Ref<Error>& error) {
  auto keep = selfAs<PrefsMailComposer>();
  if (auto delegate = delegate_.lock()) delegate->mailComposeControllerDidFinishWithResultError(*this, result, error);
}

}  // namespace zv
