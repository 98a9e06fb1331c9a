#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/foundation/Array.h"
#include "platform/foundation/String.h"
#include "platform/net/ProxySettings.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/services/flickr/AllocationCounter.h"
#include "sharing/services/flickr/FKXMLMapper.h"
#include "sharing/services/flickr/FlickrUtilities.h"
#include "sharing/services/flickr/FlickrTestSupport.h"
#include "support/net/RedirectingService.h"

namespace zv::testing {
namespace {

// Text of many short lines, at least `size` bytes.
std::string manyLines(std::size_t size) {
  std::string text;
  while (text.size() < size) text += "line " + std::to_string(text.size()) + "\n";
  return text;
}

Ref<Dictionary> args(std::initializer_list<std::pair<std::string_view, std::string>> entries) {
  auto dictionary = MutableDictionary::make();
  for (const auto& [key, value] : entries) dictionary->setObject(String::make(value), key);
  return dictionary;
}

TEST(FlickrSigning, SortsKeysAndSignsUnescapedValues) {
  auto context = FlickrAPIContext::initWithAPIKey("KEY", "SECRET");
  auto components = context->signedArgumentComponentsFromArguments(args({{"b", "2"}, {"a", "1"}}).get(), false);
  ASSERT_EQ(components.size(), 4u);
  EXPECT_EQ(components[0].first, "a");
  EXPECT_EQ(components[1].first, "api_key");
  EXPECT_EQ(components[2].first, "b");
  EXPECT_EQ(components[3], std::make_pair(std::string("api_sig"), FlickrService::md5Signature("SECRET", {{"a", "1"}, {"api_key", "KEY"}, {"b", "2"}})));

  context->setAuthToken("TOK");
  const auto query = context->signedQueryFromArguments(args({{"v", "x&y=z/w"}}).get());
  EXPECT_NE(query.find("v=x%26y=z/w"), std::string::npos) << query;
  EXPECT_NE(query.find("auth_token=TOK"), std::string::npos);
  EXPECT_NE(query.find("api_sig=" + FlickrService::md5Signature("SECRET", {{"api_key", "KEY"}, {"auth_token", "TOK"}, {"v", "x&y=z/w"}})),
            std::string::npos);
}

TEST(FlickrSigning, OAuthEscapingAndSigningKey) {
  EXPECT_EQ(FKOAuthEscapedString("a~b c/d!*'()"), "a~b%20c%2Fd%21%2A%27%28%29");
  EXPECT_EQ(FKOAuthEscapedString("Az09-._"), "Az09-._");
  // Secrets with reserved characters are escaped in the key, so "a&b" and "a", "b" differ.
  EXPECT_EQ(FKOAuthSigningKey("a&b", ""), "a%26b&");
  EXPECT_NE(FKOAuthSigningKey("a&b", ""), FKOAuthSigningKey("a", "b"));
  auto context = FlickrAPIContext::initWithAPIKey("KEY", "se&cret");
  context->setOAuthToken("tok");
  context->setOAuthTokenSecret("ts/1");
  auto signedArgs = context->signedOAuthHTTPQueryArguments(args({{"q", "a~b"}}).get(), "https://x.test/p", "GET");
  std::multimap<std::string, std::string> parameters;
  for (const auto& [key, value] : signedArgs->entries()) parameters.emplace(key->description(), value->description());
  EXPECT_EQ(parameters.find("oauth_token")->second, "tok");
  EXPECT_EQ(parameters.find("oauth_nonce")->second.size(), 8u);
  EXPECT_EQ(FlickrService::oauthSignature("GET", "https://x.test/p", parameters, "se&cret", "ts/1"),
            signedArgs->stringForKey("oauth_signature"));
}

TEST(FlickrSigning, URLs) {
  auto context = FlickrAPIContext::initWithAPIKey("KEY", "SECRET");
  auto photo = args({{"farm", "3"}, {"id", "7"}, {"secret", "ab"}, {"server", "99"}, {"owner", "u1"}});
  EXPECT_EQ(context->photoSourceURLFromDictionary(*photo, "m")->absoluteString(),
            "https://farm3.static.flickr.com/99/7_ab_m.jpg");
  EXPECT_EQ(context->photoWebPageURLFromDictionary(*photo)->absoluteString(), "https://www.flickr.com/photos/u1/7");
  context->setPhotoSource("ftp://nope/");
  EXPECT_EQ(context->photoSource(), "https://static.flickr.com/");
  auto login = context->loginURLFromFrobDictionary(nullptr, "write")->absoluteString();
  EXPECT_TRUE(login.starts_with("https://www.flickr.com/services/auth/?")) << login;
  EXPECT_NE(login.find("perms=write"), std::string::npos);
  EXPECT_EQ(login.find("frob="), std::string::npos);
  EXPECT_EQ(context->userAuthorizationURLWithRequestToken("t", "")->absoluteString(),
            "https://www.flickr.com/services/oauth/authorize?oauth_token=t");
}

TEST(FlickrUtilities, QueryStringsAndDigests) {
  EXPECT_EQ(FKQueryDictionaryFromString(""), nullptr);
  EXPECT_EQ(FKQueryDictionaryFromString("a=1&b"), nullptr);
  EXPECT_EQ(FKQueryDictionaryFromString("a=1=2"), nullptr);
  auto values = FKQueryDictionaryFromString("a=1&b=%20&a=3");
  ASSERT_TRUE(values);
  EXPECT_EQ(values->stringForKey("a"), "3");
  EXPECT_EQ(values->stringForKey("b"), "%20");
  EXPECT_EQ(FKMD5HexStringFromString("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(FKHMACSHA1Base64("The quick brown fox jumps over the lazy dog", "key"), "3nybhbi3iqa8ino29wqQcBydtNk=");
  EXPECT_EQ(FKEscapedURLString("a b&c=d/é"), "a%20b%26c=d/%C3%A9");
  EXPECT_EQ(FKEscapedURLString("c++ 1+1"), "c%2B%2B%201%2B1");  // a form reader takes "+" for a blank
  EXPECT_EQ(FKNewUUIDString().size(), 36u);
}

TEST(FlickrXMLMapper, MapsElementsAttributesTextAndPlurals) {
  auto mapped = FKXMLMapper::dictionaryMappedFromXMLData(Data::make(
      "<rsp stat=\"ok\"><photos page=\"1\"><photo id=\"1\"/><photo id=\"2\"/></photos><photoid>42</photoid>"
      "<a/><a/><a/></rsp>"));
  ASSERT_TRUE(mapped);
  auto rsp = mapped->objectForKeyAs<Dictionary>("rsp");
  ASSERT_TRUE(rsp);
  EXPECT_EQ(rsp->stringForKey("stat"), "ok");
  auto photos = rsp->objectForKeyAs<Dictionary>("photos")->objectForKeyAs<Array>("photo");
  ASSERT_TRUE(photos);
  ASSERT_EQ(photos->count(), 2u);
  EXPECT_EQ(photos->objectAtIndexAs<Dictionary>(1)->stringForKey("id"), "2");
  EXPECT_EQ(FKTextContent(rsp->objectForKey("photoid")), "42");
  EXPECT_EQ(rsp->objectForKeyAs<Array>("a")->count(), 3u);
  // A single plural child is an array of one.
  auto one = FKXMLMapper::dictionaryMappedFromXMLData(Data::make("<photos><photo id=\"1\"/></photos>"));
  EXPECT_EQ(FKValueForKeyPath(one, "photos.photo") ? std::dynamic_pointer_cast<Array>(FKValueForKeyPath(one, "photos.photo"))->count() : 0u, 1u);
}

TEST(FlickrXMLMapper, TextOfManyLinesIsGatheredInLinearWork) {
  // The parser hands text over line by line; gathering it must not copy what came before each time.
  const std::string text = manyLines(3u << 20);
  const std::string reply = "<rsp stat=\"ok\"><photoid>" + text + "</photoid><a>x<b/>y</a></rsp>";
  auto mapper = FKXMLMapper::make();
  startCountingAllocations();
  const bool mapped = mapper->runWithData(reply);
  const std::size_t allocated = stopCountingAllocations();
  ASSERT_TRUE(mapped);
  EXPECT_LT(allocated, 8 * reply.size());
  EXPECT_EQ(FKTextContent(FKValueForKeyPath(mapper->resultantDictionary(), "rsp.photoid")), text);
  // Text on both sides of a child belongs to the parent.
  EXPECT_EQ(FKTextContent(FKValueForKeyPath(mapper->resultantDictionary(), "rsp.a")), "xy");
}

TEST(FlickrXMLMapper, RefusesWhatItCannotMap) {
  auto mapper = FKXMLMapper::make();
  EXPECT_FALSE(mapper->runWithData("<rsp><user name=\"a\"><name/></user></rsp>"));
  EXPECT_EQ(mapper->failureReason(), "Faulty XML structure");
  EXPECT_EQ(mapper->resultantDictionary(), nullptr);
  EXPECT_FALSE(mapper->runWithData("<rsp><open></rsp>"));
  EXPECT_FALSE(mapper->runWithData("not xml at all"));
  EXPECT_FALSE(mapper->runWithData(
      "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><r>&b;&b;</r>"));
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<e>";
  EXPECT_FALSE(mapper->runWithData(deep));
  // The mapper is reusable after a failure.
  EXPECT_TRUE(mapper->runWithData("<rsp stat=\"ok\"/>"));
}

TEST_F(FlickrTest, GetAndPostCallsAreSignedAndEchoed) {
  auto arguments = args({{"text", "a&b=c/d e+é"}});
  ASSERT_TRUE(request->callAPIMethodWithGET("flickr.test.echo", arguments.get()));
  EXPECT_FALSE(request->callAPIMethodWithGET("flickr.test.echo", nullptr));  // one call at a time
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  auto echo = delegate->response->objectForKeyAs<Dictionary>("echo");
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->stringForKey("text"), "a&b=c/d e+é");

  delegate->endings = 0;
  delegate->response = nullptr;
  ASSERT_TRUE(request->callAPIMethodWithPOST("flickr.test.echo", args({{"text", "c++ 1+1"}}).get()));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  echo = delegate->response->objectForKeyAs<Dictionary>("echo");
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->stringForKey("text"), "c++ 1+1");
  EXPECT_EQ(service.calls().back().httpMethod, "POST");
  EXPECT_EQ(service.calls().back().signatureScheme, "md5");
}

TEST_F(FlickrTest, OAuthFlowSignsEveryStep) {
  service.setOAuthTokens("rt-1", "rs~&1", "at/2", "as~/2");
  ASSERT_TRUE(request->fetchOAuthRequestTokenWithCallbackURL(URL::make("https://callback.example/cb?x=1")));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->token, "rt-1");
  EXPECT_EQ(delegate->secret, "rs~%261");  // the reply's values are left escaped
  context->setOAuthTokenSecret("rs~&1");

  delegate->endings = 0;
  ASSERT_TRUE(request->fetchOAuthAccessTokenWithRequestToken("rt-1", "v3r"));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->token, "at/2");
  EXPECT_EQ(delegate->userName, FlickrService::kUserName);

  context->setOAuthToken("at/2");
  context->setOAuthTokenSecret("as~/2");
  delegate->endings = 0;
  ASSERT_TRUE(request->callAPIMethodWithPOST("flickr.test.echo", args({{"v", "a~b&c"}}).get()));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  delegate->endings = 0;
  ASSERT_TRUE(request->callAPIMethodWithGET("flickr.test.echo", args({{"v", "x y"}}).get()));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response);
  for (const auto& call : service.calls()) EXPECT_EQ(call.signatureScheme, "oauth") << call.path;
}

TEST_F(FlickrTest, TokenRepliesToleratePiecesTheyDoNotNeed) {
  service.setOAuthReplyBody("garbage&oauth_token=t&oauth_token_secret=s&x=1=2");
  ASSERT_TRUE(request->fetchOAuthRequestTokenWithCallbackURL(URL::make("https://callback.example/cb")));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->token, "t");
  EXPECT_EQ(delegate->secret, "s");

  service.setOAuthReplyBody("oauth_problem=nope&junk");
  delegate->endings = 0;
  ASSERT_TRUE(request->fetchOAuthRequestTokenWithCallbackURL(URL::make("https://callback.example/cb")));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code(), kFlickrClientOAuthError);
  EXPECT_EQ(delegate->error->userInfo()->stringForKey("OAuthError"), "oauth_problem=nope&junk");
}

TEST_F(FlickrTest, ServiceErrorsAndUnusableRepliesBecomeErrors) {
  ASSERT_TRUE(request->callAPIMethodWithGET("flickr.auth.checkToken", nullptr));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->domain(), kFlickrServiceErrorDomain);
  EXPECT_EQ(delegate->error->code(), kFlickrInvalidTokenCode);
  EXPECT_EQ(delegate->error->userInfo()->stringForKey(kLocalizedFailureReasonKey), "Invalid auth token");

  const std::vector<std::string> bad = {
      "<html>not the API</html>", "<rsp stat=\"fail\"><err msg=\"no code\"/></rsp>", "<rsp stat=\"ok\"",
      "<!DOCTYPE r [<!ENTITY a \"aaaa\">]><rsp stat=\"ok\">&a;</rsp>",
      "<rsp stat=\"fail\">" + manyLines(16u << 20) + "</rsp>"};
  for (const auto& body : bad) {
    service.setNextRESTReply(body);
    delegate->endings = 0;
    delegate->error = nullptr;
    ASSERT_TRUE(request->callAPIMethodWithGET("flickr.test.echo", nullptr));
    ASSERT_TRUE(delegate->wait());
    EXPECT_EQ(delegate->endings, 1);
    ASSERT_TRUE(delegate->error) << body.substr(0, 40);
    EXPECT_EQ(delegate->error->domain(), kFlickrClientErrorDomain);
    EXPECT_EQ(delegate->error->code(), kFlickrClientBadReply);
  }
}

// A stream that has nothing to give at first and then yields its bytes in small pieces.
class HesitantStream : public net::InputStream {
 public:
  explicit HesitantStream(std::string bytes) : bytes_(std::move(bytes)) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (++calls_ % 3 != 0) return kReadWouldBlock;
    const std::size_t count = std::min<std::size_t>({maxLength, 1000, bytes_.size() - offset_});
    std::memcpy(buffer, bytes_.data() + offset_, count);
    offset_ += count;
    return static_cast<long>(count);
  }

 private:
  std::string bytes_;
  std::size_t offset_ = 0;
  int calls_ = 0;
};

TEST_F(FlickrTest, UploadStreamsTheWholePhotoWithProgress) {
  EXPECT_FALSE(request->uploadImageStream(net::InputStream::withData(Data::make("x")), "", "image/jpeg", nullptr));
  context->setAuthToken(service.issueToken());
  std::string photo(300000, '\0');
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<char>(i * 31 % 251);
  ASSERT_TRUE(request->uploadImageStream(std::make_shared<HesitantStream>(photo), "", "image/jpeg",
                                         args({{"title", "t"}}).get()));
  const auto file = request->uploadTempFilename();
  ASSERT_TRUE(std::filesystem::exists(file));
  // The file holds the token and the signature.
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(file).permissions() & (perms::group_all | perms::others_all), perms::none);
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  EXPECT_FALSE(FKTextContent(delegate->response->objectForKey("photoid")).empty());
  ASSERT_EQ(service.uploads().size(), 1u);
  EXPECT_EQ(service.uploads()[0].second, photo);
  EXPECT_EQ(service.uploads()[0].first.size(), 36u);  // a UUID stands in for the missing name
  ASSERT_FALSE(delegate->progress.empty());
  EXPECT_EQ(delegate->progress.back().first, delegate->progress.back().second);
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(FlickrTest, QuotesAndLineBreaksInANameStayInTheirPart) {
  context->setAuthToken(service.issueToken());
  const std::string title = "My \"best\" photo\r\nX-Injected: 1";
  ASSERT_TRUE(request->uploadImageStream(net::InputStream::withData(Data::make("jpeg")), title, "image/jpeg",
                                         args({{"title", title}}).get()));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  ASSERT_EQ(service.uploads().size(), 1u);
  EXPECT_EQ(service.uploads()[0].first, "My %22best%22 photo%0D%0AX-Injected: 1");
  EXPECT_EQ(service.uploads()[0].second, "jpeg");
  EXPECT_EQ(service.calls().back().arguments.at("title"), title);  // a value is the part's body, as it is
}

TEST_F(FlickrTest, ALargeReplyOfManyLinesMapsWhole) {
  const std::string text = manyLines(8u << 20);
  service.setNextRESTReply("<rsp stat=\"ok\"><photoid>" + text + "</photoid></rsp>");
  ASSERT_TRUE(request->callAPIMethodWithGET("flickr.test.echo", nullptr));
  ASSERT_TRUE(delegate->wait());
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  EXPECT_EQ(FKTextContent(delegate->response->objectForKey("photoid")), text);
}

TEST_F(FlickrTest, UploadOfAPhotoThatIsGoneFailsAtOnce) {
  context->setAuthToken(service.issueToken());
  EXPECT_FALSE(request->uploadImageStream(net::InputStream::withFileAtPath(home.path() / "missing.jpg"), "a.jpg",
                                          "image/jpeg", nullptr));
  EXPECT_TRUE(request->uploadTempFilename().empty());
  EXPECT_FALSE(request->isRunning());
}

TEST_F(FlickrTest, AStalledUploadTimesOutOnceAndLeavesNoFile) {
  FaultServer stalling;
  ASSERT_TRUE(stalling.start());
  context->setAuthToken(service.issueToken());
  context->setUploadEndpoint(stalling.url("/stall"));
  request->setRequestTimeoutInterval(1.0);
  ASSERT_TRUE(request->uploadImageStream(net::InputStream::withData(Data::make(std::string(200000, 'p'))), "p.jpg",
                                         "image/jpeg", nullptr));
  const auto file = request->uploadTempFilename();
  ASSERT_TRUE(delegate->wait());
  pumpRunLoopFor(0.2);
  EXPECT_EQ(delegate->endings, 1);
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code(), kFlickrClientTimeout);
  EXPECT_EQ(delegate->error->userInfo()->stringForKey(kLocalizedFailureReasonKey), "Request timeout");
  EXPECT_FALSE(std::filesystem::exists(file));
  stalling.stop();
}

TEST_F(FlickrTest, CallsWorkWithAProxyAutoConfigurationScript) {
  const auto script = home.path() / "proxy.pac";
  std::ofstream(script) << "function FindProxyForURL(url, host) { return host == 'api.flickr.com' ? 'DIRECT' : 'PROXY 127.0.0.1:1'; }";
  net::SystemProxySettings settings;
  settings.autoConfigurationURL = URL::fileURL(script.string());
  net::ProxySettings::setSystemSettings(settings);
  ASSERT_TRUE(request->callAPIMethodWithPOST("flickr.test.echo", args({{"text", "through the script"}}).get()));
  const bool ended = delegate->wait();
  net::ProxySettings::setSystemSettings(std::nullopt);
  ASSERT_TRUE(ended);
  ASSERT_TRUE(delegate->response) << (delegate->error ? delegate->error->description() : "");
  auto echo = delegate->response->objectForKeyAs<Dictionary>("echo");
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->stringForKey("text"), "through the script");
}

TEST_F(FlickrTest, ARedirectedCallSendsNothingToAnotherHostOrPlainHTTPAndTakesNoReply) {
  context->setAuthToken(service.issueToken());
  RedirectingService moved({"api.flickr.com", "www.flickr.com"});
  ASSERT_TRUE(moved.start());
  moved.setCaughtReply("text/xml", "<rsp stat=\"ok\"><echo text=\"forged\"/></rsp>");
  for (int status : {307, 308}) {
    for (auto target : {RedirectingService::Target::AnotherHost, RedirectingService::Target::PlainHTTP}) {
      SCOPED_TRACE(status);
      moved.redirectWith(status, target);
      delegate->endings = 0;
      delegate->response = nullptr;
      delegate->error = nullptr;
      ASSERT_TRUE(request->callAPIMethodWithPOST("flickr.test.echo", args({{"text", "x"}}).get()));
      ASSERT_TRUE(delegate->wait());
      EXPECT_FALSE(delegate->response);
      ASSERT_TRUE(delegate->error);
      EXPECT_EQ(delegate->error->code(), kFlickrClientConnectionLost);
    }
  }
  ASSERT_EQ(moved.received().size(), 4u);
  EXPECT_NE(moved.received()[0].body.find("api_sig="), std::string::npos);
  EXPECT_TRUE(moved.caught().empty());
}

TEST_F(FlickrTest, AnUploadRedirectedWithinItsHostFailsAtOnceInsteadOfStalling) {
  FaultServer moving;
  ASSERT_TRUE(moving.start());
  context->setAuthToken(service.issueToken());
  request->setRequestTimeoutInterval(20.0);  // a safety net: the failure comes long before
  for (const char* status : {"307", "308"}) {
    SCOPED_TRACE(status);
    context->setUploadEndpoint(moving.url(std::string("/redirect-status/") + status + "?to=/echo"));
    delegate->endings = 0;
    delegate->error = nullptr;
    ASSERT_TRUE(request->uploadImageStream(net::InputStream::withData(Data::make(std::string(20000, 'p'))), "p.jpg",
                                           "image/jpeg", nullptr));
    ASSERT_TRUE(delegate->wait());
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code(), kFlickrClientConnectionLost);
  }
}

}  // namespace
}  // namespace zv::testing
