#include "platform/ui/RegisterClasses.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/TableViewController.h"
#include "platform/ui/WebView.h"

namespace zv::ui {

void registerUIClasses() {
  auto& registry = ClassRegistry::shared();
  registry.registerClass<Responder>();
  registry.registerClass<View>("Responder");
  registry.registerClass<ScrollView>("View");
  registry.registerClass<TableView>("ScrollView").setFactory([] { return TableView::make({}, TableViewStyle::Plain); });
  registry.registerClass<WebView>("View").setFactory([] { return WebView::make(); });
  registry.registerClass<ViewController>("Responder");
  registry.registerClass<TableViewController>("ViewController");
  registry.registerClass<NavigationController>("ViewController");
  registry.registerClass<TabBarController>("ViewController");
}

}  // namespace zv::ui
