#include "sharing/services/flickr/FlickrAPIRequest.h"

#include <charconv>
#include <set>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "http/HTTPFormDataRequest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/String.h"
#include "platform/storage/AtomicFile.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/services/flickr/FKXMLMapper.h"
#include "sharing/services/flickr/FlickrUtilities.h"

namespace zv {

namespace {

constexpr const char* kFetchRequestTokenTag = "FetchOAuthRequestToken";
constexpr const char* kFetchAccessTokenTag = "FetchOAuthAccessToken";

const std::set<std::string_view>& answeredSelectors() {
  static const std::set<std::string_view> selectors = {"httpRequestDidComplete", "httpRequestDidFailWithError",
                                                       "httpRequestSentBytes"};
  return selectors;
}

std::string joinFields(const Dictionary& fields, bool escapeKeys) {
  std::string body;
  fields.enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    if (!body.empty()) body += '&';
    const auto name = key ? key->description() : std::string();
    body += (escapeKeys ? percentEncode(name, "-_.!~*'();/?:@&=+$,") : name) + "=" +
            FKOAuthEscapedString(value ? value->description() : std::string());
    return true;
  });
  return body;
}

std::string tagOf(const ObjectPtr& info) {
  auto text = std::dynamic_pointer_cast<String>(info);
  return text ? text->utf8() : std::string();
}

}  // namespace

Ref<FlickrAPIRequest> FlickrAPIRequest::initWithAPIContext(Ref<FlickrAPIContext> context) {
  auto request = std::make_shared<FlickrAPIRequest>(std::move(context));
  request->http_->setDelegate(std::static_pointer_cast<RLHTTPRequestDelegate>(request));
  return request;
}

FlickrAPIRequest::FlickrAPIRequest(Ref<FlickrAPIContext> context)
    : context_(std::move(context)), http_(RLHTTPRequest::make()) {}

FlickrAPIRequest::~FlickrAPIRequest() {
  http_->cancelWithoutDelegateMessage();
  removeUploadFile();
}

bool FlickrAPIRequest::respondsToSelector(std::string_view selector) const {
  return answeredSelectors().contains(selector) || Object::respondsToSelector(selector);
}

Ref<FlickrAPIRequestDelegate> FlickrAPIRequest::liveDelegate(std::string_view selector) const {
  auto delegate = delegate_.lock();
  return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

Ref<Error> FlickrAPIRequest::clientError(std::int64_t code, std::optional<std::string> failureReason) {
  if (!failureReason) return Error::make(kFlickrClientErrorDomain, code);
  return Error::make(kFlickrClientErrorDomain, code,
                     Dictionary::make({{kLocalizedFailureReasonKey, String::make(*failureReason)}}));
}

void FlickrAPIRequest::removeUploadFile() {
  if (uploadTempFilename_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(uploadTempFilename_, ignored);
  uploadTempFilename_.clear();
}

void FlickrAPIRequest::cancel() {
  http_->cancelWithoutDelegateMessage();
  removeUploadFile();
}

bool FlickrAPIRequest::fetchOAuthRequestTokenWithCallbackURL(const Ref<URL>& callbackURL) {
  if (isRunning() || !callbackURL) return false;
  auto arguments = Dictionary::make({{"oauth_callback", String::make(callbackURL->absoluteString())}});
  auto url = URL::make(context_->oauthURLFromBaseURL(
      std::string("https://") + kFlickrWebHost + "/services/oauth/request_token", "GET", arguments.get()));
  http_->setContentType(std::nullopt);
  http_->setSessionInfo(String::make(kFetchRequestTokenTag));
  if (http_->performMethod("GET", url, Ref<Data>())) return true;
  http_->setSessionInfo(nullptr);
  return false;
}

bool FlickrAPIRequest::fetchOAuthAccessTokenWithRequestToken(const std::string& token, const std::string& verifier) {
  if (isRunning()) return false;
  auto arguments = Dictionary::make({{"oauth_token", String::make(token)}, {"oauth_verifier", String::make(verifier)}});
  auto url = URL::make(context_->oauthURLFromBaseURL(
      std::string("https://") + kFlickrWebHost + "/services/oauth/access_token", "GET", arguments.get()));
  http_->setContentType(std::nullopt);
  http_->setSessionInfo(String::make(kFetchAccessTokenTag));
  if (http_->performMethod("GET", url, Ref<Data>())) return true;
  http_->setSessionInfo(nullptr);
  return false;
}

bool FlickrAPIRequest::callAPIMethodWithGET(const std::string& method, const Dictionary* arguments) {
  if (isRunning()) return false;
  auto all = MutableDictionary::make();
  if (arguments) all->addEntriesFromDictionary(*arguments);
  all->setObject(String::make(method), "method");
  const auto& endpoint = context_->RESTAPIEndpoint();
  auto url = URL::make(context_->hasOAuthCredentials() ? context_->oauthURLFromBaseURL(endpoint, "GET", all.get())
                                                       : endpoint + "?" + context_->signedQueryFromArguments(all.get()));
  if (!url) return false;
  http_->setContentType(std::nullopt);
  http_->setSessionInfo(nullptr);
  return http_->performMethod("GET", url, Ref<Data>());
}

bool FlickrAPIRequest::callAPIMethodWithPOST(const std::string& method, const Dictionary* arguments) {
  if (isRunning()) return false;
  auto all = MutableDictionary::make();
  if (arguments) all->addEntriesFromDictionary(*arguments);
  all->setObject(String::make(method), "method");
  const auto& endpoint = context_->RESTAPIEndpoint();
  std::string body = context_->hasOAuthCredentials()
                         ? joinFields(*context_->signedOAuthHTTPQueryArguments(all.get(), endpoint, "POST"), true)
                         : context_->signedQueryFromArguments(all.get());
  auto url = URL::make(endpoint);
  if (!url) return false;
  http_->setContentType(std::string(kRLHTTPFormContentType));
  http_->setSessionInfo(nullptr);
  return http_->performMethod("POST", url, Data::make(body));
}

bool FlickrAPIRequest::uploadImageStream(const Ref<net::InputStream>& stream, const std::string& suggestedFilename,
                                         const std::string& MIMEType, const Dictionary* arguments) {
  if (isRunning() || !stream) return false;
  std::vector<FlickrAPIContext::Component> fields;
  if (context_->hasOAuthCredentials()) {
    auto empty = Dictionary::make();
    auto signedFields = context_->signedOAuthHTTPQueryArguments(arguments ? arguments : empty.get(),
                                                                context_->uploadEndpoint(), "POST");
    signedFields->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      fields.emplace_back(key->description(), value ? value->description() : std::string());
      return true;
    });
  } else {
    if (context_->authToken().empty()) return false;
    fields = context_->signedArgumentComponentsFromArguments(arguments, false);
  }
  const std::string boundary = FKNewUUIDString();
  std::string head;
  // Names and the type are escaped as the form request does: a quote or a line break in a title
  // must not end the quoted name or start a header line of its own.
  for (const auto& [name, value] : fields) {
    head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + escapeQuotedMultipartParameter(name) +
            "\"\r\n\r\n" + value + "\r\n";
  }
  head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"" +
          escapeQuotedMultipartParameter(suggestedFilename.empty() ? FKNewUUIDString() : suggestedFilename) + "\"\r\n";
  head += "Content-Type: " + escapeQuotedMultipartParameter(MIMEType) + "\r\n\r\n";
  const std::string tail = "\r\n--" + boundary + "--";

  removeUploadFile();
  const auto directory = ApplicationEnvironment::shared().processTemporaryDirectory();
  std::error_code ignored;
  storage::createPrivateFolders(directory, ignored);
  const std::string path = (directory / ("org.quenvar.FlickrClient.upload." + FKNewUUIDString())).string();
  // The body holds the token and the signature: readable by this user only.
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  std::FILE* file = descriptor >= 0 ? ::fdopen(descriptor, "wb") : nullptr;
  if (!file) {
    if (descriptor >= 0) {
      ::close(descriptor);
      std::filesystem::remove(path, ignored);
    }
    return false;
  }
  uploadTempFilename_ = path;
  bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
  // Copy to the stream's end: a stream that has nothing yet (would block) is asked again, until it
  // makes no progress for the request's time-out.
  if (ok && !stream->open()) ok = false;
  std::vector<std::uint8_t> chunk(kFlickrUploadChunk);
  double lastProgress = Clock::current()->monotonic();
  while (ok) {
    const long count = stream->read(chunk.data(), chunk.size());
    if (count == 0) break;
    if (count == net::InputStream::kReadWouldBlock) {
      if (Clock::current()->monotonic() - lastProgress > requestTimeoutInterval()) ok = false;
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (count < 0) {
      ok = false;
      break;
    }
    ok = std::fwrite(chunk.data(), 1, static_cast<std::size_t>(count), file) == static_cast<std::size_t>(count);
    lastProgress = Clock::current()->monotonic();
  }
  stream->close();
  ok = ok && std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    removeUploadFile();
    return false;
  }
  const auto size = std::filesystem::file_size(path, ignored);
  auto body = net::InputStream::withFileAtPath(path);
  http_->setContentType("multipart/form-data; boundary=" + boundary);
  http_->setSessionInfo(nullptr);
  if (ignored || !body || !http_->performMethod("POST", URL::make(context_->uploadEndpoint()), body, size)) {
    removeUploadFile();
    return false;
  }
  return true;
}

void FlickrAPIRequest::reportFailure(const Ref<Error>& error) {
  if (auto delegate = liveDelegate("flickrAPIRequestDidFailWithError")) delegate->flickrAPIRequestDidFailWithError(*this, error);
}

void FlickrAPIRequest::httpRequestDidComplete(RLHTTPRequest& request) {
  auto hold = self();
  const auto tag = tagOf(request.sessionInfo());
  auto body = request.getReceivedDataAndDetachFromRequest();
  if (tag == kFetchRequestTokenTag || tag == kFetchAccessTokenTag) {
    request.setSessionInfo(nullptr);
    handleTokenReply(tag == kFetchAccessTokenTag, std::string(body->view()));
  } else {
    handleAPIReply(body);
  }
}

void FlickrAPIRequest::handleTokenReply(bool accessToken, const std::string& body) {
  // A malformed piece does not spoil the others: the reply is usable when the values it must
  // carry are there.
  auto values = MutableDictionary::make();
  std::size_t start = 0;
  while (start <= body.size()) {
    auto end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    if (auto piece = FKQueryDictionaryFromString(std::string_view(body).substr(start, end - start))) {
      values->addEntriesFromDictionary(*piece);
    }
    start = end + 1;
  }
  auto value = [&](const char* key) { return values->stringForKey(key).value_or(""); };
  auto present = [&](std::initializer_list<const char*> keys) {
    for (auto key : keys) {
      if (value(key).empty()) return false;
    }
    return true;
  };
  if (!accessToken && present({"oauth_token", "oauth_token_secret"})) {
    if (auto delegate = liveDelegate("flickrAPIRequestDidObtainOAuthRequestToken")) {
      delegate->flickrAPIRequestDidObtainOAuthRequestToken(*this, value("oauth_token"), value("oauth_token_secret"));
    }
    return;
  }
  if (accessToken && present({"fullname", "oauth_token", "oauth_token_secret", "user_nsid", "username"})) {
    if (auto delegate = liveDelegate("flickrAPIRequestDidObtainOAuthAccessToken")) {
      delegate->flickrAPIRequestDidObtainOAuthAccessToken(*this, value("oauth_token"), value("oauth_token_secret"),
                                                          value("fullname"), value("username"), value("user_nsid"));
    }
    return;
  }
  reportFailure(Error::make(kFlickrClientErrorDomain, kFlickrClientOAuthError,
                            Dictionary::make({{"OAuthError", String::make(body)}})));
}

void FlickrAPIRequest::handleAPIReply(const Ref<Data>& body) {
  auto mapped = FKXMLMapper::dictionaryMappedFromXMLData(body);
  auto rsp = mapped ? mapped->objectForKeyAs<Dictionary>("rsp") : nullptr;
  if (rsp && rsp->stringForKey("stat") == "ok") {
    removeUploadFile();
    if (auto delegate = liveDelegate("flickrAPIRequestDidCompleteWithResponse")) {
      delegate->flickrAPIRequestDidCompleteWithResponse(*this, rsp);
    }
    return;
  }
  auto err = rsp ? rsp->objectForKeyAs<Dictionary>("err") : nullptr;
  const auto code = err ? err->stringForKey("code").value_or("") : std::string();
  std::int64_t number = 0;
  auto [end, failure] = std::from_chars(code.data(), code.data() + code.size(), number);
  if (code.empty() || failure != std::errc() || end != code.data() + code.size()) {
    return reportFailure(clientError(kFlickrClientBadReply));
  }
  const auto message = err->stringForKey("msg").value_or("");
  reportFailure(message.empty() ? Error::make(kFlickrServiceErrorDomain, number)
                                : Error::make(kFlickrServiceErrorDomain, number,
                                              Dictionary::make({{kLocalizedFailureReasonKey, String::make(message)}})));
}

void FlickrAPIRequest::httpRequestDidFailWithError(RLHTTPRequest& request, const std::string& error) {
  auto hold = self();
  request.setSessionInfo(nullptr);
  Ref<Error> failure;
  if (error == kRLHTTPRequestConnectionLost) {
    failure = clientError(kFlickrClientConnectionLost, "Network connection error");
  } else if (error == kRLHTTPRequestTimeout) {
    failure = clientError(kFlickrClientTimeout, "Request timeout");
  } else if (error == kRLHTTPRequestDataTooLong) {
    failure = clientError(kFlickrClientBadReply, "The reply is larger than the most allowed");
  } else {
    failure = clientError(kFlickrClientUnknownError, "Unknown error");
  }
  removeUploadFile();
  reportFailure(failure);
}

void FlickrAPIRequest::httpRequestSentBytes(RLHTTPRequest&, std::uint64_t sent, std::uint64_t total) {
  if (uploadTempFilename_.empty()) return;
  if (auto delegate = liveDelegate("flickrAPIRequestImageUploadSentBytes")) {
    delegate->flickrAPIRequestImageUploadSentBytes(*this, sent, total);
  }
}

}  // namespace zv
