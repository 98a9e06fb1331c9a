#pragma once
// URL connections: load one URL request, asynchronously with delegate calls on the run loop of
// the thread that started it, or synchronously. Built on the same socket, TLS and framing layer as
// HTTPReadStream. The connection follows redirects (at most 16; the delegate may change or refuse
// each; one to another origin goes without the Authorization, Proxy-Authorization and Cookie
// fields; without the delegate's say (connectionWillSendRequestRedirectResponse) a body never goes
// to another origin, plain http after https included, and a body stream, once read, is never sent
// again: both fail the load before anything reaches the target), answers a Basic challenge from
// the URL's user information or through the delegate (the challenged answer's body is held
// meanwhile, up to 1 MiB: a longer one fails the load with kURLErrorDataLengthExceedsMaximum),
// sends and stores cookies with the shared CookieStore when the request says so, inflates gzip
// and deflate bodies, hands the delegate at most maximumBodyLength bytes of body (128 MiB unless
// set smaller; past it the load fails with kURLErrorDataLengthExceedsMaximum), fails with kURLErrorTimedOut when nothing moves for the request's time-out,
// and sends "Cache-Control: no-cache" for the cache policies that ignore cached data (there is
// no local cache). Proxies come from ProxySettings (a script is fetched without blocking).
//
// Threads: create, schedule, start and cancel on the starting thread; delegate calls arrive there,
// in the modes the connection is scheduled in (the default mode unless scheduled otherwise before
// start). Scheduling on another thread's run loop is refused (logged).
// The connection keeps itself and its delegate alive until it has finished, failed or been
// cancelled. Every load ends with exactly one of connectionDidFinishLoading and
// connectionDidFailWithError, and nothing follows cancel.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Protocol.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/runloop/RunLoop.h"

namespace zv::net {

class URLConnection;

// The most of a body a connection hands its delegate (128 MiB, after decoding); owners may choose
// less (setMaximumBodyLength).
inline constexpr std::size_t kDefaultMaximumBodyLength = std::size_t{128} << 20;
// The most a synchronous load holds of a body; callers may choose less.
inline constexpr std::size_t kDefaultMaximumSynchronousBodyLength = kDefaultMaximumBodyLength;

inline constexpr const char* kAuthenticationMethodHTTPBasic = "HTTPBasic";
inline constexpr const char* kAuthenticationMethodDefault = "Default";

enum class URLCredentialPersistence { None, ForSession, Permanent };

class URLCredential : public Object {
 public:
  static Ref<URLCredential> make(std::string user, std::string password,
                                 URLCredentialPersistence persistence = URLCredentialPersistence::ForSession);
  const std::string& user() const { return user_; }
  // The secret: never logged (description() leaves it out).
  const std::string& password() const { return password_; }
  URLCredentialPersistence persistence() const { return persistence_; }
  std::string description() const override;

  URLCredential(std::string user, std::string password, URLCredentialPersistence persistence)
      : user_(std::move(user)), password_(std::move(password)), persistence_(persistence) {}

 private:
  std::string user_;
  std::string password_;
  URLCredentialPersistence persistence_;
};

struct URLProtectionSpace {
  std::string host;
  int port = 0;
  std::string protocol;            // "http" or "https"
  std::optional<std::string> realm;
  std::string authenticationMethod = kAuthenticationMethodHTTPBasic;
  bool isProxy = false;
};

// A challenge handed to the delegate; answer it once with one of the three calls (on the
// connection's thread, now or later).
class URLAuthenticationChallenge : public Object {
 public:
  const URLProtectionSpace& protectionSpace() const { return space_; }
  int previousFailureCount() const { return previousFailureCount_; }
  const Ref<URLCredential>& proposedCredential() const { return proposed_; }
  const Ref<URLResponse>& failureResponse() const { return failureResponse_; }

  void useCredential(const Ref<URLCredential>& credential);
  // Loads on without credentials: the 401 answer becomes the response.
  void continueWithoutCredential();
  // Fails the load with kURLErrorUserCancelledAuthentication.
  void cancel();

  URLAuthenticationChallenge(URLProtectionSpace space, int previousFailureCount, Ref<URLCredential> proposed,
                             Ref<URLResponse> failureResponse, std::function<void(int action, Ref<URLCredential>)> answer);

 private:
  URLProtectionSpace space_;
  int previousFailureCount_;
  Ref<URLCredential> proposed_;
  Ref<URLResponse> failureResponse_;
  std::function<void(int, Ref<URLCredential>)> answer_;
};

// Delegate calls; all optional (adopt by deriving from an Object class and this). The connection asks respondsToSelector for the ones whose
// absence changes behaviour ("connectionWillSendRequestRedirectResponse",
// "connectionDidReceiveAuthenticationChallenge").
class URLConnectionDelegate : public Protocol {
 public:
  // Before following a redirect (`redirectResponse` set) and once before the first request
  // (`redirectResponse` nullptr). Return the request to send, or nullptr to stop following (the
  // redirect answer then completes the load).
  virtual Ref<URLRequest> connectionWillSendRequestRedirectResponse(URLConnection& connection,
                                                                   const Ref<URLRequest>& request,
                                                                   const Ref<URLResponse>& redirectResponse);
  virtual void connectionDidReceiveAuthenticationChallenge(URLConnection& connection,
                                                           const Ref<URLAuthenticationChallenge>& challenge);
  virtual void connectionDidReceiveResponse(URLConnection& connection, const Ref<URLResponse>& response);
  virtual void connectionDidReceiveData(URLConnection& connection, const Ref<Data>& data);
  virtual void connectionDidSendBodyData(URLConnection& connection, std::int64_t bytesWritten,
                                         std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite);
  virtual void connectionDidFinishLoading(URLConnection& connection);
  virtual void connectionDidFailWithError(URLConnection& connection, const Ref<Error>& error);
};

class URLConnection : public Object {
 public:
  // A connection for a copy of `request`; starts at once on the current thread's run loop in the
  // default mode unless `startImmediately` is NO. nullptr when the request has no URL.
  static Ref<URLConnection> make(const Ref<URLRequest>& request, const Ref<URLConnectionDelegate>& delegate,
                                 bool startImmediately = true);
  static Ref<URLConnection> connectionWithRequest(const Ref<URLRequest>& request,
                                                  const Ref<URLConnectionDelegate>& delegate) {
    return make(request, delegate, true);
  }
  // YES for http and https URLs.
  static bool canHandleRequest(const URLRequest& request);

  // Loads on the calling thread, blocking it until the load is over (it does not run the caller's
  // run loop). Returns the body (possibly empty) or nullptr on failure, with the response and
  // error slots filled when given. Redirects are followed; a Basic challenge is answered from the
  // URL's user information, else the 401 answer is returned as is. With `checkRedirect`, each
  // redirect target is shown to it first: an error it returns ends the load with that error, and
  // nothing is sent to the target. A body longer than `maximumBodyLength` (after decoding; never
  // more than kDefaultMaximumSynchronousBodyLength) ends the load with
  // kURLErrorDataLengthExceedsMaximum as soon as it passes the bound. The call always returns: a
  // load that cannot run (no descriptor free for its run loop or socket) fails with an error.
  static Ref<Data> sendSynchronousRequest(const Ref<URLRequest>& request, Ref<URLResponse>* response,
                                          Ref<Error>* error,
                                          std::function<Ref<Error>(const URL& target)> checkRedirect = nullptr,
                                          std::size_t maximumBodyLength = kDefaultMaximumSynchronousBodyLength);

  ~URLConnection() override;

  // Call before start, on the starting thread, with its loop (another thread's loop is refused);
  // the default is the starting thread's loop in the default mode.
  void scheduleInRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode);
  void unscheduleFromRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode);
  void start();
  // The most of one answer's body handed to the delegate (kDefaultMaximumBodyLength unless set).
  // The piece that would pass it is not handed on: the load is cancelled and fails with
  // kURLErrorDataLengthExceedsMaximum. Set it on the connection's thread before the body comes
  // (right after make is soon enough).
  void setMaximumBodyLength(std::size_t length);
  std::size_t maximumBodyLength() const;
  // Stops the load; no delegate call follows.
  void cancel();

  const Ref<URLRequest>& originalRequest() const;
  // The request now being loaded (after redirects).
  Ref<URLRequest> currentRequest() const;

  struct State;
  URLConnection(const Ref<URLRequest>& request, const Ref<URLConnectionDelegate>& delegate);

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zv::net
