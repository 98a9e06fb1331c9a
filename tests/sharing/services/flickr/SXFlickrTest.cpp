// The Flickr sharer end to end against the loopback photo service: the web login for a token,
// uploads with and without group posts, the group picker, the invalid-token relogin and the
// failures that must end the activity display.

#include <algorithm>

#include "platform/foundation/WeakReference.h"
#include "platform/system/NotificationCenter.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageCodec.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXFormOptionController.h"
#include "sharing/core/SXOAuthView.h"
#include "platform/ui/NavigationController.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/flickr/FlickrTestSupport.h"
#include "sharing/services/flickr/SXFlickr.h"

namespace zv::testing {
namespace {

constexpr const char* kCallback = "https://callback.example/flickr";

class SXFlickrTest : public FlickrTest {
 protected:
  void SetUp() override {
    FlickrTest::SetUp();
    registerSharingServicesClasses();
    configurator->set("flickrConsumerKey", box(kFlickrTestKey));
    configurator->set("flickrSecretKey", box(kFlickrTestSecret));
    configurator->set("flickrCallbackUrl", box(kCallback));
    service.setCallbackURL(kCallback);
    service.setGroups({{"g1@N1", "Cats"}, {"g2@N2", "Dogs"}, {"", "Nameless"}});
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    for (const char* name :
         {kSXSendDidStartNotification, kSXSendDidFinish, kSXSendDidFailWithError, kSXAuthDidFinish}) {
      tokens_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [this](const Ref<Notification>& n) { reports.push_back(n->name()); }));
    }
  }
  void TearDown() override {
    for (const auto& token : tokens_) NotificationCenter::defaultCenter()->removeObserver(token);
    pumpRunLoopFor(0.4);
    FlickrTest::TearDown();
  }

  bool waitForReport(const std::string& name) {
    return pumpRunLoopUntil([&] { return std::count(reports.begin(), reports.end(), name) > 0; }, 60.0);
  }
  std::vector<FlickrService::Call> callsOf(const std::string& method) {
    std::vector<FlickrService::Call> out;
    for (const auto& call : service.calls()) {
      if (call.arguments.contains("method") && call.arguments.at("method") == method) out.push_back(call);
    }
    return out;
  }
  // A sharer with a stored valid token and an image item whose form was filled.
  Ref<SXFlickr> filledSharer(std::optional<std::string> title, std::optional<std::string> groups) {
    EXPECT_TRUE(SX::setAuthValue(service.issueToken(), kSXFlickrAuthTokenKey, "SXFlickr"));
    auto sharer = SXSharer::make<SXFlickr>();
    auto item = SXItem::makeImage(graphics::Image::make(graphics::Bitmap::filled(40, 30, 20, 120, 220)), title);
    item->setCustomValue("1", "is_public");
    item->setCustomValue("0", "is_friend");
    item->setCustomValue("1", "is_family");
    item->setCustomValue("a holiday", "description");
    if (groups) item->setCustomValue(*groups, "postgroup");
    sharer->setItem(item);
    sharer->setQuiet(true);
    return sharer;
  }
  // Opens the group picker as the form does and waits for the list.
  std::shared_ptr<SXFormOptionController> openGroups(const Ref<SXFlickr>& sharer) {
    auto fields = sharer->shareFormFieldsForType(SXShareTypeImage);
    auto picker = SXFormOptionController::initWithOptionsInfo(fields.back(), {});
    sharer->SXFormOptionControllerEnumerateOptions(*picker);
    EXPECT_TRUE(pumpRunLoopUntil([&] { return !sharer->flickrRequest()->isRunning(); }, 60.0));
    return picker;
  }

  // The display leaves the window once its hide's fade is over.
  static bool activityEnds() {
    return pumpRunLoopUntil([] { return SXActivityIndicator::currentIndicator()->superview() == nullptr; }, 20.0);
  }

  Ref<ui::ViewController> root;
  std::vector<std::string> reports;
  std::vector<ObjectPtr> tokens_;
};

TEST_F(SXFlickrTest, TheWebLoginStoresTheTokenAndNotesTheUser) {
  auto sharer = SXSharer::make<SXFlickr>();
  sharer->setItem(SXItem::makeImage(graphics::Image::make(graphics::Bitmap::filled(4, 4, 1, 2, 3)), "x"));
  EXPECT_FALSE(sharer->isAuthorized());
  sharer->authorizationFormShow();
  ASSERT_TRUE(waitForReport(kSXAuthDidFinish));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !sharer->flickrUserName().empty(); }, 60.0));
  EXPECT_EQ(sharer->flickrUserName(), FlickrService::kUserName);
  EXPECT_TRUE(sharer->isAuthorized());
  const auto stored = sharer->getAuthValueForKey(kSXFlickrAuthTokenKey);
  ASSERT_TRUE(stored);
  EXPECT_EQ(*stored, sharer->flickrContext()->authToken());
  EXPECT_EQ(callsOf("flickr.auth.getToken").size(), 1u);

  sharer->logout();
  EXPECT_FALSE(sharer->getAuthValueForKey(kSXFlickrAuthTokenKey));
  EXPECT_FALSE(sharer->isAuthorized());
}

TEST_F(SXFlickrTest, ALoginCancelledOrLoggedOutWhileItsAnswerIsOnTheWayIsNotKept) {
  auto image = graphics::Image::make(graphics::Bitmap::filled(4, 4, 1, 2, 3));
  // Cancel on the login page before the service's redirect (with the frob) has come back.
  {
    auto sharer = SXSharer::make<SXFlickr>();
    sharer->setItem(SXItem::makeImage(image, "x"));
    sharer->authorizationFormShow();
    auto screen = dyn<ui::NavigationController>(SX::currentHelper()->currentView());
    ASSERT_TRUE(screen);
    ASSERT_TRUE(dyn<SXOAuthView>(screen->topViewController()));
    dyn<SXOAuthView>(screen->topViewController())->cancel();
    ASSERT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView(); }, 20.0));
    pumpRunLoopFor(0.8);
    EXPECT_TRUE(callsOf("flickr.auth.getToken").empty());
    EXPECT_FALSE(SX::getAuthValueForKey(kSXFlickrAuthTokenKey, "SXFlickr"));
    EXPECT_EQ(reports, (std::vector<std::string>{kSXAuthDidFinish}));
  }
  // The hub's logout while the token for the frob is being fetched.
  reports.clear();
  auto sharer = SXSharer::make<SXFlickr>();
  sharer->setItem(SXItem::makeImage(image, "x"));
  sharer->authorizationFormShow();
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    return sharer->flickrRequest()->isRunning() &&
           dyn<String>(sharer->flickrRequest()->sessionInfo())->utf8() == SXFlickr::kGetAuthTokenStep;
  }, 60.0));
  SX::logoutOfService("SXFlickr");
  pumpRunLoopUntil([&] { return !callsOf("flickr.auth.getToken").empty(); }, 2.0);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !reports.empty(); }, 20.0));
  pumpRunLoopFor(0.8);
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFlickrAuthTokenKey, "SXFlickr"));
  EXPECT_FALSE(sharer->isAuthorized());
  EXPECT_EQ(reports, (std::vector<std::string>{kSXAuthDidFinish}));
  EXPECT_TRUE(activityEnds());
}

TEST_F(SXFlickrTest, TheFormOffersTheGroupPicker) {
  auto sharer = filledSharer("Sunset", std::nullopt);
  auto fields = sharer->shareFormFieldsForType(SXShareTypeImage);
  ASSERT_EQ(fields.size(), 7u);
  EXPECT_EQ(fields[0]->key, "title");
  EXPECT_EQ(fields[3]->type, SXFormFieldTypeSwitch);
  EXPECT_EQ(fields[6]->type, SXFormFieldTypeOptionPicker);
  EXPECT_EQ(WeakReference::resolve(fields[6]->optionPickerInfo->objectForKey("SXFormOptionControllerOptionProvider")), sharer);
  EXPECT_LT(sharer->shareFormFieldsForType(SXShareTypeURL).size(), 7u);
  // The rows end up in the sharer's own form: they must not keep the sharer alive.
  std::weak_ptr<SXFlickr> gone = sharer;
  sharer.reset();
  EXPECT_TRUE(gone.expired());
  EXPECT_FALSE(WeakReference::resolve(fields[6]->optionPickerInfo->objectForKey("SXFormOptionControllerOptionProvider")));
}

TEST_F(SXFlickrTest, AnUploadWithTwoGroupsPostsToBothInOrder) {
  auto sharer = filledSharer("", "Dogs,Cats");
  openGroups(sharer);
  ASSERT_TRUE(sharer->fullOptionsData());
  EXPECT_EQ(sharer->fullOptionsData()->count(), 3u);
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidFailWithError), 0);
  ASSERT_EQ(service.uploads().size(), 1u);
  EXPECT_EQ(service.uploads()[0].second.substr(0, 2), "\xFF\xD8");  // JPEG
  auto upload = service.calls();
  auto uploadCall = std::find_if(upload.begin(), upload.end(), [](const auto& c) { return c.path == "/services/upload/"; });
  ASSERT_NE(uploadCall, upload.end());
  EXPECT_EQ(uploadCall->arguments.at("title"), "photo");
  EXPECT_EQ(uploadCall->arguments.at("is_friend"), "0");
  EXPECT_EQ(uploadCall->arguments.at("description"), "a holiday");
  auto adds = callsOf("flickr.groups.pools.add");
  ASSERT_EQ(adds.size(), 2u);
  EXPECT_EQ(adds[0].arguments.at("group_id"), "g2@N2");
  EXPECT_EQ(adds[1].arguments.at("group_id"), "g1@N1");
  EXPECT_EQ(adds[0].arguments.at("photo_id"), sharer->postedPhotoID());
  EXPECT_TRUE(activityEnds());
}

// A black drawing on a clear ground arrives as a drawing, not as a black rectangle.
TEST_F(SXFlickrTest, ATransparentPictureArrivesLaidOnWhite) {
  auto sharer = filledSharer("Sketch", std::nullopt);
  graphics::Bitmap drawing = graphics::Bitmap::filled(32, 32, 0, 0, 0, 0);
  for (int i = 0; i < 32; ++i) drawing.pixel(i, 16)[3] = 255;
  sharer->item()->image = graphics::Image::make(std::move(drawing));
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  ASSERT_EQ(service.uploads().size(), 1u);
  const std::string jpeg = service.uploads()[0].second;
  auto decoded = graphics::decodeJPEG(std::span(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size()));
  ASSERT_TRUE(decoded);
  EXPECT_GE(decoded->pixel(2, 2)[0], 245);
  EXPECT_LE(decoded->pixel(2, 16)[0], 40);
}

TEST_F(SXFlickrTest, WithoutGroupsTheShareEndsAfterTheUpload) {
  auto sharer = filledSharer("Sunset", "-1");
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_TRUE(callsOf("flickr.groups.pools.add").empty());
  EXPECT_EQ(service.uploads().at(0).first, "Sunset");

  // A group with no id cannot take the photo: it is reported, and the next group still gets it.
  auto second = filledSharer("Sunset", "Nameless,Cats");
  openGroups(second);
  reports.clear();
  EXPECT_TRUE(second->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  auto adds = callsOf("flickr.groups.pools.add");
  ASSERT_EQ(adds.size(), 1u);
  EXPECT_EQ(adds[0].arguments.at("group_id"), "g1@N1");
  EXPECT_EQ(second->refusedGroups(), std::vector<std::string>{"Nameless"});
}

TEST_F(SXFlickrTest, AStepThatCannotStartLeavesTheRunningOneAlone) {
  auto sharer = filledSharer("Sunset", std::nullopt);
  EXPECT_TRUE(sharer->send());  // checks the token first
  ASSERT_TRUE(sharer->flickrRequest()->isRunning());
  // The group picker opens while the check runs: its step cannot start and says so.
  auto fields = sharer->shareFormFieldsForType(SXShareTypeImage);
  auto picker = SXFormOptionController::initWithOptionsInfo(fields.back(), {});
  sharer->SXFormOptionControllerEnumerateOptions(*picker);
  EXPECT_FALSE(sharer->curOptionController());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidStartNotification), 1);
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidFailWithError), 0);
  EXPECT_EQ(service.uploads().size(), 1u);
}

TEST_F(SXFlickrTest, AFailedGroupPostLeavesTheUploadDone) {
  auto sharer = filledSharer("Sunset", "Cats");
  openGroups(sharer);
  service.failMethod("flickr.groups.pools.add", 3);
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidFailWithError), 0);
  ASSERT_TRUE(sharer->groupPostError());
  EXPECT_EQ(sharer->groupPostError()->code(), 3);
  EXPECT_EQ(service.uploads().size(), 1u);
}

// The picker carries the ticked groups by id: a name holding "," or shared by two groups still
// sends the photo to exactly the groups ticked, and the cell shows their names.
TEST_F(SXFlickrTest, ThePickedGroupsReceiveThePhotoWhateverTheirNames) {
  service.setGroups({{"g1@N1", "Cats"}, {"g2@N2", "Dogs"}, {"g3@N3", "Cats,Dogs & Birds"}, {"g4@N4", "Dogs"}});
  auto sharer = filledSharer("Sunset", std::nullopt);
  auto picker = openGroups(sharer);
  auto row = picker->settings();
  row->optionPickerInfo->setObject(box("2,3"), "curIndexes");
  picker->done();
  ASSERT_TRUE(row->value);
  sharer->item()->setCustomValue(row->value, row->key);
  EXPECT_EQ(row->valueText, "Cats,Dogs & Birds,Dogs");
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  auto adds = callsOf("flickr.groups.pools.add");
  ASSERT_EQ(adds.size(), 2u);
  EXPECT_EQ(adds[0].arguments.at("group_id"), "g3@N3");
  EXPECT_EQ(adds[1].arguments.at("group_id"), "g4@N4");
  EXPECT_TRUE(sharer->refusedGroups().empty());

  // A share kept from before names its groups: a name with "," is read whole, and a name two
  // groups share is reported rather than sent to either.
  auto older = filledSharer("Sunset", "Cats,Dogs & Birds,Dogs,Cats");
  openGroups(older);
  reports.clear();
  EXPECT_TRUE(older->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  adds = callsOf("flickr.groups.pools.add");
  ASSERT_EQ(adds.size(), 4u);
  EXPECT_EQ(adds[2].arguments.at("group_id"), "g3@N3");
  EXPECT_EQ(adds[3].arguments.at("group_id"), "g1@N1");
  EXPECT_EQ(older->refusedGroups(), std::vector<std::string>{"Dogs"});
}

// One group refusing the photo does not keep it from the groups after it, and the user learns
// of every group that did not take it.
TEST_F(SXFlickrTest, EveryPickedGroupIsTriedAndEveryRefusalReported) {
  service.setGroups({{"g1@N1", "Cats"}, {"g2@N2", "Dogs"}, {"g3@N3", "Birds"}});
  service.refuseGroup("g1@N1");
  service.refuseGroup("g3@N3");
  auto sharer = filledSharer("Sunset", std::nullopt);
  sharer->setQuiet(false);
  sharer->item()->setCustomValue(SXFormFieldSettings::joinOptionIds({"g1@N1", "g2@N2", "g3@N3"}), "postgroupids");
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidFailWithError), 0);
  auto adds = callsOf("flickr.groups.pools.add");
  ASSERT_EQ(adds.size(), 3u);
  EXPECT_EQ(adds[1].arguments.at("group_id"), "g2@N2");
  EXPECT_EQ(adds[2].arguments.at("group_id"), "g3@N3");
  // Without the group list (a share sent later) the ids name the groups.
  EXPECT_EQ(sharer->refusedGroups(), (std::vector<std::string>{"g1@N1", "g3@N3"}));
  ASSERT_TRUE(sharer->groupPostError());
  EXPECT_EQ(sharer->groupPostError()->code(), 5);
  ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 20.0));
  EXPECT_EQ(topAlert()->message(), "The photo was uploaded, but it could not be added to the groups g1@N1, g3@N3.");
  topAlert()->simulateTapButtonAtIndex(0);
}

TEST_F(SXFlickrTest, AnInvalidTokenAsksForANewLoginAndAnyFailureEndsTheActivity) {
  auto sharer = filledSharer("Sunset", std::nullopt);
  sharer->setQuiet(false);
  service.invalidateTokens();
  EXPECT_TRUE(sharer->send());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sharer->pendingAction() == SXPendingActionSend; }, 60.0));
  EXPECT_FALSE(sharer->isAuthorized());
  EXPECT_TRUE(activityEnds());

  // Another failure of the token check ends the share and the display too.
  auto other = filledSharer("Sunset", std::nullopt);
  other->setQuiet(false);
  service.failMethod("flickr.auth.checkToken", 105);
  EXPECT_TRUE(other->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_TRUE(activityEnds());
}

TEST_F(SXFlickrTest, AGroupListFailureReachesThePicker) {
  auto sharer = filledSharer("Sunset", std::nullopt);
  service.setNextRESTReply("<rsp stat=\"ok\"><groups/></rsp>");
  openGroups(sharer);
  EXPECT_FALSE(sharer->fullOptionsData());
  EXPECT_FALSE(sharer->curOptionController());
  service.invalidateTokens();
  openGroups(sharer);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionShare);
  EXPECT_FALSE(sharer->isAuthorized());
}

}  // namespace
}  // namespace zv::testing
