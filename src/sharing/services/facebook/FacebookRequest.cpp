#include "sharing/services/facebook/FacebookRequest.h"

#include "http/HTTPFormDataRequest.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "sharing/json/SJSON.h"

namespace zv {

namespace {

bool isFileValue(const ObjectPtr& value) { return dyn<graphics::Image>(value) || dyn<Data>(value); }

constexpr const char* kNotJSONMessage = "The service's reply is not JSON";

Ref<Dictionary> messageInfo(std::string message) {
  return Dictionary::make({{"error_msg", box(std::move(message))}});
}

}  // namespace

Ref<FacebookRequest> FacebookRequest::getRequestWithParams(Ref<MutableDictionary> params, std::string httpMethod,
                                                           std::weak_ptr<FacebookRequestDelegate> delegate,
                                                           std::string requestURL) {
  auto request = std::make_shared<FacebookRequest>();
  request->params_ = params ? std::move(params) : MutableDictionary::make();
  request->httpMethod_ = std::move(httpMethod);
  request->delegate_ = std::move(delegate);
  request->url_ = std::move(requestURL);
  return request;
}

FacebookRequest::~FacebookRequest() {
  if (connection_) connection_->cancel();
}

std::string FacebookRequest::escapeQueryComponent(std::string_view text) { return percentEncode(text, "-._~"); }

std::string FacebookRequest::serializeURL(const std::string& base, const Ref<Dictionary>& params,
                                          const std::string& httpMethod) {
  auto parsed = URL::make(base);
  const char* prefix = parsed && parsed->query() ? "&" : "?";
  std::string pairs;
  if (params) {
    params->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      if (isFileValue(value)) {
        if (httpMethod == "GET") logDebug("can not use GET to upload a file");
        return true;
      }
      if (!pairs.empty()) pairs += '&';
      pairs += escapeQueryComponent(stringValueOf(key).value_or(""));
      pairs += '=';
      pairs += escapeQueryComponent(stringValueOf(value).value_or(""));
      return true;
    });
  }
  return base + prefix + pairs;
}

Ref<Data> FacebookRequest::generatePostBody(std::string* boundaryOut) const {
  std::vector<std::string> parts;
  std::vector<std::pair<std::string, ObjectPtr>> files;
  params_->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    auto name = stringValueOf(key).value_or("");
    if (isFileValue(value)) {
      files.emplace_back(name, value);
      return true;
    }
    parts.push_back("Content-Disposition: form-data; name=\"" + escapeQuotedMultipartParameter(name) + "\"\r\n\r\n" +
                    stringValueOf(value).value_or(""));
    return true;
  });
  for (const auto& [name, value] : files) {
    const auto quoted = escapeQuotedMultipartParameter(name);
    std::string part = "Content-Disposition: form-data; name=\"" + quoted + "\"; filename=\"" + quoted + "\"\r\n";
    if (auto image = dyn<graphics::Image>(value)) {
      auto png = graphics::imagePNGRepresentation(image);
      part += "Content-Type: image/png\r\n\r\n";
      if (png) part += png->view();
    } else {
      part += "Content-Type: content/unknown\r\n\r\n";
      part += dyn<Data>(value)->view();
    }
    parts.push_back(std::move(part));
  }
  // A value holding the boundary would end its part early and could add parts of its own: the
  // boundary grows until no part holds it.
  std::string boundary = kFacebookMultipartBoundary;
  const auto held = [&](const std::string& candidate) {
    for (const auto& part : parts) {
      if (part.find(candidate) != std::string::npos) return true;
    }
    return false;
  };
  for (int round = 0; held(boundary); ++round) boundary = kFacebookMultipartBoundary + std::string("x") + std::to_string(round);
  if (boundaryOut) *boundaryOut = boundary;
  std::string body = "--" + boundary + "\r\n";
  if (parts.empty()) return Data::make("--" + boundary + "--\r\n");
  for (std::size_t i = 0; i < parts.size(); ++i) {
    body += parts[i];
    body += "\r\n--" + boundary + (i + 1 == parts.size() ? "--\r\n" : "\r\n");
  }
  return Data::make(body);
}

Ref<Error> FacebookRequest::formError(std::int64_t code, Ref<Dictionary> userInfo) {
  return Error::make(kFacebookErrorDomain, code, std::move(userInfo));
}

ObjectPtr FacebookRequest::parseJsonResponse(const Data& data, Ref<Error>* error) {
  auto fail = [&](std::int64_t code, Ref<Dictionary> info) -> ObjectPtr {
    if (error) *error = formError(code, std::move(info));
    return nullptr;
  };
  if (error) *error = nullptr;
  const std::string_view text = data.view();
  if (text == "true") return Dictionary::make({{"result", box("true")}});
  if (text == "false") return fail(kFacebookGeneralErrorCode, messageInfo("This operation can not be completed"));

  SJSON json;
  auto result = json.objectWithString(String::make(text));
  // A reply that is not JSON is never a success: an HTML error page or a cut body must not pass.
  if (!result) return fail(kFacebookGeneralErrorCode, messageInfo(kNotJSONMessage));
  auto dictionary = dyn<Dictionary>(result);
  if (!dictionary) return result;
  if (dictionary->objectForKey("error")) return fail(kFacebookGeneralErrorCode, dictionary);
  if (auto code = dictionary->objectForKey("error_code")) {
    auto value = integerValueOf(code);
    return fail(value != 0 ? value : kFacebookGeneralErrorCode, dictionary);
  }
  if (dictionary->objectForKey("error_msg") || dictionary->objectForKey("error_reason")) {
    if (error) *error = formError(kFacebookGeneralErrorCode, dictionary);
    return result;
  }
  return result;
}

Ref<FacebookRequestDelegate> FacebookRequest::liveDelegate(std::string_view selector) const {
  auto delegate = delegate_.lock();
  return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

void FacebookRequest::setState(unsigned state) {
  state_ = state;
  auto hold = self();
  auto observers = observers_;  // an observer may remove itself
  for (const auto& [token, observer] : observers) observer(*this);
}

int FacebookRequest::addStateObserver(StateObserver observer) {
  const int token = nextObserverToken_++;
  observers_.emplace_back(token, std::move(observer));
  return token;
}

void FacebookRequest::removeStateObserver(int token) {
  std::erase_if(observers_, [token](const auto& entry) { return entry.first == token; });
}

void FacebookRequest::connect() {
  auto hold = self();
  if (auto delegate = liveDelegate("requestLoading")) delegate->requestLoading(*this);

  // A POST carries its parameters in the body only: the token must not travel in the URL too.
  const bool post = httpMethod_ == "POST";
  const auto address = post ? url_ : serializeURL(url_, params_, httpMethod_);
  auto url = URL::make(address);
  sessionDidExpire_ = false;
  statusCode_ = 0;
  if (!url) {
    setState(FacebookRequestStateLoading);
    failWithError(formError(kFacebookGeneralErrorCode, messageInfo("The request's address is not a URL")));
    setState(FacebookRequestStateFinished);
    return;
  }
  auto request = net::MutableURLRequest::requestWithURL(url, net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                                        kFacebookRequestTimeout);
  request->setValueForHTTPHeaderField(kFacebookUserAgent, "User-Agent");
  request->setHTTPMethod(httpMethod_);
  if (post) {
    std::string boundary;
    auto body = generatePostBody(&boundary);
    request->setValueForHTTPHeaderField("multipart/form-data; boundary=" + boundary, "Content-Type");
    request->setHTTPBody(body);
  }
  connection_ = net::URLConnection::make(request, std::dynamic_pointer_cast<net::URLConnectionDelegate>(hold));
  setState(FacebookRequestStateLoading);
}

void FacebookRequest::cancel() {
  if (!connection_) return;
  auto hold = self();
  connection_->cancel();
  connection_ = nullptr;
  setState(FacebookRequestStateFinished);
}

void FacebookRequest::failWithError(const Ref<Error>& error) {
  if (error && error->domain() == kFacebookErrorDomain && error->code() == kFacebookExpiredSessionErrorCode) {
    sessionDidExpire_ = true;
  }
  if (auto delegate = liveDelegate("requestDidFailWithError")) delegate->requestDidFailWithError(*this, error);
}

void FacebookRequest::handleResponseData(const Ref<Data>& data) {
  if (auto delegate = liveDelegate("requestDidLoadRawResponse")) delegate->requestDidLoadRawResponse(*this, data);
  Ref<Error> error;
  auto result = parseJsonResponse(*data, &error);
  const bool errorStatus = statusCode_ != 0 && (statusCode_ < 200 || statusCode_ > 299);
  const bool notJSON = error && error->userInfo() && error->userInfo()->stringForKey("error_msg") == kNotJSONMessage;
  if (errorStatus && (!error || notJSON)) {
    // An error page, or JSON that does not say what went wrong: the status is what we know.
    error = formError(kFacebookGeneralErrorCode,
                      Dictionary::make({{"error_msg", box(format("The service answered HTTP %d", statusCode_))},
                                        {"http_status", box(statusCode_)}}));
  }
  error_ = error;
  auto delegate = delegate_.lock();
  if (!delegate || (!delegate->respondsToSelector("requestDidLoad") &&
                    !delegate->respondsToSelector("requestDidFailWithError"))) {
    return;
  }
  if (error) {
    failWithError(error);
  } else if (auto loaded = liveDelegate("requestDidLoad")) {
    loaded->requestDidLoad(*this, result);
  }
}

void FacebookRequest::connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) {
  response_.clear();
  hasResponse_ = true;
  if (auto http = dyn<net::HTTPURLResponse>(response)) statusCode_ = http->statusCode();
  if (auto delegate = liveDelegate("requestDidReceiveResponse")) delegate->requestDidReceiveResponse(*this, response);
}

void FacebookRequest::connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) {
  hasResponse_ = true;
  response_ += data->view();
}

void FacebookRequest::finishLoad() {
  response_.clear();
  response_.shrink_to_fit();
  hasResponse_ = false;
  connection_ = nullptr;
  setState(FacebookRequestStateFinished);
}

void FacebookRequest::connectionDidFinishLoading(net::URLConnection&) {
  auto hold = self();
  handleResponseData(Data::make(response_));
  finishLoad();
}

void FacebookRequest::connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) {
  auto hold = self();
  failWithError(error);
  finishLoad();
}

std::string FacebookRequest::description() const {
  auto url = URL::make(url_);
  std::string where = url ? url->lowercaseScheme().value_or("") + "://" + url->host().value_or("") + url->encodedPath()
                          : std::string("<bad URL>");
  return format("<FacebookRequest %s %s, %zu parameters, state %u, status %d>", httpMethod_.c_str(), where.c_str(),
                params_ ? params_->count() : 0, state_, statusCode_);
}

}  // namespace zv
