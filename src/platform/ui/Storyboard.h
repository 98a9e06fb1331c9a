#pragma once
// Screens made by identifier: a storyboard maps identifiers to factories. The application
// registers its storyboards by name at start-up; a screen made by a storyboard knows it (not
// retained) and can make its siblings. Main thread only.

#include <functional>
#include <map>
#include <string>

#include "platform/ui/ViewController.h"

namespace zv::ui {

class Storyboard : public Object {
 public:
  using Factory = std::function<Ref<ViewController>()>;

  static Ref<Storyboard> make(std::string name);
  // The registered storyboard of that name; nullptr when none.
  static Ref<Storyboard> storyboardWithName(std::string_view name);
  static void registerStoryboard(const Ref<Storyboard>& storyboard);
  static void unregisterAll();

  const std::string& name() const { return name_; }
  void registerViewController(std::string identifier, Factory factory);
  void setInitialViewControllerIdentifier(std::string identifier) { initial_ = std::move(identifier); }
  // A new screen for the identifier; nullptr when none is registered under it.
  Ref<ViewController> instantiateViewControllerWithIdentifier(std::string_view identifier);
  Ref<ViewController> instantiateInitialViewController();

  explicit Storyboard(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
  std::map<std::string, Factory, std::less<>> factories_;
  std::string initial_;
};

}  // namespace zv::ui
