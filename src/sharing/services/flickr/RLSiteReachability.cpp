#include "sharing/services/flickr/RLSiteReachability.h"

#include <set>

#include "platform/foundation/String.h"

namespace zv {

namespace {

Ref<net::ReachabilityTarget> zeroAddressTarget() {
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  return net::ReachabilityTarget::withAddress(zero);
}

}  // namespace

Ref<RLSiteReachability> RLSiteReachability::make() {
  auto checker = std::make_shared<RLSiteReachability>();
  checker->siteRequest_->setDelegate(std::static_pointer_cast<RLHTTPRequestDelegate>(checker));
  return checker;
}

RLSiteReachability::RLSiteReachability()
    : siteURL_(URL::make(kRLSiteReachabilityDefaultSite)), siteRequest_(RLHTTPRequest::make()) {
  siteRequest_->setTimeoutInterval(15.0);
}

RLSiteReachability::~RLSiteReachability() {
  delegate_.reset();
  siteRequest_->setDelegate({});
  stopChecking();
}

bool RLSiteReachability::respondsToSelector(std::string_view selector) const {
  static const std::set<std::string_view> answered = {"httpRequestDidComplete", "httpRequestDidFailWithError"};
  return answered.contains(selector) || Object::respondsToSelector(selector);
}

Ref<RLSiteReachabilityDelegate> RLSiteReachability::liveDelegate(std::string_view selector) const {
  auto delegate = delegate_.lock();
  return delegate && delegate->respondsToSelector(selector) ? delegate : nullptr;
}

bool RLSiteReachability::networkConnectivityExists() {
  auto target = zeroAddressTarget();
  auto flags = target ? target->flags() : std::nullopt;
  return flags && (*flags & net::kReachabilityFlagReachable);
}

void RLSiteReachability::startChecking() {
  stopChecking();
  reachability_ = zeroAddressTarget();
  if (!reachability_) return;
  std::weak_ptr<RLSiteReachability> weakSelf = selfAs<RLSiteReachability>();
  const auto flags = reachability_->flags();
  reachability_->setCallback([weakSelf](std::uint32_t changed) {
    if (auto checker = weakSelf.lock()) checker->handleFlags(changed);
  });
  reachability_->scheduleInRunLoop(RunLoop::current(), kRunLoopCommonModes);
  if (flags) {
    handleFlags(*flags);
  } else {
    timeoutTimer_ = Timer::create(timeoutInterval(), false, [weakSelf](Timer&) {
      if (auto checker = weakSelf.lock()) {
        checker->timeoutTimer_ = nullptr;
        checker->reportNotReachable();
      }
    });
    RunLoop::current()->addTimer(timeoutTimer_, kDefaultRunLoopMode);
  }
}

void RLSiteReachability::stopChecking() {
  siteRequest_->cancelWithoutDelegateMessage();
  if (timeoutTimer_) timeoutTimer_->invalidate();
  timeoutTimer_ = nullptr;
  if (reachability_) {
    reachability_->setCallback(nullptr);
    reachability_->unscheduleFromRunLoop(RunLoop::current(), kRunLoopCommonModes);
  }
  reachability_ = nullptr;
  lastCheckStatus_.reset();
}

void RLSiteReachability::handleFlags(std::uint32_t flags) {
  if (timeoutTimer_) timeoutTimer_->invalidate();
  timeoutTimer_ = nullptr;
  if (!(flags & net::kReachabilityFlagReachable)) return reportNotReachable();
  const std::string type = (flags & net::kReachabilityFlagIsWWAN) ? kRLSiteReachabilityConnectionTypeWWAN
                                                                  : kRLSiteReachabilityConnectionTypeWiFi;
  if (siteURL_) {
    siteRequest_->cancelWithoutDelegateMessage();
    siteRequest_->setSessionInfo(String::make(type));
    if (!siteRequest_->performMethod("HEAD", siteURL_, Ref<Data>())) reportNotReachable();
    return;
  }
  if (lastCheckStatus_ == type) return;
  if (flags & net::kReachabilityFlagConnectionRequired) return reportNotReachable();
  reportAvailable(type);
}

void RLSiteReachability::reportAvailable(const std::string& type) {
  lastCheckStatus_ = type;
  if (auto delegate = liveDelegate("reachabilitySiteIsAvailableOverConnectionType")) {
    delegate->reachabilitySiteIsAvailableOverConnectionType(*this, siteURL_, type);
  }
}

void RLSiteReachability::reportNotReachable() {
  if (lastCheckStatus_ == kRLSiteReachabilityNotReachable) return;
  lastCheckStatus_ = kRLSiteReachabilityNotReachable;
  if (auto delegate = liveDelegate("reachabilitySiteIsNotAvailable")) delegate->reachabilitySiteIsNotAvailable(*this, siteURL_);
}

void RLSiteReachability::httpRequestDidComplete(RLHTTPRequest& request) {
  auto hold = self();
  const auto type = request.sessionInfo() ? request.sessionInfo()->description() : std::string();
  if (lastCheckStatus_ != type) reportAvailable(type);
}

void RLSiteReachability::httpRequestDidFailWithError(RLHTTPRequest&, const std::string&) {
  auto hold = self();
  reportNotReachable();
}

}  // namespace zv
