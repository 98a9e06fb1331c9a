#include "http/HTTPDownloadCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>

#include "http/ChunkedFileCopy.h"
#include "platform/crypto/Digest.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/net/HTTPMessage.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFetchDateHeader = "X-HTTPRequest-Fetch-date";
// The request's values of the headers the answer's "Vary" names (a dictionary, lower-cased names).
constexpr const char* kVaryValuesKey = "X-HTTPRequest-Vary-Values";

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::optional<std::string> headerValue(const Dictionary* headers, std::string_view name) {
  if (!headers) return std::nullopt;
  std::optional<std::string> found;
  headers->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    if (net::equalsIgnoringCase(describe(key), name)) {
      found = describe(value);
      return false;
    }
    return true;
  });
  return found;
}

void removeHeader(MutableDictionary& headers, std::string_view name) {
  std::vector<ObjectPtr> keys;
  headers.enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    if (net::equalsIgnoringCase(describe(key), name)) keys.push_back(key);
    return true;
  });
  for (const auto& key : keys) headers.removeObjectForKey(key);
}

// The names a "Vary" value lists, lower-cased.
std::vector<std::string> varyNames(const std::string& vary) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at <= vary.size()) {
    std::size_t end = vary.find(',', at);
    if (end == std::string::npos) end = vary.size();
    std::string name = vary.substr(at, end - at);
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    if (!name.empty()) names.push_back(lowercase(name));
    at = end + 1;
  }
  return names;
}

Ref<Dictionary> requestVaryValues(const std::vector<std::string>& names, const HTTPRequest& request) {
  auto values = MutableDictionary::make();
  auto headers = request.requestHeaders();
  for (const auto& name : names) {
    if (auto value = headerValue(headers.get(), name)) values->setObject(box(*value), name);
  }
  return values;
}

double now() { return Date::now()->timeIntervalSinceReferenceDate(); }

// The cache holds what the user fetched: its folders are the user's alone, and so are its files.
constexpr fs::perms kPrivateFolder = fs::perms::owner_all;
constexpr fs::perms kPrivateFile = fs::perms::owner_read | fs::perms::owner_write;

// Fields a stored answer never keeps: cookies belong to the cookie store (in memory), not to
// files that outlive the session.
void removeCookieFields(MutableDictionary& headers) {
  removeHeader(headers, "Set-Cookie");
  removeHeader(headers, "Set-Cookie2");
}

// A caller's maximum age as whole seconds for "max-age=N": none below 0 (nor for no number at all),
// and an age too large to represent is the largest one, which never goes stale.
long long storedMaxAge(double seconds) {
  // Below LLONG_MAX and exact as a double.
  constexpr double kLargest = 9.0e18;
  if (!(seconds > 0)) return 0;
  if (seconds >= kLargest) return static_cast<long long>(kLargest);
  return static_cast<long long>(seconds);
}

}  // namespace

HTTPDownloadCache::HTTPDownloadCache() = default;

Ref<HTTPDownloadCache> HTTPDownloadCache::sharedCache() {
  // Made once even when first asked for from two threads: a second set-up would empty the
  // session store the first one had started to fill.
  static Ref<HTTPDownloadCache>& cache = *new Ref<HTTPDownloadCache>([] {
    auto made = std::make_shared<HTTPDownloadCache>();
    auto folder = ApplicationEnvironment::shared().cachesDirectory() / "HTTPRequestCache";
    try {
      std::error_code ignored;
      storage::createPrivateFolders(folder.parent_path(), ignored);
      made->setStoragePath(folder.string());
    } catch (const Exception& exception) {
      logLine(format("[WARN] HTTPDownloadCache: no caching, %s", exception.reason().c_str()));
    }
    return made;
  }());
  return cache;
}

int HTTPDownloadCache::defaultCachePolicy() {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  return defaultCachePolicy_;
}

void HTTPDownloadCache::setDefaultCachePolicy(int policy) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  defaultCachePolicy_ = policy == 0 ? CachePolicyRevalidateWhenStale : policy;
}

std::optional<std::string> HTTPDownloadCache::storagePath() const {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  if (!storagePath_) return std::nullopt;
  return storagePath_->string();
}

fs::path HTTPDownloadCache::storeFolder(int storagePolicy) const {
  return *storagePath_ / (storagePolicy == CacheStorageSession ? "SessionStore" : "PermanentStore");
}

void HTTPDownloadCache::setStoragePath(const std::string& path) {
  std::unique_lock<std::recursive_mutex> guard(accessLock_);
  if (storagePath_) clearCachedResponsesForStoragePolicy(CacheStorageSession);
  storagePath_ = fs::path(path);
  for (const auto& folder : {*storagePath_, *storagePath_ / "SessionStore", *storagePath_ / "PermanentStore"}) {
    std::error_code failure;
    auto status = fs::status(folder, failure);
    if (fs::is_regular_file(status) || (fs::exists(status) && !fs::is_directory(status))) {
      guard.unlock();
      Exception::raise("FileExistsAtCachePath",
                       format("Cannot create a directory for the cache at '%s', because a file already exists",
                              folder.string().c_str()));
    }
    // Made private from the start: one level, as the caller's folder must exist.
    if (!fs::is_directory(status)) ::mkdir(folder.c_str(), 0700);
    if (!fs::is_directory(folder, failure)) {
      guard.unlock();
      Exception::raise("FailedToCreateCacheDirectory",
                       format("Failed to create a directory for the cache at '%s'", folder.string().c_str()));
    }
    // Folders an earlier version made open to everyone are closed too.
    fs::permissions(folder, kPrivateFolder, fs::perm_options::replace, failure);
  }
  clearCachedResponsesForStoragePolicy(CacheStorageSession);
}

std::string HTTPDownloadCache::keyForURL(const Ref<URL>& url) {
  auto digest = crypto::md5(crypto::bytesOf(url->absoluteString()));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string key;
  key.reserve(32);
  for (auto byte : digest) {
    key.push_back(kDigits[byte >> 4]);
    key.push_back(kDigits[byte & 0xF]);
  }
  return key;
}

std::string HTTPDownloadCache::rfc1123String(double secondsSinceReferenceDate) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t seconds = static_cast<std::time_t>(secondsSinceReferenceDate + kReferenceDateOffset);
  std::tm fields{};
  gmtime_r(&seconds, &fields);
  return format("%s, %02d %s %04d %02d:%02d:%02d GMT", days[fields.tm_wday], fields.tm_mday, months[fields.tm_mon],
                fields.tm_year + 1900, fields.tm_hour, fields.tm_min, fields.tm_sec);
}

bool HTTPDownloadCache::serverAllowsResponseCachingForRequest(const Ref<HTTPRequest>& request) {
  auto headers = request->responseHeaders();
  auto control = lowercase(headerValue(headers.get(), "Cache-Control").value_or(""));
  auto pragma = lowercase(headerValue(headers.get(), "Pragma").value_or(""));
  return control != "no-cache" && control != "no-store" && pragma != "no-cache";
}

// --- Files. ---

std::optional<fs::path> HTTPDownloadCache::findFile(const Ref<URL>& url, bool headers) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  if (!storagePath_ || !url) return std::nullopt;
  std::string extension = url->pathExtension();
  std::string name = keyForURL(url) + "." + (headers ? "cachedheaders" : (extension.empty() ? "html" : extension));
  for (int policy : {CacheStorageSession, CacheStoragePermanent}) {
    auto path = storeFolder(policy) / name;
    std::error_code ignored;
    if (fs::is_regular_file(path, ignored)) return path;
  }
  return std::nullopt;
}

std::optional<HTTPDownloadCache::Entry> HTTPDownloadCache::entryForURL(const Ref<URL>& url) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  auto headersPath = findFile(url, true);
  auto bodyPath = findFile(url, false);
  if (!headersPath || !bodyPath) return std::nullopt;
  auto fields = dyn<Dictionary>(storage::readPropertyList(*headersPath, nullptr, false, storage::kSmallFileReadLimit));
  bool damaged = !fields;
  if (fields) {
    // A body of another size than recorded is not the body these headers describe.
    auto length = headerValue(fields.get(), "Content-Length");
    std::error_code failure;
    auto size = fs::file_size(*bodyPath, failure);
    damaged = failure || !length || *length != std::to_string(size);
  }
  if (damaged) {
    logLine(format("[WARN] HTTPDownloadCache: removing a damaged entry %s", headersPath->filename().c_str()));
    std::error_code ignored;
    fs::remove(*headersPath, ignored);
    fs::remove(*bodyPath, ignored);
    return std::nullopt;
  }
  return Entry{*headersPath, *bodyPath, fields};
}

Ref<Dictionary> HTTPDownloadCache::cachedResponseHeadersForURL(const Ref<URL>& url) {
  auto entry = entryForURL(url);
  if (!entry) return nullptr;
  auto headers = dyn<MutableDictionary>(entry->fields->mutableCopy());
  headers->removeObjectForKey(kVaryValuesKey);
  removeCookieFields(*headers);
  return headers;
}

Ref<Data> HTTPDownloadCache::cachedResponseDataForURL(const Ref<URL>& url) {
  auto entry = entryForURL(url);
  if (!entry) return nullptr;
  auto bytes = storage::readFile(entry->body);
  if (!bytes) return nullptr;
  return Data::make(*bytes);
}

std::optional<std::string> HTTPDownloadCache::pathToCachedResponseDataForURL(const Ref<URL>& url) {
  auto path = findFile(url, false);
  if (!path) return std::nullopt;
  return path->string();
}

std::optional<std::string> HTTPDownloadCache::pathToCachedResponseHeadersForURL(const Ref<URL>& url) {
  auto path = findFile(url, true);
  if (!path) return std::nullopt;
  return path->string();
}

std::optional<std::string> HTTPDownloadCache::pathToStoreCachedResponseHeadersForRequest(const Ref<HTTPRequest>& request) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  if (!storagePath_) return std::nullopt;
  return (storeFolder(request->cacheStoragePolicy()) / (keyForURL(request->url()) + ".cachedheaders")).string();
}

std::optional<std::string> HTTPDownloadCache::pathToStoreCachedResponseDataForRequest(const Ref<HTTPRequest>& request) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  if (!storagePath_) return std::nullopt;
  std::string extension = request->url()->pathExtension();
  return (storeFolder(request->cacheStoragePolicy()) /
          (keyForURL(request->url()) + "." + (extension.empty() ? "html" : extension)))
      .string();
}

void HTTPDownloadCache::removeCachedDataForRequest(const Ref<HTTPRequest>& request) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  auto headers = findFile(request->url(), true);
  auto body = findFile(request->url(), false);
  if (!headers || !body) return;
  std::error_code ignored;
  fs::remove(*headers, ignored);
  fs::remove(*body, ignored);
}

void HTTPDownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
  std::unique_lock<std::recursive_mutex> guard(accessLock_);
  if (!storagePath_) return;
  auto folder = storeFolder(storagePolicy);
  std::error_code failure;
  if (!fs::is_directory(folder, failure)) return;
  std::vector<fs::path> items;
  for (fs::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure)) {
    items.push_back(it->path());
  }
  if (failure) {
    guard.unlock();
    Exception::raise("FailedToTraverseCacheDirectory",
                     format("Listing cache directory failed at path '%s'", folder.string().c_str()));
  }
  for (const auto& item : items) {
    fs::remove_all(item, failure);
    if (failure) {
      guard.unlock();
      Exception::raise("FailedToRemoveCacheFile",
                       format("Failed to remove cached data at path '%s'", folder.string().c_str()));
    }
  }
}

// --- Storing. ---

void HTTPDownloadCache::storeResponseForRequest(const Ref<HTTPRequest>& request, double maxAge) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  if (!storagePath_) return;
  auto responseHeaders = request->responseHeaders();
  if (request->error() || !responseHeaders || request->responseStatusCode() != 200 ||
      (request->cachePolicy() & CachePolicyNoWrite)) {
    return;
  }
  if (shouldRespectCacheControlHeaders_ && !serverAllowsResponseCachingForRequest(request)) return;
  auto vary = headerValue(responseHeaders.get(), "Vary");
  auto names = vary ? varyNames(*vary) : std::vector<std::string>{};
  if (std::find(names.begin(), names.end(), "*") != names.end()) return;
  // An answer to a request with credentials is the user's own unless the server made it public,
  // whatever supplied them (own fields, the URL, a delegate, the session store; server or proxy).
  auto requestHeaders = request->requestHeaders();
  bool authorized = headerValue(requestHeaders.get(), "Authorization") || request->requestCredentials() ||
                    request->proxyCredentials() || request->sentCredentials();
  if (authorized &&
      lowercase(headerValue(responseHeaders.get(), "Cache-Control").value_or("")).find("public") == std::string::npos) {
    return;
  }

  auto headers = dyn<MutableDictionary>(responseHeaders->mutableCopy());
  removeCookieFields(*headers);
  if (request->isResponseCompressed()) removeHeader(*headers, "Content-Encoding");
  if (maxAge != 0) {
    removeHeader(*headers, "Expires");
    removeHeader(*headers, "Cache-Control");
    headers->setObject(box(format("max-age=%lld", storedMaxAge(maxAge))), "Cache-Control");
  }
  removeHeader(*headers, kFetchDateHeader);
  headers->setObject(box(rfc1123String(now())), kFetchDateHeader);
  if (!names.empty()) headers->setObject(requestVaryValues(names, *request), kVaryValuesKey);

  auto headersPath = pathToStoreCachedResponseHeadersForRequest(request);
  auto bodyPath = pathToStoreCachedResponseDataForRequest(request);
  Ref<Error> failure;
  std::uint64_t length = 0;
  auto raw = request->rawResponseData();
  if (raw && raw->length() > 0) {
    auto body = request->responseData();
    length = body ? body->length() : 0;
    failure = storage::writeFileAtomically(*bodyPath, body ? body->view() : std::string_view(), kPrivateFile);
  } else if (auto destination = request->downloadDestinationPath()) {
    // An answer the cache gave (a 304 confirmed it) is in place already.
    auto served = request->didUseCachedResponse() ? findFile(request->url(), false) : std::nullopt;
    if (fs::path(*destination) == fs::path(*bodyPath) || served == fs::path(*bodyPath)) {
      std::error_code ignored;
      length = fs::file_size(*bodyPath, ignored);
      fs::permissions(*bodyPath, kPrivateFile, fs::perm_options::replace, ignored);
    } else if (int failed = httpdetail::copyFile(*destination, *bodyPath, 0600, &length)) {
      // A copy in pieces, never the whole file in memory, and the cache's own: whatever the
      // caller later does with its file leaves the stored answer as it was.
      failure = Error::posix(failed);
    }
  } else {
    failure = storage::writeFileAtomically(*bodyPath, std::string_view(), kPrivateFile);
  }
  // The headers describe the body as stored (inflated, of this length).
  removeHeader(*headers, "Content-Length");
  headers->setObject(box(format("%llu", static_cast<unsigned long long>(length))), "Content-Length");
  if (!failure) {
    storage::writePropertyList(*headersPath, *headers, storage::PropertyListFormat::Binary, &failure, kPrivateFile);
  }
  if (failure) {
    logLine(format("[WARN] HTTPDownloadCache: response not stored, %s", failure->localizedDescription().c_str()));
    std::error_code ignored;
    fs::remove(*headersPath, ignored);
  }
}

// --- Deciding. ---

bool HTTPDownloadCache::varyMatches(const Dictionary& stored, const HTTPRequest& request) {
  auto values = stored.objectForKeyAs<Dictionary>(kVaryValuesKey);
  if (!values) return true;
  std::vector<std::string> names;
  values->enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    names.push_back(describe(key));
    return true;
  });
  auto vary = headerValue(&stored, "Vary");
  if (vary) names = varyNames(*vary);
  auto current = requestVaryValues(names, request);
  for (const auto& name : names) {
    if (values->stringForKey(name) != current->stringForKey(name)) return false;
  }
  return true;
}

bool HTTPDownloadCache::canUseCachedDataForRequest(const Ref<HTTPRequest>& request) {
  std::optional<Entry> entry;
  return canUseEntryForRequest(request, entry);
}

bool HTTPDownloadCache::cachedAnswerForRequest(const Ref<HTTPRequest>& request, CachedAnswer& answer) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  std::optional<Entry> entry;
  if (!canUseEntryForRequest(request, entry)) return false;
  if (!entry) entry = entryForURL(request->url());  // cache-only answers without looking first
  if (entry) {
    auto headers = dyn<MutableDictionary>(entry->fields->mutableCopy());
    headers->removeObjectForKey(kVaryValuesKey);
    removeCookieFields(*headers);
    answer.headers = headers;
    answer.bodyPath = entry->body.string();
  }
  return true;
}

bool HTTPDownloadCache::canUseEntryForRequest(const Ref<HTTPRequest>& request, std::optional<Entry>& entry) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  int policy = request->cachePolicy();
  if (policy & CachePolicyNoRead) return false;
  if (policy & CachePolicyCacheOnly) return true;
  entry = entryForURL(request->url());
  if (!entry) return false;
  if (!varyMatches(*entry->fields, *request)) {
    // An answer for other header values serves neither this request nor as its validator (a
    // 304 to it would say nothing about this request's answer); this request's answer replaces it.
    removeCachedDataForRequest(request);
    entry.reset();
    return false;
  }
  if (policy & CachePolicyUseCacheIfPresent) return true;
  if (request->complete() && (policy & CachePolicyFallbackToCache)) return true;
  if ((policy & CachePolicyRevalidateWhenStale) || ((policy & CachePolicyRevalidateAlways) && request->responseHeaders())) {
    return isEntryCurrentForRequest(*entry, *request);
  }
  return false;
}

bool HTTPDownloadCache::isCachedDataCurrentForRequest(const Ref<HTTPRequest>& request) {
  std::lock_guard<std::recursive_mutex> guard(accessLock_);
  auto entry = entryForURL(request->url());
  return entry && varyMatches(*entry->fields, *request) && isEntryCurrentForRequest(*entry, *request);
}

bool HTTPDownloadCache::isEntryCurrentForRequest(const Entry& entry, const HTTPRequest& request) {
  const Dictionary* stored = entry.fields.get();
  if (auto response = request.responseHeaders()) {
    if (request.responseStatusCode() == 304) return true;
    for (const char* name : {"Etag", "Last-Modified"}) {
      auto mine = headerValue(response.get(), name);
      auto theirs = headerValue(stored, name);
      if (!mine || !theirs || *mine != *theirs) return false;
    }
  }
  if (!shouldRespectCacheControlHeaders_) return true;
  auto control = lowercase(headerValue(stored, "Cache-Control").value_or(""));
  auto at = control.find("max-age");
  if (at != std::string::npos) {
    at += 7;
    if (at < control.size() && control[at] == '=') ++at;
    long age = std::strtol(control.c_str() + at, nullptr, 10);
    auto fetched = HTTPRequest::dateFromRFC1123String(headerValue(stored, kFetchDateHeader).value_or(""));
    if (!fetched) return false;
    return fetched->timeIntervalSinceReferenceDate() + static_cast<double>(age) >= now();
  }
  if (auto expires = headerValue(stored, "Expires")) {
    auto date = HTTPRequest::dateFromRFC1123String(*expires);
    if (date && date->timeIntervalSinceReferenceDate() >= now()) return true;
  }
  return false;
}

}  // namespace zv
