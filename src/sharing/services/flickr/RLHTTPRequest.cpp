#include "sharing/services/flickr/RLHTTPRequest.h"

#include <algorithm>
#include <charconv>

#include "platform/foundation/Clock.h"
#include "platform/foundation/String.h"
#include "platform/net/ProxyAutoConfig.h"
#include "platform/runloop/RunLoop.h"

namespace zv {

namespace {

double now() { return Clock::current()->monotonic(); }

std::optional<std::uint64_t> parseLength(const std::string& text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

Ref<RLHTTPRequest> RLHTTPRequest::make() { return std::make_shared<RLHTTPRequest>(); }

RLHTTPRequest::RLHTTPRequest() : receivedData_(MutableData::make()), readBuffer_(16384, 0) {}

RLHTTPRequest::~RLHTTPRequest() { cleanup(); }

void RLHTTPRequest::setRequestHeader(Ref<Dictionary> header) {
  if (header && requestHeader_ && header->isEqual(*requestHeader_)) return;
  requestHeader_ = header ? std::static_pointer_cast<Dictionary>(header->copy()) : nullptr;
}

void RLHTTPRequest::setReadBufferSize(std::size_t size) { readBuffer_.assign(size == 0 ? 1 : size, 0); }

Ref<RLHTTPRequestDelegate> RLHTTPRequest::liveDelegate(std::string_view selector) const {
  auto delegate = delegate_.lock();
  return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

bool RLHTTPRequest::performMethod(const std::string& method, const Ref<URL>& url, const Ref<Data>& data) {
  return start(method, url, data, nullptr, 0);
}

bool RLHTTPRequest::performMethod(const std::string& method, const Ref<URL>& url,
                                  const Ref<net::InputStream>& stream, std::uint64_t size) {
  if (!stream) return false;
  return start(method, url, nullptr, stream, size);
}

bool RLHTTPRequest::start(const std::string& method, const Ref<URL>& url, const Ref<Data>& data,
                          const Ref<net::InputStream>& stream, std::uint64_t size) {
  if (!url || isRunning()) return false;
  auto message = net::HTTPMessage::makeRequest(method, url);
  if (!message) return false;

  if (userAgent_) message->setHeaderField("User-Agent", *userAgent_);
  if (contentType_) message->setHeaderField("Content-Type", *contentType_);
  std::uint64_t bodySize = 0;
  if (stream) {
    if (size != 0 && size != kUnknownSize) {
      message->setHeaderField("Content-Length", std::to_string(size));
      bodySize = size;
    } else {
      bodySize = kUnknownSize;
    }
  } else {
    bodySize = data ? data->length() : 0;
    if (bodySize != 0) message->setHeaderField("Content-Length", std::to_string(bodySize));
  }
  if (requestHeader_) {
    requestHeader_->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      if (key && value) message->setHeaderField(key->description(), value->description());
      return true;
    });
  }
  if (!stream && data && data->length() != 0) message->setBody(data);

  auto readStream = stream ? net::HTTPReadStream::makeStreamed(message, stream) : net::HTTPReadStream::make(message);
  if (!readStream) return false;
  readStream->setShouldAutoRedirect(true);

  std::weak_ptr<RLHTTPRequest> weakSelf = std::static_pointer_cast<RLHTTPRequest>(self());
  const unsigned events = net::kStreamEventHasBytesAvailable | net::kStreamEventErrorOccurred |
                          net::kStreamEventEndEncountered;
  if (!readStream->setClient(events, [weakSelf](net::HTTPReadStream& s, net::StreamEvent event) {
        if (auto request = weakSelf.lock()) request->handleEvent(s, event);
      })) {
    return false;
  }
  if (receivedData_->length() != 0) receivedData_ = MutableData::make();

  runLoop_ = RunLoop::current();
  readStream->scheduleInRunLoop(runLoop_, kRunLoopCommonModes);
  readStream_ = readStream;
  expectedDataLength_ = kUnknownSize;
  requestBodySize_ = bodySize;
  responseStarted_ = false;
  // The stream opens once its proxy is known: at once, or when an auto-configuration script has
  // been fetched and evaluated. A late failure to open ends the request like a lost connection.
  auto starting = std::make_shared<bool>(true);
  auto openedAtOnce = std::make_shared<std::optional<bool>>();
  net::ProxyAutoConfig::resolveProxiesForURL(
      url,
      [weakSelf, readStream, starting, openedAtOnce](std::optional<std::vector<net::ProxyServer>> proxies) {
        auto request = weakSelf.lock();
        if (!request || request->readStream_ != readStream) return;
        if (proxies && !proxies->empty()) readStream->setProxy(proxies->front());
        bool opened = proxies && readStream->open();
        if (*starting) {
          *openedAtOnce = opened;
        } else if (!opened) {
          request->fail(kRLHTTPRequestConnectionLost);
        }
      },
      timeoutInterval_);
  *starting = false;
  if (*openedAtOnce == false) {
    readStream->setClient(0, nullptr);
    readStream->unscheduleFromRunLoop(runLoop_, kRunLoopCommonModes);
    readStream->close();
    readStream_ = nullptr;
    return false;
  }

  lastSentBytes_ = 0;
  lastSentUpdateTime_ = now();
  bodyTracker_ = makeTracker(true);

  if (shouldWaitUntilDone_) {
    auto hold = self();
    auto loop = RunLoop::current();
    auto mode = loop->currentMode().value_or(kDefaultRunLoopMode);
    if (mode.empty()) mode = kDefaultRunLoopMode;
    ++waitDepth_;
    while (isRunning()) loop->runMode(mode, 1.0, true);
    --waitDepth_;
    // An outer wait on this request (restarted from one of its callbacks) re-checks on its own:
    // it runs the loop in slices and looks at isRunning after each.
  }
  return true;
}

Ref<Timer> RLHTTPRequest::makeTracker(bool upload) {
  std::weak_ptr<RLHTTPRequest> weakSelf = std::static_pointer_cast<RLHTTPRequest>(self());
  auto timer = Timer::createWithFireDate(now(), 1.0, true, [weakSelf, upload](Timer& fired) {
    auto request = weakSelf.lock();
    if (!request) return;
    if (upload && request->bodyTracker_.get() == &fired) request->uploadTick();
    if (!upload && request->receivedDataTracker_.get() == &fired) request->downloadTick();
  });
  runLoop_->addTimer(timer, kRunLoopCommonModes);
  runLoop_->addTimer(timer, kDefaultRunLoopMode);
  return timer;
}

void RLHTTPRequest::handleEvent(net::HTTPReadStream& stream, net::StreamEvent event) {
  if (readStream_.get() != &stream) return;
  auto hold = self();
  switch (event) {
    case net::kStreamEventHasBytesAvailable:
      bytesAvailable();
      break;
    case net::kStreamEventEndEncountered:
      // Bytes may still sit in the stream's buffer.
      bytesAvailable();
      if (readStream_.get() == &stream) endEncountered();
      break;
    case net::kStreamEventErrorOccurred:
      fail(kRLHTTPRequestConnectionLost);
      break;
    default:
      break;
  }
}

void RLHTTPRequest::responseBegan() {
  responseStarted_ = true;
  auto stream = readStream_;
  // The last tick may be up to a second old: the final report counts what really went out.
  if (stream) lastSentBytes_ = std::max(lastSentBytes_, stream->requestBodyBytesWritten());
  if (auto delegate = liveDelegate("httpRequestSentBytes")) delegate->httpRequestSentBytes(*this, lastSentBytes_, lastSentBytes_);
  if (bodyTracker_) bodyTracker_->invalidate();
  bodyTracker_ = nullptr;
  if (!stream || readStream_ != stream) return;
  auto header = stream->responseHeader();
  auto finalURL = stream->finalURL();
  unsigned status = 0;
  receivedContentType_.reset();
  if (header) {
    status = static_cast<unsigned>(header->statusCode());
    if (auto length = header->headerField("Content-Length")) {
      if (auto value = parseLength(*length)) expectedDataLength_ = *value;
    }
    if (auto type = header->headerField("Content-Type")) receivedContentType_ = *type;
  }
  if (auto delegate = liveDelegate("httpRequestDidReceiveStatusCode")) {
    delegate->httpRequestDidReceiveStatusCode(*this, status, finalURL, header);
  }
}

void RLHTTPRequest::bytesAvailable() {
  auto stream = readStream_;
  if (!stream) return;
  if (!responseStarted_) {
    responseBegan();
    if (readStream_ != stream) return;  // the delegate cancelled or restarted
    lastReceivedBytes_ = 0;
    lastReceivedUpdateTime_ = now();
    receivedDataTracker_ = makeTracker(false);
  }
  // Drain what is buffered; the stream never blocks.
  for (;;) {
    long count = stream->read(readBuffer_.data(), readBuffer_.size());
    if (count <= 0) return;
    const auto size = static_cast<std::size_t>(count);
    if (auto delegate = liveDelegate("httpRequestWriteReceivedBytes")) {
      delegate->httpRequestWriteReceivedBytes(*this, readBuffer_.data(), size, expectedDataLength_);
      lastReceivedBytes_ += size;
      lastReceivedUpdateTime_ = now();
    } else {
      if (size > maximumReceivedDataLength_ || receivedData_->length() > maximumReceivedDataLength_ - size) {
        fail(kRLHTTPRequestDataTooLong);
        return;
      }
      receivedData_->append(readBuffer_.data(), size);
      lastReceivedBytes_ = receivedData_->length();
      lastReceivedUpdateTime_ = now();
      if (auto observer = liveDelegate("httpRequestReceivedBytes")) {
        observer->httpRequestReceivedBytes(*this, lastReceivedBytes_, expectedDataLength_);
      }
    }
    if (readStream_ != stream) return;
  }
}

void RLHTTPRequest::endEncountered() {
  if (!responseStarted_) {
    // A response without a body: the head has not been reported yet.
    responseBegan();
    if (!readStream_) return;
  }
  auto hold = self();
  cleanup();
  if (auto delegate = liveDelegate("httpRequestDidComplete")) delegate->httpRequestDidComplete(*this);
}

void RLHTTPRequest::fail(const char* error) {
  auto hold = self();
  cleanup();
  if (auto delegate = liveDelegate("httpRequestDidFailWithError")) delegate->httpRequestDidFailWithError(*this, error);
}

void RLHTTPRequest::uploadTick() {
  if (!readStream_) return;
  const std::uint64_t written = readStream_->requestBodyBytesWritten();
  if (written > lastSentBytes_) {
    lastSentBytes_ = written;
    lastSentUpdateTime_ = now();
    if (auto delegate = liveDelegate("httpRequestSentBytes")) delegate->httpRequestSentBytes(*this, lastSentBytes_, requestBodySize_);
  } else if (now() - lastSentUpdateTime_ > timeoutInterval_) {
    timeOut();
  }
}

void RLHTTPRequest::downloadTick() {
  if (!readStream_) return;
  if (now() - lastReceivedUpdateTime_ > timeoutInterval_) timeOut();
}

void RLHTTPRequest::timeOut() {
  if (runLoop_) runLoop_->wakeUp();
  fail(kRLHTTPRequestTimeout);
}

void RLHTTPRequest::cleanup() {
  if (readStream_) {
    auto stream = std::move(readStream_);
    readStream_ = nullptr;
    stream->setClient(0, nullptr);
    if (runLoop_) stream->unscheduleFromRunLoop(runLoop_, kRunLoopCommonModes);
    stream->close();
  }
  if (bodyTracker_) bodyTracker_->invalidate();
  if (receivedDataTracker_) receivedDataTracker_->invalidate();
  bodyTracker_ = nullptr;
  receivedDataTracker_ = nullptr;
  requestBodySize_ = 0;
  expectedDataLength_ = kUnknownSize;
  lastReceivedUpdateTime_ = 0;
  lastSentUpdateTime_ = 0;
  lastReceivedBytes_ = 0;
  lastSentBytes_ = 0;
  responseStarted_ = false;
}

void RLHTTPRequest::cancelWithoutDelegateMessage() { cleanup(); }

void RLHTTPRequest::cancel() {
  auto hold = self();
  cleanup();
  if (auto delegate = liveDelegate("httpRequestDidCancel")) delegate->httpRequestDidCancel(*this);
}

Ref<Data> RLHTTPRequest::getReceivedDataAndDetachFromRequest() {
  Ref<Data> data = receivedData_;
  receivedData_ = MutableData::make();
  receivedContentType_.reset();
  return data;
}

Ref<Data> dataAsWWWURLEncodedFormFromDictionary(const Dictionary& dictionary) {
  // Unreserved and reserved characters of RFC 2396 that cannot break a pair stay as they are.
  constexpr std::string_view kKeep = "-_.!~*'();?:@$,";
  std::string body;
  dictionary.enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    if (!body.empty()) body += '&';
    body += percentEncode(key ? key->description() : std::string(), kKeep);
    body += '=';
    body += percentEncode(value ? value->description() : std::string(), kKeep);
    return true;
  });
  return Data::make(body);
}

}  // namespace zv
