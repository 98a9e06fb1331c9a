#pragma once
// The status bar's network-activity indicator, as a value the HTTP client sets while it moves data
// and the user interface's Application shows (its isNetworkActivityIndicatorVisible reads this).
// Keeping it here lets the client drive it without depending on the user interface.
//
// Threads: any thread; each read and write is atomic.

#include <atomic>

namespace zv {

class NetworkActivityIndicator {
 public:
  static NetworkActivityIndicator& shared();

  bool isVisible() const { return visible_.load(); }
  void setVisible(bool visible) { visible_.store(visible); }

 private:
  NetworkActivityIndicator() = default;
  std::atomic<bool> visible_{false};
};

}  // namespace zv
