#include "sharing/core/oauth/OCAsynchronousDataFetcher.h"

namespace zv {

// The connection's delegate; it holds the fetcher, so the connection keeps the fetcher alive.
class OCAsynchronousDataFetcher::ConnectionDelegate : public net::URLConnectionDelegate {
 public:
  explicit ConnectionDelegate(Ref<OCAsynchronousDataFetcher> fetcher) : fetcher_(std::move(fetcher)) {}
  void connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) override {
    fetcher_->connectionDidReceiveResponse(response);
  }
  void connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) override {
    fetcher_->connectionDidReceiveData(data);
  }
  void connectionDidFinishLoading(net::URLConnection&) override { fetcher_->connectionDidFinishLoading(); }
  void connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) override {
    fetcher_->connectionDidFailWithError(error);
  }

 private:
  Ref<OCAsynchronousDataFetcher> fetcher_;
};

Ref<OCAsynchronousDataFetcher> OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
    Ref<OCMutableURLRequest> request, ObjectPtr delegate, OCFetchFinishCallback didFinishSelector,
    OCFetchFailCallback didFailSelector) {
  return std::make_shared<OCAsynchronousDataFetcher>(std::move(request), std::move(delegate),
                                                     std::move(didFinishSelector), std::move(didFailSelector));
}

OCAsynchronousDataFetcher::OCAsynchronousDataFetcher(Ref<OCMutableURLRequest> request, ObjectPtr delegate,
                                                     OCFetchFinishCallback didFinish, OCFetchFailCallback didFail)
    : request_(std::move(request)),
      delegate_(std::move(delegate)),
      didFinishSelector_(std::move(didFinish)),
      didFailSelector_(std::move(didFail)) {}

void OCAsynchronousDataFetcher::start() {
  request_->prepare();
  if (connection_) connection_->cancel();
  connection_ = nullptr;
  auto delegate = std::make_shared<ConnectionDelegate>(selfAs<OCAsynchronousDataFetcher>());
  connection_ = net::URLConnection::make(request_, delegate);
  if (connection_) {
    responseData_ = MutableData::make();
  } else {
    reportFailure(nullptr);
  }
}

void OCAsynchronousDataFetcher::cancel() {
  if (connection_) connection_->cancel();
  connection_ = nullptr;
}

void OCAsynchronousDataFetcher::connectionDidReceiveResponse(const Ref<net::URLResponse>& response) {
  response_ = response;
  responseData_ = MutableData::make();
}

void OCAsynchronousDataFetcher::connectionDidReceiveData(const Ref<Data>& data) {
  if (!responseData_) responseData_ = MutableData::make();
  if (data) responseData_->append(data->view());
}

void OCAsynchronousDataFetcher::connectionDidFinishLoading() {
  auto ticket = OCServiceTicket::make(request_, response_, oauth_fetching::isSuccessfulResponse(response_));
  auto finish = std::move(didFinishSelector_);
  auto data = responseData_ ? responseData_ : MutableData::make();
  connection_ = nullptr;
  didFailSelector_ = nullptr;
  if (finish) finish(ticket, data);
  delegate_ = nullptr;
}

void OCAsynchronousDataFetcher::connectionDidFailWithError(const Ref<Error>& error) {
  connection_ = nullptr;
  reportFailure(error);
}

void OCAsynchronousDataFetcher::reportFailure(const Ref<Error>& error) {
  auto ticket = OCServiceTicket::make(request_, response_, false);
  auto fail = std::move(didFailSelector_);
  didFinishSelector_ = nullptr;
  if (fail) fail(ticket, error);
  delegate_ = nullptr;
}

}  // namespace zv
