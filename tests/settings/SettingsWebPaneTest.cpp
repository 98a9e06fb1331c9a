#include <gtest/gtest.h>

#include "SettingsUITest.h"
#include "platform/runloop/RunLoopPump.h"
#include "settings/PrefsAppSettingsWebViewController.h"

namespace zv::testing {
namespace {

class SettingsWebPaneTest : public SettingsUITest {
 protected:
  void SetUp() override {
    SettingsUITest::SetUp();
    writeFile(resources / "help.html", "<html><head><title>Help page</title></head><body>hi</body></html>");
    writeFile(resources / "pages/more.html", "<html><head><title>More</title></head></html>");
    writeFile(outside / "secret.html", "<html><head><title>Secret</title></head></html>");
  }
  bool decide(PrefsAppSettingsWebViewController& pane, std::string_view url) {
    auto request = net::URLRequest::requestWithURL(URL::make(url));
    return pane.webViewShouldStartLoadWithRequestNavigationType(*pane.webView(), request,
                                                               ui::WebViewNavigationType::LinkClicked);
  }
  Ref<ui::MailComposeViewController> composerOf(const Ref<PrefsAppSettingsWebViewController>& pane) {
    auto navigation = pane->navigationController();
    return dyn<ui::MailComposeViewController>(navigation ? navigation->presentedViewController()
                                                         : pane->presentedViewController());
  }
  const std::vector<Ref<URL>>& opened() { return ui::Application::sharedApplication()->openedURLs(); }
  TemporaryDirectory outside;
};

TEST_F(SettingsWebPaneTest, AResourceNameBecomesAFileURLAndThePageTitleTheScreenTitle) {
  auto pane = PrefsAppSettingsWebViewController::make("help.html", "ignored");
  ASSERT_NE(pane->url(), nullptr);
  EXPECT_TRUE(pane->url()->isFileURL());
  EXPECT_EQ(pane->url()->lastPathComponent(), "help.html");
  show(pane);
  EXPECT_TRUE(pumpRunLoopUntil([&] { return pane->navigationItem()->title() == "Help page"; }, 5));
  EXPECT_EQ(pane->webView()->pageTitle(), "Help page");

  EXPECT_EQ(PrefsAppSettingsWebViewController::make("https://example.org/a")->url()->host(), "example.org");
  // Neither a URL nor a resource: an empty pane.
  EXPECT_EQ(PrefsAppSettingsWebViewController::make("missing.html")->url(), nullptr);
}

TEST_F(SettingsWebPaneTest, LinksLoadInsideOnlyFromTheSameHostOrTheResources) {
  auto pane = PrefsAppSettingsWebViewController::make("https://example.org/help");
  show(pane);
  EXPECT_TRUE(decide(*pane, "https://example.org/other"));
  EXPECT_TRUE(decide(*pane, "http://EXAMPLE.org/other"));
  EXPECT_TRUE(opened().empty());

  // Another host leaves the pane for the system browser.
  EXPECT_FALSE(decide(*pane, "https://elsewhere.example/"));
  ASSERT_EQ(opened().size(), 1u);
  EXPECT_EQ(opened()[0]->host(), "elsewhere.example");

  // Scripts and inline data never run in the pane, and are not handed on either.
  EXPECT_FALSE(decide(*pane, "javascript:alert(document.cookie)"));
  EXPECT_FALSE(decide(*pane, "data:text/html,<script>x</script>"));
  EXPECT_EQ(opened().size(), 1u);

  // Files: the application's resources only, however the path is spelled.
  EXPECT_TRUE(decide(*pane, URL::fileURL((resources / "pages/more.html").string())->absoluteString()));
  EXPECT_FALSE(decide(*pane, URL::fileURL((outside / "secret.html").string())->absoluteString()));
  EXPECT_FALSE(decide(*pane, URL::fileURL((resources / "pages/../../etc/passwd").string())->absoluteString()));
  EXPECT_FALSE(decide(*pane, "file:///etc/passwd"));
  EXPECT_EQ(opened().size(), 1u);
}

TEST_F(SettingsWebPaneTest, URLsWithoutAHostStayInsideButScriptsStillNeverRun) {
  auto pane = PrefsAppSettingsWebViewController::make("https://example.org/help");
  show(pane);
  EXPECT_TRUE(decide(*pane, "about:blank"));
  EXPECT_TRUE(decide(*pane, "zerivudor:settings/display"));
  EXPECT_TRUE(opened().empty());
  EXPECT_FALSE(decide(*pane, "JavaScript:void(0)"));
  EXPECT_FALSE(decide(*pane, "DATA:text/plain,hello"));
  EXPECT_FALSE(decide(*pane, "file:///etc/passwd"));
  EXPECT_TRUE(opened().empty());
  // An application scheme with a host is another place: the system opens it.
  EXPECT_FALSE(decide(*pane, "otherapp://open/thing"));
  ASSERT_EQ(opened().size(), 1u);
  EXPECT_EQ(opened()[0]->scheme(), "otherapp");
}

TEST_F(SettingsWebPaneTest, MailLinksOpenAPreparedComposerWithDecodedParts) {
  auto pane = PrefsAppSettingsWebViewController::make("help.html");
  show(pane);
  EXPECT_FALSE(decide(*pane, "mailto:support%40example.org?Subject=Help%20me%21&cc=a@x.org,b@x.org&body=Hi%0Athere&to=c@x.org"));
  settle();
  auto composer = composerOf(pane);
  ASSERT_NE(composer, nullptr);
  EXPECT_EQ(composer->toRecipients(), (std::vector<std::string>{"support@example.org", "c@x.org"}));
  EXPECT_EQ(composer->subject(), "Help me!");
  EXPECT_EQ(composer->ccRecipients(), (std::vector<std::string>{"a@x.org", "b@x.org"}));
  EXPECT_EQ(composer->messageBody(), "Hi\nthere");
  EXPECT_FALSE(composer->isBodyHTML());
  composer->simulateFinish(ui::MailComposeResult::Cancelled);
  settle();
  EXPECT_EQ(composerOf(pane), nullptr);

  // Two question marks: nothing happens.
  EXPECT_FALSE(decide(*pane, "mailto:a@x.org?subject=a?b"));
  settle();
  EXPECT_EQ(composerOf(pane), nullptr);
}

TEST_F(SettingsWebPaneTest, TheSettingsScreenOpensThePaneNamedByARow) {
  writeDescription("Root", {row({{"Type", box(kPrefsPSChildPaneSpecifier)},
                                 {"PrefsViewControllerClass", box("PrefsAppSettingsWebViewController")},
                                 {"PrefsViewControllerSelector", box("initWithFile:key:")},
                                 {"File", box("help.html")}, {"Key", box("help")}, {"Title", box("Help")}}),
                            row({{"Type", box(kPrefsPSChildPaneSpecifier)},
                                 {"PrefsViewControllerClass", box("NoSuchScreen")}, {"Title", box("Broken")}})});
  auto screen = PrefsAppSettingsViewController::make();
  auto navigation = show(screen);
  screen->tableView()->simulateTapOnRow(path(0, 1));
  settle();
  EXPECT_EQ(navigation->topViewController(), screen);
  screen->tableView()->simulateTapOnRow(path(0, 0));
  settle();
  auto pane = dyn<PrefsAppSettingsWebViewController>(navigation->topViewController());
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(pane->url()->lastPathComponent(), "help.html");
}

}  // namespace
}  // namespace zv::testing
