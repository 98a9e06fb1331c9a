#pragma once
// A small asynchronous web request for the simpler service sharers: a URL, an optional body that
// the caller has already encoded (form or JSON text), a method and extra header fields go in; the
// reply status, header fields and body come back through one finish callback. A body goes out as
// "application/x-www-form-urlencoded" unless the header fields give another Content-Type.
//
// The request goes out with the method given, whatever that method is (DELETE and PUT included),
// with or without a body; without a method it is a GET. `success` is YES for a 200 or 201 reply only.
// `description()` is for logs and never prints the request or reply body: a login form's body
// holds the password, and replies can hold tokens.
//
// Redirects are followed only to https, and only to the host the request was sent to or one the
// sharer named with setAllowedRedirectHosts: the bodies carry passwords and tokens. Any other
// redirect sends nothing to its target and fails the request with kSXRequestErrorRedirectRefused.
//
// Threads: create, start and read on one thread with a run loop (the main thread for sharers);
// the finish callback runs there, once. The request keeps its delegate and the callback until it
// has finished and then lets go of both (set them again before starting it once more); the
// running connection keeps the request alive.
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"

namespace zv {

inline constexpr const char* kSXRequestErrorDomain = "SXRequestErrorDomain";
inline constexpr std::int64_t kSXRequestErrorRedirectRefused = 1;

class SXRequest;
using SXRequestFinishedCallback = std::function<void(const Ref<SXRequest>& request)>;

class SXRequest : public Object, public net::URLConnectionDelegate {
 public:
  // Keeps the values; starts at once when `autostart` is YES.
  static Ref<SXRequest> make(Ref<URL> url, std::optional<std::string> params, ObjectPtr delegate,
                             SXRequestFinishedCallback isFinishedSelector, std::optional<std::string> method,
                             bool autostart);

  // The redirect rule, for sharers that run a connection of their own: YES when a request sent to
  // `from` may follow a redirect to `to` (https, and the same host or one of `allowedHosts`).
  static bool mayFollowRedirect(const URL& from, const URL& to, const std::vector<std::string>& allowedHosts = {});
  // The failure of a request whose redirect was not followed.
  static Ref<Error> redirectRefusedError();
  // A blocking load (URLConnection::sendSynchronousRequest) that keeps the redirect rule, for
  // sharers that call their service synchronously.
  static Ref<Data> sendSynchronousRequest(const Ref<net::URLRequest>& request, Ref<net::URLResponse>* response,
                                          Ref<Error>* error);

  // Replaces any previous reply and opens the connection (90 s time-out, no cached data).
  void start();
  // The reply body decoded as UTF-8 (ill-formed bytes as U+FFFD); made on first call and kept.
  const std::string& getResult();
  // Labelled lines: method, URL, body size, status with its text, reply size.
  std::string description() const override;
  bool respondsToSelector(std::string_view selector) const override;

  const Ref<URL>& url() const { return url_; }
  void setUrl(Ref<URL> url) { url_ = std::move(url); }
  const std::optional<std::string>& params() const { return params_; }
  void setParams(std::optional<std::string> params) { params_ = std::move(params); }
  const std::optional<std::string>& method() const { return method_; }
  void setMethod(std::optional<std::string> method) { method_ = std::move(method); }
  // Hosts besides the request's own that a redirect may lead to (over https only).
  const std::vector<std::string>& allowedRedirectHosts() const { return allowedRedirectHosts_; }
  void setAllowedRedirectHosts(std::vector<std::string> hosts) { allowedRedirectHosts_ = std::move(hosts); }
  const Ref<Dictionary>& headerFields() const { return headerFields_; }
  void setHeaderFields(Ref<Dictionary> fields) { headerFields_ = std::move(fields); }
  const ObjectPtr& delegate() const { return delegate_; }
  void setDelegate(ObjectPtr delegate) { delegate_ = std::move(delegate); }
  const SXRequestFinishedCallback& isFinishedSelector() const { return isFinished_; }
  void setIsFinishedSelector(SXRequestFinishedCallback callback) { isFinished_ = std::move(callback); }
  const Ref<net::URLConnection>& connection() const { return connection_; }
  const Ref<net::HTTPURLResponse>& response() const { return response_; }
  const Ref<MutableDictionary>& headers() const { return headers_; }
  const Ref<MutableData>& data() const { return data_; }
  bool success() const { return success_; }
  // The transport failure, when the load failed before a complete reply.
  const Ref<Error>& error() const { return error_; }
  // Whether the request has finished (successfully or not) since it was last started.
  bool isFinished() const { return finished_; }

  // Connection callbacks.
  Ref<net::URLRequest> connectionWillSendRequestRedirectResponse(net::URLConnection& connection,
                                                                const Ref<net::URLRequest>& request,
                                                                const Ref<net::URLResponse>& redirectResponse) override;
  void connectionDidReceiveResponse(net::URLConnection& connection, const Ref<net::URLResponse>& response) override;
  void connectionDidReceiveData(net::URLConnection& connection, const Ref<Data>& data) override;
  void connectionDidFinishLoading(net::URLConnection& connection) override;
  void connectionDidFailWithError(net::URLConnection& connection, const Ref<Error>& error) override;

  SXRequest(Ref<URL> url, std::optional<std::string> params, ObjectPtr delegate,
            SXRequestFinishedCallback isFinished, std::optional<std::string> method);

 private:
  void finish();

  Ref<URL> url_;
  std::optional<std::string> params_;
  std::optional<std::string> method_;
  Ref<Dictionary> headerFields_;
  std::vector<std::string> allowedRedirectHosts_;
  ObjectPtr delegate_;
  SXRequestFinishedCallback isFinished_;
  Ref<net::URLConnection> connection_;
  Ref<net::HTTPURLResponse> response_;
  Ref<MutableDictionary> headers_;
  Ref<MutableData> data_;
  std::optional<std::string> result_;
  Ref<Error> error_;
  Ref<Error> refusedRedirect_;
  bool success_ = false;
  bool finished_ = false;
};

}  // namespace zv
