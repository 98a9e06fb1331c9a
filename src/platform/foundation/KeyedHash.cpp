#include "platform/foundation/KeyedHash.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Set.h"

namespace zv {

namespace {

struct ProcessKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

ProcessKey drawKey() {
  ProcessKey key{};
  std::size_t got = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&key);
  while (got < sizeof key) {
    // Never waits for the kernel's generator to be seeded (early in boot): the fallback below
    // serves then.
    ssize_t n = ::getrandom(bytes + got, sizeof key - got, GRND_NONBLOCK);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof key) {
    // No system randomness (a sandbox without the call): the best the process has.
    std::random_device device;
    auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.k0 = (static_cast<std::uint64_t>(device()) << 32 | device()) ^ now;
    key.k1 = (static_cast<std::uint64_t>(device()) << 32 | device()) ^ reinterpret_cast<std::uintptr_t>(&key);
  }
  return key;
}

const ProcessKey& processKey() {
  static const ProcessKey key = drawKey();
  return key;
}

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  inline void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

inline std::uint64_t loadLittleEndian(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

template <int C, int D>
std::uint64_t sip(std::string_view bytes, std::uint64_t k0, std::uint64_t k1) {
  SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
             k1 ^ 0x7465646279746573ull};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t length = bytes.size();
  const unsigned char* end = p + (length & ~std::size_t{7});
  for (; p != end; p += 8) {
    std::uint64_t m = loadLittleEndian(p);
    s.v3 ^= m;
    for (int i = 0; i < C; ++i) s.round();
    s.v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(length) << 56;
  switch (length & 7) {
    case 7: last |= static_cast<std::uint64_t>(p[6]) << 48; [[fallthrough]];
    case 6: last |= static_cast<std::uint64_t>(p[5]) << 40; [[fallthrough]];
    case 5: last |= static_cast<std::uint64_t>(p[4]) << 32; [[fallthrough]];
    case 4: last |= static_cast<std::uint64_t>(p[3]) << 24; [[fallthrough]];
    case 3: last |= static_cast<std::uint64_t>(p[2]) << 16; [[fallthrough]];
    case 2: last |= static_cast<std::uint64_t>(p[1]) << 8; [[fallthrough]];
    case 1: last |= static_cast<std::uint64_t>(p[0]); break;
    default: break;
  }
  s.v3 ^= last;
  for (int i = 0; i < C; ++i) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int i = 0; i < D; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace

std::uint64_t keyedHash(std::string_view bytes) {
  const ProcessKey& key = processKey();
  return sip<1, 3>(bytes, key.k0, key.k1);
}

namespace detail {

std::uint64_t sipHash24(std::string_view bytes, std::uint64_t k0, std::uint64_t k1) {
  return sip<2, 4>(bytes, k0, k1);
}

std::size_t scrambleHash(std::size_t hash) {
  // The 64-bit finaliser of a well-known mixing hash, after adding the process key.
  std::uint64_t h = static_cast<std::uint64_t>(hash) + processKey().k1;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return static_cast<std::size_t>(h);
}

std::size_t memberHash(const Object& member) {
  if (auto* array = dynamic_cast<const Array*>(&member)) return array->count() * 3 + 0;
  if (auto* dictionary = dynamic_cast<const Dictionary*>(&member)) return dictionary->count() * 3 + 1;
  if (auto* set = dynamic_cast<const Set*>(&member)) return set->count() * 3 + 2;
  return member.hash();
}

}  // namespace detail
}  // namespace zv
