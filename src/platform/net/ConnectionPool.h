#pragma once
// Connections offered for reuse by streams that share a persistent-connection tag. A stream whose
// response ended with keep-alive offers its connection; the next stream opened with the same tag
// and an equal ConnectionKey takes it (after an idle check). From the offer on the pool holds the
// connection, not the offering stream: a stream that is closed late (on its own thread, after
// another stream took its connection) keeps no socket open. Internal; thread-safe.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/net/HTTPStreamConnection.h"

namespace zv::net {

class ConnectionPool {
 public:
  static ConnectionPool& shared();

  // `owner` identifies the offering stream: only it may withdraw the offer.
  void offer(std::int64_t tag, std::shared_ptr<HTTPStreamConnection> connection, const void* owner);
  // The offered connection for `tag` and `key`, removed from the pool; nullptr when none is there
  // or the one there was closed by the server (it is then dropped).
  std::shared_ptr<HTTPStreamConnection> take(std::int64_t tag, const ConnectionKey& key);
  // Removes the connection `owner` offered, when nobody took it (it closes); YES when it did. A
  // connection another stream took and offered again is not the old owner's to withdraw.
  bool withdraw(const void* owner);
  std::size_t offeredCount() const;

 private:
  struct Entry {
    std::int64_t tag;
    std::shared_ptr<HTTPStreamConnection> connection;
    const void* owner;
  };
  ConnectionPool();
  // Held across a fork (ForkHandlers.h); in the child the offered connections are the parent's.
  mutable ForkMutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace zv::net
