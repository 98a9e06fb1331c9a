#include "sharing/core/oauth/OCServiceTicket.h"

#include "platform/foundation/Unicode.h"

namespace zv {

std::optional<std::string> OCServiceTicket::body() const {
  if (!data_ || !unicode::isValidUTF8(data_->view())) return std::nullopt;
  return std::string(data_->view());
}

namespace oauth_fetching {
bool isSuccessfulResponse(const Ref<net::URLResponse>& response) {
  auto http = dyn<net::HTTPURLResponse>(response);
  return (http ? http->statusCode() : 0) < 400;
}
}  // namespace oauth_fetching

}  // namespace zv
