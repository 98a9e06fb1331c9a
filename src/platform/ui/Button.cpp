#include "platform/ui/Button.h"
#include "platform/ui/Application.h"

#include <algorithm>

namespace zv::ui {

Ref<Button> Button::buttonWithType(ButtonType type) {
  auto button = std::make_shared<Button>(type);
  if (type == ButtonType::DetailDisclosure || type == ButtonType::InfoLight || type == ButtonType::InfoDark ||
      type == ButtonType::ContactAdd)
    button->setFrame(Rect(0, 0, 29, 31));
  return button;
}

Button::Button(ButtonType type) : type_(type) {
  if (type == ButtonType::RoundedRect) titleColors_[ControlStateNormal] = Color::make(0.196, 0.309, 0.521);
}

unsigned Button::currentState() const {
  if (!isEnabled()) return ControlStateDisabled;
  if (isHighlighted()) return ControlStateHighlighted;
  if (isSelected()) return ControlStateSelected;
  return ControlStateNormal;
}

std::optional<std::string> Button::titleForState(unsigned state) const { return lookup(titles_, state); }
Ref<Color> Button::titleColorForState(unsigned state) const { return lookup(titleColors_, state); }
Ref<graphics::Image> Button::imageForState(unsigned state) const { return lookup(images_, state); }
Ref<graphics::Image> Button::backgroundImageForState(unsigned state) const { return lookup(backgroundImages_, state); }

void Button::setTitle(std::optional<std::string> title, unsigned state) {
  titles_[state] = std::move(title);
  refresh();
}
void Button::setTitleColor(Ref<Color> color, unsigned state) {
  titleColors_[state] = std::move(color);
  refresh();
}
void Button::setImage(Ref<graphics::Image> image, unsigned state) {
  images_[state] = std::move(image);
  refresh();
}
void Button::setBackgroundImage(Ref<graphics::Image> image, unsigned state) {
  backgroundImages_[state] = std::move(image);
  setNeedsDisplay();
}

Ref<Label> Button::titleLabel() {
  if (!titleLabel_) {
    titleLabel_ = Label::make();
    titleLabel_->setFont(Font::boldSystemFontOfSize(Font::buttonFontSize()));
    titleLabel_->setTextAlignment(TextAlignment::Center);
    addSubview(titleLabel_);
    refresh();
  }
  return titleLabel_;
}

Ref<ImageView> Button::imageView() {
  if (!imageView_) {
    imageView_ = ImageView::make();
    insertSubviewAtIndex(imageView_, 0);
    refresh();
  }
  return imageView_;
}

void Button::refresh() {
  unsigned state = currentState();
  if (titleLabel_) {
    titleLabel_->setText(titleForState(state));
    if (auto color = titleColorForState(state)) titleLabel_->setTextColor(color);
  }
  if (imageView_) imageView_->setImage(imageForState(state));
  setNeedsLayout();
  setNeedsDisplay();
}

bool Button::simulateTap() {
  if (!isEnabled() || !isUserInteractionEnabled() || isHidden() || Application::sharedApplication()->isIgnoringInteractionEvents()) return false;
  sendActionsForControlEvents(ControlEventTouchDown);
  sendActionsForControlEvents(ControlEventTouchUpInside);
  return true;
}

void Button::drawRect(BitmapContext& context, const Rect&) {
  Rect local({0.5, 0.5}, {bounds().width() - 1, bounds().height() - 1});
  if (auto background = backgroundImageForState(currentState())) {
    context.drawImage(Rect({0, 0}, bounds().size), *background);
  } else if (type_ == ButtonType::RoundedRect) {
    context.setFillColor(isHighlighted() ? *Color::make(0.2, 0.4, 0.9) : *Color::whiteColor());
    context.setStrokeColor(0.55, 0.55, 0.6);
    context.setLineWidth(1);
    context.beginPath();
    context.addRoundedRect(local, 9);
    context.drawPath(graphics::PathDrawingMode::FillStroke);
  }
  if (type_ == ButtonType::DetailDisclosure || type_ == ButtonType::InfoLight || type_ == ButtonType::InfoDark) {
    context.setFillColor(0.2, 0.45, 0.9);
    double side = std::min(bounds().width(), bounds().height()) - 4;
    context.fillEllipseInRect(Rect((bounds().width() - side) / 2, (bounds().height() - side) / 2, side, side));
  }
}

Size Button::sizeThatFits(Size) const {
  Size size{0, 0};
  if (auto title = titleForState(currentState())) {
    Size t = sizeWithFont(*title, *Font::boldSystemFontOfSize(Font::buttonFontSize()));
    size.width += t.width;
    size.height = std::max(size.height, t.height);
  }
  if (auto image = imageForState(currentState())) {
    size.width += image->size().width;
    size.height = std::max(size.height, image->size().height);
  }
  return size;
}

void Button::layoutSubviews() {
  titleLabel();
  Rect b = bounds();
  auto image = imageForState(currentState());
  double imageWidth = image ? std::min(image->size().width, b.width()) : 0;
  if (imageView_) {
    imageView_->setImage(image);
    double h = image ? std::min(image->size().height, b.height()) : 0;
    imageView_->setFrame(Rect(0, (b.height() - h) / 2, imageWidth, h));
  }
  titleLabel_->setText(titleForState(currentState()));
  titleLabel_->setFrame(Rect(imageWidth, 0, std::max(0.0, b.width() - imageWidth), b.height()));
}

}  // namespace zv::ui
