#include "platform/ui/BarButtonItem.h"

#include "platform/foundation/Format.h"
#include "platform/ui/View.h"
#include "platform/ui/Application.h"

namespace zv::ui {

namespace {
const char* systemTitle(BarButtonSystemItem item) {
  switch (item) {
    case BarButtonSystemItem::Done:
      return "Done";
    case BarButtonSystemItem::Cancel:
      return "Cancel";
    case BarButtonSystemItem::Edit:
      return "Edit";
    case BarButtonSystemItem::Save:
      return "Save";
    case BarButtonSystemItem::Undo:
      return "Undo";
    case BarButtonSystemItem::Redo:
      return "Redo";
    default:
      return nullptr;
  }
}
}  // namespace

Ref<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->title_ = std::move(title);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

Ref<BarButtonItem> BarButtonItem::withImage(Ref<graphics::Image> image, BarButtonItemStyle style, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->image_ = std::move(image);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

Ref<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem system, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->systemItem_ = system;
  if (const char* title = systemTitle(system)) item->title_ = title;
  item->style_ = system == BarButtonSystemItem::Done ? BarButtonItemStyle::Done : BarButtonItemStyle::Bordered;
  item->action_ = std::move(action);
  return item;
}

Ref<BarButtonItem> BarButtonItem::withCustomView(Ref<View> view) {
  auto item = std::make_shared<BarButtonItem>();
  item->customView_ = std::move(view);
  return item;
}

Ref<BarButtonItem> BarButtonItem::fixedSpace(double width) {
  auto item = withSystemItem(BarButtonSystemItem::FixedSpace);
  item->width_ = width;
  return item;
}

Ref<BarButtonItem> BarButtonItem::flexibleSpace() { return withSystemItem(BarButtonSystemItem::FlexibleSpace); }

bool BarButtonItem::simulateTap() {
  if (!enabled_ || !action_ || Application::sharedApplication()->isIgnoringInteractionEvents()) return false;
  auto keep = self();
  auto action = action_;
  action(*this);
  return true;
}

std::string BarButtonItem::description() const {
  return format("<BarButtonItem %s>", title_ ? title_->c_str() : systemItem_ ? "system" : customView_ ? "custom" : "");
}

}  // namespace zv::ui
