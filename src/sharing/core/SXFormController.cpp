#include "sharing/core/SXFormController.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/graphics/Color.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXFormFieldCell.h"
#include "sharing/core/SXFormOptionController.h"

namespace zv {

SXFormController::SXFormController() : TableViewController(ui::TableViewStyle::Grouped) {}

Ref<SXFormController> SXFormController::makeNamed(std::string_view className) {
  const ClassInfo* info = classNamed(className);
  return info ? dyn<SXFormController>(info->create()) : nullptr;
}

void SXFormController::initWithStyle(ui::TableViewStyle style, std::optional<std::string> title,
                                     std::string rightButtonTitle) {
  style_ = style;
  setTitle(std::move(title));
  rightButtonTitle_ = std::move(rightButtonTitle);
  std::weak_ptr<SXFormController> weak = selfAs<SXFormController>();
  navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel,
                                                                           [weak](ui::BarButtonItem&) {
                                                                             if (auto me = weak.lock()) me->cancel();
                                                                           }));
  navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
      rightButtonTitle_, ui::BarButtonItemStyle::Done, [weak](ui::BarButtonItem&) {
        if (auto me = weak.lock()) me->validateForm();
      }));
}

void SXFormController::addSection(std::vector<Ref<SXFormFieldSettings>> rows, std::optional<std::string> header,
                                  std::optional<std::string> footer) {
  sections_.push_back({std::move(rows), std::move(header), std::move(footer)});
}

Ref<Dictionary> SXFormController::formValuesForSection(std::size_t section) const {
  auto values = MutableDictionary::make();
  if (section >= sections_.size()) return values;
  for (const auto& row : sections_[section].rows) {
    if (row->value) values->setObject(box(*row->value), row->key);
  }
  return values;
}

Ref<SXFormFieldSettings> SXFormController::rowSettingsForIndexPath(const Ref<IndexPath>& indexPath) const {
  if (!indexPath || indexPath->section() >= sections_.size()) return nullptr;
  const auto& rows = sections_[indexPath->section()].rows;
  return indexPath->row() < rows.size() ? rows[indexPath->row()] : nullptr;
}

void SXFormController::validateForm() {
  // The text being typed is stored before the sharer looks at the values.
  if (activeField_) {
    if (auto fieldDelegate = activeField_->delegate().lock()) fieldDelegate->textFieldShouldReturn(*activeField_);
  }
  auto keepAlive = self();
  if (validateSelector_) validateSelector_(*this);
}

void SXFormController::saveForm() {
  auto keepAlive = self();
  if (saveSelector_) saveSelector_(*this);
  close();
}

void SXFormController::cancel() {
  auto keepAlive = self();
  close();
  if (cancelSelector_) cancelSelector_(*this);
}

void SXFormController::close() {
  finished_ = true;
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
}

void SXFormController::shareScreenTakenAway() {
  if (finished_) return;
  finished_ = true;
  auto keepAlive = self();
  if (cancelSelector_) cancelSelector_(*this);
}

void SXFormController::viewDidLoad() {
  TableViewController::viewDidLoad();
  tableView()->setSeparatorStyle(ui::TableViewCellSeparatorStyle::SingleLine);
  if (auto color = dyn<graphics::Color>(SXConfigValue("formBackgroundColor"))) tableView()->setBackgroundColor(color);
}

void SXFormController::viewDidAppear(bool animated) {
  TableViewController::viewDidAppear(animated);
  if (autoSelect_ && !sections_.empty() && !sections_[0].rows.empty()) {
    auto first = IndexPath::forRow(0, 0);
    tableView()->selectRowAtIndexPath(first, false, ui::TableViewScrollPosition::None);
  }
}

void SXFormController::viewDidDisappear(bool animated) {
  TableViewController::viewDidDisappear(animated);
  auto navigation = navigationController();
  if (!navigation || !navigation->topViewController()) SX::currentHelper()->viewWasDismissed();
}

std::size_t SXFormController::tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) {
  return section < sections_.size() ? sections_[section].rows.size() : 0;
}

Ref<ui::TableViewCell> SXFormController::tableViewCellForRowAtIndexPath(ui::TableView& table,
                                                                        const Ref<IndexPath>& indexPath) {
  auto row = rowSettingsForIndexPath(indexPath);
  if (!row) return ui::TableViewCell::make(ui::TableViewCellStyle::Default, std::nullopt);
  const char* identifier = "textCell";
  if (row->type == SXFormFieldTypeSwitch) identifier = "switchCell";
  if (row->type == SXFormFieldTypeOptionPicker) identifier = "optionsCell";
  auto cell = dyn<SXFormFieldCell>(table.dequeueReusableCellWithIdentifier(identifier));
  if (!cell) {
    if (row->type == SXFormFieldTypeSwitch) {
      cell = std::make_shared<SXFormFieldCellSwitch>();
    } else if (row->type == SXFormFieldTypeOptionPicker) {
      cell = std::make_shared<SXFormFieldCellOptionPicker>();
    } else {
      cell = std::make_shared<SXFormFieldCellText>();
    }
    cell->setDelegate(std::dynamic_pointer_cast<SXFormFieldCellDelegate>(self()));
    cell->setupLayout();
  }
  cell->setupWithSettings(row);
  return cell;
}

std::optional<std::string> SXFormController::tableViewTitleForHeaderInSection(ui::TableView&, std::size_t section) {
  return section < sections_.size() ? sections_[section].header : std::nullopt;
}

std::optional<std::string> SXFormController::tableViewTitleForFooterInSection(ui::TableView&, std::size_t section) {
  return section < sections_.size() ? sections_[section].footer : std::nullopt;
}

void SXFormController::tableViewDidSelectRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) {
  if (!dyn<SXFormFieldCellOptionPicker>(table.cellForRowAtIndexPath(indexPath))) return;
  auto picker = SXFormOptionController::initWithOptionsInfo(rowSettingsForIndexPath(indexPath),
                                                            std::dynamic_pointer_cast<SXFormOptionControllerClient>(self()));
  if (auto navigation = navigationController()) navigation->pushViewController(picker, true);
}

void SXFormController::SXFormOptionControllerDidFinish(SXFormOptionController& picker) {
  if (!sections_.empty()) {
    const auto& rows = sections_[0].rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i] == picker.settings()) {
        tableView()->reloadRowsAtIndexPaths({IndexPath::forRow(i, 0)});
        break;
      }
    }
  }
  if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

}  // namespace zv
