#pragma once
// Hashes that a sender cannot aim: every hash of outside text, and every index a hash table
// derives from a hash, goes through a key drawn once per process from the system's randomness,
// so keys chosen to collide on one run collide no more than any others on the next.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zv {

class Object;

// SipHash-1-3 of the bytes under the process key.
std::uint64_t keyedHash(std::string_view bytes);

namespace detail {

// SipHash-2-4 under an explicit key (k0, k1); the same rounds and padding as keyedHash, with the
// round counts whose reference outputs are published.
std::uint64_t sipHash24(std::string_view bytes, std::uint64_t k0, std::uint64_t k1);

// A one-to-one mix of a hash under the process key; hash tables take their index from it.
std::size_t scrambleHash(std::size_t hash);

// What a collection's hash takes from one of its members: the member's hash, except that a member
// collection gives its kind and count only, so a collection's hash never reaches below its own
// members however deep (or shared, or cyclic) the graph below them is.
std::size_t memberHash(const Object& member);

}  // namespace detail
}  // namespace zv
