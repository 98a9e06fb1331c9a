#pragma once
// What the utilities do when the program starts: the shared rating prompt is scheduled on the main
// thread (not waiting), so it exists, and counts the launch, as soon as the main run loop first
// turns, whether or not anything else asks for it. Call once at start-up, before the main run loop
// runs; calling again is harmless. Any thread.

namespace zv {

void registerUtilitiesClasses();

}  // namespace zv
