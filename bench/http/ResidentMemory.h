#pragma once
// The process's resident memory from /proc/self/status, for the benchmarks' peak-memory figures.
#include <fstream>
#include <string>

namespace zv::bench {

// A "Vm…" field of /proc/self/status in KiB ("VmRSS:" now, "VmHWM:" the peak), -1 when absent.
inline long residentMemoryKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// Sets the peak (VmHWM) back to the resident size now.
inline void resetResidentPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace zv::bench
