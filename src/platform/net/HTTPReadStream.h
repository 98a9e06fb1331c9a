#pragma once
// A read stream over one HTTP exchange: it sends a request message (with its body from memory or
// pulled from an InputStream) over a TCP or TLS connection, directly or through an HTTP or SOCKS
// proxy, and yields the response body bytes; the response head is available as a message once it
// has arrived. Redirects, cookies, compression, authentication and retries are the caller's
// business; the stream only frames bytes (and follows redirects itself only when asked to).
//
// Life: make → set properties → setClient → scheduleInRunLoop → open → events → read … → close.
// Events arrive through the client callback on the thread of the run loop the stream is scheduled
// on, only while the loop runs one of the scheduled modes. While the stream is scheduled in no
// mode nothing is read from the socket (TCP pushes back on the server: bandwidth throttling).
// `open` never blocks: connecting, proxy and TLS handshakes and sending all happen as the loop
// runs. Every failure ends the stream with exactly one ErrorOccurred event (then status Error and
// `streamError`); a complete response ends with EndEncountered.
//
// Threads: a stream belongs to the thread of its home loop: the loop it is scheduled on, else the
// one it was scheduled on last, else that of the thread that opened it. Schedule, open and read
// there. `close` (and the last release of the stream) may come from any thread. An offer of the
// stream's connection that no stream took is withdrawn at once, on the closing thread, and its
// socket closed. The rest of the close runs on the home loop's thread: at once when the caller
// is that thread or the thread has ended; otherwise it waits until that thread, which may be
// inside one of the stream's callbacks right now, comes back to its loop (in one of the stream's
// modes or a common mode), and until then the stream goes on as if not closed. However many
// threads close a stream, one close runs. The stream holds a strong reference to itself while it
// is scheduled and open, so a client may drop its reference inside a callback after closing it.
//
// Persistent connections: streams that carry the same connection tag and persistent flag share one
// socket, one after the other. When a response has been read to its end, the server allowed
// keep-alive and the stream is still open, its connection is offered to the next stream opened
// with the same tag, scheme, host, port, proxy, certificate-validation setting and client identity;
// that stream takes the socket over (after checking that the server has not closed it while idle),
// and closing the old stream then leaves the socket alone. Closing a stream whose connection was
// not taken closes the socket, on the closing thread (see above): a stream whose thread is away
// from its loop keeps no socket open once closed. An offered socket is held by the offer, not by
// the old stream, so a close that waits for the old stream's thread keeps no taken socket open.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/InputStream.h"
#include "platform/net/ProxySettings.h"
#include "platform/net/TLSSettings.h"
#include "platform/runloop/RunLoop.h"

namespace zv::net {

// Stream events (the platform's bit values).
enum StreamEvent : unsigned {
  kStreamEventNone = 0,
  kStreamEventOpenCompleted = 1,
  kStreamEventHasBytesAvailable = 2,
  kStreamEventCanAcceptBytes = 4,
  kStreamEventErrorOccurred = 8,
  kStreamEventEndEncountered = 16,
};

enum class StreamStatus { NotOpen, Opening, Open, Reading, AtEnd, Closed, Error };

class HTTPStreamConnection;  // internal: one socket with its TLS and proxy state

class HTTPReadStream : public Object {
 public:
  using Client = std::function<void(HTTPReadStream& stream, StreamEvent event)>;

  // A stream for `request` (its in-memory body, if any, is sent). nullptr when the message is not
  // a request or its URL has no http/https scheme or no host.
  static Ref<HTTPReadStream> make(const Ref<HTTPMessage>& request);
  // A stream whose body is pulled from `body` (the message's own body is ignored). Without a
  // "Content-Length" field the body goes out chunked (HTTP/1.1).
  static Ref<HTTPReadStream> makeStreamed(const Ref<HTTPMessage>& request, const Ref<InputStream>& body);

  ~HTTPReadStream() override;

  // --- Properties: set before open. ---
  // The proxy to go through (kProxyTypeNone or a default ProxyServer: direct).
  void setProxy(const ProxyServer& proxy);
  const ProxyServer& proxy() const;
  void setTLSSettings(const TLSSettings& settings);
  const TLSSettings& tlsSettings() const;
  // Socket sharing between streams with the same tag (see above). No tag: never shared.
  void setPersistentConnection(bool persistent);
  void setConnectionTag(std::optional<std::int64_t> tag);
  std::optional<std::int64_t> connectionTag() const;
  // Follow 301/302/303/307/308 answers (at most 5), as a simple client wants; off by default. A
  // redirect to another origin (scheme, host or port: plain http after https included) goes
  // without the Authorization, Proxy-Authorization and Cookie fields, and one that would carry the
  // request body there fails the stream (kURLErrorHTTPTooManyRedirects, nothing sent to the
  // target) unless the redirect approval allows it. A body pulled from an input stream cannot be
  // sent twice: a redirect that keeps it fails the stream at once
  // (kURLErrorRequestBodyStreamExhausted).
  void setShouldAutoRedirect(bool autoRedirect);
  // Asked only before an automatic redirect would carry the request body to another origin; YES
  // sends the body there. None set: such redirects fail.
  using RedirectApproval = std::function<bool(const URL& from, const URL& to)>;
  void setRedirectApproval(RedirectApproval approval);
  // How long connecting (TCP, proxy and TLS handshakes) may take before the stream fails with
  // kURLErrorTimedOut; 0 means no limit (the HTTP client applies its own inactivity time-out).
  void setConnectTimeout(double seconds);

  // --- Client and scheduling. ---
  // Registers the callback for the events in `eventMask` (nullptr clears). Returns NO once closed.
  bool setClient(unsigned eventMask, Client client);
  void scheduleInRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode);
  void unscheduleFromRunLoop(const Ref<RunLoop>& runLoop, const RunLoopMode& mode);
  bool isScheduled() const;

  // --- Life. ---
  // Starts connecting (asynchronously). NO when the stream was opened before or is closed.
  bool open();
  // Stops everything; no event follows. Any socket not handed to another stream is closed. Any
  // thread; runs on the home loop's thread (see above).
  void close();
  StreamStatus status() const;
  Ref<Error> streamError() const;

  // --- Reading. ---
  // YES when `read` would return bytes (or the end) without waiting.
  bool hasBytesAvailable() const;
  // Copies up to `maxLength` body bytes; -1 after a failure. Never blocks: with nothing buffered
  // it returns what the socket holds now, possibly 0 bytes. 0 therefore means "nothing now" or,
  // when status() is AtEnd, the end; the EndEncountered event tells the end. A HasBytesAvailable
  // event comes again while buffered bytes remain unread, so one read per event is enough.
  long read(std::uint8_t* buffer, std::size_t maxLength);

  // The response head: nullptr before the status line has been read; afterwards a copy of the
  // message, complete (`isHeaderComplete`) once every field has arrived.
  Ref<HTTPMessage> responseHeader() const;
  // The URL finally answered (after automatic redirects), the request's URL otherwise.
  Ref<URL> finalURL() const;
  // Bytes of the request body written to the socket so far.
  std::uint64_t requestBodyBytesWritten() const;
  // YES when the response allowed the connection to be kept (set once the head is complete).
  bool connectionAllowsReuse() const;
  // YES once any byte of an answer has arrived on the current exchange (part of a status line or
  // head, or an interim head included): the server has seen the request.
  bool receivedAnyResponseBytes() const;
  // YES when the stream runs on a connection that an earlier stream used (useful to tests and for
  // the retry decision).
  bool isOnReusedConnection() const;

  struct State;
  explicit HTTPReadStream(std::shared_ptr<State> state);

 private:
  std::shared_ptr<State> state_;
};

// The number of connections that HTTP streams hold open now (busy or offered for reuse). Tests
// use it with the process's open-descriptor count to check that nothing leaks.
std::size_t openHTTPConnectionCount();

// Test only: called on the thread that uses a stream, each time it is given a client ("client"),
// scheduled ("schedule"), unscheduled ("unschedule"), opened ("open"), read ("read") or closed
// ("close", on the thread the close runs on), with the URL the stream asked for last; nullptr
// stops it. Tests use it to see which threads touch a stream.
using StreamUseObserver = void (*)(const URL& url, const char* use);
void setStreamUseObserverForTesting(StreamUseObserver observer);

}  // namespace zv::net
