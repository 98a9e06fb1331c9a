#include "platform/net/ConnectionPool.h"

#include <new>

namespace zv::net {

ConnectionPool::ConnectionPool()
    : mutex_(ForkLockLevel::ConnectionPool, [this] {
        // Their sockets and TLS sessions are shared with the parent, which goes on using them: the
        // child forgets them (neither uses nor closes them) and opens its own.
        new std::vector<Entry>(std::move(entries_));
        entries_.clear();
      }) {}

ConnectionPool& ConnectionPool::shared() {
  static ConnectionPool& pool = *new ConnectionPool;
  return pool;
}

void ConnectionPool::offer(std::int64_t tag, std::shared_ptr<HTTPStreamConnection> connection, const void* owner) {
  std::lock_guard lock(mutex_);
  entries_.push_back({tag, std::move(connection), owner});
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

bool ConnectionPool::withdraw(const void* owner) {
  std::shared_ptr<HTTPStreamConnection> withdrawn;  // closed after the lock
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->owner == owner) {
      withdrawn = std::move(it->connection);
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

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gPoolMade = (ConnectionPool::shared(), true);
}  // namespace

}  // namespace zv::net
