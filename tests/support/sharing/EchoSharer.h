#pragma once
// The worked example of a service sharer, the shape every service sharer copies: capabilities,
// a login form checked before it is saved, and send() posting the item to the service and
// reporting exactly one outcome.
//
// Service: the configuration key "echoServiceURL" (a key this sharer adds; the test points it at
// the loopback EchoService). Real service sharers keep their https URLs in code and tests point
// the hosts at loopback through the network layer's test host map.
//
// Threads: main thread; the URL connection calls back on the main run loop. Ownership: the
// running connection retains the sharer (its delegate) until the load ends.

#include <string>

#include "platform/net/URLConnection.h"
#include "sharing/core/SXSharer.h"

namespace zv::testing {

class EchoSharer : public SXSharer, public net::URLConnectionDelegate {
 public:
  std::string sharerTitle() const override { return "Echo"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }

  // Both fields must be filled before the login is kept.
  void authorizationFormValidate(SXFormController& form) override;
  bool send() override;

  void connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) override;
  void connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) override;
  bool respondsToSelector(std::string_view selector) const override {
    return NavigationController::respondsToSelector(selector);
  }

  static void registerClass();

 private:
  Ref<net::URLConnection> connection_;
  int status_ = 0;
  std::string body_;
};

}  // namespace zv::testing
