#include "platform/system/Bundle.h"

#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/system/SystemTestSupport.h"

namespace zv {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

class BundleTest : public testing::SystemTest {
 protected:
  void put(const std::string& relative, const std::string& contents = "x") {
    fs::path file = resources() / relative;
    fs::create_directories(file.parent_path());
    writeFile(file, contents);
  }
  std::string at(const std::string& relative) const { return (resources() / relative).string(); }
  void languages(std::vector<std::string> list) {
    ApplicationEnvironment::shared().setPreferredLanguages(std::move(list));
  }
};

TEST_F(BundleTest, ResourceLookupOrder) {
  put("plain.txt");
  put("fr.lproj/plain.txt");
  put("en.lproj/both.txt");
  put("fr.lproj/both.txt");
  put("Base.lproj/both.txt");
  put("Base.lproj/based.txt");
  put("pt.lproj/regional.txt");
  put("Settings.bundle/Root.plist");
  put("Settings.bundle/fr.lproj/Root.strings");
  fs::create_directories(resources() / "Sharing.bundle");
  languages({"fr", "en"});
  auto bundle = Bundle::mainBundle();

  struct Case {
    std::string name, type, subdirectory, localization;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"plain", "txt", "", "", at("plain.txt")},            // the plain folder outranks languages
      {"plain.txt", "", "", "", at("plain.txt")},           // the extension carried by the name
      {"plain", ".txt", "", "", at("plain.txt")},           // a type written with its dot
      {"both", "txt", "", "", at("fr.lproj/both.txt")},     // first preferred language
      {"both", "txt", "", "en", at("en.lproj/both.txt")},   // an explicit localization
      {"based", "txt", "", "", at("Base.lproj/based.txt")},  // Base after the languages
      {"based", "txt", "", "en", std::nullopt},              // an explicit localization only
      {"Root", "plist", "Settings.bundle", "", at("Settings.bundle/Root.plist")},
      {"Root", "strings", "Settings.bundle", "", at("Settings.bundle/fr.lproj/Root.strings")},
      {"Sharing", "bundle", "", "", at("Sharing.bundle")},  // folders are resources too
      {"regional", "txt", "", "", std::nullopt},
      {"missing", "txt", "", "", std::nullopt},
      {"", "txt", "", "", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(bundle->pathForResource(c.name, c.type, c.subdirectory, c.localization), c.expected)
        << c.name << "." << c.type << " in '" << c.subdirectory << "' for '" << c.localization << "'";

  languages({"pt-BR"});  // a regional language falls back to its language's folder
  EXPECT_EQ(bundle->pathForResource("regional", "txt"), at("pt.lproj/regional.txt"));
  EXPECT_EQ(bundle->pathForResource("both", "txt"), at("Base.lproj/both.txt"));

  auto url = bundle->URLForResource("plain", "txt");
  ASSERT_TRUE(url);
  EXPECT_TRUE(url->isFileURL());
  EXPECT_EQ(url->path(), at("plain.txt"));
}

TEST_F(BundleTest, ListsResourcesOfATypeAndItsLocalizations) {
  put("b.png");
  put("a.png");
  put("c.jpg");
  put("en.lproj/a.png");
  put("en.lproj/d.png");
  put("fr.lproj/e.png");
  put("Base.lproj/x.strings");
  auto bundle = Bundle::mainBundle();
  EXPECT_EQ(bundle->pathsForResourcesOfType("png"),
            (std::vector<std::string>{at("a.png"), at("b.png"), at("en.lproj/d.png")}));
  EXPECT_EQ(bundle->localizations(), (std::vector<std::string>{"Base", "en", "fr"}));
  EXPECT_EQ(bundle->preferredLocalizations(), std::vector<std::string>{"en"});
  languages({"de", "fr", "en"});
  EXPECT_EQ(bundle->preferredLocalizations(), (std::vector<std::string>{"fr", "en"}));
  languages({"de"});
  EXPECT_EQ(bundle->preferredLocalizations(), std::vector<std::string>{"en"});
}

TEST_F(BundleTest, LocalizedStringsFallBackThroughLanguagesBaseAndThePlainFolder) {
  put("it.lproj/Localizable.strings", "\"Hello\" = \"Ciao\";\n");
  put("en.lproj/Localizable.strings", "\"Hello\" = \"Hi\";\n\"Bye\" = \"Goodbye\";\n");
  put("Base.lproj/Localizable.strings", "\"Only base\" = \"from Base\";\n");
  put("Localizable.strings", "\"Only plain\" = \"from the plain folder\";\n");
  put("Base.lproj/Other.strings", "/* a second table */\n\"Hello\" = \"Hello from Other\";\n");
  languages({"it", "en"});
  auto bundle = Bundle::mainBundle();

  struct Case {
    std::string key, value, table, expected;
  };
  const std::vector<Case> cases = {
      {"Hello", "", "", "Ciao"},
      {"Bye", "", "", "Goodbye"},  // missing in the first language, found in the next
      {"Only base", "", "", "from Base"},
      {"Only plain", "", "", "from the plain folder"},
      {"Hello", "", "Localizable", "Ciao"},
      {"Hello", "", "Other", "Hello from Other"},
      {"Unknown", "", "", "Unknown"},
      {"Unknown", "Shown instead", "", "Shown instead"},
      {"Hello", "", "NoSuchTable", "Hello"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(bundle->localizedStringForKey(c.key, c.value, c.table), c.expected) << c.key << " in " << c.table;
}

TEST_F(BundleTest, AnUnreadableTableFallsBackToTheKeysWithOneLogLine) {
  put("en.lproj/Broken.strings", "\"Hello\" = \"unterminated;\n");
  auto bundle = Bundle::mainBundle();
  LogCapture capture;
  EXPECT_EQ(bundle->localizedStringForKey("Hello", "", "Broken"), "Hello");
  EXPECT_EQ(bundle->localizedStringForKey("Hello", "Fallback", "Broken"), "Fallback");
  std::size_t mentions = 0;
  for (const auto& line : capture.lines()) mentions += line.find("Broken.strings") != std::string::npos;
  EXPECT_EQ(mentions, 1u);
}

TEST_F(BundleTest, InfoValuesWithTheMainBundleDefaults) {
  auto bundle = Bundle::mainBundle();
  EXPECT_TRUE(isEqual(bundle->objectForInfoDictionaryKey(kBundleNameKey), box("Zerivudor")));
  EXPECT_TRUE(isEqual(bundle->objectForInfoDictionaryKey(kBundleVersionKey), box("1.0")));
  EXPECT_EQ(bundle->bundleIdentifier(), "com.mirovast.zerivudor");
  EXPECT_FALSE(bundle->objectForInfoDictionaryKey(kBundleDisplayNameKey));

  put("Other.bundle/Info.plist",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<plist version=\"1.0\"><dict><key>BundleVersion</key><string>2.5</string>"
      "<key>BundleShortVersion</key><string>2.5.1</string></dict></plist>\n");
  auto other = Bundle::bundleWithPath(resources() / "Other.bundle");
  ASSERT_TRUE(other);
  EXPECT_TRUE(isEqual(other->objectForInfoDictionaryKey(kBundleVersionKey), box("2.5")));
  EXPECT_TRUE(isEqual(other->objectForInfoDictionaryKey(kBundleShortVersionKey), box("2.5.1")));
  EXPECT_FALSE(other->objectForInfoDictionaryKey(kBundleNameKey));  // no defaults but for the main bundle
  EXPECT_FALSE(other->bundleIdentifier());
}

TEST_F(BundleTest, BundlesAreFoldersOpenedOnce) {
  put("Sharing.bundle/en.lproj/Localizable.strings", "\"Share\" = \"Share it\";\n");
  auto sharing = Bundle::bundleWithPath(resources() / "Sharing.bundle");
  ASSERT_TRUE(sharing);
  EXPECT_EQ(sharing, Bundle::bundleWithPath(resources() / "Sharing.bundle/"));
  EXPECT_EQ(sharing, Bundle::bundleWithPath(resources() / "." / "Sharing.bundle"));
  EXPECT_EQ(sharing->bundlePath(), at("Sharing.bundle"));
  EXPECT_EQ(sharing->localizedStringForKey("Share"), "Share it");
  EXPECT_EQ(Bundle::bundleWithPath(resources()), Bundle::mainBundle());
  EXPECT_FALSE(Bundle::bundleWithPath(resources() / "missing.bundle"));
  put("file.txt");
  EXPECT_FALSE(Bundle::bundleWithPath(resources() / "file.txt"));
}

TEST_F(BundleTest, TheMainBundleFolderComesFromTheEnvironment) {
  testing::ScopedEnvironment variables;
  variables.set("ZV_RESOURCES", (temporary.path() / "elsewhere").string());
  Bundle::setMainBundlePath(std::nullopt);
  EXPECT_EQ(Bundle::mainBundle()->bundlePath(), (temporary.path() / "elsewhere").string());

  // Without the variable: "resources" beside the executable or above it (this repository's).
  variables.set("ZV_RESOURCES", std::nullopt);
  Bundle::setMainBundlePath(std::nullopt);
  fs::path found = Bundle::mainBundle()->bundlePath();
  EXPECT_EQ(found.filename(), "resources");
  fs::path executable = fs::read_symlink("/proc/self/exe");
  EXPECT_TRUE(executable.string().starts_with(found.parent_path().string())) << found;
}

}  // namespace
}  // namespace zv
