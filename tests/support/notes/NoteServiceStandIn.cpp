#include "support/notes/NoteServiceStandIn.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/server/TThreadedServer.h>
#include <thrift/transport/THttpServer.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSSLServerSocket.h>
#include <thrift/transport/TSSLSocket.h>

#include <stdexcept>

#include "notes_thrift/NoteStore.h"
#include "platform/crypto/Digest.h"

namespace zv::testing {

using apache::thrift::TProcessor;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TBinaryProtocolFactory;
using apache::thrift::protocol::TProtocol;
using apache::thrift::transport::THttpServerTransportFactory;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TSSLServerSocket;
using apache::thrift::transport::TSSLSocketFactory;
using apache::thrift::transport::TTransportException;

struct NoteServiceStandIn::State {
  struct Failure {
    int errorCode;
    bool system;
    std::string parameter;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::string expectedToken;
  Reply reply = Reply::Normal;
  std::string rawReply;
  std::map<std::string, Failure> failures;
  std::vector<notes::Note> notes;
  std::vector<std::string> calls;
  int wrongTokens = 0;
  int rejectedNotes = 0;
  bool stopping = false;
};

namespace {

notes::UserException userException(int code, const std::string& parameter) {
  notes::UserException exception;
  exception.errorCode = code;
  if (!parameter.empty()) exception.__set_parameter(parameter);
  return exception;
}

class Handler : public notes::NoteStoreNull {
 public:
  explicit Handler(std::shared_ptr<NoteServiceStandIn::State> state) : state_(std::move(state)) {}

  void getDefaultNotebook(notes::Notebook& result, const std::string& token) override {
    check("getDefaultNotebook", token);
    result.__set_guid(NoteServiceStandIn::kDefaultNotebookGuid);
    result.__set_name("Notes");
    result.__set_defaultNotebook(true);
  }

  void listNotebooks(std::vector<notes::Notebook>& result, const std::string& token) override {
    check("listNotebooks", token);
    notes::Notebook notebook;
    getDefaultNotebookUnchecked(notebook);
    result = {notebook};
  }

  int32_t updateNotebook(const std::string& token, const notes::Notebook& notebook) override {
    check("updateNotebook", token);
    return notebook.__isset.updateSequenceNum ? notebook.updateSequenceNum + 1 : 1;
  }

  void untagAll(const std::string& token, const std::string& guid) override {
    check("untagAll", token);
    if (guid.empty()) throw userException(1, "guid");
  }

  void getNoteContent(std::string& result, const std::string& token, const std::string& guid) override {
    check("getNoteContent", token);
    std::lock_guard lock(state_->mutex);
    for (const auto& note : state_->notes) {
      if (note.guid == guid) {
        result = note.content;
        return;
      }
    }
    notes::NotFoundException missing;
    missing.__set_identifier("Note.guid");
    throw missing;
  }

  void createNote(notes::Note& result, const std::string& token, const notes::Note& note) override {
    check("createNote", token);
    for (const auto& resource : note.resources) {
      if (!resource.__isset.data) continue;
      const auto& data = resource.data;
      bool sound = data.__isset.body && data.__isset.bodyHash && data.__isset.size &&
                   data.size == static_cast<int32_t>(data.body.size()) &&
                   data.bodyHash == std::string(reinterpret_cast<const char*>(crypto::md5(crypto::bytesOf(data.body)).data()), 16);
      if (!sound) {
        std::lock_guard lock(state_->mutex);
        ++state_->rejectedNotes;
        throw userException(2, "Resource.data.bodyHash");
      }
    }
    std::lock_guard lock(state_->mutex);
    result = note;
    result.__set_guid("note-" + std::to_string(state_->notes.size() + 1));
    state_->notes.push_back(result);
  }

 private:
  static void getDefaultNotebookUnchecked(notes::Notebook& result) {
    result.__set_guid(NoteServiceStandIn::kDefaultNotebookGuid);
    result.__set_name("Notes");
  }

  void check(const std::string& method, const std::string& token) {
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(method);
    if (token != state_->expectedToken) {
      ++state_->wrongTokens;
      throw userException(9, "authenticationToken");
    }
    auto failure = state_->failures.find(method);
    if (failure == state_->failures.end()) return;
    auto planned = failure->second;
    state_->failures.erase(failure);
    if (planned.system) {
      notes::SystemException exception;
      exception.errorCode = planned.errorCode;
      if (!planned.parameter.empty()) exception.__set_parameter(planned.parameter);
      throw exception;
    }
    throw userException(planned.errorCode, planned.parameter);
  }

  std::shared_ptr<NoteServiceStandIn::State> state_;
};

// Answers through the real processor, then spoils the reply as the test asked.
class ControlledProcessor : public TProcessor {
 public:
  ControlledProcessor(std::shared_ptr<TProcessor> inner, std::shared_ptr<NoteServiceStandIn::State> state)
      : inner_(std::move(inner)), state_(std::move(state)) {}

  bool process(std::shared_ptr<TProtocol> in, std::shared_ptr<TProtocol> out, void* context) override {
    NoteServiceStandIn::Reply reply;
    std::string raw;
    {
      std::lock_guard lock(state_->mutex);
      reply = state_->reply;
      raw = state_->rawReply;
    }
    if (reply == NoteServiceStandIn::Reply::Normal) return inner_->process(in, out, context);
    auto buffer = std::make_shared<TMemoryBuffer>();
    auto captured = std::make_shared<TBinaryProtocol>(buffer);
    inner_->process(in, captured, context);
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    buffer->getBuffer(&bytes, &length);
    auto transport = out->getTransport();
    switch (reply) {
      case NoteServiceStandIn::Reply::Garbage: {
        static const std::string garbage = "\x7f\x01this is not a reply of the binary protocol";
        transport->write(reinterpret_cast<const uint8_t*>(garbage.data()), static_cast<uint32_t>(garbage.size()));
        transport->flush();
        return true;
      }
      case NoteServiceStandIn::Reply::Raw:
        transport->write(reinterpret_cast<const uint8_t*>(raw.data()), static_cast<uint32_t>(raw.size()));
        transport->flush();
        return true;
      case NoteServiceStandIn::Reply::Truncated:
        transport->write(bytes, length / 2);
        transport->flush();
        return true;
      case NoteServiceStandIn::Reply::Held: {
        std::unique_lock lock(state_->mutex);
        state_->changed.wait(lock, [&] { return state_->stopping; });
        throw TTransportException(TTransportException::INTERRUPTED, "stand-in stopping");
      }
      default:
        throw TTransportException(TTransportException::END_OF_FILE, "connection dropped on purpose");
    }
  }

 private:
  std::shared_ptr<TProcessor> inner_;
  std::shared_ptr<NoteServiceStandIn::State> state_;
};

// The listening socket, already bound (so its port is known before the server starts).
class ListeningTransport : public apache::thrift::transport::TServerTransport {
 public:
  explicit ListeningTransport(std::shared_ptr<TSSLServerSocket> socket) : socket_(std::move(socket)) {}
  bool isOpen() const override { return socket_->isOpen(); }
  void listen() override {}
  void interrupt() override { socket_->interrupt(); }
  void interruptChildren() override { socket_->interruptChildren(); }
  THRIFT_SOCKET getSocketFD() override { return socket_->getSocketFD(); }
  void close() override { socket_->close(); }

 protected:
  std::shared_ptr<apache::thrift::transport::TTransport> acceptImpl() override { return socket_->accept(); }

 private:
  std::shared_ptr<TSSLServerSocket> socket_;
};

}  // namespace

NoteServiceStandIn::NoteServiceStandIn(const TestKeyPair& serverKeyPair, std::string expectedToken)
    : state_(std::make_shared<State>()) {
  state_->expectedToken = std::move(expectedToken);
  // Clients that close without a TLS goodbye are normal here; keep the library quiet about them.
  apache::thrift::GlobalOutput.setOutputFunction([](const char*) {});
  auto factory = std::make_shared<TSSLSocketFactory>();
  factory->server(true);
  factory->authenticate(false);
  factory->loadCertificateFromBuffer(serverKeyPair.certificatePEM.c_str());
  factory->loadPrivateKeyFromBuffer(serverKeyPair.privateKeyPEM.c_str());
  auto socket = std::make_shared<TSSLServerSocket>("127.0.0.1", 0, factory);
  socket->listen();
  port_ = socket->getPort();
  if (port_ <= 0) throw std::runtime_error("the note-store stand-in got no port");
  auto processor = std::make_shared<ControlledProcessor>(
      std::make_shared<notes::NoteStoreProcessor>(std::make_shared<Handler>(state_)), state_);
  server_ = std::make_shared<apache::thrift::server::TThreadedServer>(
      processor, std::make_shared<ListeningTransport>(socket), std::make_shared<THttpServerTransportFactory>(), std::make_shared<TBinaryProtocolFactory>());
  thread_ = std::thread([server = server_] { server->serve(); });
}

NoteServiceStandIn::~NoteServiceStandIn() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  server_->stop();
  thread_.join();
}

void NoteServiceStandIn::setReply(Reply reply) {
  std::lock_guard lock(state_->mutex);
  state_->reply = reply;
}

void NoteServiceStandIn::setRawReply(std::string bytes) {
  std::lock_guard lock(state_->mutex);
  state_->reply = Reply::Raw;
  state_->rawReply = std::move(bytes);
}

void NoteServiceStandIn::failNextCall(const std::string& method, int errorCode, bool system,
                                      const std::string& parameter) {
  std::lock_guard lock(state_->mutex);
  state_->failures[method] = {errorCode, system, parameter};
}

std::vector<notes::Note> NoteServiceStandIn::createdNotes() const {
  std::lock_guard lock(state_->mutex);
  return state_->notes;
}

std::vector<std::string> NoteServiceStandIn::calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->calls;
}

int NoteServiceStandIn::wrongTokenCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->wrongTokens;
}

int NoteServiceStandIn::rejectedNoteCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->rejectedNotes;
}

}  // namespace zv::testing
