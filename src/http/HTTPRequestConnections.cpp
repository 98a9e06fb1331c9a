// Persistent connections: the class-wide pool of connection records that lets requests to the
// same server share one socket, their expiry, and the one retry on a new connection.

#include <utility>

#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Format.h"

namespace zv {

using httpdetail::requestClassState;

namespace {

// Records expire on the monotonic clock: a wall clock set forward or back keeps them as long as
// the server does.
double nowSeconds() { return Clock::current()->monotonic(); }

// A record's "expires" (seconds of the monotonic clock); nullopt when it has none.
std::optional<double> expiryOf(const Ref<MutableDictionary>& record) {
  auto value = record->objectForKey("expires");
  if (!value) return std::nullopt;
  return doubleValueOf(value);
}

// The proxy a record's socket goes through, as text ("" for none).
std::string proxyText(const std::optional<net::ProxyServer>& proxy) {
  if (!proxy) return "";
  return format("%s %s:%d", proxy->type.c_str(), proxy->host.c_str(), proxy->port);
}

}  // namespace

void HTTPRequest::configurePersistentConnection() {
  // A retry after a pooled connection died opens a new one: the other idle ones may be just as dead.
  bool mayTakeIdleRecord = !std::exchange(needsNewConnection_, false);
  expirePersistentConnections();
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
  auto target = url();
  if (!target->host() || !target->scheme()) {
    connectionInfo_ = nullptr;
    setShouldAttemptPersistentConnection(false);
  }
  if (!shouldAttemptPersistentConnection()) return;

  std::string host = *target->host();
  std::string scheme = *target->scheme();
  int port = target->port().value_or(0);
  std::string proxy = proxyText(streamProxy_);
  bool validates = validatesSecureCertificate();
  ObjectPtr identity = clientCertificateIdentity();
  if (!identity) identity = Null::null();
  // A socket is shared only between requests that would have opened the very same connection.
  auto matches = [&](const Ref<MutableDictionary>& record) {
    return record->stringForKey("host") == host && record->stringForKey("scheme") == scheme &&
           intValueOf(record->objectForKey("port")) == port && record->stringForKey("proxy") == proxy &&
           boolValueOf(record->objectForKey("validates")) == validates && record->objectForKey("identity") == identity;
  };
  auto removeFromPool = [&](const Ref<MutableDictionary>& record) {
    std::erase(shared.connectionPool, record);
  };

  if (connectionInfo_) {
    auto owner = connectionInfo_->objectForKey("request");
    // A record this request let go of (while it waited for credentials, say) may have been
    // taken by another request meanwhile; two requests never share one socket.
    if (!matches(connectionInfo_) || (owner && !zv::isEqual(owner, requestID()))) {
      connectionInfo_ = nullptr;
    } else if (auto expires = expiryOf(connectionInfo_); expires && *expires < nowSeconds()) {
      removeFromPool(connectionInfo_);
      connectionInfo_ = nullptr;
    }
  }
  if (!connectionInfo_ && mayTakeIdleRecord) {
    for (const auto& record : shared.connectionPool) {
      if (!record->objectForKey("request") && matches(record)) connectionInfo_ = record;
    }
  }
  if (connectionInfo_) {
    if (auto old = connectionInfo_->objectForKeyAs<net::HTTPReadStream>("stream"); old && old != readStream_) {
      oldStreamToClose_ = old;
    }
  }
  if (!connectionInfo_) {
    connectionInfo_ = MutableDictionary::make();
    connectionInfo_->setObject(box(static_cast<long long>(++shared.lastConnectionNumber)), "id");
    connectionInfo_->setObject(box(host), "host");
    connectionInfo_->setObject(box(port), "port");
    connectionInfo_->setObject(box(scheme), "scheme");
    connectionInfo_->setObject(box(proxy), "proxy");
    connectionInfo_->setObject(box(validates), "validates");
    connectionInfo_->setObject(identity, "identity");
    shared.connectionPool.push_back(connectionInfo_);
  }
  if (!requestID()) setRequestID(box(static_cast<long long>(++shared.lastRequestNumber)));
  connectionInfo_->setObject(requestID(), "request");
  connectionInfo_->setObject(readStream_, "stream");
  readStream_->setPersistentConnection(true);
  readStream_->setConnectionTag(integerValueOf(connectionInfo_->objectForKey("id")));
}

void HTTPRequest::releaseConnectionRecord(bool keepInPool) {
  if (!connectionInfo_) return;
  auto& shared = requestClassState();
  std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
  connectionInfo_->removeObjectForKey("request");
  if (keepInPool) {
    connectionInfo_->setObject(box(nowSeconds() + persistentConnectionTimeoutSeconds()), "expires");
  } else {
    std::erase(shared.connectionPool, connectionInfo_);
    connectionInfo_->removeObjectForKey("stream");
    connectionInfo_ = nullptr;
  }
}

std::optional<std::int64_t> HTTPRequest::connectionID() const {
  std::lock_guard<std::recursive_mutex> pool(requestClassState().connectionPoolLock);
  if (!connectionInfo_) return std::nullopt;
  return integerValueOf(connectionInfo_->objectForKey("id"));
}

bool HTTPRequest::retryUsingNewConnection() {
  if (retryCount() != 0) return false;
  releaseConnectionRecord(false);
  needsNewConnection_ = true;
  setRetryCount(retryCount() + 1);
  startRequest();
  return true;
}

void HTTPRequest::expirePersistentConnections() {
  auto& shared = requestClassState();
  std::vector<Ref<net::HTTPReadStream>> toClose;
  {
    std::lock_guard<std::recursive_mutex> pool(shared.connectionPoolLock);
    double now = nowSeconds();
    std::erase_if(shared.connectionPool, [&](const Ref<MutableDictionary>& record) {
      if (record->objectForKey("request")) return false;
      auto expires = expiryOf(record);
      if (!expires || *expires > now) return false;
      if (auto stream = record->objectForKeyAs<net::HTTPReadStream>("stream")) toClose.push_back(stream);
      record->removeObjectForKey("stream");
      return true;
    });
  }
  for (const auto& stream : toClose) stream->close();
}

std::size_t HTTPRequest::persistentConnectionCount() {
  std::lock_guard<std::recursive_mutex> pool(requestClassState().connectionPoolLock);
  return requestClassState().connectionPool.size();
}

}  // namespace zv
