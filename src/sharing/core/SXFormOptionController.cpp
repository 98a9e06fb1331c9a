#include "sharing/core/SXFormOptionController.h"

#include "platform/foundation/WeakReference.h"

#include <algorithm>
#include <charconv>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXText.h"

namespace zv {

namespace {

std::vector<long> parseIndexes(const std::string& text) {
  std::vector<long> indexes;
  if (text == "-1" || text.empty()) return indexes;
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    long value = -1;
    auto [end, ec] = std::from_chars(text.data() + from, text.data() + comma, value);
    if (ec == std::errc() && end == text.data() + comma) indexes.push_back(value);
    from = comma + 1;
  }
  return indexes;
}

std::string joinIndexes(const std::vector<long>& indexes) {
  if (indexes.empty()) return "-1";
  std::string text;
  for (std::size_t i = 0; i < indexes.size(); ++i) text += (i ? "," : "") + std::to_string(indexes[i]);
  return text;
}

}  // namespace

SXFormOptionController::SXFormOptionController(Ref<SXFormFieldSettings> settings,
                                               std::weak_ptr<SXFormOptionControllerClient> client)
    : TableViewController(ui::TableViewStyle::Plain), settings_(std::move(settings)), client_(std::move(client)) {
  if (!settings_->optionPickerInfo) settings_->optionPickerInfo = MutableDictionary::make();
  setTitle(settings_->optionPickerInfo->stringForKey("title"));
}

Ref<SXFormOptionController> SXFormOptionController::initWithOptionsInfo(
    Ref<SXFormFieldSettings> settings, std::weak_ptr<SXFormOptionControllerClient> client) {
  return std::make_shared<SXFormOptionController>(std::move(settings), std::move(client));
}

std::string SXFormOptionController::currentIndexes() const {
  return settings_->optionPickerInfo->stringForKey("curIndexes").value_or("-1");
}

void SXFormOptionController::setCurrentIndexes(const std::string& indexes) {
  settings_->optionPickerInfo->setObject(box(indexes), "curIndexes");
}

bool SXFormOptionController::isStatic() const {
  return boolValueOf(settings_->optionPickerInfo->objectForKey("static"));
}

bool SXFormOptionController::allowsMultiple() const {
  return boolValueOf(settings_->optionPickerInfo->objectForKey("allowMultiple"));
}

void SXFormOptionController::addDoneButton() {
  std::weak_ptr<SXFormOptionController> weak = selfAs<SXFormOptionController>();
  navigationItem()->setRightBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done, [weak](ui::BarButtonItem&) {
        if (auto me = weak.lock()) me->done();
      }));
}

void SXFormOptionController::viewDidLoad() {
  TableViewController::viewDidLoad();
  updateFromOptions();
  std::weak_ptr<SXFormOptionController> weak = selfAs<SXFormOptionController>();
  navigationItem()->setLeftBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
        if (auto me = weak.lock()) me->cancel();
      }));
  // A fixed multiple-choice list needs its own way to commit the choice.
  if (isStatic() && allowsMultiple()) addDoneButton();
}

void SXFormOptionController::updateFromOptions() {
  if (!isStatic() && !provider_ && !didLoad_) {
    SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Loading..."));
    provider_ = WeakReference::resolve(settings_->optionPickerInfo->objectForKey("SXFormOptionControllerOptionProvider"));
    if (auto provider = std::dynamic_pointer_cast<SXFormOptionControllerOptionProvider>(provider_)) {
      provider->SXFormOptionControllerEnumerateOptions(*this);
    } else {
      provider_.reset();
    }
  } else {
    SXActivityIndicator::currentIndicator()->hide();
  }
  if (isViewLoaded()) tableView()->reloadData();
}

void SXFormOptionController::optionsEnumerated(const std::vector<std::string>& options,
                                               const std::vector<std::string>& ids) {
  didLoad_ = true;
  provider_.reset();
  std::vector<ObjectPtr> items;
  for (const auto& option : options) items.push_back(box(option));
  settings_->optionPickerInfo->setObject(Array::make(std::move(items)), "itemsList");
  if (!ids.empty() && ids.size() == options.size()) {
    std::vector<ObjectPtr> idItems;
    for (const auto& id : ids) idItems.push_back(box(id));
    settings_->optionPickerInfo->setObject(Array::make(std::move(idItems)), "itemsIds");
  } else {
    settings_->optionPickerInfo->removeObjectForKey("itemsIds");
  }
  auto chosen = parseIndexes(currentIndexes());
  if (currentIndexes() != "-1" &&
      std::any_of(chosen.begin(), chosen.end(), [&](long i) { return i < 0 || i >= static_cast<long>(options.size()); })) {
    setCurrentIndexes("-1");
  }
  updateFromOptions();
  if (allowsMultiple()) addDoneButton();
}

void SXFormOptionController::optionsEnumerationFailedWithError(const Ref<Error>&) {
  provider_.reset();
  auto message = SXLocalizedText("Could not find any") + " " + title().value_or("");
  auto alert = ui::AlertView::make(SXLocalizedText("No Options"), message,
                                   std::dynamic_pointer_cast<ui::AlertViewDelegate>(self()),
                                   SXLocalizedText("Cancel"));
  alert->show();
}

void SXFormOptionController::alertViewClickedButtonAtIndex(ui::AlertView&, long) { cancel(); }

std::size_t SXFormOptionController::tableViewNumberOfRowsInSection(ui::TableView&, std::size_t) {
  auto options = settings_->optionPickerInfo->objectForKeyAs<Array>("itemsList");
  return options ? options->count() : 0;
}

Ref<ui::TableViewCell> SXFormOptionController::tableViewCellForRowAtIndexPath(ui::TableView& table,
                                                                              const Ref<IndexPath>& indexPath) {
  auto cell = table.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "Cell");
  auto options = settings_->optionPickerInfo->objectForKeyAs<Array>("itemsList");
  const long row = static_cast<long>(indexPath->row());
  cell->textLabel()->setText(options && indexPath->row() < options->count()
                                 ? stringValueOf(options->objectAtIndex(indexPath->row()))
                                 : std::nullopt);
  auto chosen = parseIndexes(currentIndexes());
  cell->setAccessoryType(std::find(chosen.begin(), chosen.end(), row) != chosen.end()
                             ? ui::TableViewCellAccessoryType::Checkmark
                             : ui::TableViewCellAccessoryType::None);
  return cell;
}

void SXFormOptionController::tableViewDidSelectRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) {
  const long row = static_cast<long>(indexPath->row());
  if (!allowsMultiple()) {
    setCurrentIndexes(std::to_string(row));
    done();
    return;
  }
  auto chosen = parseIndexes(currentIndexes());
  if (auto found = std::find(chosen.begin(), chosen.end(), row); found != chosen.end()) {
    chosen.erase(found);
  } else {
    chosen.push_back(row);
  }
  setCurrentIndexes(joinIndexes(chosen));
  table.reloadRowsAtIndexPaths({indexPath});
}

void SXFormOptionController::done() {
  auto value = settings_->optionPickerValueForIndexes(currentIndexes());
  settings_->value = value == "-1" ? std::nullopt : std::optional<std::string>(value);
  settings_->valueText = std::nullopt;
  // Options with ids: the value names them by id, the cell still shows their texts.
  if (auto ids = settings_->optionPickerIdsForIndexes(currentIndexes())) {
    settings_->valueText = settings_->value;
    settings_->value = *ids == "-1" ? std::nullopt : ids;
  }
  auto keepAlive = self();
  if (auto client = client_.lock()) client->SXFormOptionControllerDidFinish(*this);
}

void SXFormOptionController::cancel() {
  SXActivityIndicator::currentIndicator()->hide();
  if (auto provider = std::dynamic_pointer_cast<SXFormOptionControllerOptionProvider>(provider_)) {
    provider->SXFormOptionControllerCancelEnumerateOptions(*this);
  }
  provider_.reset();
  auto keepAlive = self();
  if (auto client = client_.lock()) client->SXFormOptionControllerDidFinish(*this);
}

}  // namespace zv
