#pragma once
// The common part of the second JSON library's parser, writer and facade: the nesting limit and
// the error trace. A failure leaves a chain of errors (domain "org.velmorand.JSON.ErrorDomain"),
// innermost first, each later one holding the one before under the underlying-error key.
// Thread contract: an object serves one thread; callers make a fresh one per reply.

#include <cstdint>
#include <string>

#include "platform/foundation/Values.h"

namespace zv {

inline constexpr const char* SJsonErrorDomain = "org.velmorand.JSON.ErrorDomain";
inline constexpr unsigned SJsonDefaultMaxDepth = 512;
// With maxDepth 0 ("no limit"), or a larger one, nesting still stops here, so the call stack cannot
// run out even with sanitizer-sized frames or a secondary thread's smaller stack.
inline constexpr unsigned SJsonHardDepthLimit = 1024;

enum SJsonErrorCode : int {
  SJsonErrorUnsupported = 1,
  SJsonErrorNumber = 2,
  SJsonErrorSyntax = 3,
  SJsonErrorFragment = 4,
  SJsonErrorControlCharacter = 5,
  SJsonErrorUnicode = 6,
  SJsonErrorDepth = 7,
  SJsonErrorEscape = 8,
  SJsonErrorTrailingComma = 9,
  SJsonErrorGarbage = 10,
  SJsonErrorEndOfInput = 11,
  SJsonErrorNilInput = 12,
};

class SJsonBase : public Object {
 public:
  SJsonBase() = default;

  // 0 means no limit (short of SJsonHardDepthLimit).
  virtual unsigned maxDepth() const { return maxDepth_; }
  virtual void setMaxDepth(unsigned maxDepth) { maxDepth_ = maxDepth; }
  unsigned depth() const { return depth_; }

  // The errors of the last failure, innermost first; nullptr while there are none.
  Ref<Array> errorTrace() const;
  // Appends an error chained to the current last one.
  void addErrorWithCode(int code, std::string description);
  void clearErrorTrace() { errorTrace_.reset(); }

 protected:
  void setErrorTrace(Ref<MutableArray> trace) { errorTrace_ = std::move(trace); }
  // Enters one more level; false (with "Nested too deep" added) past the limit.
  bool enterLevel();
  void leaveLevel() { --depth_; }

  unsigned depth_ = 0;

 private:
  unsigned maxDepth_ = SJsonDefaultMaxDepth;
  Ref<MutableArray> errorTrace_;
};

}  // namespace zv
