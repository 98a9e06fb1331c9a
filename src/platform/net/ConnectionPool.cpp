#include "platform/net/ConnectionPool.h"

namespace zv::net {

ConnectionPool& ConnectionPool::shared() {
  static ConnectionPool& pool = *new ConnectionPool;
  return pool;
}

void ConnectionPool::offer(std::int64_t tag, const std::shared_ptr<HTTPStreamConnection>& connection,
                           const void* owner) {
  std::lock_guard lock(mutex_);
  entries_.push_back({tag, connection, owner});
}

std::shared_ptr<HTTPStreamConnection> ConnectionPool::take(std::int64_t tag, const ConnectionKey& key) {
  std::shared_ptr<HTTPStreamConnection> found;
  {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->tag == tag && it->connection->key() == key) {
        found = it->connection;
        entries_.erase(it);
        break;
      }
    }
  }
  if (found && !found->isIdleAndAlive()) return nullptr;
  return found;
}

bool ConnectionPool::withdraw(const std::shared_ptr<HTTPStreamConnection>& connection, const void* owner) {
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->connection == connection && it->owner == owner) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

std::size_t ConnectionPool::offeredCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace zv::net
