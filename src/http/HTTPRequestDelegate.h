#pragma once
// The protocols an HTTP request talks to: its delegate (and a batch queue, which receives the
// same calls), progress receivers, and a response cache. Every call arrives on the main thread.

#include <cstdint>
#include <string>

#include <optional>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

namespace zv {

class HTTPRequest;

// Every call is optional; the defaults do nothing. A delegate that wants a call overrides it and
// answers YES from respondsToSelector for its C++ name (e.g. "requestFinished").
class HTTPRequestDelegate : public virtual Object {
 public:
  virtual void requestStarted(const Ref<HTTPRequest>&) {}
  virtual void requestDidReceiveResponseHeaders(const Ref<HTTPRequest>&, const Ref<Dictionary>&) {}
  virtual void requestWillRedirectToURL(const Ref<HTTPRequest>&, const Ref<URL>&) {}
  virtual void requestFinished(const Ref<HTTPRequest>&) {}
  virtual void requestFailed(const Ref<HTTPRequest>&) {}
  virtual void requestRedirected(const Ref<HTTPRequest>&) {}
  virtual void requestDidReceiveData(const Ref<HTTPRequest>&, const Ref<class Data>&) {}
  virtual void authenticationNeededForRequest(const Ref<HTTPRequest>&) {}
  virtual void proxyAuthenticationNeededForRequest(const Ref<HTTPRequest>&) {}
};

// Progress receivers (a batch queue, or any object with setProgress). All optional.
class HTTPProgressDelegate : public virtual Object {
 public:
  virtual void setProgress(float) {}
  virtual void requestDidReceiveBytes(const Ref<HTTPRequest>&, std::int64_t) {}
  virtual void requestDidSendBytes(const Ref<HTTPRequest>&, std::int64_t) {}
  virtual void requestIncrementDownloadSizeBy(const Ref<HTTPRequest>&, std::int64_t) {}
  virtual void requestIncrementUploadSizeBy(const Ref<HTTPRequest>&, std::int64_t) {}
};

// A batch queue receives the delegate calls and the progress calls.
class HTTPRequestQueueDelegate : public HTTPRequestDelegate, public HTTPProgressDelegate {};

// Cache policy bits and storage policies.
enum HTTPCachePolicy : int {
  CachePolicyDefault = 0,
  CachePolicyNoRead = 1,
  CachePolicyNoWrite = 2,
  CachePolicyRevalidateWhenStale = 4,
  CachePolicyRevalidateAlways = 8,
  CachePolicyUseCacheIfPresent = 16,
  CachePolicyCacheOnly = 32,
  CachePolicyFallbackToCache = 64,
};
enum HTTPCacheStoragePolicy : int { CacheStorageSession = 0, CacheStoragePermanent = 1 };

// What a request asks of a response cache. Called on the request's thread.
class HTTPCacheDelegate : public virtual Object {
 public:
  virtual int defaultCachePolicy() = 0;
  virtual bool canUseCachedDataForRequest(const Ref<HTTPRequest>& request) = 0;
  virtual void removeCachedDataForRequest(const Ref<HTTPRequest>& request) = 0;
  virtual bool isCachedDataCurrentForRequest(const Ref<HTTPRequest>& request) = 0;
  virtual void storeResponseForRequest(const Ref<HTTPRequest>& request, double maxAge) = 0;
  virtual Ref<Dictionary> cachedResponseHeadersForURL(const Ref<URL>& url) = 0;
  virtual Ref<Data> cachedResponseDataForURL(const Ref<URL>& url) = 0;
  // The paths of the stored body and headers; nullopt when none.
  virtual std::optional<std::string> pathToCachedResponseDataForURL(const Ref<URL>& url) = 0;
  virtual std::optional<std::string> pathToCachedResponseHeadersForURL(const Ref<URL>& url) = 0;
  // Where this request's response would be stored; nullopt without a storage place.
  virtual std::optional<std::string> pathToStoreCachedResponseHeadersForRequest(const Ref<HTTPRequest>& request) = 0;
  virtual std::optional<std::string> pathToStoreCachedResponseDataForRequest(const Ref<HTTPRequest>& request) = 0;
  virtual void clearCachedResponsesForStoragePolicy(int storagePolicy) = 0;

  // What is stored for a request: its headers and the path of its body (empty when nothing
  // usable is stored).
  struct CachedAnswer {
    Ref<Dictionary> headers;
    std::optional<std::string> bodyPath;
  };
  // Whether the request may be answered from the cache, as canUseCachedDataForRequest says, and
  // when it may, what is stored for it. The default asks the calls above one after the other; a
  // cache may answer from one look at its entry.
  virtual bool cachedAnswerForRequest(const Ref<HTTPRequest>& request, CachedAnswer& answer);
};

}  // namespace zv
