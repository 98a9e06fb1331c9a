#include "http/HTTPAuthenticationPresenter.h"

#include <mutex>

namespace zv {

namespace {
struct PresenterSlot {
  std::mutex lock;
  std::shared_ptr<HTTPAuthenticationPresenter> presenter;
};
PresenterSlot& slot() {
  static PresenterSlot* state = new PresenterSlot();  // lives as long as the process
  return *state;
}
}  // namespace

std::shared_ptr<HTTPAuthenticationPresenter> HTTPAuthenticationPresenter::shared() {
  std::lock_guard<std::mutex> guard(slot().lock);
  return slot().presenter;
}

void HTTPAuthenticationPresenter::setShared(std::shared_ptr<HTTPAuthenticationPresenter> presenter) {
  std::lock_guard<std::mutex> guard(slot().lock);
  slot().presenter = std::move(presenter);
}

}  // namespace zv
