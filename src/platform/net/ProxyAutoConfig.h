#pragma once
// Proxy auto-configuration scripts: JavaScript evaluated with duktape, with the usual built-in
// functions (isPlainHostName, dnsDomainIs, localHostOrDomainIs, isResolvable, isInNet, dnsResolve,
// myIpAddress, dnsDomainLevels, shExpMatch, weekdayRange, dateRange, timeRange, alert).
//
// Scripts are never fetched synchronously: callers pass the script text, or fetch it with
// fetchScript, which delivers the text on the caller's run loop. Each evaluation uses a fresh
// heap with a memory cap, so it may run on any thread; the engine has no time limit, so scripts
// must come from the configuration, not from an untrusted peer.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/net/ProxySettings.h"

namespace zv::net {

class ProxyAutoConfig {
 public:
  // Runs FindProxyForURL(url, host) of `script`. nullopt with *error set when the script does not
  // compile, throws, runs out of memory or answers something that is not a string.
  static std::optional<std::string> findProxyForURL(std::string_view script, const URL& url,
                                                    Ref<Error>* error = nullptr,
                                                    std::size_t memoryLimitBytes = 64 * 1024 * 1024);
  // The proxy list of `script` for `url` (parseResult of findProxyForURL).
  static std::optional<std::vector<ProxyServer>> proxiesForURL(std::string_view script, const URL& url,
                                                               Ref<Error>* error = nullptr);
  // Reads "PROXY h:p; SOCKS h:p; SOCKS5 h:p; HTTPS h:p; DIRECT" into a list (unknown entries are
  // skipped; an empty answer means DIRECT).
  static std::vector<ProxyServer> parseResult(std::string_view result);

  // Fetches the script at `scriptURL` (http, https or file) without blocking the caller: the
  // completion runs later on the calling thread's run loop with the text, or nullopt when it could
  // not be read or is longer than storage::kSmallFileReadLimit (16 MiB, over the network as from
  // a file). Must be called on a thread whose run loop runs.
  static void fetchScript(const Ref<URL>& scriptURL, std::function<void(std::optional<std::string> script)> completion,
                          double timeoutSeconds = 10.0);

  // The proxies to use for `url` under the system settings (ProxySettings), a script they name
  // fetched with fetchScript and evaluated for `url`. The completion runs at once when no script
  // is named, else later on the calling thread's run loop; nullopt when the script could not be
  // evaluated. A script that cannot be fetched leaves a direct connection.
  static void resolveProxiesForURL(const Ref<URL>& url,
                                   std::function<void(std::optional<std::vector<ProxyServer>> proxies)> completion,
                                   double timeoutSeconds = 10.0);
};

}  // namespace zv::net
