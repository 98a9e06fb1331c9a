#pragma once
// Responses kept on disk: each as a property-list file of its headers ("<key>.cachedheaders")
// beside a file of its body ("<key>.<extension of the URL's path>", "html" without one), in
// "SessionStore" (emptied whenever the storage path is set) or "PermanentStore" under the
// storage path. The key is the MD5 of the URL's absolute string as 32 upper-case hex digits; a
// trailing "/" is part of the address ("/a" and "/a/" are two resources).
//
// What is stored: 200 answers without an error, unless the policy says no-write, the server
// said no-cache/no-store (while cache-control headers are respected), the answer carries
// "Vary: *", or the request carried credentials for the server or a proxy, whatever supplied them,
// and the answer is not marked "public".
// Stored headers describe the stored body: "Content-Encoding" goes (bodies are stored inflated)
// and "Content-Length" is the stored length; a maximum age replaces "Expires" with
// "Cache-Control: max-age=N" (whole seconds, clamped to what a 64-bit count holds); "X-HTTPRequest-Fetch-date" records when it was stored; the values
// of the request headers named by "Vary" are kept, and a stored answer serves only requests with
// the same values. Freshness uses the platform clock, so tests control time.
//
// Bodies: a download to a file goes into the cache and back out to the file of a request it
// answers as a copy made in pieces (the stored file is the cache's own, whatever the caller does
// with its file later), never whole in memory; a body kept in memory is stored from memory and
// read back whole for a request that keeps its body in memory (cachedResponseDataForURL too).
// Body files are written to a temporary name and renamed into place, mode 0600.
//
// Failures: a headers file that cannot be read, or a body whose size differs from its recorded
// length, counts as a miss and both files are removed. Files that cannot be written are logged
// and skipped; a request never fails because the cache could not store. Setting a storage path
// that cannot be made raises "FileExistsAtCachePath" or "FailedToCreateCacheDirectory"; clearing
// raises "FailedToTraverseCacheDirectory" or "FailedToRemoveCacheFile" (the lock released first).
// The shared cache, whose directory cannot be made, logs and caches nothing.
//
// Threads: any thread; one recursive lock guards the directory, the storage path and the default
// policy. sharedCache may be first asked for from several threads at once.

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "http/HTTPRequest.h"

namespace zv {

class HTTPDownloadCache : public HTTPCacheDelegate {
 public:
  HTTPDownloadCache();
  // "HTTPRequestCache" inside the application's caches directory.
  static Ref<HTTPDownloadCache> sharedCache();

  int defaultCachePolicy() override;
  // 0 stores CachePolicyRevalidateWhenStale.
  void setDefaultCachePolicy(int policy);
  std::optional<std::string> storagePath() const;
  void setStoragePath(const std::string& path);
  bool shouldRespectCacheControlHeaders() const { return shouldRespectCacheControlHeaders_; }
  void setShouldRespectCacheControlHeaders(bool flag) { shouldRespectCacheControlHeaders_ = flag; }

  bool canUseCachedDataForRequest(const Ref<HTTPRequest>& request) override;
  // From one look at the entry.
  bool cachedAnswerForRequest(const Ref<HTTPRequest>& request, CachedAnswer& answer) override;
  void removeCachedDataForRequest(const Ref<HTTPRequest>& request) override;
  bool isCachedDataCurrentForRequest(const Ref<HTTPRequest>& request) override;
  void storeResponseForRequest(const Ref<HTTPRequest>& request, double maxAge) override;
  Ref<Dictionary> cachedResponseHeadersForURL(const Ref<URL>& url) override;
  Ref<Data> cachedResponseDataForURL(const Ref<URL>& url) override;
  std::optional<std::string> pathToCachedResponseDataForURL(const Ref<URL>& url) override;
  std::optional<std::string> pathToCachedResponseHeadersForURL(const Ref<URL>& url) override;
  std::optional<std::string> pathToStoreCachedResponseHeadersForRequest(const Ref<HTTPRequest>& request) override;
  std::optional<std::string> pathToStoreCachedResponseDataForRequest(const Ref<HTTPRequest>& request) override;
  void clearCachedResponsesForStoragePolicy(int storagePolicy) override;

  static bool serverAllowsResponseCachingForRequest(const Ref<HTTPRequest>& request);
  static std::string keyForURL(const Ref<URL>& url);
  // "EEE, dd MMM yyyy HH:mm:ss 'GMT'" in the POSIX locale.
  static std::string rfc1123String(double secondsSinceReferenceDate);

 private:
  // The entry's files when both exist and agree; a damaged entry is removed and answers nothing.
  struct Entry {
    std::filesystem::path headers, body;
    Ref<Dictionary> fields;
  };
  std::optional<Entry> entryForURL(const Ref<URL>& url);
  // canUseCachedDataForRequest, leaving in `entry` the entry it looked at (if any).
  bool canUseEntryForRequest(const Ref<HTTPRequest>& request, std::optional<Entry>& entry);
  bool isEntryCurrentForRequest(const Entry& entry, const HTTPRequest& request);
  std::optional<std::filesystem::path> findFile(const Ref<URL>& url, bool headers);
  std::filesystem::path storeFolder(int storagePolicy) const;
  // Whether the stored answer's Vary values match the request's.
  bool varyMatches(const Dictionary& stored, const HTTPRequest& request);

  mutable std::recursive_mutex accessLock_;
  int defaultCachePolicy_ = CachePolicyRevalidateWhenStale;
  std::optional<std::filesystem::path> storagePath_;
  std::atomic<bool> shouldRespectCacheControlHeaders_{true};
};

}  // namespace zv
