#include "support/net/StreamUseLog.h"

#include <mutex>
#include <utility>

#include "platform/net/HTTPReadStream.h"

namespace zv::testing {

namespace {

// Never destroyed: a stream may still be closed on some thread after the log's owner went.
struct Store {
  std::mutex mutex;
  std::vector<std::pair<std::string, StreamUseLog::Use>> uses;
};

Store& store() {
  static Store& instance = *new Store;
  return instance;
}

void record(const URL& url, const char* what) {
  auto& log = store();
  std::lock_guard lock(log.mutex);
  log.uses.push_back({url.absoluteString(), {what, std::this_thread::get_id()}});
}

}  // namespace

StreamUseLog::StreamUseLog() {
  {
    std::lock_guard lock(store().mutex);
    store().uses.clear();
  }
  net::setStreamUseObserverForTesting(&record);
}

StreamUseLog::~StreamUseLog() { net::setStreamUseObserverForTesting(nullptr); }

std::vector<StreamUseLog::Use> StreamUseLog::usesOf(const std::string& url) const {
  std::lock_guard lock(store().mutex);
  std::vector<Use> found;
  for (const auto& [used, use] : store().uses) {
    if (used == url) found.push_back(use);
  }
  return found;
}

int StreamUseLog::count(const std::string& url, const std::string& what) const {
  int found = 0;
  for (const auto& use : usesOf(url)) found += use.what == what ? 1 : 0;
  return found;
}

std::vector<std::string> StreamUseLog::usesOffThread(const std::string& url, std::thread::id thread) const {
  std::vector<std::string> found;
  for (const auto& use : usesOf(url)) {
    if (use.thread != thread) found.push_back(use.what);
  }
  return found;
}

}  // namespace zv::testing
