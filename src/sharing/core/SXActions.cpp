#include "sharing/core/SXActions.h"

#include "platform/graphics/Image.h"
#include "platform/system/Pasteboard.h"
#include "platform/ui/Application.h"
#include "platform/ui/Composers.h"
#include "platform/ui/Device.h"
#include "platform/ui/PhotoAlbum.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXMail.h"
#include "sharing/core/SXTextMessage.h"

namespace zv {

namespace {
constexpr const char* kPasteboardTypePNG = "public.png";
constexpr const char* kPasteboardTypeData = "public.data";
}  // namespace

// --- Copy ---

std::string SXCopy::sharerTitle() const { return SXLocalizedText("Copy"); }

void SXCopy::placeImageOnPasteboard() {
  if (auto png = graphics::imagePNGRepresentation(item()->image)) {
    Pasteboard::generalPasteboard()->setData(*png, kPasteboardTypePNG);
  }
}

bool SXCopy::send() {
  setQuiet(true);
  auto item = this->item();
  auto pasteboard = Pasteboard::generalPasteboard();
  bool copied = false;
  switch (item->shareType) {
    case SXShareTypeURL:
      if (item->url) pasteboard->setString(item->url->absoluteString()), copied = true;
      break;
    case SXShareTypeText:
      if (item->text) pasteboard->setString(*item->text), copied = true;
      break;
    case SXShareTypeImage:
      if (item->image) placeImageOnPasteboard(), copied = true;
      break;
    case SXShareTypeFile:
      if (item->data) {
        pasteboard->setData(*item->data, item->mimeType.value_or(kPasteboardTypeData));
        copied = true;
      }
      break;
    default:
      break;
  }
  if (!copied) {
    sendDidFailWithError(SX::error(SXLocalizedText("There was nothing to copy.")));
    return true;
  }
  SXActivityIndicator::currentIndicator()->displayCompleted(SXLocalizedText("Copied!"));
  sendDidFinish();
  return true;
}

// --- Print ---

std::string SXPrint::sharerTitle() const { return SXLocalizedText("Print"); }

bool SXPrint::canShare() const {
  return ui::PrintInteractionController::sharedPrintController() && ui::PrintInteractionController::isPrintingAvailable();
}

bool SXPrint::send() {
  setQuiet(true);
  if (!validateItem()) return false;
  return print();
}

bool SXPrint::print() {
  auto printer = ui::PrintInteractionController::sharedPrintController();
  if (!printer) return false;
  auto info = ui::PrintInfo::printInfo();
  info->setOutputType(static_cast<ui::PrintInfoOutputType>(item()->printOutputType));
  printer->setPrintInfo(info);
  printer->setShowsPageRange(false);
  printer->setPrintingItem(item()->image);
  keptUntilFinished_ = selfAs<SXPrint>();
  auto completion = [weak = std::weak_ptr<SXPrint>(keptUntilFinished_)](ui::PrintInteractionController&,
                                                                        bool completed, const Ref<Error>& error) {
    auto self = weak.lock();
    if (!self) return;
    auto kept = std::move(self->keptUntilFinished_);
    SX::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (completed) {
      self->sendDidFinish();
    } else {
      self->sendDidFailWithError(error);
    }
  };
  bool shown = false;
  auto top = SX::currentHelper()->rootViewForCustomUIDisplay();
  if (ui::Device::currentDevice()->userInterfaceIdiom() == UserInterfaceIdiom::Pad && top) {
    auto bounds = top->view()->bounds();
    ui::Rect centre(bounds.origin.x + bounds.size.width / 2, bounds.origin.y + bounds.size.height / 2, 0, 0);
    shown = printer->presentFromRectInView(centre, top->view(), true, completion);
  } else {
    shown = printer->presentAnimated(true, completion);
  }
  if (!shown) {
    keptUntilFinished_.reset();
    return false;
  }
  return true;
}

// --- Open in the browser ---

std::string SXSafari::sharerTitle() const { return SXLocalizedText("Open in Safari"); }

bool SXSafari::send() {
  setQuiet(true);
  if (!item()->url || !ui::Application::sharedApplication()->openURL(item()->url)) {
    sendDidFailWithError(SX::error(SXLocalizedText("The link could not be opened.")));
    return true;
  }
  sendDidFinish();
  return true;
}

// --- Photo album ---

std::string SXPhotoAlbum::sharerTitle() const { return SXLocalizedText("Save to Photo Album"); }

void SXPhotoAlbum::writeImageToAlbum() {
  auto self = selfAs<SXPhotoAlbum>();
  // The album answers on a later turn of the run loop, with or without an error.
  ui::saveImageToSavedPhotosAlbum(item()->image, [self](const Ref<Error>& failure) {
    if (failure) {
      self->sendDidFailWithError(failure);
      return;
    }
    SXActivityIndicator::currentIndicator()->displayCompleted(SXLocalizedText("Saved!"));
    self->sendDidFinish();
  });
}

bool SXPhotoAlbum::send() {
  setQuiet(true);
  if (item()->shareType != SXShareTypeImage || !item()->image) {
    sendDidFailWithError(SX::error(SXLocalizedText("Only pictures can be saved to the photo album.")));
    return true;
  }
  writeImageToAlbum();
  return true;
}

// --- Log out ---

std::string SXLogout::sharerTitle() const { return SXLocalizedText("Logout"); }

std::vector<std::string> SXLogout::remainingLogins() {
  std::vector<std::string> remaining;
  auto list = SX::sharersDictionary();
  auto services = list ? list->objectForKeyAs<Array>("services") : nullptr;
  if (!services) return remaining;
  for (const auto& value : services->objects()) {
    auto name = dyn<String>(value);
    // A sharer made afresh reads what is stored, not what a logged-out one remembers.
    auto sharer = name ? SXSharer::sharerNamed(name->utf8()) : nullptr;
    if (sharer && sharer->requiresAuthentication() && sharer->isAuthorized()) remaining.push_back(sharer->sharerTitle());
  }
  return remaining;
}

bool SXLogout::send() {
  setQuiet(true);
  SX::logoutOfAll();
  // The keychain may refuse to forget (a full disk): then the logins are still there to use, and
  // saying "Logged Out!" would be false.
  auto remaining = remainingLogins();
  if (!remaining.empty()) {
    std::string names;
    for (const auto& title : remaining) names += (names.empty() ? "" : ", ") + title;
    sendDidFailWithError(SX::error(SXLocalizedText("Still logged in to %@: the stored login could not be removed.", names)));
    return true;
  }
  SXActivityIndicator::currentIndicator()->displayCompleted(SXLocalizedText("Logged Out!"));
  sendDidFinish();
  return true;
}

void registerSXActionClasses() {
  SXSharer::registerSharerClass<SXMail>();
  SXSharer::registerSharerClass<SXTextMessage>();
  SXSharer::registerSharerClass<SXCopy>();
  SXSharer::registerSharerClass<SXPrint>();
  SXSharer::registerSharerClass<SXSafari>();
  SXSharer::registerSharerClass<SXPhotoAlbum>();
  SXSharer::registerSharerClass<SXLogout>();
}

}  // namespace zv
