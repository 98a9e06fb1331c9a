#pragma once
// A row of a table: a content view holding an image view, a title label and (except in the
// default style) a detail label, an accessory (indicator or the caller's view), selection and
// highlight, and a reuse identifier.
//
// Base layout, in points (all screens lay out on top of it): the accessory takes 30 points at the
// right for an indicator or check mark, 43 for the detail button, or its view's width plus 20
// (the view sits 10 points from the right edge, centred vertically); in a grouped table the
// content is inset 10 points on both sides. Inside the content view the image sits at the left,
// centred vertically; text starts 10 points right of it (or at 10) and ends 10 points before the
// content's right edge. Value-1 puts the detail label, right-aligned at its natural width, at the
// right; value-2 puts a 67-point title column left of the detail; subtitle stacks the two labels,
// centred as a pair. Main thread only.

#include <optional>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace zv::ui {

class TableViewCell : public View {
 public:
  static Ref<TableViewCell> make(TableViewCellStyle style, std::optional<std::string> reuseIdentifier);
  TableViewCell(TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

  TableViewCellStyle style() const { return style_; }
  const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
  const Ref<View>& contentView() const { return contentView_; }
  const Ref<Label>& textLabel() const { return textLabel_; }
  // nullptr in the default style.
  const Ref<Label>& detailTextLabel() const { return detailTextLabel_; }
  const Ref<ImageView>& imageView() const { return imageView_; }

  TableViewCellAccessoryType accessoryType() const { return accessoryType_; }
  void setAccessoryType(TableViewCellAccessoryType type);
  const Ref<View>& accessoryView() const { return accessoryView_; }
  void setAccessoryView(Ref<View> view);
  TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(TableViewCellSelectionStyle style) { selectionStyle_ = style; }
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected, bool animated = false);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted, bool animated = false);
  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated = false) { (void)animated, editing_ = editing; }
  int indentationLevel() const { return indentationLevel_; }
  void setIndentationLevel(int level) { indentationLevel_ = level; }

  // Called when the cell leaves the reuse queue: selection and highlight are cleared.
  virtual void prepareForReuse();
  void layoutSubviews() override;
  void drawRect(BitmapContext& context, const Rect& rect) override;

  // Set by the table: grouped tables inset the content.
  void setGrouped(bool grouped);
  bool isGrouped() const { return grouped_; }
  // The width the accessory takes at the right.
  double accessoryWidth() const;

 private:
  TableViewCellStyle style_;
  std::optional<std::string> reuseIdentifier_;
  Ref<View> contentView_;
  Ref<Label> textLabel_;
  Ref<Label> detailTextLabel_;
  Ref<ImageView> imageView_;
  TableViewCellAccessoryType accessoryType_ = TableViewCellAccessoryType::None;
  Ref<View> accessoryView_;
  TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
  bool selected_ = false;
  bool highlighted_ = false;
  bool editing_ = false;
  int indentationLevel_ = 0;
  bool grouped_ = false;
  bool built_ = false;
};

}  // namespace zv::ui
