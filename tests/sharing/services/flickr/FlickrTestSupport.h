#pragma once
// What the photo-service tests share: a sharing fixture on the real clock with the loopback
// service started, and a client delegate that records what it hears.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runloop/RunLoopPump.h"
#include "sharing/services/flickr/FlickrAPIRequest.h"
#include "support/sharing/FlickrService.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {

inline constexpr const char* kFlickrTestKey = "k3y";
inline constexpr const char* kFlickrTestSecret = "s&cr/t~";

class RecordingFlickrDelegate : public Object, public FlickrAPIRequestDelegate {
 public:
  void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest&, const Ref<Dictionary>& r) override {
    ++endings;
    response = r;
  }
  void flickrAPIRequestDidFailWithError(FlickrAPIRequest&, const Ref<Error>& e) override {
    ++endings;
    error = e;
  }
  void flickrAPIRequestImageUploadSentBytes(FlickrAPIRequest&, std::uint64_t sent, std::uint64_t total) override {
    progress.emplace_back(sent, total);
  }
  void flickrAPIRequestDidObtainOAuthRequestToken(FlickrAPIRequest&, const std::string& t,
                                                  const std::string& s) override {
    ++endings;
    token = t, secret = s;
  }
  void flickrAPIRequestDidObtainOAuthAccessToken(FlickrAPIRequest&, const std::string& t, const std::string& s,
                                                 const std::string& full, const std::string& user,
                                                 const std::string& nsid) override {
    ++endings;
    token = t, secret = s, fullName = full, userName = user, userNSID = nsid;
  }
  bool respondsToSelector(std::string_view) const override { return true; }
  bool wait() { return pumpRunLoopUntil([&] { return endings > 0; }, 60.0); }

  int endings = 0;
  Ref<Dictionary> response;
  Ref<Error> error;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
  std::string token, secret, fullName, userName, userNSID;
};

class FlickrTest : public SharingTest {
 protected:
  FlickrTest() : SharingTest(/*manualClock=*/false) {}
  void SetUp() override {
    SharingTest::SetUp();
    ASSERT_TRUE(service.start());
    context = FlickrAPIContext::initWithAPIKey(kFlickrTestKey, kFlickrTestSecret);
    request = FlickrAPIRequest::initWithAPIContext(context);
    request->setDelegate(delegate);
  }
  void TearDown() override {
    request.reset();
    EXPECT_TRUE(service.complaints().empty()) << service.complaints().front();
    SharingTest::TearDown();
  }

  FlickrService service{kFlickrTestKey, kFlickrTestSecret};
  Ref<FlickrAPIContext> context;
  Ref<FlickrAPIRequest> request;
  std::shared_ptr<RecordingFlickrDelegate> delegate = std::make_shared<RecordingFlickrDelegate>();
};

}  // namespace zv::testing
