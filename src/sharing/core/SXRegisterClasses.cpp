#include "sharing/core/SXRegisterClasses.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/RegisterClasses.h"
#include "platform/ui/TableViewCell.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXActions.h"
#include "sharing/core/SXFormController.h"
#include "sharing/core/SXOfflineQueue.h"
#include "sharing/core/SXShareMenu.h"
#include "sharing/core/SXSharer.h"

namespace zv {

void registerSharingCoreClasses() {
  ui::registerUIClasses();
  auto& registry = ClassRegistry::shared();
  registry.registerClass<DefaultSXConfigurator>();
  registry.registerClass<SXFormController>("TableViewController");
  registry.registerClass("SXSharer", "NavigationController");
  registry.registerClass("TableViewCell", "View").setFactory([] {
    return ui::TableViewCell::make(ui::TableViewCellStyle::Default, std::nullopt);
  });
  registerSXActionClasses();
  registerSXMenuClasses();
  SXOfflineQueue::installHandlers();
}

}  // namespace zv
