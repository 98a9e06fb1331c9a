#pragma once
// Reported failures: a string domain, a numeric code and user information (a localized
// description, an underlying error, anything the domain adds).

#include <cstdint>
#include <string>

#include "platform/foundation/Object.h"

namespace zv {

class Dictionary;

inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

class Error : public Object {
 public:
  static Ref<Error> make(std::string domain, std::int64_t code, Ref<Dictionary> userInfo = nullptr);
  // An error whose user information holds only a localized description.
  static Ref<Error> make(std::string domain, std::int64_t code, std::string localizedDescription);
  // A POSIX-domain error for an errno value, described by strerror.
  static Ref<Error> posix(int errnoValue);

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  // Never nullptr (empty when none was given).
  const Ref<Dictionary>& userInfo() const { return userInfo_; }
  // The user information's localized description, or a generic text naming domain and code.
  std::string localizedDescription() const;
  Ref<Error> underlyingError() const;

  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  Error(std::string domain, std::int64_t code, Ref<Dictionary> userInfo);

 private:
  std::string domain_;
  std::int64_t code_;
  Ref<Dictionary> userInfo_;
};

}  // namespace zv
