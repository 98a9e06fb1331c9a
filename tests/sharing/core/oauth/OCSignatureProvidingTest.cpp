#include <gtest/gtest.h>

#include "sharing/core/oauth/OCSignatureProviding.h"

namespace zv {
namespace {

TEST(OCSignatureProvidingTest, HMACAndPlaintextProviders) {
  Ref<OCSignatureProviding> hmac = OCHMAC_SHA1SignatureProvider::make();
  Ref<OCSignatureProviding> plain = OCPlaintextSignatureProvider::make();
  EXPECT_EQ(hmac->name(), "HMAC-SHA1");
  EXPECT_EQ(plain->name(), "PLAINTEXT");
  // RFC 2202 test case 2, Base64 of effcdf6a...259a7c79.
  EXPECT_EQ(hmac->signClearText("what do ya want for nothing?", "Jefe"), "7/zfauXrL6LSdBbV8YTfnCWafHk=");
  EXPECT_EQ(hmac->signClearText("", "").size(), 28u);
  EXPECT_EQ(plain->signClearText("ignored", "cs&ts"), "cs&ts");
}

}  // namespace
}  // namespace zv
