#pragma once
// A small HTTP client object that performs one request at a time on the run loop of the thread
// that starts it, with no thread of its own. The body goes from memory or is pulled from an input
// stream of known or unknown length; upload and download progress reach an optional delegate once
// per second; a request that makes no progress for longer than its time-out fails. With
// `setShouldWaitUntilDone(true)` the perform call runs the current run loop until the request ends.
// The proxy comes from the system settings; a proxy auto-configuration script they name is fetched
// and evaluated before the request goes out (ProxyAutoConfig::resolveProxiesForURL).
//
// Sizes are 64-bit throughout (bodies beyond 4 GiB are counted right); kUnknownSize marks a size
// that is not known.
//
// Threads: start, cancel and destroy on one thread whose run loop runs; every delegate call comes
// on that thread. Ownership: the delegate is not retained; the session info is retained and never
// read. Progress and stall checks measure time on Clock::current() (tests may install a manual one).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/InputStream.h"
#include "platform/runloop/Timer.h"

namespace zv {

class RLHTTPRequest;

inline constexpr const char* kRLHTTPRequestConnectionLost = "HTTP request connection lost";
inline constexpr const char* kRLHTTPRequestTimeout = "HTTP request timeout";
inline constexpr const char* kRLHTTPRequestDataTooLong = "HTTP response data too long";
// The most of a response body a request keeps in memory unless set otherwise (128 MiB).
inline constexpr std::uint64_t kRLHTTPRequestDefaultMaximumReceivedDataLength = std::uint64_t{128} << 20;
inline constexpr const char* kRLHTTPFormContentType = "application/x-www-form-urlencoded";

// Callbacks, all optional (asked by respondsToSelector with the method's name), in the order they
// can come during one request. A request ends with exactly one of the last three.
class RLHTTPRequestDelegate : public Protocol {
 public:
  virtual void httpRequestSentBytes(RLHTTPRequest& request, std::uint64_t sent, std::uint64_t total) {
    (void)request, (void)sent, (void)total;
  }
  virtual void httpRequestDidReceiveStatusCode(RLHTTPRequest& request, unsigned statusCode, const Ref<URL>& url,
                                               const Ref<net::HTTPMessage>& responseHeader) {
    (void)request, (void)statusCode, (void)url, (void)responseHeader;
  }
  // A delegate that answers this one takes the body bytes itself; they are not kept.
  virtual void httpRequestWriteReceivedBytes(RLHTTPRequest& request, const std::uint8_t* bytes, std::size_t size,
                                             std::uint64_t expectedTotal) {
    (void)request, (void)bytes, (void)size, (void)expectedTotal;
  }
  virtual void httpRequestReceivedBytes(RLHTTPRequest& request, std::uint64_t received, std::uint64_t expectedTotal) {
    (void)request, (void)received, (void)expectedTotal;
  }
  virtual void httpRequestDidComplete(RLHTTPRequest& request) { (void)request; }
  // `error` is kRLHTTPRequestConnectionLost, kRLHTTPRequestTimeout or kRLHTTPRequestDataTooLong.
  virtual void httpRequestDidFailWithError(RLHTTPRequest& request, const std::string& error) {
    (void)request, (void)error;
  }
  virtual void httpRequestDidCancel(RLHTTPRequest& request) { (void)request; }
};

class RLHTTPRequest : public Object {
 public:
  static constexpr std::uint64_t kUnknownSize = UINT64_MAX;

  static Ref<RLHTTPRequest> make();
  RLHTTPRequest();
  ~RLHTTPRequest() override;

  // NO when the URL is nil, a request runs already, or the stream cannot be made or opened.
  bool performMethod(const std::string& method, const Ref<URL>& url, const Ref<Data>& data);
  // `size` 0 or kUnknownSize: unknown (the body goes out chunked).
  bool performMethod(const std::string& method, const Ref<URL>& url, const Ref<net::InputStream>& stream,
                     std::uint64_t size);

  // Stops silently, then httpRequestDidCancel.
  void cancel();
  void cancelWithoutDelegateMessage();
  bool isRunning() const { return readStream_ != nullptr; }
  // The received data; the request keeps a new empty buffer and forgets the content type.
  Ref<Data> getReceivedDataAndDetachFromRequest();

  const Ref<Dictionary>& requestHeader() const { return requestHeader_; }
  void setRequestHeader(Ref<Dictionary> header);
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
  const std::optional<std::string>& userAgent() const { return userAgent_; }
  void setUserAgent(std::optional<std::string> agent) { userAgent_ = std::move(agent); }
  const std::optional<std::string>& contentType() const { return contentType_; }
  void setContentType(std::optional<std::string> type) { contentType_ = std::move(type); }
  Ref<Data> receivedData() const { return receivedData_; }
  // The most of a body kept in memory (when no delegate takes the bytes as they come); past it the
  // request stops reading and fails with kRLHTTPRequestDataTooLong.
  std::uint64_t maximumReceivedDataLength() const { return maximumReceivedDataLength_; }
  void setMaximumReceivedDataLength(std::uint64_t length) { maximumReceivedDataLength_ = length; }
  const std::optional<std::string>& receivedContentType() const { return receivedContentType_; }
  std::uint64_t expectedDataLength() const { return expectedDataLength_; }
  std::weak_ptr<RLHTTPRequestDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<RLHTTPRequestDelegate> delegate) { delegate_ = std::move(delegate); }
  const ObjectPtr& sessionInfo() const { return sessionInfo_; }
  void setSessionInfo(ObjectPtr info) { sessionInfo_ = std::move(info); }
  std::size_t readBufferSize() const { return readBuffer_.size(); }
  // Reallocates the buffer, zero-filled; at least one byte.
  void setReadBufferSize(std::size_t size);
  bool shouldWaitUntilDone() const { return shouldWaitUntilDone_; }
  void setShouldWaitUntilDone(bool wait) { shouldWaitUntilDone_ = wait; }

  // Bytes of the request body written so far and its announced total (kUnknownSize when unknown).
  std::uint64_t lastSentBytes() const { return lastSentBytes_; }
  std::uint64_t requestMessageBodySize() const { return requestBodySize_; }

  // The once-a-second checks; public so that tests drive them under a manual clock.
  void uploadTick();
  void downloadTick();

 private:
  bool start(const std::string& method, const Ref<URL>& url, const Ref<Data>& data,
             const Ref<net::InputStream>& stream, std::uint64_t size);
  void handleEvent(net::HTTPReadStream& stream, net::StreamEvent event);
  void bytesAvailable();
  void responseBegan();
  void endEncountered();
  void fail(const char* error);
  void timeOut();
  void cleanup();
  Ref<RLHTTPRequestDelegate> liveDelegate(std::string_view selector) const;
  Ref<Timer> makeTracker(bool upload);

  std::weak_ptr<RLHTTPRequestDelegate> delegate_;
  double timeoutInterval_ = 10.0;
  std::uint64_t maximumReceivedDataLength_ = kRLHTTPRequestDefaultMaximumReceivedDataLength;
  std::optional<std::string> userAgent_;
  std::optional<std::string> contentType_;
  Ref<Dictionary> requestHeader_;
  Ref<MutableData> receivedData_;
  std::optional<std::string> receivedContentType_;
  Ref<net::HTTPReadStream> readStream_;
  Ref<RunLoop> runLoop_;
  Ref<Timer> receivedDataTracker_;
  double lastReceivedUpdateTime_ = 0;
  Ref<Timer> bodyTracker_;
  double lastSentUpdateTime_ = 0;
  std::uint64_t requestBodySize_ = 0;
  std::uint64_t expectedDataLength_ = kUnknownSize;
  std::uint64_t lastReceivedBytes_ = 0;
  std::uint64_t lastSentBytes_ = 0;
  bool responseStarted_ = false;
  std::vector<std::uint8_t> readBuffer_;
  ObjectPtr sessionInfo_;
  bool shouldWaitUntilDone_ = false;
  int waitDepth_ = 0;
};

// The URL-encoded form body of a dictionary of strings: key=value pairs joined by "&", in the
// dictionary's order. Keys and values are percent-escaped as UTF-8; besides the characters that may
// not stand in a URL, "&", "=", "+" and "/" are escaped too, so that a value never splits a pair.
Ref<Data> dataAsWWWURLEncodedFormFromDictionary(const Dictionary& dictionary);

}  // namespace zv
