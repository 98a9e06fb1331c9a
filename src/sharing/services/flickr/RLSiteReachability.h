#pragma once
// Watches the network and checks that one web site answers: on every change of the reachability
// of the zero address it sends a HEAD request to the site and reports the site available (with
// the connection type) or not available. Repeated equal outcomes are reported once.
//
// Threads: start, stop and destroy on one thread whose run loop runs; the delegate is called on
// it. Ownership: the delegate is not retained; the checker owns its HEAD request.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/net/ReachabilityTarget.h"
#include "platform/runloop/Timer.h"
#include "sharing/services/flickr/RLHTTPRequest.h"

namespace zv {

class RLSiteReachability;

inline constexpr const char* kRLSiteReachabilityConnectionTypeWiFi = "RLSiteReachabilityConnectionTypeWiFi";
inline constexpr const char* kRLSiteReachabilityConnectionTypeWWAN = "RLSiteReachabilityConnectionTypeWWAN";
inline constexpr const char* kRLSiteReachabilityNotReachable = "RLSiteReachabilityNotReachable";
inline constexpr const char* kRLSiteReachabilityDefaultSite = "https://www.example.com/";

class RLSiteReachabilityDelegate : public Protocol {
 public:
  virtual void reachabilitySiteIsAvailableOverConnectionType(RLSiteReachability& checker, const Ref<URL>& site,
                                                             const std::string& connectionType) {
    (void)checker, (void)site, (void)connectionType;
  }
  virtual void reachabilitySiteIsNotAvailable(RLSiteReachability& checker, const Ref<URL>& site) {
    (void)checker, (void)site;
  }
};

class RLSiteReachability : public Object, public RLHTTPRequestDelegate {
 public:
  static Ref<RLSiteReachability> make();
  RLSiteReachability();
  ~RLSiteReachability() override;

  void startChecking();
  void stopChecking();
  bool isChecking() const { return reachability_ != nullptr; }
  // Whether the zero address is reachable now.
  static bool networkConnectivityExists();

  double timeoutInterval() const { return siteRequest_->timeoutInterval(); }
  void setTimeoutInterval(double seconds) { siteRequest_->setTimeoutInterval(seconds); }
  std::weak_ptr<RLSiteReachabilityDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<RLSiteReachabilityDelegate> delegate) { delegate_ = std::move(delegate); }
  const Ref<URL>& siteURL() const { return siteURL_; }
  void setSiteURL(Ref<URL> url) { siteURL_ = std::move(url); }
  const Ref<RLHTTPRequest>& siteRequest() const { return siteRequest_; }

  // Handles a set of reachability flags (the change callback; public for tests).
  void handleFlags(std::uint32_t flags);

  bool respondsToSelector(std::string_view selector) const override;
  void httpRequestDidComplete(RLHTTPRequest& request) override;
  void httpRequestDidFailWithError(RLHTTPRequest& request, const std::string& error) override;

 private:
  void reportNotReachable();
  void reportAvailable(const std::string& type);
  Ref<RLSiteReachabilityDelegate> liveDelegate(std::string_view selector) const;

  std::weak_ptr<RLSiteReachabilityDelegate> delegate_;
  Ref<URL> siteURL_;
  Ref<net::ReachabilityTarget> reachability_;
  Ref<RLHTTPRequest> siteRequest_;
  Ref<Timer> timeoutTimer_;
  std::optional<std::string> lastCheckStatus_;
};

}  // namespace zv
