#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "settings/PrefsSettingsReader.h"
#include "settings/PrefsSettingsStoreUserDefaults.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

Ref<Dictionary> row(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries) {
  return Dictionary::make(entries);
}

Ref<Dictionary> group(const char* title, const char* key = nullptr) {
  auto d = MutableDictionary::make({{"Type", box(kPrefsPSGroupSpecifier)}, {"Title", box(title)}});
  if (key) d->setObject(box(key), "Key");
  return d;
}

void writeDescription(const std::filesystem::path& path, std::vector<ObjectPtr> rows,
                      std::optional<std::string> stringsTable = std::nullopt) {
  auto root = MutableDictionary::make({{"PreferenceSpecifiers", Array::make(std::move(rows))}});
  if (stringsTable) root->setObject(box(*stringsTable), "StringsTable");
  std::filesystem::create_directories(path.parent_path());
  ASSERT_TRUE(storage::writePropertyList(path, *root, storage::PropertyListFormat::XML));
}

class SettingsReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& environment = ApplicationEnvironment::shared();
    environment.setPreferredLanguages({"en"});
    environment.setUserInterfaceIdiom(UserInterfaceIdiom::Phone);
  }
  void TearDown() override { ApplicationEnvironment::shared().reset(); }
  Ref<Bundle> bundle() { return Bundle::bundleWithPath(dir.path()); }
  testing::TemporaryDirectory dir;
};

TEST_F(SettingsReaderTest, LookupTriesSixteenCandidatesInOrder) {
  // Every candidate, most preferred first.
  std::vector<std::string> expected;
  for (std::string folder : {"AppPrefs.bundle", "Settings.bundle"})
    for (std::string ext : {".prefs.plist", ".plist"})
      for (std::string suffix : {"~iphone", ""})
        for (std::string lang : {"/en.lproj", ""}) expected.push_back(folder + lang + "/Root" + suffix + ext);
  ASSERT_EQ(expected.size(), 16u);
  EXPECT_EQ(expected.front(), "AppPrefs.bundle/en.lproj/Root~iphone.prefs.plist");
  EXPECT_EQ(expected.back(), "Settings.bundle/Root.plist");

  auto reader = PrefsSettingsReader::make("Root", bundle());
  // Nothing exists: the last candidate tried comes back, and it loads nothing.
  EXPECT_EQ(reader->locateSettingsFile("Root"), (dir / expected.back()).string());
  EXPECT_EQ(reader->numberOfSections(), 0u);
  // Creating the candidates from the least preferred up, each new one wins.
  for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
    testing::writeFile(dir / *it, "x");
    ASSERT_EQ(reader->locateSettingsFile("Root"), (dir / *it).string()) << *it;
  }
}

TEST_F(SettingsReaderTest, BundleFolderOutranksSuffixAndExtension) {
  testing::writeFile(dir / "AppPrefs.bundle/Root.plist", "x");
  testing::writeFile(dir / "Settings.bundle/Root~iphone.plist", "x");
  auto reader = PrefsSettingsReader::make("Root", bundle());
  EXPECT_EQ(reader->locateSettingsFile("Root"), (dir / "AppPrefs.bundle/Root.plist").string());
  ApplicationEnvironment::shared().setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
  testing::writeFile(dir / "AppPrefs.bundle/Root~ipad.plist", "x");
  EXPECT_EQ(reader->locateSettingsFile("Root"), (dir / "AppPrefs.bundle/Root~ipad.plist").string());
}

TEST_F(SettingsReaderTest, StringsTableNameRules) {
  // No "StringsTable", a pane under a "~iphone" name, no table of the bare name: "Root".
  writeDescription(dir / "Settings.bundle/Pane~iphone.plist", {row({{"Type", box("PSTextFieldSpecifier")}})});
  EXPECT_EQ(PrefsSettingsReader::make("Pane", bundle())->localizationTable(), "Root");
  // With a table of the bare name beside it, that table.
  testing::writeFile(dir / "Settings.bundle/en.lproj/Pane.strings", "\"a\" = \"b\";");
  EXPECT_EQ(PrefsSettingsReader::make("Pane", bundle())->localizationTable(), "Pane");
  // "StringsTable" wins.
  writeDescription(dir / "Settings.bundle/Other.plist", {}, "Custom");
  EXPECT_EQ(PrefsSettingsReader::make("Other", bundle())->localizationTable(), "Custom");
}

TEST_F(SettingsReaderTest, SectionsHeadingsAndHiddenKeys) {
  writeDescription(dir / "Settings.bundle/Root.plist",
                   {row({{"Type", box("PSToggleSwitchSpecifier")}, {"Key", box("first")}}), group("One", "g1"),
                    row({{"Type", box("PSTextFieldSpecifier")}, {"Key", box("a")}}), group("Two", "g2"),
                    row({{"Type", box("PSTextFieldSpecifier")}, {"Key", box("b")}}),
                    row({{"Type", box("PSTextFieldSpecifier")}, {"Key", box("c")}})});
  auto reader = PrefsSettingsReader::make("Root", bundle());
  ASSERT_EQ(reader->numberOfSections(), 3u);
  // A first row that is not a group opens a section without heading.
  EXPECT_EQ(reader->numberOfRowsForSection(0), 1u);
  EXPECT_EQ(reader->titleForSection(0), std::nullopt);
  EXPECT_EQ(reader->titleForSection(1), "One");
  EXPECT_EQ(reader->keyForSection(2), "g2");
  EXPECT_EQ(reader->numberOfRowsForSection(2), 2u);
  auto path = reader->indexPathForKey("c");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->section(), 2u);
  EXPECT_EQ(path->row(), 1u);
  auto specifier = reader->specifierForIndexPath(*path);
  ASSERT_NE(specifier, nullptr);
  EXPECT_EQ(specifier->key(), "c");
  EXPECT_EQ(specifier->settingsReader(), reader);

  // Hiding a group row merges its rows into the section before it.
  reader->setHiddenKeys(Set::makeWithStrings({"g2", "a"}));
  ASSERT_EQ(reader->numberOfSections(), 2u);
  EXPECT_EQ(reader->numberOfRowsForSection(1), 2u);
  EXPECT_EQ(reader->indexPathForKey("a"), nullptr);
  EXPECT_EQ(reader->indexPathForKey("b")->section(), 1u);
  EXPECT_EQ(reader->indexPathForKey("b")->row(), 0u);
}

TEST_F(SettingsReaderTest, MalformedDescriptionGivesNoSectionsAndALogLine) {
  testing::writeFile(dir / "Settings.bundle/Root.plist", "<plist><dict><key>oops");
  LogCapture capture;
  auto reader = PrefsSettingsReader::make("Root", bundle());
  EXPECT_EQ(reader->numberOfSections(), 0u);
  EXPECT_EQ(reader->specifierForKey("anything"), nullptr);
  EXPECT_TRUE(capture.contains("Settings.bundle/Root.plist"));
}

TEST_F(SettingsReaderTest, TitlesAreLocalizedThroughTheTable) {
  writeDescription(dir / "Settings.bundle/Root.plist",
                   {group("Heading"), row({{"Type", box(kPrefsPSMultiValueSpecifier)},
                                           {"Key", box("pattern")},
                                           {"Title", box("Pattern")},
                                           {"Titles", Array::make({box("Relax"), box("Energy")})},
                                           {"Values", Array::make({box(1), box(2)})}})},
                   "Root");
  testing::writeFile(dir / "Settings.bundle/en.lproj/Root.strings", "\"Heading\" = \"Rubrica\"; \"Energy\" = \"Energia\";");
  auto reader = PrefsSettingsReader::make("Root", bundle());
  EXPECT_EQ(reader->titleForSection(0), "Rubrica");
  auto specifier = reader->specifierForIndexPath(*IndexPath::forRow(0, 0));
  ASSERT_NE(specifier, nullptr);
  EXPECT_EQ(specifier->title(), "Pattern");  // no entry: the key stands
  EXPECT_EQ(specifier->titleForCurrentValue(box(2)), "Energia");
  EXPECT_EQ(specifier->titleForCurrentValue(box(3)), std::nullopt);
  EXPECT_EQ(specifier->textAlignment(), PrefsTextAlignment::Right);
}

TEST(PrefsSpecifierTest, TypedAccessorsAndTheirDefaults) {
  auto mismatched = PrefsSpecifier::make(row({{"Type", box(kPrefsPSMultiValueSpecifier)},
                                              {"Values", Array::make({box(1), box(2), box(3), box(4)})},
                                              {"Titles", Array::make({box("a"), box("b"), box("c")})}}));
  EXPECT_EQ(mismatched->titleForCurrentValue(box(1)), std::nullopt);
  EXPECT_EQ(mismatched->multipleValuesCount(), 4u);

  // The true value is compared first.
  auto both = PrefsSpecifier::make(row({{"DefaultValue", box("x")}, {"TrueValue", box("x")}, {"FalseValue", box("x")}}));
  EXPECT_TRUE(both->defaultBoolValue());
  auto falseOne = PrefsSpecifier::make(row({{"DefaultValue", box("off")}, {"TrueValue", box("on")}, {"FalseValue", box("off")}}));
  EXPECT_FALSE(falseOne->defaultBoolValue());
  EXPECT_TRUE(PrefsSpecifier::make(row({{"DefaultValue", box(true)}}))->defaultBoolValue());

  struct Case {
    const char* text;
    PrefsKeyboardType expected;
  };
  for (Case c : {Case{"Alphabet", PrefsKeyboardType::Default}, Case{"NumberPad", PrefsKeyboardType::NumberPad},
                 Case{"DecimalPad", PrefsKeyboardType::DecimalPad}, Case{"EmailAddress", PrefsKeyboardType::EmailAddress},
                 Case{"Unknown", PrefsKeyboardType::Default}}) {
    EXPECT_EQ(PrefsSpecifier::make(row({{"KeyboardType", box(c.text)}}))->keyboardType(), c.expected) << c.text;
  }
  EXPECT_EQ(PrefsSpecifier::make(row({{"AutocapitalizationType", box("Words")}}))->autocapitalizationType(),
            PrefsAutocapitalizationType::Words);
  EXPECT_EQ(PrefsSpecifier::make(row({{"AutocorrectionType", box("No")}}))->autoCorrectionType(), PrefsAutocorrectionType::No);
  EXPECT_EQ(PrefsSpecifier::make(row({{"Type", box(kPrefsButtonSpecifier)}}))->textAlignment(), PrefsTextAlignment::Center);
  EXPECT_EQ(PrefsSpecifier::make(row({{"Type", box(kPrefsButtonSpecifier)}, {"PrefsCellImage", box("i")}}))->textAlignment(),
            PrefsTextAlignment::Left);
  EXPECT_TRUE(PrefsSpecifier::make(row({}))->adjustsFontSizeToFitWidth());
  EXPECT_FALSE(PrefsSpecifier::make(row({{"PrefsAdjustsFontSizeToFitWidth", box(false)}}))->adjustsFontSizeToFitWidth());
  EXPECT_EQ(PrefsSpecifier::make(row({{"MinimumValue", box("2.5")}}))->minimumValue(), 2.5f);
  EXPECT_EQ(PrefsSpecifier::make(row({{"PrefsViewControllerClass", box("NoSuchScreen")}}))->viewControllerClass(), nullptr);
}

TEST(PrefsSettingsStoreUserDefaultsTest, TwoStoresOverTheStandardDefaultsShareValues) {
  testing::TemporaryDirectory home;
  ApplicationEnvironment::shared().setHomeDirectory(home.path());
  UserDefaults::resetStandardUserDefaults();
  auto first = PrefsSettingsStoreUserDefaults::make();
  auto second = PrefsSettingsStoreUserDefaults::make();
  first->setInteger(12, "count_preference");
  EXPECT_EQ(second->integerForKey("count_preference"), 12);
  second->setObject(box("99999999999"), "count_preference");
  EXPECT_EQ(first->integerForKey("count_preference"), INT32_MAX);
  EXPECT_TRUE(first->synchronize());
  UserDefaults::resetStandardUserDefaults();
  ApplicationEnvironment::shared().reset();
}

}  // namespace
}  // namespace zv
