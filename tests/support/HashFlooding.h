#pragma once
// Inputs chosen against the unkeyed hashes this system used before its hashes took a per-process
// key (64-bit FNV-1a on text, a fixed finaliser for the index of the platform's hash tables), so a
// test can show that such inputs are read in time linear in their size (see leastThreadCPUSeconds
// in TestSupport.h).

#include <cstdint>
#include <string>
#include <vector>

namespace zv::testing {

// 2^doublings distinct keys of 6 * doublings letters whose FNV-1a hashes share their low 32 bits:
// every one of them falls in the same slot of a table indexed from those bits.
std::vector<std::string> keysSharingLow32FNVBits(int doublings);

// `count` distinct keys whose FNV-1a hash, put through the old fixed finaliser, lands in the first
// `window` slots of a table of `slots` (a power of two).
std::vector<std::string> keysInOldIndexWindow(std::size_t count, std::size_t slots, std::size_t window);

// `count` distinct integers that the old finaliser (integers hash to themselves) sends to slot 0
// of every table of up to 2^24 slots.
std::vector<std::int64_t> integersInOldSlotZero(std::size_t count);

}  // namespace zv::testing
