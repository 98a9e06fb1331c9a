#pragma once
// Named exceptions: misuse that the platform reports by raising (a mutating call on an immutable
// collection, an index beyond bounds, an unimplemented primitive) throws an Exception carrying the
// platform's exception name and a reason text.

#include <exception>
#include <memory>
#include <string>

namespace zv {

class Dictionary;

inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kRangeException = "NSRangeException";
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kMallocException = "NSMallocException";
inline constexpr const char* kGenericException = "NSGenericException";

class Exception : public std::exception {
 public:
  Exception(std::string name, std::string reason, std::shared_ptr<Dictionary> userInfo = nullptr);

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const std::shared_ptr<Dictionary>& userInfo() const { return userInfo_; }
  // "name: reason"
  const char* what() const noexcept override { return what_.c_str(); }

  [[noreturn]] static void raise(std::string name, std::string reason,
                                 std::shared_ptr<Dictionary> userInfo = nullptr);

 private:
  std::string name_;
  std::string reason_;
  std::shared_ptr<Dictionary> userInfo_;
  std::string what_;
};

}  // namespace zv
