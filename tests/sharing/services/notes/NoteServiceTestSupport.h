#pragma once
// A fixture for the note-service tests: the sharing fixture on the real clock, a test authority,
// the Thrift note-store stand-in on loopback under the note store's host, and a session logged in
// with a token the stand-in expects (credentials stored as a login would store them).

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/services/notes/NoteServiceSession.h"
#include "support/net/TestCertificates.h"
#include "support/notes/NoteServiceStandIn.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {

inline constexpr const char* kNotesHost = "notes.example.com";
inline constexpr const char* kNoteStoreHost = "store.notes.example.com";
inline constexpr const char* kNoteStoreUrl = "https://store.notes.example.com/shard/s7/notestore";
inline constexpr const char* kNotesToken = "S=s7:U=2a:E=1:C=tok&en+with/odd=chars";

class NoteServiceTest : public SharingTest {
 protected:
  // The real clock unless a scenario drives the screens' transitions itself.
  explicit NoteServiceTest(bool manualClock = false) : SharingTest(manualClock) {}

  void SetUp() override {
    SharingTest::SetUp();
    standIn = std::make_unique<NoteServiceStandIn>(authority.issueForHosts({kNoteStoreHost}), kNotesToken);
    hostMap[kNoteStoreHost] = static_cast<std::uint16_t>(standIn->port());
    applyHostMap();
    ApplicationEnvironment::shared().setExtraTrustAnchor(authority.certificatePEM());
    session = std::make_shared<NoteServiceSession>(kNotesHost, "consumer-key", "consumer-secret");
    session->credentialStore()->addCredentials(
        std::make_shared<NCCredentials>(kNotesHost, "42", kNoteStoreUrl, "https://notes.example.com/shard/s7/", kNotesToken));
    ASSERT_TRUE(session->isAuthenticated());
  }

  void TearDown() override {
    standIn.reset();
    session.reset();
    SharingTest::TearDown();
  }

  void applyHostMap() { ApplicationEnvironment::shared().setTestHostMap(hostMap); }

  TestCertificateAuthority authority;
  std::map<std::string, std::uint16_t> hostMap;
  std::unique_ptr<NoteServiceStandIn> standIn;
  Ref<NoteServiceSession> session;
};

}  // namespace zv::testing
