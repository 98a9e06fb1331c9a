#include "platform/net/URLConnection.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <openssl/evp.h>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/foundation/Values.h"
#include "platform/net/ContentInflater.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/NetErrors.h"
#include "platform/net/ProxyAutoConfig.h"
#include "platform/net/ProxySettings.h"
#include "platform/runloop/Timer.h"

namespace zv::net {

namespace {

constexpr int kMaxRedirects = 16;
// The most of a challenged answer's body held until the challenge is settled.
constexpr std::size_t kMaximumHeldChallengeBodyLength = std::size_t{1} << 20;

std::string base64(std::string_view text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// Stream failures as the URL loading system reports them, with the stream's error underneath.
Ref<Error> urlErrorFor(const Ref<Error>& streamError) {
  if (!streamError) return makeURLError(kURLErrorUnknown, "unknown error");
  std::int64_t code = kURLErrorUnknown;
  std::string text = "The operation could not be completed.";
  if (streamError->domain() == kURLErrorDomain) return streamError;
  if (isTLSError(*streamError)) {
    bool certificate = streamError->code() == kSSLCertChainInvalid || streamError->code() == kSSLCertExpired ||
                       streamError->code() == kSSLCertNotYetValid || streamError->code() == kSSLUnknownRootCert ||
                       streamError->code() == kSSLNoRootCert;
    code = certificate ? kURLErrorServerCertificateUntrusted
                       : (streamError->code() == kSSLBadCert || streamError->code() == kSSLClientCertificateRefused
                            ? kURLErrorClientCertificateRejected
                                                             : kURLErrorSecureConnectionFailed);
    text = streamError->localizedDescription();
  } else if (streamError->domain() == kPOSIXErrorDomain) {
    if (streamError->code() == ECONNREFUSED || streamError->code() == ENETUNREACH ||
        streamError->code() == EHOSTUNREACH) {
      code = kURLErrorCannotConnectToHost;
      text = "Could not connect to the server.";
    } else {
      code = kURLErrorNetworkConnectionLost;
      text = "The network connection was lost.";
    }
  } else if (streamError->domain() == kHTTPStreamErrorDomain) {
    code = streamError->code() == kHTTPStreamProxyFailure ? kURLErrorCannotConnectToHost : kURLErrorCannotParseResponse;
    text = streamError->localizedDescription();
  }
  auto info = MutableDictionary::make();
  info->setObject(String::make(text), kLocalizedDescriptionKey);
  info->setObject(streamError, kUnderlyingErrorKey);
  return Error::make(kURLErrorDomain, code, info);
}

}  // namespace

// --- Credentials and challenges ---

Ref<URLCredential> URLCredential::make(std::string user, std::string password, URLCredentialPersistence persistence) {
  return std::make_shared<URLCredential>(std::move(user), std::move(password), persistence);
}

std::string URLCredential::description() const { return "<URLCredential user=" + user_ + ">"; }

URLAuthenticationChallenge::URLAuthenticationChallenge(URLProtectionSpace space, int previousFailureCount,
                                                       Ref<URLCredential> proposed, Ref<URLResponse> failureResponse,
                                                       std::function<void(int, Ref<URLCredential>)> answer)
    : space_(std::move(space)), previousFailureCount_(previousFailureCount), proposed_(std::move(proposed)),
      failureResponse_(std::move(failureResponse)), answer_(std::move(answer)) {}

void URLAuthenticationChallenge::useCredential(const Ref<URLCredential>& credential) {
  if (auto answer = std::exchange(answer_, nullptr)) answer(0, credential);
}
void URLAuthenticationChallenge::continueWithoutCredential() {
  if (auto answer = std::exchange(answer_, nullptr)) answer(1, nullptr);
}
void URLAuthenticationChallenge::cancel() {
  if (auto answer = std::exchange(answer_, nullptr)) answer(2, nullptr);
}

// --- Delegate defaults ---

Ref<URLRequest> URLConnectionDelegate::connectionWillSendRequestRedirectResponse(URLConnection&,
                                                                                 const Ref<URLRequest>& request,
                                                                                 const Ref<URLResponse>&) {
  return request;
}
void URLConnectionDelegate::connectionDidReceiveAuthenticationChallenge(URLConnection&,
                                                                        const Ref<URLAuthenticationChallenge>& challenge) {
  challenge->continueWithoutCredential();
}
void URLConnectionDelegate::connectionDidReceiveResponse(URLConnection&, const Ref<URLResponse>&) {}
void URLConnectionDelegate::connectionDidReceiveData(URLConnection&, const Ref<Data>&) {}
void URLConnectionDelegate::connectionDidSendBodyData(URLConnection&, std::int64_t, std::int64_t, std::int64_t) {}
void URLConnectionDelegate::connectionDidFinishLoading(URLConnection&) {}
void URLConnectionDelegate::connectionDidFailWithError(URLConnection&, const Ref<Error>&) {}

// --- The connection ---

struct URLConnection::State : std::enable_shared_from_this<State> {
  enum class Phase { Idle, Resolving, Loading, Challenged, Done };

  URLConnection* owner = nullptr;
  Ref<URLConnection> selfRef;
  Ref<URLRequest> originalRequest;
  Ref<URLRequest> request;
  std::shared_ptr<URLConnectionDelegate> delegate;
  Ref<RunLoop> loop;
  std::vector<RunLoopMode> modes;
  Phase phase = Phase::Idle;

  Ref<HTTPReadStream> stream;
  Ref<Timer> timeoutTimer;
  double lastActivity = 0;
  int redirects = 0;
  int authenticationFailures = 0;
  Ref<URLCredential> credential;
  bool triedURLCredential = false;
  ProxyServer proxy;

  // The current answer.
  bool headHandled = false;
  bool discardBody = false;     // a redirect or a challenged answer: its body is nobody's data
  bool holdBody = false;        // a 401 whose challenge is pending: its body may still be wanted
  std::string heldBody;
  std::size_t deliveredBodyLength = 0;  // of the current answer, after decoding
  std::size_t maximumBodyLength = kDefaultMaximumBodyLength;
  Ref<HTTPMessage> head;
  std::unique_ptr<ContentInflater> inflater;
  std::int64_t lastBytesWritten = 0;

  bool respondsTo(std::string_view selector) const { return delegate && delegate->respondsToSelector(selector); }

  Ref<URLConnection> keep() {
    Ref<URLConnection> ref = selfRef;
    if (!ref && owner) ref = owner->selfAs<URLConnection>();
    return ref;
  }

  void touch() { lastActivity = Clock::current()->monotonic(); }

  void armTimeout() {
    if (request->timeoutInterval() <= 0 || !loop) return;
    touch();
    if (timeoutTimer) return;
    std::weak_ptr<State> weak = weak_from_this();
    double interval = std::min(request->timeoutInterval() / 4, 0.25);
    timeoutTimer = Timer::create(interval, true, [weak](Timer&) {
      auto state = weak.lock();
      if (!state || state->phase != Phase::Loading) return;
      if (Clock::current()->monotonic() - state->lastActivity > state->request->timeoutInterval()) {
        state->fail(makeURLError(kURLErrorTimedOut, "The request timed out."));
      }
    });
    for (const auto& mode : modes) loop->addTimer(timeoutTimer, mode);
  }

  void stopStream() {
    if (stream) {
      stream->setClient(0, nullptr);
      stream->close();
      stream = nullptr;
    }
  }

  void end() {
    phase = Phase::Done;
    stopStream();
    if (timeoutTimer) timeoutTimer->invalidate();
    timeoutTimer = nullptr;
  }

  void fail(Ref<Error> error) {
    if (phase == Phase::Done) return;
    auto ref = keep();
    auto guard = shared_from_this();
    end();
    if (delegate && ref) delegate->connectionDidFailWithError(*ref, error);
    delegate = nullptr;
    selfRef = nullptr;
  }

  void finish() {
    if (phase == Phase::Done) return;
    auto ref = keep();
    auto guard = shared_from_this();
    end();
    if (delegate && ref) delegate->connectionDidFinishLoading(*ref);
    delegate = nullptr;
    selfRef = nullptr;
  }

  void start() {
    if (phase != Phase::Idle) return;
    if (!loop) {
      loop = RunLoop::current();
      modes = {kDefaultRunLoopMode};
    }
    selfRef = keep();
    if (respondsTo("connectionWillSendRequestRedirectResponse")) {
      auto ref = keep();
      auto replaced = delegate->connectionWillSendRequestRedirectResponse(*ref, request, nullptr);
      if (phase == Phase::Done) return;
      if (replaced) request = dyn<URLRequest>(replaced->copy());
    }
    resolveProxyThenLoad();
  }

  void resolveProxyThenLoad() {
    phase = Phase::Resolving;
    std::weak_ptr<State> weak = weak_from_this();
    // A script is fetched without blocking; its answer comes back on this loop.
    ProxyAutoConfig::resolveProxiesForURL(request->url(), [weak](std::optional<std::vector<ProxyServer>> proxies) {
      auto state = weak.lock();
      if (!state || state->phase != Phase::Resolving) return;
      if (!proxies) {
        state->fail(makeURLError(kURLErrorCannotConnectToHost, "The proxy configuration could not be evaluated."));
        return;
      }
      state->proxy = proxies->empty() ? ProxyServer() : proxies->front();
      state->load();
    });
  }

  Ref<HTTPMessage> buildMessage() {
    auto message = HTTPMessage::makeRequest(request->HTTPMethod(), request->url());
    if (!message) return nullptr;
    for (const auto& [name, value] : request->headerFields().fields()) message->setHeaderField(name, value);
    if (!message->headerField("Accept-Encoding")) message->setHeaderField("Accept-Encoding", "gzip, deflate");
    if (!message->headerField("Accept")) message->setHeaderField("Accept", "*/*");
    auto policy = request->cachePolicy();
    if (policy == URLRequestCachePolicy::ReloadIgnoringLocalCacheData ||
        policy == URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData) {
      // There is no local cache to ignore; intermediaries must not answer from theirs either.
      message->setHeaderField("Cache-Control", "no-cache");
      message->setHeaderField("Pragma", "no-cache");
    }
    if (request->HTTPShouldHandleCookies() && !message->headerField("Cookie")) {
      if (auto cookies = CookieStore::sharedInstance()->requestHeaderFieldForURL(*request->url())) {
        message->setHeaderField("Cookie", *cookies);
      }
    }
    if (credential) {
      message->setHeaderField("Authorization", "Basic " + base64(credential->user() + ":" + credential->password()));
    }
    if (request->HTTPBody()) message->setBody(request->HTTPBody());
    return message;
  }

  void load() {
    if (phase == Phase::Done) return;
    auto message = buildMessage();
    if (!message) {
      fail(makeURLError(kURLErrorBadURL, "bad URL"));
      return;
    }
    stream = request->HTTPBodyStream() ? HTTPReadStream::makeStreamed(message, request->HTTPBodyStream())
                                       : HTTPReadStream::make(message);
    if (!stream) {
      fail(makeURLError(kURLErrorUnsupportedURL, "unsupported URL"));
      return;
    }
    stream->setProxy(proxy);
    headHandled = false;
    discardBody = false;
    holdBody = false;
    heldBody.clear();
    deliveredBodyLength = 0;
    head = nullptr;
    inflater = nullptr;
    lastBytesWritten = 0;
    std::weak_ptr<State> weak = weak_from_this();
    stream->setClient(kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred,
                      [weak](HTTPReadStream&, StreamEvent event) {
                        if (auto state = weak.lock()) state->onEvent(event);
                      });
    for (const auto& mode : modes) stream->scheduleInRunLoop(loop, mode);
    phase = Phase::Loading;
    stream->open();
    armTimeout();
  }

  void reportUpload() {
    if (!stream || !respondsTo("connectionDidSendBodyData")) return;
    auto written = static_cast<std::int64_t>(stream->requestBodyBytesWritten());
    if (written <= lastBytesWritten) return;
    std::int64_t expected = request->HTTPBody() ? static_cast<std::int64_t>(request->HTTPBody()->length()) : -1;
    auto ref = keep();
    delegate->connectionDidSendBodyData(*ref, written - lastBytesWritten, written, expected);
    lastBytesWritten = written;
  }

  void onEvent(StreamEvent event) {
    if (phase != Phase::Loading || !stream) return;
    touch();
    auto guard = shared_from_this();
    reportUpload();
    if (phase != Phase::Loading) return;
    if (event == kStreamEventErrorOccurred) {
      fail(urlErrorFor(stream->streamError()));
      return;
    }
    if (!headHandled) {
      auto response = stream->responseHeader();
      if (response && response->isHeaderComplete()) {
        headHandled = true;
        head = response;
        if (!handleHead()) return;  // redirected, challenged or failed
      } else if (event != kStreamEventEndEncountered) {
        return;
      }
    }
    if (event == kStreamEventHasBytesAvailable) {
      std::uint8_t buffer[65536];
      long n = stream->read(buffer, sizeof buffer);
      if (n < 0) {
        fail(urlErrorFor(stream->streamError()));
        return;
      }
      if (n > 0) deliverBody(buffer, static_cast<std::size_t>(n));
      return;
    }
    if (event == kStreamEventEndEncountered) {
      if (holdBody) {
        holdBody = false;
        challenge();
        return;
      }
      if (inflater && !discardBody && !inflater->canEnd()) {
        fail(makeURLError(kURLErrorCannotDecodeContentData, "cannot decode raw data"));
        return;
      }
      finish();
    }
  }

  // Hands the delegate the next piece of the body, or fails the load when it would take the body
  // past the bound (nothing of that piece goes on). NO when the load is no longer running.
  bool passOn(const Ref<URLConnection>& ref, const std::uint8_t* bytes, std::size_t length) {
    if (length > maximumBodyLength - deliveredBodyLength) {
      fail(makeURLError(kURLErrorDataLengthExceedsMaximum, "The response is larger than the most allowed (" +
                                                               std::to_string(maximumBodyLength) + " bytes)."));
      return false;
    }
    deliveredBodyLength += length;
    if (delegate && ref) delegate->connectionDidReceiveData(*ref, Data::make(bytes, length));
    return phase == Phase::Loading;
  }

  void deliverBody(const std::uint8_t* bytes, std::size_t length) {
    if (holdBody) {
      if (length > kMaximumHeldChallengeBodyLength - heldBody.size()) {
        fail(makeURLError(kURLErrorDataLengthExceedsMaximum, "The challenged answer is larger than the most held."));
        return;
      }
      heldBody.append(reinterpret_cast<const char*>(bytes), length);
      return;
    }
    if (discardBody) return;
    auto ref = keep();
    if (!inflater) {
      passOn(ref, bytes, length);
      return;
    }
    // Each window goes on as it comes, so nothing beyond the bound is ever held here.
    auto result = inflater->inflate(bytes, length, [&](const std::uint8_t* window, std::size_t size) {
      return passOn(ref, window, size);
    });
    if (phase != Phase::Loading) return;
    if (result == ContentInflater::Result::TooLong) {
      fail(makeURLError(kURLErrorDataLengthExceedsMaximum, "The decoded response is larger than the most allowed."));
    } else if (result == ContentInflater::Result::Damaged) {
      // Corrupt compressed data, or bytes after its end, is an error, never passed on as the body.
      fail(makeURLError(kURLErrorCannotDecodeContentData, "cannot decode raw data"));
    }
  }

  // YES when the body that follows is the load's data.
  bool handleHead() {
    if (request->HTTPShouldHandleCookies()) {
      CookieStore::sharedInstance()->setCookiesFromResponseHeaders(head->headers(), *request->url());
    }
    int status = head->statusCode();
    auto location = head->headerField("Location");
    if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) && location) {
      if (redirect(status, *location)) return false;
    }
    if (status == 401 && authenticationFailures < 5) {
      auto challengeField = head->headerField("WWW-Authenticate").value_or("");
      if (ascii::startsWithIgnoringCase(challengeField, "basic")) {
        // Hold the answer's body until we know whether the challenge is answered.
        holdBody = true;
        return true;
      }
    }
    auto encoding = ascii::lowercase(head->headerField("Content-Encoding").value_or(""));
    if (encoding == "gzip" || encoding == "x-gzip" || encoding == "deflate") {
      inflater = std::make_unique<ContentInflater>(kDefaultMaximumInflatedLength);
    }
    auto ref = keep();
    if (delegate && ref) delegate->connectionDidReceiveResponse(*ref, HTTPURLResponse::make(stream->finalURL(), *head));
    return phase == Phase::Loading;
  }

  static bool hasBody(const URLRequest& request) {
    return request.HTTPBodyStream() || (request.HTTPBody() && request.HTTPBody()->length() > 0);
  }

  // YES when a new request was started (or the load failed).
  bool redirect(int status, const std::string& location) {
    auto target = URL::make(location, request->url());
    if (!target) return false;
    if (++redirects > kMaxRedirects) {
      fail(makeURLError(kURLErrorHTTPTooManyRedirects, "too many HTTP redirects"));
      return true;
    }
    auto next = dyn<MutableURLRequest>(request->mutableCopy());
    next->setURL(target);
    if (status == 303 || ((status == 301 || status == 302) && request->HTTPMethod() == "POST")) {
      next->setHTTPMethod("GET");
      next->setHTTPBody(nullptr);
      next->setValueForHTTPHeaderField(std::nullopt, "Content-Type");
      next->setValueForHTTPHeaderField(std::nullopt, "Content-Length");
    }
    // Cookies are rebuilt for the new URL from the store, never carried over.
    if (request->HTTPShouldHandleCookies()) next->setValueForHTTPHeaderField(std::nullopt, "Cookie");
    if (!isSameOrigin(*request->url(), *target)) {
      // What was given for one origin (credentials, a caller's own cookies) must not reach another,
      // nor travel in clear text after a downgrade from https.
      next->setValueForHTTPHeaderField(std::nullopt, "Authorization");
      next->setValueForHTTPHeaderField(std::nullopt, "Proxy-Authorization");
      next->setValueForHTTPHeaderField(std::nullopt, "Cookie");
      credential = nullptr;
    }
    Ref<URLRequest> chosen = next;
    if (respondsTo("connectionWillSendRequestRedirectResponse")) {
      // The delegate's choice stands, a request whose body leaves https for plain http included.
      auto ref = keep();
      chosen = delegate->connectionWillSendRequestRedirectResponse(*ref, next, HTTPURLResponse::make(stream->finalURL(), *head));
      if (phase != Phase::Loading) return true;
      if (!chosen) return false;  // the redirect answer itself completes the load
    } else if (hasBody(*next) && !isSameOrigin(*request->url(), *target)) {
      // Unasked, a body (a signed call, a form with a password) never goes to another origin,
      // nor from a secure connection to a plain one.
      fail(makeURLError(kURLErrorHTTPTooManyRedirects, "The redirect would send the request body to another site."));
      return true;
    }
    if (chosen->HTTPBodyStream() && chosen->HTTPBodyStream() == request->HTTPBodyStream()) {
      // That stream has been read: sent again it would announce a body that never comes.
      fail(makeURLError(kURLErrorRequestBodyStreamExhausted, "The request body stream was used up by the first request."));
      return true;
    }
    stopStream();
    request = dyn<URLRequest>(chosen->copy());
    resolveProxyThenLoad();
    return true;
  }

  void challenge() {
    phase = Phase::Challenged;
    stopStream();
    URLProtectionSpace space;
    space.host = request->url()->host().value_or("");
    space.protocol = request->url()->lowercaseScheme().value_or("http");
    space.port = request->url()->port().value_or(space.protocol == "https" ? 443 : 80);
    auto field = head->headerField("WWW-Authenticate").value_or("");
    auto realm = field.find("realm=\"");
    if (realm != std::string::npos) {
      auto end = field.find('"', realm + 7);
      space.realm = field.substr(realm + 7, end == std::string::npos ? std::string::npos : end - realm - 7);
    }
    Ref<URLCredential> proposed;
    if (auto user = request->url()->user()) proposed = URLCredential::make(*user, request->url()->password().value_or(""));
    auto failureResponse = HTTPURLResponse::make(request->url(), *head);
    int failures = authenticationFailures++;
    if (proposed && !triedURLCredential) {
      triedURLCredential = true;
      answer(0, proposed);
      return;
    }
    if (!respondsTo("connectionDidReceiveAuthenticationChallenge")) {
      answer(1, nullptr);
      return;
    }
    std::weak_ptr<State> weak = weak_from_this();
    auto challenge = std::make_shared<URLAuthenticationChallenge>(
        space, failures, proposed, failureResponse, [weak](int action, Ref<URLCredential> credential) {
          if (auto state = weak.lock()) state->answer(action, std::move(credential));
        });
    auto ref = keep();
    delegate->connectionDidReceiveAuthenticationChallenge(*ref, challenge);
  }

  void answer(int action, Ref<URLCredential> chosen) {
    if (phase != Phase::Challenged) return;
    if (action == 0 && chosen) {
      credential = std::move(chosen);
      phase = Phase::Loading;
      load();
      return;
    }
    if (action == 2) {
      fail(makeURLError(kURLErrorUserCancelledAuthentication, "cancelled"));
      return;
    }
    // Without credentials the 401 answer is the result.
    phase = Phase::Loading;
    auto ref = keep();
    if (delegate && ref) delegate->connectionDidReceiveResponse(*ref, HTTPURLResponse::make(request->url(), *head));
    if (phase != Phase::Loading) return;
    if (!heldBody.empty() &&
        !passOn(ref, reinterpret_cast<const std::uint8_t*>(heldBody.data()), heldBody.size())) {
      return;
    }
    finish();
  }

  void cancel() {
    if (phase == Phase::Done) return;
    auto guard = shared_from_this();
    end();
    delegate = nullptr;
    selfRef = nullptr;
  }
};

URLConnection::URLConnection(const Ref<URLRequest>& request, const Ref<URLConnectionDelegate>& delegate)
    : state_(std::make_shared<State>()) {
  state_->owner = this;
  state_->originalRequest = dyn<URLRequest>(request->copy());
  state_->request = state_->originalRequest;
  state_->delegate = delegate;
}

URLConnection::~URLConnection() {
  state_->owner = nullptr;
  state_->cancel();
}

Ref<URLConnection> URLConnection::make(const Ref<URLRequest>& request, const Ref<URLConnectionDelegate>& delegate,
                                       bool startImmediately) {
  if (!request || !request->url()) return nullptr;
  auto connection = std::make_shared<URLConnection>(request, delegate);
  if (startImmediately) connection->start();
  return connection;
}

bool URLConnection::canHandleRequest(const URLRequest& request) {
  auto scheme = request.url() ? request.url()->lowercaseScheme() : std::nullopt;
  return scheme && (*scheme == "http" || *scheme == "https");
}

void URLConnection::scheduleInRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
  if (!runLoop || state_->phase != State::Phase::Idle) return;
  if (!runLoop->isCurrent()) {
    // Its stream, timers and delegate calls belong to the starting thread.
    logError("URLConnection: a connection runs on the run loop of the thread that starts it; scheduling it on "
             "another thread's loop is ignored");
    return;
  }
  if (state_->loop && state_->loop != runLoop) return;
  state_->loop = runLoop;
  if (std::find(state_->modes.begin(), state_->modes.end(), mode) == state_->modes.end()) state_->modes.push_back(mode);
}

void URLConnection::unscheduleFromRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
  if (runLoop != state_->loop || state_->phase != State::Phase::Idle) return;
  std::erase(state_->modes, mode);
  if (state_->modes.empty()) state_->loop = nullptr;
}

void URLConnection::setMaximumBodyLength(std::size_t length) { state_->maximumBodyLength = length; }
std::size_t URLConnection::maximumBodyLength() const { return state_->maximumBodyLength; }
void URLConnection::start() { state_->start(); }
void URLConnection::cancel() { state_->cancel(); }
const Ref<URLRequest>& URLConnection::originalRequest() const { return state_->originalRequest; }
Ref<URLRequest> URLConnection::currentRequest() const { return state_->request; }

namespace {

// Collects one load for sendSynchronousRequest, holding at most `maximumLength` bytes of body.
class Collector : public Object, public URLConnectionDelegate {
 public:
  Ref<URLRequest> connectionWillSendRequestRedirectResponse(URLConnection&, const Ref<URLRequest>& request,
                                                           const Ref<URLResponse>& redirectResponse) override {
    if (!redirectResponse || !request || !request->url()) return request;
    refusal = checkRedirect(*request->url());
    return refusal ? nullptr : request;
  }
  bool respondsToSelector(std::string_view selector) const override {
    if (selector == "connectionWillSendRequestRedirectResponse") return static_cast<bool>(checkRedirect);
    return Object::respondsToSelector(selector);
  }
  void connectionDidReceiveResponse(URLConnection&, const Ref<URLResponse>& response) override {
    this->response = response;
    body.clear();
  }
  // The connection holds the body to maximumLength: past it the load fails.
  void connectionDidReceiveData(URLConnection&, const Ref<Data>& data) override {
    body.insert(body.end(), data->data(), data->data() + data->length());
  }
  void connectionDidFinishLoading(URLConnection&) override {
    if (refusal) error = refusal;  // the redirect answer ended the load
    done = true;
  }
  void connectionDidFailWithError(URLConnection&, const Ref<Error>& error) override {
    this->error = error;
    done = true;
  }

  // Runs the load on the calling thread's run loop until it is over. May throw (no descriptor
  // for the loop, say); the connection never outlives it.
  void load(const Ref<URLRequest>& request) {
    Ref<URLConnection> connection;
    struct CancelOnExit {
      Ref<URLConnection>& connection;
      ~CancelOnExit() {
        if (connection) connection->cancel();
      }
    } cancelOnExit{connection};
    auto loop = RunLoop::current();
    connection = URLConnection::make(request, selfAs<Collector>(), false);
    if (!connection) {
      error = makeURLError(kURLErrorBadURL, "bad URL");
      return;
    }
    connection->setMaximumBodyLength(maximumLength);
    connection->scheduleInRunLoop(loop, kDefaultRunLoopMode);
    connection->start();
    while (!done) loop->runMode(kDefaultRunLoopMode, 0.1);
  }

  std::function<Ref<Error>(const URL&)> checkRedirect;
  std::size_t maximumLength = kDefaultMaximumSynchronousBodyLength;
  Ref<Error> refusal;
  Ref<URLResponse> response;
  Ref<Error> error;
  std::vector<std::uint8_t> body;
  bool done = false;
  std::exception_ptr exception;  // what ended the load's thread early
};

std::string exceptionText(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

Ref<Data> URLConnection::sendSynchronousRequest(const Ref<URLRequest>& request, Ref<URLResponse>* response,
                                                Ref<Error>* error, std::function<Ref<Error>(const URL& target)> checkRedirect,
                                                std::size_t maximumBodyLength) {
  auto collector = std::make_shared<Collector>();
  collector->checkRedirect = std::move(checkRedirect);
  collector->maximumLength = std::min(maximumBodyLength, kDefaultMaximumSynchronousBodyLength);
  struct Ending {
    std::mutex mutex;
    std::condition_variable finished;
    bool over = false;
  };
  auto ending = std::make_shared<Ending>();
  // The load runs on a thread of its own so that the caller's run loop is not run under it. The
  // caller joins it, so the thread and its run loop are gone when the call returns; a thread the
  // system refuses for now delays the load (detachThread), it does not fail it, and the caller
  // is released only as that thread exits. Whatever ends the load, an exception included, the
  // thread ends normally and releases the caller.
  auto load = [request, collector]() noexcept {
    try {
      collector->load(request);
    } catch (...) {
      collector->exception = std::current_exception();
    }
  };
  bool joined = false;
  try {
    std::thread thread(load);
    thread.join();
    joined = true;
  } catch (const std::system_error&) {
    detachThread(load, "URLConnection", [ending] {
      {
        std::lock_guard lock(ending->mutex);
        ending->over = true;
      }
      ending->finished.notify_one();
    });
  }
  if (!joined) {
    std::unique_lock lock(ending->mutex);
    ending->finished.wait(lock, [&] { return ending->over; });
  }
  if (collector->exception) {
    collector->response = nullptr;
    collector->error = makeURLError(kURLErrorUnknown,
                                    "The request could not be loaded: " + exceptionText(collector->exception));
  } else if (!collector->error && !collector->done) {
    collector->error = makeURLError(kURLErrorUnknown, "The request could not be loaded.");
  }
  if (response) *response = collector->response;
  if (error) *error = collector->error;
  if (collector->error) return nullptr;
  return Data::make(std::move(collector->body));
}

}  // namespace zv::net
