#pragma once
// What a settings screen shares with the screens it opens: the reader of its description and the
// store of its values. Adopted by the settings screen and the value picker.

#include <memory>

#include "platform/foundation/Protocol.h"
#include "settings/PrefsSettingsReader.h"
#include "settings/PrefsSettingsStore.h"

namespace zv {

class PrefsViewController : public Protocol {
 public:
  virtual Ref<PrefsSettingsReader> settingsReader() = 0;
  virtual void setSettingsReader(Ref<PrefsSettingsReader> reader) = 0;
  virtual std::shared_ptr<PrefsSettingsStore> settingsStore() = 0;
  virtual void setSettingsStore(std::shared_ptr<PrefsSettingsStore> store) = 0;
};

}  // namespace zv
