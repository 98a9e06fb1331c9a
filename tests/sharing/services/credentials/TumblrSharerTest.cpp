// The Tumblr sharer against the loopback write API: login check, text and link posts as escaped
// forms, photo posts as multipart bodies no value can break out of, and the failures.
#include "CredentialTestSupport.h"
#include "platform/graphics/Image.h"
#include "sharing/services/tumblr/SXTumblr.h"

namespace zv::testing {
namespace {

using Tumblr = CredentialSharerTest;

class RecordingDelegate : public Object, public SXSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>&) override { events.push_back("start"); }
  void sharerFinishedSending(const Ref<SXSharer>&) override { events.push_back("finish"); }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>&, const Ref<Error>& error, bool relogin) override {
    events.push_back(relogin ? "fail+relogin" : "fail");
    message = error ? error->localizedDescription() : "";
  }
  void sharerCancelledSending(const Ref<SXSharer>&) override { events.push_back("cancel"); }
  void sharerShowBadCredentialsAlert(const Ref<SXSharer>&) override { events.push_back("bad"); }
  void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>&) override { events.push_back("other"); }
  bool respondsToSelector(std::string_view selector) const override {
    return SXSharerDelegate::respondsToSelector(selector);
  }
  bool ended() const { return events.size() >= 2; }
  std::vector<std::string> events;
  std::string message;
};

Ref<graphics::Image> picture() { return graphics::Image::make(graphics::Bitmap::filled(40, 30, 20, 120, 220)); }

class TumblrPosts : public Tumblr {
 protected:
  void SetUp() override {
    Tumblr::SetUp();
    ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, "email", "SXTumblr"));
    ASSERT_TRUE(SX::setAuthValue(CredentialServices::kPassword, "password", "SXTumblr"));
  }
  // Sends `item` on a new sharer and waits for its outcome.
  Ref<SXTumblr> post(const Ref<SXItem>& item) {
    auto sharer = SXSharer::make<SXTumblr>();
    sharer->setShareDelegate(delegate);
    sharer->setItem(item);
    EXPECT_TRUE(sharer->send());
    EXPECT_TRUE(pumpRunLoopUntil([&] { return delegate->ended(); }, 20.0)) << service.lastComplaint();
    return sharer;
  }
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(Tumblr, LogsInWithEmailAndPasswordThenPostsTheTextFromTheShareForm) {
  auto item = SXItem::makeText("Body & soul = 100%");
  item->title = "Title?";
  auto sharer = SXSharer::shareItem<SXTumblr>(item);
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  auto form = waitForForm(sharer, "");
  ASSERT_TRUE(form);
  EXPECT_EQ(SX::getAuthValueForKey("email", "SXTumblr"), CredentialServices::kUser);
  ASSERT_EQ(form->sections()[0].rows.size(), 5u);
  typeInto(form, 2, "my-slug&type=photo");
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  auto write = service.callsTo("/api/write").back();
  EXPECT_EQ(write.fields["type"], "regular");
  EXPECT_EQ(write.fields["title"], "Title?");
  EXPECT_EQ(write.fields["body"], "Body & soul = 100%");
  EXPECT_EQ(write.fields["slug"], "my-slug&type=photo");  // escaped: no second "type"
  EXPECT_EQ(write.fields["private"], "0");
  EXPECT_EQ(write.fields["send-to-twitter"], "no");
  EXPECT_EQ(write.fields["generator"], "Zerivudor");
}

TEST_F(Tumblr, AWrongPasswordAtLoginIsALoginErrorAlert) {
  auto sharer = SXSharer::shareItem<SXTumblr>(SXItem::makeText("x"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, "wrong");
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->title(), "Login Error");
  EXPECT_EQ(topAlert()->message(), "Invalid email or password.");
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXTumblr"), std::nullopt);
}

TEST_F(TumblrPosts, LinksArePostedByTheirContentType) {
  auto item = SXItem::makeURL(URL::make("https://example.org/song.mp3?a=1&b=2"), "Song");
  item->URLContentType = SXURLContentTypeAudio;
  item->tags = "a&generator=evil,b";
  item->setCustomValue("1", "private");
  item->setCustomValue("1", "twitter");
  post(item);
  auto audio = service.callsTo("/api/write").back();
  EXPECT_EQ(audio.fields["type"], "audio");
  EXPECT_EQ(audio.fields["externally-hosted-url"], "https://example.org/song.mp3?a=1&b=2");
  EXPECT_EQ(audio.fields["caption"], "Song");
  EXPECT_EQ(audio.fields["tags"], "a&generator=evil,b");
  EXPECT_EQ(audio.fields["generator"], "Zerivudor");
  EXPECT_EQ(audio.fields["private"], "1");
  EXPECT_EQ(audio.fields["send-to-twitter"], "auto");

  auto page = SXItem::makeURL(URL::make("https://example.org/page"));
  page->URLContentType = SXURLContentTypeWebpage;
  delegate->events.clear();
  post(page);
  auto link = service.callsTo("/api/write").back();
  EXPECT_EQ(link.fields["type"], "link");
  EXPECT_EQ(link.fields["url"], "https://example.org/page");
  EXPECT_EQ(link.fields.count("name"), 0u);
}

TEST_F(TumblrPosts, APhotoGoesAsAMultipartBodyNoValueCanBreakOutOf) {
  auto item = SXItem::makeImage(picture(), "Ring");
  const std::string injected =
      std::string("nice\r\n--") + SXTumblr::kBoundary + "\r\nContent-Disposition: form-data; name=\"private\"\r\n\r\n1";
  item->setCustomValue(injected, "caption");
  item->tags = "ring,blue";
  post(item);
  ASSERT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  auto write = service.callsTo("/api/write").back();
  EXPECT_NE(write.header("Content-Type"), std::string("multipart/form-data; boundary=") + SXTumblr::kBoundary);
  EXPECT_EQ(write.fields["caption"], injected);
  EXPECT_EQ(write.fields["private"], "0");
  EXPECT_EQ(write.fields["twitter"], "no");
  EXPECT_EQ(write.fields["type"], "photo");
  EXPECT_EQ(write.fields["tags"], "ring,blue");
  ASSERT_EQ(write.parts.size(), 1u);
  EXPECT_EQ(write.parts[0].name, "data");
  EXPECT_EQ(write.parts[0].filename, "upload.jpg");
  EXPECT_EQ(write.parts[0].contentType, "image/jpeg");
  EXPECT_TRUE(graphics::Image::imageWithData(*Data::make(write.parts[0].body)));
  EXPECT_NE(write.rawBody.find("Content-Transfer-Encoding: image/jpg\r\n\r\n"), std::string::npos);

  // The boundary is drawn anew for each post: a caption cannot foresee it, and
  // one full of the candidates a counting scheme would try costs one check.
  std::string candidates;
  for (int round = 0; round < 20000; ++round) candidates += std::string(SXTumblr::kBoundary) + "x" + std::to_string(round) + " ";
  auto crowded = SXItem::makeImage(picture(), "Plain");
  crowded->setCustomValue(candidates, "caption");
  delegate->events.clear();
  post(crowded);
  ASSERT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  auto first = service.callsTo("/api/write").back();
  EXPECT_EQ(first.fields["caption"], candidates);
  delegate->events.clear();
  post(SXItem::makeImage(picture(), "Plain"));
  const auto second = service.callsTo("/api/write").back();
  const std::string prefix = std::string("multipart/form-data; boundary=") + SXTumblr::kBoundary + "-";
  for (const auto& call : {first, second}) {
    EXPECT_TRUE(call.header("Content-Type").value_or("").starts_with(prefix)) << call.header("Content-Type").value_or("");
  }
  EXPECT_NE(first.header("Content-Type"), second.header("Content-Type"));
}

TEST_F(TumblrPosts, ARedirectToPlainHTTPFailsTheShareAndReachesNobody) {
  // The form post and the photo post, which runs a connection of its own.
  for (const auto& item : {SXItem::makeText("x"), SXItem::makeImage(picture(), "y")}) {
    redirectNextToPlainHTTP("www.tumblr.com");
    delegate->events.clear();
    post(item);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "fail"}));
  }
  pumpRunLoopFor(0.2);
  EXPECT_TRUE(plain.requests().empty());
}

TEST_F(TumblrPosts, FailuresOfEachKindOfPost) {
  // A rejected photo post asks for a new login through the relogin flag.
  ASSERT_TRUE(SX::setAuthValue("old", "password", "SXTumblr"));
  post(SXItem::makeImage(picture(), "x"));
  EXPECT_EQ(delegate->events.back(), "fail+relogin");
  EXPECT_EQ(delegate->message, "Invalid email or password.");
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kPassword, "password", "SXTumblr"));

  delegate->events.clear();
  service.failNext("www.tumblr.com", 500, {}, "");
  post(SXItem::makeImage(picture(), "x"));
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->message, "The service encountered an error. Please try again later.");

  delegate->events.clear();
  service.failNext("www.tumblr.com", 400, {}, "");
  post(SXItem::makeText("x"));
  EXPECT_EQ(delegate->message, "There was an error sending your post to Tumblr.");

  // A photo post whose answer cannot be read after its 200 head (a body that cannot be decoded,
  // or one past the connection's bound) is no post.
  delegate->events.clear();
  service.failNext("www.tumblr.com", 200, {"Content-Encoding: gzip"}, "not compressed at all");
  post(SXItem::makeImage(picture(), "x"));
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->message, "There was an error sending your post to Tumblr.");

  // Nobody answering at all.
  service.stop();
  delegate->events.clear();
  post(SXItem::makeImage(picture(), "x"));
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->message, "There was an error sending your post to Tumblr.");
}

TEST_F(TumblrPosts, APhotoTooLargeForTheServiceIsOneClearFailure) {
  // Noise compresses badly: about 15 MB of JPEG.
  graphics::Bitmap noise = graphics::Bitmap::filled(4200, 4200, 0, 0, 0);
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < noise.rgba.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    if (i % 4 != 3) noise.rgba[i] = static_cast<std::uint8_t>(state >> 24);
  }
  auto item = SXItem::makeImage(graphics::Image::make(std::move(noise)), "big");
  auto sharer = SXSharer::make<SXTumblr>();
  sharer->setItem(item);
  auto jpeg = sharer->generateImageData();
  ASSERT_TRUE(jpeg);
  ASSERT_GT(jpeg->length(), 10u * 1024 * 1024);
  post(item);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "fail"}));
  EXPECT_EQ(delegate->message, "There was an error sending your post to Tumblr.");
  EXPECT_EQ(service.callsTo("/api/write").back().status, 413);
}

TEST_F(TumblrPosts, ARejectedFormPostAsksForANewLoginAndSendsAgain) {
  ASSERT_TRUE(SX::setAuthValue("old", "password", "SXTumblr"));
  auto sharer = SXSharer::make<SXTumblr>();
  sharer->setItem(SXItem::makeText("again"));
  ASSERT_TRUE(sharer->tryToSend());
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  EXPECT_EQ(service.callsTo("/api/write").back().fields["body"], "again");
}

}  // namespace
}  // namespace zv::testing
