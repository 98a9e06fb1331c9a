#include <gtest/gtest.h>

#include "app/HistoryDetailViewController.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActionSheet.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

// Stands in for a service sharer: shows its share form like any URL sharer.
class StandInSharer : public SXSharer {
 public:
  bool canShareURL() const override { return true; }
  bool requiresAuthentication() const override { return false; }
};

int facebookFlushes = 0;

class HistoryDetailSharingTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    facebookFlushes = 0;
    auto& registry = ClassRegistry::shared();
    registry.registerClass("SXTwitter", "SXSharer").setFactory([] { return ObjectPtr(SXSharer::make<StandInSharer>()); });
    registry.registerClass("SXFacebook", "SXSharer")
        .setFactory([] { return ObjectPtr(SXSharer::make<StandInSharer>()); })
        .addClassMethod("flushAccessToken", [](const ClassInfo::Arguments&) -> ObjectPtr {
          ++facebookFlushes;
          return nullptr;
        });
    configurator->set("appURL", box("https://www.mirovast.com/tavrilune"));
    // The screen is shown inside a tab's navigation, not as the window's own screen.
    tabRoot = std::make_shared<ui::ViewController>();
    showRoot(tabRoot);
    screen = std::make_shared<HistoryDetailViewController>();
    tabRoot->presentViewController(screen, false);
    settle();
    screen->setRecord(0.804, graphics::Image::make(graphics::Bitmap::filled(3, 3, 9, 9, 9)), "https://pics.example.org/r.png");
  }
  Ref<ui::ViewController> tabRoot;
  Ref<HistoryDetailViewController> screen;
};

TEST_F(HistoryDetailSharingTest, TwitterShareIsPresentedFromTheScreenWithTheResultPicture) {
  auto sharer = screen->shareOnTwitter();
  ASSERT_TRUE(sharer);
  settle();
  EXPECT_EQ(SX::currentHelper()->rootViewController(), screen);
  EXPECT_EQ(screen->presentedViewController(), sharer);
  auto item = sharer->item();
  EXPECT_EQ(item->shareType, SXShareTypeURL);
  EXPECT_EQ(item->URLContentType, SXURLContentTypeWebpage);
  EXPECT_EQ(item->url->absoluteString(), "https://www.mirovast.com/tavrilune");
  EXPECT_EQ(item->title, "My average coherence score: 80%");
  EXPECT_TRUE(item->image);
  EXPECT_EQ(facebookFlushes, 0);
}

TEST_F(HistoryDetailSharingTest, FacebookShareDropsTheTokenAndCarriesThePictureAddress) {
  auto sharer = screen->shareOnFacebook();
  ASSERT_TRUE(sharer);
  EXPECT_EQ(facebookFlushes, 1);
  EXPECT_EQ(sharer->item()->customValueForKey("picture"), "https://pics.example.org/r.png");
  EXPECT_EQ(sharer->item()->facebookURLSharePictureURI, "https://pics.example.org/r.png");
  EXPECT_EQ(sharer->item()->image, nullptr);
}

TEST_F(HistoryDetailSharingTest, TheScreenAgreesToEveryShareAndIsNotRetainedByTheHub) {
  {
    // Asked by an action sheet, the screen lets the picked sharer start with the item untouched.
    SX::setRootViewController(screen);
    auto item = SXItem::makeURL(URL::make("https://example.org/s"), "Picked");
    auto sheet = SXActionSheet::actionSheetForItem(item);
    sheet->setSharers({"SXTwitter"});
    sheet->setShareDelegate(screen);
    sheet->dismissWithClickedButtonIndex(0, false);
    settle();
    auto started = dyn<SXSharer>(SX::currentHelper()->currentView());
    ASSERT_TRUE(started);
    EXPECT_EQ(started->item(), item);
    EXPECT_EQ(item->title, "Picked");
    EXPECT_EQ(item->url->absoluteString(), "https://example.org/s");
    EXPECT_EQ(item->image, nullptr);
    SX::currentHelper()->hideCurrentViewController();
    settle();
  }
  screen->shareOnTwitter();
  settle();
  SX::currentHelper()->hideCurrentViewController();
  settle();
  std::weak_ptr<HistoryDetailViewController> weak = screen;
  tabRoot->dismissViewControllerAnimated(false);
  screen.reset();
  settle();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(SX::currentHelper()->rootViewController(), nullptr);
}

}  // namespace
}  // namespace zv::testing
