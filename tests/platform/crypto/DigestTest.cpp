#include "platform/crypto/Digest.h"

#include <gtest/gtest.h>

namespace zv::crypto {
namespace {

TEST(DigestTest, KnownAnswers) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(sha1(bytesOf("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
  // RFC 2202 test case 2.
  EXPECT_EQ(hex(hmacSHA1(bytesOf("Jefe"), bytesOf("what do ya want for nothing?"))),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(hex(hmacSHA1({}, bytesOf(""))), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

TEST(CipherTest, AESRoundTripsAndRejectsBadInput) {
  Bytes key(16, 7), iv(16, 0);
  auto sealed = aes128CBCEncrypt(key, iv, bytesOf("a secret identifier"));
  ASSERT_TRUE(sealed);
  EXPECT_EQ(sealed->size(), 32u);  // 19 bytes padded to two blocks
  auto opened = aes128CBCDecrypt(key, iv, *sealed);
  ASSERT_TRUE(opened);
  EXPECT_EQ(std::string(opened->begin(), opened->end()), "a secret identifier");
  Bytes otherKey(16, 8);
  auto wrong = aes128CBCDecrypt(otherKey, iv, *sealed);
  // A wrong key almost always fails the padding check; when it does not, the text differs.
  EXPECT_TRUE(!wrong || std::string(wrong->begin(), wrong->end()) != "a secret identifier");
  EXPECT_FALSE(aes128CBCEncrypt(Bytes(15), iv, bytesOf("x")));
  EXPECT_FALSE(aes128CBCDecrypt(key, iv, Bytes(5)));
}

TEST(RandomTest, UUIDsAreCanonicalAndDistinct) {
  std::string a = makeUUIDString(), b = makeUUIDString();
  EXPECT_EQ(a.size(), 36u);
  EXPECT_EQ(a[8], '-');
  EXPECT_EQ(a[23], '-');
  EXPECT_NE(a, b);
  for (char c : a) EXPECT_TRUE(c == '-' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
  EXPECT_EQ(randomBytes(33).size(), 33u);
}

}  // namespace
}  // namespace zv::crypto
