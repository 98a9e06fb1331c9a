// Text in the encoding a request names: the conversions both ways, form bodies and escapes built
// in the form's encoding, and content-type charsets read back.
#include <gtest/gtest.h>

#include "http/HTTPFormDataRequest.h"
#include "http/StringEncodings.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

constexpr unsigned kUTF8 = kUTF8StringEncoding;
constexpr unsigned kLatin1 = kISOLatin1StringEncoding;
constexpr unsigned kCP1252 = kWindowsCP1252StringEncoding;
constexpr unsigned kUTF16 = kUnicodeStringEncoding;

TEST(StringEncodings, ConvertBothWays) {
  struct Case {
    unsigned encoding;
    std::string text;
    std::string bytes;
  };
  for (const Case& c : {
           Case{kLatin1, "café ÿ", "caf\xE9 \xFF"},
           Case{kCP1252, "€ “quoted” – Œ", "\x80 \x93quoted\x94 \x96 \x8C"},
           Case{kCP1252, "café", "caf\xE9"},
           Case{kUTF16, "aé€", std::string("\x00" "a\x00\xE9\x20\xAC", 6)},
           Case{kUTF16, "𝄞", "\xD8\x34\xDD\x1E"},
           Case{kUTF8, "é", "\xC3\xA9"},
           Case{kASCIIStringEncoding, "plain", "plain"},
       }) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(encodeString(c.text, c.encoding), c.bytes);
    EXPECT_EQ(decodeString(c.bytes, c.encoding), c.text);
  }
}

TEST(StringEncodings, WhatAnEncodingCannotHold) {
  // Characters outside the encoding become question marks; the rest is kept.
  EXPECT_EQ(encodeString("a€b✓", kLatin1), "a?b?");
  EXPECT_EQ(encodeString("✓", kCP1252), "?");
  EXPECT_EQ(encodeString("é", kASCIIStringEncoding), "?");
  // Text that is not UTF-8 and unknown encodings are refused.
  EXPECT_FALSE(encodeString("\xC3", kLatin1));
  EXPECT_FALSE(encodeString("abc", 0xDEAD));
  // Bytes that are not valid in the encoding.
  EXPECT_FALSE(decodeString("\x81", kCP1252));
  EXPECT_FALSE(decodeString("\xC3(", kUTF8));
  EXPECT_FALSE(decodeString(std::string("\x00", 1), kUTF16));
}

TEST(StringEncodings, UTF16ReadsEitherByteOrderMark) {
  EXPECT_EQ(decodeString(std::string("\xFF\xFE" "a\x00", 4), kUTF16), "a");
  EXPECT_EQ(decodeString(std::string("\xFE\xFF\x00" "a", 4), kUTF16), "a");
  EXPECT_EQ(decodeString(std::string("\x00" "a", 2), kUTF16), "a");
}

TEST(StringEncodings, CharsetNames) {
  EXPECT_EQ(charsetNameForStringEncoding(kUTF8), "utf-8");
  EXPECT_EQ(charsetNameForStringEncoding(kLatin1), "iso-8859-1");
  EXPECT_EQ(charsetNameForStringEncoding(kCP1252), "windows-1252");
  EXPECT_EQ(charsetNameForStringEncoding(kUTF16), "utf-16");
  EXPECT_FALSE(charsetNameForStringEncoding(0xDEAD));
  EXPECT_EQ(stringEncodingForCharsetName("Windows-1252"), kCP1252);
  EXPECT_EQ(stringEncodingForCharsetName("latin1"), kLatin1);
  EXPECT_EQ(stringEncodingForCharsetName("UTF-16"), kUTF16);
  EXPECT_FALSE(stringEncodingForCharsetName("nonsense"));
  unsigned encoding = 99;
  HTTPRequest::parseMimeType(nullptr, &encoding, "text/plain; charset=windows-1251");
  EXPECT_EQ(encoding, kWindowsCP1251StringEncoding);
}

std::string body(const Ref<HTTPRequest>& request) {
  if (auto path = request->postBodyFilePath()) return testing::readFile(*path);
  return request->postBody() ? std::string(request->postBody()->view()) : "";
}

TEST(StringEncodings, FormsEscapeAndWriteInTheirEncoding) {
  struct Case {
    unsigned encoding;
    const char* charset;
    std::string escaped;
  };
  for (const Case& c : {Case{kUTF8, "utf-8", "caf%C3%A9%20%E2%82%AC"}, Case{kLatin1, "iso-8859-1", "caf%E9%20%3F"},
                        Case{kCP1252, "windows-1252", "caf%E9%20%80"},
                        Case{kUTF16, "utf-16", "%00c%00a%00f%00%E9%00%20%20%AC"}}) {
    SCOPED_TRACE(c.charset);
    auto form = HTTPFormDataRequest::requestWithURL(URL::make("http://127.0.0.1:9/form"));
    form->setStringEncoding(c.encoding);
    EXPECT_EQ(form->encodeURL("café €"), c.escaped);
    form->setPostValue(box("café €"), "k");
    form->buildPostBody();
    // The key is escaped in the encoding too ("%00k" in UTF-16).
    std::string expected = form->encodeURL("k") + "=" + c.escaped;
    EXPECT_EQ(body(form), encodeString(expected, c.encoding));
    EXPECT_EQ(form->requestHeaders()->stringForKey("Content-Type").value_or(""),
              std::string("application/x-www-form-urlencoded; charset=") + c.charset);
  }
}

TEST(StringEncodings, AMultipartBodyInUTF16ReadsBackWhole) {
  auto form = HTTPFormDataRequest::requestWithURL(URL::make("http://127.0.0.1:9/form"));
  form->setPostFormat(kHTTPFormPostFormatMultipart);
  form->setStringEncoding(kUTF16);
  form->setPostValue(box("naïve €"), "name");
  form->setPostValue(box("second"), "other");
  form->buildPostBody();
  auto text = decodeString(body(form), kUTF16);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nnaïve €"
            "\r\n--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\nsecond"
            "\r\n--0xKhTmLbOuNdArY--\r\n");
  // One text, with no byte-order marks between the pieces.
  EXPECT_EQ(body(form).find("\xFE\xFF"), std::string::npos);
  EXPECT_EQ(body(form).find("\xFF\xFE"), std::string::npos);
}

}  // namespace
}  // namespace zv
