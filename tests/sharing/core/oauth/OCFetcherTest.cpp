#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/runloop/RunLoop.h"
#include "sharing/core/oauth/OCAsynchronousDataFetcher.h"
#include "sharing/core/oauth/OCDataFetcher.h"
#include "support/net/ChildProcess.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"

namespace zv {
namespace {


std::string reply(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

class OCFetcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.route("/request_token", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
      c.send(reply(200, "oauth_token=rt&oauth_token_secret=rs&oauth_callback_confirmed=true"));
    });
    server_.route("/399", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
      c.send(reply(399, "fine"));
    });
    server_.route("/400", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
      c.send(reply(400, "Invalid signature"));
    });
    ASSERT_TRUE(server_.start());
  }

  Ref<OCMutableURLRequest> request(const std::string& url) {
    auto r = OCMutableURLRequest::make(URL::make(url), OCConsumer::make("key", "secret"), nullptr, std::nullopt,
                                       nullptr, "nonce", "1");
    r->setHTTPMethod("POST");
    return r;
  }

  struct Outcome {
    int finished = 0;
    int failed = 0;
    Ref<OCServiceTicket> ticket;
    Ref<Data> data;
    Ref<Error> error;
  };

  // Ends the loop run by fetch(). A report that comes before the loop runs (a transport failure
  // found at once) stops nothing: a stop asked for then would end the next test's first run.
  static void stopRunningLoop() {
    if (RunLoop::current()->currentMode()) RunLoop::current()->stop();
  }

  // Starts an asynchronous fetch and runs the loop until it reports (or 10 s pass).
  Outcome fetch(const Ref<OCMutableURLRequest>& r, ObjectPtr delegate = nullptr) {
    auto outcome = std::make_shared<Outcome>();
    auto fetcher = OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
        r, std::move(delegate),
        [outcome](const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
          ++outcome->finished;
          outcome->ticket = ticket;
          outcome->data = data;
          stopRunningLoop();
        },
        [outcome](const Ref<OCServiceTicket>& ticket, const Ref<Error>& error) {
          ++outcome->failed;
          outcome->ticket = ticket;
          outcome->error = error;
          stopRunningLoop();
        });
    fetcher->start();
    if (!outcome->finished && !outcome->failed) RunLoop::current()->runMode(kDefaultRunLoopMode, 10.0);
    return *outcome;
  }

  testing::FaultServer server_;
};

TEST_F(OCFetcherTest, SignsSendsAndReportsTheReply) {
  auto r = request(server_.url("/request_token"));
  auto delegate = std::make_shared<Object>();
  std::weak_ptr<Object> watched = delegate;
  Outcome outcome = fetch(r, std::move(delegate));
  ASSERT_EQ(outcome.finished, 1);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_TRUE(outcome.ticket->didSucceed());
  EXPECT_EQ(outcome.ticket->request(), r);
  EXPECT_FALSE(outcome.ticket->data());
  auto token = OCToken::initWithHTTPResponseBody(outcome.data->view());
  EXPECT_EQ(token->key(), "rt");
  EXPECT_EQ(token->secret(), "rs");
  EXPECT_TRUE(watched.expired());  // the delegate was released after the report

  auto recorded = server_.requests();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].method, "POST");
  EXPECT_TRUE(r->didPrepare());
  EXPECT_EQ(recorded[0].header("Authorization"), r->valueForHTTPHeaderField("Authorization"));
  EXPECT_TRUE(recorded[0].header("Authorization")->starts_with("OAuth realm=\"\", oauth_consumer_key=\"key\""));
}

TEST_F(OCFetcherTest, StatusBelow400SucceedsAndFrom400FailsThroughFinish) {
  Outcome ok = fetch(request(server_.url("/399")));
  ASSERT_EQ(ok.finished, 1);
  EXPECT_TRUE(ok.ticket->didSucceed());
  Outcome bad = fetch(request(server_.url("/400")));
  ASSERT_EQ(bad.finished, 1);
  EXPECT_EQ(bad.failed, 0);
  EXPECT_FALSE(bad.ticket->didSucceed());
  EXPECT_EQ(bad.data->view(), "Invalid signature");
}

TEST_F(OCFetcherTest, TransportFailureAndMissingConnection) {
  testing::HeldLoopbackPort refusing;
  Outcome refused = fetch(request(refusing.url("/x")));
  ASSERT_EQ(refused.failed, 1);
  EXPECT_EQ(refused.finished, 0);
  EXPECT_TRUE(refused.error);
  EXPECT_FALSE(refused.ticket->didSucceed());

  auto noURL = request("http://h/");
  noURL->setURL(nullptr);
  Outcome none = fetch(noURL);
  ASSERT_EQ(none.failed, 1);
  EXPECT_FALSE(none.error);
}

TEST_F(OCFetcherTest, CancelReportsNothing) {
  int reports = 0;
  auto fetcher = OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request(server_.url("/request_token")), nullptr,
      [&](const Ref<OCServiceTicket>&, const Ref<Data>&) { ++reports; },
      [&](const Ref<OCServiceTicket>&, const Ref<Error>&) { ++reports; });
  fetcher->start();
  fetcher->cancel();
  RunLoop::current()->runMode(kDefaultRunLoopMode, 0.5);
  EXPECT_EQ(reports, 0);
}

TEST_F(OCFetcherTest, SynchronousFetch) {
  OCDataFetcher fetcher;
  int finished = 0, failed = 0;
  fetcher.fetchDataWithRequest(
      request(server_.url("/400")), nullptr,
      [&](const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
        ++finished;
        EXPECT_FALSE(ticket->didSucceed());
        EXPECT_EQ(data->view(), "Invalid signature");
      },
      [&](const Ref<OCServiceTicket>&, const Ref<Error>&) { ++failed; });
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(failed, 0);

  testing::HeldLoopbackPort refusing;
  fetcher.fetchDataWithRequest(
      request(refusing.url("/x")), nullptr,
      [&](const Ref<OCServiceTicket>&, const Ref<Data>&) { ++finished; },
      [&](const Ref<OCServiceTicket>& ticket, const Ref<Error>& error) {
        ++failed;
        EXPECT_FALSE(ticket->didSucceed());
        EXPECT_TRUE(error);
      });
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(failed, 1);
}

}  // namespace
}  // namespace zv
