#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "sharing/core/oauth/OAuthBuilder.h"
#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv {
namespace {

constexpr const char* kPhotosBase =
    "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%3Ddpf43f3p2l4k3l03"
    "%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1191242096"
    "%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal";

Ref<OAuthBuilder> photosBuilder(const char* url = "http://photos.example.net/photos") {
  auto builder = OAuthBuilder::initWithConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "dpf43f3p2l4k3l03", "kd94hf93k423kf44", "nnch734d00sl2jdk", "pfkkdhi9sl3r4s00", "kllo9940pd9333jh",
      "1191242096");
  builder->setHTTPMethod("GET");
  builder->setURL(URL::make(url));
  builder->setRequestParameters(Dictionary::make({{"size", box("original")}, {"file", box("vacation.jpg")}}));
  return builder;
}

std::string header(const net::URLRequest& request) { return request.valueForHTTPHeaderField("Authorization").value_or(""); }

// The worked example of RFC 5849 section 1.2, through the builder.
TEST(OAuthBuilderTest, SignsTheRFCPhotosExample) {
  auto builder = photosBuilder();
  EXPECT_EQ(builder->signatureSecret(), "kd94hf93k423kf44&pfkkdhi9sl3r4s00");
  EXPECT_EQ(builder->signatureBase(), kPhotosBase);
  EXPECT_EQ(builder->signature(), "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  std::string h = builder->authorizationHeader();
  EXPECT_TRUE(h.starts_with("OAuth oauth_consumer_key=\"dpf43f3p2l4k3l03\",oauth_nonce=\"kllo9940pd9333jh\","));
  EXPECT_NE(h.find(",oauth_token=\"nnch734d00sl2jdk\""), std::string::npos);
  EXPECT_TRUE(h.ends_with(",oauth_signature=\"tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D\""));
  EXPECT_EQ(h.find("realm"), std::string::npos);
  EXPECT_EQ(h.find("file"), std::string::npos);  // request parameters stay out of the header
  EXPECT_EQ(h.find(' ', 6), std::string::npos);
}

TEST(OAuthBuilderTest, BaseURLIgnoresQueryCaseAndDefaultPort) {
  EXPECT_EQ(photosBuilder("HTTP://Photos.Example.Net:80/photos?ignored=1")->signatureBase(), kPhotosBase);
  EXPECT_NE(photosBuilder("http://photos.example.net:8080/photos")->signatureBase().find("net%3A8080%2Fphotos"),
            std::string::npos);
}

TEST(OAuthBuilderTest, ShadowingRequestParameterIsSignedAndSentAlike) {
  auto builder = photosBuilder();
  builder->setRequestParameters(Dictionary::make({{"oauth_token", box("other")}}));
  EXPECT_NE(builder->signatureBase().find("oauth_token%3Dother"), std::string::npos);
  EXPECT_EQ(builder->signatureBase().find("nnch734d00sl2jdk"), std::string::npos);
  std::string h = builder->authorizationHeader();
  EXPECT_NE(h.find("oauth_token=\"other\""), std::string::npos);
  EXPECT_EQ(h.find("nnch734d00sl2jdk"), std::string::npos);
  EXPECT_EQ(builder->OAuthParameters()->stringForKey("oauth_token"), "nnch734d00sl2jdk");
}

TEST(OAuthBuilderTest, GetRequestsWithoutToken) {
  Clock::install(std::make_shared<ManualClock>(100.0));
  auto request = OAuthBuilder::URLRequestForPathGETParametersSchemeHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "/oauth", Dictionary::make({{"oauth_callback", box("en-key://response")}}), "https", "sandbox.example.com",
      "key", "sec ret", std::nullopt, std::nullopt);
  Clock::install(nullptr);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->url()->absoluteString(), "https://sandbox.example.com/oauth?oauth_callback=en-key%3A%2F%2Fresponse");
  EXPECT_EQ(request->HTTPMethod(), "GET");
  EXPECT_EQ(request->valueForHTTPHeaderField("Accept-Encoding"), "gzip");
  EXPECT_FALSE(request->valueForHTTPHeaderField("User-Agent"));
  EXPECT_EQ(request->timeoutInterval(), 10.0);
  EXPECT_TRUE(request->HTTPShouldHandleCookies());
  std::string h = header(*request);
  EXPECT_EQ(h.find("oauth_token"), std::string::npos);
  EXPECT_NE(h.find("oauth_timestamp=\"978307300\""), std::string::npos);
  EXPECT_EQ(h.find("oauth_callback"), std::string::npos);

  auto plain = OAuthBuilder::URLRequestForPathGETParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "/a path", Dictionary::make(), "h", "k", "s", "t", std::nullopt);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->url()->absoluteString(), "http://h/a%20path");
  EXPECT_NE(header(*plain).find("oauth_token=\"t\""), std::string::npos);

  EXPECT_FALSE(OAuthBuilder::URLRequestForPathGETParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      std::nullopt, nullptr, "h", "k", "s", std::nullopt, std::nullopt));
  EXPECT_FALSE(OAuthBuilder::URLRequestForPathGETParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "/p", nullptr, std::nullopt, "k", "s", std::nullopt, std::nullopt));
}

TEST(OAuthBuilderTest, SignatureSecretAndVerifiableSignature) {
  auto builder = OAuthBuilder::initWithConsumerKeyConsumerSecretAccessTokenTokenSecret("k", "a&b", std::nullopt,
                                                                                      std::nullopt);
  EXPECT_EQ(builder->signatureSecret(), "a%26b&");
  EXPECT_FALSE(builder->OAuthParameters()->objectForKey("oauth_token"));
  EXPECT_EQ(builder->OAuthParameters()->stringForKey("oauth_nonce")->size(), 36u);
  EXPECT_EQ(builder->OAuthParameters()->count(), 5u);

  // A verifier checks the signature with its own HMAC over the base string, keyed by the
  // encoded secrets; with a token secret and non-ASCII text the key is no longer trivial.
  auto signer = OAuthBuilder::initWithConsumerKeyConsumerSecretAccessTokenTokenSecret("k", "c s/\xC3\xA9", "tok",
                                                                                     "t+s");
  signer->setHTTPMethod("POST");
  signer->setURL(URL::make("https://api.example.com/oauth/access_token"));
  signer->setRequestParameters(Dictionary::make({{"oauth_verifier", box("v \xE2\x82\xAC")}}));
  builder->setHTTPMethod("GET");
  builder->setURL(URL::make("http://h.example/p"));
  const std::pair<Ref<OAuthBuilder>, std::string> builders[] = {{builder, "a%26b&"},
                                                                {signer, "c%20s%2F%C3%A9&t%2Bs"}};
  for (const auto& [b, key] : builders) {
    EXPECT_EQ(b->signatureSecret(), key);
    const std::string base = b->signatureBase();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    ASSERT_TRUE(HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
                     reinterpret_cast<const unsigned char*>(base.data()), base.size(), digest, &digestLength));
    ASSERT_EQ(digestLength, 20u);
    unsigned char text[64] = {};
    const int textLength = EVP_EncodeBlock(text, digest, static_cast<int>(digestLength));
    const std::string expected(reinterpret_cast<const char*>(text), static_cast<std::size_t>(textLength));
    EXPECT_EQ(b->signature(), expected);
    EXPECT_NE(b->authorizationHeader().find("oauth_signature=\"" + oauth_encoding::pcen(expected) + "\""),
              std::string::npos);
  }
}

TEST(OAuthBuilderTest, PostRequestsCarryFormBody) {
  auto request = OAuthBuilder::URLRequestForPathPOSTParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "/oauth", Dictionary::make({{"oauth_verifier", box("v w")}}), "h.example", "k", "s", "tok", "ts");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->url()->absoluteString(), "https://h.example/oauth");
  EXPECT_EQ(request->HTTPMethod(), "POST");
  EXPECT_EQ(request->HTTPBody()->view(), "oauth_verifier=v%20w");
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), "20");
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");

  auto empty = OAuthBuilder::URLRequestForPathPOSTParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "/oauth", nullptr, "h.example", "k", "s", std::nullopt, std::nullopt);
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->HTTPBody());
  EXPECT_FALSE(empty->valueForHTTPHeaderField("Content-Type"));
}

TEST(OAuthBuilderTest, ClassSettingsApplyToRequests) {
  OAuthBuilder::setUserAgent("Agent/1");
  OAuthBuilder::setHTTPShouldHandleCookies(false);
  OAuthBuilder::setTimeStampOffset(-100);
  Clock::install(std::make_shared<ManualClock>(0.0));
  std::string stamp = OAuthBuilder::timeStamp();
  auto request = OAuthBuilder::URLRequestForPathGETParametersHostConsumerKeyConsumerSecretAccessTokenTokenSecret(
      "/", nullptr, "h", "k", "s", std::nullopt, std::nullopt);
  Clock::install(nullptr);
  OAuthBuilder::setUserAgent(std::nullopt);
  OAuthBuilder::setHTTPShouldHandleCookies(true);
  OAuthBuilder::setTimeStampOffset(0);
  EXPECT_EQ(stamp, "978307100");
  EXPECT_EQ(request->valueForHTTPHeaderField("User-Agent"), "Agent/1");
  EXPECT_FALSE(request->HTTPShouldHandleCookies());
  EXPECT_EQ(OAuthBuilder::queryStringFromParameters(*Dictionary::make({{"a b", box("1&2")}, {"c", box(3)}})),
            "a%20b=1%262&c=3");
}

}  // namespace
}  // namespace zv
