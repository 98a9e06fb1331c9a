#include <gtest/gtest.h>

#include "platform/foundation/Values.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JSONCodecConversions.h"

namespace zv {
namespace {

TEST(JSONCodecConversionsTest, ParseFromStringsAndDataWithOptionsAndErrors) {
  Ref<Error> error;
  EXPECT_FALSE(jsoncodec::objectFromJSONString(*box("[1,]"), JCParseStrict, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription(), "Unexpected ']'.");
  EXPECT_EQ(intValueOf(error->userInfo()->objectForKey(JCAtIndexKey)), 4);
  EXPECT_TRUE(jsoncodec::objectFromJSONString(*box("[1] // note"), JCParseComments));
  EXPECT_TRUE(jsoncodec::mutableObjectFromJSONData(Data::make(std::string_view("{\"a\":[]}"))));
  EXPECT_FALSE(jsoncodec::objectFromJSONData(Data::make(std::string_view("")), JCParseStrict, &error));
  EXPECT_EQ(error->localizedDescription(), "Reached the end of the buffer.");
  EXPECT_THROW(jsoncodec::objectFromJSONData(nullptr), Exception);
  EXPECT_THROW(jsoncodec::objectFromJSONString(*box("[]"), 16), Exception);
}

TEST(JSONCodecConversionsTest, WriteCollectionsAsDataOrText) {
  auto value = Dictionary::make({{"k", Array::make({box("v/w")})}});
  EXPECT_EQ(jsoncodec::JSONData(value)->view(), R"({"k":["v/w"]})");
  EXPECT_EQ(jsoncodec::JSONDataWithOptions(value, JCSerializeEscapeSlash)->view(), R"({"k":["v\/w"]})");
  Ref<Error> error = Error::make("stale", 1, "left from before");
  auto text = jsoncodec::JSONStringWithOptions(value, JCSerializePretty, &error);
  EXPECT_EQ(text->utf8(), "{\n  \"k\": [\n    \"v/w\"\n  ]\n}");
  EXPECT_FALSE(error);  // a stale error is cleared by a successful call
  auto data = jsoncodec::JSONDataWithOptions(
      Array::make({std::make_shared<Object>()}), 0, [](const ObjectPtr&) -> ObjectPtr { return Null::null(); });
  EXPECT_EQ(data->view(), "[null]");
}

}  // namespace
}  // namespace zv
