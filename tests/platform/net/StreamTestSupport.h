#pragma once
// Runs one HTTP read stream on the test thread's run loop and collects what it delivered.

#include <string>

#include "platform/net/HTTPReadStream.h"

namespace zv::net::testing {

struct StreamOutcome {
  Ref<HTTPMessage> head;
  std::string body;
  Ref<Error> error;
  int endEvents = 0;
  int errorEvents = 0;
  int openEvents = 0;
  bool finished() const { return endEvents + errorEvents > 0; }
};

Ref<HTTPReadStream> makeGet(const std::string& url, const std::string& method = "GET");
// Schedules, opens and pumps until the end or an error (or `timeoutSeconds`); the stream stays
// open unless `closeAtEnd`.
StreamOutcome runStream(const Ref<HTTPReadStream>& stream, double timeoutSeconds = 10.0, bool closeAtEnd = true);

}  // namespace zv::net::testing
