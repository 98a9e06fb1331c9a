#pragma once
// The cell of a text row: the title at the left and the keyed text field after it. A title is
// never laid out wider than 240 points and the field never gets a negative width, whatever the
// field's alignment. Main thread only.

#include "platform/ui/TableViewCell.h"
#include "settings/PrefsKeyedControls.h"

namespace zv {

class PrefsPSTextFieldSpecifierViewCell : public ui::TableViewCell {
 public:
  static Ref<PrefsPSTextFieldSpecifierViewCell> make(ui::TableViewCellStyle style,
                                                     std::optional<std::string> reuseIdentifier);
  PrefsPSTextFieldSpecifierViewCell(ui::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

  // A subview of the content view.
  const Ref<PrefsTextField>& textField() const { return textField_; }

  void layoutSubviews() override;

  static constexpr double kMaximumTitleWidth = 240;
  static constexpr double kMinimumTitleWidth = 97;

 private:
  Ref<PrefsTextField> textField_;
};

}  // namespace zv
