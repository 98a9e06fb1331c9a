#include "sharing/services/flickr/FlickrAPIContext.h"

#include <algorithm>
#include <ctime>

#include "platform/foundation/Clock.h"
#include "platform/foundation/String.h"
#include "sharing/services/flickr/FKXMLMapper.h"
#include "sharing/services/flickr/FlickrUtilities.h"

namespace zv {

namespace {

std::string https(const char* host, const char* path) { return std::string("https://") + host + path; }

bool isWebAddress(const std::string& text) { return text.starts_with("http://") || text.starts_with("https://"); }

std::string stringOf(const ObjectPtr& value) { return value ? value->description() : std::string(); }

// Entries sorted by plain byte comparison of the keys.
std::vector<std::pair<std::string, std::string>> sortedEntries(const Dictionary& dictionary) {
  std::vector<std::pair<std::string, std::string>> entries;
  dictionary.enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    entries.emplace_back(stringOf(key), stringOf(value));
    return true;
  });
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return entries;
}

}  // namespace

std::string FKOAuthSigningKey(const std::string& consumerSecret, const std::string& tokenSecret) {
  return FKOAuthEscapedString(consumerSecret) + "&" + FKOAuthEscapedString(tokenSecret);
}

Ref<FlickrAPIContext> FlickrAPIContext::initWithAPIKey(std::string key, std::string sharedSecret) {
  return std::make_shared<FlickrAPIContext>(std::move(key), std::move(sharedSecret));
}

FlickrAPIContext::FlickrAPIContext(std::string key, std::string sharedSecret)
    : key_(std::move(key)),
      sharedSecret_(std::move(sharedSecret)),
      restEndpoint_(https(kFlickrAPIHost, "/services/rest/")),
      photoSource_(https(kFlickrStaticHost, "/")),
      photoWebPageSource_(https(kFlickrWebHost, "/photos/")),
      authEndpoint_(https(kFlickrWebHost, "/services/auth/")),
      uploadEndpoint_(https(kFlickrAPIHost, "/services/upload/")) {}

void FlickrAPIContext::setPhotoSource(std::string source) {
  if (isWebAddress(source)) photoSource_ = std::move(source);
}

void FlickrAPIContext::setPhotoWebPageSource(std::string source) {
  if (isWebAddress(source)) photoWebPageSource_ = std::move(source);
}

std::vector<FlickrAPIContext::Component> FlickrAPIContext::signedArgumentComponentsFromArguments(
    const Dictionary* arguments, bool useURIEscape) const {
  auto all = MutableDictionary::make();
  if (arguments) all->addEntriesFromDictionary(*arguments);
  if (!key_.empty()) all->setObject(String::make(key_), "api_key");
  if (!authToken_.empty()) all->setObject(String::make(authToken_), "auth_token");
  std::string signature = sharedSecret_;
  std::vector<Component> components;
  for (auto& [name, value] : sortedEntries(*all)) {
    signature += name;
    signature += value;
    components.emplace_back(name, useURIEscape ? FKEscapedURLString(value) : value);
  }
  components.emplace_back("api_sig", FKMD5HexStringFromString(signature));
  return components;
}

std::string FlickrAPIContext::signedQueryFromArguments(const Dictionary* arguments) const {
  std::string query;
  for (const auto& [name, value] : signedArgumentComponentsFromArguments(arguments, true)) {
    if (!query.empty()) query += '&';
    query += name + "=" + value;
  }
  return query;
}

Ref<MutableDictionary> FlickrAPIContext::signedOAuthHTTPQueryArguments(const Dictionary* arguments,
                                                                       const std::string& baseURL,
                                                                       const std::string& method) const {
  auto all = MutableDictionary::make();
  if (arguments) all->addEntriesFromDictionary(*arguments);
  all->setObject(String::make(FKNewUUIDString().substr(0, 8)), "oauth_nonce");
  const auto seconds = static_cast<unsigned long>(Clock::current()->now() + kReferenceDateOffset);
  all->setObject(String::make(std::to_string(seconds)), "oauth_timestamp");
  all->setObject(String::make("1.0"), "oauth_version");
  all->setObject(String::make("HMAC-SHA1"), "oauth_signature_method");
  all->setObject(String::make(key_), "oauth_consumer_key");
  if (!all->objectForKey("oauth_token") && !oauthToken_.empty()) all->setObject(String::make(oauthToken_), "oauth_token");

  std::string parameters;
  for (const auto& [name, value] : sortedEntries(*all)) {
    if (!parameters.empty()) parameters += '&';
    parameters += name + "=" + FKOAuthEscapedString(value);
  }
  const std::string base = method + "&" + FKOAuthEscapedString(baseURL) + "&" + FKOAuthEscapedString(parameters);
  all->setObject(String::make(FKHMACSHA1Base64(base, FKOAuthSigningKey(sharedSecret_, oauthTokenSecret_))),
                 "oauth_signature");
  return all;
}

std::string FlickrAPIContext::oauthURLFromBaseURL(const std::string& baseURL, const std::string& method,
                                                  const Dictionary* arguments) const {
  auto signedArguments = signedOAuthHTTPQueryArguments(arguments, baseURL, method);
  std::string query;
  signedArguments->enumerate([&](const ObjectPtr& name, const ObjectPtr& value) {
    if (!query.empty()) query += '&';
    query += stringOf(name) + "=" + FKOAuthEscapedString(stringOf(value));
    return true;
  });
  return baseURL + "?" + query;
}

Ref<URL> FlickrAPIContext::loginURLFromFrobDictionary(const Dictionary* frobDictionary,
                                                      const std::string& permission) const {
  std::string frob = frobDictionary ? FKTextContent(frobDictionary->objectForKey("frob")) : std::string();
  auto arguments = MutableDictionary::make({{"perms", String::make(permission)}});
  if (!frob.empty()) arguments->setObject(String::make(frob), "frob");
  return URL::make(authEndpoint_ + "?" + signedQueryFromArguments(arguments.get()));
}

Ref<URL> FlickrAPIContext::userAuthorizationURLWithRequestToken(const std::string& token,
                                                                const std::string& permission) const {
  std::string text = https(kFlickrWebHost, "/services/oauth/authorize?oauth_token=") + token;
  if (!permission.empty()) text += "&perms=" + permission;
  return URL::make(text);
}

Ref<URL> FlickrAPIContext::photoSourceURLFromDictionary(const Dictionary& photo, const std::string& size) const {
  const auto farm = photo.stringForKey("farm").value_or("");
  const auto schemeEnd = photoSource_.find("://") + 3;
  std::string text = photoSource_.substr(0, schemeEnd);
  if (!farm.empty()) text += "farm" + farm + ".";
  text += photoSource_.substr(schemeEnd);
  text += photo.stringForKey("server").value_or("") + "/" + photo.stringForKey("id").value_or("") + "_" +
          photo.stringForKey("secret").value_or("");
  text += size.empty() ? ".jpg" : "_" + size + ".jpg";
  return URL::make(text);
}

Ref<URL> FlickrAPIContext::photoWebPageURLFromDictionary(const Dictionary& photo) const {
  return URL::make(photoWebPageSource_ + photo.stringForKey("owner").value_or("") + "/" +
                   photo.stringForKey("id").value_or(""));
}

std::string FlickrAPIContext::description() const { return "<FlickrAPIContext key=" + key_ + ">"; }

}  // namespace zv
