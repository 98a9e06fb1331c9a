#include "platform/ui/Storyboard.h"

namespace zv::ui {

namespace {
std::map<std::string, Ref<Storyboard>, std::less<>>& registry() {
  static std::map<std::string, Ref<Storyboard>, std::less<>> boards;
  return boards;
}
}  // namespace

Ref<Storyboard> Storyboard::make(std::string name) { return std::make_shared<Storyboard>(std::move(name)); }

Ref<Storyboard> Storyboard::storyboardWithName(std::string_view name) {
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

void Storyboard::registerStoryboard(const Ref<Storyboard>& storyboard) {
  if (storyboard) registry()[storyboard->name()] = storyboard;
}

void Storyboard::unregisterAll() { registry().clear(); }

void Storyboard::registerViewController(std::string identifier, Factory factory) {
  factories_[std::move(identifier)] = std::move(factory);
}

Ref<ViewController> Storyboard::instantiateViewControllerWithIdentifier(std::string_view identifier) {
  auto it = factories_.find(identifier);
  if (it == factories_.end() || !it->second) return nullptr;
  auto controller = it->second();
  if (controller) controller->setStoryboard(selfAs<Storyboard>());
  return controller;
}

Ref<ViewController> Storyboard::instantiateInitialViewController() {
  return initial_.empty() ? nullptr : instantiateViewControllerWithIdentifier(initial_);
}

}  // namespace zv::ui
