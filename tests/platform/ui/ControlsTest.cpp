#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "UITestSupport.h"
#include "platform/graphics/GeometryValue.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/TextEditing.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"

namespace zv::ui::testing {
namespace {

using Journal = std::vector<std::string>;

class RecordingFieldDelegate : public Object, public TextFieldDelegate {
 public:
  bool textFieldShouldBeginEditing(TextField&) override {
    journal.push_back("shouldBegin");
    return allowBegin;
  }
  void textFieldDidBeginEditing(TextField&) override { journal.push_back("didBegin"); }
  bool textFieldShouldEndEditing(TextField&) override {
    journal.push_back("shouldEnd");
    return allowEnd;
  }
  void textFieldDidEndEditing(TextField& field) override { journal.push_back("didEnd " + field.text()); }
  bool textFieldShouldChangeCharactersInRangeReplacementString(TextField&, TextRange range,
                                                               const std::string& text) override {
    journal.push_back("change " + std::to_string(range.location) + "+" + std::to_string(range.length) + " '" + text + "'");
    return text != "!";
  }
  bool textFieldShouldReturn(TextField& field) override {
    journal.push_back("return");
    field.resignFirstResponder();
    return true;
  }
  Journal journal;
  bool allowBegin = true;
  bool allowEnd = true;
};

class ControlsTest : public UITest {};

TEST_F(ControlsTest, TextFieldDelegateSequence) {
  auto field = TextField::make(Rect(0, 0, 200, 21));
  auto delegate = std::make_shared<RecordingFieldDelegate>();
  field->setDelegate(delegate);
  Journal events;
  field->addAction(ControlEventEditingChanged, [&](Control&) { events.push_back("changed"); });
  field->addAction(ControlEventEditingDidBegin | ControlEventEditingDidEnd,
                   [&](Control& c) { events.push_back(c.isFirstResponder() ? "began" : "ended"); });

  delegate->allowBegin = false;
  EXPECT_FALSE(field->becomeFirstResponder());
  EXPECT_FALSE(field->insertText("x"));  // not editing: typing goes nowhere
  delegate->allowBegin = true;
  ASSERT_TRUE(field->becomeFirstResponder());
  EXPECT_TRUE(field->isEditing());
  EXPECT_TRUE(field->insertText("ab"));
  EXPECT_FALSE(field->insertText("!"));  // refused by the delegate
  EXPECT_TRUE(field->replaceCharactersInRange({0, 1}, "X"));
  EXPECT_FALSE(field->replaceCharactersInRange({5, 1}, "y"));  // outside the text: the delegate is not asked
  EXPECT_TRUE(field->deleteBackward());
  EXPECT_EQ(field->text(), "X");
  delegate->allowEnd = false;
  EXPECT_FALSE(field->resignFirstResponder());
  delegate->allowEnd = true;
  EXPECT_TRUE(field->simulateReturn());
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(delegate->journal,
            (Journal{"shouldBegin", "shouldBegin", "didBegin", "change 0+0 'ab'", "change 2+0 '!'", "change 0+1 'X'",
                     "change 1+1 ''", "shouldEnd", "return", "shouldEnd", "didEnd X"}));
  EXPECT_EQ(events, (Journal{"began", "changed", "changed", "changed", "ended"}));
}

// Counts characters the way a length counter does: from the ranges its input reports.
class CountingDelegate : public Object, public TextFieldDelegate, public TextViewDelegate {
 public:
  bool textFieldShouldChangeCharactersInRangeReplacementString(TextField&, TextRange range,
                                                               const std::string& text) override {
    return count(range, text);
  }
  bool textViewShouldChangeTextInRangeReplacementText(TextView&, TextRange range, const std::string& text) override {
    return count(range, text);
  }
  bool count(TextRange range, const std::string& text) {
    length = length - range.length + utf16Length(text);
    return true;
  }
  std::size_t length = 0;
};

// Backspace after a character outside the Basic Multilingual Plane deletes the whole character
// (both units of its surrogate pair), and what the delegate counts is what is stored. A range that
// would cut such a character in half is refused before the delegate hears of it.
TEST_F(ControlsTest, BackspaceDeletesAWholeCharacterOutsideTheBasicPlane) {
  auto counter = std::make_shared<CountingDelegate>();
  auto field = TextField::make(Rect(0, 0, 200, 21));
  field->setDelegate(counter);
  auto view = TextView::make(Rect(0, 0, 200, 100));
  view->setDelegate(counter);
  struct Input {
    const char* name;
    std::function<bool()> begin;
    std::function<bool(const std::string&)> type;
    std::function<bool()> backspace;
    std::function<bool(TextRange)> replace;
    std::function<std::string()> text;
  };
  for (const auto& input :
       {Input{"text field", [&] { return field->becomeFirstResponder(); }, [&](auto& t) { return field->insertText(t); },
              [&] { return field->deleteBackward(); }, [&](TextRange r) { return field->replaceCharactersInRange(r, ""); },
              [&] { return field->text(); }},
        Input{"text view", [&] { return view->becomeFirstResponder(); }, [&](auto& t) { return view->insertText(t); },
              [&] { return view->deleteBackward(); }, [&](TextRange r) { return view->replaceCharactersInRange(r, ""); },
              [&] { return view->text(); }}}) {
    SCOPED_TRACE(input.name);
    counter->length = 0;
    ASSERT_TRUE(input.begin());
    ASSERT_TRUE(input.type("pw\U0001F600"));
    EXPECT_EQ(counter->length, 4u);
    EXPECT_FALSE(input.replace({3, 1}));  // the second half of the pair alone
    EXPECT_FALSE(input.replace({2, 1}));  // the first half alone
    EXPECT_EQ(counter->length, 4u);
    EXPECT_TRUE(input.backspace());
    EXPECT_EQ(input.text(), "pw");
    EXPECT_EQ(counter->length, 2u);
    // A character of the plane before the pair, and one after.
    ASSERT_TRUE(input.type("\u00e9\U0001F4A9x"));
    EXPECT_TRUE(input.backspace());
    EXPECT_TRUE(input.backspace());
    EXPECT_EQ(input.text(), "pw\u00e9");
    EXPECT_TRUE(input.backspace());
    EXPECT_TRUE(input.backspace());
    EXPECT_TRUE(input.backspace());
    EXPECT_EQ(input.text(), "");
    EXPECT_FALSE(input.backspace());
    EXPECT_EQ(counter->length, 0u);
  }
}

TEST_F(ControlsTest, KeyboardShowsOnceWhileEditingMovesBetweenFieldsAndHidesAfter) {
  auto first = TextField::make();
  auto second = TextField::make();
  auto text = TextView::make(Rect(0, 0, 300, 200));
  Journal shown;
  auto center = NotificationCenter::defaultCenter();
  auto token = center->addObserverForName("", nullptr, [&](const Ref<Notification>& n) {
    if (n->name().starts_with("Keyboard")) shown.push_back(n->name());
  });
  first->becomeFirstResponder();
  second->becomeFirstResponder();
  text->becomeFirstResponder();
  settle();
  EXPECT_EQ(shown, (Journal{kKeyboardWillShowNotification, kKeyboardDidShowNotification}));
  text->resignFirstResponder();
  settle();
  EXPECT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[2], kKeyboardWillHideNotification);
  EXPECT_FALSE(isKeyboardVisible());
  center->removeObserver(token);
  EXPECT_EQ(keyboardFrame(), Rect(0, 264, 320, 216));
}

TEST_F(ControlsTest, SecureEntryAndPlaceholderAreWhatIsDrawn) {
  auto field = TextField::make();
  field->setPlaceholder("Password");
  EXPECT_EQ(field->displayedText(), "Password");
  field->setSecureTextEntry(true);
  field->setText("pé1");
  EXPECT_EQ(field->displayedText(), "\u2022\u2022\u2022");
}

TEST_F(ControlsTest, ControlsSendTheirEventsOnlyWhenEnabled) {
  int changes = 0, taps = 0;
  auto toggle = Switch::make();
  toggle->addAction(ControlEventValueChanged, [&](Control& c) {
    ++changes;
    EXPECT_TRUE(dynamic_cast<Switch&>(c).isOn());
  });
  toggle->simulateToggle();
  toggle->setEnabled(false);
  toggle->simulateToggle();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(toggle->frame().size, (Size{79, 27}));

  auto slider = Slider::make(Rect(0, 0, 200, 23));
  slider->setMinimumValue(1);
  slider->setMaximumValue(5);
  slider->addAction(ControlEventValueChanged, [&](Control&) { ++changes; });
  slider->simulateSlide(9);
  EXPECT_EQ(slider->value(), 5);
  EXPECT_EQ(changes, 2);

  auto button = Button::buttonWithType(ButtonType::RoundedRect);
  button->setTitle("Go", ControlStateNormal);
  int token = button->addAction(ControlEventTouchUpInside, [&](Control&) { ++taps; });
  EXPECT_TRUE(button->simulateTap());
  button->setEnabled(false);
  EXPECT_FALSE(button->simulateTap());
  EXPECT_EQ(button->titleForState(ControlStateDisabled), std::optional<std::string>("Go"));
  button->setEnabled(true);
  button->removeAction(token);
  button->simulateTap();
  EXPECT_EQ(taps, 1);

  auto segments = SegmentedControl::make({"A", "B"});
  segments->addAction(ControlEventValueChanged, [&](Control&) { ++changes; });
  segments->simulateTapSegment(1);
  segments->simulateTapSegment(1);  // no change, no event
  EXPECT_EQ(segments->selectedSegmentIndex(), 1);
  EXPECT_EQ(changes, 3);
}

TEST_F(ControlsTest, LabelsMeasureWithTheFixedFontModel) {
  auto label = Label::make(Rect(0, 0, 100, 40));
  label->setFont(Font::systemFontOfSize(10));  // 5 points a character, 12-point lines
  label->setText("hello world again");
  EXPECT_EQ(label->sizeThatFits({}), (Size{85, 12}));
  label->setNumberOfLines(0);
  // "hello world" fits 60 points (11 characters of 12); "again" goes to the next line.
  EXPECT_EQ(label->sizeThatFits({60, 0}), (Size{55, 24}));
  label->setNumberOfLines(1);
  label->setAdjustsFontSizeToFitWidth(true);
  EXPECT_EQ(label->effectiveFontSize(), 10);  // fits as it is
  label->setFrame(Rect(0, 0, 60, 40));
  label->setMinimumFontSize(6);
  EXPECT_NEAR(label->effectiveFontSize(), 60.0 / (17 * 0.5), 1e-9);
  label->setMinimumFontSize(9);
  EXPECT_EQ(label->effectiveFontSize(), 9);
  auto bold = Font::boldSystemFontOfSize(20);
  EXPECT_EQ(sizeWithFont("abc\nde", *bold), (Size{36, 48}));
  EXPECT_EQ(sizeWithFont("abcdefghij", *bold, Size{25, 100}, LineBreakMode::CharacterWrap), (Size{24, 96}));
}

// Word wrap takes time in proportion to the text: a text eight times longer takes about eight
// times as long (a rescan of the whole text per line made it sixty-four). Best of a few runs, as
// a ratio; the bound leaves a factor of three for what a busy machine adds.
TEST_F(ControlsTest, WordWrapTimeGrowsLinearlyWithTheText) {
  auto font = Font::systemFontOfSize(10);
  auto textOf = [](std::size_t blocks) {
    std::string text;
    for (std::size_t i = 0; i < blocks; ++i) text += "Caf\u00e9 r\u00e9sum\u00e9 na\u00efve words \U0001F600 and more ";
    return text;
  };
  auto bestSeconds = [&](const std::string& text, std::size_t& lines) {
    // The thread's own CPU time, best of several runs: time spent waiting for a busy machine's
    // cores does not count.
    auto threadSeconds = [] {
      timespec now{};
      ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
      return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    double best = 1e9;
    for (int run = 0; run < 9; ++run) {
      const double start = threadSeconds();
      lines = wrapText(text, *font, 200, LineBreakMode::WordWrap).size();
      best = std::min(best, threadSeconds() - start);
    }
    return best;
  };
  const std::string small = textOf(1600), large = textOf(12800);  // about 67,000 and 540,000 bytes
  std::size_t smallLines = 0, largeLines = 0;
  bestSeconds(small, smallLines);  // warm up
  const double smallTime = bestSeconds(small, smallLines);
  const double largeTime = bestSeconds(large, largeLines);
  EXPECT_GT(smallLines, 1000u);
  EXPECT_NEAR(static_cast<double>(largeLines) / static_cast<double>(smallLines), 8.0, 0.01);
  EXPECT_LT(largeTime / smallTime, 24.0) << smallTime << " s, then " << largeTime << " s";
}

TEST_F(ControlsTest, TapRecognizerRunsItsActionsOnlyWhileAttachedAndEnabled) {
  auto view = View::make(Rect(0, 0, 100, 100));
  int taps = 0;
  Point where;
  auto tap = TapGestureRecognizer::make([&](GestureRecognizer& g) {
    ++taps;
    where = g.locationInView(nullptr);
    EXPECT_EQ(g.state(), GestureRecognizerState::Ended);
  });
  tap->recognizeTap({1, 1});
  view->addGestureRecognizer(tap);
  tap->setCancelsTouchesInView(false);
  tap->recognizeTap({5, 6});
  tap->setEnabled(false);
  tap->recognizeTap({7, 7});
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(where, (Point{5, 6}));
  EXPECT_EQ(view->gestureRecognizers().size(), 1u);
}

TEST_F(ControlsTest, AutoresizingSharesTheChangeAmongFlexibleParts) {
  auto parent = View::make(Rect(0, 0, 320, 460));
  auto bar = View::make(Rect(0, 416, 320, 44));
  bar->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleTopMargin);
  auto centred = View::make(Rect(60, 100, 200, 50));
  centred->setAutoresizingMask(ViewAutoresizingFlexibleLeftMargin | ViewAutoresizingFlexibleRightMargin);
  parent->addSubview(bar);
  parent->addSubview(centred);
  parent->setFrame(Rect(0, 0, 480, 300));
  EXPECT_EQ(bar->frame(), Rect(0, 256, 480, 44));
  EXPECT_EQ(centred->frame(), Rect(140, 100, 200, 50));
  EXPECT_TRUE(parent->needsLayout());

  // A rotated view's frame is its bounding box.
  auto turned = View::make(Rect(0, 0, 100, 50));
  turned->setTransform(AffineTransform::rotation(std::acos(-1.0) / 2));
  Rect f = turned->frame();
  EXPECT_NEAR(f.width(), 50, 1e-9);
  EXPECT_NEAR(f.height(), 100, 1e-9);
  EXPECT_NEAR(f.x(), 25, 1e-9);
}

TEST_F(ControlsTest, AnimationsSetFinalValuesAtOnceAndCompleteOnTheRunLoop) {
  auto view = View::make(Rect(0, 0, 10, 10));
  bool finished = false;
  View::animateWithDuration(0.3, [&] { view->setAlpha(0); }, [&](bool done) { finished = done; });
  EXPECT_EQ(view->alpha(), 0);
  EXPECT_EQ(View::runningAnimationCount(), 1);
  advance(0.2);
  EXPECT_FALSE(finished);
  advance(0.1);
  EXPECT_TRUE(finished);
  EXPECT_EQ(View::runningAnimationCount(), 0);
}

}  // namespace
}  // namespace zv::ui::testing
