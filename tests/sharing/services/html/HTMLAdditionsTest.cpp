#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sharing/services/html/HTMLAdditions.h"
#include "support/TestSupport.h"

namespace zv::html {
namespace {

TEST(HTMLEntityTablesTest, SizesOrderAndLandmarks) {
  auto full = fullEscapeTable();
  auto brief = shortEscapeTable();
  EXPECT_EQ(full.size(), 253u);
  EXPECT_EQ(brief.size(), 33u);
  for (auto table : {full, brief}) {
    for (std::size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1].uchar, table[i].uchar) << i;
  }
  EXPECT_STREQ(full[0].escapeSequence, "&quot;");
  EXPECT_STREQ(full[5].escapeSequence, "&nbsp;");
  EXPECT_EQ(full[5].uchar, 160);
  EXPECT_STREQ(full.back().escapeSequence, "&diams;");
  EXPECT_EQ(full.back().uchar, 9830);
  EXPECT_STREQ(brief.back().escapeSequence, "&euro;");
  // Every short entry is also in the full table, with the same text.
  std::set<std::pair<std::string, int>> all;
  for (const auto& e : full) all.insert({e.escapeSequence, e.uchar});
  for (const auto& e : brief) EXPECT_TRUE(all.count({e.escapeSequence, e.uchar})) << e.escapeSequence;
}

TEST(HTMLEscapeTest, ShortAndAsciiEscaping) {
  struct Case {
    std::string in, forHTML, forAscii;
  };
  const std::vector<Case> cases = {
      {"", "", ""},
      {"plain text", "plain text", "plain text"},
      {"a<b & \"c\" 'd'>", "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;", "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;"},
      {"caf\u00e9", "caf\u00e9", "caf&eacute;"},
      {"\u0101", "\u0101", "&#257;"},
      {"\u20ac \u2014", "&euro; &mdash;", "&euro; &mdash;"},
      {"\u03b8\u03d1", "\u03b8\u03d1", "&theta;&thetasym;"},
      {"\u4e2d", "\u4e2d", "&#20013;"},
      // A character outside the basic plane is one reference to its code point.
      {"x\U0001F600y", "x\U0001F600y", "x&#128512;y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(html_stringByEscapingForHTML(c.in), c.forHTML) << c.in;
    EXPECT_EQ(html_stringByEscapingForAsciiHTML(c.in), c.forAscii) << c.in;
  }
  // Ill-formed input bytes never pass through raw.
  EXPECT_EQ(html_stringByEscapingForHTML("a\xff<"), "a\uFFFD&lt;");
}

// Text copied from documents holds controls XML 1.0 forbids (even as references): no escaper
// lets one through, breaks stay breaks, and everything XML carries is kept.
TEST(HTMLEscapeTest, EveryEscaperWritesOnlyWhatXMLCarries) {
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls += c;
  const std::string input = std::string("a") + '\0' + "b\vc\fd" + controls + "e\uFFFE\uFFFF<\xff";
  const std::string kept = "\t\n\r";
  for (auto escape : {html_stringByEscapingForHTML, html_stringByEscapingForAsciiHTML, xml_stringByEscaping}) {
    const std::string out = escape(input);
    for (unsigned char c : out) {
      EXPECT_TRUE(c >= 0x20 || kept.find(static_cast<char>(c)) != std::string::npos) << int(c);
    }
    EXPECT_EQ(out.find("\uFFFE"), std::string::npos);
    EXPECT_EQ(out.find("\uFFFF"), std::string::npos);
    EXPECT_EQ(out.find("&#65534;"), std::string::npos);
    EXPECT_EQ(out.find("&#65535;"), std::string::npos);
    EXPECT_EQ(out.rfind("ab\nc\nd\t\n\n\n\re", 0), 0u) << out;
  }
  EXPECT_EQ(xml_stringByEscaping(input), "ab\nc\nd\t\n\n\n\re\uFFFD\uFFFD&lt;\uFFFD");
  EXPECT_EQ(html_stringByEscapingForAsciiHTML(input), "ab\nc\nd\t\n\n\n\re&#65533;&#65533;&lt;&#65533;");
  // Plain XML knows only its five entities.
  EXPECT_EQ(xml_stringByEscaping("a<b & \"c\" 'd'> \u2014 caf\u00e9"),
            "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt; \u2014 caf\u00e9");
}

TEST(HTMLUnescapeTest, ReferencesAndMalformedText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"no references", "no references"},
      {"&lt;&gt;", "<>"},
      {"&#65;&#x41;&#X41;", "AAA"},
      {"&#0;", "&#0;"},
      {"&#65535;", "&#65535;"},
      {"&#65534;", "\uFFFE"},
      {"&#x4G;", "&#x4G;"},
      {"&#x;&#;", "&#x;&#;"},
      {"&#-65;", "&#-65;"},
      {"&amp;lt;", "&lt;"},  // a produced "&" is not read again
      {"&a&lt;", "&a<"},
      {"a & b", "a & b"},
      {"&lt", "&lt"},
      {"&thetasym;", "\u03d1"},             // 10 characters: still read
      {"&#x0000041;", "&#x0000041;"},       // 11 characters: left alone
      {"&nosuchname;", "&nosuchname;"},
      {"&LT;", "&LT;"},                     // names are case-sensitive
      {"&eacute;&euro;&diams;&apos;", "\u00e9\u20ac\u2666'"},
      {"&;x;&#;", "&;x;&#;"},
      {"1 &lt 2 &gt; 0", "1 &lt 2 > 0"},  // the first "&" has no ";" before the next "&"
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(html_stringByUnescapingFromHTML(in), out) << in;
}

TEST(HTMLUnescapeTest, AmpersandsWithoutSemicolonsAreReadInLinearTime) {
  // Eight times the ampersands: about eight times the time, sixty-four if each looked ahead to the
  // end for a ";". The bound leaves a factor of three for what a busy machine adds.
  auto seconds = [](std::size_t count) {
    const std::string text = std::string(count, '&') + "x;";
    return testing::leastThreadCPUSeconds([&] { EXPECT_EQ(html_stringByUnescapingFromHTML(text), text); });
  };
  const double smallSeconds = seconds(100000), largeSeconds = seconds(800000);
  EXPECT_LT(largeSeconds / smallSeconds, 24.0) << smallSeconds << " s, then " << largeSeconds << " s";
}

TEST(HTMLUnescapeTest, NeverYieldsALoneSurrogate) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"&#128512;", "\U0001F600"},
      {"&#x1F600;", "\U0001F600"},
      {"&#x10FFFF;", "\U0010FFFF"},
      {"&#x110000;", "&#x110000;"},
      // Two adjacent surrogate references, as older escaping wrote them, make one character.
      {"a&#55357;&#56832;b", "a\U0001F600b"},
      {"&#xD83D;&#xDE00;", "\U0001F600"},
      {"&#55357;", "&#55357;"},
      {"&#56832;", "&#56832;"},
      {"&#56832;&#55357;", "&#56832;&#55357;"},
      {"&#55357; &#56832;", "&#55357; &#56832;"},
      {"&#55357;&#55357;&#56832;", "&#55357;\U0001F600"},
      {"&#55357;&lt;", "&#55357;<"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(html_stringByUnescapingFromHTML(in), out) << in;
}

TEST(HTMLUnescapeTest, AsciiEscapingRoundTrips) {
  const std::string text = "<p class=\"x\">caf\u00e9 \u2014 \u0101\u4e2d \U0001F600 & 'q' \u00a0</p>";
  std::string escaped = html_stringByEscapingForAsciiHTML(text);
  for (unsigned char c : escaped) EXPECT_LT(c, 128);
  EXPECT_EQ(html_stringByUnescapingFromHTML(escaped), text);
  EXPECT_EQ(html_stringByUnescapingFromHTML(html_stringByEscapingForHTML(text)), text);
}

}  // namespace
}  // namespace zv::html
