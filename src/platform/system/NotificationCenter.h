#pragma once
// The process's notification centre: observers register a callback with an optional name filter
// and an optional object filter; a post calls every matching observer synchronously, on the
// posting thread, in registration order.
//
// Threads: every call may come from any thread. Callbacks run without the centre's lock held, so
// an observer may post, add or remove observers (itself included) from inside its callback. An
// observer removed while a post is under way is not called by that post once its removal has
// returned; one added during a post is first called by the next post.
//
// Ownership: the centre keeps each registration (and its callback) until it is removed. The
// observer object and the object filter are not retained: a registration whose observer or
// filter object has died is skipped and dropped.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"
#include "platform/system/Notification.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv {

class NotificationCenter : public Object {
 public:
  using Callback = std::function<void(const Ref<Notification>& notification)>;

  // The one centre of the process, made on first use and kept until the process ends.
  static Ref<NotificationCenter> defaultCenter();
  // A centre of its own (tests, components that want private traffic).
  static Ref<NotificationCenter> make();

  // Registers a callback with no observer object. `name` empty means any name, `object` nullptr
  // any object (compared by identity). Returns the token that removeObserver takes; dropping the
  // token does not end the registration.
  ObjectPtr addObserverForName(std::string_view name, const ObjectPtr& object, Callback callback);
  // Registers a callback on behalf of `observer` (held weakly; must not be nullptr). Returns a
  // token as above; removeObserver(observer) removes every registration of the observer.
  ObjectPtr addObserver(const ObjectPtr& observer, std::string_view name, const ObjectPtr& object, Callback callback);

  // Removes the registration of a token, or every registration of an observer object.
  void removeObserver(const ObjectPtr& observerOrToken);
  // As above, limited to registrations whose name filter equals `name` (when not empty) and
  // whose object filter is `object` (when not nullptr).
  void removeObserver(const ObjectPtr& observerOrToken, std::string_view name, const ObjectPtr& object);

  void postNotification(const Ref<Notification>& notification);
  void postNotificationName(std::string name, ObjectPtr object = nullptr, Ref<Dictionary> userInfo = nullptr);

  // Registrations still held (dead observers are counted until a post drops them).
  std::size_t observerCount() const;

  NotificationCenter() = default;

 private:
  struct Registration;
  ObjectPtr add(const ObjectPtr* observer, std::string_view name, const ObjectPtr& object, Callback callback);

  mutable ForkMutex mutex_{ForkLockLevel::NotificationCenter};
  std::vector<std::shared_ptr<Registration>> registrations_;
};

}  // namespace zv
