#include "app/SettingsCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>
#include <set>

#include "app/MySettingsViewController.h"
#include "app/SettingsDefaults.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Unicode.h"
#include "platform/system/Bundle.h"
#include "platform/system/UserDefaults.h"
#include "settings/PrefsPSSliderSpecifierViewCell.h"
#include "settings/PrefsPSTextFieldSpecifierViewCell.h"
#include "settings/PrefsSpecifierValuesViewController.h"

namespace zv {

using namespace ui;

namespace {

constexpr std::size_t kTitleWidth = 28;
constexpr std::size_t kValueWidth = 18;
constexpr std::size_t kKeyWidth = 34;
constexpr std::size_t kLineWidth = 200;

struct Pane {
  std::string file;
  Ref<PrefsAppSettingsViewController> screen;
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Root first, then every child pane in the order the rows name them, each once. A child pane
// whose description cannot be read is said on `err`, left out and counted in `unreadable`.
std::vector<Pane> openPanes(std::ostream& err, std::size_t& unreadable) {
  unreadable = 0;
  std::vector<Pane> panes;
  std::vector<std::string> pending{"Root"};
  std::set<std::string> seen;
  while (!pending.empty()) {
    std::string file = pending.front();
    pending.erase(pending.begin());
    if (!seen.insert(file).second) continue;
    // Child panes are screens of the tab's own class, as the tab opens them.
    Ref<PrefsAppSettingsViewController> screen = MySettingsViewController::make();
    if (file != "Root") {
      screen->setFile(file);
      screen->setShowCreditsFooter(false);
    }
    screen->view();
    auto reader = screen->settingsReader();
    if (!reader->settingsDictionary()) {
      ++unreadable;
      if (file != "Root")
        err << "zerivudor: the settings pane " << terminalSafeText(file, kLineWidth) << " cannot be shown: "
            << terminalSafeText(reader->loadError() ? reader->loadError()->localizedDescription() : "no description",
                                kLineWidth)
            << "\n";
      continue;
    }
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

std::size_t characterCount(std::string_view text) {
  std::size_t length = 0;
  for (unsigned char c : text) length += (c & 0xC0) != 0x80;
  return length;
}

std::string pad(std::string text, std::size_t width) {
  // Column widths count characters, not bytes, so accented titles line up.
  std::size_t length = characterCount(text);
  if (length < width) text.append(width - length, ' ');
  return text;
}

}  // namespace

std::string terminalSafeText(std::string_view text, std::size_t maximumCharacters) {
  // Control characters (C0, DEL and C1) are shown escaped, so stored text can neither move the
  // cursor nor break the table.
  std::vector<std::string> pieces;
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + length > text.size()) length = 1;
    std::string_view piece = text.substr(i, length);
    if (c == '\n')
      pieces.emplace_back("\\n");
    else if (c == '\t')
      pieces.emplace_back("\\t");
    else if (c == '\r')
      pieces.emplace_back("\\r");
    else if (c < 0x20 || c == 0x7F)
      pieces.push_back(format("\\x%02X", c));
    else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(piece[1]) < 0xA0)
      pieces.push_back(format("\\u%04X", static_cast<unsigned char>(piece[1])));
    else if (length == 1 && c >= 0x80)
      pieces.push_back(format("\\x%02X", c));  // a stray byte of broken UTF-8
    else
      pieces.emplace_back(piece);
    i += length;
  }
  std::string shown;
  std::size_t count = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::size_t width = characterCount(pieces[i]);
    // The last character of a long value gives way to the ellipsis.
    bool last = i + 1 == pieces.size();
    if (count + width > maximumCharacters || (!last && count + width == maximumCharacters)) {
      return shown + "\u2026";
    }
    shown += pieces[i];
    count += width;
  }
  return shown;
}

namespace {

void printPane(const Pane& pane, std::ostream& out) {
  auto& screen = *pane.screen;
  auto table = screen.tableView();
  auto reader = screen.settingsReader();
  std::string heading = pane.file == "Root" ? screen.title().value_or(Bundle::mainBundle()->localizedStringForKey("Settings", "Settings")) : pane.file;
  heading = terminalSafeText(heading, kTitleWidth);
  out << "[" << heading << "]\n";
  for (std::size_t s = 0; s < screen.numberOfSectionsInTableView(*table); ++s) {
    if (auto header = screen.tableViewTitleForHeaderInSection(*table, s))
      out << "  " << terminalSafeText(*header, kLineWidth) << "\n";
    for (std::size_t r = 0; r < screen.tableViewNumberOfRowsInSection(*table, s); ++r) {
      auto path = IndexPath::forRow(r, s);
      auto specifier = reader->specifierForIndexPath(*path);
      if (!specifier) continue;
      Ref<TableViewCell> cell;
      if (!specifier->isType(kPrefsCustomViewSpecifier)) cell = screen.tableViewCellForRowAtIndexPath(*table, path);
      std::string title = cell && cell->textLabel()->text() ? *cell->textLabel()->text() : specifier->title().value_or("");
      if (title.empty()) title = "(" + kindOf(*specifier).substr(0, kindOf(*specifier).find(' ')) + ")";
      out << "    " << pad(terminalSafeText(title, kTitleWidth), kTitleWidth) << " "
          << pad(terminalSafeText(shownValue(cell), kValueWidth), kValueWidth) << " "
          // Keys are never cut: they are what `set` takes.
          << pad(terminalSafeText(specifier->key().value_or("-"), kLineWidth), kKeyWidth) << " " << kindOf(*specifier)
          << "\n";
    }
    if (auto footer = screen.tableViewTitleForFooterInSection(*table, s)) {
      std::string text = *footer;
      std::replace(text.begin(), text.end(), '\n', ' ');
      out << "      (" << terminalSafeText(text, kLineWidth) << ")\n";
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

std::string describeFailure(const Ref<Error>& failure) {
  return failure ? failure->localizedDescription() : "unknown error";
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
  std::size_t unreadable = 0;
  for (const auto& pane : openPanes(err, unreadable)) {
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
        out << key << " = " << terminalSafeText(shownValue(cell), kLineWidth) << " (unchanged)\n";
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
    // The screen's store is the standard user defaults; a value that did not reach the file was
    // not set, whatever the screen now shows.
    Ref<Error> failure;
    if (!UserDefaults::standardUserDefaults()->synchronize(&failure)) {
      err << "zerivudor: " << key << " was not saved: " << describeFailure(failure) << "\n";
      return 1;
    }
    out << key << " = " << terminalSafeText(shownValue(screen.tableViewCellForRowAtIndexPath(*table, path)), kLineWidth)
        << "\n";
    return 0;
  }
  // The key may be one of the pane that could not be read: that is a failure, not a misuse.
  if (unreadable > 0) {
    err << "zerivudor: " << key << " is in none of the panes that could be read; nothing was stored\n";
    return 1;
  }
  err << "zerivudor: no setting named " << key << "\n";
  return 2;
}

}  // namespace

bool isHelpRequest(const std::string& argument) {
  return argument == "--help" || argument == "-h" || argument == "help";
}

std::string usageText() {
  return "usage: zerivudor settings                 show the Settings tab: every pane, row and value\n"
         "       zerivudor settings set KEY VALUE   change one value as a touch on the screen would\n"
         "       zerivudor help                     show this text (also --help, -h)\n"
         "\n"
         "Environment:\n"
         "  ZV_HOME       where the settings are kept (default: $XDG_DATA_HOME/zerivudor, else\n"
         "                ~/.local/share/zerivudor; a relative XDG_DATA_HOME is ignored, and ~ is\n"
         "                $HOME, else the home the password database gives); the values are in\n"
         "                Preferences/ inside it\n"
         "  ZV_RESOURCES  the folder that holds Settings.bundle (default: the resources installed or\n"
         "                built with the program)\n";
}

int runSettingsCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  // Everything that needs no settings is answered before the home is touched.
  if (!arguments.empty() && isHelpRequest(arguments[0])) {
    out << usageText();
    return 0;
  }
  bool show = arguments.empty();
  if (!show && !(arguments[0] == "set" && arguments.size() == 3)) {
    err << usageText();
    return 2;
  }
  if (!show && !unicode::isValidUTF8(arguments[2])) {
    err << "zerivudor: the value for " << arguments[1] << " is not valid UTF-8 text; nothing was stored\n";
    return 1;
  }
  registerSettingsClasses();
  registerApplicationStoryboard();
  auto bundle = Bundle::mainBundle();
  auto root = PrefsSettingsReader::make("Root", bundle);
  if (!root->settingsDictionary()) {
    err << "zerivudor: no settings to show: "
        << (root->loadError() ? root->loadError()->localizedDescription() : "the settings description is missing")
        << " (set ZV_RESOURCES to the folder that holds Settings.bundle)\n";
    return 1;
  }
  auto defaults = UserDefaults::standardUserDefaults();
  std::size_t stored = registerSettingsDefaults(*defaults, bundle);
  int status = 0;
  if (stored > 0) {
    Ref<Error> failure;
    if (defaults->synchronize(&failure)) {
      out << "Registered " << stored << " default values in " << defaults->filePath().string() << "\n";
    } else {
      err << "zerivudor: the default values could not be saved: " << describeFailure(failure) << "\n";
      if (!show) return 1;
      status = 1;
    }
  }
  if (!show) return setValue(arguments[1], arguments[2], out, err);
  std::size_t unreadable = 0;
  for (const auto& pane : openPanes(err, unreadable)) printPane(pane, out);
  return unreadable > 0 ? 1 : status;
}

}  // namespace zv
