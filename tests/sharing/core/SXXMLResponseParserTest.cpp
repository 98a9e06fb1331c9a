#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/String.h"
#include "sharing/core/SXXMLResponseParser.h"

namespace zv {
namespace {

std::string valueText(std::string_view element, std::string_view xml) {
  auto value = SXXMLResponseParser::getValueForElement(element, Data::make(xml));
  if (!value) return "<nil>";
  if (auto text = dyn<String>(value)) return text->utf8();
  return "<dictionary>";
}

TEST(SXXMLResponseParserTest, ElementValues) {
  struct Case {
    const char* xml;
    const char* element;
    const char* expected;
  } cases[] = {
      {"<result code=\"done\"/>", "code", "done"},                     // attribute inside an empty element
      {"<result code=\"done\"/>", "result", "<dictionary>"},           // the element's own value
      {"<a><b>  inner \n</b></a>", "b", "inner"},                     // trimmed
      {"<a><b>inner</b></a>", "a", "<dictionary>"},                   // a parent never takes a child's text
      {"<a>x<b>y</b>z</a>", "a", "xz"},                               // only its own text
      {"<a><b>one</b><b>two</b></a>", "b", "two"},                    // a later element replaces
      {"<r><errors><error>bad key</error></errors></r>", "error", "<dictionary>"},
      {"<r><error code=\"9\">bad</error></r>", "code", "9"},
      {"<r><post id=\"1\"/><id>2</id></r>", "id", "1"},               // first found in document order
      {"<r><t>caf\xC3\xA9 &amp; &#x263A;</t></r>", "t", "caf\xC3\xA9 & \xE2\x98\xBA"},
      {"<r><t><![CDATA[<raw>]]></t></r>", "t", "<raw>"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><t>caf\xE9</t></r>", "t", "caf\xC3\xA9"},
      {"<r/>", "missing", "<nil>"},
  };
  for (const auto& c : cases) EXPECT_EQ(valueText(c.element, c.xml), c.expected) << c.xml;
}

TEST(SXXMLResponseParserTest, MalformedInputAnswersNil) {
  const char* cases[] = {
      "",
      "not xml",
      "<a><b></a>",
      "<a>",
      "<a></a><b></b>",
      "<a x='1' x='2'/>",
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"boom\">]><r>&e;</r>",
      "<r>&undefined;</r>",
      "<r>\xFF\xFE</r>",
  };
  for (const char* xml : cases) {
    auto parser = SXXMLResponseParser::initWithData(Data::make(std::string_view(xml)));
    EXPECT_FALSE(parser->parse()) << xml;
    EXPECT_FALSE(parser->parseError().empty()) << xml;
    EXPECT_EQ(valueText("r", xml), "<nil>") << xml;
  }
  EXPECT_EQ(SXXMLResponseParser::getValueForElement("a", nullptr), nullptr);
}

TEST(SXXMLResponseParserTest, NestingIsBounded) {
  auto nested = [](std::size_t depth) {
    std::string xml;
    for (std::size_t i = 0; i < depth; ++i) xml += "<e>";
    xml += "deep";
    for (std::size_t i = 0; i < depth; ++i) xml += "</e>";
    return xml;
  };
  EXPECT_EQ(valueText("e", nested(SXXMLResponseParser::kMaximumDepth)), "deep");
  auto parser = SXXMLResponseParser::initWithData(Data::make(nested(SXXMLResponseParser::kMaximumDepth + 1)));
  EXPECT_FALSE(parser->parse());
  EXPECT_NE(parser->parseError().find("deeply"), std::string::npos);
}

TEST(SXXMLResponseParserTest, ParseCanRunAgainAndSearchWalksInOrder) {
  auto parser = SXXMLResponseParser::initWithData(Data::make(std::string_view("<r><a k=\"1\"/><k>2</k></r>")));
  ASSERT_TRUE(parser->parse());
  ASSERT_TRUE(parser->parse());
  ASSERT_TRUE(parser->parsedResponse());
  EXPECT_EQ(parser->parsedResponse()->count(), 3u);
  auto found = SXXMLResponseParser::findRecursivelyValueForKey("k", parser->parsedResponse());
  ASSERT_TRUE(dyn<String>(found));
  EXPECT_EQ(dyn<String>(found)->utf8(), "1");
}

}  // namespace
}  // namespace zv
