#include "platform/net/ProxySettings.h"

#include <cstdlib>
#include <mutex>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv::net {

namespace {

// Held across a fork (ForkHandlers.h).
ForkMutex& settingsMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::ProxySettings);
  return mutex;
}
// Never destroyed: the network thread may still read it while the process exits.
std::optional<SystemProxySettings>& installedSettings() {
  static auto* installed = new std::optional<SystemProxySettings>;
  return *installed;
}

std::optional<std::string> environment(const char* lower, const char* upper) {
  for (const char* name : {lower, upper}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::string(value);
  }
  return std::nullopt;
}

bool isException(const std::string& host, const std::vector<std::string>& exceptions) {
  for (auto pattern : exceptions) {
    pattern = ascii::lowercase(pattern);
    if (pattern.empty()) continue;
    if (pattern == "*") return true;
    if (pattern.front() == '.') pattern.erase(0, 1);
    if (host == pattern) return true;
    if (host.size() > pattern.size() && host.ends_with(pattern) && host[host.size() - pattern.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

}  // namespace

bool ProxyServer::operator==(const ProxyServer& other) const {
  bool sameScript = (!autoConfigurationURL && !other.autoConfigurationURL) ||
                    (autoConfigurationURL && other.autoConfigurationURL &&
                     autoConfigurationURL->absoluteString() == other.autoConfigurationURL->absoluteString());
  return type == other.type && host == other.host && port == other.port && socksVersion == other.socksVersion &&
         sameScript;
}

std::optional<ProxyServer> ProxySettings::parseProxyURL(std::string_view text) {
  std::string value(text);
  if (value.find("://") == std::string::npos) value = "http://" + value;
  auto url = URL::make(value);
  if (!url || !url->host() || url->host()->empty()) return std::nullopt;
  std::string scheme = url->lowercaseScheme().value_or("http");
  ProxyServer proxy;
  proxy.host = *url->host();
  if (scheme == "http") {
    proxy.type = kProxyTypeHTTP;
    proxy.port = url->port().value_or(80);
  } else if (scheme == "socks5" || scheme == "socks5h" || scheme == "socks") {
    proxy.type = kProxyTypeSOCKS;
    proxy.port = url->port().value_or(1080);
  } else if (scheme == "socks4" || scheme == "socks4a") {
    proxy.type = kProxyTypeSOCKS;
    proxy.socksVersion = 4;
    proxy.port = url->port().value_or(1080);
  } else {
    return std::nullopt;
  }
  return proxy;
}

SystemProxySettings ProxySettings::systemSettings() {
  {
    std::lock_guard lock(settingsMutex());
    if (installedSettings()) return *installedSettings();
  }
  SystemProxySettings settings;
  if (auto value = environment("http_proxy", "HTTP_PROXY")) settings.httpProxy = parseProxyURL(*value);
  if (auto value = environment("https_proxy", "HTTPS_PROXY")) {
    settings.httpsProxy = parseProxyURL(*value);
    if (settings.httpsProxy && settings.httpsProxy->type == kProxyTypeHTTP) settings.httpsProxy->type = kProxyTypeHTTPS;
  }
  if (auto value = environment("all_proxy", "ALL_PROXY")) {
    auto proxy = parseProxyURL(*value);
    if (proxy && proxy->isSOCKS()) {
      settings.socksProxy = proxy;
    } else if (proxy) {
      if (!settings.httpProxy) settings.httpProxy = proxy;
      if (!settings.httpsProxy) {
        settings.httpsProxy = proxy;
        settings.httpsProxy->type = kProxyTypeHTTPS;
      }
    }
  }
  if (auto value = environment("no_proxy", "NO_PROXY")) {
    std::string list = *value;
    std::size_t start = 0;
    while (start <= list.size()) {
      auto comma = list.find(',', start);
      std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      item.erase(0, item.find_first_not_of(" \t"));
      item.erase(item.find_last_not_of(" \t") + 1);
      if (!item.empty()) settings.exceptions.push_back(item);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  if (auto value = environment("zv_proxy_pac_url", "ZV_PROXY_PAC_URL")) settings.autoConfigurationURL = URL::make(*value);
  return settings;
}

void ProxySettings::setSystemSettings(std::optional<SystemProxySettings> settings) {
  std::lock_guard lock(settingsMutex());
  installedSettings() = std::move(settings);
}

std::vector<ProxyServer> ProxySettings::proxiesForURL(const URL& url, const SystemProxySettings& settings) {
  ProxyServer direct;
  if (settings.autoConfigurationURL) {
    ProxyServer script;
    script.type = kProxyTypeAutoConfigurationURL;
    script.autoConfigurationURL = settings.autoConfigurationURL;
    return {script};
  }
  std::string host = url.lowercaseHost().value_or("");
  if (host.empty() || isException(host, settings.exceptions)) return {direct};
  std::string scheme = url.lowercaseScheme().value_or("");
  std::vector<ProxyServer> list;
  if (scheme == "https" && settings.httpsProxy) {
    list.push_back(*settings.httpsProxy);
  } else if (scheme == "http" && settings.httpProxy) {
    list.push_back(*settings.httpProxy);
  } else if (settings.socksProxy) {
    list.push_back(*settings.socksProxy);
  }
  list.push_back(direct);
  return list;
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gSettingsMade = (settingsMutex(), installedSettings(), true);
}  // namespace

}  // namespace zv::net

