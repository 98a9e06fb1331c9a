#pragma once
// The login attempts of each service. Every login a sharer starts (a web page, a login form's
// check, a token fetch, an implicit login before a send) is an attempt of its service (the sharer
// id), and every answer it waits for checks its attempt before it stores, alerts or reports: an
// answer whose attempt is no longer current is dropped, whatever object receives it.
//
// Two kinds of attempt:
//  - Interactive: a login the user takes part in (a page, a form, anything the user must answer).
//    A service has at most one; a newer interactive attempt of the service abandons the older one.
//  - Silent: a login a sharer makes by itself from stored credentials (nothing is shown, nothing
//    asked). Each stands on its own: any number may run beside each other and beside the
//    interactive one, and none abandons another (each share sending by itself keeps its login).
//
// An attempt stops being current when
//  - it took its answer (take(): true once);
//  - its owner ended it (end(): a cancel the owner reports itself);
//  - the service's login was dropped from outside: abandon(service), which a logout reaches
//    however it is made (the hub removing a stored login value calls it; see SX.h) and which ends
//    every attempt of the service, of both kinds; or, for an interactive attempt, a newer
//    interactive attempt of the same service began. The attempt's `abandoned` handler then runs,
//    once, on the main thread, so that whoever waits for the login (a share, a form) gets its one
//    outcome.
//
// Threads: any thread may begin, check, end or abandon; handlers run on the main thread (at once
// when abandoned there). Ownership: the registry keeps each service's attempts under way; owners
// keep theirs; handlers should hold their owner weakly.

#include <functional>
#include <string>

#include "platform/foundation/Object.h"

namespace zv {

class SXLoginAttempt : public Object {
 public:
  using AbandonedHandler = std::function<void()>;
  enum class Kind { Interactive, Silent };

  // Starts an attempt of `service`. An interactive one becomes the service's current interactive
  // attempt, and the one it replaces is abandoned; a silent one abandons nothing.
  static Ref<SXLoginAttempt> begin(const std::string& service, AbandonedHandler abandoned = {},
                                   Kind kind = Kind::Interactive);
  // Ends every attempt of `service` under way, interactive and silent, as abandoned.
  static void abandon(const std::string& service);
  // The service's interactive attempt, else its newest silent one; nullptr when none is under way.
  static Ref<SXLoginAttempt> current(const std::string& service);

  const std::string& service() const { return service_; }
  Kind kind() const { return kind_; }
  // Whether an answer of this attempt may still act (a step of it, not its last answer).
  bool isCurrent() const;
  // The attempt's last answer came: true once, while the attempt is current; it is over then.
  // false: the answer belongs to no login any more and is dropped.
  bool take();
  // The owner ends its attempt without an answer (a cancel it reports itself); no handler runs.
  void end();

  SXLoginAttempt(std::string service, AbandonedHandler abandoned, Kind kind = Kind::Interactive);

 private:
  // Removes this attempt from the registry when it is under way there; true when it was.
  bool leave();

  std::string service_;
  AbandonedHandler abandoned_;
  Kind kind_;
};

}  // namespace zv
