#pragma once
// Registers the sharing framework's classes that are made or looked up by name (sharers named in
// the sharers list, the configurable form class, configurators). Call once at start-up, after
// registerUIClasses(); calling again is harmless. Main thread.

namespace zv {

void registerSharingCoreClasses();

}  // namespace zv
