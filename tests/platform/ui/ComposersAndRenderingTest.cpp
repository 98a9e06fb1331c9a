#include <gtest/gtest.h>

#include <sys/stat.h>

#include "UITestSupport.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Composers.h"
#include "platform/ui/PhotoAlbum.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/TableViewController.h"
#include "platform/ui/ViewRenderer.h"
#include "support/TestSupport.h"

namespace zv::ui::testing {
namespace {

class MailScreen : public ViewController, public MailComposeViewControllerDelegate {
 public:
  void mailComposeControllerDidFinishWithResultError(MailComposeViewController&, MailComposeResult result,
                                                     const Ref<Error>&) override {
    results.push_back(result);
    dismissViewControllerAnimated(true);
  }
  std::vector<MailComposeResult> results;
};

class ComposersTest : public UITest {};

TEST_F(ComposersTest, MailComposerRecordsTheMessageAndReportsTheChoice) {
  auto screen = std::make_shared<MailScreen>();
  makeKeyWindow(screen);
  MailComposeViewController::setCanSendMail(false);
  EXPECT_EQ(MailComposeViewController::make(), nullptr);
  MailComposeViewController::setCanSendMail(true);
  auto mail = MailComposeViewController::make();
  ASSERT_TRUE(mail);
  mail->setMailComposeDelegate(screen);
  mail->setSubject("Result");
  mail->setToRecipients({"a@example.org"});
  mail->setMessageBody("<b>82%</b>", true);
  mail->addAttachmentData(Data::make("jpeg"), "image/jpeg", "Image.jpg");
  mail->addAttachmentData(nullptr, "x", "y");
  EXPECT_EQ(mail->attachments().size(), 1u);
  EXPECT_TRUE(mail->isBodyHTML());
  mail->navigationBar()->setBarStyle(BarStyle::Black);
  screen->presentViewController(mail, true);
  settle();
  mail->simulateFinish(MailComposeResult::Sent);
  settle();
  EXPECT_EQ(screen->results, (std::vector<MailComposeResult>{MailComposeResult::Sent}));
  EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(ComposersTest, MessagePrintPhotoAlbumAndTheOptionalTweetSheet) {
  struct Texter : Object, MessageComposeViewControllerDelegate {
    void messageComposeViewControllerDidFinishWithResult(MessageComposeViewController&,
                                                         MessageComposeResult r) override {
      result = r;
    }
    MessageComposeResult result = MessageComposeResult::Failed;
  };
  auto texter = std::make_shared<Texter>();
  auto message = MessageComposeViewController::make();
  message->setMessageComposeDelegate(texter);
  message->setBody("text<br/><br/>http://x.example/");
  message->simulateFinish(MessageComposeResult::Cancelled);
  EXPECT_EQ(texter->result, MessageComposeResult::Cancelled);

  auto printer = PrintInteractionController::sharedPrintController();
  printer->reset();
  auto info = PrintInfo::printInfo();
  info->setOutputType(PrintInfoOutputType::Photo);
  printer->setPrintInfo(info);
  bool completed = false;
  EXPECT_TRUE(printer->presentAnimated(true, [&](PrintInteractionController&, bool done, const Ref<Error>&) {
    completed = done;
  }));
  EXPECT_FALSE(printer->presentAnimated(true, nullptr));  // already showing
  printer->simulateFinish(true);
  EXPECT_TRUE(completed);
  PrintInteractionController::setPrintingAvailable(false);
  EXPECT_FALSE(printer->presentAnimated(true, nullptr));
  PrintInteractionController::setPrintingAvailable(true);

  zv::testing::TemporaryDirectory album;
  setPhotoAlbumDirectory(album.path());
  auto image = graphics::Image::make(graphics::Bitmap::filled(4, 3, 10, 20, 30));
  Ref<Error> reported = Error::make("x", 1);
  EXPECT_TRUE(saveImageToSavedPhotosAlbum(image, [&](const Ref<Error>& e) { reported = e; }));
  saveImageToSavedPhotosAlbum(image);
  settle();
  EXPECT_EQ(reported, nullptr);
  auto photos = savedPhotos();
  ASSERT_EQ(photos.size(), 2u);
  EXPECT_EQ(photos[1].filename(), "IMG_0002.PNG");
  EXPECT_EQ(graphics::Image::imageWithContentsOfFile(photos[0])->pixelWidth(), 4);
  Ref<Error> error;
  EXPECT_FALSE(saveImageToSavedPhotosAlbum(nullptr, nullptr, &error));
  EXPECT_TRUE(error);
  setPhotoAlbumDirectory(std::nullopt);

  EXPECT_FALSE(TweetComposeViewController::isAvailable());
  EXPECT_EQ(TweetComposeViewController::make(), nullptr);
  TweetComposeViewController::setAvailable(true);
  auto sheet = TweetComposeViewController::make();
  ASSERT_TRUE(sheet);
  EXPECT_TRUE(sheet->addURL(URL::make("http://x.example/")));
  EXPECT_TRUE(sheet->addImage(image));
  EXPECT_FALSE(sheet->setInitialText(std::string(99, 'a')));  // 99 + 21 + 21 > 140
  EXPECT_TRUE(sheet->setInitialText(std::string(98, 'a')));
  TweetComposeResult result = TweetComposeResult::Cancelled;
  sheet->setCompletionHandler([&](TweetComposeResult r) { result = r; });
  sheet->simulateFinish(TweetComposeResult::Done);
  EXPECT_EQ(result, TweetComposeResult::Done);
  TweetComposeViewController::setAvailable(false);
}

// Several processes saving at once each get a picture of their own, and a number too large to
// count on from does not send the counter back to the start.
TEST_F(ComposersTest, AlbumSavesNeverReplaceAPicture) {
  zv::testing::TemporaryDirectory album;
  setPhotoAlbumDirectory(album.path());
  auto image = graphics::Image::make(graphics::Bitmap::filled(2, 2, 10, 20, 30));
  zv::testing::writeFile(album.path() / "IMG_2147483647.PNG", "last of the old counter");
  auto first = saveImageToSavedPhotosAlbum(image);
  auto second = saveImageToSavedPhotosAlbum(image);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->filename(), "IMG_2147483648.PNG");
  EXPECT_EQ(second->filename(), "IMG_2147483649.PNG");
  EXPECT_EQ(zv::testing::readFile(album.path() / "IMG_2147483647.PNG"), "last of the old counter");
  std::filesystem::remove_all(album.path());

  constexpr int kProcesses = 4, kSaves = 15;
  EXPECT_TRUE(zv::testing::runInChildProcesses(kProcesses, [&](int) {
    bool ok = true;
    for (int i = 0; i < kSaves; ++i) ok = saveImageToSavedPhotosAlbum(image).has_value() && ok;
    return ok;
  }));
  EXPECT_EQ(savedPhotos().size(), static_cast<std::size_t>(kProcesses * kSaves));
  setPhotoAlbumDirectory(std::nullopt);
}

// The first save on a fresh home makes the home and the album's folders the user's alone, and the
// picture too, whatever the umask: other local users see none of it.
TEST_F(ComposersTest, AFirstAlbumSaveKeepsTheHomeAndThePictureTheUsers) {
  zv::testing::TemporaryDirectory folder;
  const auto home = folder / "home";
  ApplicationEnvironment::shared().setHomeDirectory(home);
  setPhotoAlbumDirectory(std::nullopt);
  const mode_t previous = ::umask(022);
  auto saved = saveImageToSavedPhotosAlbum(graphics::Image::make(graphics::Bitmap::filled(2, 2, 10, 20, 30)));
  ::umask(previous);
  ApplicationEnvironment::shared().reset();
  ASSERT_TRUE(saved);
  EXPECT_EQ(*saved, home / "Media" / "DCIM" / "IMG_0001.PNG");
  for (const auto& made : {home, home / "Media", home / "Media" / "DCIM"})
    EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms::owner_all) << made;
  EXPECT_EQ(std::filesystem::status(*saved).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Numbers near and at the end of the counter: each save takes a name of its own.
TEST_F(ComposersTest, AlbumSavesAtTheEndOfTheCounterTakeAFreeName) {
  zv::testing::TemporaryDirectory album;
  setPhotoAlbumDirectory(album.path());
  auto image = graphics::Image::make(graphics::Bitmap::filled(2, 2, 10, 20, 30));
  zv::testing::writeFile(album.path() / "IMG_4611686018427387903.PNG", "half the counter");
  auto first = saveImageToSavedPhotosAlbum(image);
  auto second = saveImageToSavedPhotosAlbum(image);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->filename(), "IMG_4611686018427387904.PNG");
  EXPECT_EQ(second->filename(), "IMG_4611686018427387905.PNG");
  EXPECT_EQ(savedPhotos().size(), 3u);

  std::filesystem::remove_all(album.path());
  zv::testing::writeFile(album.path() / "IMG_9223372036854775807.PNG", "the last number");
  zv::testing::writeFile(album.path() / "IMG_0001.PNG", "the first");
  auto wrapped = saveImageToSavedPhotosAlbum(image);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->filename(), "IMG_0002.PNG");
  EXPECT_EQ(zv::testing::readFile(album.path() / "IMG_9223372036854775807.PNG"), "the last number");
  EXPECT_EQ(zv::testing::readFile(album.path() / "IMG_0001.PNG"), "the first");
  EXPECT_EQ(savedPhotos().size(), 3u);
  setPhotoAlbumDirectory(std::nullopt);
}

// A settings-like screen to look at.
class SettingsLook : public TableViewController {
 public:
  SettingsLook() : TableViewController(TableViewStyle::Grouped) {}
  std::size_t numberOfSectionsInTableView(TableView&) override { return 2; }
  std::size_t tableViewNumberOfRowsInSection(TableView&, std::size_t s) override { return s == 0 ? 3 : 2; }
  std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, std::size_t s) override {
    return s == 0 ? "Exercise" : "About";
  }
  Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const Ref<IndexPath>& p) override {
    static const char* titles[2][3] = {{"Flash", "Breathing", "Custom Breath"}, {"Version", "Help"}};
    auto cell = TableViewCell::make(TableViewCellStyle::Value1, "cell");
    cell->textLabel()->setText(titles[p->section()][p->row()]);
    if (p->section() == 0 && p->row() == 0) {
      auto toggle = Switch::make();
      toggle->setOn(true);
      cell->setAccessoryView(toggle);
    } else if (p->section() == 0 && p->row() == 1) {
      cell->detailTextLabel()->setText("Relax");
      cell->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
    } else if (p->section() == 1 && p->row() == 0) {
      cell->detailTextLabel()->setText("1.0");
    } else {
      cell->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
    }
    return cell;
  }
};

class RenderingTest : public UITest {};

TEST_F(RenderingTest, RendersAScreenAndSavesItForPeopleToSee) {
  auto look = std::make_shared<SettingsLook>();
  look->setTitle("Settings");
  auto nav = NavigationController::make(look);
  look->navigationItem()->setRightBarButtonItem(BarButtonItem::withSystemItem(BarButtonSystemItem::Done));
  nav->setToolbarHidden(false);
  look->setToolbarItems({BarButtonItem::withTitle("Back", BarButtonItemStyle::Plain), BarButtonItem::flexibleSpace(),
                         BarButtonItem::withSystemItem(BarButtonSystemItem::Action)});
  auto window = makeKeyWindow(nav);
  window->setBackgroundColor(Color::blackColor());
  auto image = renderView(window);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth(), 320);
  EXPECT_EQ(image->pixelHeight(), 480);
  auto at = [&](int x, int y) {
    const std::uint8_t* p = image->bitmap().pixel(x, y);
    return graphics::RGBA8{p[0], p[1], p[2], p[3]};
  };
  EXPECT_EQ(at(5, 5), (graphics::RGBA8{0, 0, 0, 255}));         // status bar area: the window
  EXPECT_LT(at(5, 60).b, 200);                                   // navigation bar
  EXPECT_EQ(at(160, 20 + 44 + 46 + 22), (graphics::RGBA8{255, 255, 255, 255}));  // first row's body
  EXPECT_EQ(at(3, 20 + 44 + 46 + 22), at(3, 200));              // grouped background at the left margin

  auto path = zv::testing::testOutputDirectory() / "ui-settings-screen.png";
  EXPECT_EQ(renderViewToPNG(window, path, 2.0), nullptr);
  auto saved = graphics::Image::imageWithContentsOfFile(path);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->pixelWidth(), 640);

  // An alert over it.
  auto alert = AlertView::make("Could not load page", "The Internet connection appears to be offline.", {}, "OK");
  alert->show();
  EXPECT_EQ(renderViewToPNG(window, zv::testing::testOutputDirectory() / "ui-alert.png"), nullptr);
  alert->simulateTapButtonAtIndex(0);
}

TEST_F(RenderingTest, HiddenTransparentAndClippedViewsDrawAsTheyShould) {
  auto root = View::make(Rect(0, 0, 40, 40));
  root->setBackgroundColor(Color::whiteColor());
  auto hidden = View::make(Rect(0, 0, 10, 10));
  hidden->setBackgroundColor(Color::redColor());
  hidden->setHidden(true);
  auto half = View::make(Rect(10, 0, 10, 10));
  half->setBackgroundColor(Color::blackColor());
  half->setAlpha(0.5);
  auto clip = View::make(Rect(20, 20, 10, 10));
  clip->setClipsToBounds(true);
  auto inner = View::make(Rect(5, 5, 20, 20));
  inner->setBackgroundColor(Color::blueColor());
  clip->addSubview(inner);
  root->addSubview(hidden);
  root->addSubview(half);
  root->addSubview(clip);
  auto image = renderView(root);
  auto px = [&](int x, int y) { return image->bitmap().pixel(x, y); };
  EXPECT_EQ(px(5, 5)[1], 255);                 // hidden: white shows
  EXPECT_NEAR(px(15, 5)[0], 128, 1);           // half black over white
  EXPECT_EQ(px(27, 27)[2], 255);               // inner blue inside the clip
  EXPECT_EQ(px(27, 27)[0], 0);
  EXPECT_EQ(px(35, 35)[0], 255);               // clipped away: white
}

}  // namespace
}  // namespace zv::ui::testing
