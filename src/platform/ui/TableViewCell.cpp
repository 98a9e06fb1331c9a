#include "platform/ui/TableViewCell.h"

#include <algorithm>

namespace zv::ui {

Ref<TableViewCell> TableViewCell::make(TableViewCellStyle style, std::optional<std::string> reuseIdentifier) {
  return std::make_shared<TableViewCell>(style, std::move(reuseIdentifier));
}

TableViewCell::TableViewCell(TableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : View(Rect(0, 0, 320, 44)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  contentView_ = View::make(Rect(0, 0, 320, 44));
  textLabel_ = Label::make();
  imageView_ = ImageView::make();
  switch (style) {
    case TableViewCellStyle::Default:
      textLabel_->setFont(Font::boldSystemFontOfSize(20));
      break;
    case TableViewCellStyle::Value1:
      textLabel_->setFont(Font::boldSystemFontOfSize(17));
      detailTextLabel_ = Label::make();
      detailTextLabel_->setFont(Font::systemFontOfSize(17));
      detailTextLabel_->setTextColor(Color::make(0.22, 0.329, 0.529));
      detailTextLabel_->setTextAlignment(TextAlignment::Right);
      break;
    case TableViewCellStyle::Value2:
      textLabel_->setFont(Font::boldSystemFontOfSize(12));
      textLabel_->setTextColor(Color::make(0.32, 0.4, 0.57));
      textLabel_->setTextAlignment(TextAlignment::Right);
      detailTextLabel_ = Label::make();
      detailTextLabel_->setFont(Font::boldSystemFontOfSize(15));
      break;
    case TableViewCellStyle::Subtitle:
      textLabel_->setFont(Font::boldSystemFontOfSize(18));
      detailTextLabel_ = Label::make();
      detailTextLabel_->setFont(Font::systemFontOfSize(14));
      detailTextLabel_->setTextColor(Color::grayColor());
      break;
  }
  contentView_->addSubview(imageView_);
  contentView_->addSubview(textLabel_);
  if (detailTextLabel_) contentView_->addSubview(detailTextLabel_);
}

void TableViewCell::setAccessoryType(TableViewCellAccessoryType type) {
  accessoryType_ = type;
  setNeedsLayout();
}

void TableViewCell::setAccessoryView(Ref<View> view) {
  if (accessoryView_ && accessoryView_->superview().get() == this) accessoryView_->removeFromSuperview();
  accessoryView_ = std::move(view);
  if (accessoryView_ && built_) addSubview(accessoryView_);
  setNeedsLayout();
}

void TableViewCell::setSelected(bool selected, bool) {
  selected_ = selected;
  bool lit = (selected_ || highlighted_) && selectionStyle_ != TableViewCellSelectionStyle::None;
  textLabel_->setHighlighted(lit);
  if (detailTextLabel_) detailTextLabel_->setHighlighted(lit);
  imageView_->setHighlighted(lit);
  setNeedsDisplay();
}

void TableViewCell::setHighlighted(bool highlighted, bool animated) {
  highlighted_ = highlighted;
  setSelected(selected_, animated);
}

void TableViewCell::prepareForReuse() {
  selected_ = highlighted_ = false;
  setSelected(false);
}

void TableViewCell::setGrouped(bool grouped) {
  grouped_ = grouped;
  setNeedsLayout();
}

double TableViewCell::accessoryWidth() const {
  if (accessoryView_) return accessoryView_->frame().width() + 20;
  switch (accessoryType_) {
    case TableViewCellAccessoryType::None:
      return 0;
    case TableViewCellAccessoryType::DetailDisclosureButton:
      return 43;
    default:
      return 30;
  }
}

void TableViewCell::drawRect(BitmapContext& context, const Rect&) {
  Rect b({0, 0}, bounds().size);
  double inset = grouped_ ? 10 : 0;
  Rect body(inset, 0, b.width() - 2 * inset, b.height());
  bool lit = (selected_ || highlighted_) && selectionStyle_ != TableViewCellSelectionStyle::None;
  context.setFillColor(lit ? (selectionStyle_ == TableViewCellSelectionStyle::Gray ? *Color::grayColor()
                                                                                      : *Color::make(0.02, 0.45, 0.93))
                           : *Color::whiteColor());
  context.fillRect(body);
  context.setStrokeColor(0.8, 0.8, 0.8);
  context.setLineWidth(1);
  context.strokeLineSegments({{body.x(), b.height() - 0.5}, {body.maxX(), b.height() - 0.5}});
  if (grouped_) context.strokeLineSegments({{body.x() + 0.5, 0}, {body.x() + 0.5, b.height()}, {body.maxX() - 0.5, 0},
                                            {body.maxX() - 0.5, b.height()}});
  if (accessoryView_) return;
  double x = body.maxX() - 20, y = b.height() / 2;
  switch (accessoryType_) {
    case TableViewCellAccessoryType::DisclosureIndicator:
      context.setStrokeColor(0.5, 0.5, 0.5);
      context.setLineWidth(2.5);
      context.beginPath();
      context.moveToPoint(x - 4, y - 5);
      context.addLineToPoint(x + 1, y);
      context.addLineToPoint(x - 4, y + 5);
      context.strokePath();
      break;
    case TableViewCellAccessoryType::Checkmark:
      context.setStrokeColor(0.2, 0.3, 0.55);
      context.setLineWidth(2.5);
      context.beginPath();
      context.moveToPoint(x - 7, y);
      context.addLineToPoint(x - 3, y + 5);
      context.addLineToPoint(x + 4, y - 6);
      context.strokePath();
      break;
    case TableViewCellAccessoryType::DetailDisclosureButton:
      context.setFillColor(0.2, 0.45, 0.9);
      context.fillEllipseInRect(Rect(x - 14, y - 14, 28, 28));
      break;
    case TableViewCellAccessoryType::None:
      break;
  }
}

void TableViewCell::layoutSubviews() {
  if (!built_) {
    // The content view joins the cell on first layout: a view cannot refer to itself while it
    // is being constructed.
    built_ = true;
    insertSubviewAtIndex(contentView_, 0);
    if (accessoryView_) addSubview(accessoryView_);
  }
  Rect b = bounds();
  double inset = grouped_ ? 10 : 0;
  double accessory = accessoryWidth();
  contentView_->setFrame(Rect(inset, 0, std::max(0.0, b.width() - 2 * inset - accessory), b.height()));
  if (accessoryView_) {
    Rect a = accessoryView_->frame();
    accessoryView_->setFrame(Rect(b.width() - inset - 10 - a.width(), (b.height() - a.height()) / 2, a.width(), a.height()));
  }
  Size c = contentView_->bounds().size;
  double indent = indentationLevel_ * 10.0;
  double textX = 10 + indent;
  if (auto image = imageView_->image()) {
    Size s = image->size();
    imageView_->setFrame(Rect(indent, (c.height - s.height) / 2, s.width, s.height));
    textX = indent + s.width + 10;
  } else {
    imageView_->setFrame(Rect(indent, 0, 0, 0));
  }
  double available = std::max(0.0, c.width - textX - 10);
  switch (style_) {
    case TableViewCellStyle::Default:
      textLabel_->setFrame(Rect(textX, 0, available, c.height));
      break;
    case TableViewCellStyle::Value1: {
      double detail = std::min(detailTextLabel_->sizeThatFits({}).width, available);
      double title = std::min(textLabel_->sizeThatFits({}).width, std::max(0.0, available - detail - (detail > 0 ? 10 : 0)));
      textLabel_->setFrame(Rect(textX, 0, title, c.height));
      detailTextLabel_->setFrame(Rect(c.width - 10 - detail, 0, detail, c.height));
      break;
    }
    case TableViewCellStyle::Value2:
      textLabel_->setFrame(Rect(textX, 0, 67, c.height));
      detailTextLabel_->setFrame(Rect(textX + 73, 0, std::max(0.0, available - 73), c.height));
      break;
    case TableViewCellStyle::Subtitle: {
      double th = textLabel_->font()->lineHeight(), dh = detailTextLabel_->font()->lineHeight();
      bool hasDetail = detailTextLabel_->text() && !detailTextLabel_->text()->empty();
      double total = hasDetail ? th + dh : th;
      double y = (c.height - total) / 2;
      textLabel_->setFrame(Rect(textX, y, available, th));
      detailTextLabel_->setFrame(Rect(textX, y + th, available, hasDetail ? dh : 0));
      break;
    }
  }
}

}  // namespace zv::ui
