#include <gtest/gtest.h>

#include "platform/graphics/Color.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXFormControllerLargeTextField.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class EditorOwner : public Object, public SXFormControllerLargeTextFieldDelegate {
 public:
  void sendForm(SXFormControllerLargeTextField& editor) override { sent = editor.textView()->text(); }
  void sendDidCancel() override { ++cancels; }
  std::string sharerTitle() const override { return "Poster"; }
  bool respondsToSelector(std::string_view selector) const override { return Object::respondsToSelector(selector); }
  std::optional<std::string> sent;
  int cancels = 0;
};

class SXFormControllerLargeTextFieldTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    owner = std::make_shared<EditorOwner>();
    editor = std::make_shared<SXFormControllerLargeTextField>(owner);
  }
  void present() {
    SX::currentHelper()->showViewController(editor, [] {});
    settle();
    ASSERT_TRUE(editor->isVisible());
  }
  std::string counterText() { return editor->counter() ? editor->counter()->text().value_or("") : "<none>"; }
  bool sendEnabled() { return editor->navigationItem()->rightBarButtonItem()->isEnabled(); }

  Ref<ui::ViewController> root;
  std::shared_ptr<EditorOwner> owner;
  Ref<SXFormControllerLargeTextField> editor;
};

TEST_F(SXFormControllerLargeTextFieldTest, TheCounterFollowsTheLimitTheImageAndTheText) {
  editor->setMaxTextLength(140);
  editor->setImage(graphics::Image::make(graphics::Bitmap::filled(2, 2, 0, 0, 0)));
  editor->setImageTextLength(21);
  editor->setText(std::string(100, 'x'));
  present();
  EXPECT_TRUE(editor->textView()->isEditing());
  EXPECT_EQ(editor->navigationItem()->rightBarButtonItem()->title(), "Send to Poster");
  EXPECT_EQ(counterText(), "Image + 19");
  EXPECT_TRUE(sendEnabled());
  renderKeyWindow("sharing-large-text");

  editor->textView()->insertText(std::string(20, 'y'));
  EXPECT_EQ(counterText(), "Image  -1");  // the "+" only while characters are left
  EXPECT_TRUE(editor->counter()->textColor()->isEqual(*graphics::Color::redColor()));
  EXPECT_FALSE(sendEnabled());
  editor->textView()->deleteBackward();
  EXPECT_EQ(counterText(), "Image  0");
  EXPECT_TRUE(sendEnabled());
}

TEST_F(SXFormControllerLargeTextFieldTest, AnEmptyTextDisablesSendAndALinkAloneShowsAnEmptyCounter) {
  editor->setHasLink(true);
  present();
  EXPECT_FALSE(sendEnabled());
  EXPECT_EQ(counterText(), "");
  editor->textView()->insertText("é");
  EXPECT_TRUE(sendEnabled());

  auto plain = std::make_shared<SXFormControllerLargeTextField>(owner);
  EXPECT_FALSE(plain->shouldShowCounter());
}

TEST_F(SXFormControllerLargeTextFieldTest, SendAndCancelHideTheEditorAndTellTheDelegate) {
  editor->setText("hello");
  present();
  editor->textView()->insertText(" world");
  ASSERT_TRUE(pressRight(editor));
  EXPECT_EQ(owner->sent, "hello world");
  settle();
  EXPECT_EQ(root->presentedViewController(), nullptr);

  auto second = std::make_shared<SXFormControllerLargeTextField>(owner);
  SX::currentHelper()->showViewController(second, [] {});
  settle();
  ASSERT_TRUE(pressLeft(second));
  EXPECT_EQ(owner->cancels, 1);
  EXPECT_TRUE(second->shareIsCancelled());
  settle();
  EXPECT_EQ(SX::currentHelper()->currentView(), nullptr);
}

}  // namespace
}  // namespace zv::testing
