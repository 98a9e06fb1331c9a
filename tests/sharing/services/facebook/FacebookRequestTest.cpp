// Graph and REST calls: how parameters travel (query, multipart body), how replies are judged,
// and the calls against the loopback service.

#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "sharing/services/facebook/FacebookRequest.h"
#include "support/net/LoopbackPorts.h"
#include "support/sharing/FacebookService.h"
#include "sharing/services/facebook/FacebookTestSupport.h"
#include "support/net/RedirectingService.h"

namespace zv::testing {
namespace {

Ref<graphics::Image> smallImage() { return graphics::Image::make(graphics::Bitmap::filled(4, 3, 200, 10, 10)); }

TEST(FacebookRequestSerializeTest, QueriesAreBuiltAndEscaped) {
  struct Case {
    std::string base;
    Ref<Dictionary> params;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"https://graph.facebook.com/me", Dictionary::make(), "https://graph.facebook.com/me?"},
      {"https://graph.facebook.com/me", Dictionary::make({{"a", box("1")}, {"b", box("x y&z")}}),
       "https://graph.facebook.com/me?a=1&b=x%20y%26z"},
      {"https://graph.facebook.com/me?fields=id", Dictionary::make({{"a", box("1")}}),
       "https://graph.facebook.com/me?fields=id&a=1"},
      {"https://x.org/p", Dictionary::make({{"to=all&me", box("!*'();:@&=+$,/?%#[]")}}),
       "https://x.org/p?to%3Dall%26me=%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"},
      {"https://x.org/p", Dictionary::make({{"n", box(7)}, {"t", box("é~-._")}}), "https://x.org/p?n=7&t=%C3%A9~-._"},
  };
  for (const auto& c : cases) EXPECT_EQ(FacebookRequest::serializeURL(c.base, c.params), c.expected) << c.expected;
}

TEST(FacebookRequestSerializeTest, FilesNeverGoIntoTheQuery) {
  LogCapture logs;
  auto params = Dictionary::make({{"picture", smallImage()}, {"raw", Data::make("abc")}, {"m", box("x")}});
  EXPECT_EQ(FacebookRequest::serializeURL("https://x.org/p", params, "GET"), "https://x.org/p?m=x");
  EXPECT_TRUE(logs.contains("can not use GET to upload a file"));
}

TEST(FacebookRequestBodyTest, EveryPartIsNamedAndTheBodyIsClosed) {
  auto params = MutableDictionary::make({{"message", box("say \"hi\"\r\nnow")},
                                         {"picture", smallImage()},
                                         {"blob", Data::make(std::string("\0\1\2", 3))},
                                         {"we\"ird", box("v")}});
  auto request = FacebookRequest::getRequestWithParams(params, "POST", {}, "https://graph.facebook.com/me/photos");
  const auto body = std::string(request->generatePostBody()->view());
  std::string why;
  auto parts = FacebookService::parseMultipart(body, kFacebookMultipartBoundary, &why);
  ASSERT_TRUE(parts) << why;
  ASSERT_EQ(parts->size(), 4u);
  EXPECT_EQ((*parts)[0].name, "message");
  EXPECT_EQ((*parts)[0].body, "say \"hi\"\r\nnow");
  EXPECT_EQ((*parts)[1].name, "we%22ird");  // a quote would end the name early
  EXPECT_EQ((*parts)[2].name, "picture");
  EXPECT_EQ((*parts)[2].filename, "picture");
  EXPECT_EQ((*parts)[2].contentType, "image/png");
  auto decoded = graphics::Image::imageWithData(*Data::make((*parts)[2].body));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size().width, 4);
  EXPECT_EQ((*parts)[3].name, "blob");
  EXPECT_EQ((*parts)[3].contentType, "content/unknown");
  EXPECT_EQ((*parts)[3].body, std::string("\0\1\2", 3));

  auto empty = FacebookRequest::getRequestWithParams(MutableDictionary::make(), "POST", {}, "https://x.org/p");
  EXPECT_EQ(empty->generatePostBody()->view(), std::string("--") + kFacebookMultipartBoundary + "--\r\n");
}

TEST(FacebookRequestParseTest, RepliesBecomeResultsOrErrors) {
  struct Case {
    std::string body;
    bool result;
    std::int64_t errorCode;  // 0: no error
  };
  const std::vector<Case> cases = {
      {"true", true, 0},
      {"false", false, kFacebookGeneralErrorCode},
      {"{\"error_code\":190,\"error_msg\":\"x\"}", false, 190},
      {"{\"error_code\":\"613\"}", false, 613},
      {"{\"error\":{\"code\":190}}", false, kFacebookGeneralErrorCode},
      {"{\"error_msg\":\"m\"}", true, kFacebookGeneralErrorCode},
      {"{\"error_reason\":\"r\"}", true, kFacebookGeneralErrorCode},
      {"{\"id\":\"1\"}", true, 0},
      {"[1,2]", true, 0},
      {"<html><body>Internal Server Error</body></html>", false, kFacebookGeneralErrorCode},
      {"", false, kFacebookGeneralErrorCode},
      {"{\"id\":", false, kFacebookGeneralErrorCode},
      {std::string(100000, '[') + std::string(100000, ']'), false, kFacebookGeneralErrorCode},
  };
  for (const auto& c : cases) {
    Ref<Error> error;
    auto result = FacebookRequest::parseJsonResponse(*Data::make(c.body), &error);
    const auto label = c.body.substr(0, 40);
    EXPECT_EQ(result != nullptr, c.result) << label;
    EXPECT_EQ(error ? error->code() : 0, c.errorCode) << label;
    if (error) {
      EXPECT_EQ(error->domain(), kFacebookErrorDomain) << label;
    }
  }
  Ref<Error> error;
  auto truth = dyn<Dictionary>(FacebookRequest::parseJsonResponse(*Data::make("true"), &error));
  ASSERT_TRUE(truth);
  EXPECT_EQ(truth->stringForKey("result"), "true");
}

class FacebookRequestNetworkTest : public FacebookTest {
 protected:
  Ref<FacebookRequest> start(const std::string& url, Ref<MutableDictionary> params, const std::string& method) {
    auto request = FacebookRequest::getRequestWithParams(std::move(params), method, delegate, url);
    request->addStateObserver([this](FacebookRequest& r) { states.push_back(r.state()); });
    request->connect();
    return request;
  }
  Ref<MutableDictionary> standard(const std::string& token) {
    return MutableDictionary::make({{"format", box("json")},
                                    {"sdk", box("ios")},
                                    {"sdk_version", box("2")},
                                    {"access_token", box(token)}});
  }
  bool waitForEnd() { return pumpRunLoopUntil([&] { return delegate->ended(); }, 20.0); }

  std::shared_ptr<RecordingRequestDelegate> delegate = std::make_shared<RecordingRequestDelegate>();
  std::vector<unsigned> states;
};

TEST_F(FacebookRequestNetworkTest, AGraphReadArrivesAsADictionary) {
  auto request = start("https://graph.facebook.com/me", standard(service.issueToken()), "GET");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"loading", "response", "raw", "load"}));
  auto me = dyn<Dictionary>(delegate->result);
  ASSERT_TRUE(me);
  EXPECT_EQ(me->stringForKey("id"), FacebookService::kUserId);
  EXPECT_EQ(states, (std::vector<unsigned>{FacebookRequestStateLoading, FacebookRequestStateFinished}));
  EXPECT_FALSE(request->loading());
  EXPECT_EQ(service.lastComplaint(), "");
}

TEST_F(FacebookRequestNetworkTest, APostCarriesItsParametersInTheBodyOnly) {
  auto token = service.issueToken();
  auto params = standard(token);
  params->setObject(box("Breathing, 80% & rising"), "message");
  params->setObject(box("{\"name\":\"Get it\",\"link\":\"https://x.org\"}"), "actions");
  start("https://graph.facebook.com/me/feed", params, "POST");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(service.lastComplaint(), "");
  ASSERT_EQ(delegate->events.back(), "load") << describe(delegate->error);
  auto sent = service.requestsTo("/me/feed");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].target, "/me/feed");
  EXPECT_EQ(sent[0].target.find(token), std::string::npos);
  ASSERT_EQ(service.posts().size(), 1u);
  EXPECT_EQ(service.posts()[0].fields.at("message"), "Breathing, 80% & rising");

  // A value holding the usual boundary stays one value and adds no part.
  const std::string smuggling = std::string("a\r\n--") + kFacebookMultipartBoundary +
                                "\r\nContent-Disposition: form-data; name=\"extra\"\r\n\r\nsmuggled";
  params = standard(token);
  params->setObject(box(smuggling), "message");
  params->setObject(box("{\"name\":\"Get it\",\"link\":\"https://x.org\"}"), "actions");
  delegate = std::make_shared<RecordingRequestDelegate>();
  start("https://graph.facebook.com/me/feed", params, "POST");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(service.lastComplaint(), "");
  ASSERT_EQ(service.posts().size(), 2u);
  EXPECT_EQ(service.posts()[1].fields.at("message"), smuggling);
  EXPECT_EQ(service.posts()[1].fields.count("extra"), 0u);
}

TEST_F(FacebookRequestNetworkTest, ARedirectedPostSendsTheTokenNowhereElseAndTakesNoReply) {
  RedirectingService moved({"graph.facebook.com"});
  ASSERT_TRUE(moved.start());
  moved.setCaughtReply("text/javascript", "{\"id\":\"forged\"}");
  for (int status : {307, 308}) {
    for (auto target : {RedirectingService::Target::AnotherHost, RedirectingService::Target::PlainHTTP}) {
      SCOPED_TRACE(status);
      moved.redirectWith(status, target);
      delegate = std::make_shared<RecordingRequestDelegate>();
      auto params = standard("SECRET-TOKEN");
      params->setObject(box("hello"), "message");
      start("https://graph.facebook.com/me/feed", params, "POST");
      ASSERT_TRUE(waitForEnd());
      EXPECT_FALSE(delegate->result);
      EXPECT_TRUE(delegate->error);
    }
  }
  ASSERT_EQ(moved.received().size(), 4u);
  EXPECT_NE(moved.received()[0].body.find("SECRET-TOKEN"), std::string::npos);
  EXPECT_TRUE(moved.caught().empty());
}

TEST_F(FacebookRequestNetworkTest, AnHTMLErrorPageIsAFailureNeverAResult) {
  service.failNextGraphCall(500, "text/html", "<html><body><h1>Internal Server Error</h1></body></html>");
  start("https://graph.facebook.com/me", standard(service.issueToken()), "GET");
  ASSERT_TRUE(waitForEnd());
  pumpRunLoopFor(0.1);
  EXPECT_EQ(delegate->endings(), 1);
  EXPECT_EQ(delegate->result, nullptr);
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->domain(), kFacebookErrorDomain);
  EXPECT_EQ(delegate->error->code(), kFacebookGeneralErrorCode);
}

TEST_F(FacebookRequestNetworkTest, JSONWithoutAnErrorUnderAnErrorStatusIsStillAFailure) {
  service.failNextGraphCall(503, "text/javascript", "{\"id\":\"4\"}");
  start("https://graph.facebook.com/me", standard(service.issueToken()), "GET");
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->userInfo()->objectForKey("http_status")->description(), "503");
}

TEST_F(FacebookRequestNetworkTest, AnExpiredSessionIsMarkedOnlyForTheRESTCode) {
  auto token = service.issueToken();
  service.expireToken(token);
  auto rest = start("https://api.facebook.com/method/auth.extendSSOAccessToken", standard(token), "GET");
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code(), 190);
  EXPECT_TRUE(rest->sessionDidExpire());

  delegate = std::make_shared<RecordingRequestDelegate>();
  auto graph = start("https://graph.facebook.com/me", standard(token), "GET");
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code(), kFacebookGeneralErrorCode);
  auto inner = delegate->error->userInfo()->objectForKeyAs<Dictionary>("error");
  ASSERT_TRUE(inner);
  EXPECT_EQ(intValueOf(inner->objectForKey("code")), 190);
  EXPECT_FALSE(graph->sessionDidExpire());
}

TEST_F(FacebookRequestNetworkTest, ATransportFailurePassesThePlatformErrorOnce) {
  testing::HeldLoopbackPort refusing;
  start(refusing.url("/me", "https"), standard("t"), "GET");
  ASSERT_TRUE(waitForEnd());
  pumpRunLoopFor(0.1);
  EXPECT_EQ(delegate->endings(), 1);
  EXPECT_NE(delegate->error->domain(), kFacebookErrorDomain);
  EXPECT_EQ(states.back(), FacebookRequestStateFinished);
}

TEST_F(FacebookRequestNetworkTest, ACancelledRequestSaysNothingMore) {
  auto request = start("https://graph.facebook.com/me", standard(service.issueToken()), "GET");
  request->cancel();
  pumpRunLoopFor(0.3);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"loading"}));
  EXPECT_EQ(request->state(), FacebookRequestStateFinished);
}

TEST_F(FacebookRequestNetworkTest, DescriptionsNeverShowTheToken) {
  auto request = start("https://graph.facebook.com/me", standard("SECRET-TOKEN"), "GET");
  EXPECT_EQ(request->description().find("SECRET-TOKEN"), std::string::npos);
  ASSERT_TRUE(waitForEnd());
}

}  // namespace
}  // namespace zv::testing
