#pragma once
// The full-screen editor in which a status-posting sharer lets the user edit the text before
// sending: a text view above the keyboard and, when a length limit, an image or a link is
// involved, a counter of the characters left (red, with Send disabled, when over the limit).
// Cancel and Send hide the editor through the hub and tell the delegate. Taken away by the hub
// before either, the editor tells the delegate the share was cancelled (once).
//
// Threads: main thread. Ownership: the editor owns its text view, counter, image and text; the
// delegate (the sharer) is not retained.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/graphics/Image.h"
#include "platform/system/Notification.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SXShareScreen.h"

namespace zv {

class SXFormControllerLargeTextField;

// Adopted by the sharer. A class deriving from SXSharer and this interface overrides
// sharerTitle (which serves both) and sendDidCancel (calling SXSharer::sendDidCancel).
class SXFormControllerLargeTextFieldDelegate : public Protocol {
 public:
  virtual void sendForm(SXFormControllerLargeTextField& editor) = 0;
  virtual void sendDidCancel() = 0;
  virtual std::string sharerTitle() const = 0;
};

class SXFormControllerLargeTextField : public ui::ViewController, public ui::TextViewDelegate, public SXShareScreen {
 public:
  explicit SXFormControllerLargeTextField(std::weak_ptr<SXFormControllerLargeTextFieldDelegate> delegate);

  void loadView() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  void setupBarButtonItems();
  void keyboardWillShow(const Ref<Notification>& notification);
  void updateCounter();
  void ifNoTextDisableSendButton();
  void layoutCounter();
  bool shouldShowCounter() const;
  void cancel();
  void save();
  void shareScreenTakenAway() override;

  void textViewDidBeginEditing(ui::TextView&) override { updateCounter(); }
  void textViewDidChange(ui::TextView&) override { updateCounter(); }
  void textViewDidEndEditing(ui::TextView&) override { updateCounter(); }
  bool respondsToSelector(std::string_view selector) const override {
    return ViewController::respondsToSelector(selector);
  }

  const std::weak_ptr<SXFormControllerLargeTextFieldDelegate>& delegate() const { return delegate_; }
  const Ref<ui::TextView>& textView() const { return textView_; }
  const Ref<ui::Label>& counter() const { return counter_; }
  std::size_t maxTextLength() const { return maxTextLength_; }
  void setMaxTextLength(std::size_t length) { maxTextLength_ = length; }
  bool hasLink() const { return hasLink_; }
  void setHasLink(bool hasLink) { hasLink_ = hasLink; }
  const Ref<graphics::Image>& image() const { return image_; }
  void setImage(Ref<graphics::Image> image) { image_ = std::move(image); }
  std::size_t imageTextLength() const { return imageTextLength_; }
  void setImageTextLength(std::size_t length) { imageTextLength_ = length; }
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text) { text_ = std::move(text); }
  bool shareIsCancelled() const { return shareIsCancelled_; }

 private:
  std::weak_ptr<SXFormControllerLargeTextFieldDelegate> delegate_;
  Ref<ui::TextView> textView_;
  Ref<ui::Label> counter_;
  std::size_t maxTextLength_ = 0;
  bool hasLink_ = false;
  Ref<graphics::Image> image_;
  std::size_t imageTextLength_ = 0;
  std::optional<std::string> text_;
  bool shareIsCancelled_ = false;
  // Cancel, Send or the hub's taking it away happened: the editor reports no more.
  bool finished_ = false;
  ObjectPtr keyboardObserver_;
};

// Kept for applications that customise the editor.
class SXCustomFormControllerLargeTextField : public SXFormControllerLargeTextField {
 public:
  using SXFormControllerLargeTextField::SXFormControllerLargeTextField;
};

}  // namespace zv
