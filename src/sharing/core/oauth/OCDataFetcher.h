#pragma once
// Signs a request and loads it synchronously, blocking the caller for the whole exchange, then
// reports once: the finish callback with (ticket, data) when a response and data came without an
// error (`didSucceed` = status below 400), otherwise the fail callback with (ticket, error).
// Any thread; nothing is shared.

#include "sharing/core/oauth/OCServiceTicket.h"

namespace zv {

class OCDataFetcher : public Object {
 public:
  void fetchDataWithRequest(const Ref<OCMutableURLRequest>& request, const ObjectPtr& delegate,
                            const OCFetchFinishCallback& didFinishSelector, const OCFetchFailCallback& didFailSelector);

  const Ref<OCMutableURLRequest>& request() const { return request_; }
  const Ref<net::URLResponse>& response() const { return response_; }
  const Ref<Error>& error() const { return error_; }
  const Ref<Data>& responseData() const { return responseData_; }

 private:
  Ref<OCMutableURLRequest> request_;
  Ref<net::URLResponse> response_;
  Ref<Error> error_;
  Ref<Data> responseData_;
};

}  // namespace zv
