#include "platform/net/ProxyAutoConfig.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include <duktape.h>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/NetErrors.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "platform/storage/AtomicFile.h"

namespace zv::net {

namespace {

constexpr const char* kPACErrorDomain = "ProxyAutoConfigErrorDomain";

// The usual auto-configuration helpers that need no host access, written in the script language.
constexpr const char* kBuiltIns = R"JS(
function isPlainHostName(host) { return host.indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
  return host.length >= domain.length && host.substring(host.length - domain.length) == domain;
}
function localHostOrDomainIs(host, hostdom) {
  return host == hostdom || hostdom.lastIndexOf(host + '.', 0) == 0;
}
function isResolvable(host) { return dnsResolve(host) !== null; }
function convert_addr(ipchars) {
  var bytes = ipchars.split('.');
  return ((bytes[0] & 0xff) << 24) | ((bytes[1] & 0xff) << 16) | ((bytes[2] & 0xff) << 8) | (bytes[3] & 0xff);
}
function isInNet(ipaddr, pattern, maskstr) {
  var test = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(ipaddr);
  if (test == null) { ipaddr = dnsResolve(ipaddr); if (ipaddr == null) return false; }
  else if (test[1] > 255 || test[2] > 255 || test[3] > 255 || test[4] > 255) return false;
  var host = convert_addr(ipaddr), pat = convert_addr(pattern), mask = convert_addr(maskstr);
  return (host & mask) == (pat & mask);
}
function dnsDomainLevels(host) { return host.split('.').length - 1; }
function shExpMatch(url, pattern) {
  pattern = pattern.replace(/\./g, '\\.').replace(/\*/g, '.*').replace(/\?/g, '.');
  return new RegExp('^' + pattern + '$').test(url);
}
var wdays = {SUN: 0, MON: 1, TUE: 2, WED: 3, THU: 4, FRI: 5, SAT: 6};
var months = {JAN: 0, FEB: 1, MAR: 2, APR: 3, MAY: 4, JUN: 5, JUL: 6, AUG: 7, SEP: 8, OCT: 9, NOV: 10, DEC: 11};
function weekdayRange() {
  function getDay(weekday) { return weekday in wdays ? wdays[weekday] : -1; }
  var date = new Date(), argc = arguments.length, wday;
  if (argc < 1) return false;
  if (arguments[argc - 1] == 'GMT') { argc--; wday = date.getUTCDay(); } else { wday = date.getDay(); }
  var wd1 = getDay(arguments[0]), wd2 = argc == 2 ? getDay(arguments[1]) : wd1;
  if (wd1 == -1 || wd2 == -1) return false;
  return wd1 <= wd2 ? (wd1 <= wday && wday <= wd2) : (wd2 >= wday || wday >= wd1);
}
function dateRange() {
  function getMonth(name) { return name in months ? months[name] : -1; }
  var date = new Date(), argc = arguments.length;
  if (argc < 1) return false;
  var isGMT = arguments[argc - 1] == 'GMT';
  if (isGMT) argc--;
  if (argc == 1) {
    var tmp = parseInt(arguments[0]);
    if (isNaN(tmp)) return (isGMT ? date.getUTCMonth() : date.getMonth()) == getMonth(arguments[0]);
    if (tmp < 32) return (isGMT ? date.getUTCDate() : date.getDate()) == tmp;
    return (isGMT ? date.getUTCFullYear() : date.getFullYear()) == tmp;
  }
  var year = date.getFullYear(), date1 = new Date(year, 0, 1, 0, 0, 0), date2 = new Date(year, 11, 31, 23, 59, 59);
  var adjustMonth = false;
  for (var i = 0; i < (argc >> 1); i++) {
    var tmp = parseInt(arguments[i]);
    if (isNaN(tmp)) { var mon = getMonth(arguments[i]); date1.setMonth(mon); }
    else if (tmp < 32) { adjustMonth = argc <= 2; date1.setDate(tmp); }
    else { date1.setFullYear(tmp); }
  }
  for (var i = (argc >> 1); i < argc; i++) {
    var tmp = parseInt(arguments[i]);
    if (isNaN(tmp)) { var mon = getMonth(arguments[i]); date2.setMonth(mon); }
    else if (tmp < 32) { date2.setDate(tmp); }
    else { date2.setFullYear(tmp); }
  }
  if (adjustMonth) { date1.setMonth(date.getMonth()); date2.setMonth(date.getMonth()); }
  if (isGMT) { var tmp = date; tmp.setFullYear(date.getUTCFullYear()); tmp.setMonth(date.getUTCMonth());
    tmp.setDate(date.getUTCDate()); tmp.setHours(date.getUTCHours()); tmp.setMinutes(date.getUTCMinutes());
    tmp.setSeconds(date.getUTCSeconds()); date = tmp; }
  return date1 <= date2 ? (date1 <= date && date <= date2) : (date2 >= date || date >= date1);
}
function timeRange() {
  var argc = arguments.length, date = new Date(), isGMT = false;
  if (argc < 1) return false;
  if (arguments[argc - 1] == 'GMT') { isGMT = true; argc--; }
  var hour = isGMT ? date.getUTCHours() : date.getHours();
  var date1 = new Date(), date2 = new Date();
  if (argc == 1) return hour == arguments[0];
  else if (argc == 2) return arguments[0] <= hour && hour < arguments[1];
  else {
    switch (argc) {
      case 6: date1.setSeconds(arguments[2]); date2.setSeconds(arguments[5]);
      case 4: var middle = argc >> 1; date1.setHours(arguments[0]); date1.setMinutes(arguments[1]);
        date2.setHours(arguments[middle]); date2.setMinutes(arguments[middle + 1]);
        if (middle == 2) date2.setSeconds(59); break;
      default: return false;
    }
  }
  if (isGMT) { date.setFullYear(date.getUTCFullYear()); date.setMonth(date.getUTCMonth());
    date.setDate(date.getUTCDate()); date.setHours(date.getUTCHours()); date.setMinutes(date.getUTCMinutes());
    date.setSeconds(date.getUTCSeconds()); }
  return date1 <= date2 ? (date1 <= date && date <= date2) : (date2 >= date || date >= date1);
}
function alert(message) {}
)JS";

std::optional<std::string> resolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || !results) return std::nullopt;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(results->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(results);
  return std::string(text);
}

duk_ret_t nativeDnsResolve(duk_context* context) {
  const char* host = duk_safe_to_string(context, 0);
  if (auto address = resolveIPv4(host)) {
    duk_push_string(context, address->c_str());
  } else {
    duk_push_null(context);
  }
  return 1;
}

duk_ret_t nativeMyIpAddress(duk_context* context) {
  std::string address = "127.0.0.1";
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
      if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
      auto* in = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
      if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
      address = text;
      break;
    }
    freeifaddrs(list);
  }
  duk_push_string(context, address.c_str());
  return 1;
}

// An allocator that refuses to grow past its cap, so a script cannot exhaust the process.
struct CappedHeap {
  std::size_t limit;
  std::size_t used = 0;
};

void* cappedAlloc(void* udata, duk_size_t size) {
  auto* heap = static_cast<CappedHeap*>(udata);
  if (heap->used + size > heap->limit) return nullptr;
  auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::size_t)));
  if (!block) return nullptr;
  *block = size;
  heap->used += size;
  return block + 1;
}

void cappedFree(void* udata, void* pointer) {
  if (!pointer) return;
  auto* heap = static_cast<CappedHeap*>(udata);
  auto* block = static_cast<std::size_t*>(pointer) - 1;
  heap->used -= *block;
  std::free(block);
}

void* cappedRealloc(void* udata, void* pointer, duk_size_t size) {
  if (!pointer) return cappedAlloc(udata, size);
  if (size == 0) {
    cappedFree(udata, pointer);
    return nullptr;
  }
  auto* heap = static_cast<CappedHeap*>(udata);
  auto* block = static_cast<std::size_t*>(pointer) - 1;
  std::size_t old = *block;
  if (size > old && heap->used + (size - old) > heap->limit) return nullptr;
  auto* grown = static_cast<std::size_t*>(std::realloc(block, size + sizeof(std::size_t)));
  if (!grown) return nullptr;
  heap->used = heap->used - old + size;
  *grown = size;
  return grown + 1;
}

[[noreturn]] void fatalHandler(void*, const char* message) {
  // Reached only on engine bugs; uncaught script errors are caught by the protected calls.
  std::fprintf(stderr, "[ERROR] proxy script engine failed: %s\n", message ? message : "");
  std::abort();
}

Ref<Error> pacError(std::string text) { return Error::make(kPACErrorDomain, 1, std::move(text)); }

}  // namespace

std::optional<std::string> ProxyAutoConfig::findProxyForURL(std::string_view script, const URL& url, Ref<Error>* error,
                                                            std::size_t memoryLimitBytes) {
  CappedHeap heap{memoryLimitBytes};
  duk_context* context = duk_create_heap(cappedAlloc, cappedRealloc, cappedFree, &heap, fatalHandler);
  if (!context) {
    if (error) *error = pacError("The script engine could not start");
    return std::nullopt;
  }
  struct HeapGuard {
    duk_context* context;
    ~HeapGuard() { duk_destroy_heap(context); }
  } guard{context};

  duk_push_c_function(context, nativeDnsResolve, 1);
  duk_put_global_string(context, "dnsResolve");
  duk_push_c_function(context, nativeMyIpAddress, 0);
  duk_put_global_string(context, "myIpAddress");
  auto fail = [&](const char* stage) -> std::optional<std::string> {
    std::string message = std::string(stage) + ": " + duk_safe_to_string(context, -1);
    if (error) *error = pacError(message);
    return std::nullopt;
  };
  if (duk_peval_string(context, kBuiltIns) != 0) return fail("The built-in functions failed");
  duk_pop(context);
  duk_push_lstring(context, script.data(), script.size());
  duk_push_string(context, "proxy.pac");
  if (duk_pcompile(context, 0) != 0) return fail("The proxy script does not compile");
  if (duk_pcall(context, 0) != 0) return fail("The proxy script failed");
  duk_pop(context);
  if (!duk_get_global_string(context, "FindProxyForURL") || !duk_is_function(context, -1)) {
    if (error) *error = pacError("The proxy script defines no FindProxyForURL");
    return std::nullopt;
  }
  std::string host = url.host().value_or("");
  duk_push_string(context, url.absoluteString().c_str());
  duk_push_string(context, host.c_str());
  if (duk_pcall(context, 2) != 0) return fail("FindProxyForURL failed");
  if (!duk_is_string(context, -1)) {
    if (error) *error = pacError("FindProxyForURL answered something other than text");
    return std::nullopt;
  }
  return std::string(duk_get_string(context, -1));
}

std::vector<ProxyServer> ProxyAutoConfig::parseResult(std::string_view result) {
  std::vector<ProxyServer> list;
  std::size_t start = 0;
  while (start <= result.size()) {
    auto end = result.find(';', start);
    std::string entry(result.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    start = end == std::string_view::npos ? result.size() + 1 : end + 1;
    std::istringstream words(entry);
    std::string kind, address;
    words >> kind >> address;
    kind = ascii::uppercase(kind);
    if (kind.empty()) continue;
    if (kind == "DIRECT") {
      list.push_back(ProxyServer());
      continue;
    }
    auto colon = address.rfind(':');
    if (address.empty()) continue;
    std::string host = colon == std::string::npos ? address : address.substr(0, colon);
    int port = colon == std::string::npos ? 0 : std::atoi(address.c_str() + colon + 1);
    if (kind == "PROXY" || kind == "HTTP") {
      list.push_back(ProxyServer::make(kProxyTypeHTTP, host, port ? port : 80));
    } else if (kind == "HTTPS") {
      list.push_back(ProxyServer::make(kProxyTypeHTTPS, host, port ? port : 443));
    } else if (kind == "SOCKS" || kind == "SOCKS5") {
      list.push_back(ProxyServer::make(kProxyTypeSOCKS, host, port ? port : 1080, 5));
    } else if (kind == "SOCKS4") {
      list.push_back(ProxyServer::make(kProxyTypeSOCKS, host, port ? port : 1080, 4));
    }
  }
  if (list.empty()) list.push_back(ProxyServer());
  return list;
}

std::optional<std::vector<ProxyServer>> ProxyAutoConfig::proxiesForURL(std::string_view script, const URL& url,
                                                                      Ref<Error>* error) {
  auto result = findProxyForURL(script, url, error);
  if (!result) return std::nullopt;
  return parseResult(*result);
}

void ProxyAutoConfig::fetchScript(const Ref<URL>& scriptURL, std::function<void(std::optional<std::string>)> completion,
                                  double timeoutSeconds) {
  auto loop = RunLoop::current();
  auto deliver = [loop, completion](std::optional<std::string> text) {
    loop->perform([completion, text = std::move(text)] { completion(text); });
  };
  if (!scriptURL) {
    deliver(std::nullopt);
    return;
  }
  if (scriptURL->isFileURL()) {
    // Files are read on a helper thread: a script on a slow or network disk must not stall the loop.
    detachThread([path = scriptURL->path(), deliver] { deliver(storage::readFile(path, nullptr, storage::kSmallFileReadLimit)); },
                 "PAC file");
    return;
  }
  auto request = HTTPMessage::makeRequest("GET", scriptURL);
  auto stream = request ? HTTPReadStream::make(request) : nullptr;
  if (!stream) {
    deliver(std::nullopt);
    return;
  }
  stream->setShouldAutoRedirect(true);
  stream->setConnectTimeout(timeoutSeconds);
  auto body = std::make_shared<std::string>();
  auto done = std::make_shared<bool>(false);
  stream->setClient(kStreamEventHasBytesAvailable | kStreamEventEndEncountered | kStreamEventErrorOccurred,
                    [body, done, completion](HTTPReadStream& s, StreamEvent event) {
                      if (*done) return;
                      bool tooLong = false;
                      if (event == kStreamEventHasBytesAvailable) {
                        std::uint8_t buffer[65536];
                        long n = s.read(buffer, sizeof buffer);
                        if (n <= 0) return;
                        // Bounded as a script read from a file is: a longer one is no script.
                        tooLong = static_cast<std::size_t>(n) > storage::kSmallFileReadLimit - body->size();
                        if (!tooLong) {
                          body->append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
                          return;
                        }
                      }
                      *done = true;
                      auto head = s.responseHeader();
                      bool ok = !tooLong && event == kStreamEventEndEncountered && head && head->statusCode() >= 200 &&
                                head->statusCode() < 300;
                      s.close();
                      completion(ok ? std::optional<std::string>(*body) : std::nullopt);
                    });
  stream->scheduleInRunLoop(loop, kDefaultRunLoopMode);
  stream->open();
  // A server that stalls after connecting is given up after the time-out.
  std::weak_ptr<HTTPReadStream> weak = stream;
  auto timer = Timer::create(timeoutSeconds, false, [weak, done, completion](Timer&) {
    if (*done) return;
    *done = true;
    if (auto s = weak.lock()) s->close();
    completion(std::nullopt);
  });
  loop->addTimer(timer, kDefaultRunLoopMode);
}

void ProxyAutoConfig::resolveProxiesForURL(const Ref<URL>& url,
                                           std::function<void(std::optional<std::vector<ProxyServer>>)> completion,
                                           double timeoutSeconds) {
  auto list = url ? ProxySettings::proxiesForURL(*url) : std::vector<ProxyServer>{};
  if (list.empty() || list.front().type != kProxyTypeAutoConfigurationURL) {
    completion(std::move(list));
    return;
  }
  fetchScript(
      list.front().autoConfigurationURL,
      [url, completion](std::optional<std::string> script) {
        if (!script) return completion(std::vector<ProxyServer>{ProxyServer()});
        completion(proxiesForURL(*script, *url));
      },
      timeoutSeconds);
}

}  // namespace zv::net
