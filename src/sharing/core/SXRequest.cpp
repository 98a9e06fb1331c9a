#include "sharing/core/SXRequest.h"

#include <algorithm>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"

namespace zv {

namespace {
constexpr double kRequestTimeoutSeconds = 90.0;

// The URL for a log line: no user information, query or fragment (passwords and tokens travel
// there).
std::string loggableURL(const Ref<URL>& url) { return loggableURLString(url.get()); }
}

Ref<SXRequest> SXRequest::make(Ref<URL> url, std::optional<std::string> params, ObjectPtr delegate,
                               SXRequestFinishedCallback isFinishedSelector, std::optional<std::string> method,
                               bool autostart) {
  auto request = std::make_shared<SXRequest>(std::move(url), std::move(params), std::move(delegate),
                                             std::move(isFinishedSelector), std::move(method));
  if (autostart) request->start();
  return request;
}

SXRequest::SXRequest(Ref<URL> url, std::optional<std::string> params, ObjectPtr delegate,
                     SXRequestFinishedCallback isFinished, std::optional<std::string> method)
    : url_(std::move(url)),
      params_(std::move(params)),
      method_(std::move(method)),
      delegate_(std::move(delegate)),
      isFinished_(std::move(isFinished)),
      data_(MutableData::make()) {}

void SXRequest::start() {
  if (connection_) connection_->cancel();
  data_ = MutableData::make();
  response_ = nullptr;
  headers_ = nullptr;
  result_.reset();
  error_ = nullptr;
  refusedRedirect_ = nullptr;
  success_ = false;
  finished_ = false;

  auto request = net::MutableURLRequest::requestWithURL(
      url_, net::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData, kRequestTimeoutSeconds);
  if (request && headerFields_) request->setAllHTTPHeaderFields(headerFields_);
  if (request && params_) {
    request->setHTTPBody(Data::make(std::string_view(*params_)));
    // The callers' bodies are forms unless they name another type.
    if (!request->valueForHTTPHeaderField("Content-Type"))
      request->setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  }
  // The method asked for goes out, with or without a body (a DELETE names its target in the URL);
  // none asked for is a GET.
  if (request && method_ && !method_->empty()) request->setHTTPMethod(*method_);
  connection_ = request ? net::URLConnection::make(request, selfAs<SXRequest>(), true) : nullptr;
  if (!connection_) {
    logError("SXRequest: no connection could be made for " + loggableURL(url_));
    finish();
  }
}

bool SXRequest::respondsToSelector(std::string_view selector) const {
  return selector == "connectionWillSendRequestRedirectResponse" || Object::respondsToSelector(selector);
}

bool SXRequest::mayFollowRedirect(const URL& from, const URL& to, const std::vector<std::string>& allowedHosts) {
  if (to.lowercaseScheme() != "https" || !to.host()) return false;
  const auto host = ascii::lowercase(*to.host());
  if (from.host() && ascii::lowercase(*from.host()) == host) return true;
  return std::any_of(allowedHosts.begin(), allowedHosts.end(),
                     [&](const std::string& allowed) { return ascii::lowercase(allowed) == host; });
}

Ref<Error> SXRequest::redirectRefusedError() {
  return Error::make(kSXRequestErrorDomain, kSXRequestErrorRedirectRefused,
                     Dictionary::make({{kLocalizedDescriptionKey,
                                        String::make("The request was redirected to an address it may not be sent to")}}));
}

Ref<Data> SXRequest::sendSynchronousRequest(const Ref<net::URLRequest>& request, Ref<net::URLResponse>* response,
                                            Ref<Error>* error) {
  const Ref<URL> sentTo = request ? request->url() : nullptr;
  return net::URLConnection::sendSynchronousRequest(request, response, error, [sentTo](const URL& target) {
    return sentTo && mayFollowRedirect(*sentTo, target) ? nullptr : redirectRefusedError();
  });
}

Ref<net::URLRequest> SXRequest::connectionWillSendRequestRedirectResponse(net::URLConnection&,
                                                                         const Ref<net::URLRequest>& request,
                                                                         const Ref<net::URLResponse>& redirectResponse) {
  if (!redirectResponse || !request || !request->url()) return request;
  if (url_ && mayFollowRedirect(*url_, *request->url(), allowedRedirectHosts_)) return request;
  // Not followed: the redirect answer ends the load, and the request fails with the refusal.
  logError("SXRequest: a redirect to " + loggableURL(request->url()) + " was not followed");
  refusedRedirect_ = redirectRefusedError();
  return nullptr;
}

void SXRequest::connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) {
  response_ = dyn<net::HTTPURLResponse>(response);
  headers_ = response_ ? dyn<MutableDictionary>(response_->allHeaderFields()->mutableCopy()) : MutableDictionary::make();
  data_ = MutableData::make();
}

void SXRequest::connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) {
  if (data) data_->append(data->data(), data->length());
}

void SXRequest::connectionDidFinishLoading(net::URLConnection&) { finish(); }

void SXRequest::connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) {
  error_ = error;
  finish();
}

void SXRequest::finish() {
  if (finished_) return;
  finished_ = true;
  connection_ = nullptr;
  if (refusedRedirect_ && !error_) error_ = refusedRedirect_;
  int status = response_ ? response_->statusCode() : 0;
  success_ = !error_ && (status == 200 || status == 201);
  // Keep this request and its delegate alive through the callback, then let both go: a callback
  // that captures the sharer holding this request would otherwise keep the two alive for ever.
  auto self = selfAs<SXRequest>();
  auto callback = std::move(isFinished_);
  isFinished_ = nullptr;
  auto delegate = std::move(delegate_);
  delegate_ = nullptr;
  if (callback) callback(self);
}

const std::string& SXRequest::getResult() {
  if (!result_) result_ = String::make(data_ ? data_->view() : std::string_view())->utf8();
  return *result_;
}

std::string SXRequest::description() const {
  std::string method = method_ && !method_->empty() ? *method_ : "GET";
  std::string text = "method: " + method + "\n";
  text += "url: " + loggableURL(url_) + "\n";
  text += "params: " + (params_ ? std::to_string(params_->size()) + " bytes" : std::string("(none)")) + "\n";
  if (response_) {
    int status = response_->statusCode();
    text += "response: " + std::to_string(status) + " " + net::HTTPURLResponse::localizedStringForStatusCode(status) +
            "\n";
  } else {
    text += "response: (none)\n";
  }
  text += "data: " + std::to_string(data_ ? data_->length() : 0) + " bytes";
  return text;
}

}  // namespace zv
