#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sharing/core/oauth/Base64.h"
#include "sharing/core/oauth/OCBase64.h"

namespace zv {
namespace {

std::string ocEncode(std::string_view input) {
  std::size_t length = OCBase64EncodedLength(input.size());
  std::string out(length, '\0');
  EXPECT_TRUE(OCBase64Encode(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), out.data(), length));
  EXPECT_EQ(length, out.size());
  return out;
}

std::string builderEncode(std::string_view input, bool lines) {
  std::size_t length = 99;
  auto text = Base64EncodeBytes(input.data(), input.size(), lines, &length);
  EXPECT_TRUE(text);
  EXPECT_EQ(text[length], '\0');
  return std::string(text.get(), length);
}

std::string decode(std::string_view text) {
  return std::string(base64::dataFromBase64String(text)->view());
}

TEST(Base64Test, KnownVectorsBothEncodersAndDecoder) {
  // RFC 4648 section 10.
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {std::string("\x00\xff\xfe", 3), "AP/+"},
  };
  for (const auto& [plain, text] : vectors) {
    EXPECT_EQ(ocEncode(plain), text) << plain;
    EXPECT_EQ(builderEncode(plain, true), text) << plain;
    EXPECT_EQ(builderEncode(plain, false), text) << plain;
    EXPECT_EQ(decode(text), plain) << text;
  }
}

TEST(Base64Test, ConsumerEncoderBreaksAfterEvery72Characters) {
  std::string in54(54, 'a');
  std::string out = ocEncode(in54);
  ASSERT_EQ(out.size(), 74u);
  EXPECT_EQ(out.substr(72), "\r\n");
  EXPECT_EQ(decode(out), in54);

  std::string out55 = ocEncode(std::string(55, 'a'));
  EXPECT_EQ(out55.size(), 74u + 4u);
  EXPECT_EQ(out55.substr(72, 2), "\r\n");
  EXPECT_EQ(out55.substr(74), "YQ==");

  EXPECT_EQ(ocEncode(std::string(108, 'b')).size(), 148u);  // two full lines, each with CR LF
  EXPECT_EQ(ocEncode(std::string(20, 'c')).size(), 28u);    // a digest: one short line, no break

  std::size_t none = 0;
  EXPECT_TRUE(OCBase64Encode(nullptr, 0, nullptr, none));
  EXPECT_EQ(none, 0u);
}

TEST(Base64Test, ConsumerEncoderRefusesSmallBufferWithoutWriting) {
  std::string out(8, '#');
  std::size_t capacity = 7;
  EXPECT_FALSE(OCBase64Encode(reinterpret_cast<const std::uint8_t*>("foobar"), 6, out.data(), capacity));
  EXPECT_EQ(capacity, 7u);
  EXPECT_EQ(out, "########");
  capacity = 8;
  EXPECT_TRUE(OCBase64Encode(reinterpret_cast<const std::uint8_t*>("foobar"), 6, out.data(), capacity));
  EXPECT_EQ(capacity, 8u);
  EXPECT_EQ(out, "Zm9vYmFy");
}

TEST(Base64Test, BuilderSeparatesLinesOf64Characters) {
  std::string in48(48, 'x');
  std::string out48 = base64::base64EncodedString(*Data::make(in48));
  EXPECT_EQ(out48.size(), 64u);
  EXPECT_EQ(out48.find('\r'), std::string::npos);

  std::string out49 = base64::base64EncodedString(*Data::make(std::string(49, 'x')));
  ASSERT_EQ(out49.size(), 64u + 2u + 4u);
  EXPECT_EQ(out49.substr(64, 2), "\r\n");
  EXPECT_TRUE(out49.ends_with("=="));

  std::string out96 = builderEncode(std::string(96, 'x'), true);
  EXPECT_EQ(out96.size(), 130u);  // a break between the lines, none after the last
  EXPECT_FALSE(out96.ends_with("\r\n"));
  EXPECT_EQ(builderEncode(std::string(96, 'x'), false).size(), 128u);
}

TEST(Base64Test, RoundTripsEveryLengthAndByte) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>((i * 37 + 11) & 0xff));
  for (std::size_t n = 0; n <= bytes.size(); n += 7) {
    std::string in = bytes.substr(0, n);
    EXPECT_EQ(decode(ocEncode(in)), in) << n;
    EXPECT_EQ(decode(builderEncode(in, true)), in) << n;
    EXPECT_EQ(decode(builderEncode(in, false)), in) << n;
  }
}

TEST(Base64Test, DecodingSkipsForeignCharactersAndShortTails) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Zm9v\r\n", "foo"},          // a line break after a complete group
      {" Z m 9 v Y g = = ", "foob"},  // blanks and padding are skipped
      {"Zm9vYg", "foob"},           // padding is optional
      {"Zm9vY", "foo"},             // one dangling value adds nothing
      {"Z", ""},
      {"====", ""},
      {"!@#$%^&*()", ""},
      {"Zm\xff\x80" "9v", "foo"},   // bytes outside ASCII
      {"Zm=9v", "foo"},             // "=" in the middle is skipped too
  };
  for (const auto& [text, plain] : cases) EXPECT_EQ(decode(text), plain) << text;
}

TEST(Base64Test, DecodeBufferSizeAndNULTerminatedLength) {
  std::size_t count = 99;
  auto bytes = Base64DecodeBytes("Zm9vYmFy\0Zm9v", kBase64UpToNUL, &count);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.get()), count), "foobar");
  EXPECT_TRUE(Base64DecodeBytes(nullptr, 0, &count));
  EXPECT_EQ(count, 0u);
}

TEST(Base64Test, DecodeLengthNearTheTopOfSizeTDoesNotWrap) {
  // (length + 3) would wrap to a tiny buffer for these lengths; the allocation must fail instead
  // of succeeding small. The text is never read because the allocation is refused first.
  std::size_t count = 0;
  for (std::size_t length : {kBase64UpToNUL - 1, kBase64UpToNUL - 2, kBase64UpToNUL - 3}) {
    EXPECT_FALSE(Base64DecodeBytes("A", length, &count)) << length;
  }
  EXPECT_FALSE(Base64EncodeBytes("A", kBase64UpToNUL - 1, true, &count));
  EXPECT_EQ(OCBase64EncodedLength(kBase64UpToNUL - 1), 0u);
}

}  // namespace
}  // namespace zv
