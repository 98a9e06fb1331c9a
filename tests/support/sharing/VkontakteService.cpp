#include "support/sharing/VkontakteService.h"

#include "platform/foundation/Format.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/Image.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/sharing/FacebookService.h"

namespace zv::testing {

namespace {

std::string reply(int status, const char* reason, const std::string& contentType, const std::string& body,
                  const std::vector<std::string>& extra = {}) {
  std::string head = format("HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n", status, reason,
                            contentType.c_str(), body.size());
  for (const auto& line : extra) head += line + "\r\n";
  return head + "\r\n" + body;
}

std::string json(const std::string& body) { return reply(200, "OK", "application/json; charset=utf-8", body); }

std::string page(const std::string& title, const std::string& body) {
  return reply(200, "OK", "text/html; charset=utf-8",
               "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>");
}

std::string redirect(const std::string& location) {
  return reply(302, "Found", "text/html", "", {"Location: " + location});
}

std::string queryOf(const RecordedRequest& request) {
  const auto at = request.target.find('?');
  return at == std::string::npos ? std::string() : request.target.substr(at + 1);
}

// Decoded strictly: a "+" stays a "+" (the sharer escapes blanks as %20).
std::map<std::string, std::string> strictQuery(const std::string& query) {
  std::map<std::string, std::string> fields;
  for (const auto& [name, value] : FacebookService::decodeForm(query)) fields[name] = value;
  return fields;
}

std::string errorReply(int code, const std::string& message) {
  return json(format("{\"error\":{\"error_code\":%d,\"error_msg\":\"%s\"}}", code, message.c_str()));
}

constexpr const char* kPhotoList = "[{\"photo\":\"6a1b\",\"sizes\":[]}]";
constexpr const char* kPhotoHash = "9f8e7d&6c";
constexpr const char* kPhotoServer = "602321";
constexpr const char* kPhotoId = "photo66_457239017";

// A small captcha picture, made by the graphics layer.
std::string captchaPNG() {
  auto context = graphics::BitmapContext::make(12, 6, graphics::BitmapColorSpace::RGB);
  context->setFillColor(0.9, 0.9, 0.9);
  context->fillRect(graphics::Rect(0, 0, 12, 6));
  auto png = graphics::imagePNGRepresentation(context->makeImage());
  return png ? std::string(png->view()) : std::string();
}

}  // namespace

VkontakteService::VkontakteService() : server_(authority_.issueForHosts({"oauth.vk.com", "api.vk.com", "pu.vk.com"})) {
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

VkontakteService::~VkontakteService() {
  server_.stop();
  ApplicationEnvironment::shared().setTestHostMap({});
}

bool VkontakteService::start() {
  if (!server_.start()) return false;
  const auto port = static_cast<std::uint16_t>(server_.port());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{"oauth.vk.com", port}, {"api.vk.com", port}, {"pu.vk.com", port}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

std::string VkontakteService::issueToken() {
  std::lock_guard lock(mutex_);
  const int n = ++counter_;
  auto token = format("vk1.a.%dQ%d", n, n * 7877);
  tokens_.push_back(token);
  return token;
}

void VkontakteService::setRedirectKind(RedirectKind kind) {
  std::lock_guard lock(mutex_);
  redirectKind_ = kind;
}

void VkontakteService::requireCaptcha(int calls) {
  std::lock_guard lock(mutex_);
  captchaCalls_ = calls;
}

void VkontakteService::failNext(const std::string& path, const std::string& body) {
  std::lock_guard lock(mutex_);
  nextFailure_[path] = body;
}

void VkontakteService::redirectNext(const std::string& path, const std::string& location) {
  std::lock_guard lock(mutex_);
  nextRedirect_[path] = location;
}

std::vector<std::map<std::string, std::string>> VkontakteService::wallPosts() const {
  std::lock_guard lock(mutex_);
  return wallPosts_;
}

std::vector<std::string> VkontakteService::tokens() const {
  std::lock_guard lock(mutex_);
  return tokens_;
}

std::vector<RecordedRequest> VkontakteService::requestsTo(const std::string& path) const {
  std::vector<RecordedRequest> found;
  for (const auto& request : server_.requests()) {
    if (request.path() == path) found.push_back(request);
  }
  return found;
}

int VkontakteService::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

std::string VkontakteService::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

void VkontakteService::complain(FaultServer::Connection& connection, const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    lastComplaint_ = why;
  }
  connection.send(reply(400, "Bad Request", "text/plain", why));
}

void VkontakteService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const auto path = request.path();
  const auto host = request.header("Host").value_or("");
  {
    std::unique_lock lock(mutex_);
    if (auto failure = nextFailure_.find(path); failure != nextFailure_.end()) {
      auto body = failure->second;
      nextFailure_.erase(failure);
      lock.unlock();
      return connection.send(reply(200, "OK", "text/html", body));
    }
    if (auto redirect = nextRedirect_.find(path); redirect != nextRedirect_.end()) {
      auto location = redirect->second;
      nextRedirect_.erase(redirect);
      lock.unlock();
      return connection.send(reply(307, "Temporary Redirect", "text/plain", "", {"Location: " + location}));
    }
  }
  if (path == "/oauth/authorize") {
    if (!host.starts_with("oauth.vk.com")) return complain(connection, "login page on the wrong host");
    if (request.method != "GET") return complain(connection, "login page by " + request.method);
    auto fields = strictQuery(queryOf(request));
    if (fields["client_id"] != kAppId || fields["scope"] != "wall,photos" ||
        fields["redirect_uri"] != "https://oauth.vk.com/blank.html" || fields["display"] != "touch" ||
        fields["response_type"] != "token") {
      return complain(connection, "bad login parameters: " + queryOf(request));
    }
    return connection.send(page("Log In", "<form method=\"post\" action=\"/oauth/grant\">"
                                          "<input type=\"text\" name=\"email\" value=\"\">"
                                          "<input type=\"password\" name=\"pass\" value=\"\">"
                                          "<input type=\"submit\" name=\"allow\" value=\"Allow\">"
                                          "<input type=\"submit\" name=\"deny\" value=\"Deny\"></form>"));
  }
  if (path == "/oauth/grant") {
    auto form = FacebookService::decodeForm(request.body);
    if (form.contains("deny")) {
      return connection.send(redirect("https://oauth.vk.com/blank.html#error=access_denied&error_reason=user_denied"
                                      "&error_description=User%20denied%20your%20request"));
    }
    if (form["email"] != kEmail || form["pass"] != kPassword) {
      return connection.send(page("Log In", "<p>Wrong password.</p>"));
    }
    const auto token = issueToken();
    RedirectKind kind;
    {
      std::lock_guard lock(mutex_);
      kind = redirectKind_;
    }
    std::string location = "https://oauth.vk.com/blank.html";
    switch (kind) {
      case RedirectKind::Normal:
        location += "#access_token=" + token + "&expires_in=86400&user_id=" + kUserId;
        break;
      case RedirectKind::NoUserId: location += "#access_token=" + token + "&expires_in=86400"; break;
      case RedirectKind::NoToken: location += "#expires_in=86400&user_id=" + std::string(kUserId); break;
      case RedirectKind::NoFragment: location += "?access_token=" + token; break;
      case RedirectKind::HugeFragment:
        location += "#access_token=" + token + std::string(100 * 1024, 'A') + "&user_id=" + kUserId;
        break;
    }
    return connection.send(redirect(location));
  }
  if (path == "/blank.html") return connection.send(page("", ""));
  if (path == "/captcha.png") return connection.send(reply(200, "OK", "image/png", captchaPNG()));
  if (path == "/upload.php") {
    if (!host.starts_with("pu.vk.com")) return complain(connection, "upload on the wrong host");
    if (request.method != "POST") return complain(connection, "upload by " + request.method);
    const auto type = request.header("Content-Type").value_or("");
    const std::string prefix = "multipart/form-data;  boundary=";
    if (!type.starts_with(prefix)) return complain(connection, "upload content type: " + type);
    const auto boundary = type.substr(prefix.size());
    if (!boundary.starts_with("0xKhTmLbOuNdArY-")) return complain(connection, "upload boundary: " + boundary);
    std::string why;
    auto parts = FacebookService::parseMultipart(request.body, boundary, &why);
    if (!parts) return complain(connection, "upload framing: " + why);
    if (parts->size() != 1 || (*parts)[0].name != "photo" || (*parts)[0].filename != "photo.jpg" ||
        (*parts)[0].contentType != "image/jpg" || !(*parts)[0].body.starts_with("\xff\xd8\xff")) {
      return complain(connection, "upload: not one JPEG part \"photo\"");
    }
    {
      std::lock_guard lock(mutex_);
      ++uploads_;
    }
    return connection.send(json(format("{\"server\":%s,\"photo\":\"%s\",\"hash\":\"%s\"}", kPhotoServer,
                                       "[{\\\"photo\\\":\\\"6a1b\\\",\\\"sizes\\\":[]}]", kPhotoHash)));
  }
  if (path.starts_with("/method/")) return handleMethod(request, connection);
  connection.send(reply(404, "Not Found", "text/plain", "no such page"));
}

void VkontakteService::handleMethod(const RecordedRequest& request, FaultServer::Connection& connection) {
  const auto path = request.path();
  if (!request.header("Host").value_or("").starts_with("api.vk.com")) {
    return complain(connection, "method on the wrong host");
  }
  if (request.method != "GET") return complain(connection, "method by " + request.method);
  auto fields = strictQuery(queryOf(request));
  if (fields["owner_id"] != kUserId) return complain(connection, "owner_id " + fields["owner_id"]);
  const auto known = tokens();
  if (std::find(known.begin(), known.end(), fields["access_token"]) == known.end()) {
    return connection.send(errorReply(5, "User authorization failed: invalid access_token."));
  }
  {
    std::lock_guard lock(mutex_);
    if (fields.contains("captcha_sid") || fields.contains("captcha_key")) {
      if (openCaptcha_.empty() || fields["captcha_sid"] != openCaptcha_ || fields["captcha_key"] != kCaptchaAnswer) {
        lastComplaint_ = "wrong captcha answer: " + fields["captcha_key"];
        captchaCalls_ = std::max(captchaCalls_, 1);
      }
      openCaptcha_.clear();
    }
    if (captchaCalls_ > 0) {
      --captchaCalls_;
      openCaptcha_ = std::to_string(++captchaCounter_);
      return connection.send(json(
          "{\"error\":{\"error_code\":14,\"error_msg\":\"Captcha needed\",\"captcha_sid\":\"" + openCaptcha_ +
          "\",\"captcha_img\":\"https://api.vk.com/captcha.png?sid=" + openCaptcha_ + "\"}}"));
    }
  }
  if (path == "/method/photos.getWallUploadServer") {
    return connection.send(json("{\"response\":{\"upload_url\":\"https://pu.vk.com/upload.php?act=do_add\"}}"));
  }
  if (path == "/method/photos.saveWallPhoto") {
    if (fields["server"] != kPhotoServer || fields["photo"] != kPhotoList || fields["hash"] != kPhotoHash) {
      return complain(connection, "saveWallPhoto: " + queryOf(request));
    }
    return connection.send(json(std::string("{\"response\":[{\"id\":\"photo66_1\"},{\"id\":\"") + kPhotoId + "\"}]}"));
  }
  if (path == "/method/wall.post") {
    if (!fields.contains("message")) return complain(connection, "wall.post without a message");
    {
      std::lock_guard lock(mutex_);
      wallPosts_.push_back(fields);
    }
    return connection.send(json("{\"response\":{\"post_id\":1207}}"));
  }
  connection.send(errorReply(3, "Unknown method passed"));
}

}  // namespace zv::testing
