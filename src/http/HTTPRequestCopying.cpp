// Copying a request: a fresh request with the caller's settings and none of the state of a run.

#include <unistd.h>

#include <filesystem>

#include "http/ChunkedFileCopy.h"
#include "http/HTTPRequest.h"

namespace zv {

namespace {

// Another name for a temporary body file (a link, or a copy of its bytes where no link can be
// made), so that the file outlives the request that made it; nullopt when it is gone already.
std::optional<std::string> anotherNameFor(const std::optional<std::string>& path) {
  if (!path) return std::nullopt;
  std::string other = httpdetail::siblingTemporaryPath(*path);
  if (::link(path->c_str(), other.c_str()) == 0) return other;
  std::error_code failed;
  if (std::filesystem::copy_file(*path, other, failed)) return other;
  std::filesystem::remove(other, failed);
  return std::nullopt;
}

}  // namespace

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
  if (auto headers = requestHeaders()) {
    auto copied = dyn<MutableDictionary>(headers->mutableCopy());
    // Cookies taken from the store are looked up afresh for the copy; the caller's own header stays.
    std::lock_guard<std::recursive_mutex> guard(propertyLock_);
    if (madeCookieHeader_ && copied->stringForKey("Cookie") == madeCookieHeader_) copied->removeObjectForKey("Cookie");
    copy.setRequestHeaders(copied);
  }
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
  if (didCreateTemporaryPostDataFile()) {
    // A body file this request made for itself goes when the request ends: the copy gets names of
    // its own for it (and for its compressed form), so either request can be sent whenever.
    auto body = anotherNameFor(postBodyFilePath());
    copy.setPostBodyFilePath(body);
    copy.setCompressedPostBodyFilePath(body ? anotherNameFor(compressedPostBodyFilePath()) : std::nullopt);
    copy.setDidCreateTemporaryPostDataFile(body.has_value());
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

void HTTPRequest::discardBuiltPostBody() {
  if (didCreateTemporaryPostDataFile()) {
    std::error_code ignored;
    if (auto path = postBodyFilePath()) std::filesystem::remove(*path, ignored);
    if (auto path = compressedPostBodyFilePath()) std::filesystem::remove(*path, ignored);
  }
  setDidCreateTemporaryPostDataFile(false);
  setPostBodyFilePath(std::nullopt);
  setCompressedPostBodyFilePath(std::nullopt);
  setPostBody(nullptr);
  setCompressedPostBody(nullptr);
  setPostLength(0);
  setHaveBuiltPostBody(false);
}

}  // namespace zv
