#pragma once
// A loopback stand-in of the note service's note store: libthrift's TLS server socket with its
// HTTP server transport and the binary protocol, built from the same interface file as the client,
// on 127.0.0.1 with a certificate of the test authority (reach it through the test host map).
//
// It keeps created notes in memory and answers getDefaultNotebook, createNote, listNotebooks,
// updateNotebook, untagAll and getNoteContent. It checks what it receives: every call must carry
// the expected token (a wrong one is counted and refused with code 9), and a created note's
// resources with data must carry the MD5 digest of their bodies and their true sizes (refused with code 2
// otherwise, and nothing is stored). Tests can make a method throw a declared exception, make
// every reply drop the connection, be garbage, be cut short, be bytes of their choosing, or be held
// until the stand-in stops.
//
// Threads: the server runs on its own threads; every member is safe from any thread.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "notes_thrift/NoteService_types.h"
#include "support/net/TestCertificates.h"

namespace apache::thrift::server {
class TServer;
}

namespace zv::testing {

class NoteServiceStandIn {
 public:
  enum class Reply { Normal, DropConnection, Garbage, Truncated, Held, Raw };

  NoteServiceStandIn(const TestKeyPair& serverKeyPair, std::string expectedToken);
  ~NoteServiceStandIn();

  int port() const { return port_; }
  void setReply(Reply reply);
  // Every reply is these bytes (the Raw mode), whatever the call.
  void setRawReply(std::string bytes);
  // The next call of `method` throws a UserException with `errorCode` (a SystemException when
  // `system`), once.
  void failNextCall(const std::string& method, int errorCode, bool system = false,
                    const std::string& parameter = "");

  std::vector<notes::Note> createdNotes() const;
  // Method names in the order the calls arrived.
  std::vector<std::string> calls() const;
  int wrongTokenCount() const;
  int rejectedNoteCount() const;

  static constexpr const char* kDefaultNotebookGuid = "notebook-default-0001";

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<apache::thrift::server::TServer> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace zv::testing
