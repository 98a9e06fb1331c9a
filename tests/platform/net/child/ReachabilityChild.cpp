// Answers whether the internet is reachable from this process's network: exit 0 when it is, 1 when
// it is not, 2 when the system could not be asked. Run by the reachability tests inside a network
// namespace of their own; a program of its own so that its threads start in a fresh process.
#include "platform/net/ReachabilityProvider.h"

int main() {
  auto flags = zv::net::ReachabilityProvider::makeSystemProvider()->flagsFor(zv::net::ReachabilityQuery{});
  if (!flags) return 2;
  return (*flags & zv::net::kReachabilityFlagReachable) ? 0 : 1;
}
