#include "app/CustomBreathDefinitionViewController.h"

#include <charconv>
#include <cmath>

#include "platform/foundation/Format.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"

namespace zv {

using namespace ui;

namespace {

constexpr std::array<const char*, 4> kPhaseTitles{"Inhale", "Hold", "Exhale", "Hold"};

std::optional<double> parsePercentage(std::string text) {
  for (auto& c : text)
    if (c == ',') c = '.';
  auto first = text.find_first_not_of(' ');
  auto last = text.find_last_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  text = text.substr(first, last - first + 1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0 || value > 100)
    return std::nullopt;
  return value;
}

}  // namespace

CustomBreathDefinitionViewController::CustomBreathDefinitionViewController(Ref<UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

Ref<CustomBreathDefinitionViewController> CustomBreathDefinitionViewController::make(Ref<UserDefaults> defaults) {
  return std::make_shared<CustomBreathDefinitionViewController>(std::move(defaults));
}

Ref<UserDefaults> CustomBreathDefinitionViewController::defaults() const {
  return defaults_ ? defaults_ : UserDefaults::standardUserDefaults();
}

double CustomBreathDefinitionViewController::storedPercentage(std::size_t phase) const {
  ObjectPtr value = defaults()->objectForKey(kKeys.at(phase));
  return value ? doubleValueOf(value) : kDefaults.at(phase);
}

const std::array<Ref<TextField>, 4>& CustomBreathDefinitionViewController::percentageFields() {
  view();
  return fields_;
}

const Ref<Button>& CustomBreathDefinitionViewController::doneButton() {
  view();
  return done_;
}

void CustomBreathDefinitionViewController::loadView() {
  auto root = View::make(Screen::mainScreen()->applicationFrame());
  root->setBackgroundColor(Color::groupTableViewBackgroundColor());
  root->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  auto heading = Label::make(Rect(20, 20, 280, 24));
  heading->setText("Custom Breath");
  heading->setFont(Font::boldSystemFontOfSize(18));
  root->addSubview(heading);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    double y = 60 + 44.0 * static_cast<double>(i);
    auto label = Label::make(Rect(20, y, 140, 31));
    label->setText(std::string(kPhaseTitles[i]) + " (%)");
    root->addSubview(label);
    auto field = TextField::make(Rect(170, y, 130, 31));
    field->setBorderStyle(TextBorderStyle::RoundedRect);
    field->setKeyboardType(KeyboardType::NumbersAndPunctuation);
    field->setTextAlignment(TextAlignment::Right);
    root->addSubview(field);
    fields_[i] = field;
  }
  done_ = Button::buttonWithType(ButtonType::RoundedRect);
  done_->setFrame(Rect(20, 60 + 44.0 * 4 + 10, 280, 37));
  done_->setTitle("Done", ControlStateNormal);
  std::weak_ptr<CustomBreathDefinitionViewController> weak = selfAs<CustomBreathDefinitionViewController>();
  done_->addAction(ControlEventTouchUpInside, [weak](Control&) {
    if (auto editor = weak.lock()) editor->done();
  });
  root->addSubview(done_);
  setView(root);
}

void CustomBreathDefinitionViewController::viewWillAppear(bool animated) {
  ViewController::viewWillAppear(animated);
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i]->setText(format("%.2f", storedPercentage(i)));
}

void CustomBreathDefinitionViewController::done() {
  auto store = defaults();
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (!fields_[i]) continue;
    if (auto value = parsePercentage(fields_[i]->text())) store->setDouble(*value, kKeys[i]);
  }
  dismissViewControllerAnimated(true);
}

}  // namespace zv
