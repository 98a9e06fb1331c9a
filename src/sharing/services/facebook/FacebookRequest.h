#pragma once
// One HTTP call of the Facebook client to the Graph API or the REST API: the parameters go into
// the URL query (GET) or into a multipart body (POST, with images as PNG file parts and raw data
// as plain file parts), one URL connection runs it, and the JSON reply becomes a result object or
// an error in "facebookErrDomain". A reply with an HTTP error status, or one that is not JSON,
// is always a failure.
//
// Threads: create, connect and cancel on one thread (the main thread here); the delegate calls
// and the state observers run there, on its run loop. Ownership: the delegate is not retained;
// the running connection retains the request until the load ends; the client keeps the requests
// it started until they finish.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/net/URLConnection.h"

namespace zv {

class FacebookRequest;

inline constexpr const char* kFacebookErrorDomain = "facebookErrDomain";
inline constexpr std::int64_t kFacebookGeneralErrorCode = 10000;
inline constexpr std::int64_t kFacebookExpiredSessionErrorCode = 190;
inline constexpr const char* kFacebookMultipartBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";
inline constexpr const char* kFacebookUserAgent = "FacebookConnect";
inline constexpr double kFacebookRequestTimeout = 180.0;

// Request events; all optional, each made only when the delegate answers respondsToSelector with
// the method's name.
class FacebookRequestDelegate : public Protocol {
 public:
  virtual void requestLoading(FacebookRequest& request) { (void)request; }
  virtual void requestDidReceiveResponse(FacebookRequest& request, const Ref<net::URLResponse>& response) {
    (void)request, (void)response;
  }
  virtual void requestDidFailWithError(FacebookRequest& request, const Ref<Error>& error) { (void)request, (void)error; }
  virtual void requestDidLoad(FacebookRequest& request, const ObjectPtr& result) { (void)request, (void)result; }
  virtual void requestDidLoadRawResponse(FacebookRequest& request, const Ref<Data>& data) { (void)request, (void)data; }
};

enum FacebookRequestState : unsigned {
  FacebookRequestStateNotStarted = 0,
  FacebookRequestStateLoading = 1,
  FacebookRequestStateFinished = 2,  // with success or failure
};

class FacebookRequest : public Object, public net::URLConnectionDelegate {
 public:
  using StateObserver = std::function<void(FacebookRequest& request)>;

  static Ref<FacebookRequest> getRequestWithParams(Ref<MutableDictionary> params, std::string httpMethod,
                                                   std::weak_ptr<FacebookRequestDelegate> delegate,
                                                   std::string requestURL);

  // `base` with the text parameters as a query ("?" or, when `base` has a query, "&"); names and
  // values are percent-escaped (UTF-8; only letters, digits and "-._~" stay). Image and raw-data
  // values are left out (logged for a GET).
  static std::string serializeURL(const std::string& base, const Ref<Dictionary>& params,
                                  const std::string& httpMethod = "GET");
  // The escaping of one query name or value.
  static std::string escapeQueryComponent(std::string_view text);

  // Starts the load: requestLoading, then the connection; state 1.
  void connect();
  // Stops a running load; the delegate hears nothing more and the state becomes 2.
  void cancel();
  bool loading() const { return connection_ != nullptr; }

  // The multipart body: text parts first, then one file part per image (PNG) or data value, each
  // part named, closed by the final boundary. The boundary is kFacebookMultipartBoundary, made
  // longer when a part holds it; it goes to `boundary` when given.
  Ref<Data> generatePostBody(std::string* boundary = nullptr) const;
  static Ref<Error> formError(std::int64_t code, Ref<Dictionary> userInfo);
  // The reply body as a result (see the .cpp for the rules); nullptr with `error` set on failure.
  static ObjectPtr parseJsonResponse(const Data& data, Ref<Error>* error);
  void failWithError(const Ref<Error>& error);
  void handleResponseData(const Ref<Data>& data);

  // Observers of the state; each is called after every change. Returns a token for removal.
  int addStateObserver(StateObserver observer);
  void removeStateObserver(int token);

  std::weak_ptr<FacebookRequestDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<FacebookRequestDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::string& url() const { return url_; }
  const std::string& httpMethod() const { return httpMethod_; }
  const Ref<MutableDictionary>& params() const { return params_; }
  const Ref<net::URLConnection>& connection() const { return connection_; }
  // The reply body gathered so far; nullptr before a response came.
  Ref<Data> responseText() const { return hasResponse_ ? Data::make(response_) : nullptr; }
  const Ref<Error>& error() const { return error_; }
  unsigned state() const { return state_; }
  bool sessionDidExpire() const { return sessionDidExpire_; }
  // The HTTP status of the reply; 0 before one came.
  int statusCode() const { return statusCode_; }

  // Never logs parameters or the URL's query (they carry the access token).
  std::string description() const override;

  void connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) override;
  void connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) override;

  ~FacebookRequest() override;

 private:
  Ref<FacebookRequestDelegate> liveDelegate(std::string_view selector) const;
  void setState(unsigned state);
  void finishLoad();

  std::weak_ptr<FacebookRequestDelegate> delegate_;
  std::string url_;
  std::string httpMethod_;
  Ref<MutableDictionary> params_;
  Ref<net::URLConnection> connection_;
  std::string response_;
  bool hasResponse_ = false;
  unsigned state_ = FacebookRequestStateNotStarted;
  Ref<Error> error_;
  bool sessionDidExpire_ = false;
  int statusCode_ = 0;
  int nextObserverToken_ = 1;
  std::vector<std::pair<int, StateObserver>> observers_;
};

}  // namespace zv
