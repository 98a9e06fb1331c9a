#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/graphics/ImageCodec.h"
#include "sharing/core/SXItem.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

using zv::testing::SharingTest;

class SXItemTest : public SharingTest {};

Ref<graphics::Image> redSquare() {
  return graphics::Image::make(graphics::Bitmap::filled(4, 4, 255, 0, 0, 128));
}

TEST_F(SXItemTest, NewItemsCarryTheConfiguredDefaultsAndConstructorsSetTheirKind) {
  configurator->set("mailBody", box("configured body"));
  configurator->set("mailToRecipients", Array::make({box("a@example.org")}));
  configurator->set("sharedWithSignature", box(1));
  auto item = SXItem::makeURL(URL::make("https://example.org/a"), "Title");
  EXPECT_EQ(item->shareType, SXShareTypeURL);
  EXPECT_EQ(item->URLContentType, SXURLContentTypeWebpage);
  EXPECT_EQ(item->title, "Title");
  EXPECT_EQ(item->mailBody, "configured body");
  EXPECT_EQ(item->mailToRecipients, std::vector<std::string>{"a@example.org"});
  EXPECT_TRUE(item->mailShareWithAppSignature);
  EXPECT_TRUE(item->isMailHTML);
  EXPECT_EQ(item->printOutputType, 1);
  EXPECT_FLOAT_EQ(item->mailJPGQuality, 1.0f);

  EXPECT_EQ(SXItem::makeURL(URL::make("https://example.org"))->URLContentType, SXURLContentTypeWebpage);
  EXPECT_EQ(SXItem::makeText("hi")->shareType, SXShareTypeText);
  EXPECT_EQ(SXItem::makeImage(redSquare())->shareType, SXShareTypeImage);
  auto file = SXItem::makeFile(Data::make("bytes"), "f.txt", "text/plain", "T");
  EXPECT_EQ(file->shareType, SXShareTypeFile);
  EXPECT_EQ(file->filename, "f.txt");
  EXPECT_EQ(file->mimeType, "text/plain");
}

TEST_F(SXItemTest, CustomValues) {
  auto item = SXItem::make();
  EXPECT_EQ(item->custom(), nullptr);
  item->setCustomValue("1", "on");
  item->setCustomValue("yes", "other");
  item->setCustomValue("x", "gone");
  item->setCustomValue(std::nullopt, "gone");
  EXPECT_TRUE(item->customBoolForSwitchKey("on"));
  EXPECT_FALSE(item->customBoolForSwitchKey("other"));
  EXPECT_FALSE(item->customBoolForSwitchKey("missing"));
  EXPECT_EQ(item->customValueForKey("gone"), std::nullopt);
  EXPECT_EQ(item->custom()->count(), 2u);
}

TEST_F(SXItemTest, DictionaryFormRoundTrips) {
  auto item = SXItem::makeImage(redSquare(), "Pic");
  item->tags = "a b";
  item->setCustomValue("v", "k");
  item->isMailHTML = false;
  item->facebookURLShareDescription = "desc";
  auto d = item->dictionaryRepresentation();
  auto png = dyn<Data>(d->objectForKey("image"));
  ASSERT_TRUE(png);
  EXPECT_EQ(graphics::sniffImageFormat(png->span()), graphics::ImageFormat::PNG);

  auto back = SXItem::itemFromDictionary(d);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->shareType, SXShareTypeImage);
  EXPECT_EQ(back->title, "Pic");
  EXPECT_EQ(back->tags, "a b");
  EXPECT_EQ(back->customValueForKey("k"), "v");
  EXPECT_FALSE(back->isMailHTML);
  EXPECT_EQ(back->facebookURLShareDescription, "desc");
  ASSERT_TRUE(back->image);
  EXPECT_EQ(back->image->bitmap().rgba, item->image->bitmap().rgba);

  // A file comes back without its bytes: the offline queue keeps them in a file of its own.
  auto file = SXItem::itemFromDictionary(SXItem::makeFile(Data::make("abc"), "f", "t/p", "T")->dictionaryRepresentation());
  EXPECT_EQ(file->data, nullptr);
  EXPECT_EQ(file->filename, "f");
}

TEST_F(SXItemTest, AnEscapedURLSurvivesTheDictionaryForm) {
  auto item = SXItem::makeURL(URL::make("https://example.org/a%20b?q=%C3%A9%26x"));
  auto back = SXItem::itemFromDictionary(item->dictionaryRepresentation());
  ASSERT_TRUE(back->url);
  EXPECT_EQ(back->url->absoluteString(), "https://example.org/a%20b?q=%C3%A9%26x");
  // Entries written before kept the text decoded; they are escaped again instead of lost.
  auto old = SXItem::itemFromDictionary(Dictionary::make({{"shareType", box(1)}, {"URL", box("https://example.org/a b/é")}}));
  ASSERT_TRUE(old->url);
  EXPECT_EQ(old->url->absoluteString(), "https://example.org/a%20b/%C3%A9");
}

TEST_F(SXItemTest, MissingKeysReadAsNothingEvenWhenConfigured) {
  configurator->set("mailBody", box("configured"));
  auto item = SXItem::itemFromDictionary(Dictionary::make({{"shareType", box(2)}, {"text", box("t")}}));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->mailBody, std::nullopt);
  EXPECT_FALSE(item->isMailHTML);
  EXPECT_EQ(item->printOutputType, 0);
  EXPECT_EQ(item->text, "t");
}

TEST_F(SXItemTest, WrongTypesAreSkippedWithALogLine) {
  LogCapture capture;
  auto item = SXItem::itemFromDictionary(Dictionary::make({
      {"shareType", box("1")},
      {"URL", box(7)},
      {"title", Array::make()},
      {"text", box("kept")},
      {"custom", Dictionary::make({{"good", box("1")}, {"bad", box(2)}})},
      {"image", Data::make("not a picture")},
      {"mailToRecipients", box("a@example.org")},
      {"isMailHTML", box("yes")},
  }));
  ASSERT_TRUE(item);
  EXPECT_EQ(item->shareType, SXShareTypeUndefined);
  EXPECT_EQ(item->url, nullptr);
  EXPECT_EQ(item->title, std::nullopt);
  EXPECT_EQ(item->text, "kept");
  EXPECT_EQ(item->customValueForKey("good"), "1");
  EXPECT_EQ(item->customValueForKey("bad"), std::nullopt);
  EXPECT_EQ(item->image, nullptr);
  EXPECT_FALSE(item->hasMailToRecipients);
  EXPECT_TRUE(capture.contains("skips \"shareType\""));
  EXPECT_TRUE(capture.contains("skips \"image\""));

  EXPECT_EQ(SXItem::itemFromDictionary(box("not a dictionary")), nullptr);
  EXPECT_EQ(SXItem::itemFromDictionary(nullptr), nullptr);
}

TEST_F(SXItemTest, EveryShareTypeHasANameAndDescriptionNeverRaises) {
  EXPECT_EQ(SXItem::shareTypeToString(0), "SXShareTypeUndefined");
  EXPECT_EQ(SXItem::shareTypeToString(1), "SXShareTypeURL");
  EXPECT_EQ(SXItem::shareTypeToString(4), "SXShareTypeFile");
  EXPECT_EQ(SXItem::shareTypeToString(5), "SXShareTypeUserInfo");
  EXPECT_EQ(SXItem::shareTypeToString(42), "SXShareTypeUnknown(42)");
  auto item = SXItem::make();
  item->shareType = SXShareTypeUserInfo;
  std::string text = item->description();
  EXPECT_TRUE(text.starts_with("Share type: SXShareTypeUserInfo\n"));
  EXPECT_NE(text.find("\n\nSharer specific\n\n"), std::string::npos);
  item->shareType = -3;
  EXPECT_NE(item->description().find("SXShareTypeUnknown(-3)"), std::string::npos);
}

}  // namespace
}  // namespace zv
