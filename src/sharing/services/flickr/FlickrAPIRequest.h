#pragma once
// One call at a time to the photo service over an RLHTTPRequest: API methods by GET or POST, the
// photo upload as a multipart body streamed from a temporary file, and the two OAuth token
// fetches. The XML or query-string reply becomes a dictionary or an error for the delegate.
//
// Errors: kFlickrClientErrorDomain with the codes below, or kFlickrServiceErrorDomain with the
// service's own code. A reply that does not map (bad XML, entities, no "rsp") is
// kFlickrClientBadReply; nothing escapes into the run loop.
//
// Threads: everything runs on the thread of the run loop that drives the request (the main thread
// here); the upload file is written synchronously in the upload call. Ownership: the context is
// retained, the delegate is not; the session info is the caller's tag and is never read.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "sharing/services/flickr/FlickrAPIContext.h"
#include "sharing/services/flickr/RLHTTPRequest.h"

namespace zv {

class FlickrAPIRequest;

inline constexpr const char* kFlickrClientErrorDomain = "org.quenvar.FlickrClient";
inline constexpr std::int64_t kFlickrClientConnectionLost = 0x7FFF0001;
inline constexpr std::int64_t kFlickrClientTimeout = 0x7FFF0002;
inline constexpr std::int64_t kFlickrClientBadReply = 0x7FFF0003;
inline constexpr std::int64_t kFlickrClientOAuthError = 0x7FFF0004;
inline constexpr std::int64_t kFlickrClientUnknownError = 0x7FFF0042;
inline constexpr std::int64_t kFlickrInvalidTokenCode = 98;
// The upload's copy loop reads in chunks of this size.
inline constexpr std::size_t kFlickrUploadChunk = 65536;

class FlickrAPIRequestDelegate : public Protocol {
 public:
  virtual void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest& request, const Ref<Dictionary>& response) {
    (void)request, (void)response;
  }
  virtual void flickrAPIRequestDidFailWithError(FlickrAPIRequest& request, const Ref<Error>& error) {
    (void)request, (void)error;
  }
  virtual void flickrAPIRequestImageUploadSentBytes(FlickrAPIRequest& request, std::uint64_t sent, std::uint64_t total) {
    (void)request, (void)sent, (void)total;
  }
  virtual void flickrAPIRequestDidObtainOAuthRequestToken(FlickrAPIRequest& request, const std::string& token,
                                                          const std::string& secret) {
    (void)request, (void)token, (void)secret;
  }
  virtual void flickrAPIRequestDidObtainOAuthAccessToken(FlickrAPIRequest& request, const std::string& token,
                                                         const std::string& secret, const std::string& fullName,
                                                         const std::string& userName, const std::string& userNSID) {
    (void)request, (void)token, (void)secret, (void)fullName, (void)userName, (void)userNSID;
  }
};

class FlickrAPIRequest : public Object, public RLHTTPRequestDelegate {
 public:
  static Ref<FlickrAPIRequest> initWithAPIContext(Ref<FlickrAPIContext> context);
  explicit FlickrAPIRequest(Ref<FlickrAPIContext> context);
  ~FlickrAPIRequest() override;

  const Ref<FlickrAPIContext>& context() const { return context_; }
  std::weak_ptr<FlickrAPIRequestDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<FlickrAPIRequestDelegate> delegate) { delegate_ = std::move(delegate); }
  const ObjectPtr& sessionInfo() const { return sessionInfo_; }
  void setSessionInfo(ObjectPtr info) { sessionInfo_ = std::move(info); }
  double requestTimeoutInterval() const { return http_->timeoutInterval(); }
  void setRequestTimeoutInterval(double seconds) { http_->setTimeoutInterval(seconds); }
  bool isRunning() const { return http_->isRunning(); }
  const Ref<RLHTTPRequest>& HTTPRequest() const { return http_; }
  // The temporary file of the running upload; empty when there is none.
  const std::string& uploadTempFilename() const { return uploadTempFilename_; }

  // Cancels without any callback and removes the upload file.
  void cancel();

  // Each returns NO without doing anything while a call runs.
  bool fetchOAuthRequestTokenWithCallbackURL(const Ref<URL>& callbackURL);
  bool fetchOAuthAccessTokenWithRequestToken(const std::string& token, const std::string& verifier);
  bool callAPIMethodWithGET(const std::string& method, const Dictionary* arguments);
  bool callAPIMethodWithPOST(const std::string& method, const Dictionary* arguments);
  // Copies the stream (to its end) into a multipart file, then streams the file. NO without a
  // token, while a call runs, or when the file cannot be written or the stream fails.
  bool uploadImageStream(const Ref<net::InputStream>& stream, const std::string& suggestedFilename,
                         const std::string& MIMEType, const Dictionary* arguments);

  bool respondsToSelector(std::string_view selector) const override;
  void httpRequestDidComplete(RLHTTPRequest& request) override;
  void httpRequestDidFailWithError(RLHTTPRequest& request, const std::string& error) override;
  void httpRequestSentBytes(RLHTTPRequest& request, std::uint64_t sent, std::uint64_t total) override;

  static Ref<Error> clientError(std::int64_t code, std::optional<std::string> failureReason = std::nullopt);

 private:
  Ref<FlickrAPIRequestDelegate> liveDelegate(std::string_view selector) const;
  void removeUploadFile();
  void handleTokenReply(bool accessToken, const std::string& body);
  void handleAPIReply(const Ref<Data>& body);
  void reportFailure(const Ref<Error>& error);

  Ref<FlickrAPIContext> context_;
  Ref<RLHTTPRequest> http_;
  std::weak_ptr<FlickrAPIRequestDelegate> delegate_;
  ObjectPtr sessionInfo_;
  std::string uploadTempFilename_;
};

}  // namespace zv
