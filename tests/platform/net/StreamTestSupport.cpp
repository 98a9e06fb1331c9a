#include "StreamTestSupport.h"

#include <gtest/gtest.h>

#include "platform/runloop/RunLoopPump.h"

namespace zv::net::testing {

Ref<HTTPReadStream> makeGet(const std::string& url, const std::string& method) {
  auto message = HTTPMessage::makeRequest(method, URL::make(url));
  EXPECT_TRUE(message) << url;
  return HTTPReadStream::make(message);
}

StreamOutcome runStream(const Ref<HTTPReadStream>& stream, double timeoutSeconds, bool closeAtEnd) {
  StreamOutcome outcome;
  if (!stream) return outcome;
  stream->setClient(kStreamEventOpenCompleted | kStreamEventHasBytesAvailable | kStreamEventErrorOccurred |
                        kStreamEventEndEncountered,
                    [&outcome](HTTPReadStream& s, StreamEvent event) {
                      switch (event) {
                        case kStreamEventOpenCompleted:
                          ++outcome.openEvents;
                          break;
                        case kStreamEventHasBytesAvailable: {
                          std::uint8_t buffer[16384];
                          long n = s.read(buffer, sizeof buffer);
                          if (n > 0) outcome.body.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
                          break;
                        }
                        case kStreamEventEndEncountered:
                          ++outcome.endEvents;
                          break;
                        case kStreamEventErrorOccurred:
                          ++outcome.errorEvents;
                          outcome.error = s.streamError();
                          break;
                        default:
                          break;
                      }
                    });
  stream->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode);
  EXPECT_TRUE(stream->open());
  pumpRunLoopUntil([&] { return outcome.finished(); }, timeoutSeconds);
  // Long enough for a second end or error event to show up if the stream sent one.
  pumpRunLoopFor(0.02);
  outcome.head = stream->responseHeader();
  if (closeAtEnd) stream->close();
  return outcome;
}

}  // namespace zv::net::testing
