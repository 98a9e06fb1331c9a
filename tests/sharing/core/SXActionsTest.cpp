#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "platform/system/Pasteboard.h"
#include "platform/ui/Application.h"
#include "platform/ui/Composers.h"
#include "platform/ui/PhotoAlbum.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActions.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXMail.h"
#include "sharing/core/SXTextMessage.h"
#include "support/TestSupport.h"
#include "support/sharing/EchoSharer.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

class OutcomeRecorder : public Object, public SXSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>&) override {}
  void sharerFinishedSending(const Ref<SXSharer>&) override { outcomes.push_back("finished"); }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>&, const Ref<Error>& error, bool) override {
    outcomes.push_back("failed");
    lastError = error;
  }
  void sharerCancelledSending(const Ref<SXSharer>&) override { outcomes.push_back("cancelled"); }
  void sharerShowBadCredentialsAlert(const Ref<SXSharer>&) override {}
  void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>&) override {}
  bool respondsToSelector(std::string_view selector) const override {
    return SXSharerDelegate::respondsToSelector(selector);
  }
  std::vector<std::string> outcomes;
  Ref<Error> lastError;
};

Ref<graphics::Image> picture() { return graphics::Image::make(graphics::Bitmap::filled(8, 5, 10, 200, 30)); }

class SXActionsTest : public testing::SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    root_ = std::make_shared<ui::ViewController>();
    showRoot(root_);
    SX::setRootViewController(root_);
    ui::setPhotoAlbumDirectory(home / "album");
    recorder_ = std::make_shared<OutcomeRecorder>();
  }
  void TearDown() override {
    ui::MailComposeViewController::setCanSendMail(true);
    ui::MessageComposeViewController::setCanSendText(true);
    ui::setPhotoAlbumDirectory(std::nullopt);
    SharingTest::TearDown();
  }

  // A sharer of class T holding `item`, reporting to the recorder, started as the menus start one.
  template <class T>
  Ref<T> start(const Ref<SXItem>& item) {
    auto sharer = SXSharer::make<T>();
    sharer->setShareDelegate(recorder_);
    sharer->setItem(item);
    sharer->share();
    return sharer;
  }

  template <class T>
  Ref<T> presented() {
    settle();
    return dyn<T>(SX::currentHelper()->currentView());
  }

  static std::optional<std::string> indicatorText() {
    auto label = SXActivityIndicator::currentIndicator()->subMessageLabel();
    return label ? label->text() : std::nullopt;
  }

  Ref<ui::ViewController> root_;
  std::shared_ptr<OutcomeRecorder> recorder_;
};

TEST_F(SXActionsTest, MailWithoutAnAccountReportsAFailure) {
  ui::MailComposeViewController::setCanSendMail(false);
  EXPECT_FALSE(SXSharer::make<SXMail>()->canShare());
  start<SXMail>(SXItem::makeText("hello"));
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"failed"});
  ASSERT_TRUE(recorder_->lastError);
  EXPECT_FALSE(presented<ui::MailComposeViewController>());
}

TEST_F(SXActionsTest, HTMLMailEscapesWhatItInsertsAndSeparatesWithBreaks) {
  // The link goes in as written (escapes kept), only HTML-escaped.
  auto item = SXItem::makeURL(URL::make("http://example.com/a%20b?q=a%26b%3Dc&next=%2Fhome%23top"));
  item->text = "5 < 6 & \"quoted\"";
  item->isMailHTML = true;
  item->mailShareWithAppSignature = true;
  configurator->set("appName", box("Zerivudor <Pro>"));
  auto mail = start<SXMail>(item);
  auto composer = presented<ui::MailComposeViewController>();
  ASSERT_TRUE(composer);
  EXPECT_TRUE(composer->isBodyHTML());
  EXPECT_EQ(composer->messageBody(),
            "5 &lt; 6 &amp; &quot;quoted&quot;<br/><br/>http://example.com/a%20b?q=a%26b%3Dc&amp;next=%2Fhome%23top"
            "<br/><br/>"
            "Sent from Zerivudor &lt;Pro&gt;");

  composer->simulateFinish(ui::MailComposeResult::Sent);
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"finished"});
  EXPECT_FALSE(SX::currentHelper()->currentView());
}

TEST_F(SXActionsTest, MailBodiesAttachmentsAndOutcomes) {
  // A link alone as HTML is just the link as written; a configured body is used as it is.
  auto link = SXItem::makeURL(URL::make("http://example.com/caf%C3%A9"));
  link->isMailHTML = true;
  link->mailShareWithAppSignature = false;
  EXPECT_EQ(SXSharer::make<SXMail>()->composedBody(), "");
  auto mail = SXSharer::make<SXMail>();
  mail->setItem(link);
  EXPECT_EQ(mail->composedBody(), "http://example.com/caf%C3%A9");

  auto image = SXItem::makeImage(picture(), "Result");
  image->mailBody = "As configured";
  image->mailJPGQuality = 0.5f;
  image->mailToRecipients = {"a@example.com"};
  image->hasMailToRecipients = true;
  start<SXMail>(image);
  auto composer = presented<ui::MailComposeViewController>();
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->messageBody(), "As configured");
  EXPECT_EQ(composer->subject(), "Result");
  EXPECT_EQ(composer->toRecipients(), std::vector<std::string>{"a@example.com"});
  ASSERT_EQ(composer->attachments().size(), 1u);
  EXPECT_EQ(composer->attachments()[0].fileName, "Image.jpg");
  EXPECT_EQ(composer->attachments()[0].mimeType, "image/jpeg");
  EXPECT_EQ(composer->attachments()[0].data->view(),
            graphics::imageJPEGRepresentation(image->image, 0.5)->view());
  composer->simulateFinish(ui::MailComposeResult::Cancelled);
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"cancelled"});

  auto file = SXItem::makeFile(Data::make(std::string_view("bytes")), "r.txt", "text/plain", std::nullopt);
  file->isMailHTML = false;
  file->mailShareWithAppSignature = false;
  start<SXMail>(file);
  composer = presented<ui::MailComposeViewController>();
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->messageBody(), "Attached: r.txt");
  ASSERT_EQ(composer->attachments().size(), 1u);
  EXPECT_EQ(composer->attachments()[0].fileName, "r.txt");
  composer->simulateFinish(ui::MailComposeResult::Failed);
  settle();
  EXPECT_EQ(recorder_->outcomes, (std::vector<std::string>{"cancelled", "failed"}));
}

TEST_F(SXActionsTest, TextMessagesArePlainTextWithTheLinkAsWrittenAndReportEachOutcome) {
  const std::string link = "http://example.com/x?q=a%26b%3Dc&next=%2Fhome%23top";
  auto item = SXItem::makeURL(URL::make(link));
  item->text = "Look";
  auto sharer = start<SXTextMessage>(item);
  auto composer = presented<ui::MessageComposeViewController>();
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->body(), "Look\n\n" + link);
  EXPECT_EQ(item->customValueForKey("body"), "Look\n\n" + link);
  composer->simulateFinish(ui::MessageComposeResult::Sent);
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"finished"});
  EXPECT_FALSE(SX::currentHelper()->currentView());

  // Cancelled and failed messages are reported as such, once each, and the composer goes away.
  for (auto [result, outcome] : {std::pair{ui::MessageComposeResult::Cancelled, "cancelled"},
                                 std::pair{ui::MessageComposeResult::Failed, "failed"}}) {
    recorder_->outcomes.clear();
    start<SXTextMessage>(SXItem::makeText("again"));
    composer = presented<ui::MessageComposeViewController>();
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->body(), "again");
    composer->simulateFinish(result);
    settle();
    EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{outcome});
    EXPECT_FALSE(SX::currentHelper()->currentView());
  }

  // Without a way to send text the share fails at once and shows nothing.
  recorder_->outcomes.clear();
  ui::MessageComposeViewController::setCanSendText(false);
  EXPECT_FALSE(SXSharer::make<SXTextMessage>()->canShare());
  start<SXTextMessage>(SXItem::makeText("nowhere"));
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"failed"});
  EXPECT_FALSE(presented<ui::MessageComposeViewController>());
}

// A composer the hub lets go because another screen came, on screen or still waiting to show,
// ends its share as cancelled, once, and frees its sharer.
TEST_F(SXActionsTest, AComposerTakenAwayByAnotherScreenEndsItsShareAsCancelled) {
  std::weak_ptr<SXSharer> mail = start<SXMail>(SXItem::makeText("on screen"));
  ASSERT_TRUE(presented<ui::MailComposeViewController>());
  auto other = std::make_shared<ui::ViewController>();
  SX::currentHelper()->showViewController(other, [] {});
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"cancelled"});
  EXPECT_TRUE(mail.expired()) << "the sharer keeps itself after its share ended";
  ASSERT_TRUE(SX::currentHelper()->currentView());
  EXPECT_EQ(dyn<ui::NavigationController>(SX::currentHelper()->currentView())->topViewController(), other);

  // Composers that only wait for the screen on show are dropped by a newer screen.
  recorder_->outcomes.clear();
  std::weak_ptr<SXSharer> message = start<SXTextMessage>(SXItem::makeText("waiting"));
  std::weak_ptr<SXSharer> waitingMail = start<SXMail>(SXItem::makeText("waiting too"));
  auto last = std::make_shared<ui::ViewController>();
  SX::currentHelper()->showViewController(last, [] {});
  settle();
  EXPECT_EQ(recorder_->outcomes, (std::vector<std::string>{"cancelled", "cancelled"}));
  EXPECT_TRUE(message.expired());
  EXPECT_TRUE(waitingMail.expired());
  ASSERT_TRUE(SX::currentHelper()->currentView());
  EXPECT_EQ(dyn<ui::NavigationController>(SX::currentHelper()->currentView())->topViewController(), last);

  // A composer that reported before it went is not reported again.
  recorder_->outcomes.clear();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  settle();
  start<SXMail>(SXItem::makeText("sent"));
  auto composer = presented<ui::MailComposeViewController>();
  ASSERT_TRUE(composer);
  composer->simulateFinish(ui::MailComposeResult::Sent);
  SX::currentHelper()->showViewController(std::make_shared<ui::ViewController>(), [] {});
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"finished"});
}

TEST_F(SXActionsTest, CopyPutsEveryKindOfPayloadOnThePasteboardOrFails) {
  auto pasteboard = Pasteboard::generalPasteboard();
  start<SXCopy>(SXItem::makeURL(URL::make("http://example.com/a%20b")));
  EXPECT_EQ(pasteboard->string(), "http://example.com/a%20b");
  start<SXCopy>(SXItem::makeText("some text"));
  EXPECT_EQ(pasteboard->string(), "some text");
  EXPECT_EQ(indicatorText(), "Copied!");
  auto image = SXItem::makeImage(picture());
  start<SXCopy>(image);
  auto png = pasteboard->dataForPasteboardType("public.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(graphics::Image::imageWithData(*png)->pixelWidth(), 8);
  start<SXCopy>(SXItem::makeFile(Data::make(std::string_view("file bytes")), "f.txt", "text/plain", std::nullopt));
  ASSERT_TRUE(pasteboard->dataForPasteboardType("text/plain"));
  EXPECT_EQ(pasteboard->dataForPasteboardType("text/plain")->view(), "file bytes");
  EXPECT_EQ(recorder_->outcomes.size(), 4u);

  auto empty = SXItem::make();
  empty->shareType = SXShareTypeFile;
  auto copy = SXSharer::make<SXCopy>();
  copy->setShareDelegate(recorder_);
  copy->setItem(empty);
  EXPECT_TRUE(copy->send());
  EXPECT_EQ(recorder_->outcomes.back(), "failed");
  EXPECT_EQ(pasteboard->dataForPasteboardType("text/plain")->view(), "file bytes");
}

TEST_F(SXActionsTest, SavedIsShownOnlyAfterTheAlbumConfirmsAndOnlyForPictures) {
  start<SXPhotoAlbum>(SXItem::makeImage(picture()));
  EXPECT_TRUE(recorder_->outcomes.empty());  // not before the album answered
  EXPECT_NE(indicatorText(), "Saved!");
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"finished"});
  EXPECT_EQ(indicatorText(), "Saved!");
  EXPECT_EQ(ui::savedPhotos().size(), 1u);

  SXActivityIndicator::resetForTesting();
  start<SXPhotoAlbum>(SXItem::makeText("not a picture"));
  settle();
  EXPECT_EQ(recorder_->outcomes.back(), "failed");
  EXPECT_NE(indicatorText(), "Saved!");

  // An album that cannot be written fails.
  testing::writeFile(home / "blocked", "a file, not a folder");
  ui::setPhotoAlbumDirectory(home / "blocked" / "album");
  start<SXPhotoAlbum>(SXItem::makeImage(picture()));
  settle();
  EXPECT_EQ(recorder_->outcomes.back(), "failed");
  EXPECT_NE(indicatorText(), "Saved!");
  EXPECT_EQ(recorder_->outcomes.size(), 3u);
}

TEST_F(SXActionsTest, PrintBrowserAndLogout) {
  ui::PrintInteractionController::setPrintingAvailable(false);
  EXPECT_FALSE(SXSharer::make<SXPrint>()->canShare());
  // Print is never auto-shared, while its auto-share switch may be offered.
  EXPECT_FALSE(SXSharer::make<SXPrint>()->shouldAutoShare());
  EXPECT_TRUE(SXSharer::make<SXPrint>()->canAutoShare());
  ui::PrintInteractionController::setPrintingAvailable(true);
  auto item = SXItem::makeImage(picture());
  start<SXPrint>(item);
  auto printer = ui::PrintInteractionController::sharedPrintController();
  ASSERT_TRUE(printer->isPresented());
  EXPECT_EQ(printer->printingItem(), item->image);
  printer->simulateFinish(true);
  settle();
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"finished"});
  printer->reset();

  // On a tablet the options come from the middle of the top screen; a cancelled print fails.
  ApplicationEnvironment::shared().setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
  start<SXPrint>(item);
  ASSERT_TRUE(printer->isPresented());
  auto frame = root_->view()->bounds();
  EXPECT_EQ(printer->presentedFromRect().origin.x, frame.origin.x + frame.size.width / 2);
  EXPECT_EQ(printer->presentedFromRect().origin.y, frame.origin.y + frame.size.height / 2);
  printer->simulateFinish(false);
  settle();
  EXPECT_EQ(recorder_->outcomes.back(), "failed");
  printer->reset();
  ApplicationEnvironment::shared().setUserInterfaceIdiom(UserInterfaceIdiom::Phone);

  start<SXSafari>(SXItem::makeURL(URL::make("http://example.com/open")));
  auto opened = ui::Application::sharedApplication()->openedURLs();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0]->absoluteString(), "http://example.com/open");

  start<SXLogout>(SXItem::makeText("any"));
  EXPECT_EQ(indicatorText(), "Logged Out!");
  EXPECT_EQ(recorder_->outcomes, (std::vector<std::string>{"finished", "failed", "finished", "finished"}));
}

// When the keychain cannot be written (a full disk), Logout says which services are still logged
// in and fails, instead of "Logged Out!".
TEST_F(SXActionsTest, ALogoutTheKeychainRefusesFailsNamingTheLoginsLeft) {
  testing::EchoSharer::registerClass();
  testing::writeFile(home / "sharers.plist",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                     "<key>actions</key><array><string>SXLogout</string></array>"
                     "<key>services</key><array><string>EchoSharer</string></array></dict></plist>");
  configurator->set("sharersPlistName", box((home / "sharers.plist").string()));
  ASSERT_TRUE(SX::setAuthValue("alice", "username", "EchoSharer"));
  ASSERT_TRUE(SX::setAuthValue("s3cret", "password", "EchoSharer"));

  // No file may be written in the child: the keychain keeps both values.
  EXPECT_TRUE(testing::runInChildWithFileSizeLimit(0, [&] {
    setLogSink([](std::string_view) {});
    start<SXLogout>(SXItem::makeText("any"));
    bool failed = recorder_->outcomes == std::vector<std::string>{"failed"} && recorder_->lastError &&
                  recorder_->lastError->localizedDescription().find("Echo") != std::string::npos;
    return failed && indicatorText() != "Logged Out!" && SX::getAuthValueForKey("password", "EchoSharer");
  }));

  start<SXLogout>(SXItem::makeText("any"));
  EXPECT_EQ(recorder_->outcomes, std::vector<std::string>{"finished"});
  EXPECT_EQ(indicatorText(), "Logged Out!");
  EXPECT_FALSE(SX::getAuthValueForKey("password", "EchoSharer"));
}

}  // namespace
}  // namespace zv
