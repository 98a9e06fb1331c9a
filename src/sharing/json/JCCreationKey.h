#pragma once
// The collection classes of the JSON decoder are private to it: their constructors take this key,
// which only the decoder's parse state can make.

namespace zv {

namespace detail {
class JCParseState;
}

class JCCreationKey {
 private:
  JCCreationKey() = default;
  friend class detail::JCParseState;
};

}  // namespace zv
