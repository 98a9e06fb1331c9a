#pragma once
// Where the settings screens read and write values. Screens never touch the user defaults
// directly: they go through a store, so a pane can keep its values elsewhere (a file, a store of
// one's own).

#include <cstdint>
#include <string_view>

#include "platform/foundation/Protocol.h"
#include "platform/foundation/Values.h"

namespace zv {

// Keys are texts; values are property-list objects. Booleans, 32-bit floats, doubles and signed
// 32-bit integers are the scalar forms. Every call is required.
class PrefsSettingsStore : public Protocol {
 public:
  virtual void setBool(bool value, std::string_view key) = 0;
  virtual void setFloat(float value, std::string_view key) = 0;
  virtual void setDouble(double value, std::string_view key) = 0;
  virtual void setInteger(std::int32_t value, std::string_view key) = 0;
  virtual void setObject(ObjectPtr value, std::string_view key) = 0;
  virtual bool boolForKey(std::string_view key) = 0;
  virtual float floatForKey(std::string_view key) = 0;
  virtual double doubleForKey(std::string_view key) = 0;
  virtual std::int32_t integerForKey(std::string_view key) = 0;
  virtual ObjectPtr objectForKey(std::string_view key) = 0;
  virtual bool synchronize() = 0;
};

}  // namespace zv
