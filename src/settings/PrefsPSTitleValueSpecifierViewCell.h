#pragma once
// The value-1 cell of multi-value, title-value, child-pane and mail rows: the title at the left,
// the value after it or at the right. Main thread only.

#include "platform/ui/TableViewCell.h"

namespace zv {

class PrefsPSTitleValueSpecifierViewCell : public ui::TableViewCell {
 public:
  static Ref<PrefsPSTitleValueSpecifierViewCell> make(ui::TableViewCellStyle style,
                                                      std::optional<std::string> reuseIdentifier);
  using ui::TableViewCell::TableViewCell;

  void layoutSubviews() override;
};

}  // namespace zv
