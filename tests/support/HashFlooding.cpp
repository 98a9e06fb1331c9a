#include "support/HashFlooding.h"

#include <unordered_map>

namespace zv::testing {

namespace {

constexpr std::uint64_t kFNVBasis = 1469598103934665603ull;
constexpr std::uint64_t kFNVPrime = 1099511628211ull;
// Blocks of four letters never collide from one state (FNV-1a is one-to-one on them); six do.
constexpr std::size_t kBlockLetters = 6;

std::uint64_t fnv(std::uint64_t h, const std::string& bytes) {
  for (unsigned char c : bytes) {
    h ^= c;
    h *= kFNVPrime;
  }
  return h;
}

std::uint64_t oldMix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

std::uint64_t oldMixInverse(std::uint64_t h) {
  // x ^= x >> 33 undoes itself; the product is undone by the multiplier's inverse mod 2^64.
  const std::uint64_t multiplier = 0xff51afd7ed558ccdull;
  std::uint64_t inverse = multiplier;
  for (int i = 0; i < 6; ++i) inverse *= 2 - multiplier * inverse;
  h ^= h >> 33;
  h *= inverse;
  h ^= h >> 33;
  return h;
}

std::string block(std::uint32_t number) {
  // Spread the numbers so that every letter varies from the start.
  std::uint64_t n = number * 0x9e3779b97f4a7c15ull;
  n ^= n >> 29;
  std::string text(kBlockLetters, 'a');
  for (char& c : text) {
    c = static_cast<char>('a' + n % 26);
    n /= 26;
  }
  return text;
}

}  // namespace

std::vector<std::string> keysSharingLow32FNVBits(int doublings) {
  // The low 32 bits of FNV-1a depend only on the low 32 bits before each byte, so two blocks that
  // take one state to the same next state can be swapped anywhere: k such pairs in a row give 2^k
  // keys. Each pair is a birthday search over blocks of six letters.
  std::vector<std::pair<std::string, std::string>> pairs;
  std::uint32_t state = static_cast<std::uint32_t>(kFNVBasis);
  for (int step = 0; step < doublings; ++step) {
    std::unordered_map<std::uint32_t, std::uint32_t> seen;
    for (std::uint32_t n = 0;; ++n) {
      const std::string letters = block(n);
      auto next = static_cast<std::uint32_t>(fnv(state, letters));
      auto [it, added] = seen.emplace(next, n);
      if (!added && block(it->second) != letters) {
        pairs.emplace_back(block(it->second), block(n));
        state = next;
        break;
      }
    }
  }
  std::vector<std::string> keys(std::size_t{1} << doublings);
  for (std::size_t i = 0; i < keys.size(); ++i)
    for (int step = 0; step < doublings; ++step) keys[i] += (i >> step) & 1 ? pairs[step].second : pairs[step].first;
  return keys;
}

std::vector<std::string> keysInOldIndexWindow(std::size_t count, std::size_t slots, std::size_t window) {
  std::vector<std::string> keys;
  for (std::uint64_t n = 0; keys.size() < count; ++n) {
    std::string key = "key" + std::to_string(n);
    if ((oldMix(fnv(kFNVBasis, key)) & (slots - 1)) < window) keys.push_back(std::move(key));
  }
  return keys;
}

std::vector<std::int64_t> integersInOldSlotZero(std::size_t count) {
  std::vector<std::int64_t> values;
  for (std::uint64_t n = 1; values.size() < count; ++n) values.push_back(static_cast<std::int64_t>(oldMixInverse(n << 24)));
  return values;
}

}  // namespace zv::testing
