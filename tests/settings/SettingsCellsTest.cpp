#include <gtest/gtest.h>

#include "platform/graphics/Image.h"
#include "settings/PrefsPSSliderSpecifierViewCell.h"
#include "settings/PrefsPSTextFieldSpecifierViewCell.h"
#include "settings/PrefsPSTitleValueSpecifierViewCell.h"

namespace zv {
namespace {

using namespace ui;

// A grouped row 320 points wide: the content view is 300 wide and 44 high.
template <class Cell>
Ref<Cell> laidOut(Ref<Cell> cell, const std::function<void(Cell&)>& configure = nullptr) {
  cell->setGrouped(true);
  cell->setFrame(Rect(0, 0, 320, 44));
  if (configure) configure(*cell);
  cell->setNeedsLayout();
  cell->layoutIfNeeded();
  return cell;
}

Ref<graphics::Image> square(int side) {
  return graphics::Image::make(graphics::Bitmap::filled(side, side, 40, 90, 160));
}

TEST(SettingsCellsTest, SliderTakesTheRowLessItsImagesAndStaysCentred) {
  auto plain = laidOut(PrefsPSSliderSpecifierViewCell::make(TableViewCellStyle::Default, "s"));
  EXPECT_DOUBLE_EQ(plain->slider()->bounds().width(), 300 - 22);
  EXPECT_DOUBLE_EQ(plain->slider()->center().x, 150);
  EXPECT_TRUE(plain->minImage()->isHidden());
  EXPECT_FALSE(plain->slider()->isContinuous());

  auto both = laidOut<PrefsPSSliderSpecifierViewCell>(
      PrefsPSSliderSpecifierViewCell::make(TableViewCellStyle::Default, "s"), [](auto& cell) {
        cell.minImage()->setImage(square(21));
        cell.maxImage()->setImage(square(21));
      });
  EXPECT_DOUBLE_EQ(both->slider()->bounds().width(), 300 - 86);
  EXPECT_DOUBLE_EQ(both->slider()->center().x, 150);
  EXPECT_DOUBLE_EQ(both->minImage()->center().x, 10.5 + 9);
  EXPECT_DOUBLE_EQ(both->maxImage()->center().x, 300 - 10.5 - 10);
  EXPECT_FALSE(both->maxImage()->isHidden());

  // Reuse forgets the images.
  both->prepareForReuse();
  EXPECT_EQ(both->minImage()->image(), nullptr);
  EXPECT_EQ(both->maxImage()->image(), nullptr);
}

TEST(SettingsCellsTest, TextFieldFollowsTheTitleAndNeverGetsANegativeWidth) {
  struct Case {
    const char* title;
    TextAlignment alignment;
    double titleWidth, fieldX, fieldWidth;
  };
  // Title x is 10 inside the 300-point content; 17-point characters advance 8.5 points.
  const std::string longTitle(60, 'W');
  const Case cases[] = {
      {"Age", TextAlignment::Left, 97, 10 + 97 + 5, 300 - 112 - 10},
      {"Age", TextAlignment::Right, 97, 10 + 97 + 5, 300 - 112 - 10},
      {longTitle.c_str(), TextAlignment::Left, 240, 10 + 240 + 5, 300 - 255 - 10},
      // Right-aligned: the long title is capped too, so the field keeps its room.
      {longTitle.c_str(), TextAlignment::Right, 240, 10 + 240 + 5, 300 - 255 - 10},
      {"", TextAlignment::Left, 97, 9, 300 - 18},
  };
  for (const auto& c : cases) {
    auto cell = laidOut<PrefsPSTextFieldSpecifierViewCell>(
        PrefsPSTextFieldSpecifierViewCell::make(TableViewCellStyle::Default, "t"), [&](auto& cell) {
          cell.textLabel()->setText(c.title);
          cell.textLabel()->setFont(Font::systemFontOfSize(17));
          cell.textField()->setTextAlignment(c.alignment);
        });
    SCOPED_TRACE(std::string(c.title).substr(0, 5) + (c.alignment == TextAlignment::Right ? " right" : " left"));
    if (*c.title) {
      EXPECT_DOUBLE_EQ(cell->textLabel()->frame().width(), c.titleWidth);
    }
    EXPECT_DOUBLE_EQ(cell->textField()->frame().x(), c.fieldX);
    EXPECT_DOUBLE_EQ(cell->textField()->frame().width(), c.fieldWidth);
    EXPECT_GE(cell->textField()->frame().width(), 0);
    EXPECT_DOUBLE_EQ(cell->textField()->frame().midY(), 22);
  }
  // A narrow row leaves the field empty rather than negative.
  auto narrow = PrefsPSTextFieldSpecifierViewCell::make(TableViewCellStyle::Default, "t");
  narrow->setGrouped(true);
  narrow->setFrame(Rect(0, 0, 150, 44));
  narrow->textLabel()->setText("A long title");
  narrow->textField()->setTextAlignment(TextAlignment::Right);
  narrow->layoutIfNeeded();
  EXPECT_EQ(narrow->textField()->frame().width(), 0);
}

TEST(SettingsCellsTest, TitleValueCellPlacesTheValueByTitleAndAlignment) {
  // No title: the value runs from the left padding across the row.
  auto untitled = laidOut<PrefsPSTitleValueSpecifierViewCell>(
      PrefsPSTitleValueSpecifierViewCell::make(TableViewCellStyle::Value1, "v"),
      [](auto& cell) { cell.detailTextLabel()->setText("1.0"); });
  EXPECT_EQ(untitled->detailTextLabel()->frame(), Rect(9, 0, 300 - 19, 42));

  // A left-aligned value starts after the title column.
  auto left = laidOut<PrefsPSTitleValueSpecifierViewCell>(
      PrefsPSTitleValueSpecifierViewCell::make(TableViewCellStyle::Value1, "v"), [](auto& cell) {
        cell.textLabel()->setText("Sex");
        cell.detailTextLabel()->setText("Female");
        cell.detailTextLabel()->setTextAlignment(TextAlignment::Left);
      });
  EXPECT_DOUBLE_EQ(left->detailTextLabel()->frame().x(), 9 + 97 + 5);
  EXPECT_DOUBLE_EQ(left->textLabel()->frame().x(), 9);

  // A title without a value may take the whole row.
  auto titleOnly = laidOut<PrefsPSTitleValueSpecifierViewCell>(
      PrefsPSTitleValueSpecifierViewCell::make(TableViewCellStyle::Value1, "v"),
      [](auto& cell) { cell.textLabel()->setText("Display"); });
  EXPECT_DOUBLE_EQ(titleOnly->textLabel()->frame().width(), 300 - 19);
}

}  // namespace
}  // namespace zv
