// The settings command over descriptions a test writes: what it shows of odd values and broken
// descriptions, and the input it refuses.

#include <gtest/gtest.h>

#include <sstream>

#include "app/MySettingsViewController.h"
#include "app/SettingsCommand.h"
#include "settings/SettingsUITest.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

TEST(TerminalSafeTextTest, EscapesControlCharactersAndCutsLongText) {
  struct Case {
    std::string text;
    std::size_t width;
    std::string shown;
  };
  const Case cases[] = {
      {"plain", 18, "plain"},
      {"a\nb", 18, "a\\nb"},
      {"tab\there\r", 18, "tab\\there\\r"},
      {"\x1b[31mred", 18, "\\x1B[31mred"},
      {"bell\x07 del\x7f", 18, "bell\\x07 del\\x7F"},
      {"c1\xc2\x9b" "2J", 18, "c1\\u009B2J"},
      {"caf\xc3\xa9 \xe2\x82\xac", 18, "caf\xc3\xa9 \xe2\x82\xac"},   // printable UTF-8 stays
      {"broken\xff", 18, "broken\\xFF"},
      {"exactly eighteen!!", 18, "exactly eighteen!!"},
      {"nineteen characters", 18, "nineteen characte\xe2\x80\xa6"},
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 3, "\xc3\xa9\xc3\xa9\xe2\x80\xa6"},  // counts characters, not bytes
      {"ab\ncd", 4, "ab\xe2\x80\xa6"},  // an escape is never cut in half
      {"", 18, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(terminalSafeText(c.text, c.width), c.shown);
  }
}

class SettingsCommandInputTest : public SettingsUITest {
 protected:
  void SetUp() override {
    SettingsUITest::SetUp();
    registerApplicationStoryboard();
  }
  int run(std::vector<std::string> arguments) {
    out.str("");
    err.str("");
    return runSettingsCommand(arguments, out, err);
  }
  static Ref<Dictionary> text(const char* key, const char* title) {
    return row({{"Type", box(kPrefsPSTextFieldSpecifier)}, {"Key", box(key)}, {"Title", box(title)}});
  }
  static Ref<Dictionary> pane(const char* file, const char* title) {
    return row({{"Type", box(kPrefsPSChildPaneSpecifier)}, {"File", box(file)}, {"Title", box(title)}});
  }
  std::ostringstream out, err;
};

TEST_F(SettingsCommandInputTest, StoredValuesAreListedEscapedAndCutToTheirColumn) {
  writeDescription("Root", {group("Profile"), text("name_preference", "Name"), text("note_preference", "Note")});
  defaults()->setObject(box("line one\nline two\x1b[2J"), "name_preference");
  defaults()->setObject(box("a note far longer than the value column"), "note_preference");
  ASSERT_EQ(run({}), 0) << err.str();
  std::string listing = out.str();
  EXPECT_EQ(listing.find('\x1b'), std::string::npos);
  EXPECT_NE(listing.find("line one\\nline tw\xe2\x80\xa6"), std::string::npos) << listing;
  EXPECT_NE(listing.find("a note far longer\xe2\x80\xa6 note_preference"), std::string::npos) << listing;
  // Every row stays on one line: heading, group, two rows, credits footer.
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 5) << listing;
}

TEST_F(SettingsCommandInputTest, AValueThatIsNotUTF8IsRefusedAndNothingIsStored) {
  writeDescription("Root", {text("name_preference", "Name")});
  for (std::string value : {std::string("\xff\xfe"), std::string("caf\xc3"), std::string("\xc0\xaf")}) {
    EXPECT_EQ(run({"set", "name_preference", value}), 1);
    EXPECT_NE(err.str().find("not valid UTF-8"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(defaults()->objectForKey("name_preference"), nullptr);
    EXPECT_TRUE(changes.empty());
  }
  EXPECT_EQ(run({"set", "name_preference", "caf\xc3\xa9"}), 0) << err.str();
  EXPECT_EQ(defaults()->stringForKey("name_preference"), "caf\xc3\xa9");
}

TEST_F(SettingsCommandInputTest, ChildPanesThatCannotBeReadAreSaidAndTheRestShows) {
  writeDescription("Root", {group("Panes"), pane("Missing", "Missing pane"), pane("Display.plist", "Display"),
                            pane("../Secret", "Secret"), text("name_preference", "Name")});
  writeDescription("Display", {text("shown_preference", "Shown")});
  // A description outside the settings bundle that "../Secret" would reach.
  writeFile(resources / "Secret.plist", "<plist><dict><key>PreferenceSpecifiers</key><array><dict><key>Type</key>"
                                        "<string>PSTextFieldSpecifier</string><key>Key</key><string>secret_key</string>"
                                        "</dict></array></dict></plist>");
  // The rest shows, but the settings could not all be read: the command fails.
  ASSERT_EQ(run({}), 1) << err.str();
  EXPECT_NE(out.str().find("[Display.plist]"), std::string::npos) << out.str();  // "File" ending in .plist
  EXPECT_NE(out.str().find("shown_preference"), std::string::npos);
  EXPECT_NE(out.str().find("name_preference"), std::string::npos);
  EXPECT_EQ(out.str().find("secret_key"), std::string::npos);
  EXPECT_EQ(out.str().find("[Missing]"), std::string::npos);  // no empty heading
  EXPECT_NE(err.str().find("settings pane Missing cannot be shown"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Missing.plist does not exist"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("../Secret\" leads out of the settings bundle"), std::string::npos) << err.str();

  // Screens read their panes the same way.
  auto reader = PrefsSettingsReader::makeWithFile("Display.plist");
  EXPECT_NE(reader->indexPathForKey("shown_preference"), nullptr);
  EXPECT_EQ(PrefsSettingsReader::makeWithFile("../Secret")->settingsDictionary(), nullptr);
  EXPECT_EQ(PrefsSettingsReader::makeWithFile("/etc/passwd")->settingsDictionary(), nullptr);
}

TEST_F(SettingsCommandInputTest, AMissingOrUnreadableRootIsAnErrorNotAnEmptyTab) {
  ASSERT_EQ(run({}), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("Root.plist does not exist"), std::string::npos) << err.str();
  EXPECT_EQ(run({"set", "name_preference", "x"}), 1);

  fs::create_directories(resources / "Settings.bundle");
  writeFile(resources / "Settings.bundle/Root.plist", "<plist><dict><key>broken");
  ASSERT_EQ(run({}), 1);
  EXPECT_NE(err.str().find("Root.plist cannot be read"), std::string::npos) << err.str();
  // Nothing was registered or written for a tab that could not be read.
  EXPECT_FALSE(fs::exists(home / "Preferences/com.mirovast.zerivudor.plist"));
}

TEST_F(SettingsCommandInputTest, SettingAValueInAnUnusableHomeFailsAndSaysWhy) {
  writeDescription("Root", {text("name_preference", "Name")});
  writeFile(home / "plain", "a file where the home should be");
  ApplicationEnvironment::shared().setHomeDirectory(home / "plain" / "home");
  UserDefaults::resetStandardUserDefaults();
  EXPECT_EQ(run({"set", "name_preference", "Frank"}), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("name_preference was not saved"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Not a directory"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace zv::testing
