#include "platform/net/HTTPReadStream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Log.h"
#include "platform/net/ConnectionPool.h"
#include "platform/net/HTTPStreamConnection.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/net/NetErrors.h"
#include "platform/net/ResponseParser.h"
#include "platform/runloop/FileDescriptorSource.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Timer.h"

namespace zv::net {

namespace {

// Stop reading from the socket while this much body waits for the client (TCP then pushes back).
constexpr std::size_t kBodyHighWater = 512 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
// Reads per readiness event, so a server that keeps the socket full cannot keep the run loop (and
// its timers) from going round.
constexpr int kMaxReadsPerEvent = 16;
constexpr int kMaxAutoRedirects = 5;

std::atomic<StreamUseObserver> gUseObserver{nullptr};

std::string hexSize(std::size_t size) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%zx", size);
  return buffer;
}

bool isHTTPScheme(const URL& url) {
  auto scheme = url.lowercaseScheme();
  return scheme && (*scheme == "http" || *scheme == "https") && url.host() && !url.host()->empty();
}

std::string identityFingerprint(const TLSSettings& tls) {
  if (!tls.identity) return {};
  std::string text = tls.identity->certificate()->pem();
  for (const auto& link : tls.chain) text += link->pem();
  return std::to_string(std::hash<std::string>()(text));
}

}  // namespace

struct HTTPReadStream::State : std::enable_shared_from_this<State> {
  enum class Phase { Idle, Connecting, Sending, Receiving, Done, Failed, Closed };

  std::weak_ptr<HTTPReadStream> self;  // set once, before the stream is handed out
  Ref<HTTPReadStream> selfRef;

  Ref<HTTPMessage> request;
  Ref<InputStream> bodyStream;
  ProxyServer proxy;
  TLSSettings tls;
  bool persistent = false;
  std::optional<std::int64_t> tag;
  bool autoRedirect = false;
  RedirectApproval redirectApproval;
  double connectTimeout = 0;

  unsigned clientMask = 0;
  Client client;

  Ref<RunLoop> loop;
  std::vector<RunLoopMode> modes;
  // The loop the stream belongs to: the one it is scheduled on, else the one it was scheduled on
  // last, else that of the thread that opened it. Other threads read it to close the stream
  // there, so it is kept under homeLock.
  mutable ObjectMutex homeLock;
  Ref<RunLoop> home;
  std::vector<RunLoopMode> homeModes;
  Ref<FileDescriptorSource> fdSource;
  int fdSourceFd = -1;
  std::uint64_t fdSourceGeneration = 0;
  std::uint32_t interest = 0;
  bool fdInLoop = false;
  Ref<RunLoopSource> eventSource;
  Ref<Timer> retryTimer;
  Ref<Timer> connectTimer;

  // Asked for by the first close, from whatever thread: an offer made from then on is withdrawn at
  // once (see closeOnHome and finishResponse).
  std::atomic<bool> closeAsked{false};
  // Taken by the one close that runs: any other finds it taken and leaves the stream alone.
  std::atomic<bool> closeClaimed{false};

  Phase phase = Phase::Idle;
  StreamStatus status = StreamStatus::NotOpen;
  Ref<Error> error;
  std::shared_ptr<HTTPStreamConnection> connection;
  bool offered = false;  // the connection went to the pool for the next stream (see finishResponse)
  bool reused = false;
  bool allowsReuse = false;

  // Sending.
  std::string head;
  std::size_t headSent = 0;
  Ref<Data> memoryBody;
  std::size_t memoryBodySent = 0;
  bool chunked = false;
  bool bodyStreamEnded = false;
  std::string pieceOut;
  std::size_t pieceOutSent = 0;
  std::size_t piecePayload = 0;
  std::uint64_t bodyBytesWritten = 0;

  // Receiving.
  std::unique_ptr<ResponseParser> parser;
  Ref<HTTPMessage> lastResponse;
  std::string bodyBuffer;
  std::size_t bodyOffset = 0;
  std::vector<std::uint8_t> ioBuffer = std::vector<std::uint8_t>(kReadChunk);  // reused for every read
  Ref<URL> currentURL;
  int redirects = 0;

  unsigned pendingEvents = 0;
  bool endDelivered = false;
  bool errorDelivered = false;

  std::size_t buffered() const { return bodyBuffer.size() - bodyOffset; }
  bool active() const { return phase == Phase::Connecting || phase == Phase::Sending || phase == Phase::Receiving; }
  bool scheduled() const { return loop && !modes.empty(); }

  void noteUse(const char* use) const {
    if (auto observer = gUseObserver.load(std::memory_order_relaxed)) observer(*currentURL, use);
  }

  // --- Events ---
  void raise(unsigned events) {
    pendingEvents |= events;
    if (eventSource) eventSource->signal();
  }

  void deliver() {
    if (phase == Phase::Closed) return;
    Ref<HTTPReadStream> keep = selfRef;
    if (!keep) keep = self.lock();
    if (!keep) return;
    auto guard = shared_from_this();
    auto call = [&](StreamEvent event) {
      if ((clientMask & event) && client && phase != Phase::Closed) {
        Client callback = client;  // the client may replace itself inside the call
        try {
          callback(*keep, event);
        } catch (const std::exception& exception) {
          // A client that could not take a piece (out of memory, say) has lost it: the response
          // must not go on to an end that looks whole.
          if (event == kStreamEventErrorOccurred || event == kStreamEventEndEncountered) throw;
          failTakingResponse(exception.what());
        }
      }
    };
    unsigned events = pendingEvents;
    pendingEvents = 0;
    if (events & kStreamEventOpenCompleted) call(kStreamEventOpenCompleted);
    if (phase == Phase::Failed) {
      if (!errorDelivered) {
        errorDelivered = true;
        call(kStreamEventErrorOccurred);
        releaseSelf();
      }
      return;
    }
    if ((events & kStreamEventHasBytesAvailable) && (buffered() > 0 || phase == Phase::Receiving)) {
      call(kStreamEventHasBytesAvailable);
      if (phase == Phase::Closed || phase == Phase::Failed) {
        if (phase == Phase::Failed && !errorDelivered) raise(0);
        return;
      }
      if (buffered() > 0) raise(kStreamEventHasBytesAvailable);
    }
    if (phase == Phase::Done && buffered() == 0 && !endDelivered) {
      endDelivered = true;
      status = StreamStatus::AtEnd;
      call(kStreamEventEndEncountered);
      releaseSelf();
    }
  }

  void releaseSelf() {
    // The last reference may go here; the caller holds its own.
    auto dying = std::move(selfRef);
  }

  // --- Scheduling ---
  void updateFdScheduling() {
    bool wanted = scheduled() && fdSource && interest != 0 && active();
    if (wanted == fdInLoop) {
      if (wanted) fdSource->setEvents(interest);
      return;
    }
    if (wanted) {
      fdSource->setEvents(interest);
      for (const auto& mode : modes) loop->addSource(fdSource, mode);
    } else {
      for (const auto& mode : modes) loop->removeSource(fdSource, mode);
    }
    fdInLoop = wanted;
  }

  void setInterest(std::uint32_t events) {
    interest = events;
    updateFdScheduling();
  }

  void syncFdSource() {
    int fd = connection ? connection->fd() : -1;
    std::uint64_t generation = connection ? connection->descriptorGeneration() : 0;
    if (fd == fdSourceFd && generation == fdSourceGeneration && fdSource) return;
    dropFdSource();
    if (fd < 0) return;
    std::weak_ptr<State> weak = weak_from_this();
    fdSource = FileDescriptorSource::create(fd, kFileDescriptorReadable, [weak](std::uint32_t) {
      if (auto state = weak.lock()) state->pump();
    });
    fdSourceFd = fd;
    fdSourceGeneration = generation;
  }

  void dropFdSource() {
    if (fdSource) {
      if (fdInLoop && loop) {
        for (const auto& mode : modes) loop->removeSource(fdSource, mode);
      }
      fdSource->invalidate();
    }
    fdSource = nullptr;
    fdSourceFd = -1;
    fdInLoop = false;
  }

  void dropTimer(Ref<Timer>& timer) {
    if (timer) timer->invalidate();
    timer = nullptr;
  }

  void addTimerToModes(const Ref<Timer>& timer) {
    if (!scheduled() || !timer) return;
    for (const auto& mode : modes) loop->addTimer(timer, mode);
  }

  // --- Failure and end ---
  void fail(Ref<Error> failure) {
    if (!active() && phase != Phase::Idle) return;
    enterFailed(failure ? std::move(failure) : makeURLError(kURLErrorUnknown, "The operation could not be completed."));
  }

  // The client failed while taking the response: the stream fails whatever it had read, also
  // after the whole body arrived, and the error event follows.
  void failTakingResponse(const char* what) {
    if (phase == Phase::Closed || phase == Phase::Failed) return;
    bodyBuffer.clear();
    bodyOffset = 0;
    enterFailed(makeURLError(kURLErrorUnknown, std::string("The response could not be taken whole: ") + what));
  }

  void enterFailed(Ref<Error> failure) {
    error = std::move(failure);
    phase = Phase::Failed;
    status = StreamStatus::Error;
    dropFdSource();
    dropTimer(retryTimer);
    dropTimer(connectTimer);
    letConnectionGo();
    if (bodyStream) bodyStream->close();
    raise(kStreamEventErrorOccurred);
  }

  void finishResponse() {
    phase = Phase::Done;
    dropFdSource();
    dropTimer(retryTimer);
    allowsReuse = parser->keepAlive() && parser->leftover().empty();
    if (bodyStream) bodyStream->close();
    if (connection && persistent && tag && allowsReuse) {
      // The pool holds it from now on: the next stream with our tag takes it, or our close
      // withdraws it.
      ConnectionPool::shared().offer(*tag, std::move(connection), this);
      offered = true;
      // A close asked for meanwhile on another thread found no offer to withdraw: nobody is to
      // take this one. (Either that close's withdraw sees the offer or this sees its ask: the
      // pool's lock orders the two.)
      if (closeAsked.load()) ConnectionPool::shared().withdraw(this);
    }
    connection.reset();
    // The read that completed the message may have brought body bytes no event announced yet.
    raise(kStreamEventEndEncountered | (buffered() > 0 ? kStreamEventHasBytesAvailable : 0u));
  }

  // --- Opening ---
  ConnectionKey keyFor(const URL& url) const {
    ConnectionKey key;
    key.scheme = url.lowercaseScheme().value_or("http");
    key.host = url.lowercaseHost().value_or("");
    key.port = url.port().value_or(key.scheme == "https" ? 443 : 80);
    key.proxy = proxy;
    if (key.proxy.type == kProxyTypeHTTPS) key.proxy.type = kProxyTypeHTTP;
    key.validatesCertificateChain = key.scheme != "https" || tls.validatesCertificateChain;
    key.identityFingerprint = key.scheme == "https" ? identityFingerprint(tls) : std::string();
    if (auto port = ApplicationEnvironment::shared().testLoopbackPort(key.host)) key.loopbackPort = *port;
    return key;
  }

  void startExchange() {
    ConnectionKey key = keyFor(*currentURL);
    reused = false;
    connection = nullptr;
    if (persistent && tag) {
      connection = ConnectionPool::shared().take(*tag, key);
      reused = connection != nullptr;
    }
    std::string proxyAuthorization = request->headerField("Proxy-Authorization").value_or("");
    if (!connection) {
      connection = std::make_shared<HTTPStreamConnection>(key, tls, proxyAuthorization);
    }
    parser = std::make_unique<ResponseParser>(request->method() == "HEAD");
    parser->setAcceptsProtocolSwitch(request->headerField("Upgrade").has_value());
    bodyBuffer.clear();
    bodyOffset = 0;
    prepareHead();
    if (reused) {
      phase = Phase::Sending;
      syncFdSource();
      raise(kStreamEventOpenCompleted);
    } else {
      phase = Phase::Connecting;
      if (connectTimeout > 0) {
        std::weak_ptr<State> weak = weak_from_this();
        connectTimer = Timer::create(connectTimeout, false, [weak](Timer&) {
          if (auto state = weak.lock()) {
            if (state->phase == Phase::Connecting) {
              state->fail(makeURLError(kURLErrorTimedOut, "The request timed out."));
            }
          }
        });
        addTimerToModes(connectTimer);
      }
    }
    pump();
  }

  void prepareHead() {
    auto message = request->clone();
    message->setURL(currentURL);
    headSent = 0;
    memoryBodySent = 0;
    bodyStreamEnded = false;
    pieceOut.clear();
    pieceOutSent = 0;
    piecePayload = 0;
    bodyBytesWritten = 0;
    chunked = false;
    memoryBody = bodyStream ? nullptr : request->body();
    if (bodyStream) {
      if (!message->headerField("Content-Length")) {
        if (message->version() == kHTTPVersion1_1) {
          message->setHeaderField("Transfer-Encoding", "chunked");
          chunked = true;
        }
      }
    } else if (memoryBody && memoryBody->length() > 0) {
      if (!message->headerField("Content-Length")) {
        message->setHeaderField("Content-Length", std::to_string(memoryBody->length()));
      }
    } else {
      const std::string& method = message->method();
      if ((method == "POST" || method == "PUT" || method == "PATCH") && !message->headerField("Content-Length")) {
        message->setHeaderField("Content-Length", "0");
      }
    }
    bool absolute = connection && connection->usesAbsoluteForm();
    if (!absolute) message->setHeaderField("Proxy-Authorization", std::nullopt);  // for the proxy only
    head = message->serializeRequestHead(absolute);
  }

  // --- Pumping ---
  void pump() {
    auto guard = shared_from_this();
    for (int round = 0; round < 64 && active(); ++round) {
      switch (phase) {
        case Phase::Connecting: {
          auto progress = connection->advanceConnect();
          syncFdSource();
          if (progress == HTTPStreamConnection::Progress::Failed) {
            if (!connection->tunnelRefusal().empty() && presentTunnelRefusal()) return;
            fail(connection->error());
            return;
          }
          if (progress == HTTPStreamConnection::Progress::WantRead) {
            setInterest(kFileDescriptorReadable);
            return;
          }
          if (progress == HTTPStreamConnection::Progress::WantWrite) {
            setInterest(kFileDescriptorWritable);
            return;
          }
          dropTimer(connectTimer);
          // The request line's form depends on the connection (proxy), now known.
          prepareHead();
          phase = Phase::Sending;
          status = StreamStatus::Open;
          raise(kStreamEventOpenCompleted);
          break;
        }
        case Phase::Sending:
          if (!sendSome()) return;
          phase = Phase::Receiving;
          break;
        case Phase::Receiving:
          receiveSome();
          return;
        default:
          return;
      }
    }
  }

  // An HTTP proxy that refuses a tunnel answers like a server (407 asks for credentials): that
  // answer becomes the response, so the caller can authenticate and try again.
  bool presentTunnelRefusal() {
    auto refusal = std::make_unique<ResponseParser>(true);
    std::string ignored;
    if (!refusal->feed(connection->tunnelRefusal(), ignored) || !refusal->isHeaderComplete()) return false;
    dropTimer(connectTimer);
    parser = std::move(refusal);
    lastResponse = parser->response();
    dropFdSource();
    connection.reset();
    phase = Phase::Done;
    status = StreamStatus::Open;
    allowsReuse = false;
    raise(kStreamEventOpenCompleted | kStreamEventHasBytesAvailable | kStreamEventEndEncountered);
    return true;
  }

  // Writes bytes[sent...size); counts what went out in *counted. NO while the socket is full.
  bool writeAll(const std::uint8_t* bytes, std::size_t size, std::size_t& sent, std::uint64_t* counted = nullptr) {
    while (sent < size) {
      long n = connection->writeSome(bytes + sent, size - sent);
      if (n == HTTPStreamConnection::kWouldBlock) {
        setInterest(connection->wantsWrite() ? kFileDescriptorWritable : kFileDescriptorReadable);
        return false;
      }
      if (n < 0) {
        fail(connection->error());
        return false;
      }
      sent += static_cast<std::size_t>(n);
      if (counted) *counted += static_cast<std::uint64_t>(n);
    }
    return true;
  }
  bool writeAll(const std::string& bytes, std::size_t& sent) {
    return writeAll(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), sent);
  }

  // YES when the whole request went out.
  bool sendSome() {
    if (!writeAll(head, headSent)) return false;
    if (memoryBody) return writeAll(memoryBody->data(), memoryBody->length(), memoryBodySent, &bodyBytesWritten);
    if (!bodyStream) return true;
    for (;;) {
      if (pieceOutSent < pieceOut.size()) {
        if (!writeAll(pieceOut, pieceOutSent)) return false;
        bodyBytesWritten += piecePayload;
      }
      pieceOut.clear();
      pieceOutSent = 0;
      piecePayload = 0;
      if (bodyStreamEnded) return true;
      long n = bodyStream->read(ioBuffer.data(), ioBuffer.size());
      if (n == InputStream::kReadWouldBlock) {
        // A throttled body: look again shortly.
        setInterest(kFileDescriptorReadable);
        if (!retryTimer || !retryTimer->isValid()) {
          std::weak_ptr<State> weak = weak_from_this();
          retryTimer = Timer::create(0.01, false, [weak](Timer&) {
            if (auto state = weak.lock()) state->pump();
          });
          addTimerToModes(retryTimer);
        }
        return false;
      }
      if (n < 0) {
        auto failure = bodyStream->streamError();
        fail(failure ? failure : makeURLError(kURLErrorUnknown, "The request body could not be read."));
        return false;
      }
      if (n == 0) {
        bodyStreamEnded = true;
        if (chunked) pieceOut = "0\r\n\r\n";
        continue;
      }
      std::string_view payload(reinterpret_cast<const char*>(ioBuffer.data()), static_cast<std::size_t>(n));
      pieceOut = chunked ? hexSize(payload.size()) + "\r\n" + std::string(payload) + "\r\n" : std::string(payload);
      piecePayload = payload.size();
    }
  }

  void receiveSome() {
    bool headerWasComplete = parser->isHeaderComplete();
    auto& chunk = ioBuffer;
    int reads = 0;
    while (phase == Phase::Receiving && buffered() < kBodyHighWater && !parser->isDone()) {
      if (++reads > kMaxReadsPerEvent) {
        // More later: the socket stays readable, and bytes TLS already holds need a nudge.
        setInterest(kFileDescriptorReadable);
        if (connection->hasBufferedInput()) raise(0);
        break;
      }
      long n = connection->readSome(chunk.data(), chunk.size());
      if (n == HTTPStreamConnection::kWouldBlock) {
        setInterest(connection->wantsWrite() ? kFileDescriptorWritable : kFileDescriptorReadable);
        break;
      }
      if (n < 0) {
        fail(connection->error());
        return;
      }
      if (n == 0) {
        if (connection->endedWithoutCloseNotify() && parser->isAwaitingClose()) {
          // Only a close_notify proves that a body delimited by the connection's end is whole.
          fail(makeURLError(kURLErrorNetworkConnectionLost,
                            "The secure connection ended without a close_notify, so the response may be cut short."));
          return;
        }
        if (!parser->finish(bodyBuffer)) {
          fail(parser->error());
          return;
        }
        break;
      }
      if (!parser->feed(std::string_view(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(n)),
                        bodyBuffer)) {
        fail(parser->error());
        return;
      }
      if (parser->hasStatusLine()) lastResponse = parser->response();
      if (!headerWasComplete && parser->isHeaderComplete()) {
        headerWasComplete = true;
        if (followRedirectIfAsked()) return;
        raise(kStreamEventHasBytesAvailable);
      }
    }
    if (phase != Phase::Receiving) return;
    if (parser->isDone()) {
      finishResponse();
      return;
    }
    if (buffered() >= kBodyHighWater) setInterest(0);
    if (buffered() > 0) raise(kStreamEventHasBytesAvailable);
  }

  bool followRedirectIfAsked() {
    if (!autoRedirect) return false;
    auto response = parser->response();
    int code = response->statusCode();
    if (code != 301 && code != 302 && code != 303 && code != 307 && code != 308) return false;
    auto location = response->headerField("Location");
    if (!location) return false;
    auto next = URL::make(*location, currentURL);
    if (!next || !isHTTPScheme(*next)) return false;
    if (++redirects > kMaxAutoRedirects) {
      fail(makeURLError(kURLErrorHTTPTooManyRedirects, "too many HTTP redirects"));
      return true;
    }
    if (code == 303 || ((code == 301 || code == 302) && request->method() == "POST")) {
      auto get = request->clone();
      get->setMethod("GET");
      get->setBody(nullptr);
      get->setHeaderField("Content-Length", std::nullopt);
      get->setHeaderField("Content-Type", std::nullopt);
      request = get;
      if (bodyStream) bodyStream->close();
      bodyStream = nullptr;
    }
    const bool sameOrigin = isSameOrigin(*currentURL, *next);
    const bool carriesBody = bodyStream || (request->body() && request->body()->length() > 0);
    if (carriesBody && !sameOrigin && !(redirectApproval && redirectApproval(*currentURL, *next))) {
      // A body (a signed call, a form with a password) goes to another origin, a downgrade to
      // plain http included, only where the caller said so: nothing is sent to the target.
      fail(makeURLError(kURLErrorHTTPTooManyRedirects, "The redirect would send the request body to another site."));
      return true;
    }
    if (bodyStream) {
      // The body stream has been read: sent again it would announce bytes that never come, and
      // the exchange would stall until somebody's time-out.
      fail(makeURLError(kURLErrorRequestBodyStreamExhausted, "The request body stream was used up by the first request."));
      return true;
    }
    if (!sameOrigin) {
      // Credentials and cookies were given for the first origin; another host, port or scheme
      // (a downgrade to plain http included) must not see them.
      auto stripped = request->clone();
      stripped->setHeaderField("Authorization", std::nullopt);
      stripped->setHeaderField("Proxy-Authorization", std::nullopt);
      stripped->setHeaderField("Cookie", std::nullopt);
      request = stripped;
    }
    currentURL = next;
    dropConnection();
    startExchange();
    return true;
  }

  void dropConnection() {
    dropFdSource();
    letConnectionGo();
  }

  // An offer nobody took is withdrawn (its socket closes); a connection in hand is let go.
  void letConnectionGo() {
    if (std::exchange(offered, false)) ConnectionPool::shared().withdraw(this);
    connection.reset();
  }

  long read(std::uint8_t* buffer, std::size_t maxLength) {
    if (phase == Phase::Failed) return -1;
    if (phase == Phase::Closed || phase == Phase::Idle) return -1;
    if (buffered() == 0 && phase == Phase::Receiving) receiveSome();
    if (phase == Phase::Failed) return -1;
    std::size_t count = std::min(maxLength, buffered());
    if (count > 0) {
      std::memcpy(buffer, bodyBuffer.data() + bodyOffset, count);
      bodyOffset += count;
      if (bodyOffset == bodyBuffer.size()) {
        bodyBuffer.clear();
        bodyOffset = 0;
      } else if (bodyOffset > kBodyHighWater) {
        bodyBuffer.erase(0, bodyOffset);
        bodyOffset = 0;
      }
      if (status == StreamStatus::Open) status = StreamStatus::Reading;
    }
    if (phase == Phase::Receiving && interest == 0 && buffered() < kBodyHighWater / 2) {
      setInterest(kFileDescriptorReadable);
      if (connection && connection->hasBufferedInput()) raise(0);
    }
    if (phase == Phase::Done && buffered() == 0) raise(0);  // the end event follows
    return static_cast<long>(count);
  }

  // On the home loop's thread, or any thread when the stream has no home or its thread has ended
  // (see closeOnHome).
  void close() {
    if (closeClaimed.exchange(true)) return;
    noteUse("close");
    auto guard = shared_from_this();
    phase = Phase::Closed;
    status = StreamStatus::Closed;
    dropFdSource();
    dropTimer(retryTimer);
    dropTimer(connectTimer);
    if (eventSource) {
      eventSource->invalidate();
    }
    letConnectionGo();
    if (bodyStream) bodyStream->close();
    client = nullptr;
    releaseSelf();
  }

  // --- Home ---
  // Scheduled on `runLoop` in `mode`: that loop is home from now on.
  void scheduledHome(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
    Ref<RunLoop> previous;  // let go after the lock
    std::vector<RunLoopMode> previousModes;
    std::lock_guard lock(homeLock);
    if (home != runLoop) {
      previous = std::exchange(home, runLoop);
      previousModes.swap(homeModes);
    }
    if (std::find(homeModes.begin(), homeModes.end(), mode) == homeModes.end()) homeModes.push_back(mode);
  }
  // Opened while scheduled nowhere: the opening thread's loop is home unless the stream has one.
  void openedHome() {
    if (loop) return;
    auto current = RunLoop::current();
    std::lock_guard lock(homeLock);
    if (!home) home = current;
  }

  // Closes the stream, whatever thread asks. What any thread may let go of goes at once: an offer
  // of the connection that nobody took is withdrawn (the pool is thread-safe), which closes its
  // socket. The rest (sources, timers, client, self-reference) belongs to the home loop, and goes
  // on its thread: at once when that is this thread, when the stream has no home or when the
  // home's thread has ended (nobody else can be using it then); otherwise once the home's thread,
  // which may be inside one of the stream's callbacks right now, comes back to its loop. A close
  // the loop drops because its thread ends is done as the loop lets it go, on that thread; one
  // that arrives after the stream moved to another loop goes on there. However many threads ask,
  // and by whichever of these ways, one close runs (close() claims it).
  static void closeOnHome(const std::shared_ptr<State>& state) {
    if (state->closeClaimed.load()) return;  // done, or under way on another thread
    if (!state->closeAsked.exchange(true)) ConnectionPool::shared().withdraw(state.get());
    Ref<RunLoop> home;
    std::vector<RunLoopMode> modes;
    {
      std::lock_guard lock(state->homeLock);
      home = state->home;
      modes = state->homeModes;
    }
    if (!home || home->isCurrent() || home->isEnded()) {
      state->close();
      return;
    }
    class Closing {
     public:
      explicit Closing(std::shared_ptr<State> state) : state_(std::move(state)) {}
      Closing(const Closing&) = delete;
      Closing& operator=(const Closing&) = delete;
      ~Closing() { run(); }
      void run() {
        if (auto state = std::exchange(state_, nullptr)) closeOnHome(state);
      }

     private:
      std::shared_ptr<State> state_;
    };
    auto closing = std::make_shared<Closing>(state);
    modes.push_back(kRunLoopCommonModes);
    home->perform([closing] { closing->run(); }, std::move(modes));
  }
};

HTTPReadStream::HTTPReadStream(std::shared_ptr<State> state) : state_(std::move(state)) {}

HTTPReadStream::~HTTPReadStream() { State::closeOnHome(state_); }

Ref<HTTPReadStream> HTTPReadStream::make(const Ref<HTTPMessage>& request) {
  if (!request || !request->isRequest() || !request->url() || !isHTTPScheme(*request->url())) return nullptr;
  auto state = std::make_shared<State>();
  state->request = request->clone();
  state->currentURL = request->url();
  auto stream = std::make_shared<HTTPReadStream>(state);
  state->self = stream;
  std::weak_ptr<State> weak = state;
  state->eventSource = RunLoopSource::create([weak] {
    if (auto locked = weak.lock()) {
      if (locked->active()) locked->pump();
      locked->deliver();
    }
  });
  return stream;
}

Ref<HTTPReadStream> HTTPReadStream::makeStreamed(const Ref<HTTPMessage>& request, const Ref<InputStream>& body) {
  auto stream = make(request);
  if (stream) stream->state_->bodyStream = body;
  return stream;
}

void HTTPReadStream::setProxy(const ProxyServer& proxy) { state_->proxy = proxy; }
const ProxyServer& HTTPReadStream::proxy() const { return state_->proxy; }
void HTTPReadStream::setTLSSettings(const TLSSettings& settings) { state_->tls = settings; }
const TLSSettings& HTTPReadStream::tlsSettings() const { return state_->tls; }
void HTTPReadStream::setPersistentConnection(bool persistent) { state_->persistent = persistent; }
void HTTPReadStream::setConnectionTag(std::optional<std::int64_t> tag) { state_->tag = tag; }
std::optional<std::int64_t> HTTPReadStream::connectionTag() const { return state_->tag; }
void HTTPReadStream::setShouldAutoRedirect(bool autoRedirect) { state_->autoRedirect = autoRedirect; }
void HTTPReadStream::setRedirectApproval(RedirectApproval approval) { state_->redirectApproval = std::move(approval); }
void HTTPReadStream::setConnectTimeout(double seconds) { state_->connectTimeout = seconds; }

bool HTTPReadStream::setClient(unsigned eventMask, Client client) {
  state_->noteUse("client");
  if (state_->phase == State::Phase::Closed) return false;
  state_->clientMask = client ? eventMask : 0;
  state_->client = std::move(client);
  return true;
}

void HTTPReadStream::scheduleInRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
  auto& s = *state_;
  s.noteUse("schedule");
  if (!runLoop || s.phase == State::Phase::Closed) return;
  if (s.loop && s.loop != runLoop) {
    logError("HTTPReadStream: a stream can be scheduled on one run loop only");
    return;
  }
  s.loop = runLoop;
  s.scheduledHome(runLoop, mode);
  if (std::find(s.modes.begin(), s.modes.end(), mode) != s.modes.end()) return;
  s.modes.push_back(mode);
  runLoop->addSource(s.eventSource, mode);
  if (s.fdInLoop) runLoop->addSource(s.fdSource, mode);
  if (s.retryTimer && s.retryTimer->isValid()) runLoop->addTimer(s.retryTimer, mode);
  if (s.connectTimer && s.connectTimer->isValid()) runLoop->addTimer(s.connectTimer, mode);
  s.updateFdScheduling();
  if (s.phase != State::Phase::Idle && !s.endDelivered && !s.errorDelivered) {
    s.selfRef = selfAs<HTTPReadStream>();
  }
  s.eventSource->signal();
}

void HTTPReadStream::unscheduleFromRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode) {
  auto& s = *state_;
  s.noteUse("unschedule");
  if (!runLoop || runLoop != s.loop) return;
  auto found = std::find(s.modes.begin(), s.modes.end(), mode);
  if (found == s.modes.end()) return;
  runLoop->removeSource(s.eventSource, mode);
  if (s.fdSource && s.fdInLoop) runLoop->removeSource(s.fdSource, mode);
  s.modes.erase(found);
  if (s.modes.empty()) {
    s.fdInLoop = false;
    if (s.retryTimer) {
      // Timers cannot leave single modes; a fresh one is made when the stream comes back.
      s.dropTimer(s.retryTimer);
    }
    s.loop = nullptr;
    s.releaseSelf();
  }
}

bool HTTPReadStream::isScheduled() const { return state_->scheduled(); }

bool HTTPReadStream::open() {
  auto& s = *state_;
  s.noteUse("open");
  if (s.phase != State::Phase::Idle) return false;
  s.status = StreamStatus::Opening;
  s.openedHome();
  if (s.bodyStream && !s.bodyStream->open()) {
    auto failure = s.bodyStream->streamError();
    s.phase = State::Phase::Connecting;  // so fail() applies
    s.fail(failure ? failure : makeURLError(kURLErrorUnknown, "The request body could not be opened."));
    return true;
  }
  if (s.scheduled()) s.selfRef = selfAs<HTTPReadStream>();
  s.startExchange();
  return true;
}

void HTTPReadStream::close() { State::closeOnHome(state_); }

StreamStatus HTTPReadStream::status() const { return state_->status; }
Ref<Error> HTTPReadStream::streamError() const { return state_->error; }

bool HTTPReadStream::hasBytesAvailable() const {
  return state_->buffered() > 0 || state_->phase == State::Phase::Done;
}

long HTTPReadStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  state_->noteUse("read");
  return state_->read(buffer, maxLength);
}

Ref<HTTPMessage> HTTPReadStream::responseHeader() const {
  return state_->lastResponse ? state_->lastResponse->clone() : nullptr;
}

Ref<URL> HTTPReadStream::finalURL() const { return state_->currentURL; }
std::uint64_t HTTPReadStream::requestBodyBytesWritten() const { return state_->bodyBytesWritten; }
bool HTTPReadStream::connectionAllowsReuse() const { return state_->allowsReuse; }
bool HTTPReadStream::isOnReusedConnection() const { return state_->reused; }
bool HTTPReadStream::receivedAnyResponseBytes() const {
  return state_->parser && state_->parser->receivedAnyBytes();
}

std::size_t openHTTPConnectionCount() { return HTTPStreamConnection::liveCount(); }

void setStreamUseObserverForTesting(StreamUseObserver observer) { gUseObserver.store(observer); }

}  // namespace zv::net
