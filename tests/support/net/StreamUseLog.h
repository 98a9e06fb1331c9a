#pragma once
// Which threads use HTTP read streams, by the URL each stream asked for: a log of the network
// layer's stream-use seam, kept while a StreamUseLog exists (one at a time).

#include <string>
#include <thread>
#include <vector>

namespace zv::testing {

class StreamUseLog {
 public:
  struct Use {
    std::string what;  // "client", "schedule", "unschedule", "open", "read" or "close"
    std::thread::id thread;
  };

  // Starts an empty log.
  StreamUseLog();
  // Stops logging.
  ~StreamUseLog();
  StreamUseLog(const StreamUseLog&) = delete;
  StreamUseLog& operator=(const StreamUseLog&) = delete;

  // In the order they happened.
  std::vector<Use> usesOf(const std::string& url) const;
  int count(const std::string& url, const std::string& what) const;
  // The uses of `url` that ran on a thread other than `thread` ("unschedule", "close" ...).
  std::vector<std::string> usesOffThread(const std::string& url, std::thread::id thread) const;
};

}  // namespace zv::testing
