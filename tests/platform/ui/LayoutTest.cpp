#include <gtest/gtest.h>

#include "UITestSupport.h"
#include "platform/ui/Font.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/TableViewController.h"
#include "platform/ui/WebView.h"

namespace zv::ui::testing {
namespace {

TEST(TextLayoutTest, WrapsLikeTheFixedMetricsSay) {
  auto font = Font::systemFontOfSize(10);  // 5 points a character
  struct Case {
    const char* text;
    double width;
    LineBreakMode mode;
    std::vector<std::string> lines;
  };
  std::vector<Case> cases = {
      {"hello world again", 60, LineBreakMode::WordWrap, {"hello world", "again"}},
      {"abcdefghijklmno", 25, LineBreakMode::WordWrap, {"abcde", "fghij", "klmno"}},
      {"a\nb c", 100, LineBreakMode::WordWrap, {"a", "b c"}},
      {"ab cd ef", 15, LineBreakMode::CharacterWrap, {"ab ", "cd ", "ef"}},
      {"\u00e9\u00e9\u00e9 \u00e9\u00e9\u00e9", 15, LineBreakMode::WordWrap, {"\u00e9\u00e9\u00e9", "\u00e9\u00e9\u00e9"}},
      {"abcdefgh", 20, LineBreakMode::TruncateTail, {"abcd"}},
      {"word", 2, LineBreakMode::WordWrap, {"w", "o", "r", "d"}},  // narrower than one character
  };
  for (const auto& c : cases) EXPECT_EQ(wrapText(c.text, *font, c.width, c.mode), c.lines) << c.text;
  EXPECT_EQ(sizeWithFont("", *font), (Size{0, 0}));
  EXPECT_EQ(sizeWithFont("abcdefghijklmno", *font, Size{25, 24}, LineBreakMode::WordWrap), (Size{25, 24}));
  EXPECT_EQ(sizeWithFont("abcdefgh", *font, 20.0, LineBreakMode::TruncateTail), (Size{20, 12}));
  // A surrogate pair counts as two characters, as callers count them.
  EXPECT_EQ(sizeWithFont("\U0001F600", *font).width, 10);
}

TEST(ScrollViewTest, OffsetsStayWithinTheContentAndZoomWithinItsScales) {
  auto scroll = ScrollView::make(Rect(0, 0, 100, 100));
  scroll->setContentSize({100, 500});
  EXPECT_EQ(scroll->maximumContentOffset(), (Point{0, 400}));
  scroll->scrollRectToVisible(Rect(0, 450, 10, 30), false);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 380}));
  scroll->scrollRectToVisible(Rect(0, 10, 10, 10), false);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 10}));
  scroll->scrollRectToVisible(Rect(0, 900, 10, 10), false);  // past the end: the last page
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 400}));
  scroll->setMinimumZoomScale(0.5);
  scroll->setMaximumZoomScale(3);
  scroll->setZoomScale(10);
  EXPECT_EQ(scroll->zoomScale(), 3);
  scroll->setZoomScale(0.1);
  EXPECT_EQ(scroll->zoomScale(), 0.5);
}

TEST(SimpleControlsTest, ValuesAreClampedAndMomentarySegmentsDoNotStay) {
  auto progress = ProgressView::make();
  progress->setProgress(1.5);
  EXPECT_EQ(progress->progress(), 1);
  progress->setProgress(std::nan(""));
  EXPECT_EQ(progress->progress(), 0);

  auto slider = Slider::make();
  slider->setMaximumValue(10);
  slider->setValue(-3);
  EXPECT_EQ(slider->value(), 0);

  auto segments = SegmentedControl::make({"a", "b", "c"});
  segments->setMomentary(true);
  int changes = 0;
  segments->addAction(ControlEventValueChanged, [&](Control& c) {
    ++changes;
    EXPECT_EQ(dynamic_cast<SegmentedControl&>(c).selectedSegmentIndex(), 2);
  });
  segments->simulateTapSegment(2);
  segments->simulateTapSegment(2);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(segments->selectedSegmentIndex(), kSegmentedControlNoSegment);
  segments->insertSegmentWithTitle("z", 0);
  EXPECT_EQ(segments->titleForSegmentAtIndex(0), std::optional<std::string>("z"));
  EXPECT_EQ(segments->titleForSegmentAtIndex(9), std::nullopt);

  auto spinner = ActivityIndicatorView::make(ActivityIndicatorViewStyle::WhiteLarge);
  EXPECT_TRUE(spinner->isHidden());
  spinner->startAnimating();
  EXPECT_FALSE(spinner->isHidden());
  spinner->setHidesWhenStopped(false);
  spinner->stopAnimating();
  EXPECT_FALSE(spinner->isHidden());
  EXPECT_EQ(spinner->frame().size, (Size{37, 37}));
}

// Sections with headers from the delegate and footers from titles.
class SectionsScreen : public TableViewController {
 public:
  SectionsScreen() : TableViewController(TableViewStyle::Grouped) {}
  std::size_t numberOfSectionsInTableView(TableView&) override { return rows.size(); }
  std::size_t tableViewNumberOfRowsInSection(TableView&, std::size_t s) override { return rows[s]; }
  Ref<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table, const Ref<IndexPath>&) override {
    auto cell = table.dequeueReusableCellWithIdentifier("c");
    return cell ? cell : TableViewCell::make(TableViewCellStyle::Subtitle, "c");
  }
  std::optional<std::string> tableViewTitleForFooterInSection(TableView&, std::size_t s) override {
    if (s == 0) return "A footer that needs two lines in a grouped table of this width.";
    return std::nullopt;
  }
  double tableViewHeightForHeaderInSection(TableView&, std::size_t s) override { return s == 1 ? 60 : -1; }
  Ref<View> tableViewViewForHeaderInSection(TableView&, std::size_t s) override {
    return s == 1 ? View::make(Rect(0, 0, 10, 10)) : nullptr;
  }
  double tableViewHeightForRowAtIndexPath(TableView&, const Ref<IndexPath>& p) override {
    return p->section() == 1 ? 80 : -1;
  }
  std::vector<std::size_t> rows{2, 1};
};

TEST(TableGeometryTest, HeadersFootersAndRowHeightsComeFromDelegateTitlesAndDefaults) {
  auto screen = std::make_shared<SectionsScreen>();
  auto table = screen->tableView();
  table->setFrame(Rect(0, 0, 320, 460));
  table->reloadData();
  // Section 0: 10-point grouped header, two 44-point rows, a footer of two 18-point lines + 20.
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath::forRow(1, 0)), Rect(0, 54, 320, 44));
  EXPECT_EQ(table->rectForSection(0).height(), 10 + 88 + 36 + 20);
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath::forRow(0, 1)), Rect(0, 154 + 60, 320, 80));
  ASSERT_TRUE(table->headerViewForSection(1));
  EXPECT_EQ(table->headerViewForSection(1)->frame().height(), 60);
  auto footer = std::dynamic_pointer_cast<Label>(table->footerViewForSection(0));
  ASSERT_TRUE(footer);
  EXPECT_EQ(footer->textAlignment(), TextAlignment::Center);
  auto cell = table->cellForRowAtIndexPath(IndexPath::forRow(1, 0));
  ASSERT_TRUE(cell);
  EXPECT_TRUE(table->indexPathForCell(cell.get())->isEqual(*IndexPath::forRow(1, 0)));
  EXPECT_EQ(table->contentSize().height, 154 + 60 + 80 + 10);

  // Taking a whole section away, consistently.
  screen->rows.erase(screen->rows.begin());
  table->deleteSections({0});
  EXPECT_EQ(table->numberOfSections(), 1u);
  // The delegate answers by index, so the remaining section now takes the defaults.
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath::forRow(0, 0)), Rect(0, 10, 320, 44));
}

class WebHistoryTest : public UITest {};

TEST_F(WebHistoryTest, ANewPageAfterGoingBackDropsTheForwardPages) {
  auto web = WebView::make(Rect(0, 0, 320, 400));
  web->loadHTMLString("<title>one</title>", URL::make("http://a.example/1"));
  settle();
  web->loadHTMLString("<title>two</title>", URL::make("http://a.example/2"));
  settle();
  web->goBack();
  settle();
  EXPECT_EQ(web->pageTitle(), "one");
  web->goForward();
  settle();
  EXPECT_EQ(web->pageTitle(), "two");
  web->goBack();
  settle();
  web->loadHTMLString("<title>three</title>", URL::make("http://a.example/3"));
  settle();
  EXPECT_TRUE(web->canGoBack());
  EXPECT_FALSE(web->canGoForward());
  web->goBack();
  settle();
  EXPECT_EQ(web->pageTitle(), "one");
  EXPECT_EQ(web->request()->url()->absoluteString(), "http://a.example/1");
  web->stopLoading();  // nothing loading: nothing happens
  EXPECT_EQ(web->subviews().size(), 1u);  // the page's scroll view
  EXPECT_TRUE(std::dynamic_pointer_cast<ScrollView>(web->subviews()[0]));
}

}  // namespace
}  // namespace zv::ui::testing
