#pragma once
// A loopback stand-in of the Vkontakte service: one TLS FaultServer on 127.0.0.1 posing as the
// login host (oauth.vk.com), the method host (api.vk.com) and the photo upload host (pu.vk.com),
// reached through the test host map with a leaf from the test CA. It checks what it receives, so a
// wrong request fails the test (the reason is kept in lastComplaint()):
//   GET  /oauth/authorize      client id, scope "wall,photos", redirect_uri (percent-encoded
//                              https://oauth.vk.com/blank.html), display=touch,
//                              response_type=token; a login form (email, pass; "allow", "deny")
//   POST /oauth/grant          right credentials: a 302 to blank.html with
//                              "#access_token=...&expires_in=86400&user_id=66" (see RedirectKind);
//                              "deny": a 302 to the denied address
//   GET  /blank.html           an empty page
//   GET  /method/wall.post, /method/photos.getWallUploadServer, /method/photos.saveWallPhoto
//                              owner id and a known token checked, every value percent-decoded
//                              and compared with what the upload gave; JSON replies
//   POST /upload.php (pu.vk.com) a strictly framed multipart body with one JPEG part "photo"
//   GET  /captcha.png          a 1x1 PNG
// requireCaptcha(n) makes the next n method calls answer "Captcha needed" (captcha_sid and
// captcha_img given); a repeated call with captcha_sid and the right captcha_key is served.
// failNext(path, body) answers the next call to a path with that body (200, any text);
// redirectNext(path, location) with a 307 to that location.
//
// Threads: the server answers on its own threads; every accessor locks.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class VkontakteService {
 public:
  static constexpr const char* kAppId = "4815162";
  static constexpr const char* kEmail = "ada@example.org";
  static constexpr const char* kPassword = "correct horse";
  static constexpr const char* kUserId = "66";
  static constexpr const char* kCaptchaAnswer = "k7 x&3";

  enum class RedirectKind { Normal, NoUserId, NoToken, NoFragment, HugeFragment };

  VkontakteService();
  ~VkontakteService();
  bool start();

  std::string issueToken();
  void setRedirectKind(RedirectKind kind);
  void requireCaptcha(int calls);
  void failNext(const std::string& path, const std::string& body);
  // Answers the next call to a path with a 307 to `location`.
  void redirectNext(const std::string& path, const std::string& location);

  // Wall posts received: their decoded query fields.
  std::vector<std::map<std::string, std::string>> wallPosts() const;
  std::vector<std::string> tokens() const;
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  int uploads() const;
  std::string lastComplaint() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  void handleMethod(const RecordedRequest& request, FaultServer::Connection& connection);
  void complain(FaultServer::Connection& connection, const std::string& why);

  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::vector<std::string> tokens_;
  std::vector<std::map<std::string, std::string>> wallPosts_;
  std::map<std::string, std::string> nextFailure_;
  std::map<std::string, std::string> nextRedirect_;
  RedirectKind redirectKind_ = RedirectKind::Normal;
  int captchaCalls_ = 0;
  int captchaCounter_ = 900;
  std::string openCaptcha_;
  int uploads_ = 0;
  std::string lastComplaint_;
  int counter_ = 10;
};

}  // namespace zv::testing
