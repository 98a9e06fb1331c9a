#pragma once
// The cell of a slider row: the keyed slider across the row, with optional 21-point images at
// either end that take room from it. Main thread only.

#include "platform/ui/TableViewCell.h"
#include "settings/PrefsKeyedControls.h"

namespace zv {

class PrefsPSSliderSpecifierViewCell : public ui::TableViewCell {
 public:
  static Ref<PrefsPSSliderSpecifierViewCell> make(ui::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);
  PrefsPSSliderSpecifierViewCell(ui::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

  // Subviews of the content view.
  const Ref<PrefsSlider>& slider() const { return slider_; }
  const Ref<ui::ImageView>& minImage() const { return minImage_; }
  const Ref<ui::ImageView>& maxImage() const { return maxImage_; }

  void layoutSubviews() override;
  // Clears both images.
  void prepareForReuse() override;

 private:
  Ref<PrefsSlider> slider_;
  Ref<ui::ImageView> minImage_;
  Ref<ui::ImageView> maxImage_;
};

}  // namespace zv
