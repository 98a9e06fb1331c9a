#pragma once
// Asynchronous wrappers over the note service's blocking calls. Each call runs on the session's
// serial queue (one at a time, in submission order) with a new client, and its result or error
// comes back on the main thread through the success or failure callback, in the same order.
// Every exception a call raises becomes an error: the service's declared exceptions give their
// error code (the "parameter" user-info entry when they name one), Thrift transport and protocol
// failures -3000, anything else 1. Either callback may be empty; an empty work callback yields no
// callback at all.
//
// Threads: submit from any thread; work runs on the session's queue, callbacks on the main queue.
// Ownership: a wrapper owns its session; the queued work keeps the session alive.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "notes_thrift/NoteService_types.h"
#include "platform/foundation/Error.h"
#include "platform/runloop/DispatchQueue.h"
#include "sharing/services/notes/NoteServiceSession.h"

namespace zv {

template <class T>
using NCSuccess = std::function<void(const T&)>;
using NCVoidSuccess = std::function<void()>;
using NCFailure = std::function<void(const Ref<Error>&)>;

class NCAPI : public Object {
 public:
  explicit NCAPI(Ref<NoteServiceSession> session) : session_(std::move(session)) {}

  const Ref<NoteServiceSession>& session() const { return session_; }
  std::shared_ptr<notes::NoteStoreClient> noteStore() const { return session_->noteStore(); }
  std::shared_ptr<notes::UserStoreClient> userStore() const { return session_->userStore(); }

  void invokeAsyncBoolBlock(std::function<bool()> work, NCSuccess<bool> success, NCFailure failure) const {
    invokeAsync<bool>(std::move(work), std::move(success), std::move(failure));
  }
  void invokeAsyncInt32Block(std::function<std::int32_t()> work, NCSuccess<std::int32_t> success,
                             NCFailure failure) const {
    invokeAsync<std::int32_t>(std::move(work), std::move(success), std::move(failure));
  }
  template <class T>
  void invokeAsyncIdBlock(std::function<T()> work, NCSuccess<T> success, NCFailure failure) const {
    invokeAsync<T>(std::move(work), std::move(success), std::move(failure));
  }
  void invokeAsyncVoidBlock(std::function<void()> work, NCVoidSuccess success, NCFailure failure) const;

  // The error for a caught exception (nullptr for none).
  static Ref<Error> errorFromException(std::exception_ptr exception);
  // The session's token, or the empty text when logged out (the service then refuses the call).
  static std::string tokenOf(const NoteServiceSession& session);

 private:
  template <class T>
  void invokeAsync(std::function<T()> work, NCSuccess<T> success, NCFailure failure) const {
    session_->queue()->async([work = std::move(work), success = std::move(success), failure = std::move(failure)] {
      if (!work) return;
      std::shared_ptr<T> result;
      try {
        result = std::make_shared<T>(work());
      } catch (...) {
        auto error = errorFromException(std::current_exception());
        DispatchQueue::mainQueue()->async([failure, error] {
          if (failure) failure(error);
        });
        return;
      }
      DispatchQueue::mainQueue()->async([success, result] {
        if (success) success(*result);
      });
    });
  }

  Ref<NoteServiceSession> session_;
};

}  // namespace zv
