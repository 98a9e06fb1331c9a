#include "app/SettingsCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>
#include <set>

#include "app/MySettingsViewController.h"
#include "app/SettingsDefaults.h"
#include "platform/foundation/Format.h"
#include "platform/system/Bundle.h"
#include "platform/system/UserDefaults.h"
#include "settings/PrefsPSSliderSpecifierViewCell.h"
#include "settings/PrefsPSTextFieldSpecifierViewCell.h"
#include "settings/PrefsSpecifierValuesViewController.h"

namespace zv {

using namespace ui;

namespace {

struct Pane {
  std::string file;
  Ref<PrefsAppSettingsViewController> screen;
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Root first, then every child pane in the order the rows name them, each once.
std::vector<Pane> openPanes() {
  std::vector<Pane> panes;
  std::vector<std::string> pending{"Root"};
  std::set<std::string> seen;
  while (!pending.empty()) {
    std::string file = pending.front();
    pending.erase(pending.begin());
    if (!seen.insert(file).second) continue;
    Ref<PrefsAppSettingsViewController> screen;
    if (file == "Root") {
      screen = MySettingsViewController::make();
    } else {
      screen = PrefsAppSettingsViewController::make();
      screen->setFile(file);
      screen->setShowCreditsFooter(false);
    }
    screen->view();
    auto reader = screen->settingsReader();
    for (std::size_t s = 0; s < reader->numberOfSections(); ++s)
      for (std::size_t r = 0; r < reader->numberOfRowsForSection(s); ++r) {
        auto specifier = reader->specifierForIndexPath(*IndexPath::forRow(r, s));
        if (specifier && specifier->isType(kPrefsPSChildPaneSpecifier) && specifier->file() &&
            !specifier->specifierDict()->objectForKey("PrefsViewControllerClass"))
          pending.push_back(*specifier->file());
      }
    panes.push_back({file, screen});
  }
  return panes;
}

std::string kindOf(const PrefsSpecifier& specifier) {
  auto type = specifier.type().value_or("");
  if (type == kPrefsPSToggleSwitchSpecifier) return "toggle";
  if (type == kPrefsPSSliderSpecifier) return format("slider %g...%g", specifier.minimumValue(), specifier.maximumValue());
  if (type == kPrefsPSMultiValueSpecifier) return "choice";
  if (type == kPrefsPSTextFieldSpecifier) return "text";
  if (type == kPrefsPSTitleValueSpecifier) return "read-only";
  if (type == kPrefsPSChildPaneSpecifier) return "pane";
  if (type == kPrefsOpenURLSpecifier) return "link";
  if (type == kPrefsMailComposeSpecifier) return "mail";
  if (type == kPrefsButtonSpecifier) return "button";
  if (type == kPrefsCustomViewSpecifier) return "custom";
  return "row";
}

// What the row's cell shows as its value.
std::string shownValue(const Ref<TableViewCell>& cell) {
  if (!cell) return "";
  if (auto toggle = dyn<PrefsSwitch>(cell->accessoryView())) return toggle->isOn() ? "on" : "off";
  if (auto text = dyn<PrefsPSTextFieldSpecifierViewCell>(cell)) return text->textField()->displayedText();
  if (auto slider = dyn<PrefsPSSliderSpecifierViewCell>(cell)) return format("%g", slider->slider()->value());
  if (cell->detailTextLabel() && cell->detailTextLabel()->text()) return *cell->detailTextLabel()->text();
  return "";
}

std::string pad(std::string text, std::size_t width) {
  // Column widths count characters, not bytes, so accented titles line up.
  std::size_t length = 0;
  for (unsigned char c : text) length += (c & 0xC0) != 0x80;
  if (length < width) text.append(width - length, ' ');
  return text;
}

void printPane(const Pane& pane, std::ostream& out) {
  auto& screen = *pane.screen;
  auto table = screen.tableView();
  auto reader = screen.settingsReader();
  std::string heading = pane.file == "Root" ? screen.title().value_or(Bundle::mainBundle()->localizedStringForKey("Settings", "Settings")) : pane.file;
  out << "[" << heading << "]\n";
  for (std::size_t s = 0; s < screen.numberOfSectionsInTableView(*table); ++s) {
    if (auto header = screen.tableViewTitleForHeaderInSection(*table, s)) out << "  " << *header << "\n";
    for (std::size_t r = 0; r < screen.tableViewNumberOfRowsInSection(*table, s); ++r) {
      auto path = IndexPath::forRow(r, s);
      auto specifier = reader->specifierForIndexPath(*path);
      if (!specifier) continue;
      Ref<TableViewCell> cell;
      if (!specifier->isType(kPrefsCustomViewSpecifier)) cell = screen.tableViewCellForRowAtIndexPath(*table, path);
      std::string title = cell && cell->textLabel()->text() ? *cell->textLabel()->text() : specifier->title().value_or("");
      if (title.empty()) title = "(" + kindOf(*specifier).substr(0, kindOf(*specifier).find(' ')) + ")";
      out << "    " << pad(title, 28) << " " << pad(shownValue(cell), 18) << " " << pad(specifier->key().value_or("-"), 34)
          << " " << kindOf(*specifier) << "\n";
    }
    if (auto footer = screen.tableViewTitleForFooterInSection(*table, s)) {
      std::string text = *footer;
      std::replace(text.begin(), text.end(), '\n', ' ');
      out << "      (" << text << ")\n";
    }
  }
}

std::optional<bool> parseSwitch(const std::string& value, const PrefsSpecifier& specifier) {
  if (zv::isEqual(box(value), specifier.trueValue())) return true;
  if (zv::isEqual(box(value), specifier.falseValue())) return false;
  std::string word = lower(value);
  if (word == "on" || word == "yes" || word == "true" || word == "1") return true;
  if (word == "off" || word == "no" || word == "false" || word == "0") return false;
  return std::nullopt;
}

std::optional<std::size_t> choiceIndex(const std::string& value, const PrefsSpecifier& specifier,
                                       const PrefsSettingsReader& reader) {
  auto values = specifier.multipleValues();
  auto titles = specifier.multipleTitles();
  if (!values) return std::nullopt;
  for (std::size_t i = 0; i < values->count(); ++i)
    if (stringValueOf(values->objectAtIndex(i)) == value) return i;
  for (std::size_t i = 0; titles && i < titles->count() && i < values->count(); ++i) {
    auto title = stringValueOf(titles->objectAtIndex(i)).value_or("");
    if (lower(title) == lower(value) || lower(reader.titleForStringId(title)) == lower(value)) return i;
  }
  return std::nullopt;
}

std::string allowedChoices(const PrefsSpecifier& specifier) {
  std::string text;
  auto values = specifier.multipleValues();
  auto titles = specifier.multipleTitles();
  for (std::size_t i = 0; values && i < values->count(); ++i) {
    if (!text.empty()) text += ", ";
    text += stringValueOf(values->objectAtIndex(i)).value_or("");
    if (titles && i < titles->count()) text += " (" + stringValueOf(titles->objectAtIndex(i)).value_or("") + ")";
  }
  return text;
}

int setValue(const std::string& key, const std::string& value, std::ostream& out, std::ostream& err) {
  for (const auto& pane : openPanes()) {
    auto& screen = *pane.screen;
    auto reader = screen.settingsReader();
    auto path = reader->indexPathForKey(key);
    if (!path) continue;
    auto specifier = reader->specifierForIndexPath(*path);
    auto table = screen.tableView();
    auto cell = screen.tableViewCellForRowAtIndexPath(*table, path);
    auto type = specifier->type().value_or("");
    if (type == kPrefsPSToggleSwitchSpecifier) {
      auto on = parseSwitch(value, *specifier);
      auto toggle = dyn<PrefsSwitch>(cell->accessoryView());
      if (!on || !toggle) {
        err << "zerivudor: " << key << " is a switch: give on or off\n";
        return 1;
      }
      toggle->setOn(*on);
      toggle->sendActionsForControlEvents(ControlEventValueChanged);
    } else if (type == kPrefsPSSliderSpecifier) {
      double number = 0;
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
      auto slider = dyn<PrefsPSSliderSpecifierViewCell>(cell);
      if (error != std::errc() || end != value.data() + value.size() || !std::isfinite(number) || !slider ||
          number < specifier->minimumValue() || number > specifier->maximumValue()) {
        err << "zerivudor: " << key << " takes a number from " << format("%g", specifier->minimumValue()) << " to "
            << format("%g", specifier->maximumValue()) << "\n";
        return 1;
      }
      slider->slider()->simulateSlide(number);
    } else if (type == kPrefsPSMultiValueSpecifier) {
      auto index = choiceIndex(value, *specifier, *reader);
      if (!index) {
        err << "zerivudor: " << key << " takes one of: " << allowedChoices(*specifier) << "\n";
        return 1;
      }
      auto picker = PrefsSpecifierValuesViewController::make();
      picker->setCurrentSpecifier(specifier);
      picker->setSettingsReader(reader);
      picker->setSettingsStore(screen.settingsStore());
      picker->view();
      picker->viewWillAppear(false);
      if (picker->checkedItem() && picker->checkedItem()->row() == *index) {
        // Tapping the checked value stores nothing; say so rather than pretend.
        out << key << " = " << shownValue(cell) << " (unchanged)\n";
        return 0;
      }
      picker->tableView()->simulateTapOnRow(IndexPath::forRow(*index, 0));
    } else if (type == kPrefsPSTextFieldSpecifier) {
      auto field = dyn<PrefsPSTextFieldSpecifierViewCell>(cell)->textField();
      field->setText(value);
      field->sendActionsForControlEvents(ControlEventEditingChanged);
    } else {
      err << "zerivudor: " << key << " is not editable (" << kindOf(*specifier) << ")\n";
      return 1;
    }
    screen.synchronizeSettings();
    out << key << " = " << shownValue(screen.tableViewCellForRowAtIndexPath(*table, path)) << "\n";
    return 0;
  }
  err << "zerivudor: no setting named " << key << "\n";
  return 2;
}

}  // namespace

int runSettingsCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  registerSettingsClasses();
  registerApplicationStoryboard();
  auto defaults = UserDefaults::standardUserDefaults();
  std::size_t stored = registerSettingsDefaults(*defaults, Bundle::mainBundle());
  if (stored > 0) {
    defaults->synchronize();
    out << "Registered " << stored << " default values in " << defaults->filePath().string() << "\n";
  }
  if (arguments.empty()) {
    for (const auto& pane : openPanes()) printPane(pane, out);
    return 0;
  }
  if (arguments[0] == "set" && arguments.size() == 3) return setValue(arguments[1], arguments[2], out, err);
  err << "usage: zerivudor settings [set KEY VALUE]\n";
  return 2;
}

}  // namespace zv
