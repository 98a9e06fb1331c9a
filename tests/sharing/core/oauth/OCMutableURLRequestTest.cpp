#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "sharing/core/oauth/OCMutableURLRequest.h"
#include "sharing/core/oauth/OCParameterAdditions.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

using oauth_parameters::parameters;
using oauth_parameters::setParameters;

Ref<OCMutableURLRequest> photosRequest(Ref<OCSignatureProviding> provider = nullptr) {
  return OCMutableURLRequest::make(URL::make("http://photos.example.net/photos?file=vacation.jpg&size=original"),
                                   OCConsumer::make("dpf43f3p2l4k3l03", "kd94hf93k423kf44"),
                                   OCToken::make("nnch734d00sl2jdk", "pfkkdhi9sl3r4s00"), "Photos",
                                   std::move(provider), "kllo9940pd9333jh", "1191242096");
}

// The worked example of RFC 5849 section 1.2.
TEST(OCMutableURLRequestTest, SignsTheRFCPhotosExample) {
  auto request = photosRequest();
  EXPECT_EQ(request->_signatureBaseString(),
            "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%3Ddpf43f3p2l4k3l03"
            "%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1191242096"
            "%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal");
  request->prepare();
  EXPECT_EQ(request->signature(), "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  EXPECT_EQ(request->valueForHTTPHeaderField("authorization"),
            "OAuth realm=\"Photos\", oauth_consumer_key=\"dpf43f3p2l4k3l03\", oauth_token=\"nnch734d00sl2jdk\", "
            "oauth_signature_method=\"HMAC-SHA1\", oauth_signature=\"tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D\", "
            "oauth_timestamp=\"1191242096\", oauth_nonce=\"kllo9940pd9333jh\", oauth_version=\"1.0\"");
}

TEST(OCMutableURLRequestTest, BaseStringURIIsNormalized) {
  struct Case {
    const char* url;
    const char* uri;
  };
  const Case cases[] = {
      {"HTTP://Photos.Example.NET/Photos?x=1", "http://photos.example.net/Photos"},
      {"http://example.com:80/r", "http://example.com/r"},
      {"https://example.com:443/r", "https://example.com/r"},
      {"http://example.com:8080/r", "http://example.com:8080/r"},
      {"https://example.com:80/r", "https://example.com:80/r"},
      {"http://example.com", "http://example.com/"},
      {"http://example.com/a%20b#frag", "http://example.com/a%20b"},
  };
  for (const auto& c : cases) EXPECT_EQ(oauth_signing::baseStringURI(*URL::make(c.url)), c.uri) << c.url;

  auto request = OCMutableURLRequest::make(URL::make("HTTP://Example.COM:80/p"), OCConsumer::make("k", "s"), nullptr,
                                           std::nullopt, nullptr, "n", "1");
  EXPECT_TRUE(request->_signatureBaseString().starts_with("GET&http%3A%2F%2Fexample.com%2Fp&"));
}

TEST(OCMutableURLRequestTest, PairsSortByEncodedNameThenValue) {
  auto request = OCMutableURLRequest::make(URL::make("http://h/p?a1=x&a=z&a=y&b=%20&a=10"), OCConsumer::make("k", "s"),
                                           nullptr, std::nullopt, nullptr, "n", "1");
  std::string base = request->_signatureBaseString();
  // "a" before "a1" although "=" sorts after "1"; equal names by value ("10" before "y").
  EXPECT_NE(base.find("&a%3D10%26a%3Dy%26a%3Dz%26a1%3Dx%26b%3D%2520%26oauth_consumer_key"), std::string::npos) << base;
}

TEST(OCMutableURLRequestTest, NoTokenNoRealmAndPlaintext) {
  auto request = OCMutableURLRequest::make(URL::make("https://api.example.com/token"),
                                           OCConsumer::make("key", "s&cret"), nullptr, std::nullopt,
                                           OCPlaintextSignatureProvider::make(), "N", "7");
  request->setHTTPMethod("POST");
  EXPECT_EQ(request->token()->key(), "");
  EXPECT_EQ(request->_signatureBaseString().find("oauth_token"), std::string::npos);
  request->prepare();
  EXPECT_EQ(request->signature(), "s%26cret&");  // the signing secret itself, ending in "&"
  EXPECT_EQ(request->valueForHTTPHeaderField("Authorization"),
            "OAuth realm=\"\", oauth_consumer_key=\"key\", oauth_signature_method=\"PLAINTEXT\", "
            "oauth_signature=\"s%2526cret%26\", oauth_timestamp=\"7\", oauth_nonce=\"N\", oauth_version=\"1.0\"");
}

TEST(OCMutableURLRequestTest, ExtraParametersInHeaderAndBaseString) {
  auto request = photosRequest();
  request->setOAuthParameterName("oauth_verifier", "v 1");
  request->setOAuthParameterName("oauth_callback", "oob");
  request->setOAuthParameterName("oauth_verifier", "v2");
  std::string base = request->_signatureBaseString();
  EXPECT_NE(base.find("oauth_callback%3Doob"), std::string::npos);
  EXPECT_NE(base.find("oauth_verifier%3Dv2"), std::string::npos);
  request->prepare();
  EXPECT_TRUE(request->valueForHTTPHeaderField("Authorization")
                  ->ends_with("oauth_version=\"1.0\", oauth_callback=\"oob\", oauth_verifier=\"v2\""));
}

TEST(OCMutableURLRequestTest, PrepareSignsOnlyOnce) {
  auto request = photosRequest();
  request->prepare();
  auto header = request->valueForHTTPHeaderField("Authorization");
  setParameters(*request, {OCRequestParameter::requestParameterWithName("other", "1")});
  request->prepare();
  EXPECT_EQ(request->signature(), "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  EXPECT_EQ(request->valueForHTTPHeaderField("Authorization"), header);
}

TEST(OCMutableURLRequestTest, BodyParametersAndMultipart) {
  auto request = OCMutableURLRequest::make(URL::make("http://h/post?q=ignored"), OCConsumer::make("k", "s"), nullptr,
                                           std::nullopt, nullptr, "n", "1");
  request->setHTTPMethod("POST");
  setParameters(*request, {OCRequestParameter::requestParameterWithName("status", "hi there!"),
                           OCRequestParameter::requestParameterWithName("\u00e9", "")});
  EXPECT_EQ(request->HTTPBody()->view(), "status=hi%20there%21&%C3%A9=");
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), "28");
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");
  std::string base = request->_signatureBaseString();
  EXPECT_NE(base.find("status%3Dhi%2520there%2521"), std::string::npos);
  EXPECT_EQ(base.find("q%3Dignored"), std::string::npos);

  request->setValueForHTTPHeaderField("multipart/form-data; boundary=x", "Content-Type");
  EXPECT_EQ(request->_signatureBaseString(),
            "POST&http%3A%2F%2Fh%2Fpost&oauth_consumer_key%3Dk%26oauth_nonce%3Dn%26oauth_signature_method%3DHMAC-SHA1"
            "%26oauth_timestamp%3D1%26oauth_version%3D1.0");
}

TEST(OCMutableURLRequestTest, DefaultsAndFreshTimestamp) {
  Clock::install(std::make_shared<ManualClock>(1000.5));
  auto a = OCMutableURLRequest::make(URL::make("http://h/"), OCConsumer::make("k", "s"));
  auto b = OCMutableURLRequest::make(URL::make("http://h/"), OCConsumer::make("k", "s"));
  Clock::install(nullptr);
  EXPECT_EQ(a->timestamp(), std::to_string(978307200 + 1000));
  EXPECT_EQ(a->nonce().size(), 36u);
  EXPECT_NE(a->nonce(), b->nonce());
  EXPECT_EQ(a->signatureProvider()->name(), "HMAC-SHA1");
  EXPECT_EQ(a->timeoutInterval(), 10.0);
  EXPECT_EQ(a->cachePolicy(), net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
  EXPECT_FALSE(a->didPrepare());
  EXPECT_EQ(a->description().find("Authorization"), std::string::npos);
}

TEST(OCParameterAdditionsTest, ReadingAndWritingParameters) {
  auto request = net::MutableURLRequest::requestWithURL(URL::make("http://h/p?a=1&b%20c=d%2Be&flag&x=y=z"));
  request->setHTTPBody(Data::make("a=1&b%20c=d%2Be&flag&x=y=z&bad=%41%zz%"));
  ASSERT_EQ(parameters(*request)->size(), 4u);
  request->setHTTPMethod("PUT");
  auto read = parameters(*request);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 5u);
  EXPECT_EQ((*read)[1]->name(), "b c");
  EXPECT_EQ((*read)[1]->value(), "d+e");
  EXPECT_EQ((*read)[2]->name(), "flag");
  EXPECT_EQ((*read)[2]->value(), "");
  EXPECT_EQ((*read)[3]->value(), "y");  // a further "=" and what follows are dropped
  EXPECT_EQ((*read)[4]->value(), "A%zz%");  // malformed escapes stay, valid ones are still decoded

  EXPECT_FALSE(parameters(*net::MutableURLRequest::requestWithURL(URL::make("http://h/p"))));
  EXPECT_FALSE(parameters(*net::MutableURLRequest::requestWithURL(URL::make("http://h/p?"))));
  request->setHTTPBody(nullptr);
  EXPECT_FALSE(parameters(*request));  // the body is the source for PUT

  auto get = net::MutableURLRequest::requestWithURL(URL::make("http://h/p?old=1"));
  setParameters(*get, {});
  EXPECT_EQ(get->url()->absoluteString(), "http://h/p?");
  get->setHTTPMethod("DELETE");
  setParameters(*get, {OCRequestParameter::requestParameterWithName("a b", "c&d")});
  EXPECT_EQ(get->url()->absoluteString(), "http://h/p?a%20b=c%26d");
  EXPECT_EQ(parameters(*get)->at(0)->value(), "c&d");
}

TEST(OCTokenTest, ParsesReplyBodies) {
  auto token = OCToken::initWithHTTPResponseBody(
      "oauth_token=ab%2Fc&oauth_token_secret=s3%2B%&oauth_callback_confirmed=true&oauth_session_handle=h");
  EXPECT_EQ(token->key(), "ab/c");
  EXPECT_EQ(token->secret(), "s3+%");
  EXPECT_EQ(token->sessionHandle(), "h");

  auto partial = OCToken::initWithHTTPResponseBody("oauth_token_secret&oauth_token=k");
  EXPECT_EQ(partial->key(), "k");
  EXPECT_EQ(partial->secret(), "");
  EXPECT_FALSE(partial->sessionHandle());

  auto none = OCToken::initWithHTTPResponseBody("");
  EXPECT_FALSE(none->key());
  EXPECT_FALSE(none->secret());

  EXPECT_EQ(OCToken::make()->sessionHandle(), "");
  EXPECT_FALSE(OCToken::make("k", "s")->sessionHandle());
}

TEST(OCTokenTest, UserDefaultsNeedBothValues) {
  testing::TemporaryDirectory home;
  auto defaults = UserDefaults::makeWithFile(home / "defaults.plist");
  EXPECT_EQ(OCToken::make("k", "s")->storeInUserDefaultsWithServiceProviderName(*defaults, "Twitter", "SX"), 0);
  EXPECT_EQ(defaults->stringForKey("OAUTH_SX_Twitter_KEY"), "k");
  EXPECT_EQ(defaults->stringForKey("OAUTH_SX_Twitter_SECRET"), "s");
  // Stored for good: a new handle over the same file reads the token back.
  auto loaded = OCToken::initWithUserDefaultsUsingServiceProviderName(*UserDefaults::makeWithFile(home / "defaults.plist"),
                                                                       "Twitter", "SX");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->secret(), "s");
  defaults->removeObjectForKey("OAUTH_SX_Twitter_SECRET");
  EXPECT_FALSE(OCToken::initWithUserDefaultsUsingServiceProviderName(*defaults, "Twitter", "SX"));
}

}  // namespace
}  // namespace zv
