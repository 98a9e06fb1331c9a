#pragma once
// Registers the service sharers (and the class operations the application calls by name) with
// the class registry. Call once at start-up, after registerSharingCoreClasses(); calling again is
// harmless. Main thread.

namespace zv {

void registerSharingServicesClasses();

}  // namespace zv
