// Copying a request: a fresh request with the caller's settings and none of the state of a run.

#include "http/HTTPRequest.h"
#include "http/HTTPRequestShared.h"

namespace zv {

ObjectPtr HTTPRequest::copy() const { return copyRequest(); }

Ref<HTTPRequest> HTTPRequest::copyRequest() const {
  auto copy = std::make_shared<HTTPRequest>(url());
  copySettingsTo(*copy);
  return copy;
}

void HTTPRequest::copySettingsTo(HTTPRequest& copy) const {
  copy.setDelegate(delegate());
  copy.setRequestMethod(requestMethod());
  // The copy owns its body: appending to one request's body never changes the other's.
  if (auto body = postBody()) copy.setPostBody(MutableData::make(body->bytes()));
  copy.setShouldStreamPostDataFromDisk(shouldStreamPostDataFromDisk());
  copy.setPostBodyFilePath(postBodyFilePath());
  if (auto headers = callerRequestHeaders()) copy.setRequestHeaders(headers);
  copy.setRequestCookies(requestCookies());
  copy.setUseCookiePersistence(useCookiePersistence());
  copy.setUseKeychainPersistence(useKeychainPersistence());
  copy.setUseSessionPersistence(useSessionPersistence());
  copy.setAllowCompressedResponse(allowCompressedResponse());
  copy.setDownloadDestinationPath(downloadDestinationPath());
  copy.setTemporaryFileDownloadPath(temporaryFileDownloadPath());
  copy.setUsername(username());
  copy.setPassword(password());
  copy.setDomain(domain());
  copy.setProxyUsername(proxyUsername());
  copy.setProxyPassword(proxyPassword());
  copy.setProxyDomain(proxyDomain());
  copy.setProxyHost(proxyHost());
  copy.setProxyPort(proxyPort());
  copy.setProxyType(proxyType());
  copy.setUploadProgressDelegate(uploadProgressDelegate());
  copy.setDownloadProgressDelegate(downloadProgressDelegate());
  copy.setShouldPresentAuthenticationDialog(shouldPresentAuthenticationDialog());
  copy.setShouldPresentProxyAuthenticationDialog(shouldPresentProxyAuthenticationDialog());
  copy.setPostLength(postLength());
  copy.setHaveBuiltPostBody(haveBuiltPostBody());
  // A built body and its headers stay consistent: a gzip header always goes with the gzip body.
  copy.setShouldCompressRequestBody(shouldCompressRequestBody());
  copy.setCompressedPostBody(compressedPostBody());
  copy.setCompressedPostBodyFilePath(compressedPostBodyFilePath());
  {
    // Body files this request made stay until the last request holding them is gone.
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    copy.bodyFileOwner_ = bodyFileOwner_;
    copy.compressedBodyFileOwner_ = compressedBodyFileOwner_;
    copy.setDidCreateTemporaryPostDataFile(didCreateTemporaryPostDataFile());
  }
  copy.setDidStartSelector(didStartSelector());
  copy.setDidFinishSelector(didFinishSelector());
  copy.setDidFailSelector(didFailSelector());
  copy.setTimeOutSeconds(timeOutSeconds());
  copy.setShouldResetDownloadProgress(shouldResetDownloadProgress());
  copy.setShouldResetUploadProgress(shouldResetUploadProgress());
  copy.setShowAccurateProgress(showAccurateProgress());
  copy.setDefaultResponseEncoding(defaultResponseEncoding());
  copy.setAllowResumeForFileDownloads(allowResumeForFileDownloads());
  if (auto info = userInfo()) copy.setUserInfo(dyn<Dictionary>(info->copy()));
  copy.setUseHTTPVersionOne(useHTTPVersionOne());
  copy.setShouldRedirect(shouldRedirect());
  copy.setValidatesSecureCertificate(validatesSecureCertificate());
  copy.setClientCertificateIdentity(clientCertificateIdentity());
  copy.setClientCertificates(clientCertificates());
  copy.setPACurl(PACurl());
  copy.setShouldPresentCredentialsBeforeChallenge(shouldPresentCredentialsBeforeChallenge());
  copy.setNumberOfTimesToRetryOnTimeout(numberOfTimesToRetryOnTimeout());
  copy.setShouldUseRFC2616RedirectBehaviour(shouldUseRFC2616RedirectBehaviour());
  copy.setShouldAttemptPersistentConnection(shouldAttemptPersistentConnection());
  copy.setPersistentConnectionTimeoutSeconds(persistentConnectionTimeoutSeconds());
}

Ref<MutableDictionary> HTTPRequest::callerRequestHeaders() const {
  std::lock_guard<std::recursive_mutex> guard(propertyLock_);
  if (!requestHeaders_) return nullptr;
  auto copied = dyn<MutableDictionary>(requestHeaders_->mutableCopy());
  // Cookies taken from the store are looked up afresh by whoever sends them, for their own
  // address; the caller's own header stays.
  if (madeCookieHeader_ && copied->stringForKey("Cookie") == madeCookieHeader_) copied->removeObjectForKey("Cookie");
  return copied;
}

void HTTPRequest::takeCallerFieldsOf(const HTTPRequest& main) {
  auto headers = main.callerRequestHeaders();
  if (headers) httpdetail::removeBodyFields(*headers);
  setRequestHeaders(headers);
  setRequestCookies(main.requestCookies());
  setUsername(main.username());
  setPassword(main.password());
  // The part of the download already on disk is not asked for again (the request has measured it).
  setPartialDownloadSize(main.partialDownloadSize());
}

void HTTPRequest::discardBuiltPostBody() {
  bodyFileOwner_ = nullptr;
  compressedBodyFileOwner_ = nullptr;
  setDidCreateTemporaryPostDataFile(false);
  setPostBodyFilePath(std::nullopt);
  setCompressedPostBodyFilePath(std::nullopt);
  setPostBody(nullptr);
  setCompressedPostBody(nullptr);
  setPostLength(0);
  setHaveBuiltPostBody(false);
}

}  // namespace zv
