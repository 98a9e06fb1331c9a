#include <gtest/gtest.h>

#include "platform/net/CookieStore.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXText.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

using zv::testing::SharingTest;

TEST(SXTextFunctions, FormEscapeEscapesAndNeverUnescapes) {
  EXPECT_EQ(SXFormEscape(std::nullopt), "");
  EXPECT_EQ(SXFormEscape("a+b & c"), "a%2Bb%20%26%20c");
  EXPECT_EQ(SXFormEscape("#!@"), "%23%21%40");
  // A literal entity stays literal text: its ampersand is escaped like any other.
  EXPECT_EQ(SXFormEscape("fish &amp; chips"), "fish%20%26amp;%20chips");
  EXPECT_EQ(SXFormEscape("caffè"), "caff%C3%A8");
  EXPECT_EQ(SXFormEscape("a/b?c=d"), "a/b?c=d");
}

TEST(SXTextFunctions, URLEscapeEscapesEveryReservedCharacter) {
  EXPECT_EQ(SXURLEscape(nullptr), "");
  EXPECT_EQ(SXURLEscape(URL::make("https://example.org/a?b=c&d=%20")),
            "https%3A%2F%2Fexample.org%2Fa%3Fb%3Dc%26d%3D%2520");
}

TEST(SXTextFunctions, StripHTML) {
  EXPECT_EQ(SXStripHTML("<p>word</p>\n", false), "word");
  EXPECT_EQ(SXStripHTML("<p>word</p>\n", true), "word \n");
  EXPECT_EQ(SXStripHTML("  <b>bold</b> and <i>it</i>\t", false), "bold  and  it");
  EXPECT_EQ(SXStripHTML("a < b", false), "a < b");
  EXPECT_EQ(SXStripHTML("", false), "");
}

TEST(SXTextFunctions, FormatSubstitutesInOrder) {
  EXPECT_EQ(SXFormatText("Saving to %@", {"Echo"}), "Saving to Echo");
  EXPECT_EQ(SXFormatText("%d of %@ at 100%%", {"3", "x"}), "3 of x at 100%");
  EXPECT_EQ(SXFormatText("%@ %@", {"only"}), "only (null)");
  EXPECT_EQ(SXFormatText("%lu left", {"7"}), "7 left");
}

TEST(SXTextFunctions, HelpersOnPlatformValues) {
  EXPECT_EQ(SXMD5(*Data::make("abc")), "900150983cd24fb0d6963f7d28e17f72");
  auto d = MutableDictionary::make({{"a", Null::null()},
                                    {"b", box(1)},
                                    {"c", Dictionary::make({{"d", Null::null()}})}});
  convertNullsToEmptyStrings(*d);
  EXPECT_EQ(d->stringForKey("a"), "");
  EXPECT_EQ(intValueOf(d->objectForKey("b")), 1);
  EXPECT_EQ(d->objectForKeyAs<Dictionary>("c")->stringForKey("d"), "");
}

TEST(SXTextFunctions, CookiesOfAURLAreDeletedAndOthersKept) {
  auto store = net::CookieStore::sharedInstance();
  store->removeAllCookies();
  auto cookie = [](const char* name, const char* domain) {
    net::HTTPCookie::Fields fields;
    fields.name = name;
    fields.value = "v";
    fields.domain = domain;
    return net::HTTPCookie::make(fields);
  };
  store->setCookie(cookie("session", "auth.example.org"));
  store->setCookie(cookie("other", "example.net"));
  deleteCookiesForURL(URL::make("https://auth.example.org/authorize?x=1"));
  deleteCookiesForURL(nullptr);
  ASSERT_EQ(store->count(), 1u);
  EXPECT_EQ(store->cookies().front()->name(), "other");
  store->removeAllCookies();
}

class SXLocalizedTextTest : public SharingTest {};

TEST_F(SXLocalizedTextTest, TextsComeFromSharingBundleInThePreferredLanguage) {
  EXPECT_EQ(SXLocalizedText("Saving to %@", std::string("Echo")), "Saving to Echo");
  EXPECT_EQ(SXLocalizedText("Not in any table %@", 5), "Not in any table 5");
  ApplicationEnvironment::shared().setPreferredLanguages({"it"});
  EXPECT_EQ(SXLocalizedText("Saving to %@", std::string("Echo")), "Salvataggio su Echo");
  EXPECT_EQ(SXLocalizedText("Close"), "Chiudi");
}

}  // namespace
}  // namespace zv
