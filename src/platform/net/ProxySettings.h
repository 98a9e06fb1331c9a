#pragma once
// Proxy descriptions and the system proxy settings. The settings come from the environment
// ("http_proxy", "https_proxy", "all_proxy", "no_proxy", upper-case variants too, and
// "ZV_PROXY_PAC_URL" for an auto-configuration script) unless a configuration was installed with
// setSystemSettings (tests, or the application's own configuration).
//
// Thread-safe: the installed settings are guarded by a mutex and returned by value.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"

namespace zv::net {

// Proxy types as the proxy lists name them.
inline constexpr const char* kProxyTypeNone = "None";    // go direct
inline constexpr const char* kProxyTypeHTTP = "HTTP";    // absolute-form requests; CONNECT for https
inline constexpr const char* kProxyTypeHTTPS = "HTTPS";  // an HTTP proxy used for https URLs (CONNECT)
inline constexpr const char* kProxyTypeSOCKS = "SOCKS";  // SOCKS 5 (or 4 when socksVersion is 4)
inline constexpr const char* kProxyTypeAutoConfigurationURL = "AutoConfigurationURL";

struct ProxyServer {
  std::string type = kProxyTypeNone;
  std::string host;
  int port = 0;
  int socksVersion = 5;
  // Set only for kProxyTypeAutoConfigurationURL: the script to evaluate for the real list.
  Ref<URL> autoConfigurationURL;

  bool isDirect() const { return type == kProxyTypeNone; }
  bool isSOCKS() const { return type == kProxyTypeSOCKS; }
  bool isHTTP() const { return type == kProxyTypeHTTP || type == kProxyTypeHTTPS; }
  bool operator==(const ProxyServer& other) const;

  static ProxyServer make(std::string type, std::string host, int port, int socksVersion = 5) {
    ProxyServer proxy;
    proxy.type = std::move(type);
    proxy.host = std::move(host);
    proxy.port = port;
    proxy.socksVersion = socksVersion;
    return proxy;
  }
};

struct SystemProxySettings {
  std::optional<ProxyServer> httpProxy;   // for http URLs
  std::optional<ProxyServer> httpsProxy;  // for https URLs
  std::optional<ProxyServer> socksProxy;  // for any URL, when no HTTP(S) proxy applies
  Ref<URL> autoConfigurationURL;          // when set, it wins over the fixed proxies
  std::vector<std::string> exceptions;    // host suffixes ("example.org", ".example.org", "*")
};

class ProxySettings {
 public:
  // The installed settings, else those read from the environment now.
  static SystemProxySettings systemSettings();
  // Installs fixed settings (nullopt returns to the environment).
  static void setSystemSettings(std::optional<SystemProxySettings> settings);
  // Reads a proxy URL such as "http://host:3128" or "socks5://host:1080"; nullopt when unusable.
  static std::optional<ProxyServer> parseProxyURL(std::string_view text);

  // The proxies to try for `url`, in order; a direct connection is one entry of kProxyTypeNone.
  // When the settings name an auto-configuration script, the only entry is of
  // kProxyTypeAutoConfigurationURL and the caller evaluates the script (ProxyAutoConfig).
  static std::vector<ProxyServer> proxiesForURL(const URL& url, const SystemProxySettings& settings);
  static std::vector<ProxyServer> proxiesForURL(const URL& url) { return proxiesForURL(url, systemSettings()); }
};

}  // namespace zv::net
