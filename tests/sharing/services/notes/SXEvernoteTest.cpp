// The note sharer end to end against the Thrift note-store stand-in over TLS: the note it
// writes, the resources it attaches, and how each failure of the two calls ends the share.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageCodec.h"
#include "platform/runloop/RunLoop.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXShareMenu.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/core/SXXMLResponseParser.h"
#include "sharing/services/notes/SXEvernote.h"
#include "sharing/services/notes/NoteServiceTestSupport.h"
#include "support/net/FaultServer.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/ServiceSharerTest.h"
#include "support/notes/NoteServiceOAuthStandIn.h"

namespace zv::testing {
namespace {

// Records the send cycle (on the main thread) instead of showing it.
class RecordingDelegate : public Object, public SXSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>&) override { events.push_back("started"); }
  void sharerFinishedSending(const Ref<SXSharer>&) override {
    EXPECT_TRUE(RunLoop::isMainThread());
    events.push_back("finished");
  }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>&, const Ref<Error>& error, bool relogin) override {
    EXPECT_TRUE(RunLoop::isMainThread());
    events.push_back(relogin ? "relogin" : "failed");
    lastError = error;
  }
  void sharerCancelledSending(const Ref<SXSharer>&) override { events.push_back("cancelled"); }
  void sharerShowBadCredentialsAlert(const Ref<SXSharer>&) override {}
  void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>&) override {}
  bool respondsToSelector(std::string_view selector) const override { return Object::respondsToSelector(selector); }

  std::vector<std::string> events;
  Ref<Error> lastError;
};

std::string hashOf(const std::string& bytes) {
  auto digest = crypto::md5(crypto::bytesOf(bytes));
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

bool parsesAsXML(const std::string& markup) { return SXXMLResponseParser::initWithData(Data::make(markup))->parse(); }

Ref<graphics::Image> solidImage(int width, int height) {
  return graphics::Image::make(graphics::Bitmap::filled(width, height, 0x33, 0x66, 0xcc));
}

class SXEvernoteTest : public NoteServiceTest {
 protected:
  explicit SXEvernoteTest(bool manualClock = false) : NoteServiceTest(manualClock) {}

  void SetUp() override {
    NoteServiceTest::SetUp();
    configurator->set("evernoteHost", box(kNotesHost));
    configurator->set("evernoteConsumerKey", box("consumer-key"));
    configurator->set("evernoteSecret", box("consumer-secret"));
    // The sharer works on the shared session: log it in as the fixture's session is.
    auto shared = NoteServiceSession::sharedSession();
    NoteServiceSession::setSharedSessionHost(kNotesHost, "consumer-key", "consumer-secret");
    shared->setCallTimeout(60);
    shared->credentialStore()->addCredentials(std::make_shared<NCCredentials>(
        kNotesHost, "42", kNoteStoreUrl, "https://notes.example.com/shard/s7/", kNotesToken));
    ASSERT_TRUE(shared->isAuthenticated());
  }
  void TearDown() override {
    NoteServiceSession::sharedSession()->logout();
    NoteServiceTest::TearDown();
  }

  // Sends `item` and waits for the outcome.
  std::shared_ptr<RecordingDelegate> share(const Ref<SXItem>& item, bool expectSent = true) {
    auto sharer = SXSharer::make<SXEvernote>();
    auto delegate = std::make_shared<RecordingDelegate>();
    sharer->setShareDelegate(delegate);
    sharer->setItem(item);
    EXPECT_EQ(sharer->send(), expectSent);
    if (expectSent) {
      EXPECT_TRUE(pumpRunLoopUntil([&] { return delegate->events.size() >= 2; }, 60.0));
    }
    lastSharer = sharer;
    return delegate;
  }

  // The login endpoints on loopback, handing out `token`, and a root screen to show the page on.
  std::unique_ptr<NoteServiceOAuthStandIn> startLoginService(const std::string& token) {
    auto login = std::make_unique<NoteServiceOAuthStandIn>(
        authority.issueForHosts({kNotesHost}),
        NoteServiceOAuthStandIn::Settings{"consumer-key", "consumer-secret", "en-consumer-key://response", token,
                                          kNoteStoreUrl, "https://notes.example.com/shard/s7/"});
    if (!login->start()) return nullptr;
    hostMap[kNotesHost] = static_cast<std::uint16_t>(login->port());
    applyHostMap();
    loginRoot = std::make_shared<ui::ViewController>();
    showRoot(loginRoot);
    SX::setRootViewController(loginRoot);
    return login;
  }

  notes::Note onlyNote() {
    auto created = standIn->createdNotes();
    EXPECT_EQ(created.size(), 1u);
    return created.empty() ? notes::Note() : created.front();
  }

  Ref<SXEvernote> lastSharer;
  Ref<ui::ViewController> loginRoot;
};

TEST_F(SXEvernoteTest, AURLShareWithTextImageAndTagsBecomesOneNoteInTheDefaultNotebook) {
  const double before = std::floor(Clock::current()->now() + kReferenceDateOffset);
  auto item = SXItem::makeURL(URL::make("https://example.org/a?x=1&y=2"), "Fish & <Chips> \xF0\x9F\x90\x9F");
  item->text = "<b>Line one</b><br>Line \"two\" & more";
  item->tags = "food  fish  ";
  item->image = solidImage(30, 20);
  auto delegate = share(item);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "finished"}));
  EXPECT_EQ(standIn->calls(), (std::vector<std::string>{"getDefaultNotebook", "createNote"}));
  EXPECT_EQ(standIn->wrongTokenCount(), 0);

  auto note = onlyNote();
  EXPECT_EQ(note.notebookGuid, NoteServiceStandIn::kDefaultNotebookGuid);
  EXPECT_EQ(note.title, "Fish & <Chips> \xF0\x9F\x90\x9F");
  // Blanks in a row name no tag.
  EXPECT_EQ(note.tagNames, (std::vector<std::string>{"food", "fish"}));
  // The link is kept as given in the attributes and XML-escaped in the markup.
  EXPECT_EQ(note.attributes.sourceURL, "https://example.org/a?x=1&y=2");
  EXPECT_NE(note.content.find("<h1><a href=\"https://example.org/a?x=1&amp;y=2\">Fish &amp; &lt;Chips&gt; "),
            std::string::npos);
  EXPECT_NE(note.content.find("<p><a href=\"https://example.org/a?x=1&amp;y=2\">https://example.org/a?x=1&amp;y=2</a></p>"),
            std::string::npos);
  EXPECT_EQ(note.content.find("%26"), std::string::npos);
  EXPECT_EQ(note.content.find("<b>"), std::string::npos);
  EXPECT_NE(note.content.find("&amp; more"), std::string::npos);
  EXPECT_EQ(note.content.rfind("</en-note>"), note.content.size() - 10);
  // Milliseconds from 1970, in whole seconds, taken during the share.
  EXPECT_EQ(note.created % 1000, 0);
  EXPECT_GE(note.created, static_cast<std::int64_t>(before) * 1000);
  EXPECT_LE(note.created, static_cast<std::int64_t>(std::floor(Clock::current()->now() + kReferenceDateOffset)) * 1000);

  ASSERT_EQ(note.resources.size(), 1u);
  const auto& resource = note.resources[0];
  EXPECT_EQ(resource.mime, "image/jpeg");
  EXPECT_EQ(resource.data.bodyHash, hashOf(resource.data.body));
  EXPECT_NE(resource.data.bodyHash, resource.data.body);
  EXPECT_EQ(resource.data.size, static_cast<int>(resource.data.body.size()));
  EXPECT_FALSE(resource.__isset.recognition) << "the recognition index is the service's to make";
  EXPECT_NE(note.content.find("<p><en-media type=\"image/jpeg\" height=\"20\" width=\"30\" hash=\"" +
                              crypto::hex(crypto::md5(crypto::bytesOf(resource.data.body))) + "\"/></p>"),
            std::string::npos);
}

TEST_F(SXEvernoteTest, AFileAndATitleWithoutLinkGiveAHeadingAndAnUnsizedMediaTag) {
  std::string bytes = "%PDF-1.4 not really a pdf";
  auto item = SXItem::makeFile(Data::make(bytes), std::string("a.pdf"), std::string("application/pdf"),
                               std::string("Report"));
  share(item);
  auto note = onlyNote();
  EXPECT_NE(note.content.find("<h1>Report</h1>"), std::string::npos);
  EXPECT_EQ(note.content.find("<a href"), std::string::npos);
  EXPECT_FALSE(note.attributes.__isset.sourceURL);
  ASSERT_EQ(note.resources.size(), 1u);
  EXPECT_EQ(note.resources[0].data.body, bytes);
  EXPECT_NE(note.content.find("<en-media type=\"application/pdf\" hash=\"" + crypto::md5Hex(bytes) + "\"/>"),
            std::string::npos);
}

// The note's markup stays XML whatever the item holds: a file type with quotes is escaped in its
// attribute, a "type" that is no media type cannot add markup of its own (the file goes as plain
// bytes), and controls copied from documents are left out of the text.
TEST_F(SXEvernoteTest, TheMarkupStaysXMLWhateverTheItemHolds) {
  share(SXItem::makeFile(Data::make(std::string("hello")), std::string("a.txt"),
                         std::string("text/plain; charset=\"utf-8\""), std::string("Notes\f1")));
  auto lastNote = [&] {
    auto created = standIn->createdNotes();
    return created.empty() ? notes::Note() : created.back();
  };
  auto note = lastNote();
  EXPECT_TRUE(parsesAsXML(note.content)) << note.content;
  ASSERT_EQ(note.resources.size(), 1u);
  EXPECT_EQ(note.resources[0].mime, "text/plain; charset=\"utf-8\"");
  EXPECT_NE(note.content.find("<en-media type=\"text/plain; charset=&quot;utf-8&quot;\" hash=\""), std::string::npos)
      << note.content;
  EXPECT_NE(note.content.find("<h1>Notes\n1</h1>"), std::string::npos) << note.content;

  share(SXItem::makeFile(Data::make(std::string("bytes")), std::string("b.bin"),
                         std::string("image/png\"/><en-crypt>x</en-crypt><img src=\"x"), std::string("B")));
  note = lastNote();
  EXPECT_TRUE(parsesAsXML(note.content)) << note.content;
  EXPECT_EQ(note.content.find("en-crypt"), std::string::npos) << note.content;
  ASSERT_EQ(note.resources.size(), 1u);
  EXPECT_EQ(note.resources[0].mime, "application/octet-stream");

  auto text = SXItem::makeText("page one\fpage two\vline\x01\x02 end\x7F");
  text->title = std::string("T\x1B");
  share(text);
  note = lastNote();
  EXPECT_TRUE(parsesAsXML(note.content)) << note.content;
  EXPECT_EQ(standIn->createdNotes().size(), 3u);
  EXPECT_NE(note.content.find("<p>page one\npage two\nline end\x7F</p>"), std::string::npos) << note.content;
}

TEST_F(SXEvernoteTest, AURLWithoutTitleGivesOnlyTheLinkParagraphAndAnUntitledNote) {
  share(SXItem::makeURL(URL::make("https://example.org/")));
  auto note = onlyNote();
  EXPECT_EQ(note.title, "Untitled");
  EXPECT_EQ(note.content.find("<h1>"), std::string::npos);
  auto start = note.content.find("<en-note");
  auto body = note.content.substr(note.content.find('>', start) + 1);
  EXPECT_EQ(body, "<p><a href=\"https://example.org/\">https://example.org/</a></p></en-note>");
}

TEST_F(SXEvernoteTest, APreparedNoteKeepsItsFieldsAndSkipsTheNotebookLookup) {
  auto item = std::make_shared<SXEvernoteItem>();
  item->shareType = SXShareTypeText;
  item->text = "ignored: the note has content";
  item->tags = "ignored too";
  item->url = URL::make("https://example.org/src");
  item->note = std::make_shared<notes::Note>();
  item->note->__set_title("Prepared");
  item->note->__set_content("<?xml version=\"1.0\"?><en-note>mine</en-note>");
  item->note->__set_tagNames({"kept"});
  item->note->__set_notebookGuid("notebook-other");
  share(item);
  EXPECT_EQ(standIn->calls(), (std::vector<std::string>{"createNote"}));
  auto note = onlyNote();
  EXPECT_EQ(note.title, "Prepared");
  EXPECT_EQ(note.content, "<?xml version=\"1.0\"?><en-note>mine</en-note>");
  EXPECT_EQ(note.tagNames, (std::vector<std::string>{"kept"}));
  EXPECT_EQ(note.notebookGuid, "notebook-other");
  EXPECT_EQ(note.attributes.sourceURL, "https://example.org/src");
}

TEST_F(SXEvernoteTest, APreparedNotesImagesAreFetchedAndTheirPlaceholdersReplaced) {
  auto jpeg = graphics::imageJPEGRepresentation(solidImage(8, 6), 0.9);
  ASSERT_TRUE(jpeg);
  std::string jpegBytes(jpeg->view());
  FaultServer images(authority.issueForHosts({"images.example.com"}));
  images.route("/pic.jpg", [&](const RecordedRequest&, FaultServer::Connection& connection) {
    connection.send("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                    std::to_string(jpegBytes.size()) + "\r\n\r\n" + jpegBytes);
  });
  ASSERT_TRUE(images.start());
  hostMap["images.example.com"] = static_cast<std::uint16_t>(images.port());
  applyHostMap();

  auto item = std::make_shared<SXEvernoteItem>();
  item->shareType = SXShareTypeText;
  item->text = "t";
  item->note = std::make_shared<notes::Note>();
  // The markup holds the address as XML does, "&" as "&amp;".
  item->note->__set_content(
      "<en-note><img src=\"https://images.example.com/pic.jpg?w=8&amp;h=6\" /><img "
      "src=\"https://images.example.com/missing.jpg\" /></en-note>");
  for (const char* address : {"https://images.example.com/pic.jpg?w=8&h=6", "https://images.example.com/missing.jpg"}) {
    notes::Resource resource;
    resource.__set_mime("image/jpeg");
    resource.attributes.__set_sourceURL(address);
    resource.__isset.attributes = true;
    item->note->resources.push_back(resource);
  }
  item->note->__isset.resources = true;
  share(item);
  auto note = onlyNote();
  ASSERT_EQ(note.resources.size(), 2u);
  EXPECT_EQ(note.resources[0].data.body, jpegBytes);
  EXPECT_EQ(note.resources[0].data.bodyHash, hashOf(jpegBytes));
  EXPECT_FALSE(note.resources[1].__isset.data);
  EXPECT_EQ(note.content, "<en-note><en-media type=\"image/jpeg\" height=\"6\" width=\"8\" hash=\"" +
                              crypto::md5Hex(jpegBytes) +
                              "\"/><img src=\"https://images.example.com/missing.jpg\" /></en-note>");
}

TEST_F(SXEvernoteTest, AnImageThatNeverEndsIsLeftOutOnceItPassesTheBound) {
  FaultServer images(authority.issueForHosts({"images.example.com"}));
  constexpr std::size_t kServerLimit = 8 * kNoteImageMaximumLength;
  std::atomic<std::size_t> sent{0};
  images.route("/endless.jpg", [&](const RecordedRequest&, FaultServer::Connection& connection) {
    connection.sendEndlessBody("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n", '\xff',
                               kServerLimit, sent);
  });
  ASSERT_TRUE(images.start());
  hostMap["images.example.com"] = static_cast<std::uint16_t>(images.port());
  applyHostMap();

  auto item = std::make_shared<SXEvernoteItem>();
  item->shareType = SXShareTypeText;
  item->text = "t";
  item->note = std::make_shared<notes::Note>();
  item->note->__set_content("<en-note><img src=\"https://images.example.com/endless.jpg\" /></en-note>");
  notes::Resource resource;
  resource.__set_mime("image/jpeg");
  resource.attributes.__set_sourceURL("https://images.example.com/endless.jpg");
  resource.__isset.attributes = true;
  item->note->resources.push_back(resource);
  item->note->__isset.resources = true;
  share(item);
  auto note = onlyNote();
  ASSERT_EQ(note.resources.size(), 1u);
  EXPECT_FALSE(note.resources[0].__isset.data);
  EXPECT_LT(sent.load(), kServerLimit / 2);
}

TEST_F(SXEvernoteTest, ALostLoginAtEitherCallAsksForANewLoginAndCreatesNothing) {
  standIn->failNextCall("getDefaultNotebook", 8);
  auto delegate = share(SXItem::makeText("hello"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "relogin"}));
  EXPECT_EQ(lastSharer->pendingAction(), 3);
  EXPECT_EQ(standIn->calls(), (std::vector<std::string>{"getDefaultNotebook"}));
  // The spent login is forgotten; log in again for the next share.
  EXPECT_FALSE(NoteServiceSession::sharedSession()->isAuthenticated());
  NoteServiceSession::sharedSession()->credentialStore()->addCredentials(std::make_shared<NCCredentials>(
      kNotesHost, "42", kNoteStoreUrl, "https://notes.example.com/shard/s7/", kNotesToken));

  standIn->failNextCall("createNote", 9, /*system=*/false, "authenticationToken");
  delegate = share(SXItem::makeText("hello"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "relogin"}));
  EXPECT_TRUE(standIn->createdNotes().empty());
}

TEST_F(SXEvernoteTest, ALostLoginForgetsTheTokenAndLogsInOnceMore) {
  // The store takes only a token the stored login does not have, and the new login hands out
  // another token it refuses too.
  standIn.reset();
  standIn = std::make_unique<NoteServiceStandIn>(authority.issueForHosts({kNoteStoreHost}), "S=s7:only-this");
  hostMap[kNoteStoreHost] = static_cast<std::uint16_t>(standIn->port());
  auto login = startLoginService("S=s7:refused-too");
  ASSERT_TRUE(login);

  // The default delegate's way: asked to, it logs in again.
  auto delegate = std::make_shared<ShareOutcomes>();
  delegate->prompt = true;
  auto sharer = SXSharer::make<SXEvernote>();
  sharer->setShareDelegate(delegate);
  sharer->setItem(SXItem::makeText("hello"));
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->events.size() >= 4; }, 60.0));
  // Give a loop the chance to show itself: no further call, login or report comes.
  pumpRunLoopUntil([&] { return standIn->calls().size() > 2 || login->accessTokenRequests() > 1; }, 1.0);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "relogin", "start", "fail"}));
  EXPECT_EQ(login->accessTokenRequests(), 1);
  EXPECT_EQ(standIn->calls(), (std::vector<std::string>{"getDefaultNotebook", "getDefaultNotebook"}));
  EXPECT_FALSE(NoteServiceSession::sharedSession()->isAuthenticated());
  EXPECT_TRUE(standIn->createdNotes().empty());
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
  pumpRunLoopFor(0.3);
  SX::setRootViewController(nullptr);
}

TEST_F(SXEvernoteTest, OtherFailuresEndTheShareWithTheServicesMessageAndNoNote) {
  // A notebook lookup that fails for another reason ends the share: no note is sent anywhere.
  standIn->failNextCall("getDefaultNotebook", 3, /*system=*/true);
  auto delegate = share(SXItem::makeText("hello"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "failed"}));
  ASSERT_TRUE(delegate->lastError);
  EXPECT_EQ(delegate->lastError->localizedDescription(), "There was a problem sharing with Evernote");
  EXPECT_EQ(standIn->calls(), (std::vector<std::string>{"getDefaultNotebook"}));

  for (auto reply : {NoteServiceStandIn::Reply::Garbage, NoteServiceStandIn::Reply::Truncated,
                     NoteServiceStandIn::Reply::DropConnection}) {
    standIn->setReply(reply);
    delegate = share(SXItem::makeText("hello"));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "failed"})) << static_cast<int>(reply);
  }
  EXPECT_TRUE(standIn->createdNotes().empty());
}

TEST_F(SXEvernoteTest, ASilentServerEndsTheShareAtTheTimeOut) {
  NoteServiceSession::sharedSession()->setCallTimeout(1.0);
  standIn->setReply(NoteServiceStandIn::Reply::Held);
  auto delegate = share(SXItem::makeText("hello"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "failed"}));
}

TEST_F(SXEvernoteTest, ALargeAttachmentArrivesWhole) {
  std::string bytes(20 * 1024 * 1024, '\0');
  std::mt19937 random(7);
  for (auto& byte : bytes) byte = static_cast<char>(random());
  auto item = SXItem::makeFile(Data::make(bytes), std::string("big.bin"), std::string("application/octet-stream"),
                               std::string("Big"));
  auto delegate = share(item);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "finished"}));
  auto note = onlyNote();
  ASSERT_EQ(note.resources.size(), 1u);
  EXPECT_EQ(note.resources[0].data.size, static_cast<int>(bytes.size()));
  EXPECT_TRUE(note.resources[0].data.body == bytes);
}

TEST_F(SXEvernoteTest, ALoggedOutShareLogsInThroughTheServicePagesAndThenSends) {
  NoteServiceSession::sharedSession()->logout();
  constexpr const char* kFreshToken = "S=s7:fresh-after-login";
  standIn.reset();
  standIn = std::make_unique<NoteServiceStandIn>(authority.issueForHosts({kNoteStoreHost}), kFreshToken);
  hostMap[kNoteStoreHost] = static_cast<std::uint16_t>(standIn->port());
  auto login = startLoginService(kFreshToken);
  ASSERT_TRUE(login);

  auto delegate = std::make_shared<RecordingDelegate>();
  auto item = SXItem::makeText("written while logged out");
  item->title = "Logged out";
  auto sharer = SXSharer::make<SXEvernote>();
  sharer->setShareDelegate(delegate);
  sharer->setItem(item);
  EXPECT_FALSE(sharer->isAuthorized());
  sharer->share();
  // After the login the share form (title and tags) comes up: tag the note and send it.
  Ref<SXFormController> form;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    form = dyn<SXFormController>(sharer->topViewController());
    return form && form->isVisible() && SX::currentHelper()->currentView() == sharer &&
           !SX::currentHelper()->isDismissingView();
  }, 60.0)) << "logged in: " << NoteServiceSession::sharedSession()->isAuthenticated();
  typeInto(form, 1, "one two");
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->events.size() >= 2; }, 60.0));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"started", "finished"}));
  EXPECT_EQ(login->rejectedRequests(), 0);
  EXPECT_EQ(login->accessTokenRequests(), 1);
  EXPECT_TRUE(NoteServiceSession::sharedSession()->isAuthenticated());
  auto note = onlyNote();
  EXPECT_EQ(note.title, "Logged out");
  EXPECT_EQ(note.tagNames, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(standIn->wrongTokenCount(), 0);
  pumpRunLoopFor(0.5);
  SX::setRootViewController(nullptr);
}

TEST_F(SXEvernoteTest, ALoginPageTakenDownWithTheScreenUnderItEndsTheLoginOnce) {
  auto session = NoteServiceSession::sharedSession();
  session->logout();
  auto login = startLoginService(kNotesToken);
  ASSERT_TRUE(login);
  login->holdLoginPage();
  auto hub = SX::currentHelper();
  auto showThroughHub = [&](const Ref<ui::ViewController>& screen) {
    hub->showViewController(screen, [] {});
    return pumpRunLoopUntil([&] { return screen->isVisible() && !hub->isDismissingView(); }, 20.0);
  };
  ASSERT_TRUE(showThroughHub(std::make_shared<ui::ViewController>()));
  std::vector<bool> outcomes;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kSXAuthDidFinish, nullptr, [&](const Ref<Notification>& n) {
        EXPECT_TRUE(RunLoop::isMainThread());
        outcomes.push_back(boolValueOf(n->userInfo()->objectForKey("success")));
      });
  auto sharer = SXSharer::make<SXEvernote>();
  sharer->setItem(SXItem::makeText("never sent"));
  sharer->share();
  Ref<NCOAuthViewController> page;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    page = session->loginPage();
    return page && page->isVisible();
  }, 30.0));

  // Another share's screen reaches the hub: the page goes with the screen under it.
  ASSERT_TRUE(showThroughHub(std::make_shared<ui::ViewController>()));
  EXPECT_EQ(outcomes, std::vector<bool>{false});
  EXPECT_FALSE(session->loginPage());
  // The login's late answers are nobody's, and the next login is not refused as still running.
  EXPECT_FALSE(session->handleOpenURL(
      URL::make("en-consumer-key://response?oauth_token=temporary-token-1&oauth_verifier=verifier-77")));
  page->cancel();
  Ref<Error> next;
  session->authenticateWithViewController(nullptr, [&](const Ref<Error>& error) { next = error; });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return next != nullptr; }, 5.0));
  EXPECT_EQ(next->code(), kNoteServiceErrorNoViewController);
  EXPECT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(login->accessTokenRequests(), 0);
  EXPECT_FALSE(session->isAuthenticated());
  EXPECT_EQ(topAlert(), nullptr);
  NotificationCenter::defaultCenter()->removeObserver(token);
  hub->hideCurrentViewControllerAnimated(false);
  SX::setRootViewController(nullptr);
}

TEST_F(SXEvernoteTest, AnUnusableConsumerKeyEndsTheLoginWithOneAlertAndNoRaise) {
  NoteServiceSession::sharedSession()->logout();
  auto root = std::make_shared<ui::ViewController>();
  showRoot(root);
  SX::setRootViewController(root);
  std::vector<bool> outcomes;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kSXAuthDidFinish, nullptr, [&](const Ref<Notification>& n) {
        outcomes.push_back(boolValueOf(n->userInfo()->objectForKey("success")));
      });
  for (const char* key : {"your key", ""}) {
    SCOPED_TRACE(key);
    configurator->set("evernoteConsumerKey", box(key));  // the sharer fills the session from here
    outcomes.clear();
    auto sharer = SXSharer::make<SXEvernote>();
    sharer->setItem(SXItem::makeText("never sent"));
    EXPECT_NO_THROW(sharer->share());
    pumpRunLoopFor(0.5);
    EXPECT_EQ(outcomes, std::vector<bool>{false});
    EXPECT_EQ(ui::ButtonPanel::visiblePanels().size(), 1u);
    auto alert = topAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Authorize Error");
    EXPECT_EQ(alert->message(), "Please use a valid consumerKey and consumerSecret.");
    EXPECT_EQ(root->presentedViewController(), nullptr);
    alert->dismissWithClickedButtonIndex(0, false);
  }
  NotificationCenter::defaultCenter()->removeObserver(token);
  SX::setRootViewController(nullptr);
}

TEST_F(SXEvernoteTest, AnItemTheSharerCannotTakeIsRefusedBeforeAnythingIsReported) {
  auto delegate = share(SXItem::make(), /*expectSent=*/false);
  EXPECT_TRUE(delegate->events.empty());
  EXPECT_TRUE(standIn->calls().empty());
}

TEST_F(SXEvernoteTest, MediaTagsCarryTheSizeOnlyWhenBothSidesArePositive) {
  notes::Resource resource;
  resource.__set_mime("image/png");
  resource.__set_data(SXEvernote::dataWithBytes("abc"));
  EXPECT_EQ(SXEvernote::enMediaTagWithResource(resource, 0, 0),
            "<en-media type=\"image/png\" hash=\"900150983cd24fb0d6963f7d28e17f72\"/>");
  EXPECT_EQ(SXEvernote::enMediaTagWithResource(resource, 12.4, 0),
            "<en-media type=\"image/png\" hash=\"900150983cd24fb0d6963f7d28e17f72\"/>");
  EXPECT_EQ(SXEvernote::enMediaTagWithResource(resource, 12.6, 7),
            "<en-media type=\"image/png\" height=\"7\" width=\"13\" hash=\"900150983cd24fb0d6963f7d28e17f72\"/>");
  EXPECT_EQ(resource.data.size, 3);
}

// The share menu on a manual clock: its closing slide stands still until the test moves time,
// while the login endpoints answer over loopback.
class SXEvernoteMenuTest : public SXEvernoteTest {
 protected:
  SXEvernoteMenuTest() : SXEvernoteTest(/*manualClock=*/true) {}
  void SetUp() override {
    SXEvernoteTest::SetUp();
    registerSharingServicesClasses();
  }
  void TearDown() override {
    SX::currentHelper()->hideCurrentViewControllerAnimated(false);
    settle();
    SX::setRootViewController(nullptr);
    SXEvernoteTest::TearDown();
  }
  // Lets time pass on the screens (and the replies come) until `done`.
  bool advanceUntil(const std::function<bool()>& done) {
    return pumpRunLoopUntil([&] {
      advance(0.05);
      return done();
    }, 60.0);
  }
};

// Picking the note service in the menu while logged out: the login page is asked for while the
// menu still slides out, comes up once it is gone, and the login leads to the share form.
TEST_F(SXEvernoteMenuTest, AMenuRowLeadingToALoginWhileTheMenuClosesLogsInAndShares) {
  auto session = NoteServiceSession::sharedSession();
  session->logout();
  auto login = startLoginService(kNotesToken);
  ASSERT_TRUE(login);
  auto item = SXItem::makeText("picked from the menu");
  item->title = "Menu";
  auto menu = SXShareMenu::initWithStyle(ui::TableViewStyle::Grouped);
  menu->setItem(item);
  SX::currentHelper()->showViewController(menu, [] {});
  settle();
  ASSERT_TRUE(menu->isVisible());
  auto table = menu->tableView();
  table->setNeedsLayout();
  table->layoutIfNeeded();
  std::optional<std::size_t> row;
  for (std::size_t r = 0; r < table->numberOfRowsInSection(1); ++r) {
    auto cell = table->cellForRowAtIndexPath(IndexPath::forRow(r, 1));
    if (cell && cell->textLabel()->text() == std::optional<std::string>("Evernote")) row = r;
  }
  ASSERT_TRUE(row);

  ASSERT_TRUE(table->simulateTapOnRow(IndexPath::forRow(*row, 1)));
  // The token reply comes while the menu, frozen in time, is still on its way out.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return session->loginPage() != nullptr; }, 30.0));
  EXPECT_TRUE(menu->navigationController()->isBeingDismissed());

  // The page comes up, answers, and the share form follows.
  Ref<SXFormController> form;
  ASSERT_TRUE(advanceUntil([&] {
    auto sharer = dyn<SXSharer>(SX::currentHelper()->currentView());
    form = sharer ? dyn<SXFormController>(sharer->topViewController()) : nullptr;
    return form && form->isVisible() && !SX::currentHelper()->isDismissingView();
  })) << "logged in: " << session->isAuthenticated();
  EXPECT_TRUE(session->isAuthenticated());
  EXPECT_EQ(login->accessTokenRequests(), 1);
  EXPECT_EQ(topAlert(), nullptr);
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(advanceUntil([&] { return standIn->createdNotes().size() == 1; }));
  EXPECT_EQ(onlyNote().title, "Menu");
}

}  // namespace
}  // namespace zv::testing
