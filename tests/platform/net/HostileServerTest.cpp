// Read streams against servers (scripted on 127.0.0.1) that misbehave on purpose: floods of
// interim answers, connections cut without a close_notify, refused client certificates, and
// certificates that name their host the old way only.

#include <gtest/gtest.h>

#include "StreamTestSupport.h"
#include "platform/net/NetErrors.h"
#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::net {
namespace {

using testing::makeGet;
using testing::runStream;
using zv::testing::FaultServer;
using zv::testing::TestCertificateAuthority;

class HostileServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    authority = new TestCertificateAuthority("Hostile Test CA");
    addTrustedCertificate(Certificate::fromPEM(authority->certificatePEM()));
  }
  static void TearDownTestSuite() {
    removeAllAddedTrustedCertificates();
    delete authority;
    authority = nullptr;
  }
  void TearDown() override { EXPECT_EQ(openHTTPConnectionCount(), 0u); }

  static zv::testing::TestKeyPair localhostCertificate() {
    return authority->issue("localhost", {"DNS:localhost"});
  }

  static TestCertificateAuthority* authority;
};

TestCertificateAuthority* HostileServerTest::authority = nullptr;

TEST_F(HostileServerTest, AFloodOfInterimAnswersFailsTheStream) {
  FaultServer server;
  ASSERT_TRUE(server.start());
  auto outcome = runStream(makeGet(server.url("/interim-flood")), 60);
  ASSERT_TRUE(outcome.error) << "body: " << outcome.body;
  EXPECT_EQ(outcome.error->domain(), kHTTPStreamErrorDomain);
  EXPECT_EQ(outcome.error->code(), kHTTPStreamHeaderTooLarge);
  EXPECT_EQ(outcome.errorEvents, 1);
  server.stop();
}

TEST_F(HostileServerTest, AProtocolSwitchIsAcceptedOnlyWhenAskedFor) {
  FaultServer server;
  ASSERT_TRUE(server.start());
  auto unasked = runStream(makeGet(server.url("/switch-protocols")));
  ASSERT_TRUE(unasked.error);
  EXPECT_EQ(unasked.error->domain(), kHTTPStreamErrorDomain);
  EXPECT_EQ(unasked.error->code(), kHTTPStreamParseFailure);

  auto message = HTTPMessage::makeRequest("GET", URL::make(server.url("/switch-protocols")));
  message->setHeaderField("Upgrade", "x");
  message->setHeaderField("Connection", "Upgrade");
  auto asked = runStream(HTTPReadStream::make(message));
  EXPECT_FALSE(asked.error);
  ASSERT_TRUE(asked.head);
  EXPECT_EQ(asked.head->statusCode(), 101);
}

TEST_F(HostileServerTest, ABodyEndingWithTheConnectionNeedsACloseNotifyOverTLS) {
  FaultServer server(localhostCertificate());
  ASSERT_TRUE(server.start());
  auto whole = runStream(makeGet(server.url("/close-delimited")));
  EXPECT_FALSE(whole.error) << whole.error->description();
  EXPECT_EQ(whole.body, "body until the end");

  auto cut = runStream(makeGet(server.url("/close-delimited-cut")));
  ASSERT_TRUE(cut.error) << "a body that may be cut short was reported whole";
  EXPECT_EQ(cut.error->domain(), kURLErrorDomain);
  EXPECT_EQ(cut.error->code(), kURLErrorNetworkConnectionLost);
  EXPECT_TRUE(isConnectionLostError(*cut.error));

  // Framed bodies decide by their framing, close_notify or not.
  auto framed = runStream(makeGet(server.url("/close-after-answer")));
  EXPECT_FALSE(framed.error);
  EXPECT_EQ(framed.body, "then closed");
  auto framedCut = runStream(makeGet(server.url("/drop-mid-body")));
  ASSERT_TRUE(framedCut.error);
  EXPECT_EQ(framedCut.error->code(), kURLErrorNetworkConnectionLost);
}

TEST_F(HostileServerTest, TinyRecordsArrivingAtOnceAreAllRead) {
  // A head and body in 4-byte records, all taken from the socket by one read: a readiness event
  // decrypts only some of them (none with body bytes), and the socket no longer signals the rest,
  // which wait inside the TLS session.
  FaultServer server(localhostCertificate());
  std::string body;
  for (int i = 0; body.size() < 1200; ++i) body += std::to_string(i) + ",";
  std::string head = "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(600, 'p') +
                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  server.route("/tiny-records", [&](const zv::testing::RecordedRequest&, FaultServer::Connection& connection) {
    connection.sendInPieces(head + body, 4);
  });
  ASSERT_TRUE(server.start());
  auto outcome = runStream(makeGet(server.url("/tiny-records")));
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.body, body);
  server.stop();
}

TEST_F(HostileServerTest, PlainConnectionsStillEndCloseDelimitedBodiesWithTheConnection) {
  FaultServer server;
  ASSERT_TRUE(server.start());
  auto outcome = runStream(makeGet(server.url("/close-delimited-cut")));
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.body, "body until the end");
}

TEST_F(HostileServerTest, ARefusedClientCertificateHasItsOwnCode) {
  TestCertificateAuthority clientAuthority("Client Test CA");
  TestCertificateAuthority strangers("Stranger CA");
  const auto accepted = clientAuthority.issue("known client", {});
  const auto unknown = strangers.issue("unknown client", {});
  for (bool tls12 : {false, true}) {
    SCOPED_TRACE(tls12 ? "TLS 1.2" : "TLS 1.3");
    FaultServer server(localhostCertificate());
    server.requireClientCertificate(clientAuthority.certificatePEM());
    if (tls12) server.limitToTLS12();
    ASSERT_TRUE(server.start());

    auto withIdentity = [&](const zv::testing::TestKeyPair* pair) {
      auto stream = makeGet(server.url("/ok"));
      TLSSettings settings;
      if (pair) settings.identity = ClientIdentity::fromPEM(pair->certificatePEM, pair->privateKeyPEM);
      stream->setTLSSettings(settings);
      return runStream(stream);
    };
    EXPECT_EQ(withIdentity(&accepted).body, "hello");
    for (const auto* pair : {&unknown, static_cast<const zv::testing::TestKeyPair*>(nullptr)}) {
      SCOPED_TRACE(pair ? "a certificate from another authority" : "no certificate");
      auto refused = withIdentity(pair);
      ASSERT_TRUE(refused.error);
      EXPECT_EQ(refused.error->domain(), kOSStatusErrorDomain);
      EXPECT_EQ(refused.error->code(), kSSLClientCertificateRefused) << refused.error->description();
      EXPECT_TRUE(isTLSError(*refused.error));
    }
  }
}

TEST_F(HostileServerTest, AHostNamedOnlyInTheCommonNameIsNotAccepted) {
  FaultServer commonNameOnly(authority->issue("localhost", {}));
  ASSERT_TRUE(commonNameOnly.start());
  auto refused = runStream(makeGet(commonNameOnly.url("/ok")));
  ASSERT_TRUE(refused.error) << "a certificate without subject alternative names was accepted";
  EXPECT_EQ(refused.error->domain(), kOSStatusErrorDomain);
  EXPECT_EQ(refused.error->code(), kSSLCertChainInvalid);

  FaultServer withNames(localhostCertificate());
  ASSERT_TRUE(withNames.start());
  EXPECT_EQ(runStream(makeGet(withNames.url("/ok"))).body, "hello");
}

}  // namespace
}  // namespace zv::net
