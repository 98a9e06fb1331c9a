#include "sharing/core/oauth/OCDataFetcher.h"

#include "platform/net/URLConnection.h"

namespace zv {

void OCDataFetcher::fetchDataWithRequest(const Ref<OCMutableURLRequest>& request, const ObjectPtr&,
                                         const OCFetchFinishCallback& didFinishSelector,
                                         const OCFetchFailCallback& didFailSelector) {
  request_ = request;
  response_ = nullptr;
  error_ = nullptr;
  request->prepare();
  responseData_ = net::URLConnection::sendSynchronousRequest(request, &response_, &error_);
  if (response_ && responseData_ && !error_) {
    auto ticket = OCServiceTicket::make(request, response_, oauth_fetching::isSuccessfulResponse(response_));
    if (didFinishSelector) didFinishSelector(ticket, responseData_);
  } else {
    auto ticket = OCServiceTicket::make(request, response_, false);
    if (didFailSelector) didFailSelector(ticket, error_);
  }
}

}  // namespace zv
