#include "sharing/core/SXRegisterClasses.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/RegisterClasses.h"
#include "platform/ui/TableViewCell.h"
#include "sharing/core/SXConfiguration.h"

namespace zv {

void registerSharingCoreClasses() {
  ui::registerUIClasses();
  auto& registry = ClassRegistry::shared();
  registry.registerClass<DefaultSXConfigurator>();
  registry.registerClass("TableViewCell", "View").setFactory([] {
    return ui::TableViewCell::make(ui::TableViewCellStyle::Default, std::nullopt);
  });
}

}  // namespace zv
