#pragma once
// What the Facebook tests share: a sharing fixture with the real clock, the loopback Facebook
// service started and the service's hosts pointed at it, a fresh session per test, and delegates
// that record what they hear.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/net/CookieStore.h"
#include "platform/runloop/RunLoopPump.h"
#include "sharing/core/SX.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/facebook/FacebookClient.h"
#include "sharing/services/facebook/SXFacebook.h"
#include "support/sharing/FacebookService.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {

inline constexpr const char* kTestAppId = "1234567890";

class RecordingRequestDelegate : public Object, public FacebookRequestDelegate {
 public:
  void requestLoading(FacebookRequest&) override { events.push_back("loading"); }
  void requestDidReceiveResponse(FacebookRequest&, const Ref<net::URLResponse>&) override {
    events.push_back("response");
  }
  void requestDidFailWithError(FacebookRequest&, const Ref<Error>& e) override {
    events.push_back("fail");
    error = e;
  }
  void requestDidLoad(FacebookRequest&, const ObjectPtr& r) override {
    events.push_back("load");
    result = r;
  }
  void requestDidLoadRawResponse(FacebookRequest&, const Ref<Data>& data) override {
    events.push_back("raw");
    raw = data;
  }
  bool respondsToSelector(std::string_view) const override { return true; }
  bool ended() const { return error || result; }
  int endings() const {
    int count = 0;
    for (const auto& event : events) count += event == "fail" || event == "load";
    return count;
  }

  std::vector<std::string> events;
  ObjectPtr result;
  Ref<Error> error;
  Ref<Data> raw;
};

// A wall clock the test sets, on the real monotonic clock (run-loop timers and time-outs keep
// working); installed for the scope of the object.
class SettableWallClock : public Clock {
 public:
  SettableWallClock() : now_(SystemClock().now()) { Clock::install(std::shared_ptr<Clock>(this, [](Clock*) {})); }
  ~SettableWallClock() override { Clock::install(nullptr); }
  double now() const override { return now_.load(); }
  double monotonic() const override { return system_.monotonic(); }
  void set(double now) { now_ = now; }

 private:
  SystemClock system_;
  std::atomic<double> now_;
};

class RecordingSessionDelegate : public Object, public FacebookSessionDelegate {
 public:
  void facebookDidLogin() override { events.push_back("login"); }
  void facebookDidNotLogin(bool cancelled) override { events.push_back(cancelled ? "cancelled" : "failed"); }
  void facebookDidExtendTokenExpiresAt(const std::string& token, const Ref<Date>&) override {
    events.push_back("extended:" + token);
  }
  void facebookDidLogout() override { events.push_back("logout"); }
  void facebookSessionInvalidated() override { events.push_back("invalidated"); }
  std::vector<std::string> events;
};

class FacebookTest : public SharingTest {
 protected:
  FacebookTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    SXFacebook::resetSharedSessionForTesting();
    net::CookieStore::sharedInstance()->removeAllCookies();
    ASSERT_TRUE(service.start());
    configurator->set("facebookAppId", box(kTestAppId));
    configurator->set("appName", box("Zerivudor"));
    configurator->set("appURL", box("https://www.mirovast.com/zerivudor"));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
  }
  void TearDown() override {
    // A login reloads the frictionless list, and a logout or a newer login drops that reload
    // without stopping it: the test ends once every request of its clients has ended, so none is
    // still on its way when the process exits (the leak checker would see it then).
    EXPECT_TRUE(pumpRunLoopUntil(
        [&] {
          return std::all_of(clients_.begin(), clients_.end(),
                             [](const Ref<FacebookClient>& client) { return client->requestsInFlight() == 0; });
        },
        20.0));
    clients_.clear();
    pumpRunLoopFor(0.4);  // closing animations end
    SXFacebook::resetSharedSessionForTesting();
    net::CookieStore::sharedInstance()->removeAllCookies();
    SharingTest::TearDown();
  }

  // A client of the test's app id, waited for at the end.
  Ref<FacebookClient> makeClient(std::optional<std::string> suffix = std::nullopt,
                                 std::weak_ptr<FacebookSessionDelegate> delegate = {}) {
    clients_.push_back(FacebookClient::make(kTestAppId, std::move(suffix), std::move(delegate)));
    return clients_.back();
  }

  // Waits for the dialog's page to be on screen (loaded, not loading).
  static bool waitForPage(const Ref<FacebookDialog>& dialog, const std::string& title) {
    return pumpRunLoopUntil([&] {
      return dialog && !dialog->webView()->isLoading() && dialog->webView()->pageTitle() == title;
    }, 20.0);
  }

  // Fills and sends the page's form as a user would.
  static void submit(const Ref<FacebookDialog>& dialog, const std::map<std::string, std::string>& fields,
                     const std::string& button) {
    auto webView = dialog->webView();
    auto request = FacebookService::formSubmission(webView->pageHTML(), webView->request()->url(), fields, button);
    ASSERT_TRUE(request) << "no form with a \"" << button << "\" button on the page";
    webView->simulateFormSubmit(request);
  }

  FacebookService service{kTestAppId};
  Ref<ui::ViewController> root;

 private:
  std::vector<Ref<FacebookClient>> clients_;
};

}  // namespace zv::testing
