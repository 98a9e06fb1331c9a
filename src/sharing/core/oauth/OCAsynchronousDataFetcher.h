#pragma once
// Signs a request and loads it through a platform URL connection, reporting once to its delegate:
// the finish callback with (ticket, response bytes) when the exchange completes (an HTTP error
// status included, with `didSucceed` NO), or the fail callback with (ticket, error) when the
// connection cannot be made (error nullptr) or fails. The delegate object is kept alive from
// creation until that report; the connection keeps the fetcher alive until it ends.
//
// Threads: create, start and cancel on one thread with a run loop; callbacks arrive on it.

#include "platform/net/URLConnection.h"
#include "sharing/core/oauth/OCServiceTicket.h"

namespace zv {

class OCAsynchronousDataFetcher : public Object {
 public:
  static Ref<OCAsynchronousDataFetcher> asynchronousFetcherWithRequest(Ref<OCMutableURLRequest> request,
                                                                       ObjectPtr delegate,
                                                                       OCFetchFinishCallback didFinishSelector,
                                                                       OCFetchFailCallback didFailSelector);

  // Prepares (signs) the request and opens the connection.
  void start();
  // Cancels and drops the connection; no callback follows.
  void cancel();

  const Ref<OCMutableURLRequest>& request() const { return request_; }
  const Ref<net::URLResponse>& response() const { return response_; }

  OCAsynchronousDataFetcher(Ref<OCMutableURLRequest> request, ObjectPtr delegate, OCFetchFinishCallback didFinish,
                            OCFetchFailCallback didFail);

 private:
  class ConnectionDelegate;
  void connectionDidReceiveResponse(const Ref<net::URLResponse>& response);
  void connectionDidReceiveData(const Ref<Data>& data);
  void connectionDidFinishLoading();
  void connectionDidFailWithError(const Ref<Error>& error);
  void reportFailure(const Ref<Error>& error);

  Ref<OCMutableURLRequest> request_;
  Ref<net::URLResponse> response_;
  Ref<net::URLConnection> connection_;
  Ref<MutableData> responseData_;
  ObjectPtr delegate_;
  OCFetchFinishCallback didFinishSelector_;
  OCFetchFailCallback didFailSelector_;
};

}  // namespace zv
