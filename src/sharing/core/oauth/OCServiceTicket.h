#pragma once
// What a fetch reports with its outcome: the request, the response head (when one came) and
// whether the exchange succeeded (an HTTP status below 400). The fetchers never set `data`.
// Made and read on the fetch's thread.

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/net/URLResponse.h"
#include "sharing/core/oauth/OCMutableURLRequest.h"

namespace zv {

class OCServiceTicket : public Object {
 public:
  static Ref<OCServiceTicket> make(Ref<OCMutableURLRequest> request, Ref<net::URLResponse> response, bool didSucceed,
                                   Ref<Data> data = nullptr) {
    return std::make_shared<OCServiceTicket>(std::move(request), std::move(response), didSucceed, std::move(data));
  }

  const Ref<OCMutableURLRequest>& request() const { return request_; }
  const Ref<net::URLResponse>& response() const { return response_; }
  const Ref<Data>& data() const { return data_; }
  bool didSucceed() const { return didSucceed_; }
  // `data` as UTF-8 text; nullopt when there is no data (or it is not UTF-8).
  std::optional<std::string> body() const;

  OCServiceTicket(Ref<OCMutableURLRequest> request, Ref<net::URLResponse> response, bool didSucceed, Ref<Data> data)
      : request_(std::move(request)), response_(std::move(response)), data_(std::move(data)), didSucceed_(didSucceed) {}

 private:
  Ref<OCMutableURLRequest> request_;
  Ref<net::URLResponse> response_;
  Ref<Data> data_;
  bool didSucceed_;
};

// Callbacks of both fetchers: exactly one of them runs per fetch.
using OCFetchFinishCallback = std::function<void(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data)>;
using OCFetchFailCallback = std::function<void(const Ref<OCServiceTicket>& ticket, const Ref<Error>& error)>;

namespace oauth_fetching {
// Status below 400; a response without a status (not HTTP) counts as 0.
bool isSuccessfulResponse(const Ref<net::URLResponse>& response);
}  // namespace oauth_fetching

}  // namespace zv
