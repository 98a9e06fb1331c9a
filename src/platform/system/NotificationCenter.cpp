#include "platform/system/NotificationCenter.h"

#include <algorithm>
#include <atomic>

#include "platform/foundation/Exception.h"

namespace zv {

namespace {

// What addObserver hands back; identity is all it offers.
class NotificationObserverToken : public Object {};

// Whether a weak reference and a live one name the same object. Comparing control blocks stays
// correct after the weak reference expires, and the block cannot be reused while we hold it.
bool sameOwner(const std::weak_ptr<Object>& weak, const ObjectPtr& strong) {
  return !weak.owner_before(strong) && !strong.owner_before(weak);
}

}  // namespace

struct NotificationCenter::Registration {
  std::string name;
  bool hasObjectFilter = false;
  std::weak_ptr<Object> objectFilter;
  bool hasObserver = false;
  std::weak_ptr<Object> observer;
  std::weak_ptr<Object> token;
  Callback callback;
  std::atomic<bool> removed{false};

  // Whether the registration can never fire again.
  bool isDead() const {
    return removed.load() || (hasObserver && observer.expired()) || (hasObjectFilter && objectFilter.expired());
  }
};

Ref<NotificationCenter> NotificationCenter::defaultCenter() {
  static const Ref<NotificationCenter>& center = *new Ref<NotificationCenter>(make());
  return center;
}

Ref<NotificationCenter> NotificationCenter::make() { return std::make_shared<NotificationCenter>(); }

namespace {
// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gDefaultCenterMade = (NotificationCenter::defaultCenter(), true);
}  // namespace

ObjectPtr NotificationCenter::addObserverForName(std::string_view name, const ObjectPtr& object, Callback callback) {
  return add(nullptr, name, object, std::move(callback));
}

ObjectPtr NotificationCenter::addObserver(const ObjectPtr& observer, std::string_view name, const ObjectPtr& object,
                                          Callback callback) {
  if (!observer) Exception::raise(kInvalidArgumentException, "addObserver: observer is nil");
  return add(&observer, name, object, std::move(callback));
}

ObjectPtr NotificationCenter::add(const ObjectPtr* observer, std::string_view name, const ObjectPtr& object,
                                  Callback callback) {
  if (!callback) Exception::raise(kInvalidArgumentException, "addObserver: callback is empty");
  auto token = std::make_shared<NotificationObserverToken>();
  auto registration = std::make_shared<Registration>();
  registration->name = std::string(name);
  registration->hasObjectFilter = object != nullptr;
  registration->objectFilter = object;
  registration->hasObserver = observer != nullptr;
  if (observer) registration->observer = *observer;
  registration->token = token;
  registration->callback = std::move(callback);
  std::lock_guard lock(mutex_);
  registrations_.push_back(std::move(registration));
  return token;
}

void NotificationCenter::removeObserver(const ObjectPtr& observerOrToken) {
  removeObserver(observerOrToken, {}, nullptr);
}

void NotificationCenter::removeObserver(const ObjectPtr& observerOrToken, std::string_view name,
                                        const ObjectPtr& object) {
  if (!observerOrToken) return;
  // Callbacks are let go once the lock is: what they hold may take other locks as it goes.
  std::vector<std::shared_ptr<Registration>> removed;
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
    bool owned = sameOwner(r->token, observerOrToken) || (r->hasObserver && sameOwner(r->observer, observerOrToken));
    if (!owned) return false;
    if (!name.empty() && r->name != name) return false;
    if (object && !(r->hasObjectFilter && sameOwner(r->objectFilter, object))) return false;
    r->removed = true;
    removed.push_back(r);
    return true;
  });
}

void NotificationCenter::postNotification(const Ref<Notification>& notification) {
  if (!notification) Exception::raise(kInvalidArgumentException, "postNotification: notification is nil");
  std::vector<std::shared_ptr<Registration>> matching;
  std::vector<std::shared_ptr<Registration>> dead;  // let go once the lock is
  {
    std::lock_guard lock(mutex_);
    std::erase_if(registrations_, [&](const std::shared_ptr<Registration>& r) {
      if (!r->isDead()) return false;
      r->removed = true;
      dead.push_back(r);
      return true;
    });
    for (const auto& r : registrations_) {
      if (!r->name.empty() && r->name != notification->name()) continue;
      if (r->hasObjectFilter && r->objectFilter.lock() != notification->object()) continue;
      matching.push_back(r);
    }
  }
  for (const auto& r : matching) {
    if (r->removed.load()) continue;
    ObjectPtr keepAlive;
    if (r->hasObserver) {
      keepAlive = r->observer.lock();
      if (!keepAlive) continue;  // dropped by the next post or removal
    }
    r->callback(notification);
  }
}

void NotificationCenter::postNotificationName(std::string name, ObjectPtr object, Ref<Dictionary> userInfo) {
  postNotification(Notification::make(std::move(name), std::move(object), std::move(userInfo)));
}

std::size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(mutex_);
  return registrations_.size();
}

}  // namespace zv
