// The asynchronous call wrappers against the Thrift note-store stand-in over TLS: order, threads,
// and every kind of failure turned into an error on the main thread.

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Exception.h"
#include "platform/runloop/RunLoop.h"
#include <thrift/transport/TTransportException.h>

#include "sharing/services/notes/NoteServiceHTTPTransport.h"
#include "sharing/services/notes/NoteServiceNoteStore.h"
#include "sharing/services/flickr/AllocationCounter.h"
#include "sharing/services/notes/NoteServiceTestSupport.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"
#include "support/net/RedirectingService.h"

namespace zv::testing {
namespace {

class NoteServiceCallsTest : public NoteServiceTest {
 protected:
  void SetUp() override {
    NoteServiceTest::SetUp();
    store = std::make_shared<NoteServiceNoteStore>(session);
  }

  // Runs one call and waits for its failure; fails the test on success.
  Ref<Error> failureOf(const std::function<void(NCFailure)>& call) {
    Ref<Error> error;
    bool done = false;
    call([&](const Ref<Error>& e) {
      EXPECT_TRUE(RunLoop::isMainThread());
      error = e;
      done = true;
    });
    EXPECT_TRUE(pumpRunLoopUntil([&] { return done; }, 30.0));
    return error;
  }

  Ref<Error> failureOfDefaultNotebook() {
    return failureOf([&](NCFailure failure) {
      store->getDefaultNotebookWithSuccess([](const notes::Notebook&) { ADD_FAILURE() << "unexpected success"; },
                                           std::move(failure));
    });
  }

  Ref<NoteServiceNoteStore> store;
};

TEST_F(NoteServiceCallsTest, CallsOfEveryResultKindCompleteInSubmissionOrderOnTheMainThread) {
  std::vector<std::string> order;
  auto onMain = [&](std::string name) {
    EXPECT_TRUE(RunLoop::isMainThread()) << name;
    order.push_back(std::move(name));
  };
  auto unexpected = [](const Ref<Error>& error) { ADD_FAILURE() << error->description(); };

  notes::Note note;
  note.__set_title("First <note> & \xF0\x9F\x93\x9D");
  note.__set_content("<en-note>hello</en-note>");
  std::string createdGuid;
  store->getDefaultNotebookWithSuccess([&](const notes::Notebook& notebook) {
    EXPECT_EQ(notebook.guid, NoteServiceStandIn::kDefaultNotebookGuid);
    onMain("getDefaultNotebook");
  }, unexpected);
  notes::Notebook changed;
  changed.__set_updateSequenceNum(41);
  store->updateNotebook(changed, [&](const std::int32_t& usn) {
    EXPECT_EQ(usn, 42);
    onMain("updateNotebook");
  }, unexpected);
  store->untagAllWithGuid("tag-1", [&] { onMain("untagAll"); }, unexpected);
  store->createNote(note, [&](const notes::Note& created) {
    createdGuid = created.guid;
    EXPECT_EQ(created.title, note.title);
    onMain("createNote");
  }, unexpected);
  store->getNoteContentWithGuid("note-1", [&](const std::string& content) {
    EXPECT_EQ(content, "<en-note>hello</en-note>");
    onMain("getNoteContent");
  }, unexpected);
  store->listNotebooksWithSuccess([&](const std::vector<notes::Notebook>& notebooks) {
    EXPECT_EQ(notebooks.size(), 1u);
    onMain("listNotebooks");
  }, unexpected);

  const std::vector<std::string> expected = {"getDefaultNotebook", "updateNotebook", "untagAll",
                                             "createNote", "getNoteContent", "listNotebooks"};
  ASSERT_TRUE(pumpRunLoopUntil([&] { return order.size() == expected.size(); }, 30.0));
  EXPECT_EQ(order, expected);
  EXPECT_EQ(standIn->calls(), expected);
  EXPECT_EQ(createdGuid, "note-1");
  EXPECT_EQ(standIn->wrongTokenCount(), 0);
}

TEST_F(NoteServiceCallsTest, DeclaredExceptionsGiveTheServiceCodeAndParameter) {
  standIn->failNextCall("getDefaultNotebook", 9, false, "authenticationToken");
  auto error = failureOfDefaultNotebook();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kNoteServiceErrorDomain);
  EXPECT_EQ(error->code(), 9);
  ASSERT_TRUE(error->userInfo());
  EXPECT_EQ(error->userInfo()->stringForKey("parameter"), "authenticationToken");

  standIn->failNextCall("getDefaultNotebook", 8, /*system=*/true);
  error = failureOfDefaultNotebook();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 8);
  EXPECT_FALSE(error->userInfo()->stringForKey("parameter"));
}

TEST_F(NoteServiceCallsTest, BrokenRepliesReachTheCallerAsTransportErrors) {
  for (auto reply : {NoteServiceStandIn::Reply::DropConnection, NoteServiceStandIn::Reply::Garbage,
                     NoteServiceStandIn::Reply::Truncated}) {
    standIn->setReply(reply);
    auto error = failureOfDefaultNotebook();
    ASSERT_TRUE(error) << static_cast<int>(reply);
    EXPECT_EQ(error->code(), kNoteServiceErrorTransport) << static_cast<int>(reply);
  }
  // The stand-in works again, and so does the next call.
  standIn->setReply(NoteServiceStandIn::Reply::Normal);
  bool answered = false;
  store->getDefaultNotebookWithSuccess([&](const notes::Notebook&) { answered = true; },
                                       [](const Ref<Error>& error) { ADD_FAILURE() << error->description(); });
  EXPECT_TRUE(pumpRunLoopUntil([&] { return answered; }, 30.0));
}

TEST_F(NoteServiceCallsTest, ARedirectedCallSendsTheTokenNowhereElseAndTakesNoReply) {
  RedirectingService moved({kNoteStoreHost});
  ASSERT_TRUE(moved.start());
  moved.setCaughtReply("application/x-thrift", "a reply from somebody else");
  const std::string call = std::string("getDefaultNotebook ") + kNotesToken;
  for (int status : {307, 308}) {
    for (auto target : {RedirectingService::Target::AnotherHost, RedirectingService::Target::PlainHTTP}) {
      SCOPED_TRACE(status);
      moved.redirectWith(status, target);
      NoteServiceHTTPTransport transport(std::string("https://") + kNoteStoreHost + "/edam/note/s7", 10.0);
      transport.write(reinterpret_cast<const uint8_t*>(call.data()), static_cast<uint32_t>(call.size()));
      EXPECT_THROW(transport.flush(), apache::thrift::transport::TTransportException);
      uint8_t reply[64];
      EXPECT_EQ(transport.read(reply, sizeof reply), 0u);
    }
  }
  ASSERT_EQ(moved.received().size(), 4u);
  EXPECT_EQ(moved.received()[0].body, call);
  EXPECT_TRUE(moved.caught().empty());
}

// A reply past the maximum message size is refused as it arrives, never held whole first.
TEST(NoteServiceHTTPTransportTest, AReplyPastTheMaximumMessageSizeEndsTheLoadAtTheBound) {
  FaultServer endless;
  constexpr std::size_t kServerLimit = std::size_t{64} << 20;
  std::atomic<std::size_t> sent{0};
  endless.route("/edam/note/s7", [&](const RecordedRequest&, FaultServer::Connection& connection) {
    connection.sendEndlessBody("HTTP/1.1 200 OK\r\nContent-Type: application/x-thrift\r\nConnection: close\r\n\r\n",
                               '\0', kServerLimit, sent);
  });
  ASSERT_TRUE(endless.start());
  NoteServiceHTTPTransport transport(endless.url("/edam/note/s7"), 30.0,
                                     std::make_shared<apache::thrift::TConfiguration>(1 << 20));
  const std::string call = "getDefaultNotebook";
  transport.write(reinterpret_cast<const uint8_t*>(call.data()), static_cast<uint32_t>(call.size()));
  try {
    transport.flush();
    ADD_FAILURE() << "a reply past the maximum message size was taken";
  } catch (const apache::thrift::transport::TTransportException& exception) {
    EXPECT_NE(std::string(exception.what()).find("MaxMessageSize"), std::string::npos) << exception.what();
  }
  EXPECT_EQ(transport.replyBytesLeft(), 0u);
  EXPECT_LT(sent.load(), kServerLimit / 2);
}

// Replies of the binary protocol whose lengths or counts claim far more than they hold.
std::string bigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}
std::string replyHeader(const std::string& method) {
  return bigEndian(0x80010002u) + bigEndian(static_cast<std::uint32_t>(method.size())) + method + bigEndian(0);
}

TEST_F(NoteServiceCallsTest, ARepliesClaimedLengthsAndCountsAreRefusedBeforeAnythingIsAllocated) {
  struct Case {
    const char* what;
    std::string reply;
    bool listNotebooks;
  };
  const Case cases[] = {
      // 14 bytes: a message name of 2 GiB.
      {"name", bigEndian(0x80010002u) + bigEndian(0x7fffffffu) + "getDef", false},
      // 34 bytes: a result list of 2^31-1 notebooks.
      {"list", replyHeader("listNotebooks") + std::string("\x0f\x00\x00\x0c", 4) + bigEndian(0x7fffffffu) +
                   std::string(1, '\0'), true},
      // An unknown string field of 2 GiB, skipped by the reader.
      {"unknown field", replyHeader("getDefaultNotebook") + std::string("\x0b\x00\x63", 3) + bigEndian(0x7fffffffu) +
                            "abc", false},
  };
  for (const auto& c : cases) {
    standIn->setRawReply(c.reply);
    // What the reader asks for is noted; anything above 64 MiB is refused rather than provided.
    startRefusingAllocationsAbove(64u << 20);
    Ref<Error> error;
    if (c.listNotebooks) {
      error = failureOf([&](NCFailure failure) {
        store->listNotebooksWithSuccess(
            [](const std::vector<notes::Notebook>&) { ADD_FAILURE() << "unexpected success"; }, std::move(failure));
      });
    } else {
      error = failureOfDefaultNotebook();
    }
    std::size_t largest = stopRefusingAllocations();
    EXPECT_LT(largest, 1u << 20) << c.what;
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(error->code(), kNoteServiceErrorTransport) << c.what;
    EXPECT_NE(error->description().find("limit"), std::string::npos) << c.what << ": " << error->description();
  }
}

TEST_F(NoteServiceCallsTest, AnUnreachableOrSilentServerIsATransportError) {
  // Nothing listens on the port.
  {
    HeldLoopbackPort refusing;
    hostMap[kNoteStoreHost] = static_cast<std::uint16_t>(refusing.port());
    applyHostMap();
    auto error = failureOfDefaultNotebook();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kNoteServiceErrorTransport);
    EXPECT_EQ(error->description().find("timed out"), std::string::npos) << error->description();
  }

  // A server that never answers: the call ends at the time-out, wherever the request was by then
  // (on a busy machine the stand-in may not have read it all).
  hostMap[kNoteStoreHost] = static_cast<std::uint16_t>(standIn->port());
  applyHostMap();
  standIn->setReply(NoteServiceStandIn::Reply::Held);
  session->setCallTimeout(1.0);
  auto error = failureOfDefaultNotebook();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kNoteServiceErrorTransport);
  EXPECT_NE(error->description().find("The request timed out."), std::string::npos) << error->description();
}

TEST_F(NoteServiceCallsTest, AnyExceptionOfTheWorkBecomesAnErrorAndNeverEscapes) {
  auto failureOfWork = [&](std::function<int()> work) {
    return failureOf([&](NCFailure failure) {
      store->invokeAsyncIdBlock<int>(std::move(work), [](const int&) { ADD_FAILURE() << "unexpected success"; },
                                     std::move(failure));
    });
  };
  auto error = failureOfWork([]() -> int { throw std::runtime_error("surprise"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kNoteServiceErrorUnknown);
  error = failureOfWork([]() -> int {
    throw Exception("SomethingOdd", "odd", Dictionary::make({{"detail", String::make("kept")}}));
  });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kNoteServiceErrorUnknown);
  EXPECT_EQ(error->userInfo()->stringForKey("detail"), "kept");
  error = failureOfWork([]() -> int { throw 7; });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kNoteServiceErrorUnknown);
  EXPECT_FALSE(NCAPI::errorFromException(nullptr));
}

TEST_F(NoteServiceCallsTest, MissingCallbacksAreSkippedWithoutDisturbingLaterCalls) {
  int failures = 0;
  int successes = 0;
  // No work: no callback at all.
  store->invokeAsyncInt32Block(nullptr, [&](const std::int32_t&) { ++successes; }, [&](const Ref<Error>&) { ++failures; });
  // No success callback: the result is dropped.
  store->getDefaultNotebookWithSuccess(nullptr, [&](const Ref<Error>&) { ++failures; });
  // No failure callback: the error is dropped.
  standIn->failNextCall("listNotebooks", 3);
  store->listNotebooksWithSuccess([&](const std::vector<notes::Notebook>&) { ++successes; }, nullptr);
  bool last = false;
  store->untagAllWithGuid("tag-2", [&] { last = true; }, [&](const Ref<Error>&) { ++failures; });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return last; }, 30.0));
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(successes, 0);
  EXPECT_EQ(standIn->calls(), (std::vector<std::string>{"getDefaultNotebook", "listNotebooks", "untagAll"}));
}

TEST_F(NoteServiceCallsTest, ALoggedOutSessionReachesNoService) {
  session->logout();
  auto error = failureOfDefaultNotebook();
  ASSERT_TRUE(error);
  // Logged out, the note store address is unknown too: nothing reaches the service.
  EXPECT_EQ(error->code(), kNoteServiceErrorTransport);
  EXPECT_TRUE(standIn->calls().empty());
}

}  // namespace
}  // namespace zv::testing
