#pragma once
// Process-wide state of the HTTP request class: the connection pool and its counters, the
// session cookie list, the defaults, the shared queue and the network thread. Internal to the
// http library.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "http/HTTPRequest.h"

namespace zv::httpdetail {

struct RequestClassState {
  // Guards connectionPool, the records in it, the two counters, activeStreamCount and the
  // activity-indicator flags.
  std::recursive_mutex connectionPoolLock;
  // Serialises the end of a response (files moved, cache stored).
  std::recursive_mutex progressDeliveryLock;
  std::recursive_mutex sessionCookieLock;
  std::vector<Ref<MutableDictionary>> connectionPool;
  std::int64_t lastConnectionNumber = 0;
  std::int64_t lastRequestNumber = 0;
  int activeStreamCount = 0;
  bool shouldUpdateNetworkActivityIndicator = true;
  bool hidePending = false;
  std::optional<std::vector<Ref<net::HTTPCookie>>> sessionCookies;
  std::mutex defaultsLock;
  double defaultTimeOutSeconds = 10.0;
  Ref<HTTPCacheDelegate> defaultCache;
};

RequestClassState& requestClassState();

// Removes the fields that describe a body (length, coding): a HEAD copy carries none.
void removeBodyFields(MutableDictionary& headers);

}  // namespace zv::httpdetail
